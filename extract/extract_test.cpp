// saveSectorRun and saveFile, called directly on files in a scratch
// directory (named by absolute paths, so the current directory is not
// involved).
#include "extract/extract.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <string>

#include "testing/d88_builder.h"
#include "testing/tool_runner.h"

namespace {

namespace fs = std::filesystem;
using d88test::Bytes;

constexpr std::size_t kBlock = 1024;

std::string str(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// An image with tracks 3 and 4 whole (sectors 1 to 5), track 5 holding
// sector 1 only, track 6 a sector 1 of 512 bytes, and track 7, last in the
// file, a sector 1 that the file's end cuts off after 300 bytes.
class SaveSectorRun : public testing::Test {
 protected:
  static constexpr std::size_t kCutAfter = 300;

  void SetUp() override {
    d88test::Image image;
    for (int t = 3; t <= 4; ++t) {
      for (int r = 1; r <= 5; ++r) {
        image.addSector(t, t / 2, t % 2, r, 3, sectorBytes(t, r));
      }
    }
    image.addSector(5, 2, 1, 1, 3, sectorBytes(5, 1));
    image.addSector(6, 3, 0, 1, 3, Bytes(512, 0x66));
    image.addSector(7, 3, 1, 1, 3, sectorBytes(7, 1));
    d88test::Layout layout;
    Bytes bytes = d88test::build(image, &layout);
    bytes.resize(layout.records.at(7).at(0).data + kCutAfter);
    const std::string path = images.file("disk.d88");
    d88test::writeFile(path, bytes);
    ASSERT_TRUE(reader.open(path.c_str()));
    ASSERT_TRUE(reader.selectImage(0));
    reader.setSectorRange(1, extract::kSectorsPerTrack);
  }

  static Bytes sectorBytes(int track, int r) {
    return d88test::pattern(kBlock, static_cast<std::uint32_t>(10 * track + r));
  }

  d88test::ScratchDir images;
  d88test::ScratchDir work;
  std::string out = work.file("OUT");
  d88::D88Reader reader;
};

TEST_F(SaveSectorRun, WritesTheBytesAfterSkipAcrossTracks) {
  // Sectors 2 to 5 of track 3, then sector 1 of track 4.
  std::string run;
  for (int r = 2; r <= 5; ++r) run += str(sectorBytes(3, r));
  run += str(sectorBytes(4, 1));

  extract::SaveFailure failure;
  ASSERT_TRUE(extract::saveSectorRun(reader, out.c_str(), 3, 1, 1, 2, 3, 100,
                                     4096, failure));
  EXPECT_EQ(failure.reason, nullptr);
  EXPECT_EQ(d88test::snapshot(work.path()),
            (std::map<std::string, std::string>{
                {"OUT", "file:" + run.substr(100, 4096)}}));
}

TEST_F(SaveSectorRun, RunsThatYieldTooLittleWriteNothing) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  struct Case {
    const char* name;
    std::int32_t track, c, h, r, skip, length;
  };
  const Case cases[] = {
      {"skip + length 0", 3, 1, 1, 1, 0, 0},
      {"first sector missing", 5, 2, 1, 2, 0, 1024},
      {"first sector short", 6, 3, 0, 1, 0, 1024},
      // The run ends after sector 1: what follows would be bytes this call
      // did not read.
      {"stops after a whole sector", 5, 2, 1, 1, 0, 2048},
      {"stops after a whole sector, inside skip", 5, 2, 1, 1, 1024, 1024},
      {"negative skip", 3, 1, 1, 1, -1, 1024},
      {"negative length", 3, 1, 1, 1, 0, -1},
      {"past the disk buffer", 3, 1, 1, 1, extract::kDiskBytes, 1},
      {"sum overflows", 3, 1, 1, 1, kMax, kMax},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    extract::SaveFailure failure;
    EXPECT_FALSE(extract::saveSectorRun(reader, out.c_str(), row.track, row.c,
                                        row.h, row.r, 3, row.skip, row.length,
                                        failure));
    EXPECT_NE(failure.reason, nullptr);
    EXPECT_TRUE(work.list().empty());
  }
}

TEST_F(SaveSectorRun, SectorCutOffByTheFileEndReadsAsZeros) {
  // What an earlier use left in the buffer must not show through.
  std::memset(extract::diskBuffer, 0xAA, 2 * kBlock);
  std::string expected = str(sectorBytes(7, 1)).substr(0, kCutAfter);
  expected.resize(kBlock, '\0');

  extract::SaveFailure failure;
  ASSERT_TRUE(extract::saveSectorRun(reader, out.c_str(), 7, 3, 1, 1, 3, 0,
                                     1024, failure));
  EXPECT_EQ(d88test::snapshot(work.path()),
            (std::map<std::string, std::string>{{"OUT", "file:" + expected}}));
}

TEST(SaveFile, CreatesOrTruncatesAndWritesExactly) {
  d88test::ScratchDir work;
  d88test::writeFile(work.file("OLD"), Bytes(5000, 0x55));
  const Bytes data = d88test::pattern(3000, 1);

  extract::SaveFailure failure;
  EXPECT_TRUE(extract::saveFile(work.file("OLD").c_str(), data.data(), 1000, {},
                                failure));
  EXPECT_TRUE(extract::saveFile(work.file("NEW").c_str(), data.data(), 3000, {},
                                failure));
  EXPECT_TRUE(extract::saveFile(work.file("EMPTY").c_str(), data.data(), 0, {},
                                failure));
  EXPECT_EQ(failure.reason, nullptr);
  EXPECT_EQ(d88test::snapshot(work.path()),
            (std::map<std::string, std::string>{
                {"EMPTY", "file:"},
                {"NEW", "file:" + str(data)},
                {"OLD", "file:" + str(data).substr(0, 1000)},
            }));
}

TEST(SaveFile, RefusesWhatIsNotAPlainFileOfItsOwn) {
  struct Case {
    const char* name;
    // Puts something at dir/X and says which file to protect, if any.
    std::function<extract::FileIdentity(const d88test::ScratchDir&)> setUp;
    const char* reason;
    int error;
  };
  const auto identityOf = [](const std::string& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0);
    return extract::FileIdentity{true, info.st_dev, info.st_ino};
  };
  const Case cases[] = {
      {"link to a file",
       [](const d88test::ScratchDir& dir) {
         d88test::writeFile(dir.file("target"), d88test::text("keep"));
         fs::create_symlink(dir.file("target"), dir.file("X"));
         return extract::FileIdentity{};
       },
       "is a symbolic link, not written", 0},
      {"dangling link",
       [](const d88test::ScratchDir& dir) {
         fs::create_symlink(dir.file("nothere"), dir.file("X"));
         return extract::FileIdentity{};
       },
       "is a symbolic link, not written", 0},
      {"the protected file",
       [&](const d88test::ScratchDir& dir) {
         d88test::writeFile(dir.file("X"), d88test::text("image"));
         return identityOf(dir.file("X"));
       },
       "is the input image, not overwritten", 0},
      {"a hard link to the protected file",
       [&](const d88test::ScratchDir& dir) {
         d88test::writeFile(dir.file("image"), d88test::text("image"));
         fs::create_hard_link(dir.file("image"), dir.file("X"));
         return identityOf(dir.file("image"));
       },
       "is the input image, not overwritten", 0},
      {"FIFO",
       [](const d88test::ScratchDir& dir) {
         EXPECT_EQ(mkfifo(dir.file("X").c_str(), 0644), 0);
         return extract::FileIdentity{};
       },
       "is not a regular file, not written", 0},
      {"directory",
       [](const d88test::ScratchDir& dir) {
         fs::create_directory(dir.file("X"));
         return extract::FileIdentity{};
       },
       "cannot create", EISDIR},
  };
  const Bytes data = d88test::pattern(100, 1);
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    d88test::ScratchDir dir;
    const extract::FileIdentity protect = row.setUp(dir);
    const auto before = d88test::snapshot(dir.path());

    extract::SaveFailure failure;
    EXPECT_FALSE(extract::saveFile(dir.file("X").c_str(), data.data(), 100,
                                   protect, failure));
    ASSERT_NE(failure.reason, nullptr);
    EXPECT_STREQ(failure.reason, row.reason);
    EXPECT_EQ(failure.error, row.error);
    EXPECT_EQ(d88test::snapshot(dir.path()), before);
  }
}

}  // namespace
