// The readers over chunked input, for Tree_FormatIo, and what the JSON reader and writer
// share. Internal to the formats library.
#pragma once

#include "formats/Tree_ByteInput.h"
#include "formats/Tree_Json.h"
#include "formats/Tree_Text.h"

Tree_NodePtr Tree_ReadJson(Tree_ByteInput& input, const Tree_JsonReadOptions& options,
                           Tree_FormatError* error);
Tree_NodePtr Tree_ReadText(Tree_ByteInput& input, const Tree_TextReadOptions& options,
                           Tree_FormatError* error);

// Bytes a JSON string holds as they stand: printable ASCII but the quote and the backslash.
struct Tree_JsonPlainTable {
  bool plain[256] = {};
  constexpr Tree_JsonPlainTable() {
    for (int c = 0x20; c < 0x80; ++c) plain[c] = c != '"' && c != '\\';
  }
};
inline constexpr Tree_JsonPlainTable kTree_JsonPlain;

// What a UTF-8 lead byte starts: the length of its sequence (0 when it starts none) and the
// range of the byte after it, which rules out overlong forms and surrogates; later bytes
// are 0x80..0xbf.
struct Tree_Utf8Lead {
  int length = 0;
  unsigned low = 0x80, high = 0xbf;
};
constexpr Tree_Utf8Lead Tree_Utf8LeadOf(unsigned char lead) {
  Tree_Utf8Lead out;
  if (lead >= 0xc2 && lead <= 0xdf) {
    out.length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    out.length = 3;
    if (lead == 0xe0) out.low = 0xa0;
    if (lead == 0xed) out.high = 0x9f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    out.length = 4;
    if (lead == 0xf0) out.low = 0x90;
    if (lead == 0xf4) out.high = 0x8f;
  }
  return out;
}
