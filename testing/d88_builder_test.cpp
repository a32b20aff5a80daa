// Pins the builder's output to literal bytes, so that the builder and the
// reader cannot share a mistake in byte order or layout.
#include "testing/d88_builder.h"

#include <gtest/gtest.h>

namespace d88test {
namespace {

TEST(D88Builder, TinyImageIsLaidOutByteForByte) {
  Image image;
  image.name = "AB";
  image.media = 0x20;
  image.addSector(1, 0, 1, 7, 3, {0xDE, 0xAD});

  Layout layout;
  const Bytes bytes = build(image, &layout);

  ASSERT_EQ(bytes.size(), 0x2B0u + 16 + 2);
  // clang-format off
  const Bytes start = {
      'A',  'B',  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // name
      0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0,                 // not read
      0x20,                                                  // media
      0xC2, 0x02, 0, 0,                                      // disk size 706
      0,    0,    0, 0,                                      // track 0 absent
      0xB0, 0x02, 0, 0,                                      // track 1 at 0x2B0
  };
  // clang-format on
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 0x28), start);
  EXPECT_EQ(Bytes(bytes.begin() + 0x28, bytes.begin() + 0x2B0),
            Bytes(0x2B0 - 0x28, 0));
  // clang-format off
  const Bytes record = {0, 1, 7, 3,               // C H R N
                        1, 0,                     // one record in the track
                        0, 0, 0, 0, 0, 0, 0, 0,   // not read
                        2, 0,                     // data size
                        0xDE, 0xAD};
  // clang-format on
  EXPECT_EQ(Bytes(bytes.begin() + 0x2B0, bytes.end()), record);

  EXPECT_EQ(layout.size, bytes.size());
  EXPECT_EQ(layout.records.at(1).at(0).header, 0x2B0u);
  EXPECT_EQ(layout.countField(1, 0), 0x2B4u);
  EXPECT_EQ(layout.dataSizeField(1, 0), 0x2BEu);
}

TEST(D88Builder, OverridesReplaceComputedFields) {
  Image image;
  image.diskSize = 0;
  image.trackOffsets[5] = 0x80000000u;
  Record& record = image.addSector(0, 0, 0, 1, 3, {1, 2, 3});
  record.count = 0;
  record.dataSize = 0xFFFF;

  Layout layout;
  const Bytes bytes = build(image, &layout);
  const auto at = [&](std::size_t i) { return bytes.at(i); };
  EXPECT_EQ(at(Layout::kDiskSizeField), 0);
  EXPECT_EQ(at(Layout::trackTableField(5) + 3), 0x80);
  EXPECT_EQ(at(layout.countField(0, 0)), 0);
  EXPECT_EQ(at(layout.dataSizeField(0, 0)), 0xFF);
  EXPECT_EQ(at(layout.dataSizeField(0, 0) + 1), 0xFF);
}

}  // namespace
}  // namespace d88test
