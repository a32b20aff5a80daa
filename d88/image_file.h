// Read-only access to an image file through a fixed window of its bytes.
//
// The reader walks every track from its first record on each lookup, so it
// seeks back and forth over the same few kilobytes thousands of times. Here a
// seek only moves a position; the file is read, a window at a time, when a
// read falls outside the bytes already held. A walk over records that are
// already in the window costs no system call, and a walk that runs on past
// the window's end reads on from where the file stands, without a seek.
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
  // Returns false, with no file open, when it cannot be opened. The file's
  // length is taken here: bytes appended later are not read until refresh().
  bool open(const char* path);
  void close();
  bool isOpen() const { return stream != nullptr; }

  // Drops the bytes held and takes the file's length again, so that the next
  // read sees the file as it is now. Keeps the position.
  void refresh();

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
  // Loads a window that holds the current position; false when the file has
  // no byte there, the window then keeping what it held.
  bool fill();

  std::FILE* stream = nullptr;
  // The file's length; nothing at or past it is asked of the file.
  std::int64_t fileSize = 0;
  // Where the stream stands, or -1 when unknown: a fill from there needs no
  // seek.
  std::int64_t streamPos = -1;
  std::int64_t pos = 0;
  // The window holds the file's bytes windowStart to windowStart +
  // windowLength - 1.
  std::int64_t windowStart = 0;
  std::int32_t windowLength = 0;
  unsigned char window[kWindowSize] = {};
};

}  // namespace d88
