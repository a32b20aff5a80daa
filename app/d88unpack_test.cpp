// End to end: the built d88unpack runs on images made by the test builder, in
// a fresh work directory. Each test compares the exact stdout and stderr
// bytes, the exit status, and the whole tree around the work directory, so a
// file written anywhere it should not be shows up as well as a wrong byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "testing/d88_builder.h"
#include "testing/tool_runner.h"

namespace {

namespace fs = std::filesystem;
using d88test::Bytes;
using d88test::Image;
using d88test::Pc98Disk;
using d88test::Record;

constexpr std::size_t kBlock = 1024;

std::string str(std::initializer_list<unsigned char> bytes) {
  return std::string(bytes.begin(), bytes.end());
}
std::string str(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// The console messages, Shift_JIS.
// "ファイルをオープンできません.\n"
constexpr std::string_view kOpenFailed =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76"
    "\x83\x93\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1.\n";
// "2DD/2HD版(PC98)を認識しました.\n"
constexpr std::string_view kRecognised =
    "2DD/2HD\x94\xC5(PC98)\x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5"
    "\x82\xBD.\n";
// "未対応のディスクイメージ形式です.\n"
constexpr std::string_view kUnsupported =
    "\x96\xA2\x91\xCE\x89\x9E\x82\xCC\x83\x66\x83\x42\x83\x58\x83\x4E"
    "\x83\x43\x83\x81\x81\x5B\x83\x57\x8C\x60\x8E\xAE\x82\xC5\x82\xB7.\n";

// A directory tree as d88test::snapshot describes it.
using Tree = std::map<std::string, std::string>;

// Names can hold any byte; show them escaped.
std::string printable(const std::string& bytes) {
  std::string out;
  for (const char ch : bytes) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte >= 0x20 && byte < 0x7F) {
      out += ch;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    }
  }
  return out;
}

std::string describe(const std::string& what) {
  if (what.rfind("file:", 0) == 0) {
    return "file of " + std::to_string(what.size() - 5) + " bytes";
  }
  return printable(what);
}

// Compares two trees entry by entry and names each difference, with the
// first differing byte of a file, instead of printing whole files.
testing::AssertionResult sameTree(const Tree& actual, const Tree& expected) {
  std::string faults;
  for (const auto& [name, what] : expected) {
    const auto found = actual.find(name);
    if (found == actual.end()) {
      faults += "\n  missing " + printable(name) + " (" + describe(what) + ")";
    } else if (found->second != what) {
      const auto diff = std::mismatch(
          what.begin(), what.end(), found->second.begin(), found->second.end());
      faults += "\n  " + printable(name) + ": " + describe(found->second) +
                ", expected " + describe(what) + ", first difference at " +
                std::to_string(diff.first - what.begin() - 5);
    }
  }
  for (const auto& [name, what] : actual) {
    if (!expected.contains(name)) {
      faults +=
          "\n  unexpected " + printable(name) + " (" + describe(what) + ")";
    }
  }
  if (faults.empty()) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "trees differ:" << faults;
}

// A run's world: root holds the work directory "work" and whatever a test
// puts beside it; the image lives in a directory of its own unless a test
// places it in the work directory.
struct Sandbox {
  d88test::ScratchDir root;
  d88test::ScratchDir images;
  std::string work = root.file("work");

  Sandbox() { fs::create_directory(work); }

  std::string writeImage(const Bytes& bytes) const {
    std::string path = images.file("disk.d88");
    d88test::writeFile(path, bytes);
    return path;
  }

  d88test::RunResult run(const std::vector<std::string>& args,
                         std::int64_t fileSizeLimit = -1) const {
    std::vector<std::string> argv = {d88test::toolPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    d88test::RunOptions options;
    options.workDir = work;
    options.fileSizeLimit = fileSizeLimit;
    return d88test::runProgram(argv, options);
  }

  d88test::RunResult extract(const Image& image) const {
    return run({writeImage(d88test::build(image))});
  }

  Tree tree() const { return d88test::snapshot(root.path()); }
};

// The tree of a work directory holding exactly these files.
Tree workHolding(const std::map<std::string, std::string>& files) {
  Tree tree = {{"work", "dir"}};
  for (const auto& [name, bytes] : files)
    tree["work/" + name] = "file:" + bytes;
  return tree;
}

// Blocks first..last of a disk as the builder laid them out.
std::string blocksOf(const Pc98Disk& disk, int first, int last) {
  const auto from =
      disk.blocks().begin() + first * static_cast<std::ptrdiff_t>(kBlock);
  const auto to =
      disk.blocks().begin() + (last + 1) * static_cast<std::ptrdiff_t>(kBlock);
  return std::string(from, to);
}

Record& sector(Image& image, int track, int r) {
  for (Record& record : image.tracks.at(track).records) {
    if (record.r == r) return record;
  }
  throw std::out_of_range("no such sector");
}

// --- The command line ------------------------------------------------------

TEST(D88UnpackDriver, ArgumentsMediaAndMessages) {
  Pc98Disk disk;
  disk.addFile("HELLO", d88test::text("hello, world\n"));
  const Bytes hd = d88test::build(disk.toImage());
  disk.media = 0x10;
  const Bytes dd = d88test::build(disk.toImage());
  disk.media = 0x00;
  const Bytes noMedia = d88test::build(disk.toImage());
  disk.media = 0x30;
  const Bytes otherMedia = d88test::build(disk.toImage());

  const std::string listing = "HELLO   START:000a  END:000a  SIZE:0400\n";
  const Tree extracted = workHolding({{"HELLO", blocksOf(disk, 10, 10)}});
  const Tree nothing = workHolding({});

  struct Case {
    const char* name;
    std::optional<Bytes> image;     // none: the path names no file
    std::vector<std::string> args;  // "IMAGE" stands for the image's path
    std::string out;
    std::string err;
    int status;
    Tree tree;
  };
  // The program is invoked by a spelling of its path that is not the
  // canonical one, which the usage line must repeat as given.
  const std::string tool = d88test::toolPath();
  const std::string invoked = fs::path(tool).parent_path().string() + "/./" +
                              fs::path(tool).filename().string();
  const std::string usage = "Usage: " + invoked + " [d88file]\n";
  const Case cases[] = {
      {"no argument", hd, {}, "", usage, 1, nothing},
      {"four arguments", hd, {"IMAGE", "a", "b", "c"}, "", usage, 1, nothing},
      {"one argument",
       hd,
       {"IMAGE"},
       std::string(kRecognised) + listing,
       "",
       0,
       extracted},
      {"two arguments",
       hd,
       {"IMAGE", "a"},
       std::string(kRecognised) + listing,
       "",
       0,
       extracted},
      {"three arguments",
       hd,
       {"IMAGE", "a", "b"},
       std::string(kRecognised) + listing,
       "",
       0,
       extracted},
      {"2DD like 2HD",
       dd,
       {"IMAGE"},
       std::string(kRecognised) + listing,
       "",
       0,
       extracted},
      {"missing path",
       std::nullopt,
       {"IMAGE"},
       "",
       std::string(kOpenFailed),
       1,
       nothing},
      {"empty file",
       Bytes{},
       {"IMAGE"},
       "",
       std::string(kUnsupported),
       1,
       nothing},
      {"file shorter than a header",
       Bytes(hd.begin(), hd.begin() + 687),
       {"IMAGE"},
       "",
       std::string(kUnsupported),
       1,
       nothing},
      {"media 0x30",
       otherMedia,
       {"IMAGE"},
       "",
       std::string(kUnsupported),
       1,
       nothing},
      // Only the first image counts.
      {"media 0x00, then a 2HD image",
       d88test::concat({noMedia, hd}),
       {"IMAGE"},
       "",
       std::string(kUnsupported),
       1,
       nothing},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    Sandbox box;
    const std::string path =
        row.image ? box.writeImage(*row.image) : box.images.file("none.d88");
    std::vector<std::string> argv = {invoked};
    for (const std::string& arg : row.args) {
      argv.push_back(arg == "IMAGE" ? path : arg);
    }
    d88test::RunOptions options;
    options.workDir = box.work;
    const d88test::RunResult result = d88test::runProgram(argv, options);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err, row.err);
    EXPECT_EQ(result.status, row.status);
    EXPECT_TRUE(sameTree(box.tree(), row.tree));
  }
}

// Standard output is fully buffered when it is not a terminal, standard error
// is not: on one stream, each refusal must still follow its listing line.
TEST(D88UnpackDriver, RefusalFollowsItsListingLineOnOneStream) {
  Pc98Disk disk;
  disk.addFile("OK1", d88test::pattern(kBlock, 1));
  disk.addEntry("..", 10, 10);
  disk.addFile("OK2", d88test::pattern(kBlock, 2));

  Sandbox box;
  const std::string path = box.writeImage(d88test::build(disk.toImage()));
  d88test::RunOptions options;
  options.workDir = box.work;
  const d88test::RunResult result = d88test::runProgram(
      {"/bin/sh", "-c", "exec \"$0\" \"$1\" 2>&1", d88test::toolPath(), path},
      options);
  EXPECT_EQ(result.out, std::string(kRecognised) +
                            "OK1     START:000a  END:000a  SIZE:0400\n"
                            "..      START:000a  END:000a  SIZE:0400\n"
                            "d88unpack: ..: unsafe file name, not written\n"
                            "OK2     START:000b  END:000b  SIZE:0400\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 1);
}

// A listing that cannot be written is a failure even though the files are.
TEST(D88UnpackDriver, ListingThatCannotBeWrittenEndsWithStatusOne) {
  Pc98Disk disk;
  disk.addFile("HELLO", d88test::text("hello, world\n"));

  Sandbox box;
  const std::string path = box.writeImage(d88test::build(disk.toImage()));
  d88test::RunOptions options;
  options.workDir = box.work;
  const d88test::RunResult result =
      d88test::runProgram({"/bin/sh", "-c", "exec \"$0\" \"$1\" >/dev/full",
                           d88test::toolPath(), path},
                          options);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "d88unpack: cannot write the listing: No space left on device\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(
      sameTree(box.tree(), workHolding({{"HELLO", blocksOf(disk, 10, 10)}})));
}

// --- The listing and the files ---------------------------------------------

TEST(D88UnpackExtract, TestEntryIsSectorsTwoToFiveOfTrackThree) {
  Pc98Disk disk;
  disk.addEntry("TEST", 0x0010, 0x0013);
  Image image = disk.toImage();
  // Set on the records themselves, so the block-to-sector mapping is checked
  // independently of the builder's; the neighbours must not leak in.
  std::string expected;
  for (int r = 1; r <= 5; ++r) {
    sector(image, 3, r).data =
        d88test::pattern(kBlock, 300 + static_cast<std::uint32_t>(r));
    if (r >= 2) expected += str(sector(image, 3, r).data);
  }
  sector(image, 4, 1).data = d88test::pattern(kBlock, 401);

  Sandbox box;
  const d88test::RunResult result = box.extract(image);
  EXPECT_EQ(result.out, std::string(kRecognised) +
                            "TEST    START:0010  END:0013  SIZE:1000\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  ASSERT_EQ(expected.size(), 4096u);
  EXPECT_TRUE(sameTree(box.tree(), workHolding({{"TEST", expected}})));
}

TEST(D88UnpackExtract, NamesEndAtFirstSpaceOrNulAndKeepRawBytes) {
  const std::string shiftJis =
      str({0x83, 0x65, 0x83, 0x58, 0x83, 0x67});  // テスト
  const std::string highAndControl = str({0xA0, 0x01, 0x7F, 0xFF});
  Pc98Disk disk;
  disk.addFile("AB", d88test::pattern(kBlock, 1));
  disk.addFile("CD EF", d88test::pattern(kBlock, 2));
  disk.addFile(std::string("GH\0IJ", 5), d88test::pattern(kBlock, 3));
  disk.addFile(shiftJis, d88test::pattern(kBlock, 4));
  disk.addFile(highAndControl, d88test::pattern(kBlock, 5));
  disk.addFile("ABCDEF", d88test::pattern(kBlock, 6));

  Sandbox box;
  const d88test::RunResult result = box.extract(disk.toImage());
  EXPECT_EQ(result.out,
            std::string(kRecognised) +                       //
                "AB      START:000a  END:000a  SIZE:0400\n"  //
                "CD      START:000b  END:000b  SIZE:0400\n"  //
                "GH      START:000c  END:000c  SIZE:0400\n" +
                shiftJis + "  START:000d  END:000d  SIZE:0400\n" +
                highAndControl + "    START:000e  END:000e  SIZE:0400\n" +
                "ABCDEF  START:000f  END:000f  SIZE:0400\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(sameTree(box.tree(), workHolding({
                                       {"AB", blocksOf(disk, 10, 10)},
                                       {"CD", blocksOf(disk, 11, 11)},
                                       {"GH", blocksOf(disk, 12, 12)},
                                       {shiftJis, blocksOf(disk, 13, 13)},
                                       {highAndControl, blocksOf(disk, 14, 14)},
                                       {"ABCDEF", blocksOf(disk, 15, 15)},
                                   })));
}

TEST(D88UnpackExtract, EndMarkStopsTheWalk) {
  struct Case {
    const char* name;
    bool entryBefore;  // an entry ahead of the mark
  };
  for (const Case row :
       {Case{"first entry", false}, Case{"second entry", true}}) {
    SCOPED_TRACE(row.name);
    Pc98Disk disk;
    if (row.entryBefore) disk.addFile("BEFORE", d88test::pattern(kBlock, 1));
    disk.addEntry("\xFFMARK", 10, 10);  // only the first byte marks the end
    disk.addFile("AFTER", d88test::pattern(kBlock, 2));

    Sandbox box;
    const d88test::RunResult result = box.extract(disk.toImage());
    EXPECT_EQ(result.out,
              std::string(kRecognised) +
                  (row.entryBefore ? "BEFORE  START:000a  END:000a  SIZE:0400\n"
                                   : ""));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(sameTree(box.tree(),
                         row.entryBefore
                             ? workHolding({{"BEFORE", blocksOf(disk, 10, 10)}})
                             : workHolding({})));
  }
}

TEST(D88UnpackExtract, WithoutEndMarkAll320EntriesAreExtracted) {
  Pc98Disk disk;
  disk.endMark = false;
  std::string listing;
  std::map<std::string, std::string> files;
  for (int j = 0; j < 320; ++j) {
    char name[8];
    std::snprintf(name, sizeof name, "F%03d", j);
    const int block =
        disk.addFile(name, d88test::text(std::string("file ") + name));
    char line[64];
    std::snprintf(line, sizeof line, "%-6s  START:%04x  END:%04x  SIZE:0400\n",
                  name, static_cast<unsigned>(block),
                  static_cast<unsigned>(block));
    listing += line;
    files[name] = blocksOf(disk, block, block);
  }

  Sandbox box;
  const d88test::RunResult result = box.extract(disk.toImage());
  EXPECT_EQ(result.out, std::string(kRecognised) + listing);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(sameTree(box.tree(), workHolding(files)));
}

TEST(D88UnpackExtract, ExtentsAtTheEdgesOfTheDisk) {
  Pc98Disk disk;  // track 0 holds a pattern, which must not be read
  disk.addEntry("BOOT", 0, 4);
  disk.addEntry("EMPTY", 20, 19);        // end = start - 1: size 0
  disk.addEntry("FAR", 0xFFFF, 0xFFFE);  // size 0 far past the disk
  disk.putBlocks(769, d88test::pattern(kBlock, 769));
  disk.addEntry("LAST", 769, 769);  // the disk's last block
  disk.addFile("BIG", d88test::pattern(64 * kBlock, 64));  // 64 blocks

  Sandbox box;
  const d88test::RunResult result = box.extract(disk.toImage());
  EXPECT_EQ(result.out, std::string(kRecognised) +
                            "BOOT    START:0000  END:0004  SIZE:1400\n"
                            "EMPTY   START:0014  END:0013  SIZE:0000\n"
                            "FAR     START:ffff  END:fffe  SIZE:0000\n"
                            "LAST    START:0301  END:0301  SIZE:0400\n"
                            "BIG     START:000a  END:0049  SIZE:10000\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(
      sameTree(box.tree(), workHolding({
                               {"BOOT", std::string(5 * kBlock, '\0')},
                               {"EMPTY", ""},
                               {"FAR", ""},
                               {"LAST", str(d88test::pattern(kBlock, 769))},
                               {"BIG", str(d88test::pattern(64 * kBlock, 64))},
                           })));
}

TEST(D88UnpackExtract, SectorThreeMissingShortOrMismatchedEndsItsTrack) {
  struct Case {
    const char* name;
    int track;
    std::function<void(Image&)> change;  // what happens to sector 3
    std::size_t kept;                    // bytes of sector 3 that arrive
  };
  const Case cases[] = {
      {"MISS", 5,
       [](Image& image) {
         auto& records = image.tracks.at(5).records;
         records.erase(
             std::remove_if(records.begin(), records.end(),
                            [](const Record& rec) { return rec.r == 3; }),
             records.end());
       },
       0},
      {"SHORT", 6, [](Image& image) { sector(image, 6, 3).data.resize(512); },
       512},
      {"BADC", 7, [](Image& image) { sector(image, 7, 3).c = 4; }, 0},
      {"BADH", 8, [](Image& image) { sector(image, 8, 3).h = 1; }, 0},
      {"BADN", 9, [](Image& image) { sector(image, 9, 3).n = 2; }, 0},
  };
  Pc98Disk disk;
  disk.putBlocks(25, d88test::pattern(25 * kBlock, 25));  // tracks 5 to 9
  for (const Case& row : cases)
    disk.addEntry(row.name, 5 * row.track, 5 * row.track + 4);
  Image image = disk.toImage();
  std::string listing;
  std::map<std::string, std::string> files;
  for (const Case& row : cases) {
    row.change(image);
    char line[64];
    std::snprintf(line, sizeof line, "%-6s  START:%04x  END:%04x  SIZE:1400\n",
                  row.name, static_cast<unsigned>(5 * row.track),
                  static_cast<unsigned>(5 * row.track + 4));
    listing += line;
    // Sectors 1 and 2, the part of sector 3 that arrives, then zeros even
    // though sectors 4 and 5 are present.
    std::string expected = blocksOf(disk, 5 * row.track, 5 * row.track + 2);
    std::fill(
        expected.begin() + static_cast<std::ptrdiff_t>(2 * kBlock + row.kept),
        expected.end(), '\0');
    expected.resize(5 * kBlock, '\0');
    files[row.name] = expected;
  }

  Sandbox box;
  const d88test::RunResult result = box.extract(image);
  EXPECT_EQ(result.out, std::string(kRecognised) + listing);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(sameTree(box.tree(), workHolding(files)));
}

TEST(D88UnpackExtract, UnreadableDirectoryListsEmptyNamesAndRefusesThem) {
  struct Case {
    const char* name;
    std::function<void(Image&)> change;
  };
  const Case cases[] = {
      {"track 1 absent", [](Image& image) { image.tracks.erase(1); }},
      {"sector 1 of track 1 missing",
       [](Image& image) { sector(image, 1, 1).r = 9; }},
  };
  std::string listing;
  std::string refusals;
  for (int j = 0; j < 320; ++j) {
    listing += "        START:0000  END:0000  SIZE:0400\n";
    refusals += "d88unpack: : empty file name, not written\n";
  }
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    Pc98Disk disk;
    disk.addFile("LOST", d88test::pattern(kBlock, 1));
    Image image = disk.toImage();
    row.change(image);

    Sandbox box;
    const d88test::RunResult result = box.extract(image);
    EXPECT_EQ(result.out, std::string(kRecognised) + listing);
    EXPECT_EQ(result.err, refusals);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(sameTree(box.tree(), workHolding({})));
  }
}

TEST(D88UnpackExtract, ExistingFileAndEarlierDuplicateAreReplaced) {
  Pc98Disk disk;
  disk.addFile("OLD", d88test::pattern(kBlock, 1));
  disk.addFile("DUP", d88test::pattern(2 * kBlock, 2));
  disk.addFile("DUP", d88test::pattern(kBlock, 3));  // shorter: truncates

  Sandbox box;
  d88test::writeFile(box.work + "/OLD", Bytes(5000, 'x'));
  const d88test::RunResult result = box.extract(disk.toImage());
  EXPECT_EQ(result.out, std::string(kRecognised) +
                            "OLD     START:000a  END:000a  SIZE:0400\n"
                            "DUP     START:000b  END:000c  SIZE:0800\n"
                            "DUP     START:000d  END:000d  SIZE:0400\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(sameTree(box.tree(), workHolding({
                                       {"OLD", blocksOf(disk, 10, 10)},
                                       {"DUP", blocksOf(disk, 13, 13)},
                                   })));
}

TEST(D88UnpackExtract, InterleavedDiskWithEightSectorsPerTrack) {
  // Like the bundled sample: sectors 6 to 8 present and ignored, records
  // stored out of order, files spanning tracks.
  Pc98Disk disk(8);
  disk.interleave = {1, 4, 7, 2, 5, 8, 3, 6};
  disk.addFile("README", d88test::text(std::string(3000, 'r')));  // 10..12
  disk.addFile("LONG", d88test::pattern(9 * kBlock - 100, 9));    // 13..21
  disk.addFile("BIN", d88test::pattern(5 * kBlock, 5));           // 22..26

  Sandbox box;
  const d88test::RunResult result = box.extract(disk.toImage());
  EXPECT_EQ(result.out, std::string(kRecognised) +
                            "README  START:000a  END:000c  SIZE:0c00\n"
                            "LONG    START:000d  END:0015  SIZE:2400\n"
                            "BIN     START:0016  END:001a  SIZE:1400\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(sameTree(box.tree(), workHolding({
                                       {"README", blocksOf(disk, 10, 12)},
                                       {"LONG", blocksOf(disk, 13, 21)},
                                       {"BIN", blocksOf(disk, 22, 26)},
                                   })));
}

// --- Refusals ----------------------------------------------------------------

TEST(D88UnpackRefusals, UnsafeNamesLinksAndExtentsAreRefusedAndTheWalkGoesOn) {
  Pc98Disk disk;
  disk.addFile("OK1", d88test::pattern(kBlock, 1));  // block 10
  disk.addEntry(" X", 10, 10);                       // empty at the space
  disk.addEntry(std::string("\0AB", 3), 10, 10);     // empty at the 0x00
  disk.addEntry(".", 10, 10);
  disk.addEntry("..", 10, 10);
  disk.addEntry("../ESC", 10, 10);  // would land beside the work directory
  disk.addEntry("sub/F", 10, 10);   // would land in work/sub
  disk.addEntry("A\n/B", 10, 10);   // control bytes: the refusal stays one line
  disk.addEntry("LNKOUT", 10, 10);  // a link to a file outside
  disk.addEntry("LNKDNG", 10, 10);  // a dangling link
  disk.addEntry("FIFO", 10, 10);
  disk.addEntry("SUBDIR", 10, 10);
  disk.addEntry("NEG", 20, 18);  // end = start - 2
  disk.addEntry("PAST", 769, 770);
  disk.addEntry("HUGE", 0, 0xFFFF);
  disk.addFile("OK2", d88test::pattern(kBlock, 2));  // block 11

  Sandbox box;
  const std::string outside = box.root.file("outside.txt");
  d88test::writeFile(outside, d88test::text("keep me\n"));
  fs::create_directory(box.work + "/sub");
  fs::create_directory(box.work + "/SUBDIR");
  fs::create_symlink(outside, box.work + "/LNKOUT");
  fs::create_symlink(box.root.file("nothere"), box.work + "/LNKDNG");
  ASSERT_EQ(mkfifo((box.work + "/FIFO").c_str(), 0644), 0);
  Tree expected = box.tree();
  expected["work/OK1"] = "file:" + blocksOf(disk, 10, 10);
  expected["work/OK2"] = "file:" + blocksOf(disk, 11, 11);

  const d88test::RunResult result = box.extract(disk.toImage());
  EXPECT_EQ(result.out, std::string(kRecognised) +
                            "OK1     START:000a  END:000a  SIZE:0400\n"
                            "        START:000a  END:000a  SIZE:0400\n"
                            "        START:000a  END:000a  SIZE:0400\n"
                            ".       START:000a  END:000a  SIZE:0400\n"
                            "..      START:000a  END:000a  SIZE:0400\n"
                            "../ESC  START:000a  END:000a  SIZE:0400\n"
                            "sub/F   START:000a  END:000a  SIZE:0400\n"
                            "A\n/B    START:000a  END:000a  SIZE:0400\n"
                            "LNKOUT  START:000a  END:000a  SIZE:0400\n"
                            "LNKDNG  START:000a  END:000a  SIZE:0400\n"
                            "FIFO    START:000a  END:000a  SIZE:0400\n"
                            "SUBDIR  START:000a  END:000a  SIZE:0400\n"
                            "NEG     START:0014  END:0012  SIZE:fffffc00\n"
                            "PAST    START:0301  END:0302  SIZE:0800\n"
                            "HUGE    START:0000  END:ffff  SIZE:4000000\n"
                            "OK2     START:000b  END:000b  SIZE:0400\n");
  EXPECT_EQ(result.err,
            "d88unpack: : empty file name, not written\n"
            "d88unpack: : empty file name, not written\n"
            "d88unpack: .: unsafe file name, not written\n"
            "d88unpack: ..: unsafe file name, not written\n"
            "d88unpack: ../ESC: unsafe file name, not written\n"
            "d88unpack: sub/F: unsafe file name, not written\n"
            "d88unpack: A\\x0a/B: unsafe file name, not written\n"
            "d88unpack: LNKOUT: is a symbolic link, not written\n"
            "d88unpack: LNKDNG: is a symbolic link, not written\n"
            "d88unpack: FIFO: is not a regular file, not written\n"
            "d88unpack: SUBDIR: cannot create: Is a directory\n"
            "d88unpack: NEG: ends before it starts, not written\n"
            "d88unpack: PAST: extends past the end of the disk, not written\n"
            "d88unpack: HUGE: extends past the end of the disk, not written\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(sameTree(box.tree(), expected));
}

TEST(D88UnpackRefusals, ImageInTheWorkDirectoryIsNotOverwritten) {
  Pc98Disk disk;
  disk.addFile("DISK", d88test::pattern(kBlock, 1));
  disk.addFile("HARD", d88test::pattern(kBlock, 2));  // a hard link to it
  disk.addFile("OK", d88test::pattern(kBlock, 3));
  const Bytes image = d88test::build(disk.toImage());

  struct Case {
    const char* name;
    bool relative;  // the image named relative to the work directory
  };
  for (const Case row :
       {Case{"relative path", true}, Case{"absolute path", false}}) {
    SCOPED_TRACE(row.name);
    Sandbox box;
    d88test::writeFile(box.work + "/DISK", image);
    fs::create_hard_link(box.work + "/DISK", box.work + "/HARD");
    Tree expected = box.tree();
    expected["work/OK"] = "file:" + blocksOf(disk, 12, 12);

    const d88test::RunResult result =
        box.run({row.relative ? "DISK" : box.work + "/DISK"});
    EXPECT_EQ(result.out, std::string(kRecognised) +
                              "DISK    START:000a  END:000a  SIZE:0400\n"
                              "HARD    START:000b  END:000b  SIZE:0400\n"
                              "OK      START:000c  END:000c  SIZE:0400\n");
    EXPECT_EQ(result.err,
              "d88unpack: DISK: is the input image, not overwritten\n"
              "d88unpack: HARD: is the input image, not overwritten\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(sameTree(box.tree(), expected));
  }
}

TEST(D88UnpackRefusals, WriteFailureIsReportedWithTheSystemReason) {
  Pc98Disk disk;
  disk.addFile("SMALL", d88test::pattern(2 * kBlock, 1));  // at the limit
  disk.addFile("LARGE", d88test::pattern(3 * kBlock, 2));  // past it
  disk.addFile("AFTER", d88test::pattern(kBlock, 3));

  Sandbox box;
  const std::string path = box.writeImage(d88test::build(disk.toImage()));
  const d88test::RunResult result =
      box.run({path}, static_cast<std::int64_t>(2 * kBlock));
  EXPECT_EQ(result.out, std::string(kRecognised) +
                            "SMALL   START:000a  END:000b  SIZE:0800\n"
                            "LARGE   START:000c  END:000e  SIZE:0c00\n"
                            "AFTER   START:000f  END:000f  SIZE:0400\n");
  EXPECT_EQ(result.err, "d88unpack: LARGE: cannot write: File too large\n");
  EXPECT_EQ(result.status, 1);
  // A write that fails part-way leaves no cut-off copy behind.
  EXPECT_TRUE(sameTree(box.tree(), workHolding({
                                       {"SMALL", blocksOf(disk, 10, 11)},
                                       {"AFTER", blocksOf(disk, 15, 15)},
                                   })));
}

}  // namespace
