#include "fuzz/fuzz_workdir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fuzzing {

namespace {

namespace fs = std::filesystem;

fs::path root;  // holds only work/
fs::path work;  // the current directory of the run
int startDir = -1;

[[noreturn]] void die(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz work dir: %s: %s\n", what, detail.c_str());
  std::abort();
}

void removeRoot() {
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

std::vector<std::uint8_t> readImage() {
  std::vector<std::uint8_t> bytes;
  std::FILE* f = std::fopen(kImageName, "rb");
  if (f == nullptr) die("image file gone", kImageName);
  std::uint8_t buffer[65536];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, f);
    bytes.insert(bytes.end(), buffer, buffer + got);
    if (got < sizeof buffer) break;
  }
  std::fclose(f);
  return bytes;
}

}  // namespace

void createWorkDir() {
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/d88fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) die("mkdtemp", pattern);
  root = pattern;
  work = root / "work";
  std::error_code error;
  fs::create_directory(work, error);
  if (error) die("create", work.string());
  startDir = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (startDir < 0) die("cannot open", ".");
  std::atexit(removeRoot);
}

void enterWorkDir() {
  if (chdir(work.c_str()) != 0) die("chdir", work.string());
}

void leaveWorkDir() {
  if (fchdir(startDir) != 0) die("fchdir", "the start directory");
}

void writeImage(const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(kImageName, "wb");
  if (f == nullptr) die("cannot create", kImageName);
  if (size > 0 && std::fwrite(data, 1, size, f) != size) {
    die("cannot write", kImageName);
  }
  if (std::fclose(f) != 0) die("cannot close", kImageName);
}

void checkAndClean(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> image = readImage();
  if (image.size() != size ||
      (size > 0 && std::memcmp(image.data(), data, size) != 0)) {
    die("image file changed", kImageName);
  }
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(root, error)) {
    if (entry.path() != work) die("entry outside the work dir", entry.path());
  }
  if (error) die("cannot list", root.string());
  std::vector<fs::path> written;
  for (const fs::directory_entry& entry : fs::directory_iterator(work, error)) {
    // The extraction creates regular files only, never links.
    if (entry.symlink_status(error).type() != fs::file_type::regular) {
      die("not a regular file", entry.path());
    }
    if (entry.path().filename() != kImageName) written.push_back(entry.path());
  }
  if (error) die("cannot list", work.string());
  for (const fs::path& path : written) {
    if (!fs::remove(path, error)) die("cannot remove", path.string());
  }
}

void quietTargetOutput(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i) {
    if (std::strncmp((*argv)[i], "-close_fd_mask=", 15) == 0) return;
  }
  // libFuzzer reads its flags after this hook, from the vector left here.
  static std::vector<char*> args;
  static char flag[] = "-close_fd_mask=3";
  args.assign(*argv, *argv + *argc);
  args.insert(args.begin() + 1, flag);
  args.push_back(nullptr);
  *argc += 1;
  *argv = args.data();
}

}  // namespace fuzzing
