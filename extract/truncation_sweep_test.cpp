// Every prefix of a small disk image, run in process through the reader and
// the whole extraction: each must end cleanly (the sanitizer builds check
// the "cleanly") and write nothing but the directory's own files, in the
// current directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "d88/d88_reader.h"
#include "extract/extract.h"
#include "testing/d88_builder.h"
#include "testing/tool_runner.h"

namespace {

namespace fs = std::filesystem;
using d88test::Bytes;

// Points stdout and stderr at /dev/null and back: the sweep would print
// thousands of listing and refusal lines.
class QuietConsole {
 public:
  QuietConsole() {
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut = dup(STDOUT_FILENO);
    savedErr = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    close(null);
  }
  ~QuietConsole() {
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    close(savedOut);
    close(savedErr);
  }
  QuietConsole(const QuietConsole&) = delete;
  QuietConsole& operator=(const QuietConsole&) = delete;

 private:
  int savedOut = -1;
  int savedErr = -1;
};

std::string asString(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Runs in the scratch directory and returns to where it was.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& path)
      : previous(fs::current_path()) {
    fs::current_path(path);
  }
  ~WorkingDirectory() { fs::current_path(previous); }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  fs::path previous;
};

TEST(ExtractFiles, EveryPrefixOfASmallImageEndsCleanly) {
  // The directory track and one data track holding two files, its records
  // stored in reverse so the walks go back and forth.
  d88test::Pc98Disk disk;
  disk.addFile("FIRST", d88test::pattern(2048, 1));   // blocks 10, 11
  disk.addFile("SECOND", d88test::pattern(3072, 2));  // blocks 12 to 14
  d88test::Image image = disk.toImage();
  std::erase_if(image.tracks,
                [](const auto& track) { return track.first > 2; });
  image.tracks.erase(0);
  auto& records = image.tracks.at(2).records;
  std::reverse(records.begin(), records.end());
  const Bytes bytes = d88test::build(image);

  d88test::ScratchDir images;
  d88test::ScratchDir work;
  const WorkingDirectory inWork(work.path());
  static d88::D88Reader reader;
  for (std::size_t length = 0; length <= bytes.size(); ++length) {
    // A new name for every prefix: rewriting one file this often is slow on
    // some file systems.
    const std::string path = images.file(std::to_string(length));
    d88test::writeFile(
        path, Bytes(bytes.begin(),
                    bytes.begin() + static_cast<std::ptrdiff_t>(length)));
    bool recognised = false;
    {
      const QuietConsole quiet;
      ASSERT_TRUE(reader.open(path.c_str()));
      reader.selectImage(0);
      recognised = reader.getMediaType() == d88::kMedia2HD;
      if (recognised) {
        reader.setSectorRange(1, extract::kSectorsPerTrack);
        extract::extractFiles(reader, path.c_str());
      }
      reader.open(nullptr);
    }
    fs::remove(path);

    // Before the header is whole nothing is recognised. From then on the
    // files are the directory's as far as the image goes: a name cut short
    // is a prefix of an entry's name, and a cut-off entry reads as block
    // numbers of 0, so no file is larger than the largest entry.
    EXPECT_EQ(recognised, length >= 0x2B0) << "length " << length;
    std::map<std::string, std::string> found;
    for (const auto& file : fs::directory_iterator(work.path())) {
      const std::string name = file.path().filename().string();
      ASSERT_TRUE(file.is_regular_file())
          << "length " << length << ": " << name;
      ASSERT_TRUE(std::string("FIRST").starts_with(name) ||
                  std::string("SECOND").starts_with(name))
          << "length " << length << ": " << name;
      EXPECT_EQ(file.file_size() % 1024, 0u) << name;
      EXPECT_LE(file.file_size(), 3072u) << name;
      found[name] = d88test::readFile(file.path().string());
      fs::remove(file.path());
    }
    if (length == bytes.size()) {
      const std::map<std::string, std::string> whole = {
          {"FIRST", asString(d88test::pattern(2048, 1))},
          {"SECOND", asString(d88test::pattern(3072, 2))}};
      EXPECT_EQ(found, whole);
    }
  }
}

}  // namespace
