#include "d88/image_file.h"

#include <sys/stat.h>

namespace d88 {

namespace {

// What a window that slides on keeps of its end: more than a track of the
// usual formats (26 x 272, 8 x 1040 or 18 x 528 bytes), so that the seek back
// to the first record of the track being walked stays inside.
constexpr std::int32_t kKeep = 16 * 1024;
static_assert(kKeep < ImageFile::kWindowSize / 2);

}  // namespace

bool ImageFile::open(const char* path) {
  close();
  stream = std::fopen(path, "rb");
  if (stream == nullptr) return false;
  // The window is the only buffer: stdio reads straight into it.
  std::setvbuf(stream, nullptr, _IONBF, 0);
  refresh();
  // A stream just opened stands at the start.
  streamPos = 0;
  return true;
}

void ImageFile::close() {
  if (stream != nullptr) std::fclose(stream);
  stream = nullptr;
  fileSize = 0;
  streamPos = -1;
  pos = 0;
  windowStart = 0;
  windowLength = 0;
}

void ImageFile::refresh() {
  windowStart = 0;
  windowLength = 0;
  fileSize = 0;
  // Unknown until the next fill seeks: the stream may stand anywhere.
  streamPos = -1;
  // Known once, the length answers every read past the end without asking
  // the file, and no fill asks for more bytes than there are. Only a regular
  // file has one; anything else delivers nothing.
  struct stat info {};
  if (stream == nullptr || fstat(fileno(stream), &info) != 0 ||
      !S_ISREG(info.st_mode)) {
    return;
  }
  fileSize = info.st_size;
}

bool ImageFile::fill() {
  if (stream == nullptr || pos < 0 || pos >= fileSize) return false;
  // A read just past a full window is a walk running on: the window slides
  // forward, keeping its last kKeep bytes for the seek back to the walk's
  // first record, and the stream reads on from where it stands. Any other
  // miss loads the window from the position on.
  const std::int64_t end = windowStart + windowLength;
  std::int32_t kept = 0;
  if (windowLength == kWindowSize && streamPos == end && pos >= end &&
      pos - end < kWindowSize - kKeep) {
    std::memmove(window, window + (kWindowSize - kKeep), kKeep);
    kept = kKeep;
  }
  const std::int64_t from = kept > 0 ? end : pos;
  if (from != streamPos) {
    streamPos = -1;
    if (fseeko(stream, static_cast<off_t>(from), SEEK_SET) != 0) return false;
  }
  const std::int64_t room = kWindowSize - kept;
  const std::int64_t left = fileSize - from;
  const auto wanted = static_cast<std::size_t>(left < room ? left : room);
  const std::size_t got = std::fread(window + kept, 1, wanted, stream);
  windowStart = from - kept;
  windowLength = kept + static_cast<std::int32_t>(got);
  streamPos = from + static_cast<std::int64_t>(got);
  if (got < wanted) {
    // A read error, or a file cut short since its length was taken: it ends
    // here from now on.
    std::clearerr(stream);
    streamPos = -1;
    fileSize = windowStart + windowLength;
  }
  return pos < windowStart + windowLength;
}

std::int32_t ImageFile::readSlow(unsigned char* dest, std::int32_t count) {
  std::int32_t done = 0;
  while (done < count) {
    const bool inWindow =
        pos >= windowStart && pos < windowStart + windowLength;
    if (!inWindow && !fill()) break;
    const std::int64_t available = windowStart + windowLength - pos;
    const std::int32_t wanted = count - done;
    const std::int32_t take =
        available < wanted ? static_cast<std::int32_t>(available) : wanted;
    std::memcpy(dest + done, window + (pos - windowStart),
                static_cast<std::size_t>(take));
    pos += take;
    done += take;
  }
  return done;
}

}  // namespace d88
