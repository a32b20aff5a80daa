// Layout of a D88 disk-image file.
//
// A file holds one or more images back to back. Each image starts with a
// 688-byte header:
//   0x00  16 bytes   disk name, NUL-terminated when shorter than 16 bytes
//   0x10  11 bytes   other header bytes (not read)
//   0x1B   1 byte    media byte
//   0x1C   4 bytes   disk size: the image's length from its first header byte
//   0x20 164 x 4     track table: offset of each track's first record,
//                    relative to the image start; 0 = track absent
// Track index t = 2 * cylinder + head selects the track-table entry.
//
// A track is a run of sector records, each a 16-byte header and its data:
//    0  C   1  H   2  R   3  N (nominal size 128 << N)
//    4  2 bytes  number of records in this track
//    6  8 bytes  other sector header bytes (not read)
//   14  2 bytes  data size: the number of data bytes after this header
// Every integer is little-endian.
#pragma once

#include <cstdint>

namespace d88 {

inline constexpr std::int32_t kDiskNameSize = 16;
inline constexpr std::int32_t kMediaOffset = 0x1B;
inline constexpr std::int32_t kDiskSizeOffset = 0x1C;
inline constexpr std::int32_t kTrackTableOffset = 0x20;
inline constexpr std::int32_t kTrackSlots = 164;
inline constexpr std::int32_t kHeaderSize = kTrackTableOffset + kTrackSlots * 4;
static_assert(kHeaderSize == 0x2B0);

inline constexpr std::int32_t kMaxImages = 64;

inline constexpr std::int32_t kSectorCountOffset = 4;
inline constexpr std::int32_t kSectorDataSizeOffset = 14;
inline constexpr std::int32_t kSectorHeaderSize = kSectorDataSizeOffset + 2;
static_assert(kSectorHeaderSize == 16);

inline constexpr std::int32_t kMedia2DD = 0x10;
inline constexpr std::int32_t kMedia2HD = 0x20;

// Largest size code whose nominal size 128 << N is a positive 32-bit value.
inline constexpr std::int32_t kMaxSizeCode = 23;

}  // namespace d88
