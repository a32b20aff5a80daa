// Read-only access to an image file through a fixed window of its bytes.
//
// The reader walks every track from its first record on each lookup, so it
// seeks back and forth over the same few kilobytes thousands of times. Here a
// seek only moves a position; the file is read, a window at a time, when a
// read falls outside the bytes already held. A walk over records that are
// already in the window costs no system call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace d88 {

class ImageFile {
 public:
  static constexpr std::int32_t kWindowSize = 64 * 1024;

  ImageFile() = default;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;
  ~ImageFile() { close(); }

  // Opens path for binary reading, closing any file open before.
  // Returns false, with no file open, when it cannot be opened.
  bool open(const char* path);
  void close();
  bool isOpen() const { return stream != nullptr; }

  // Moves to an offset from the start of the file, or by a distance from the
  // current position. Any position is allowed; reads at a negative one or
  // past the end deliver nothing.
  void seek(std::int64_t offset) { pos = offset; }
  void skip(std::int64_t distance) { pos += distance; }
  std::int64_t position() const { return pos; }

  // Copies up to count bytes from the current position into dest and moves
  // past them. Returns the number copied: fewer than count only at the end of
  // the file (or on a read error); 0 for a count of 0 or less.
  std::int32_t read(unsigned char* dest, std::int32_t count) {
    if (count > 0 && pos >= windowStart &&
        pos - windowStart <= windowLength - count) {
      std::memcpy(dest, window + (pos - windowStart),
                  static_cast<std::size_t>(count));
      pos += count;
      return count;
    }
    return readSlow(dest, count);
  }

 private:
  std::int32_t readSlow(unsigned char* dest, std::int32_t count);
  // Loads the window that starts at the current position; false when the
  // file has no byte there.
  bool fill();

  std::FILE* stream = nullptr;
  std::int64_t pos = 0;
  std::int64_t windowStart = 0;
  std::int32_t windowLength = 0;
  // Offset at which a fill came back short, or -1 while unknown: nothing is
  // read again from there on.
  std::int64_t fileEnd = -1;
  unsigned char window[kWindowSize] = {};
};

}  // namespace d88
