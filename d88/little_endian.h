// Little-endian integers, assembled byte by byte so the host's byte order
// never matters.
#pragma once

#include <cstdint>

namespace d88 {

inline std::int32_t decodeLe16(const unsigned char* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) |
                                   static_cast<std::uint32_t>(p[1]) << 8);
}

// The 32-bit value as the signed integer the reader compares (0x80000000 and
// up are negative).
inline std::int32_t decodeLe32(const unsigned char* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) |
                                   static_cast<std::uint32_t>(p[1]) << 8 |
                                   static_cast<std::uint32_t>(p[2]) << 16 |
                                   static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace d88
