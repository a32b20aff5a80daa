// D88Reader: finds the images of a D88 file, loads the header of one, and
// finds and copies its sectors by C/H/R/N.
//
// Calling order: open(path), selectImage(index), then the sector operations;
// open(nullptr) ends the use. open does not reset the selected image's fields,
// so select an image after every successful open before reading sectors.
// The reader prints nothing: every failure shows only in a result.
#pragma once

#include <cstdint>

#include "d88/d88_format.h"
#include "d88/image_file.h"

namespace d88 {

class D88Reader {
 public:
  D88Reader() = default;
  D88Reader(const D88Reader&) = delete;
  D88Reader& operator=(const D88Reader&) = delete;
  ~D88Reader() = default;  // closes the file through `file`

  // With a path: opens the file (closing one still open) and records the
  // offsets of the complete image headers chained from offset 0, at most
  // kMaxImages. Returns true once the file is open, also when it holds no
  // image; false, keeping the image list, when it cannot be opened.
  // With nullptr: closes the file, sets the image count to 0 and the media
  // to -1, and returns true.
  bool open(const char* path);

  // Loads the header of image `index` (from 0). Returns false and changes
  // nothing when no file is open; false with the selection reset (media -1,
  // base -1, disk size 0, empty name) for an index outside the images found
  // or a header that can no longer be read in full.
  bool selectImage(std::int32_t index);

  std::int32_t getImageCount() const { return imageCount; }
  std::int32_t getMediaType() const { return mediaType; }
  const char* getDiskName() const { return diskName; }
  std::int32_t getCachedTrack() const { return cachedTrack; }

  // Where a sector run wraps: after sector `last` it continues with sector
  // `first` of the next track. No checks.
  void setSectorRange(std::int32_t first, std::int32_t last) {
    firstSector = first;
    lastSector = last;
  }

  // Copies the data of the first record of `track` whose C/H/R/N equal
  // c, h, r, n. Returns min(data size, maxBytes), also when the file ends
  // inside the data (the bytes present are copied, the rest of dest is left
  // as it was); 0 when the track is unusable or no such record is found
  // before the track's last record or a record count of 0.
  std::int32_t readSector(std::int32_t track, std::int32_t c, std::int32_t h,
                          std::int32_t r, std::int32_t n, unsigned char* dest,
                          std::int32_t maxBytes);

  // Reads totalBytes from consecutive sectors in steps of 128 << n, from
  // sector r on, continuing with sector firstSector of the next track after
  // sector lastSector. Returns the bytes of the whole steps read: less than
  // totalBytes when a sector is missing or short; 0 for an n outside 0..23.
  std::int32_t readSectors(std::int32_t track, std::int32_t c, std::int32_t h,
                           std::int32_t r, std::int32_t n, unsigned char* dest,
                           std::int32_t totalBytes);

  // Writes the C, H, R, N bytes of the track's records in stored order, 4
  // bytes each while a whole entry fits in maxBytes. Returns the bytes
  // written.
  std::int32_t readSectorIds(std::int32_t track, unsigned char* dest,
                             std::int32_t maxBytes);

 private:
  // Seeks to the first record of `track`; false when no file is open, the
  // track is outside the table, its entry is 0 or past the disk size, or its
  // position is not a valid file offset.
  bool seekTrack(std::int32_t track);

  ImageFile file;
  // Track whose records are held in a cache; the reader keeps none, so this
  // stays -1.
  std::int32_t cachedTrack = -1;
  std::int32_t imageCount = 0;
  std::int32_t firstSector = 1;
  std::int32_t lastSector = 16;
  std::int32_t imageOffsets[kMaxImages] = {};
  std::int32_t diskSize = 0;
  std::int32_t imageBase = 0;
  std::int32_t trackOffsets[kTrackSlots] = {};
  std::int32_t mediaType = -1;
  char diskName[kDiskNameSize + 1] = {};
};

}  // namespace d88
