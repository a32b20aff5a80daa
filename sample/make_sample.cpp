// Writes the bundled sample: a 2HD PC-98 disk (77 cylinders, 2 heads, 8
// sectors of 1024 bytes, stored interleaved) holding the text files named on
// the command line and one binary table.
//
//   make_sample OUTPUT NAME=FILE...
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "testing/d88_builder.h"

namespace {

// A quarter-wave sine table of 1024 signed 16-bit little-endian values, the
// kind of thing a game disk carries.
d88test::Bytes sineTable() {
  d88test::Bytes table(2048);
  for (int i = 0; i < 1024; ++i) {
    const double angle = (3.14159265358979323846 / 2) * i / 1024;
    const auto value = static_cast<std::uint16_t>(
        static_cast<std::int16_t>(std::lround(32767 * std::sin(angle))));
    d88test::putLe16(table, 2 * static_cast<std::size_t>(i), value);
  }
  return table;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_sample OUTPUT NAME=FILE...\n");
    return 2;
  }
  d88test::Pc98Disk disk(8);
  disk.diskName = "SAMPLE DISK";
  disk.interleave = {1, 4, 7, 2, 5, 8, 3, 6};
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::size_t eq = arg.find('=');
    if (eq == std::string::npos) {
      std::fprintf(stderr, "make_sample: %s: expected NAME=FILE\n", argv[i]);
      return 2;
    }
    std::ifstream in(arg.substr(eq + 1), std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "make_sample: cannot read %s\n", argv[i]);
      return 2;
    }
    const d88test::Bytes content{std::istreambuf_iterator<char>(in), {}};
    disk.addFile(arg.substr(0, eq), content);
  }
  disk.addFile("SINTAB", sineTable());
  d88test::writeFile(argv[1], d88test::build(disk.toImage()));
  return 0;
}
