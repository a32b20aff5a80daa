#include "d88/d88_reader.h"

#include <cstring>

#include "d88/little_endian.h"

namespace d88 {

namespace {

constexpr std::int64_t kMaxOffset = INT32_MAX;

bool isFileOffset(std::int64_t offset) {
  return offset >= 0 && offset <= kMaxOffset;
}

}  // namespace

bool D88Reader::open(const char* path) {
  if (path == nullptr) {
    file.close();
    cachedTrack = -1;
    imageCount = 0;
    mediaType = -1;
    return true;
  }
  if (!file.open(path)) return false;

  std::int32_t pos = 0;
  imageCount = 0;
  while (imageCount < kMaxImages) {
    imageOffsets[imageCount] = pos;
    file.seek(pos);
    unsigned char header[kHeaderSize];
    if (file.read(header, kHeaderSize) < kHeaderSize) break;
    ++imageCount;
    // A disk size of 0x80000000 or more, or a chain that passes 2^31 - 1,
    // gives no valid offset for a next image: the chain ends here.
    const std::int64_t next =
        static_cast<std::int64_t>(pos) + decodeLe32(header + kDiskSizeOffset);
    if (!isFileOffset(next)) break;
    pos = static_cast<std::int32_t>(next);
  }
  return true;
}

bool D88Reader::selectImage(std::int32_t index) {
  if (!file.isOpen()) return false;

  cachedTrack = -1;
  imageBase = -1;
  mediaType = -1;
  diskSize = 0;
  diskName[0] = '\0';
  if (index < 0 || index >= imageCount) return false;

  // The header was complete when the file was scanned. Read it from the file
  // as it is now, not from bytes held since: if the file has been cut since,
  // the selection stays reset.
  unsigned char header[kHeaderSize];
  file.refresh();
  file.seek(imageOffsets[index]);
  if (file.read(header, kHeaderSize) < kHeaderSize) return false;

  imageBase = imageOffsets[index];
  for (std::int32_t i = 0; i < kTrackSlots; ++i) {
    trackOffsets[i] = decodeLe32(header + kTrackTableOffset + 4 * i);
  }
  mediaType = header[kMediaOffset];
  diskSize = decodeLe32(header + kDiskSizeOffset);
  // The name's bytes up to the first NUL, the rest of the 16 NUL; the 17th
  // byte is never written and keeps the name terminated.
  std::int32_t i = 0;
  for (; i < kDiskNameSize && header[i] != 0; ++i) {
    diskName[i] = static_cast<char>(header[i]);
  }
  for (; i < kDiskNameSize; ++i) diskName[i] = '\0';
  return true;
}

bool D88Reader::seekTrack(std::int32_t track) {
  if (!file.isOpen()) return false;
  if (track < 0 || track >= kTrackSlots) return false;
  const std::int32_t offset = trackOffsets[track];
  if (offset == 0 || offset > diskSize) return false;
  // An entry of 0x80000000 or more passes the test above as a negative
  // number: it points at no byte of the image, and nothing is read for it.
  if (offset < 0) return false;
  const std::int64_t position = static_cast<std::int64_t>(imageBase) + offset;
  if (!isFileOffset(position)) return false;
  file.seek(position);
  return true;
}

std::int32_t D88Reader::readSector(std::int32_t track, std::int32_t c,
                                   std::int32_t h, std::int32_t r,
                                   std::int32_t n, unsigned char* dest,
                                   std::int32_t maxBytes) {
  if (!seekTrack(track)) return 0;
  // Records whose counts disagree can carry the walk past the track's end,
  // so the index is 64-bit: it is bounded only by the file's length.
  for (std::int64_t i = 0;; ++i) {
    unsigned char header[kSectorHeaderSize];
    if (file.read(header, kSectorHeaderSize) < kSectorHeaderSize) return 0;
    const std::int32_t count = decodeLe16(header + kSectorCountOffset);
    const std::int32_t size = decodeLe16(header + kSectorDataSizeOffset);
    if (count == 0) return 0;
    if (header[0] == c && header[1] == h && header[2] == r && header[3] == n) {
      std::int32_t length = size < maxBytes ? size : maxBytes;
      if (length < 0) length = 0;
      // The capped length is the result even when the file ends inside the
      // data: the sector counts as present.
      file.read(dest, length);
      return length;
    }
    file.skip(size);
    if (i == count - 1) return 0;
  }
}

std::int32_t D88Reader::readSectors(std::int32_t track, std::int32_t c,
                                    std::int32_t h, std::int32_t r,
                                    std::int32_t n, unsigned char* dest,
                                    std::int32_t totalBytes) {
  if (n < 0 || n > kMaxSizeCode) return 0;
  std::int32_t done = 0;
  std::int32_t step = 128 << n;
  while (done < totalBytes) {
    if (step > totalBytes - done) step = totalBytes - done;
    if (readSector(track, c, h, r, n, dest + done, step) < step) return done;
    done += step;
    // A sector was found, so track, c and r are a track index and sector
    // bytes: none of the increments below can overflow.
    if (r == lastSector) {
      ++track;
      if (h == 0) {
        h = 1;
      } else {
        h = 0;
        ++c;
      }
      r = firstSector;
    } else {
      ++r;
    }
  }
  return done;
}

std::int32_t D88Reader::readSectorIds(std::int32_t track, unsigned char* dest,
                                      std::int32_t maxBytes) {
  if (!seekTrack(track)) return 0;
  std::int32_t total = 0;
  // No stop at a count of 0: count - 1 is then -1, which no index equals.
  for (std::int64_t i = 0; 4 * i + 4 <= maxBytes; ++i) {
    unsigned char header[kSectorHeaderSize];
    if (file.read(header, kSectorHeaderSize) < kSectorHeaderSize) break;
    std::memcpy(dest + total, header, 4);
    total += 4;
    file.skip(decodeLe16(header + kSectorDataSizeOffset));
    if (i == decodeLe16(header + kSectorCountOffset) - 1) break;
  }
  return total;
}

}  // namespace d88
