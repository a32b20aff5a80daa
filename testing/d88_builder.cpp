#include "testing/d88_builder.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace d88test {

namespace {

constexpr std::size_t kHeaderSize = 0x2B0;
constexpr std::size_t kSectorHeaderSize = 16;
constexpr int kTrackSlots = 164;

}  // namespace

void putLe16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
  bytes.at(offset) = static_cast<unsigned char>(value & 0xFF);
  bytes.at(offset + 1) = static_cast<unsigned char>(value >> 8);
}

void putLe32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes.at(offset + i) =
        static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
  }
}

Record& Image::addSector(int track, int c, int h, int r, int n, Bytes data) {
  Record record;
  record.c = static_cast<std::uint8_t>(c);
  record.h = static_cast<std::uint8_t>(h);
  record.r = static_cast<std::uint8_t>(r);
  record.n = static_cast<std::uint8_t>(n);
  record.data = std::move(data);
  auto& records = tracks[track].records;
  records.push_back(std::move(record));
  return records.back();
}

Bytes build(const Image& image, Layout* layout) {
  Bytes out(kHeaderSize, 0);
  std::copy_n(image.name.begin(), std::min<std::size_t>(image.name.size(), 16),
              out.begin());
  out[Layout::kMediaField] = image.media;

  Layout places;
  for (const auto& [index, track] : image.tracks) {
    if (index < 0 || index >= kTrackSlots) {
      throw std::invalid_argument("track index outside 0..163");
    }
    if (!track.records.empty()) {
      putLe32(out, Layout::trackTableField(index),
              static_cast<std::uint32_t>(out.size()));
    }
    for (const Record& record : track.records) {
      Layout::RecordPlace place;
      place.header = out.size();
      place.data = out.size() + kSectorHeaderSize;
      places.records[index].push_back(place);

      out.resize(place.data, 0);
      out[place.header + 0] = record.c;
      out[place.header + 1] = record.h;
      out[place.header + 2] = record.r;
      out[place.header + 3] = record.n;
      putLe16(out, place.header + 4,
              record.count.value_or(
                  static_cast<std::uint16_t>(track.records.size())));
      putLe16(out, place.header + 14,
              record.dataSize.value_or(
                  static_cast<std::uint16_t>(record.data.size())));
      out.insert(out.end(), record.data.begin(), record.data.end());
    }
  }
  for (const auto& [index, value] : image.trackOffsets) {
    putLe32(out, Layout::trackTableField(index), value);
  }
  putLe32(out, Layout::kDiskSizeField,
          image.diskSize.value_or(static_cast<std::uint32_t>(out.size())));
  places.size = out.size();
  if (layout != nullptr) *layout = places;
  return out;
}

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& part : parts)
    out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes pattern(std::size_t size, std::uint32_t seed) {
  Bytes out(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& byte : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<unsigned char>(x);
  }
  return out;
}

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

void writeFile(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) throw std::runtime_error("cannot create " + path);
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok)
    throw std::runtime_error("cannot write " + path);
}

Pc98Disk::Pc98Disk(int sectors)
    : sectorsPerTrack(sectors),
      blockData(static_cast<std::size_t>(kBlocks) * kBlockSize, 0) {
  // Track 0 holds a boot loader on a real disk; extraction never reads it.
  putBlocks(0, pattern(kBlocksPerTrack * kBlockSize, 0xB007));
}

void Pc98Disk::putBlocks(int block, const Bytes& bytes) {
  const std::size_t at = static_cast<std::size_t>(block) * kBlockSize;
  if (block < 0 || at + bytes.size() > blockData.size()) {
    throw std::out_of_range("blocks past the end of the disk");
  }
  std::copy(bytes.begin(), bytes.end(),
            blockData.begin() + static_cast<std::ptrdiff_t>(at));
}

void Pc98Disk::addEntry(const std::string& name, int startBlock, int endBlock) {
  Bytes entry(16, 0);
  for (std::size_t i = 0; i < 6; ++i) {
    entry[i] = i < name.size() ? static_cast<unsigned char>(name[i]) : ' ';
  }
  putLe16(entry, 12, static_cast<std::uint16_t>(startBlock));
  putLe16(entry, 14, static_cast<std::uint16_t>(endBlock));
  entries.push_back(entry);
}

int Pc98Disk::addFile(const std::string& name, const Bytes& content) {
  const int start = nextFreeBlock;
  const int blocks = std::max<int>(
      1, static_cast<int>((content.size() + kBlockSize - 1) / kBlockSize));
  Bytes padded = content;
  padded.resize(static_cast<std::size_t>(blocks) * kBlockSize, 0x1A);
  putBlocks(start, padded);
  addEntry(name, start, start + blocks - 1);
  nextFreeBlock += blocks;
  return start;
}

Image Pc98Disk::toImage() const {
  Bytes directory(kBlocksPerTrack * kBlockSize, endMark ? 0xFF : 0x00);
  if (entries.size() > 320) throw std::length_error("more than 320 entries");
  for (std::size_t j = 0; j < entries.size(); ++j) {
    std::copy(entries[j].begin(), entries[j].end(),
              directory.begin() + static_cast<std::ptrdiff_t>(16 * j));
  }
  Bytes data = blockData;
  std::copy(directory.begin(), directory.end(),
            data.begin() + kBlocksPerTrack * kBlockSize);

  std::vector<int> order = interleave;
  if (order.empty()) {
    for (int r = 1; r <= sectorsPerTrack; ++r) order.push_back(r);
  }
  Image image;
  image.name = diskName;
  image.media = media;
  for (int t = 0; t < kTracks; ++t) {
    for (int r : order) {
      Bytes sector;
      if (r >= 1 && r <= kBlocksPerTrack) {
        const std::ptrdiff_t block = t * kBlocksPerTrack + r - 1;
        const auto from = data.begin() + block * kBlockSize;
        sector.assign(from, from + kBlockSize);
      } else {
        sector = pattern(kBlockSize, static_cast<std::uint32_t>(t * 100 + r));
      }
      image.addSector(t, t / 2, t % 2, r, 3, std::move(sector));
    }
  }
  return image;
}

}  // namespace d88test
