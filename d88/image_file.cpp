#include "d88/image_file.h"

#include <sys/types.h>

namespace d88 {

bool ImageFile::open(const char* path) {
  close();
  stream = std::fopen(path, "rb");
  if (stream == nullptr) return false;
  // The window is the only buffer: stdio reads straight into it.
  std::setvbuf(stream, nullptr, _IONBF, 0);
  return true;
}

void ImageFile::close() {
  if (stream != nullptr) std::fclose(stream);
  stream = nullptr;
  pos = 0;
  windowStart = 0;
  windowLength = 0;
  fileEnd = -1;
}

bool ImageFile::fill() {
  if (stream == nullptr || pos < 0) return false;
  if (fileEnd >= 0 && pos >= fileEnd) return false;
  windowStart = pos;
  windowLength = 0;
  if (fseeko(stream, static_cast<off_t>(pos), SEEK_SET) != 0) return false;
  const std::size_t got = std::fread(window, 1, kWindowSize, stream);
  windowLength = static_cast<std::int32_t>(got);
  if (got < static_cast<std::size_t>(kWindowSize)) {
    std::clearerr(stream);
    fileEnd = windowStart + windowLength;
  }
  return windowLength > 0;
}

std::int32_t ImageFile::readSlow(unsigned char* dest, std::int32_t count) {
  std::int32_t done = 0;
  while (done < count) {
    const bool inWindow = pos >= windowStart &&
                          pos < windowStart + windowLength;
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
