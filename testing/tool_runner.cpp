#include "testing/tool_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace d88test {

namespace {

std::string drain(int fd) {
  std::string bytes;
  lseek(fd, 0, SEEK_SET);
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

// An unlinked temporary file: the child writes a stream there without the
// file ever appearing in its working directory.
int anonymousFile() {
  char name[] = "/tmp/d88test-stream-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  unlink(name);
  return fd;
}

}  // namespace

RunResult runProgram(const std::vector<std::string>& args,
                     const RunOptions& options) {
  if (args.empty()) throw std::invalid_argument("no program to run");
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const int outFd = anonymousFile();
  const int errFd = anonymousFile();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    const int nullFd = ::open("/dev/null", O_RDONLY);
    if (nullFd >= 0) dup2(nullFd, STDIN_FILENO);
    if (chdir(options.workDir.c_str()) != 0) _exit(126);
    if (options.fileSizeLimit >= 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{static_cast<rlim_t>(options.fileSizeLimit),
                         static_cast<rlim_t>(options.fileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    alarm(static_cast<unsigned>(options.timeoutSeconds));
    execv(argv[0], argv.data());
    _exit(127);
  }

  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  RunResult result;
  result.status =
      WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  result.out = drain(outFd);
  result.err = drain(errFd);
  close(outFd);
  close(errFd);
  return result;
}

ScratchDir::ScratchDir() {
  char name[] = "/tmp/d88test-XXXXXX";
  if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
  root = name;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // Make everything removable first: a test may leave a read-only folder.
  std::filesystem::permissions(root, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(root, ignored);
}

std::vector<std::string> ScratchDir::list() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(root)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::map<std::string, std::string> snapshot(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().string().substr(root.size() + 1);
    const fs::file_status status = entry.symlink_status();
    if (fs::is_symlink(status)) {
      tree[name] = "link:" + fs::read_symlink(entry.path()).string();
    } else if (fs::is_directory(status)) {
      tree[name] = "dir";
    } else if (fs::is_regular_file(status)) {
      tree[name] = "file:" + readFile(entry.path().string());
    } else {
      tree[name] = "other";
    }
  }
  return tree;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string toolPath() { return D88UNPACK_TOOL_PATH; }

}  // namespace d88test
