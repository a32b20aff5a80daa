// Damaged and hostile images through the real executable. Whatever the image
// holds, d88unpack must finish in time with status 0 or 1, print no
// sanitizer report (under the sanitize preset), and create nothing but
// regular files in its working directory. Each run gets a scratch directory
// holding the image and, beside it, the working directory: a file that
// escapes the working directory shows up next to the image.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "testing/d88_builder.h"
#include "testing/tool_runner.h"

namespace {

using d88test::Bytes;
using Names = std::set<std::string>;

constexpr int kTimeoutSeconds = 60;
constexpr std::size_t kHeaderSize = 0x2B0;
constexpr std::size_t kRecordSize = 16 + 1024;

constexpr char kUnsupported[] =
    "\x96\xA2\x91\xCE\x89\x9E\x82\xCC\x83\x66\x83\x42\x83\x58\x83\x4E\x83\x43"
    "\x83\x81\x81\x5B\x83\x57\x8C\x60\x8E\xAE\x82\xC5\x82\xB7.\n";

struct Outcome {
  d88test::RunResult run;
  Names files;  // what the run left in its working directory
};

// Runs d88unpack on the image and checks what must hold for every image.
Outcome runOn(const Bytes& image) {
  d88test::ScratchDir scratch;
  const std::string imagePath = scratch.file("image.d88");
  const std::string work = scratch.file("work");
  d88test::writeFile(imagePath, image);
  EXPECT_EQ(mkdir(work.c_str(), 0700), 0);

  d88test::RunOptions options;
  options.workDir = work;
  options.timeoutSeconds = kTimeoutSeconds;
  Outcome outcome;
  outcome.run = d88test::runProgram({d88test::toolPath(), imagePath}, options);

  const int status = outcome.run.status;
  EXPECT_TRUE(status == 0 || status == 1) << "status " << status;
  EXPECT_EQ(outcome.run.err.find("Sanitizer"), std::string::npos)
      << outcome.run.err;
  EXPECT_EQ(outcome.run.err.find("runtime error"), std::string::npos)
      << outcome.run.err;
  EXPECT_EQ(scratch.list(), (std::vector<std::string>{"image.d88", "work"}))
      << "a file was created outside the working directory";
  EXPECT_EQ(d88test::readFile(imagePath),
            std::string(image.begin(), image.end()));
  for (const auto& entry : std::filesystem::directory_iterator(work)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(entry.is_regular_file() && !entry.is_symlink())
        << name << " is no regular file";
    outcome.files.insert(name);
  }
  return outcome;
}

// A valid disk of tracks 0 to 3 only (later tracks read as zeros): the
// directory on track 1 and two files, HELLO in block 10 (track 2, sector 1)
// and DATA in blocks 11 to 13.
d88test::Image smallDisk() {
  d88test::Pc98Disk disk;
  disk.addFile("HELLO", d88test::text("Hello from a PC-98 disk.\r\n"));
  disk.addFile("DATA", d88test::pattern(3000, 7));
  d88test::Image image = disk.toImage();
  image.tracks.erase(image.tracks.upper_bound(3), image.tracks.end());
  return image;
}

Names bothFiles() { return {"DATA", "HELLO"}; }

struct Case {
  std::string name;
  std::function<Bytes()> image;
  int status;
  Names files;
};

Bytes withDiskSize(std::uint32_t size) {
  d88test::Image image = smallDisk();
  image.diskSize = size;
  return d88test::build(image);
}

Bytes withTrackEntry(int track, std::uint32_t entry) {
  d88test::Image image = smallDisk();
  image.trackOffsets[track] = entry;
  return d88test::build(image);
}

// Every record of track 2, which holds HELLO and the start of DATA, with
// the given record count and data size field; the data stays 1024 bytes.
Bytes withFileTrackRecords(std::uint16_t count, std::uint16_t dataSize) {
  d88test::Image image = smallDisk();
  for (d88test::Record& record : image.tracks[2].records) {
    record.count = count;
    record.dataSize = dataSize;
  }
  return d88test::build(image);
}

// One track of 65,535 records without data, none of them a wanted sector,
// and every entry of the track table pointing at it: each lookup walks all
// of them.
Bytes everyTrackAtOneLongTrack() {
  d88test::Image image;
  for (int i = 0; i < 65535; ++i) image.addSector(0, 0, 0, 0, 0, {});
  for (int t = 0; t < 164; ++t) {
    image.trackOffsets[t] = static_cast<std::uint32_t>(kHeaderSize);
  }
  return d88test::build(image);
}

// The small disk followed by 69 images of a header alone.
Bytes chainOf70Images() {
  std::vector<Bytes> parts = {d88test::build(smallDisk())};
  d88test::Image empty;
  for (int i = 1; i < 70; ++i) parts.push_back(d88test::build(empty));
  return d88test::concat(parts);
}

TEST(HostileImageTest, FinishesCleanlyWithTheRightStatus) {
  std::vector<Case> cases = {
      // The reference: everything in order.
      {"valid", [] { return d88test::build(smallDisk()); }, 0, bothFiles()},
      // A disk size of 0 repeats the same image 64 times and leaves no track
      // within the disk: an all-zero directory of 320 unnamed entries.
      {"disk size 0", [] { return withDiskSize(0); }, 1, {}},
      {"disk size 0x7FFFFFFF", [] { return withDiskSize(0x7FFFFFFF); }, 0,
       bothFiles()},
      // Negative as a signed size: no track lies within it.
      {"disk size 0x80000000", [] { return withDiskSize(0x80000000u); }, 1, {}},
      {"disk size 0xFFFFFFFF", [] { return withDiskSize(0xFFFFFFFFu); }, 1, {}},
      // Track entries that are negative as file offsets: the directory track
      // cannot be read, or a file's track reads as zeros.
      {"directory track at 0x80000000",
       [] { return withTrackEntry(1, 0x80000000u); },
       1,
       {}},
      {"directory track at 0xFFFFFFF0",
       [] { return withTrackEntry(1, 0xFFFFFFF0u); },
       1,
       {}},
      {"file track at 0x80000000",
       [] { return withTrackEntry(2, 0x80000000u); }, 0, bothFiles()},
      {"file track at 0xFFFFFFF0",
       [] { return withTrackEntry(2, 0xFFFFFFF0u); }, 0, bothFiles()},
      {"every track entry at one track of 65535 empty records",
       everyTrackAtOneLongTrack,
       1,
       {}},
      {"a chain of 70 images", chainOf70Images, 0, bothFiles()},
  };
  // A damaged file track changes only the files' bytes.
  for (std::uint16_t count :
       {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{65535}}) {
    for (std::uint16_t dataSize : {std::uint16_t{0}, std::uint16_t{65535}}) {
      cases.push_back({"file track records: count " + std::to_string(count) +
                           ", data size " + std::to_string(dataSize),
                       [=] { return withFileTrackRecords(count, dataSize); }, 0,
                       bothFiles()});
    }
  }

  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    const Outcome outcome = runOn(row.image());
    EXPECT_EQ(outcome.run.status, row.status) << outcome.run.err;
    EXPECT_EQ(outcome.files, row.files);
  }
}

TEST(HostileImageTest, ZeroDirectoryRefusesEveryUnnamedEntry) {
  const Outcome outcome = runOn(withTrackEntry(1, 0x80000000u));
  ASSERT_EQ(outcome.run.status, 1);
  // The recognition line and 320 listing lines; one refusal per entry.
  EXPECT_EQ(std::count(outcome.run.out.begin(), outcome.run.out.end(), '\n'),
            321);
  EXPECT_EQ(std::count(outcome.run.err.begin(), outcome.run.err.end(), '\n'),
            320);
}

// The file name the tool derives from a 6-byte name field, or "" for an
// entry it must refuse.
std::string expectedFileName(const Bytes& field) {
  std::string name;
  for (unsigned char byte : field) {
    if (byte == ' ' || byte == 0) break;
    name.push_back(static_cast<char>(byte));
  }
  if (name == "." || name == ".." || name.find('/') != std::string::npos) {
    return "";
  }
  return name;
}

struct NamedDisk {
  Bytes image;
  Names files;
};

// A disk whose directory holds the given name fields, each entry naming
// HELLO's block, then an end mark and one more entry that must be ignored.
NamedDisk diskWithNames(const std::vector<Bytes>& fields) {
  d88test::Pc98Disk disk;
  const int block = disk.addFile("HELLO", d88test::text("hello\r\n"));
  NamedDisk named;
  Bytes directory;
  for (const Bytes& field : fields) {
    Bytes entry(16, 0);
    std::copy(field.begin(), field.end(), entry.begin());
    d88test::putLe16(entry, 12, static_cast<std::uint16_t>(block));
    d88test::putLe16(entry, 14, static_cast<std::uint16_t>(block));
    directory.insert(directory.end(), entry.begin(), entry.end());
    const std::string name = expectedFileName(field);
    if (!name.empty()) named.files.insert(name);
  }
  directory.resize(directory.size() + 16, 0xFF);
  Bytes after(16, 0);
  std::copy_n("AFTER ", 6, after.begin());
  directory.insert(directory.end(), after.begin(), after.end());
  directory.resize(5 * 1024, 0xFF);
  d88test::Image image = disk.toImage();
  image.tracks.erase(image.tracks.upper_bound(2), image.tracks.end());
  // Track 1, sectors 1 to 5 in stored order, is the directory.
  for (std::size_t r = 0; r < 5; ++r) {
    const auto from = directory.begin() + static_cast<std::ptrdiff_t>(r * 1024);
    image.tracks[1].records[r].data.assign(from, from + 1024);
  }
  named.image = d88test::build(image);
  return named;
}

TEST(HostileImageTest, NamesOfEveryByteValueStayInTheWorkingDirectory) {
  auto byte = [](int value) { return static_cast<unsigned char>(value); };
  // Every byte value but the end mark first in a name, and names that try
  // to leave the working directory.
  std::vector<Bytes> first;
  first.reserve(0xFF + 8);
  for (int v = 0; v < 0xFF; ++v) first.push_back({byte(v), '1', ' ', ' '});
  for (const char* path : {".     ", "..    ", "../up ", "/tmp/x", "a/b   ",
                           "..\\x  ", " lead ", "\0hid  "}) {
    first.emplace_back(path, path + 6);
  }
  // Every byte value in the other name positions.
  std::vector<Bytes> inside;
  inside.reserve(0x100);
  for (int v = 0; v <= 0xFF; ++v) {
    inside.push_back({'N', byte(v), 'M', byte(v), 'P', byte(v)});
  }

  for (const auto& [label, fields] :
       {std::pair{"first byte", first}, std::pair{"later bytes", inside}}) {
    SCOPED_TRACE(label);
    const NamedDisk disk = diskWithNames(fields);
    const Outcome outcome = runOn(disk.image);
    // Some names are refused, so the status is 1.
    EXPECT_EQ(outcome.run.status, 1);
    EXPECT_EQ(outcome.files, disk.files);
    EXPECT_EQ(outcome.files.count("AFTER"), 0u);
  }
}

// Lengths at which a prefix of the image cuts a structure: around each
// header field; around every field of the first and the last record of each
// track and inside the other records, where the same cuts would repeat; and
// a stride through the rest.
std::vector<std::size_t> cutPoints(const Bytes& image,
                                   const d88test::Layout& layout) {
  std::set<std::size_t> cuts = {
      0, 1, 0x1B, 0x1C, 0x1E, 0x20, 0x22, kHeaderSize - 1, kHeaderSize};
  for (int t = 0; t < 4; ++t) {
    const std::size_t field = d88test::Layout::trackTableField(t);
    cuts.insert({field, field + 2});
  }
  for (const auto& [track, places] : layout.records) {
    for (std::size_t i = 0; i < places.size(); ++i) {
      const d88test::Layout::RecordPlace& place = places[i];
      if (i != 0 && i + 1 != places.size()) {
        cuts.insert({place.header, place.header + 15, place.data + 512});
        continue;
      }
      for (std::size_t at :
           {place.header, place.header + 4, place.header + 5, place.header + 14,
            place.header + 15, place.data, place.data + 1, place.data + 1023}) {
        cuts.insert({at - 1, at});
      }
    }
  }
  for (std::size_t at = 0; at < image.size(); at += 1031) cuts.insert(at);
  std::vector<std::size_t> lengths;
  for (std::size_t at : cuts) {
    if (at < image.size()) lengths.push_back(at);
  }
  return lengths;
}

TEST(HostileImageTest, EveryCutOfASmallImageEndsCleanly) {
  d88test::Layout layout;
  const Bytes image = d88test::build(smallDisk(), &layout);
  ASSERT_EQ(image.size(), kHeaderSize + 4 * 5 * kRecordSize);
  for (std::size_t length : cutPoints(image, layout)) {
    SCOPED_TRACE("first " + std::to_string(length) + " bytes");
    const Outcome outcome = runOn(Bytes(
        image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length)));
    if (length < kHeaderSize) {
      // No complete header: no image.
      EXPECT_EQ(outcome.run.status, 1);
      EXPECT_EQ(outcome.run.err, kUnsupported);
      EXPECT_TRUE(outcome.files.empty());
    }
  }
}

}  // namespace
