// Disk assembly and file extraction for the supported PC-98 layout.
//
// The disk is read as one linear image of 1024-byte blocks: sectors 1 to 5
// of tracks 0 to 153, block b being sector (b mod 5) + 1 of track b div 5.
// Track 0 is never read, so blocks 0 to 4 are zeros. The directory fills
// track 1: 320 entries of 16 bytes,
//    0  6 bytes  name, padded with spaces; a first byte of 0xFF ends the list
//    6  6 bytes  not read
//   12  2 bytes  start block, little-endian
//   14  2 bytes  end block, inclusive, little-endian
#pragma once

#include <cstdint>

#include "d88/d88_reader.h"

namespace extract {

inline constexpr std::int32_t kTrackCount = 154;
inline constexpr std::int32_t kSectorsPerTrack = 5;
inline constexpr std::int32_t kBlockSize = 1024;
inline constexpr std::int32_t kTrackBytes = kSectorsPerTrack * kBlockSize;
inline constexpr std::int32_t kDiskBytes = kTrackCount * kTrackBytes;
inline constexpr std::int32_t kBlockCount = kTrackCount * kSectorsPerTrack;
static_assert(kDiskBytes == 788480);
static_assert(kBlockCount == 770);

inline constexpr std::int32_t kSizeCode = 3;  // 128 << 3 = kBlockSize
static_assert((128 << kSizeCode) == kBlockSize);

inline constexpr std::int32_t kDirectoryTrack = 1;
inline constexpr std::int32_t kDirectoryEntries = 320;
inline constexpr std::int32_t kEntrySize = 16;
inline constexpr std::int32_t kNameLength = 6;
inline constexpr std::int32_t kStartBlockOffset = 12;
inline constexpr std::int32_t kEndBlockOffset = 14;
inline constexpr unsigned char kEndMark = 0xFF;
static_assert(kDirectoryEntries * kEntrySize == kTrackBytes);

// The linear disk image and a second copy of the directory track. Zero at
// program start; assembleDisk fills them.
extern unsigned char diskBuffer[kDiskBytes];
extern unsigned char directoryBuffer[kTrackBytes];

// Reads sectors 1 to 5 (N = 3) of tracks 1 to 153 of the selected image into
// diskBuffer, and track 1 again into directoryBuffer. Expects the sector
// range 1..5. A missing or short sector leaves its slot, from its own data
// on, and the later slots of its track as they were.
void assembleDisk(d88::D88Reader& reader);

// Why a file was not written, for the line that reports it.
struct SaveFailure {
  const char* reason = nullptr;  // "cannot create", "is a symbolic link, ..."
  int error = 0;                 // errno of the call that failed, 0 if none
};

// A file by device and inode.
struct FileIdentity {
  bool known = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

// Creates or truncates the regular file `path` and writes size bytes from
// data. Refuses, with nothing created or changed, a symbolic link (whatever
// it points to), anything but a regular file, and the file `protect`, which
// extraction sets to the input image. Returns false with `failure` filled
// when it refuses or when creating, writing or closing fails; a write that
// fails part-way removes the file rather than leave a cut-off copy.
bool saveFile(const char* path, const unsigned char* data, std::int32_t size,
              const FileIdentity& protect, SaveFailure& failure);

// Reads skip + length bytes of a sector run into the start of diskBuffer
// and writes the length bytes after the first skip to `path`. Returns false
// and writes nothing unless the run yields all skip + length bytes; a sector
// that the image file cuts off reads as zeros past its end.
bool saveSectorRun(d88::D88Reader& reader, const char* path, std::int32_t track,
                   std::int32_t c, std::int32_t h, std::int32_t r,
                   std::int32_t n, std::int32_t skip, std::int32_t length,
                   SaveFailure& failure);

// Assembles the disk, then for every directory entry up to the end mark
// prints its listing line on standard output and writes its file to the
// current directory. An entry that is not written gets one line on standard
// error and the walk goes on. imagePath is the image being read, which is
// never overwritten. Returns true when every entry's file was written.
bool extractFiles(d88::D88Reader& reader, const char* imagePath);

}  // namespace extract
