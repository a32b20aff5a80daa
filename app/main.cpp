// d88unpack: lists and extracts the files of a PC-98 disk stored in a D88
// image file.
#include "app/driver.h"

int main(int argc, char** argv) { return runDriver(argc, argv); }
