// CRC-32 accumulator (the IEEE polynomial, as zlib and PNG use it). Bytes are fed with
// AddString, or one at a time with AddByte, which applies the same table step to the same
// register; Finish gives the result. "123456789" gives 0xCBF43926.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

class Qor_CRC {
 public:
  // The 256 entries of the reflected polynomial 0xEDB88320, the table zlib uses. Built at
  // compile time, so it is ready before any static initialiser runs.
  static constexpr std::array<std::uint32_t, 256> crc32_table = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    return table;
  }();

  // Slicing by eight: entry [k][b] is the register effect of byte b followed by k zero bytes,
  // so eight bytes take one step of eight independent lookups. The short inputs of a checksum
  // walk (names, values, folded child checksums) are where zlib's per-call setup and its
  // byte loop would dominate.
  static constexpr std::array<std::array<std::uint32_t, 256>, 8> crc32_slices = [] {
    std::array<std::array<std::uint32_t, 256>, 8> slices{};
    slices[0] = crc32_table;
    for (std::size_t k = 1; k < 8; ++k) {
      for (std::size_t n = 0; n < 256; ++n) {
        const std::uint32_t prev = slices[k - 1][n];
        slices[k][n] = (prev >> 8) ^ crc32_table[prev & 0xFFu];
      }
    }
    return slices;
  }();

  // The running register, kept in its pre-conditioned form (all ones at the start).
  std::uint32_t m_register = 0xFFFFFFFFu;

  Qor_CRC() = default;

  // Feeds the bytes of the NUL-terminated `text`, without its terminator. Null feeds nothing.
  void AddString(const char* text);
  // Feeds `length` bytes: eight at a time below kZlibFrom bytes, through zlib's bulk routine
  // from there on.
  void AddBytes(const void* bytes, std::size_t length);
  static constexpr std::size_t kZlibFrom = 256;
  // Feeds eight bytes given as one number, the first byte lowest: one step of eight
  // independent lookups.
  void AddEightBytes(std::uint64_t bytes) { m_register = EightStep(m_register, bytes); }
  // The register after the eight bytes of `bytes` (first byte lowest) from `crc`.
  static std::uint32_t EightStep(std::uint32_t crc, std::uint64_t bytes) {
    const auto& t = crc32_slices;
    const std::uint32_t low = static_cast<std::uint32_t>(bytes) ^ crc;
    const auto high = static_cast<std::uint32_t>(bytes >> 32);
    return t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^
           t[4][low >> 24] ^ t[3][high & 0xFFu] ^ t[2][(high >> 8) & 0xFFu] ^
           t[1][(high >> 16) & 0xFFu] ^ t[0][high >> 24];
  }
  // The register after the first `count` bytes of `bytes` (first byte lowest; 1 <= count <= 8)
  // from `crc`: one step of eight independent lookups and no branch, where the byte steps
  // would make a chain of `count` dependent ones. The step is linear, so the register bytes
  // that the input meets (its low `count` bytes, at most four) can be folded into the input
  // and fed from a zero register, which leading zero bytes leave at zero; register bytes the
  // input does not reach (fewer than four bytes) shift through unchanged.
  static std::uint32_t PartialStep(std::uint32_t crc, std::uint64_t bytes, unsigned count) {
    const unsigned shift = 64 - 8 * count;
    const std::uint64_t input = (bytes ^ crc) << shift;  // the bytes past `count` drop out
    const std::uint32_t unconsumed = count < 4 ? crc >> (8 * count) : 0;
    return EightStep(0, input) ^ unconsumed;
  }
  // The right-shifting table step: register = (register >> 8) ^ table[(register ^ byte) & 0xFF].
  void AddByte(unsigned char byte) {
    m_register = (m_register >> 8) ^ crc32_table[(m_register ^ byte) & 0xFFu];
  }

  // The CRC of every byte fed so far.
  unsigned long Finish() const { return m_register ^ 0xFFFFFFFFu; }
};
