// The working directory the fuzz targets run in: a fresh directory under
// /dev/shm (or /tmp) that holds the image file under test and whatever an
// extraction writes next to it. The target enters it for each input and
// returns to the directory it started in afterwards, since libFuzzer reads
// and writes its corpus and artifacts by paths relative to that one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzzing {

// Name of the image file inside the working directory. Six bytes, so that a
// directory entry can name it and the protection of the input is exercised.
inline constexpr const char* kImageName = "D88IMG";

// Creates the directory, which is removed again at exit. Aborts when that
// fails: a fuzz run must not write into the caller's directory.
void createWorkDir();

// Enters the directory / goes back to the one the process started in.
void enterWorkDir();
void leaveWorkDir();

// Writes data as the image file, replacing the former one.
void writeImage(const std::uint8_t* data, std::size_t size);

// Aborts unless the image file still holds exactly data and everything else
// in the working directory is a regular file; an escape above the working
// directory shows as a new entry in its parent, which is checked too. Then
// removes every file but the image.
void checkAndClean(const std::uint8_t* data, std::size_t size);

// Adds -close_fd_mask=3 to libFuzzer's arguments unless one is given: the
// code under test prints a line per directory entry, while libFuzzer's own
// output and sanitizer reports stay on the original stderr.
void quietTargetOutput(int* argc, char*** argv);

}  // namespace fuzzing
