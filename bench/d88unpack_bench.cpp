// Times d88unpack as a whole process on realistic and hostile images, side by
// side with the floor program (floor.c), and counts its system calls on the
// image file with strace.
//
//   d88unpack_bench [--runs N] [--hostile-runs N] [--no-strace] [--dir DIR]
//                   [--images LETTERS] [--tool PATH] [--floor PATH]
//   d88unpack_bench --write-images DIR
//
// --dir: where the scratch directory goes (default $TMPDIR, else /tmp);
// --images: which of the images below to run (default abcde); --tool and
// --floor: other programs in place of the built ones.
//
// Images, generated into a scratch directory with the test image builder:
//   a  a 2HD disk, 77 cylinders x 2 heads x 8 sectors of 1024 bytes, 100
//      files of about 7 KiB, records in order
//   b  the same disk with its sectors interleaved
//   c  every track entry pointing at one track of 65,535 empty records
//   d  the same with one data byte per record
//   e  154 tracks of empty records whose counts say 65,535, so every walk
//      reads on to the end of the file
// Each program runs in its own directory with stdout and stderr on
// /dev/null; runs alternate between the floor and d88unpack, and the figures
// are medians. RSS is the largest ru_maxrss of all runs.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "testing/d88_builder.h"

namespace {

namespace fs = std::filesystem;
using d88test::Bytes;

// Limits the figures are judged against.
constexpr double kRealisticRatio = 1.15;
constexpr long kRealisticCalls = 100;
constexpr double kEmptyRecordsSeconds = 0.5;
constexpr double kByteRecordsSeconds = 1.0;
constexpr long kMaxRssKiB = 5 * 1024;

constexpr int kMostRecords = 65535;

Bytes realisticImage(bool interleaved) {
  d88test::Pc98Disk disk(8);
  disk.diskName = "BENCH 2HD";
  if (interleaved) disk.interleave = {1, 4, 7, 2, 5, 8, 3, 6};
  for (int i = 0; i < 100; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "FILE%02d", i);
    disk.addFile(name, d88test::pattern(7000, static_cast<std::uint32_t>(i)));
  }
  return d88test::build(disk.toImage());
}

// One track of 65,535 records with dataBytes bytes each, behind every entry
// of the track table. Sector number 0 is never asked for, so every lookup
// walks all records.
Bytes oneLongTrackImage(std::size_t dataBytes) {
  d88test::Image image;
  image.name = "ONE LONG TRACK";
  for (int i = 0; i < kMostRecords; ++i) {
    image.addSector(0, 0, 0, 0, 3, Bytes(dataBytes, 0xE5));
  }
  const Bytes first = d88test::build(image);
  const std::uint32_t trackStart =
      static_cast<std::uint32_t>(first[0x20]) |
      static_cast<std::uint32_t>(first[0x21]) << 8 |
      static_cast<std::uint32_t>(first[0x22]) << 16 |
      static_cast<std::uint32_t>(first[0x23]) << 24;
  for (int t = 0; t < 164; ++t) image.trackOffsets[t] = trackStart;
  return d88test::build(image);
}

// 154 tracks of 425 empty records each, every record's count saying 65,535:
// no walk ends at its track's end, each reads on to the end of the file.
Bytes disagreeingCountsImage() {
  d88test::Image image;
  image.name = "DISAGREEING";
  for (int t = 0; t < 154; ++t) {
    for (int i = 0; i < 425; ++i) {
      image.addSector(t, t / 2, t % 2, 0, 3, {}).count =
          static_cast<std::uint16_t>(kMostRecords);
    }
  }
  return d88test::build(image);
}

std::int64_t nowNanoseconds() {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct Run {
  double seconds = 0;     // wall time, exec to reaped
  double cpuSeconds = 0;  // user + system
  long maxRssKiB = 0;
  int status = -1;
};

// Starts args in dir with stdout and stderr on /dev/null and waits for it.
// The child is forked, not spawned with a shared address space, so that its
// ru_maxrss counts only what the program itself touches; the clock starts in
// the child just before the exec, so the fork is not timed.
Run runProcess(const std::vector<std::string>& args, const std::string& dir) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  static auto* started = static_cast<std::atomic<std::int64_t>*>(
      mmap(nullptr, sizeof(std::atomic<std::int64_t>), PROT_READ | PROT_WRITE,
           MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  Run run;
  if (started == MAP_FAILED) return run;
  const pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0 ||
        chdir(dir.c_str()) != 0) {
      _exit(126);
    }
    close(null);
    started->store(nowNanoseconds());
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const std::int64_t end = nowNanoseconds();
  run.seconds = static_cast<double>(end - started->load()) * 1e-9;
  run.cpuSeconds =
      static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) *
          1e-6;
  run.maxRssKiB = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (run.status == 127) {
    std::fprintf(stderr, "d88unpack_bench: cannot start %s\n", argv[0]);
  }
  return run;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  if (n == 0) return 0;
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct FileCalls {
  long calls = 0;  // every system call on the file, open and close included
  long long bytesRead = 0;
  std::map<std::string, long> byName;
  bool traced = false;
};

// Counts the system calls that an strace -f log shows on the file `path`:
// from the open that returned its descriptor to the close of it.
FileCalls countFileCalls(const std::string& log, const std::string& path) {
  FileCalls result;
  std::ifstream in(log);
  std::string line;
  std::map<std::string, std::string> openFd;  // pid -> descriptor
  const std::string quoted = "\"" + path + "\"";
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string pid;
    words >> pid;
    std::string rest;
    std::getline(words, rest);
    rest.erase(0, rest.find_first_not_of(' '));
    const std::size_t paren = rest.find('(');
    if (paren == std::string::npos) continue;
    const std::string name = rest.substr(0, paren);
    // strace pads the line before " = RESULT"; strings are cut by -s 0.
    const std::size_t equals = rest.rfind(" = ");
    const std::string value =
        equals == std::string::npos ? "" : rest.substr(equals + 3);
    const long long returned =
        value.empty() ? -1 : std::strtoll(value.c_str(), nullptr, 10);

    if ((name == "openat" || name == "open") &&
        rest.find(quoted) != std::string::npos && returned >= 0) {
      openFd[pid] = std::to_string(returned);
      result.traced = true;
      ++result.calls;
      ++result.byName[name];
      continue;
    }
    const auto fd = openFd.find(pid);
    if (fd == openFd.end()) continue;
    const std::size_t argEnd = rest.find_first_of(",)", paren);
    if (rest.substr(paren + 1, argEnd - paren - 1) != fd->second) continue;
    ++result.calls;
    ++result.byName[name];
    if ((name == "read" || name == "pread64" || name == "readv") &&
        returned > 0) {
      result.bytesRead += returned;
    }
    if (name == "close") openFd.erase(fd);
  }
  return result;
}

FileCalls traceFileCalls(const std::string& program, const std::string& image,
                         const std::string& dir, const std::string& log) {
  const Run run = runProcess(
      {"strace", "-f", "-qq", "-s", "0", "-o", log, "--", program, image}, dir);
  if (run.status == -1 || !fs::exists(log)) return FileCalls{};
  return countFileCalls(log, image);
}

std::map<std::string, Bytes> filesIn(const std::string& dir) {
  std::map<std::string, Bytes> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    files[entry.path().filename().string()] =
        Bytes(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

struct Case {
  const char* key;
  const char* label;
  Bytes (*make)();
  bool realistic;
  double limitSeconds;  // hostile images: the median's limit
};

constexpr Case kCases[] = {
    {"a", "realistic 2HD, in order", [] { return realisticImage(false); }, true,
     0},
    {"b", "realistic 2HD, interleaved", [] { return realisticImage(true); },
     true, 0},
    {"c", "one track, 65,535 empty records",
     [] { return oneLongTrackImage(0); }, false, kEmptyRecordsSeconds},
    {"d", "one track, 65,535 1-byte records",
     [] { return oneLongTrackImage(1); }, false, kByteRecordsSeconds},
    {"e", "counts disagree, walks to the end", disagreeingCountsImage, false,
     kEmptyRecordsSeconds},
};

void writeImages(const fs::path& dir) {
  for (const Case& c : kCases) {
    d88test::writeFile((dir / (std::string(c.key) + ".d88")).string(),
                       c.make());
  }
}

// Runs work in a forked child and returns its exit status. Whatever it
// allocates dies with it, so the benchmark's own memory stays small: a
// forked program starts with the parent's resident pages counted in its
// ru_maxrss.
template <typename Work>
int inChild(Work work) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) _exit(work());
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string describeCalls(const FileCalls& calls) {
  if (!calls.traced) return "not traced";
  std::string text = std::to_string(calls.calls) + " calls (";
  bool first = true;
  for (const auto& [name, count] : calls.byName) {
    text += (first ? "" : ", ") + name + " " + std::to_string(count);
    first = false;
  }
  return text + "), " + std::to_string(calls.bytesRead) + " bytes read";
}

std::string firstLine(const char* path, const std::string& key) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) == 0) return line;
  }
  return "";
}

std::string machine() {
  std::string model = firstLine("/proc/cpuinfo", "model name");
  const std::size_t colon = model.find(':');
  model = colon == std::string::npos ? "unknown CPU" : model.substr(colon + 2);
  return std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, " + model;
}

std::string loadAverage() {
  std::string load = firstLine("/proc/loadavg", "");
  return load.substr(0, load.find(' ', load.find(' ', load.find(' ') + 1) + 1));
}

// The kind of file system the scratch directory is on: output files cost
// much more on a journalling disk file system than in memory.
std::string fileSystem(const std::string& dir) {
  struct statfs info {};
  if (statfs(dir.c_str(), &info) != 0) return "unknown";
  switch (info.f_type) {
    case 0xEF53:
      return "ext4";
    case 0x01021994:
      return "tmpfs";
    case 0x58465342:
      return "xfs";
    case 0x9123683E:
      return "btrfs";
    case 0x794C7630:
      return "overlayfs";
    default: {
      char hex[24];
      std::snprintf(hex, sizeof hex, "type %#lx",
                    static_cast<unsigned long>(info.f_type));
      return hex;
    }
  }
}

int usage() {
  std::fprintf(stderr,
               "usage: d88unpack_bench [--runs N] [--hostile-runs N] "
               "[--no-strace] [--dir DIR]\n"
               "                       [--images LETTERS] [--tool PATH] "
               "[--floor PATH]\n"
               "       d88unpack_bench --write-images DIR\n");
  return 2;
}

struct Options {
  int realisticRuns = 101;
  int hostileRuns = 7;
  bool trace = true;
  std::string tool = D88UNPACK_TOOL_PATH;
  std::string floorProgram = D88UNPACK_FLOOR_PATH;
  std::string scratchBase = "/tmp";
  std::string only = "abcde";
  std::optional<std::string> writeImagesTo;  // --write-images: only that
};

// A run count: a whole decimal number, and at least one run whatever it says.
std::optional<int> parseRuns(const char* text) {
  const char* end = text + std::strlen(text);
  int value = 0;
  const std::from_chars_result parsed = std::from_chars(text, end, value);
  if (parsed.ec != std::errc{} || parsed.ptr != end) return std::nullopt;
  return std::max(1, value);
}

// The options, or nothing for a command line that usage() does not show.
// --write-images ends the parsing: writing the images is all that is done.
std::optional<Options> parseArguments(int argc, char** argv) {
  Options options;
  const char* tmp = std::getenv("TMPDIR");
  if (tmp != nullptr && *tmp != '\0') options.scratchBase = tmp;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--no-strace") {
      options.trace = false;
      continue;
    }
    if (i + 1 >= argc) return std::nullopt;
    const char* value = argv[++i];
    if (arg == "--runs" || arg == "--hostile-runs") {
      const std::optional<int> runs = parseRuns(value);
      if (!runs) return std::nullopt;
      (arg == "--runs" ? options.realisticRuns : options.hostileRuns) = *runs;
    } else if (arg == "--tool") {
      options.tool = fs::absolute(value).string();
    } else if (arg == "--floor") {
      options.floorProgram = fs::absolute(value).string();
    } else if (arg == "--write-images") {
      options.writeImagesTo = value;
      return options;
    } else if (arg == "--images") {
      options.only = value;
    } else if (arg == "--dir") {
      options.scratchBase = value;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

// The figures of one image's timed runs.
struct Timings {
  double toolMedian = 0;
  double floorMedian = 0;
  double ratio = 0;     // of the medians
  double cpuRatio = 0;  // of the CPU times' medians
  long toolRss = 0;
  long floorRss = 0;
};

// Runs the floor and d88unpack `runs` times each, alternating. The RSS of
// d88unpack counts its first, untimed run too.
Timings timeRuns(const Options& options, const fs::path& image,
                 const fs::path& toolDir, const fs::path& floorDir, int runs,
                 long firstToolRss) {
  std::vector<double> toolTimes;
  std::vector<double> floorTimes;
  std::vector<double> toolCpu;
  std::vector<double> floorCpu;
  const auto count = static_cast<std::size_t>(runs);
  toolTimes.reserve(count);
  floorTimes.reserve(count);
  toolCpu.reserve(count);
  floorCpu.reserve(count);
  Timings timings;
  timings.toolRss = firstToolRss;
  for (int i = 0; i < runs; ++i) {
    const Run f =
        runProcess({options.floorProgram, image.string()}, floorDir.string());
    const Run t = runProcess({options.tool, image.string()}, toolDir.string());
    floorTimes.push_back(f.seconds);
    toolTimes.push_back(t.seconds);
    floorCpu.push_back(f.cpuSeconds);
    toolCpu.push_back(t.cpuSeconds);
    timings.floorRss = std::max(timings.floorRss, f.maxRssKiB);
    timings.toolRss = std::max(timings.toolRss, t.maxRssKiB);
  }
  timings.toolMedian = median(toolTimes);
  timings.floorMedian = median(floorTimes);
  timings.ratio = timings.toolMedian / timings.floorMedian;
  timings.cpuRatio = median(toolCpu) / median(floorCpu);
  return timings;
}

// Whether both directories hold the same 100 files, compared in a child so
// that the files' bytes do not swell the benchmark's own memory.
bool sameFilesWritten(const fs::path& toolDir, const fs::path& floorDir) {
  return inChild([&] {
           const auto files = filesIn(toolDir.string());
           return files.size() == 100 && files == filesIn(floorDir.string())
                      ? 0
                      : 1;
         }) == 0;
}

bool meetsLimits(const Case& c, const Timings& timings,
                 const FileCalls& calls) {
  if (timings.toolRss > kMaxRssKiB) return false;
  if (c.realistic) {
    return timings.ratio <= kRealisticRatio &&
           (!calls.traced || calls.calls <= kRealisticCalls);
  }
  return timings.toolMedian <= c.limitSeconds;
}

void printHeader(const Options& options, const fs::path& scratch) {
  char date[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  std::printf("%s; %s; load average %s; scratch in %s (%s)\n", date,
              machine().c_str(), loadAverage().c_str(),
              options.scratchBase.c_str(),
              fileSystem(scratch.string()).c_str());
  std::printf(
      "runs: %d per realistic image, %d per hostile one, floor and "
      "d88unpack alternating; times are medians, RSS the largest\n\n",
      options.realisticRuns, options.hostileRuns);
  std::printf("%-36s %7s %10s %10s %6s %6s %8s %8s %6s %11s\n", "image", "KiB",
              "d88unpack", "floor", "ratio", "cpu", "RSS KiB", "floor", "calls",
              "bytes read");
}

void printRow(const Case& c, const fs::path& image, const Timings& timings,
              const FileCalls& calls, bool met) {
  const std::string label = std::string(c.key) + "  " + c.label;
  std::printf(
      "%-36s %7ju %8.2fms %8.2fms %6.2f %6.2f %8ld %8ld %6s %11s%s\n",
      label.c_str(), static_cast<std::uintmax_t>(fs::file_size(image) / 1024),
      timings.toolMedian * 1e3, timings.floorMedian * 1e3, timings.ratio,
      timings.cpuRatio, timings.toolRss, timings.floorRss,
      calls.traced ? std::to_string(calls.calls).c_str() : "-",
      calls.traced ? std::to_string(calls.bytesRead).c_str() : "-",
      met ? "" : "  over the limit");
  std::fflush(stdout);
}

// What the images' rows add up to, for the lines after the table.
struct Summary {
  std::vector<std::string> callLines;
  bool allMet = true;
};

// Runs one image and prints its row; false, with a message, if d88unpack
// and the floor do not write the same files of a realistic image.
bool runCase(const Case& c, const Options& options, const fs::path& scratch,
             Summary& summary) {
  const fs::path image = scratch / (std::string(c.key) + ".d88");
  const fs::path toolDir = scratch / (std::string(c.key) + "-d88unpack");
  const fs::path floorDir = scratch / (std::string(c.key) + "-floor");
  fs::create_directory(toolDir);
  fs::create_directory(floorDir);

  // A first run of each, also to check that the floor does the same work.
  const Run toolFirst =
      runProcess({options.tool, image.string()}, toolDir.string());
  runProcess({options.floorProgram, image.string()}, floorDir.string());
  if (c.realistic &&
      (toolFirst.status != 0 || !sameFilesWritten(toolDir, floorDir))) {
    std::fprintf(stderr,
                 "d88unpack_bench: %s: d88unpack (status %d) and the floor "
                 "do not write the same files\n",
                 c.key, toolFirst.status);
    return false;
  }

  const Timings timings =
      timeRuns(options, image, toolDir, floorDir,
               c.realistic ? options.realisticRuns : options.hostileRuns,
               toolFirst.maxRssKiB);

  FileCalls calls;
  if (options.trace) {
    const fs::path traceDir = scratch / (std::string(c.key) + "-strace");
    fs::create_directory(traceDir);
    calls =
        traceFileCalls(options.tool, image.string(), traceDir.string(),
                       (scratch / (std::string(c.key) + ".strace")).string());
    summary.callLines.push_back(std::string(c.key) + ": " +
                                describeCalls(calls));
  }

  const bool met = meetsLimits(c, timings, calls);
  summary.allMet = summary.allMet && met;
  printRow(c, image, timings, calls, met);
  return true;
}

void printFooter(const Summary& summary) {
  std::printf("\nd88unpack's system calls on the image file (strace -f):\n");
  for (const std::string& line : summary.callLines) {
    std::printf("  %s\n", line.c_str());
  }
  std::printf(
      "\nlimits: realistic (a, b) <= %.2fx the floor and <= %ld calls on the "
      "image; c, e <= %.1f s; d <= %.1f s; RSS <= %ld KiB: %s\n"
      "load average at the end %s\n",
      kRealisticRatio, kRealisticCalls, kEmptyRecordsSeconds,
      kByteRecordsSeconds, kMaxRssKiB,
      summary.allMet ? "all met" : "NOT all met", loadAverage().c_str());
}

int runBenchmark(const Options& options) {
  // Absolute, as the programs run in directories of their own.
  std::string scratchTemplate =
      fs::absolute(options.scratchBase).string() + "/d88unpack_bench.XXXXXX";
  if (mkdtemp(scratchTemplate.data()) == nullptr) {
    std::perror("d88unpack_bench: mkdtemp");
    return 1;
  }
  const fs::path scratch = scratchTemplate;

  if (inChild([&] {
        writeImages(scratch);
        return 0;
      }) != 0) {
    std::fprintf(stderr, "d88unpack_bench: cannot write the images\n");
    return 1;
  }

  printHeader(options, scratch);
  Summary summary;
  for (const Case& c : kCases) {
    if (options.only.find(c.key) == std::string::npos) continue;
    if (!runCase(c, options, scratch, summary)) return 1;
  }
  printFooter(summary);
  fs::remove_all(scratch);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = parseArguments(argc, argv);
  if (!options) return usage();
  if (options->writeImagesTo) {
    writeImages(*options->writeImagesTo);
    return 0;
  }
  return runBenchmark(*options);
}
