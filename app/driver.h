// The command line of d88unpack:
//
//   d88unpack D88FILE [IGNORED [IGNORED]]
//
// Opens the image file, selects its first image, accepts 2DD and 2HD media,
// and extracts the disk's files into the current directory.
#pragma once

// Runs the whole program on an argument vector and returns the exit status:
// 0 when every file was written; 1 for a wrong argument count, an image file
// that cannot be opened, an unsupported image, or any entry not written.
int runDriver(int argc, char** argv);
