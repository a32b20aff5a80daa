// Pins the decoders to literal bytes: whatever the host's byte order, the
// first byte is the lowest.
#include "d88/little_endian.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace d88 {
namespace {

TEST(LittleEndian, DecodesLiteralBytes) {
  struct Row {
    const char* name;
    unsigned char bytes[4];
    std::int32_t le16;  // of bytes[0..1]
    std::int32_t le32;
  };
  const Row rows[] = {
      {"zero", {0x00, 0x00, 0x00, 0x00}, 0, 0},
      {"low byte first", {0x01, 0x02, 0x03, 0x04}, 0x0201, 0x04030201},
      {"high bits of each byte kept",
       {0x80, 0x80, 0x80, 0x00},
       0x8080,
       0x00808080},
      {"16-bit maximum is positive",
       {0xFF, 0xFF, 0x00, 0x00},
       0xFFFF,
       0x0000FFFF},
      {"largest positive 32-bit", {0xFF, 0xFF, 0xFF, 0x7F}, 0xFFFF, 0x7FFFFFFF},
      {"0x80000000 is the most negative",
       {0x00, 0x00, 0x00, 0x80},
       0,
       INT32_MIN},
      {"0xFFFFFFFF is -1", {0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF, -1},
      {"0xFFFFFFF0 is -16", {0xF0, 0xFF, 0xFF, 0xFF}, 0xFFF0, -16},
      {"one disk size", {0xC2, 0x02, 0x00, 0x00}, 0x02C2, 706},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(decodeLe16(row.bytes), row.le16);
    EXPECT_EQ(decodeLe32(row.bytes), row.le32);
  }
}

TEST(LittleEndian, ReadsOnlyItsOwnBytes) {
  // Unaligned and followed by bytes that must not leak into the value.
  const unsigned char bytes[] = {0xAA, 0x34, 0x12, 0x78, 0x56, 0xBB};
  EXPECT_EQ(decodeLe16(bytes + 1), 0x1234);
  EXPECT_EQ(decodeLe32(bytes + 1), 0x56781234);
}

}  // namespace
}  // namespace d88
