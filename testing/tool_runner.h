// Runs a program as a child process in a given directory and captures what
// it leaves: its exact stdout and stderr bytes and its exit status. For the
// end-to-end tests, which run the real d88unpack.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace d88test {

struct RunResult {
  int status = -1;  // exit status; 128 + signal number when killed
  std::string out;  // stdout bytes
  std::string err;  // stderr bytes
};

struct RunOptions {
  std::string workDir = ".";
  // File-size limit (RLIMIT_FSIZE) in bytes for the child, or -1 for none;
  // SIGXFSZ is ignored so that a write past it fails with EFBIG.
  std::int64_t fileSizeLimit = -1;
  int timeoutSeconds = 60;  // then SIGALRM ends the child (status 142)
};

// args[0] is the program to execute and also its argv[0].
RunResult runProgram(const std::vector<std::string>& args,
                     const RunOptions& options = {});

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return root; }
  std::string file(const std::string& name) const { return root + "/" + name; }
  // Names of the entries in the directory, sorted; "." and ".." left out.
  std::vector<std::string> list() const;

 private:
  std::string root;
};

// Everything below root, by path relative to it: "file:" and the bytes,
// "dir", "link:" and the target (never followed), or "other".
std::map<std::string, std::string> snapshot(const std::string& root);

// The file's whole contents; throws when it cannot be read.
std::string readFile(const std::string& path);

// The built d88unpack executable, set by the build.
std::string toolPath();

}  // namespace d88test
