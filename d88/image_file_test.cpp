// The window's position bookkeeping, checked against the file's own bytes:
// every read must deliver exactly the bytes at the position, however the
// position got there and wherever the window happens to lie.
#include "d88/image_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "testing/d88_builder.h"
#include "testing/tool_runner.h"

namespace d88 {
namespace {

using d88test::Bytes;

constexpr std::int64_t kWindow = ImageFile::kWindowSize;
// Several windows, the last one short.
constexpr std::int64_t kFileSize = 4 * kWindow + kWindow / 2 + 7;

enum class Move { kSeek, kSkip };

struct Step {
  const char* name;
  Move move;
  std::int64_t amount;    // offset for kSeek, distance for kSkip
  std::int32_t count;     // bytes asked for
  std::int32_t expected;  // bytes that must arrive
};

// Reads count bytes at the file's current position and checks them against
// `bytes`, the file's contents: the first `expected` bytes of dest are the
// file's bytes at the position, the rest of dest is untouched, and the
// position moved past the bytes delivered.
void expectRead(ImageFile& file, const Bytes& bytes, std::int32_t count,
                std::int32_t expected) {
  const std::int64_t start = file.position();
  const std::size_t room = count > 0 ? static_cast<std::size_t>(count) : 0;
  Bytes dest(room + 8, 0xEE);
  ASSERT_EQ(file.read(dest.data(), count), expected);
  for (std::int32_t i = 0; i < expected; ++i) {
    const auto at = static_cast<std::size_t>(start + i);
    ASSERT_EQ(dest[static_cast<std::size_t>(i)], bytes[at])
        << "byte " << i << " of the read, file offset " << at;
  }
  for (std::size_t i = static_cast<std::size_t>(expected); i < dest.size();
       ++i) {
    ASSERT_EQ(dest[i], 0xEE) << "dest byte " << i << " written";
  }
  EXPECT_EQ(file.position(), start + expected);
}

class ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes = d88test::pattern(kFileSize, 0x1F11E);
    path = dir.file("image.d88");
    d88test::writeFile(path, bytes);
    ASSERT_TRUE(file->open(path.c_str()));
  }

  d88test::ScratchDir dir;
  std::string path;
  Bytes bytes;
  std::unique_ptr<ImageFile> file = std::make_unique<ImageFile>();
};

TEST_F(ImageFileTest, SeeksAndReadsDeliverTheFilesBytes) {
  // Steps run in order: each starts where the one before left the position
  // and the window.
  const Step steps[] = {
      {"start", Move::kSeek, 0, 100, 100},
      {"relative, inside the window", Move::kSkip, 1000, 500, 500},
      {"ending exactly at the window's end", Move::kSeek, kWindow - 16, 16, 16},
      {"starting exactly at the window's end", Move::kSkip, 0, 16, 16},
      {"back over the window's end", Move::kSkip, -64, 32, 32},
      {"across a window boundary", Move::kSeek, 2 * kWindow - 10, 20, 20},
      {"inside the window loaded by the read before", Move::kSeek,
       2 * kWindow + 100, 50, 50},
      {"backwards before the window", Move::kSeek, 1000, 10, 10},
      {"forwards inside the window", Move::kSeek, 3000, 10, 10},
      {"backwards into the window, relative", Move::kSkip, -2000, 10, 10},
      {"relative, past the window", Move::kSkip, kWindow + 500, 300, 300},
      {"a read longer than the window", Move::kSeek, 1234,
       static_cast<std::int32_t>(3 * kWindow),
       static_cast<std::int32_t>(3 * kWindow)},
      {"straight on from a long read", Move::kSkip, 0, 64, 64},
      {"far forward", Move::kSeek, 4 * kWindow + 1000, 1000, 1000},
      {"a short read at the end of the file", Move::kSeek, kFileSize - 10, 100,
       10},
      {"then nothing at the end", Move::kSkip, 0, 100, 0},
      {"at the end, by an absolute seek", Move::kSeek, kFileSize, 1, 0},
      {"past the end", Move::kSeek, kFileSize + 1000, 1, 0},
      {"back to the start after the end was reached", Move::kSeek, 0, 100, 100},
      {"inside the last window, running past the end", Move::kSeek,
       kFileSize - 100, 200, 100},
      {"backwards from the end into the last window", Move::kSkip, -300, 100,
       100},
      {"longer than what is left", Move::kSeek, kFileSize - kWindow - 500,
       static_cast<std::int32_t>(2 * kWindow),
       static_cast<std::int32_t>(kWindow + 500)},
      {"the last byte alone", Move::kSeek, kFileSize - 1, 1, 1},
      {"negative position", Move::kSeek, -1, 10, 0},
      {"negative position, read that would reach the start", Move::kSeek, -5,
       10, 0},
      {"relative back to a negative position", Move::kSkip, -100, 10, 0},
      {"count 0", Move::kSeek, 4000, 0, 0},
      {"negative count", Move::kSeek, 4000, -5, 0},
      {"after the empty reads, the same position", Move::kSkip, 0, 8, 8},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    const std::int64_t before = file->position();
    if (step.move == Move::kSeek) {
      file->seek(step.amount);
      ASSERT_EQ(file->position(), step.amount);
    } else {
      file->skip(step.amount);
      ASSERT_EQ(file->position(), before + step.amount);
    }
    expectRead(*file, bytes, step.count, step.expected);
  }
}

TEST_F(ImageFileTest, WalkOfRandomSeeksMatchesTheFile) {
  // Track-walk-like traffic: hops forward over data, now and then back to
  // where the walk began, and jumps anywhere, before the start and past the
  // end included.
  std::uint32_t x = 12345;
  const auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  std::int64_t walkStart = 0;
  for (int i = 0; i < 5000; ++i) {
    const std::uint32_t kind = next() % 8;
    if (kind == 0) {
      walkStart = static_cast<std::int64_t>(next() % (kFileSize + 2000)) - 1000;
      file->seek(walkStart);
    } else if (kind == 1) {
      file->seek(walkStart);
    } else {
      file->skip(static_cast<std::int64_t>(next() % 2304) - 256);
    }
    const std::int64_t at = file->position();
    const auto count = static_cast<std::int32_t>(next() % 2048);
    std::int32_t expected = 0;
    if (at >= 0 && at < kFileSize) {
      expected = static_cast<std::int32_t>(
          std::min<std::int64_t>(count, kFileSize - at));
    }
    SCOPED_TRACE("step " + std::to_string(i) + " at " + std::to_string(at) +
                 " count " + std::to_string(count));
    expectRead(*file, bytes, count, expected);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(ImageFile, ReadsFilesOfEveryLengthAroundTheWindowSize) {
  d88test::ScratchDir dir;
  auto file = std::make_unique<ImageFile>();
  for (const std::int64_t size : {std::int64_t{0}, std::int64_t{1}, kWindow - 1,
                                  kWindow, kWindow + 1, 2 * kWindow}) {
    SCOPED_TRACE("file of " + std::to_string(size) + " bytes");
    const Bytes bytes = d88test::pattern(static_cast<std::size_t>(size), 7);
    const std::string path = dir.file(std::to_string(size));
    d88test::writeFile(path, bytes);
    ASSERT_TRUE(file->open(path.c_str()));
    // Odd-sized pieces, so that reads land on every kind of boundary.
    for (std::int64_t at = 0; at < size; at += 999) {
      const std::int64_t left = size - at;
      expectRead(*file, bytes, 999,
                 static_cast<std::int32_t>(std::min<std::int64_t>(999, left)));
    }
    expectRead(*file, bytes, 1, 0);
    file->seek(size - 1);
    expectRead(*file, bytes, 2, size > 0 ? 1 : 0);
  }
}

TEST_F(ImageFileTest, ReopenStartsAtTheNewFilesFirstByte) {
  file->seek(5000);
  expectRead(*file, bytes, 100, 100);

  // Same length, other bytes: nothing of the old window may show through.
  const Bytes other = d88test::pattern(kFileSize, 0x0BE7);
  const std::string otherPath = dir.file("other.d88");
  d88test::writeFile(otherPath, other);
  ASSERT_TRUE(file->open(otherPath.c_str()));
  EXPECT_EQ(file->position(), 0);
  expectRead(*file, other, 100, 100);
  file->seek(5000);
  expectRead(*file, other, 100, 100);

  // Reopening the first file after reading its end: the end found before
  // must not cut the new reads short.
  file->seek(kFileSize - 10);
  expectRead(*file, other, 100, 10);
  const Bytes longer = d88test::pattern(kFileSize + kWindow, 3);
  d88test::writeFile(path, longer);
  ASSERT_TRUE(file->open(path.c_str()));
  file->seek(kFileSize);
  expectRead(*file, longer, 100, 100);
}

TEST_F(ImageFileTest, ClosedOrMissingFileReadsNothing) {
  file->close();
  EXPECT_FALSE(file->isOpen());
  expectRead(*file, bytes, 10, 0);

  ASSERT_TRUE(file->open(path.c_str()));
  EXPECT_FALSE(file->open(dir.file("missing.d88").c_str()));
  EXPECT_FALSE(file->isOpen());
  expectRead(*file, bytes, 10, 0);
}

}  // namespace
}  // namespace d88
