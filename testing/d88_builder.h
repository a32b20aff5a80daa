// Builds D88 image files for tests, the sample and the benchmark.
//
// An Image describes content: media, name, and per track the sector records
// with their C/H/R/N and data. build() lays it out as a D88 file, computing
// the record counts, data sizes, track table and disk size itself; every
// computed field can be overridden to write a corrupt image, and the Layout
// tells where each field went. Pc98Disk describes the supported disk by
// blocks and directory entries and turns into an Image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace d88test {

using Bytes = std::vector<unsigned char>;

void putLe16(Bytes& bytes, std::size_t offset, std::uint16_t value);
void putLe32(Bytes& bytes, std::size_t offset, std::uint32_t value);

struct Record {
  std::uint8_t c = 0;
  std::uint8_t h = 0;
  std::uint8_t r = 0;
  std::uint8_t n = 0;
  Bytes data;
  std::optional<std::uint16_t> count;     // default: records in the track
  std::optional<std::uint16_t> dataSize;  // default: data.size()
};

struct Track {
  std::vector<Record> records;
};

struct Image {
  std::string name;  // up to 16 bytes; longer names are cut
  std::uint8_t media = 0x20;
  std::map<int, Track> tracks;  // by track index, laid out in index order
  std::optional<std::uint32_t> diskSize;      // default: the image's length
  std::map<int, std::uint32_t> trackOffsets;  // raw entries, replacing those
                                              // computed for the tracks

  // Appends a record to track `track` and returns it for further changes.
  Record& addSector(int track, int c, int h, int r, int n, Bytes data);
};

// Offsets from the start of the built image.
struct Layout {
  struct RecordPlace {
    std::size_t header = 0;  // first byte of the 16-byte sector header
    std::size_t data = 0;    // first data byte
  };
  std::size_t size = 0;
  std::map<int, std::vector<RecordPlace>> records;  // by track index

  static constexpr std::size_t kMediaField = 0x1B;
  static constexpr std::size_t kDiskSizeField = 0x1C;
  static std::size_t trackTableField(int track) {
    return 0x20 + 4 * static_cast<std::size_t>(track);
  }
  std::size_t countField(int track, std::size_t index) const {
    return records.at(track).at(index).header + 4;
  }
  std::size_t dataSizeField(int track, std::size_t index) const {
    return records.at(track).at(index).header + 14;
  }
};

Bytes build(const Image& image, Layout* layout = nullptr);

Bytes concat(const std::vector<Bytes>& parts);
Bytes pattern(std::size_t size, std::uint32_t seed);  // deterministic bytes
Bytes text(const std::string& s);
void writeFile(const std::string& path, const Bytes& bytes);

// The supported PC-98 layout: 1024-byte sectors (N = 3) on tracks 0..153,
// sectors 1..5 forming the linear block image, the directory on track 1.
class Pc98Disk {
 public:
  static constexpr int kTracks = 154;
  static constexpr int kBlockSize = 1024;
  static constexpr int kBlocksPerTrack = 5;
  static constexpr int kBlocks = kTracks * kBlocksPerTrack;

  // sectorsPerTrack: sectors 1..sectorsPerTrack are stored on every track,
  // those past 5 holding filler that extraction ignores.
  explicit Pc98Disk(int sectorsPerTrack = 5);

  // Stores bytes from block `block` on, across as many blocks as they fill.
  void putBlocks(int block, const Bytes& bytes);
  // Appends a directory entry: name padded with spaces to 6 bytes.
  void addEntry(const std::string& name, int startBlock, int endBlock);
  // Adds an entry and its content from the first free block, padding the
  // content to whole blocks. Returns the start block.
  int addFile(const std::string& name, const Bytes& content);

  // Whether the directory ends with an end mark after the entries (default);
  // without it the rest of the directory is zeros.
  bool endMark = true;
  std::uint8_t media = 0x20;
  std::string diskName = "PC98 DISK";
  // Order of the sector numbers within each track, or empty for 1, 2, 3...
  std::vector<int> interleave;

  Image toImage() const;
  const Bytes& blocks() const { return blockData; }

 private:
  int sectorsPerTrack;
  int nextFreeBlock = 10;  // after track 0 (blocks 0..4) and the directory
  Bytes blockData;         // kBlocks * kBlockSize
  std::vector<Bytes> entries;
};

}  // namespace d88test
