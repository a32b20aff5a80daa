// D88Reader on images built by the test-side builder: the scan of the image
// chain, selection, and finding, copying and listing sectors.
#include "d88/d88_reader.h"

#include <gtest/gtest.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "testing/d88_builder.h"
#include "testing/tool_runner.h"

namespace d88 {
namespace {

using d88test::Bytes;
using d88test::Image;
using d88test::Layout;

constexpr unsigned char kUntouched = 0xEE;

// A bare image header: no tracks.
Bytes header(const std::string& name, std::optional<std::uint32_t> diskSize) {
  Image image;
  image.name = name;
  image.diskSize = diskSize;
  return d88test::build(image);
}

Bytes data(int track, int r, std::size_t size) {
  return d88test::pattern(size, static_cast<std::uint32_t>(track * 1000 + r));
}

Bytes prefix(const Bytes& bytes, std::size_t length) {
  return Bytes(bytes.begin(),
               bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

std::size_t openDescriptors() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator("/proc/self/fd")) {
    ++n;
  }
  return n;
}

class ReaderTest : public ::testing::Test {
 protected:
  // Writes a new file of the scratch directory (rewriting one in place
  // costs a flush on some file systems) and returns its path.
  std::string put(const Bytes& bytes) {
    std::string path = dir.file("image" + std::to_string(files++));
    d88test::writeFile(path, bytes);
    return path;
  }
  bool openFile(const std::string& path) { return reader->open(path.c_str()); }
  void openAndSelect(const Bytes& bytes) {
    ASSERT_TRUE(openFile(put(bytes)));
    ASSERT_TRUE(reader->selectImage(0));
  }

  // Runs all three operations on the track and expects each to find nothing
  // and to leave dest alone.
  void expectTrackUnusable(int track, int c, int h, int r, int n) {
    Bytes dest(64, kUntouched);
    EXPECT_EQ(reader->readSector(track, c, h, r, n, dest.data(), 64), 0);
    EXPECT_EQ(reader->readSectors(track, c, h, r, n, dest.data(), 64), 0);
    EXPECT_EQ(reader->readSectorIds(track, dest.data(), 64), 0);
    EXPECT_EQ(dest, Bytes(64, kUntouched));
  }

  d88test::ScratchDir dir;
  int files = 0;
  // The reader carries its 64 KiB window: kept off the stack.
  std::unique_ptr<D88Reader> reader = std::make_unique<D88Reader>();
};

// ---------------------------------------------------------------------------
// Scan and selection

TEST_F(ReaderTest, StartsClosedWithNothingSelected) {
  EXPECT_EQ(reader->getImageCount(), 0);
  EXPECT_EQ(reader->getMediaType(), -1);
  EXPECT_STREQ(reader->getDiskName(), "");
  EXPECT_EQ(reader->getCachedTrack(), -1);
  EXPECT_FALSE(reader->selectImage(0));
  EXPECT_EQ(reader->getMediaType(), -1);
  expectTrackUnusable(0, 0, 0, 1, 3);
}

TEST_F(ReaderTest, ScanCountsTheCompleteHeadersOfTheChain) {
  Image withTrack;
  withTrack.name = "CUT";
  withTrack.addSector(0, 0, 0, 1, 3, data(0, 1, 1024));

  std::vector<Bytes> sixtyFive;
  sixtyFive.reserve(65);
  for (int i = 0; i < 65; ++i) {
    sixtyFive.push_back(header("IMAGE" + std::to_string(i), std::nullopt));
  }

  struct Row {
    const char* name;
    Bytes file;
    std::int32_t count;
    const char* lastName;  // name of image count - 1
  };
  const Row rows[] = {
      {"empty file", {}, 0, ""},
      {"shorter than a header", prefix(header("X", 688), 687), 0, ""},
      {"one header, nothing after it", header("ONE", 688), 1, "ONE"},
      {"file ends inside the track data",
       prefix(d88test::build(withTrack), 0x2B0 + 20), 1, "CUT"},
      {"file ends inside the second header",
       d88test::concat({header("FIRST", 688), prefix(header("X", 688), 687)}),
       1, "FIRST"},
      {"disk size 0 finds the same header 64 times", header("SAME", 0), 64,
       "SAME"},
      {"65 images: the 64 first", d88test::concat(sixtyFive), 64, "IMAGE63"},
      {"a disk size that steps back to the start",
       d88test::concat({header("A", 688), header("B", 0u - 688u)}), 64, "B"},
      {"disk size 0x7FFFFFFF", header("BIG", 0x7FFFFFFFu), 1, "BIG"},
      {"disk size 0x80000000", header("NEG", 0x80000000u), 1, "NEG"},
      {"disk size 0xFFFFFFFF", header("NEG", 0xFFFFFFFFu), 1, "NEG"},
      {"a chain that passes 2^31 - 1",
       d88test::concat({header("A", 688), header("B", 0x7FFFFFFFu)}), 2, "B"},
      {"a chain that reaches 2^31 - 1 exactly",
       d88test::concat({header("A", 688), header("B", 0x7FFFFFFFu - 688u)}), 2,
       "B"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(openFile(put(row.file)));
    EXPECT_EQ(reader->getImageCount(), row.count);
    if (row.count > 0) {
      EXPECT_TRUE(reader->selectImage(row.count - 1));
      EXPECT_STREQ(reader->getDiskName(), row.lastName);
      EXPECT_EQ(reader->getMediaType(), 0x20);
    }
    EXPECT_FALSE(reader->selectImage(row.count));
    EXPECT_EQ(reader->getMediaType(), -1);
    EXPECT_STREQ(reader->getDiskName(), "");
  }
}

TEST_F(ReaderTest, ScanAndSelectionNearTwoGigabytes) {
  // A sparse file with a second image just below 2^31: its disk size takes
  // the chain past 2^31 - 1, and one of its tracks lies past it. A record
  // stored there must not be found.
  constexpr std::uint32_t kSecondImage = 0x7FFFFD00u;
  Image first;
  first.name = "LOW";
  first.diskSize = kSecondImage;
  Image second;
  second.name = "HIGH";
  second.media = 0x10;
  second.diskSize = 0x400;
  second.trackOffsets[0] = 0x2B0;  // at 0x7FFFFFB0: within 2^31 - 1
  second.trackOffsets[1] = 0x300;  // at 0x80000000: past it
  const Bytes record = {0, 0, 1, 3, 1, 0, 0,   0,   0,   0,
                        0, 0, 0, 0, 4, 0, 'D', 'A', 'T', 'A'};

  const std::string path = dir.file("sparse.d88");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  const auto writeAt = [f](std::int64_t at, const Bytes& bytes) {
    ASSERT_EQ(fseeko(f, static_cast<off_t>(at), SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  };
  writeAt(0, d88test::build(first));
  writeAt(kSecondImage, d88test::build(second));
  writeAt(kSecondImage + 0x2B0, record);
  writeAt(kSecondImage + 0x300, record);
  ASSERT_EQ(std::fclose(f), 0);

  ASSERT_TRUE(openFile(path));
  EXPECT_EQ(reader->getImageCount(), 2);
  ASSERT_TRUE(reader->selectImage(1));
  EXPECT_STREQ(reader->getDiskName(), "HIGH");
  EXPECT_EQ(reader->getMediaType(), 0x10);
  unsigned char dest[4] = {};
  EXPECT_EQ(reader->readSector(0, 0, 0, 1, 3, dest, 4), 4);
  EXPECT_EQ(std::memcmp(dest, "DATA", 4), 0);
  expectTrackUnusable(1, 0, 0, 1, 3);
}

TEST_F(ReaderTest, DiskNameIsCutAtNulAndTerminatedAfterSixteenBytes) {
  const Bytes file = d88test::concat({
      header("ABCDEFGHIJKLMNOP", 688),          // fills all 16 bytes
      header(std::string("XY\0ZZZZ", 7), 688),  // bytes after a NUL
      header("", 688),
  });
  ASSERT_TRUE(openFile(put(file)));
  ASSERT_EQ(reader->getImageCount(), 3);

  ASSERT_TRUE(reader->selectImage(0));
  EXPECT_EQ(std::string(reader->getDiskName()), "ABCDEFGHIJKLMNOP");
  ASSERT_TRUE(reader->selectImage(1));
  // Nothing of the longer name before stays behind the NUL.
  EXPECT_EQ(std::string(reader->getDiskName(), 17),
            std::string("XY") + std::string(15, '\0'));
  ASSERT_TRUE(reader->selectImage(0));
  ASSERT_TRUE(reader->selectImage(2));
  EXPECT_EQ(std::string(reader->getDiskName(), 17), std::string(17, '\0'));
}

TEST_F(ReaderTest, SelectImageLoadsTheHeaderOfThatImage) {
  Image first;
  first.name = "FIRST";
  first.media = 0x10;
  first.addSector(0, 0, 0, 1, 3, data(0, 1, 1024));
  Image second;
  second.name = "SECOND";
  second.media = 0x20;
  second.addSector(5, 2, 1, 1, 3, data(5, 1, 1024));
  // The second image's track table is relative to its own start.
  ASSERT_TRUE(openFile(
      put(d88test::concat({d88test::build(first), d88test::build(second)}))));
  ASSERT_EQ(reader->getImageCount(), 2);

  Bytes dest(1024);
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "first selection" : "selected again");
    ASSERT_TRUE(reader->selectImage(1));
    EXPECT_EQ(reader->getMediaType(), 0x20);
    EXPECT_STREQ(reader->getDiskName(), "SECOND");
    EXPECT_EQ(reader->getCachedTrack(), -1);
    EXPECT_EQ(reader->readSector(5, 2, 1, 1, 3, dest.data(), 1024), 1024);
    EXPECT_EQ(dest, data(5, 1, 1024));
    expectTrackUnusable(0, 0, 0, 1, 3);

    ASSERT_TRUE(reader->selectImage(0));
    EXPECT_EQ(reader->getMediaType(), 0x10);
    EXPECT_STREQ(reader->getDiskName(), "FIRST");
    EXPECT_EQ(reader->readSector(0, 0, 0, 1, 3, dest.data(), 1024), 1024);
    EXPECT_EQ(dest, data(0, 1, 1024));
    expectTrackUnusable(5, 2, 1, 1, 3);
  }
}

TEST_F(ReaderTest, BadIndexResetsTheSelection) {
  Image image;
  image.name = "DISK";
  image.addSector(0, 0, 0, 1, 3, data(0, 1, 1024));
  const Bytes one = d88test::build(image);
  ASSERT_TRUE(openFile(put(d88test::concat({one, one}))));
  ASSERT_EQ(reader->getImageCount(), 2);

  for (const std::int32_t index : {-1, 2, 3, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE("index " + std::to_string(index));
    ASSERT_TRUE(reader->selectImage(0));
    EXPECT_FALSE(reader->selectImage(index));
    EXPECT_EQ(reader->getMediaType(), -1);
    EXPECT_STREQ(reader->getDiskName(), "");
    EXPECT_EQ(reader->getCachedTrack(), -1);
    EXPECT_EQ(reader->getImageCount(), 2);
    // The former track table stays, but the disk size is 0: no track entry
    // is within it.
    expectTrackUnusable(0, 0, 0, 1, 3);
  }
  ASSERT_TRUE(reader->selectImage(1));
  Bytes dest(1024);
  EXPECT_EQ(reader->readSector(0, 0, 0, 1, 3, dest.data(), 1024), 1024);
}

TEST_F(ReaderTest, OpenWithNoPathWhileNothingIsOpen) {
  EXPECT_TRUE(reader->open(nullptr));
  EXPECT_EQ(reader->getImageCount(), 0);
  EXPECT_EQ(reader->getMediaType(), -1);
  EXPECT_EQ(reader->getCachedTrack(), -1);
  EXPECT_FALSE(reader->selectImage(0));
}

TEST_F(ReaderTest, OpenWithNoPathClosesAndSelectionThenChangesNothing) {
  Image image;
  image.name = "KEPT";
  image.addSector(0, 0, 0, 1, 3, data(0, 1, 1024));
  openAndSelect(d88test::concat({d88test::build(image), header("B", 688)}));
  ASSERT_EQ(reader->getImageCount(), 2);

  EXPECT_TRUE(reader->open(nullptr));
  EXPECT_EQ(reader->getImageCount(), 0);
  EXPECT_EQ(reader->getMediaType(), -1);
  EXPECT_EQ(reader->getCachedTrack(), -1);
  EXPECT_STREQ(reader->getDiskName(), "KEPT");  // kept until a selection

  EXPECT_FALSE(reader->selectImage(0));
  EXPECT_EQ(reader->getMediaType(), -1);
  EXPECT_STREQ(reader->getDiskName(), "KEPT");
  EXPECT_EQ(reader->getImageCount(), 0);
  // No file: the tracks of the former selection are not read.
  expectTrackUnusable(0, 0, 0, 1, 3);
}

TEST_F(ReaderTest, OpenOfAnotherFileReplacesTheOldOne) {
  Image a;
  a.name = "A";
  a.addSector(0, 0, 0, 1, 3, data(0, 1, 1024));
  Image b;
  b.name = "B";
  b.addSector(0, 0, 0, 1, 3, data(0, 2, 1024));  // same layout, other bytes
  const std::string pathA =
      put(d88test::concat({d88test::build(a), d88test::build(a)}));
  const std::string pathB = put(d88test::build(b));

  const std::size_t before = openDescriptors();
  ASSERT_TRUE(openFile(pathA));
  ASSERT_TRUE(reader->selectImage(1));
  EXPECT_EQ(openDescriptors(), before + 1);

  ASSERT_TRUE(openFile(pathB));
  EXPECT_EQ(openDescriptors(), before + 1);  // the first file was closed
  EXPECT_EQ(reader->getImageCount(), 1);
  EXPECT_FALSE(reader->selectImage(1));
  ASSERT_TRUE(reader->selectImage(0));
  EXPECT_STREQ(reader->getDiskName(), "B");
  Bytes dest(1024);
  EXPECT_EQ(reader->readSector(0, 0, 0, 1, 3, dest.data(), 1024), 1024);
  EXPECT_EQ(dest, data(0, 2, 1024));

  EXPECT_TRUE(reader->open(nullptr));
  EXPECT_EQ(openDescriptors(), before);
  ASSERT_TRUE(openFile(pathA));
  reader.reset();
  EXPECT_EQ(openDescriptors(), before);  // destruction closes the file
}

TEST_F(ReaderTest, FailedOpenKeepsTheImageListAndTheFormerSelection) {
  Image image;
  image.name = "FORMER";
  image.media = 0x10;
  image.addSector(0, 0, 0, 1, 3, data(0, 1, 1024));
  const Bytes one = d88test::build(image);
  openAndSelect(d88test::concat({one, one}));

  EXPECT_FALSE(openFile(dir.file("missing.d88")));
  EXPECT_EQ(reader->getImageCount(), 2);
  EXPECT_EQ(reader->getMediaType(), 0x10);
  EXPECT_STREQ(reader->getDiskName(), "FORMER");
  // No file is open after the failure: selection refuses and changes
  // nothing, and no sector is read.
  EXPECT_FALSE(reader->selectImage(0));
  EXPECT_EQ(reader->getMediaType(), 0x10);
  EXPECT_STREQ(reader->getDiskName(), "FORMER");
  expectTrackUnusable(0, 0, 0, 1, 3);
}

TEST_F(ReaderTest, SelectImageFailsWhenTheHeaderIsGoneFromTheFile) {
  struct Row {
    const char* name;
    std::uint32_t firstSize;  // disk size of image 0: where image 1 starts
  };
  const Row rows[] = {
      // FAILS with the current reader: the whole small file is still held in
      // the read window, so the stale header is selected.
      {"small file", 688},
      {"second header far from the first", 200 * 1024},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Image first;
    first.name = "FIRST";
    first.diskSize = row.firstSize;
    Bytes file = d88test::build(first);
    file.resize(row.firstSize, 0);
    file = d88test::concat({file, header("SECOND", 688)});
    const std::string path = put(file);
    ASSERT_TRUE(openFile(path));
    ASSERT_EQ(reader->getImageCount(), 2);
    ASSERT_TRUE(reader->selectImage(0));

    // Rewritten in place, ending inside the second header.
    d88test::writeFile(path, prefix(file, row.firstSize + 100));
    EXPECT_FALSE(reader->selectImage(1));
    EXPECT_EQ(reader->getMediaType(), -1);
    EXPECT_STREQ(reader->getDiskName(), "");
    EXPECT_EQ(reader->getCachedTrack(), -1);
  }
}

// ---------------------------------------------------------------------------
// Finding the track

TEST_F(ReaderTest, TrackEntryMustLieWithinTheDiskSize) {
  // Track 0's one record sits right after the header, at offset 0x2B0.
  struct Row {
    const char* name;
    std::optional<std::uint32_t> diskSize;
    int track;
    bool found;
  };
  const Row rows[] = {
      {"entry within the disk size", std::nullopt, 0, true},
      {"entry equal to the disk size", 0x2B0, 0, true},
      {"entry one past the disk size", 0x2AF, 0, false},
      {"disk size 0", 0, 0, false},
      {"entry 0: the track is absent", std::nullopt, 2, false},
      {"last slot of the table", std::nullopt, 163, true},
      {"track -1", std::nullopt, -1, false},
      {"track 164", std::nullopt, 164, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Image image;
    image.addSector(0, 0, 0, 1, 3, data(0, 1, 1024));
    image.trackOffsets[163] = 0x2B0;
    image.diskSize = row.diskSize;
    openAndSelect(d88test::build(image));
    if (row.found) {
      Bytes dest(1024);
      EXPECT_EQ(reader->readSector(row.track, 0, 0, 1, 3, dest.data(), 1024),
                1024);
      EXPECT_EQ(dest, data(0, 1, 1024));
      EXPECT_EQ(reader->readSectors(row.track, 0, 0, 1, 3, dest.data(), 1024),
                1024);
      EXPECT_EQ(reader->readSectorIds(row.track, dest.data(), 64), 4);
    } else {
      expectTrackUnusable(row.track, 0, 0, 1, 3);
    }
  }
}

TEST_F(ReaderTest, TrackEntryOf0x80000000OrMoreIsUnusable) {
  // The last 16 bytes of image 0 form a record header; a track of image 1
  // whose entry were taken as -16 would find it there.
  Image first;
  first.name = "FIRST";
  first.addSector(0, 0, 0, 1, 3, data(0, 1, 1024));
  Bytes firstBytes = d88test::build(first);
  const Bytes bait = {9, 9, 9, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0};
  firstBytes.insert(firstBytes.end(), bait.begin(), bait.end());
  d88test::putLe32(firstBytes, Layout::kDiskSizeField,
                   static_cast<std::uint32_t>(firstBytes.size()));

  struct Row {
    const char* name;
    std::int32_t image;
    std::uint32_t entry;
  };
  const Row rows[] = {
      {"image 0, entry 0x80000000", 0, 0x80000000u},
      {"image 0, entry 0xFFFFFFF0", 0, 0xFFFFFFF0u},
      {"image 1, entry 0x80000000", 1, 0x80000000u},
      // These two FAIL with the current reader: base + entry, taken as
      // signed, is a valid offset before image 1, and the walk reads there
      // (the record 16 bytes before it is found; one byte before, garbage is
      // listed).
      {"image 1, entry 0xFFFFFFF0", 1, 0xFFFFFFF0u},
      {"image 1, entry 0xFFFFFFFF", 1, 0xFFFFFFFFu},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Image broken;
    broken.name = "BROKEN";
    broken.addSector(0, 0, 0, 1, 3, data(0, 1, 1024));
    broken.trackOffsets[7] = row.entry;
    const Bytes file =
        row.image == 0 ? d88test::build(broken)
                       : d88test::concat({firstBytes, d88test::build(broken)});
    ASSERT_TRUE(openFile(put(file)));
    ASSERT_TRUE(reader->selectImage(row.image));
    expectTrackUnusable(7, 9, 9, 9, 0);
    expectTrackUnusable(7, 0, 0, 1, 3);
  }
}

// ---------------------------------------------------------------------------
// readSector

TEST_F(ReaderTest, ReadSectorMatchesAllFourIdBytes) {
  Image image;
  image.addSector(0, 0, 0, 1, 3, data(0, 1, 1024));
  image.addSector(0, 0, 0, 2, 2, data(0, 22, 512));  // same C/H/R, other N
  image.addSector(0, 0, 0, 2, 3, data(0, 23, 1024));
  image.addSector(0, 0, 0, 3, 3, data(0, 31, 1024));  // duplicate IDs
  image.addSector(0, 0, 0, 3, 3, data(0, 32, 1024));
  image.addSector(0, 0, 0, 4, 3, data(0, 4, 2000));  // longer than nominal
  image.addSector(0, 0, 0, 5, 3, {});                // data size 0
  image.addSector(0, 0, 0, 6, 3, data(0, 6, 512));   // shorter than nominal
  image.addSector(0, 0, 1, 7, 3, data(0, 7, 100));   // head byte 1 on track 0
  image.addSector(0, 0, 0, 8, 3, data(0, 8, 100));   // the last record
  openAndSelect(d88test::build(image));

  struct Row {
    const char* name;
    int c, h, r, n;
    std::int32_t maxBytes;
    std::int32_t expected;
    Bytes bytes;  // the first `expected` bytes of dest
  };
  const Row rows[] = {
      {"first record", 0, 0, 1, 3, 1024, 1024, data(0, 1, 1024)},
      {"wrong N is no match", 0, 0, 1, 2, 1024, 0, {}},
      {"N tells records of one C/H/R apart", 0, 0, 2, 3, 1024, 1024,
       data(0, 23, 1024)},
      {"the other N", 0, 0, 2, 2, 1024, 512, data(0, 22, 512)},
      {"duplicate IDs: the first stored wins", 0, 0, 3, 3, 1024, 1024,
       data(0, 31, 1024)},
      {"data larger than maxBytes", 0, 0, 4, 3, 1024, 1024,
       prefix(data(0, 4, 2000), 1024)},
      {"data smaller than maxBytes", 0, 0, 1, 3, 4096, 1024, data(0, 1, 1024)},
      {"data size 0", 0, 0, 5, 3, 1024, 0, {}},
      {"512 bytes under N = 3", 0, 0, 6, 3, 1024, 512, data(0, 6, 512)},
      {"maxBytes 0", 0, 0, 1, 3, 0, 0, {}},
      {"head byte compared", 0, 1, 7, 3, 1024, 100, data(0, 7, 100)},
      {"head byte compared, other head", 0, 0, 7, 3, 1024, 0, {}},
      {"cylinder byte compared", 1, 0, 1, 3, 1024, 0, {}},
      {"the last record", 0, 0, 8, 3, 1024, 100, data(0, 8, 100)},
      {"absent sector", 0, 0, 9, 3, 1024, 0, {}},
      {"IDs beyond a byte never match", 256, 0, 1, 3, 1024, 0, {}},
      {"negative IDs never match", 0, 0, 1 - 256, 3, 1024, 0, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes dest(4096 + 16, kUntouched);
    ASSERT_EQ(reader->readSector(0, row.c, row.h, row.r, row.n, dest.data(),
                                 row.maxBytes),
              row.expected);
    const auto end = dest.begin() + row.expected;
    EXPECT_EQ(Bytes(dest.begin(), end), row.bytes);
    EXPECT_EQ(Bytes(end, dest.end()),
              Bytes(dest.size() - static_cast<std::size_t>(row.expected),
                    kUntouched));
  }
}

TEST_F(ReaderTest, CountOfZeroEndsTheSearch) {
  struct Row {
    const char* name;
    std::uint16_t firstCount;
    std::uint16_t secondCount;
    std::int32_t first;   // result for sector 1
    std::int32_t second;  // result for sector 2
  };
  const Row rows[] = {
      {"counts agree", 2, 2, 100, 100},
      {"count 0 on the wanted record", 2, 0, 100, 0},
      {"count 0 on the first record, even though it is the one wanted", 0, 2, 0,
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Image image;
    image.addSector(0, 0, 0, 1, 3, data(0, 1, 100)).count = row.firstCount;
    image.addSector(0, 0, 0, 2, 3, data(0, 2, 100)).count = row.secondCount;
    openAndSelect(d88test::build(image));
    Bytes dest(100);
    EXPECT_EQ(reader->readSector(0, 0, 0, 1, 3, dest.data(), 100), row.first);
    EXPECT_EQ(reader->readSector(0, 0, 0, 2, 3, dest.data(), 100), row.second);
  }
}

TEST_F(ReaderTest, EveryPrefixOfAnImageIsReadAsFarAsItGoes) {
  // The file ends anywhere: in the header, in a sector header, in data.
  Image image;
  image.name = "PREFIX";
  image.addSector(0, 0, 0, 1, 3, data(0, 1, 100));
  image.addSector(0, 0, 0, 2, 3, data(0, 2, 50));
  image.addSector(0, 0, 0, 3, 3, data(0, 3, 30));
  Layout layout;
  const Bytes full = d88test::build(image, &layout);
  const std::vector<Layout::RecordPlace>& places = layout.records.at(0);
  const std::size_t sizes[] = {100, 50, 30};

  for (std::size_t length = 0; length <= full.size(); ++length) {
    SCOPED_TRACE("first " + std::to_string(length) + " bytes");
    ASSERT_TRUE(openFile(put(prefix(full, length))));
    if (length < 0x2B0) {
      ASSERT_EQ(reader->getImageCount(), 0);
      ASSERT_FALSE(reader->selectImage(0));
      continue;
    }
    ASSERT_EQ(reader->getImageCount(), 1);
    ASSERT_TRUE(reader->selectImage(0));
    std::int32_t headers = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      const bool headerPresent = places[k].header + 16 <= length;
      headers += headerPresent ? 1 : 0;
      // Capped length returned whenever the header is whole; the bytes
      // present are copied, the rest of dest is left alone.
      constexpr std::int32_t kMaxBytes = 64;
      const std::size_t capped = std::min<std::size_t>(sizes[k], kMaxBytes);
      const std::size_t present =
          length <= places[k].data ? 0
                                   : std::min(capped, length - places[k].data);
      Bytes dest(128, kUntouched);
      ASSERT_EQ(reader->readSector(0, 0, 0, static_cast<int>(k + 1), 3,
                                   dest.data(), kMaxBytes),
                headerPresent ? static_cast<std::int32_t>(capped) : 0)
          << "sector " << k + 1;
      Bytes expected(128, kUntouched);
      const auto from =
          full.begin() + static_cast<std::ptrdiff_t>(places[k].data);
      std::copy(from, from + static_cast<std::ptrdiff_t>(present),
                expected.begin());
      ASSERT_EQ(dest, expected) << "sector " << k + 1;
    }
    Bytes ids(64, kUntouched);
    ASSERT_EQ(reader->readSectorIds(0, ids.data(), 64), 4 * headers);
  }
}

// ---------------------------------------------------------------------------
// readSectors

TEST_F(ReaderTest, ReadSectorsRunsAcrossTracks) {
  // Tracks 0..2 hold sectors 1..5 of 1024 bytes, track 3 a run with a short
  // sector, track 4 sectors 6..8 only (and track 5 a sector 1 that a run on
  // track 4 must not reach), track 6 one sector of size code 23.
  Image image;
  for (int t = 0; t < 3; ++t) {
    for (int r = 1; r <= 5; ++r) {
      image.addSector(t, t / 2, t % 2, r, 3, data(t, r, 1024));
    }
  }
  image.addSector(3, 1, 1, 1, 3, data(3, 1, 1024));
  image.addSector(3, 1, 1, 2, 3, data(3, 2, 512));
  image.addSector(3, 1, 1, 3, 3, data(3, 3, 1024));
  for (int r = 6; r <= 8; ++r) image.addSector(4, 2, 0, r, 3, data(4, r, 1024));
  image.addSector(5, 2, 1, 1, 3, data(5, 1, 1024));
  image.addSector(6, 3, 0, 1, 23, data(6, 1, 200));
  openAndSelect(d88test::build(image));

  struct Sector {
    int track, r;
    std::size_t length;  // bytes of its data expected in dest
  };
  struct Row {
    const char* name;
    int first, last;  // the sector range
    int track, c, h, r, n;
    std::int32_t totalBytes;
    std::int32_t expected;
    std::vector<Sector> sectors;  // what dest holds, in order
  };
  const std::vector<Row> rows = {
      {"within a track",
       1,
       5,
       0,
       0,
       0,
       1,
       3,
       3072,
       3072,
       {{0, 1, 1024}, {0, 2, 1024}, {0, 3, 1024}}},
      {"across the end of track 0 and of track 1",
       1,
       5,
       0,
       0,
       0,
       4,
       3,
       8 * 1024,
       8 * 1024,
       {{0, 4, 1024},
        {0, 5, 1024},
        {1, 1, 1024},
        {1, 2, 1024},
        {1, 3, 1024},
        {1, 4, 1024},
        {1, 5, 1024},
        {2, 1, 1024}}},
      {"the next track starts at the first sector",
       3,
       5,
       0,
       0,
       0,
       5,
       3,
       3072,
       3072,
       {{0, 5, 1024}, {1, 3, 1024}, {1, 4, 1024}}},
      {"a missing sector ends the run",
       1,
       16,
       0,
       0,
       0,
       4,
       3,
       3072,
       2048,
       {{0, 4, 1024}, {0, 5, 1024}}},
      {"not a multiple: the last step asks for the rest",
       1,
       5,
       0,
       0,
       0,
       1,
       3,
       2148,
       2148,
       {{0, 1, 1024}, {0, 2, 1024}, {0, 3, 100}}},
      {"a short sector ends the run, its bytes left in dest",
       1,
       5,
       3,
       1,
       1,
       1,
       3,
       3072,
       1024,
       {{3, 1, 1024}, {3, 2, 512}}},
      {"a short sector satisfies a shorter last step",
       1,
       5,
       3,
       1,
       1,
       1,
       3,
       1536,
       1536,
       {{3, 1, 1024}, {3, 2, 512}}},
      {"a run above the last sector never wraps",
       1,
       5,
       4,
       2,
       0,
       6,
       3,
       4 * 1024,
       3 * 1024,
       {{4, 6, 1024}, {4, 7, 1024}, {4, 8, 1024}}},
      {"size code 23", 1, 5, 6, 3, 0, 1, 23, 100, 100, {{6, 1, 100}}},
      {"totalBytes 0", 1, 5, 0, 0, 0, 1, 3, 0, 0, {}},
      {"totalBytes negative", 1, 5, 0, 0, 0, 1, 3, -1, 0, {}},
      {"totalBytes most negative", 1, 5, 0, 0, 0, 1, 3, INT32_MIN, 0, {}},
      {"size code -1", 1, 5, 0, 0, 0, 1, -1, 1024, 0, {}},
      {"size code 24", 1, 5, 0, 0, 0, 1, 24, 1024, 0, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    reader->setSectorRange(row.first, row.last);
    Bytes dest(9 * 1024, kUntouched);
    EXPECT_EQ(reader->readSectors(row.track, row.c, row.h, row.r, row.n,
                                  dest.data(), row.totalBytes),
              row.expected);
    Bytes expected;
    for (const Sector& s : row.sectors) {
      const Bytes d = prefix(data(s.track, s.r, 1024), s.length);
      expected.insert(expected.end(), d.begin(), d.end());
    }
    expected.resize(dest.size(), kUntouched);
    EXPECT_EQ(dest, expected);
  }
}

// ---------------------------------------------------------------------------
// readSectorIds

TEST_F(ReaderTest, ReadSectorIdsListsWholeEntriesWithinMaxBytes) {
  Image image;
  for (int r = 1; r <= 26; ++r) image.addSector(0, 0, 0, r, 1, data(0, r, 256));
  openAndSelect(d88test::build(image));

  for (const std::int32_t maxBytes : {16, 15, 3, 0, -4, 104, 1000}) {
    SCOPED_TRACE("maxBytes " + std::to_string(maxBytes));
    const std::int32_t entries = maxBytes <= 0 ? 0 : std::min(maxBytes / 4, 26);
    Bytes dest(1000, kUntouched);
    EXPECT_EQ(reader->readSectorIds(0, dest.data(), maxBytes), 4 * entries);
    Bytes expected(1000, kUntouched);
    for (int i = 0; i < entries; ++i) {
      const unsigned char id[] = {0, 0, static_cast<unsigned char>(i + 1), 1};
      std::copy(id, id + 4, expected.begin() + 4 * i);
    }
    EXPECT_EQ(dest, expected);
  }
}

TEST_F(ReaderTest, CountsThatDisagreeCarryTheWalkPastTheTrack) {
  // Track 0's records claim nine records in the track; the walk goes on
  // into track 1, whose first record ends it (index 2 of a count of 3).
  Image image;
  image.addSector(0, 0, 0, 1, 3, data(0, 1, 64)).count = 9;
  image.addSector(0, 0, 0, 2, 3, data(0, 2, 64)).count = 9;
  image.addSector(1, 0, 1, 1, 3, data(1, 1, 64));
  image.addSector(1, 0, 1, 2, 3, data(1, 2, 64));
  image.addSector(1, 0, 1, 3, 3, data(1, 3, 64));
  // Track 2: one record whose count 1 is short of the records stored.
  image.addSector(2, 1, 0, 1, 3, data(2, 1, 64)).count = 1;
  image.addSector(2, 1, 0, 2, 3, data(2, 2, 64)).count = 1;
  // Track 3, the last in the file: counts of 0, so the listing runs to the
  // file's end while a search stops at once.
  image.addSector(3, 1, 1, 1, 3, data(3, 1, 64)).count = 0;
  image.addSector(3, 1, 1, 2, 3, data(3, 2, 64)).count = 0;
  image.addSector(3, 1, 1, 3, 3, data(3, 3, 64)).count = 0;
  openAndSelect(d88test::build(image));

  Bytes dest(64);
  EXPECT_EQ(reader->readSector(0, 0, 1, 1, 3, dest.data(), 64), 64);
  EXPECT_EQ(dest, data(1, 1, 64));  // a record stored after the track
  EXPECT_EQ(reader->readSector(0, 0, 1, 2, 3, dest.data(), 64), 0);
  EXPECT_EQ(reader->readSector(2, 1, 0, 2, 3, dest.data(), 64), 0);
  EXPECT_EQ(reader->readSector(3, 1, 1, 1, 3, dest.data(), 64), 0);

  struct Row {
    const char* name;
    int track;
    std::vector<unsigned char> ids;  // C H R N of each entry listed
  };
  const Row rows[] = {
      {"count too large", 0, {0, 0, 1, 3, 0, 0, 2, 3, 0, 1, 1, 3}},
      {"count too small", 2, {1, 0, 1, 3}},
      {"counts of 0, up to the file's end",
       3,
       {1, 1, 1, 3, 1, 1, 2, 3, 1, 1, 3, 3}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes ids(64, kUntouched);
    ASSERT_EQ(reader->readSectorIds(row.track, ids.data(), 64),
              static_cast<std::int32_t>(row.ids.size()));
    EXPECT_EQ(prefix(ids, row.ids.size()), row.ids);
  }
}

}  // namespace
}  // namespace d88
