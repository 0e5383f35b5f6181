// CRC-32 accumulator (the IEEE polynomial, as zlib and PNG use it). Bytes are fed with
// AddString, or one at a time with AddByte, which applies the same table step to the same
// register; Finish gives the result. "123456789" gives 0xCBF43926.
#pragma once

#include <cstdint>

class Qor_CRC {
 public:
  // zlib's table: 256 entries of the reflected polynomial 0xEDB88320.
  static const std::uint32_t* const crc32_table;

  // The running register, kept in its pre-conditioned form (all ones at the start).
  std::uint32_t m_register = 0xFFFFFFFFu;

  Qor_CRC() = default;

  // Feeds the bytes of the NUL-terminated `text`, without its terminator. Null feeds nothing.
  void AddString(const char* text);
  // Feeds `length` bytes.
  void AddBytes(const void* bytes, std::size_t length);
  // The right-shifting table step: register = (register >> 8) ^ table[(register ^ byte) & 0xFF].
  void AddByte(unsigned char byte) {
    m_register = (m_register >> 8) ^ crc32_table[(m_register ^ byte) & 0xFFu];
  }

  // The CRC of every byte fed so far.
  unsigned long Finish() const { return m_register ^ 0xFFFFFFFFu; }
};
