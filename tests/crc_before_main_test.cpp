// A host may checksum in its own static initialiser, before main and before the library's
// own initialisers have run: the CRC table must already be there.
#include <cstdio>

#include "host/Qor_CRC.h"

namespace {

unsigned long CrcOf(const char* text) {
  Qor_CRC crc;
  crc.AddString(text);  // short enough for the per-byte table step
  return crc.Finish();
}

const unsigned long g_crc_at_static_init = CrcOf("123456789");

}  // namespace

int main() {
  if (g_crc_at_static_init != 0xCBF43926ul) {
    std::fprintf(stderr, "CRC computed before main: %08lx, expected cbf43926\n",
                 g_crc_at_static_init);
    return 1;
  }
  return 0;
}
