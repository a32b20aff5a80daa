#include "extract/extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "d88/little_endian.h"

namespace extract {

unsigned char diskBuffer[kDiskBytes];
unsigned char directoryBuffer[kTrackBytes];

namespace {

bool isSameFile(const struct stat& info, const FileIdentity& identity) {
  return identity.known && info.st_dev == identity.device &&
         info.st_ino == identity.inode;
}

bool fail(SaveFailure& failure, const char* reason, int error) {
  failure.reason = reason;
  failure.error = error;
  return false;
}

bool writeAll(int fd, const unsigned char* data, std::int32_t size) {
  std::int32_t done = 0;
  while (done < size) {
    const ssize_t wrote =
        write(fd, data + done, static_cast<std::size_t>(size - done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::int32_t>(wrote);
  }
  return true;
}

// A name that stays inside the current directory and names a file there.
bool isSafeName(const char* name) {
  return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
         std::strchr(name, '/') == nullptr;
}

// The name as it stands, but for control bytes, which are written as \xNN
// so that every refusal stays on one line.
void printName(const char* name) {
  for (const char* p = name; *p != '\0'; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte < 0x20 || byte == 0x7F) {
      std::fprintf(stderr, "\\x%02x", static_cast<unsigned>(byte));
    } else {
      std::fputc(byte, stderr);
    }
  }
}

void report(const char* name, const SaveFailure& failure) {
  // The refusal follows its listing line also when both streams go to one
  // file.
  std::fflush(stdout);
  std::fputs("d88unpack: ", stderr);
  printName(name);
  if (failure.error != 0) {
    std::fprintf(stderr, ": %s: %s\n", failure.reason,
                 std::strerror(failure.error));
  } else {
    std::fprintf(stderr, ": %s\n", failure.reason);
  }
}

FileIdentity identify(const char* path) {
  FileIdentity identity;
  struct stat info {};
  if (path != nullptr && stat(path, &info) == 0) {
    identity.known = true;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
  }
  return identity;
}

}  // namespace

void assembleDisk(d88::D88Reader& reader) {
  std::memset(diskBuffer, 0, sizeof diskBuffer);
  std::memset(directoryBuffer, 0, sizeof directoryBuffer);
  for (std::int32_t t = 1; t < kTrackCount; ++t) {
    reader.readSectors(t, t / 2, t % 2, 1, kSizeCode,
                       diskBuffer + t * kTrackBytes, kTrackBytes);
  }
  reader.readSectors(kDirectoryTrack, kDirectoryTrack / 2, kDirectoryTrack % 2,
                     1, kSizeCode, directoryBuffer, kTrackBytes);
}

bool saveFile(const char* path, const unsigned char* data, std::int32_t size,
              const FileIdentity& protect, SaveFailure& failure) {
  failure = SaveFailure{};
  // Look before opening so that a refused name is not even opened; the
  // checks are repeated on the opened file against a swap in between.
  struct stat info {};
  if (lstat(path, &info) == 0) {
    if (S_ISLNK(info.st_mode)) {
      return fail(failure, "is a symbolic link, not written", 0);
    }
    if (isSameFile(info, protect)) {
      return fail(failure, "is the input image, not overwritten", 0);
    }
    if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
      return fail(failure, "is not a regular file, not written", 0);
    }
  }

  // No O_TRUNC yet: the file is emptied only once it is known to be a
  // regular file other than the image. O_NONBLOCK keeps a FIFO from hanging
  // the open.
  const int fd = ::open(
      path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return fail(failure, "cannot create", errno);
  if (fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    return fail(failure, "cannot create", error);
  }
  if (!S_ISREG(info.st_mode) || isSameFile(info, protect)) {
    ::close(fd);
    return fail(failure,
                S_ISREG(info.st_mode) ? "is the input image, not overwritten"
                                      : "is not a regular file, not written",
                0);
  }
  if (ftruncate(fd, 0) != 0 || !writeAll(fd, data, size)) {
    const int error = errno;
    // A cut-off copy must not pass for the file: remove it, as long as the
    // name still refers to the file written here.
    struct stat now {};
    if (lstat(path, &now) == 0 && now.st_dev == info.st_dev &&
        now.st_ino == info.st_ino) {
      unlink(path);
    }
    ::close(fd);
    return fail(failure, "cannot write", error);
  }
  if (::close(fd) != 0) return fail(failure, "cannot close", errno);
  return true;
}

bool saveSectorRun(d88::D88Reader& reader, const char* path, std::int32_t track,
                   std::int32_t c, std::int32_t h, std::int32_t r,
                   std::int32_t n, std::int32_t skip, std::int32_t length,
                   SaveFailure& failure) {
  failure = SaveFailure{};
  // Compared before adding, so skip + length cannot overflow.
  if (skip < 0 || length < 0 || skip > kDiskBytes - length) {
    return fail(failure, "sector run does not fit the disk buffer", 0);
  }
  const std::int32_t total = skip + length;
  // Bytes of a sector that the image file cuts off read as zeros, never as
  // what an earlier call left in the buffer.
  std::memset(diskBuffer, 0, static_cast<std::size_t>(total));
  const std::int32_t got =
      reader.readSectors(track, c, h, r, n, diskBuffer, total);
  if (got == 0 || got < total) {
    return fail(failure, "sector run is incomplete, not written", 0);
  }
  return saveFile(path, diskBuffer + skip, length, FileIdentity{}, failure);
}

bool extractFiles(d88::D88Reader& reader, const char* imagePath) {
  assembleDisk(reader);
  const FileIdentity image = identify(imagePath);

  bool allWritten = true;
  for (std::int32_t j = 0; j < kDirectoryEntries; ++j) {
    const unsigned char* entry = directoryBuffer + j * kEntrySize;
    if (entry[0] == kEndMark) break;

    // The name ends at its first space; a 0x00 byte ends it as a string.
    char name[kNameLength + 1] = {};
    for (std::int32_t i = 0; i < kNameLength && entry[i] != ' '; ++i) {
      name[i] = static_cast<char>(entry[i]);
    }
    const std::int32_t start = d88::decodeLe16(entry + kStartBlockOffset);
    const std::int32_t end = d88::decodeLe16(entry + kEndBlockOffset);
    // Both are 0..65535, so the size stays within +-2^26.
    const std::int32_t size = (end - start + 1) * kBlockSize;
    std::printf("%-6s  START:%04x  END:%04x  SIZE:%04x\n", name,
                static_cast<unsigned>(start), static_cast<unsigned>(end),
                static_cast<unsigned>(size));

    SaveFailure failure;
    bool written = false;
    if (name[0] == '\0') {
      failure.reason = "empty file name, not written";
    } else if (!isSafeName(name)) {
      failure.reason = "unsafe file name, not written";
    } else if (size < 0) {
      failure.reason = "ends before it starts, not written";
    } else if (size > 0 && end >= kBlockCount) {
      failure.reason = "extends past the end of the disk, not written";
    } else {
      // An empty file reads nothing, whatever its start block.
      const unsigned char* data =
          size > 0 ? diskBuffer + start * kBlockSize : diskBuffer;
      written = saveFile(name, data, size, image, failure);
    }
    if (!written) {
      report(name, failure);
      allWritten = false;
    }
  }
  return allWritten;
}

}  // namespace extract
