#include "host/Qor_CRC.h"

#include <zlib.h>

#include <cstring>
#include <limits>

void Qor_CRC::AddString(const char* text) {
  if (text != nullptr) AddBytes(text, std::strlen(text));
}

void Qor_CRC::AddBytes(const void* bytes, std::size_t length) {
  // zlib works on the finished form of the CRC, so the register is converted on the way in
  // and out. Its bulk routine handles many bytes per step; short inputs use the table step.
  const auto* data = static_cast<const unsigned char*>(bytes);
  if (length < 16) {
    for (std::size_t i = 0; i < length; ++i) AddByte(data[i]);
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
