// The builder's images, and so the bundled sample, are D88 files that an
// independent reader takes the same way: MAME's floptool, run as a black box,
// converts them to a plain PC-98 sector dump (.hdm: 77 cylinders, 2 heads,
// 8 sectors of 1024 bytes, in C/H/R order), which must hold exactly the
// sectors that were put in.
//
// floptool is taken from D88UNPACK_FLOPTOOL, else from floptool/ in the
// build directory, where .ci/steps/70-interop.sh unpacks it. Without it the
// tests are skipped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "testing/d88_builder.h"
#include "testing/tool_runner.h"

namespace {

using d88test::Bytes;

constexpr int kCylinders = 77;
constexpr int kHeads = 2;
constexpr int kSectors = 8;
constexpr std::size_t kSectorBytes = 1024;
constexpr std::size_t kDumpBytes =
    std::size_t{kCylinders} * kHeads * kSectors * kSectorBytes;
static_assert(kDumpBytes == 1261568);

// Where block b of the linear disk image lies in the dump: sector
// (b mod 5) + 1 of track b div 5, the track holding 8 sectors there.
std::size_t dumpOffsetOfBlock(int block) {
  const auto track = static_cast<std::size_t>(block / 5);
  const auto sector = static_cast<std::size_t>(block % 5);
  return (track * kSectors + sector) * kSectorBytes;
}

// The record with ID C/H/R on track 2C + H, the last one if several are;
// null if there is none.
const d88test::Record* findSector(const d88test::Image& image, int c, int h,
                                  int r) {
  const auto found = image.tracks.find(2 * c + h);
  if (found == image.tracks.end()) return nullptr;
  const d88test::Record* record = nullptr;
  for (const d88test::Record& candidate : found->second.records) {
    if (candidate.c == c && candidate.h == h && candidate.r == r) {
      record = &candidate;
    }
  }
  return record;
}

// The sectors of an image in C/H/R order, as a dump should hold them.
Bytes sectorsInOrder(const d88test::Image& image) {
  Bytes dump;
  for (int c = 0; c < kCylinders; ++c) {
    for (int h = 0; h < kHeads; ++h) {
      for (int r = 1; r <= kSectors; ++r) {
        const d88test::Record* record = findSector(image, c, h, r);
        if (record == nullptr || record->data.size() != kSectorBytes) {
          ADD_FAILURE() << "the image lacks a 1024-byte sector C" << c << " H"
                        << h << " R" << r;
          return {};
        }
        dump.insert(dump.end(), record->data.begin(), record->data.end());
      }
    }
  }
  return dump;
}

// The sectors of a D88 file in C/H/R order, found by walking the records
// of its first image track by track.
Bytes sectorsInOrder(const std::string& file) {
  const auto byte = [&](std::size_t at) {
    return at < file.size() ? static_cast<unsigned char>(file[at]) : 0u;
  };
  const auto le16 = [&](std::size_t at) {
    return byte(at) | byte(at + 1) << 8;
  };
  const auto le32 = [&](std::size_t at) {
    return std::size_t{le16(at)} | std::size_t{le16(at + 2)} << 16;
  };
  d88test::Image image;
  for (int track = 0; track < 164; ++track) {
    std::size_t at = le32(0x20 + 4 * static_cast<std::size_t>(track));
    if (at == 0) continue;
    const unsigned count = le16(at + 4);
    for (unsigned i = 0; i < count && at + 16 <= file.size(); ++i) {
      const std::size_t size = le16(at + 14);
      const auto data = file.begin() + static_cast<std::ptrdiff_t>(at + 16);
      image.addSector(
          track, static_cast<int>(byte(at)), static_cast<int>(byte(at + 1)),
          static_cast<int>(byte(at + 2)), static_cast<int>(byte(at + 3)),
          Bytes(data, data + static_cast<std::ptrdiff_t>(
                                 std::min(size, file.size() - at - 16))));
      at += 16 + size;
    }
  }
  return sectorsInOrder(image);
}

// Reports how a dump differs from the expected one: its size, or the first
// sector that differs, by C/H/R.
testing::AssertionResult sameDump(const Bytes& expected,
                                  const std::string& got) {
  if (got.size() != expected.size()) {
    return testing::AssertionFailure() << "the dump has " << got.size()
                                       << " bytes, not " << expected.size();
  }
  for (std::size_t at = 0; at < got.size(); at += kSectorBytes) {
    if (std::memcmp(expected.data() + at, got.data() + at, kSectorBytes) != 0) {
      const std::size_t sector = at / kSectorBytes;
      return testing::AssertionFailure()
             << "sector C" << sector / (kHeads * kSectors) << " H"
             << sector / kSectors % kHeads << " R" << sector % kSectors + 1
             << " differs";
    }
  }
  return testing::AssertionSuccess();
}

// A listing line, "NAME    START:xxxx  END:xxxx  SIZE:xxxx": the name and
// the first and last block, in hex.
struct ListingLine {
  std::string name;
  unsigned start = 0;
  unsigned end = 0;
};

// The hex number right after `key` in text, if there is one.
std::optional<unsigned> hexAfter(const std::string& text,
                                 std::string_view key) {
  const std::size_t at = text.find(key);
  if (at == std::string::npos) return std::nullopt;
  const char* first = text.data() + at + key.size();
  const char* last = text.data() + text.size();
  unsigned value = 0;
  if (std::from_chars(first, last, value, 16).ec != std::errc{}) {
    return std::nullopt;
  }
  return value;
}

std::optional<ListingLine> parseListingLine(const std::string& text) {
  ListingLine entry;
  entry.name = text.substr(0, text.find(' '));
  const std::optional<unsigned> start = hexAfter(text, " START:");
  const std::optional<unsigned> end = hexAfter(text, " END:");
  if (entry.name.empty() || !start || !end) return std::nullopt;
  entry.start = *start;
  entry.end = *end;
  return entry;
}

class FloptoolTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* fromEnvironment = std::getenv("D88UNPACK_FLOPTOOL");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0') {
      // Named on purpose, so it must be there.
      floptool = fromEnvironment;
      ASSERT_EQ(access(floptool.c_str(), X_OK), 0)
          << "D88UNPACK_FLOPTOOL=" << floptool << " is not an executable";
      return;
    }
    floptool = D88UNPACK_FLOPTOOL_DEFAULT;
    if (access(floptool.c_str(), X_OK) != 0) {
      GTEST_SKIP() << "MAME's floptool is not available: run "
                      ".ci/steps/70-interop.sh, which unpacks it to "
                   << floptool << ", or set D88UNPACK_FLOPTOOL to its path";
    }
  }

  // Runs `floptool flopconvert d88 FORMAT image OUT` and expects success.
  testing::AssertionResult flopconvert(const std::string& format,
                                       const std::string& image,
                                       const std::string& out) {
    const d88test::RunResult run = d88test::runProgram(
        {floptool, "flopconvert", "d88", format, image, out},
        {.workDir = scratch.path()});
    if (run.status != 0) {
      return testing::AssertionFailure()
             << "floptool flopconvert d88 " << format << " exited with "
             << run.status << ": " << run.out << run.err;
    }
    return testing::AssertionSuccess();
  }

  // Converts a D88 file to a PC-98 sector dump and returns the dump.
  std::string convert(const std::string& image) {
    const std::string dump = scratch.file("out.hdm");
    EXPECT_TRUE(flopconvert("pc98", image, dump));
    if (access(dump.c_str(), F_OK) != 0) {
      ADD_FAILURE() << "floptool wrote no dump";
      return {};
    }
    return d88test::readFile(dump);
  }

  std::string floptool;
  d88test::ScratchDir scratch;
};

TEST_F(FloptoolTest, SampleConvertsToTheSectorsItHolds) {
  const std::string sample = d88test::readFile(D88UNPACK_SAMPLE_IMAGE);
  const Bytes expected = sectorsInOrder(sample);
  ASSERT_EQ(expected.size(), kDumpBytes);
  EXPECT_TRUE(sameDump(expected, convert(D88UNPACK_SAMPLE_IMAGE)));
}

// What d88unpack writes for each entry of the sample are the blocks that
// floptool reads at the entry's place.
TEST_F(FloptoolTest, SampleFilesAreTheBlocksFloptoolReads) {
  const std::string dump = convert(D88UNPACK_SAMPLE_IMAGE);
  ASSERT_EQ(dump.size(), kDumpBytes);

  d88test::ScratchDir out;
  const d88test::RunResult run = d88test::runProgram(
      {d88test::toolPath(), D88UNPACK_SAMPLE_IMAGE}, {.workDir = out.path()});
  ASSERT_EQ(run.status, 0) << run.err;
  // The listing, after the recognition line: "NAME    START:xxxx  END:xxxx ..."
  std::size_t line = run.out.find('\n') + 1;
  int entries = 0;
  for (std::size_t next; (next = run.out.find('\n', line)) != std::string::npos;
       line = next + 1) {
    const std::string text = run.out.substr(line, next - line);
    const std::optional<ListingLine> entry = parseListingLine(text);
    ASSERT_TRUE(entry.has_value()) << text;
    const auto& [name, start, end] = *entry;
    SCOPED_TRACE(name);
    // Blocks are contiguous in the dump only within a track.
    std::string fromDump;
    for (unsigned block = start; block <= end; ++block) {
      const std::size_t at = dumpOffsetOfBlock(static_cast<int>(block));
      fromDump.append(dump, at, kSectorBytes);
    }
    EXPECT_TRUE(d88test::readFile(out.file(name)) == fromDump)
        << "the file differs from blocks " << start << " to " << end;
    ++entries;
  }
  EXPECT_GT(entries, 0);
  EXPECT_EQ(out.list().size(), static_cast<std::size_t>(entries));
}

// Images the builder lays out: 8 sectors a track in several orders, every
// block distinct so that any sector out of place shows.
TEST_F(FloptoolTest, BuilderImagesConvertToTheirSectorsInOrder) {
  struct Case {
    const char* name;
    std::vector<int> interleave;
    std::uint32_t seed;
  };
  const Case cases[] = {
      {"in order", {}, 1},
      {"interleaved by 3", {1, 4, 7, 2, 5, 8, 3, 6}, 2},
      {"interleaved by 2", {1, 3, 5, 7, 2, 4, 6, 8}, 3},
      {"reversed", {8, 7, 6, 5, 4, 3, 2, 1}, 4},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    d88test::Pc98Disk disk(kSectors);
    disk.interleave = row.interleave;
    disk.addFile(
        "DATA", d88test::pattern(
                    std::size_t{d88test::Pc98Disk::kBlocks - 10} * kSectorBytes,
                    row.seed));
    const d88test::Image image = disk.toImage();
    const std::string path = scratch.file("disk.d88");
    d88test::writeFile(path, d88test::build(image));
    const Bytes expected = sectorsInOrder(image);
    ASSERT_EQ(expected.size(), kDumpBytes);
    EXPECT_TRUE(sameDump(expected, convert(path)));
  }
}

// A 2DD image has no plain sector dump to compare with, but floptool lays
// its tracks out at double density and refuses any whose sectors would not
// fit such a track; five sectors of 1024 bytes do.
TEST_F(FloptoolTest, Builder2ddImageIsAValidDoubleDensityDisk) {
  d88test::Pc98Disk disk;
  disk.media = 0x10;
  disk.addFile("DATA", d88test::pattern(64 * kSectorBytes, 5));
  const std::string path = scratch.file("disk.d88");
  d88test::writeFile(path, d88test::build(disk.toImage()));
  EXPECT_TRUE(flopconvert("mfi", path, scratch.file("out.mfi")));
}

}  // namespace
