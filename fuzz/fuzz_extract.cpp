// The whole run on arbitrary bytes as the image file: open, select image 0,
// the media check, disk assembly and the directory walk, which writes the
// entries' files into the working directory. After each input the image must
// be unchanged and nothing may have been written outside that directory.
#include <cstddef>
#include <cstdint>

#include "d88/d88_format.h"
#include "d88/d88_reader.h"
#include "extract/extract.h"
#include "fuzz/fuzz_workdir.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  fuzzing::quietTargetOutput(argc, argv);
  fuzzing::createWorkDir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fuzzing::enterWorkDir();
  fuzzing::writeImage(data, size);
  {
    // A fresh reader per input, as the tool has one per run; leaving the
    // block closes the image before it is checked.
    d88::D88Reader reader;
    if (reader.open(fuzzing::kImageName)) {
      reader.selectImage(0);
      const std::int32_t media = reader.getMediaType();
      if (media == d88::kMedia2HD || media == d88::kMedia2DD) {
        reader.setSectorRange(1, extract::kSectorsPerTrack);
        extract::extractFiles(reader, fuzzing::kImageName);
      }
    }
  }
  fuzzing::checkAndClean(data, size);
  fuzzing::leaveWorkDir();
  return 0;
}
