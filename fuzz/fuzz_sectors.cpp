// The reader's operations with fuzzed arguments on a fuzzed image. The input
// starts with the arguments, the rest is the image file:
//    0  1 byte   image index for selectImage (signed)
//    1  2 bytes  first sector of the run range (signed, little-endian)
//    3  2 bytes  last sector of the run range
//    5  3 x 13   operations, each
//                  0  kind   1  track (2)   3  C (2)   5  H (2)   7  R (2)
//                  9  N (1)  10  byte count (3, signed, at most 1 MiB)
// Destinations are allocated to exactly the byte count passed, so a write
// past it is a sanitizer report; each result is checked against its bounds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "d88/d88_format.h"
#include "d88/d88_reader.h"
#include "fuzz/fuzz_workdir.h"

namespace {

constexpr std::size_t kOperations = 3;
constexpr std::size_t kOperationSize = 13;
constexpr std::size_t kArgumentSize = 5 + kOperations * kOperationSize;
constexpr std::int32_t kMaxDest = 1 << 20;

std::int32_t signed8(const std::uint8_t* p) {
  return static_cast<std::int8_t>(p[0]);
}

std::int32_t signed16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(
      static_cast<std::uint16_t>(p[0] | static_cast<unsigned>(p[1]) << 8));
}

std::int32_t signed24(const std::uint8_t* p) {
  const std::uint32_t raw = p[0] | static_cast<std::uint32_t>(p[1]) << 8 |
                            static_cast<std::uint32_t>(p[2]) << 16;
  // Sign-extends bit 23.
  return static_cast<std::int32_t>(raw ^ 0x800000u) - 0x800000;
}

void check(bool ok, const char* what, std::int32_t result, std::int32_t size) {
  if (ok) return;
  std::fprintf(stderr, "%s returned %d for a byte count of %d\n", what,
               static_cast<int>(result), static_cast<int>(size));
  std::abort();
}

void checkSelection(const d88::D88Reader& reader) {
  const std::int32_t count = reader.getImageCount();
  const std::int32_t media = reader.getMediaType();
  check(count >= 0 && count <= d88::kMaxImages, "getImageCount", count, 0);
  check(media >= -1 && media <= 255, "getMediaType", media, 0);
  // Reads the name through the sanitizer: it must be terminated in bounds.
  const std::size_t nameLength = std::strlen(reader.getDiskName());
  check(nameLength <= static_cast<std::size_t>(d88::kDiskNameSize),
        "getDiskName", static_cast<std::int32_t>(nameLength), 0);
}

struct Operation {
  std::int32_t kind, track, c, h, r, n, size;
};

Operation decode(const std::uint8_t* p) {
  std::int32_t size = signed24(p + 10);
  if (size > kMaxDest) size %= kMaxDest + 1;
  return {p[0] % 6,
          signed16(p + 1),
          signed16(p + 3),
          signed16(p + 5),
          signed16(p + 7),
          signed8(p + 9),
          size};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzzing::quietTargetOutput(argc, argv);
  fuzzing::createWorkDir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size < kArgumentSize) return -1;  // not added to the corpus
  const std::uint8_t* image = data + kArgumentSize;
  const std::size_t imageSize = size - kArgumentSize;
  fuzzing::enterWorkDir();
  fuzzing::writeImage(image, imageSize);
  {
    d88::D88Reader reader;
    bool open = reader.open(fuzzing::kImageName);
    if (!open) std::abort();  // the file was just written
    reader.selectImage(signed8(data));
    checkSelection(reader);
    reader.setSectorRange(signed16(data + 1), signed16(data + 3));

    for (std::size_t k = 0; k < kOperations; ++k) {
      const Operation op = decode(data + 5 + k * kOperationSize);
      const std::int32_t room = op.size > 0 ? op.size : 0;
      const std::unique_ptr<unsigned char[]> dest(
          new unsigned char[static_cast<std::size_t>(room)]);
      std::int32_t got = 0;
      switch (op.kind) {
        case 0:
          got = reader.readSector(op.track, op.c, op.h, op.r, op.n, dest.get(),
                                  op.size);
          check(got >= 0 && got <= room, "readSector", got, op.size);
          break;
        case 1:
          got = reader.readSectors(op.track, op.c, op.h, op.r, op.n, dest.get(),
                                   op.size);
          check(got >= 0 && got <= room, "readSectors", got, op.size);
          break;
        case 2:
          got = reader.readSectorIds(op.track, dest.get(), op.size);
          check(got >= 0 && got <= room && got % 4 == 0, "readSectorIds", got,
                op.size);
          break;
        case 3:
          reader.setSectorRange(op.c, op.r);
          break;
        case 4:
          reader.open(nullptr);
          open = false;
          check(reader.getImageCount() == 0 && reader.getMediaType() == -1,
                "open(nullptr)", reader.getImageCount(), 0);
          check(!reader.selectImage(0), "selectImage after close", 1, 0);
          break;
        default:
          open = reader.open(fuzzing::kImageName);
          if (!open) std::abort();
          reader.selectImage(op.c);
          break;
      }
      // With no file open every sector operation finds nothing.
      check(open || got == 0, "a closed reader", got, op.size);
      checkSelection(reader);
    }
  }
  fuzzing::checkAndClean(image, imageSize);
  fuzzing::leaveWorkDir();
  return 0;
}
