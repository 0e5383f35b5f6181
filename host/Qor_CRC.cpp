#include "host/Qor_CRC.h"

#include <zlib.h>

#include <bit>
#include <cstring>
#include <limits>

void Qor_CRC::AddString(const char* text) {
  if (text != nullptr) AddBytes(text, std::strlen(text));
}

void Qor_CRC::AddBytes(const void* bytes, std::size_t length) {
  // Short inputs take the eight-byte steps here; long ones go to zlib's bulk routine, which
  // works on the finished form of the CRC, so the register is converted on the way in and out.
  const auto* data = static_cast<const unsigned char*>(bytes);
  if (length < kZlibFrom) {
    // A local register: the bytes may alias this object, so updating the member would store
    // and reload it at every step.
    std::uint32_t crc = m_register;
    if constexpr (std::endian::native == std::endian::little) {
      for (; length >= 8; data += 8, length -= 8) {
        std::uint64_t word;
        std::memcpy(&word, data, 8);
        crc = EightStep(crc, word);
      }
      // Four of the last seven bytes take one step of four lookups, which shortens the chain
      // of dependent byte steps that ends every short input.
      if (length >= 4) {
        const auto& t = crc32_slices;
        std::uint32_t word;
        std::memcpy(&word, data, 4);
        word ^= crc;
        crc = t[3][word & 0xFFu] ^ t[2][(word >> 8) & 0xFFu] ^ t[1][(word >> 16) & 0xFFu] ^
              t[0][word >> 24];
        data += 4;
        length -= 4;
      }
    }
    for (; length > 0; ++data, --length) crc = (crc >> 8) ^ crc32_table[(crc ^ *data) & 0xFFu];
    m_register = crc;
    return;
  }
  uLong crc = m_register ^ 0xFFFFFFFFu;
  while (length > 0) {
    const uInt chunk = length > std::numeric_limits<uInt>::max() ? std::numeric_limits<uInt>::max()
                                                                 : static_cast<uInt>(length);
    crc = crc32(crc, data, chunk);
    data += chunk;
    length -= chunk;
  }
  m_register = static_cast<std::uint32_t>(crc) ^ 0xFFFFFFFFu;
}
