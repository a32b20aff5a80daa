#include "app/driver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "d88/d88_reader.h"
#include "extract/extract.h"

namespace {

// The console messages are Shift_JIS bytes.
// "ファイルをオープンできません."
// The file cannot be opened.
constexpr char kOpenFailed[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93"
    "\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n";
// "2DD/2HD版(PC98)を認識しました."
// Recognised the 2DD/2HD edition (PC98).
constexpr char kRecognised[] =
    "2DD/2HD\x94\xC5(PC98)\x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5"
    "\x82\xBD.\n";
// "未対応のディスクイメージ形式です."
// This disk image format is not supported.
constexpr char kUnsupported[] =
    "\x96\xA2\x91\xCE\x89\x9E\x82\xCC\x83\x66\x83\x42\x83\x58\x83\x4E\x83\x43"
    "\x83\x81\x81\x5B\x83\x57\x8C\x60\x8E\xAE\x82\xC5\x82\xB7.\n";

// The one reader of the run; its destruction at exit closes the image file.
d88::D88Reader reader;

}  // namespace

int runDriver(int argc, char** argv) {
  // The path, and up to two more arguments that are ignored.
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "Usage: %s [d88file]\n",
                 argc > 0 && argv[0] != nullptr ? argv[0] : "d88unpack");
    return 1;
  }
  const char* imagePath = argv[1];
  if (!reader.open(imagePath)) {
    std::fputs(kOpenFailed, stderr);
    return 1;
  }
  // A failed selection leaves the media at -1, which is refused below.
  reader.selectImage(0);
  const int media = reader.getMediaType();
  if (media != d88::kMedia2HD && media != d88::kMedia2DD) {
    std::fputs(kUnsupported, stderr);
    return 1;
  }
  std::fputs(kRecognised, stdout);
  // Out before any file is created.
  std::fflush(stdout);
  reader.setSectorRange(1, extract::kSectorsPerTrack);
  const bool allWritten = extract::extractFiles(reader, imagePath);
  // A listing that could not be written in full is no success either.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "d88unpack: cannot write the listing: %s\n",
                 std::strerror(errno));
    return 1;
  }
  return allWritten ? 0 : 1;
}
