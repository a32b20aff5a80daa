// Writes the seed corpora of the fuzz targets, built with the image builder:
//
//   make_fuzz_corpus EXTRACT_DIR SECTORS_DIR
//
// The extraction target gets images as they are; the sector target gets the
// same images behind argument blocks that read the directory track, a run
// across tracks and a listing of sector IDs.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "testing/d88_builder.h"

namespace {

using d88test::Bytes;

// A disk of tracks 0 to lastTrack only: the directory on track 1 and files
// from block 10 on. Missing tracks read as zeros, so it stays a valid disk
// for the tool while being small enough to mutate quickly.
d88test::Image smallDisk(int lastTrack, d88test::Pc98Disk& disk) {
  d88test::Image image = disk.toImage();
  image.tracks.erase(image.tracks.upper_bound(lastTrack), image.tracks.end());
  return image;
}

d88test::Pc98Disk twoFiles() {
  d88test::Pc98Disk disk;
  disk.addFile("HELLO", d88test::text("Hello from a PC-98 disk.\r\n"));
  disk.addFile("DATA", d88test::pattern(3000, 7));
  return disk;
}

std::vector<std::pair<std::string, Bytes>> images() {
  std::vector<std::pair<std::string, Bytes>> seeds;
  d88test::Pc98Disk disk = twoFiles();
  const Bytes valid = d88test::build(smallDisk(3, disk));
  seeds.emplace_back("valid", valid);

  // Past the reader's 64 KiB window, with a file that crosses it.
  d88test::Pc98Disk large;
  large.addFile("BIG", d88test::pattern(60 * 1024, 9));
  large.media = 0x10;
  seeds.emplace_back("window", d88test::build(smallDisk(16, large)));

  d88test::Pc98Disk interleaved = twoFiles();
  interleaved.interleave = {3, 1, 4, 2, 5, 6};
  seeds.emplace_back("interleaved", d88test::build(smallDisk(3, interleaved)));

  d88test::Image other;
  other.media = 0x10;
  other.addSector(0, 0, 0, 1, 1, d88test::pattern(256, 3));
  seeds.emplace_back("several",
                     d88test::concat({valid, d88test::build(other), valid}));

  // Cut inside the third sector of track 2, which holds a file.
  seeds.emplace_back(
      "truncated", Bytes(valid.begin(),
                         valid.begin() + 688 + 2 * 5 * 1040 + 2 * 1040 + 500));
  seeds.emplace_back("short", Bytes(valid.begin(), valid.begin() + 600));

  // Counts that disagree with the records the track holds: the walk runs on
  // past the track's end.
  d88test::Image counts = smallDisk(3, disk);
  counts.tracks[1].records[0].count = 2;
  counts.tracks[1].records[3].count = 9;
  counts.tracks[2].records[1].count = 0;
  counts.tracks[3].records[2].dataSize = 512;
  seeds.emplace_back("counts", d88test::build(counts));

  d88test::Pc98Disk empty;
  empty.endMark = false;
  seeds.emplace_back("zero-directory", d88test::build(smallDisk(2, empty)));

  d88test::Image sizes = smallDisk(3, disk);
  sizes.diskSize = 0;
  seeds.emplace_back("disk-size-0", d88test::build(sizes));
  sizes.diskSize = 0x80000000u;
  sizes.trackOffsets[2] = 0xFFFFFFF0u;
  seeds.emplace_back("disk-size-negative", d88test::build(sizes));
  return seeds;
}

// One operation of the sector target's argument block.
void putOperation(Bytes& args, int kind, int track, int c, int h, int r, int n,
                  int size) {
  args.push_back(static_cast<unsigned char>(kind));
  for (int value : {track, c, h, r}) {
    args.push_back(static_cast<unsigned char>(value & 0xFF));
    args.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
  }
  args.push_back(static_cast<unsigned char>(n));
  for (int shift : {0, 8, 16}) {
    args.push_back(static_cast<unsigned char>((size >> shift) & 0xFF));
  }
}

Bytes sectorArguments(int variant) {
  Bytes args = {0, 1, 0, 5, 0};  // image 0, sectors 1..5 per track
  if (variant == 0) {
    putOperation(args, 0, 1, 0, 1, 1, 3, 1024);   // readSector: directory
    putOperation(args, 1, 2, 1, 0, 1, 3, 15360);  // readSectors: tracks 2-4
    putOperation(args, 2, 1, 0, 0, 0, 0, 64);     // readSectorIds: track 1
  } else {
    putOperation(args, 2, 3, 0, 0, 0, 0, 4096);  // readSectorIds: track 3
    putOperation(args, 4, 0, 0, 0, 0, 0, 0);     // close
    putOperation(args, 5, 1, 1, 0, 2, 3, 3000);  // reopen, select image 1
  }
  return args;
}

void write(const std::string& dir, const std::string& name, const Bytes& b) {
  d88test::writeFile(dir + "/" + name, b);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_fuzz_corpus EXTRACT_DIR SECTORS_DIR\n");
    return 2;
  }
  for (const auto& [name, image] : images()) {
    write(argv[1], name, image);
    for (int variant = 0; variant < 2; ++variant) {
      write(argv[2], name + "-" + std::to_string(variant),
            d88test::concat({sectorArguments(variant), image}));
    }
  }
  return 0;
}
