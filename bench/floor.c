/* The benchmark's floor: the least work that produces d88unpack's output for
 * a well-formed image. It reads the whole image with one read(), finds
 * sectors 1 to 5 of each track by a short scan of the track's records, prints
 * the same listing and writes every directory entry's blocks straight from
 * the image bytes with one writev() per file. It checks only what keeps it
 * inside its buffers: on a damaged or hostile image it may write nothing.
 *
 *   floor IMAGE
 */
#include <fcntl.h>
#include <stdio.h>
#include <sys/uio.h>
#include <unistd.h>

enum {
  kMaxImage = 4 * 1024 * 1024,
  kHeaderSize = 0x2B0,
  kTracks = 154,
  kSectors = 5,
  kBlockSize = 1024,
  kBlocks = kTracks * kSectors,
  kEntries = 320,
  kScanLimit = 32 /* records looked at per track */
};

static unsigned char image[kMaxImage];
static const unsigned char zeroBlock[kBlockSize];
/* Where block b's bytes are: sector b % 5 + 1 of track b / 5. */
static const unsigned char* blocks[kBlocks];

static unsigned le16(const unsigned char* p) {
  return (unsigned)p[0] | (unsigned)p[1] << 8;
}

static unsigned long le32(const unsigned char* p) {
  return (unsigned long)p[0] | (unsigned long)p[1] << 8 |
         (unsigned long)p[2] << 16 | (unsigned long)p[3] << 24;
}

static void findSectors(unsigned long size) {
  for (int t = 1; t < kTracks; ++t) {
    unsigned long at = le32(image + 0x20 + 4 * t);
    if (at == 0) continue;
    for (unsigned i = 0; i < kScanLimit && at + 16 <= size; ++i) {
      const unsigned char* h = image + at;
      const unsigned long data = at + 16;
      const unsigned long length = le16(h + 14);
      if (h[0] == t / 2 && h[1] == t % 2 && h[2] >= 1 && h[2] <= kSectors &&
          h[3] == 3 && length >= kBlockSize && data + kBlockSize <= size) {
        blocks[t * kSectors + h[2] - 1] = image + data;
      }
      at = data + length;
      if (i + 1 == le16(h + 4)) break;
    }
  }
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: floor IMAGE\n");
    return 2;
  }
  const int fd = open(argv[1], O_RDONLY);
  if (fd < 0) return 1;
  const ssize_t got = read(fd, image, sizeof image);
  close(fd);
  if (got < kHeaderSize) return 1;
  findSectors((unsigned long)got);

  struct iovec parts[kBlocks];
  for (int j = 0; j < kEntries; ++j) {
    const unsigned char* dir = blocks[kSectors + j * 16 / kBlockSize];
    if (dir == NULL) break;
    const unsigned char* entry = dir + j * 16 % kBlockSize;
    if (entry[0] == 0xFF) break;
    char name[7] = {0};
    for (int i = 0; i < 6 && entry[i] != ' '; ++i) name[i] = (char)entry[i];
    const unsigned start = le16(entry + 12);
    const unsigned end = le16(entry + 14);
    printf("%-6s  START:%04x  END:%04x  SIZE:%04x\n", name, start, end,
           (end - start + 1) * kBlockSize);
    if (name[0] == '\0' || end < start || end >= kBlocks) continue;
    int count = 0;
    for (unsigned b = start; b <= end; ++b) {
      parts[count].iov_base =
          (void*)(blocks[b] != NULL ? blocks[b] : zeroBlock);
      parts[count].iov_len = kBlockSize;
      ++count;
    }
    const int out = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out < 0) continue;
    if (writev(out, parts, count) < 0) perror(name);
    close(out);
  }
  return 0;
}
