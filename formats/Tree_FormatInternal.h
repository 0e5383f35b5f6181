// The readers over chunked input, for Tree_FormatIo, and what the JSON reader and writer
// share. Internal to the formats library.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formats/Tree_ByteInput.h"
#include "formats/Tree_Json.h"
#include "formats/Tree_Text.h"

Tree_NodePtr Tree_ReadJson(Tree_ByteInput& input, const Tree_JsonReadOptions& options,
                           Tree_FormatError* error);
Tree_NodePtr Tree_ReadText(Tree_ByteInput& input, const Tree_TextReadOptions& options,
                           Tree_FormatError* error);

// Writes the text format's escape of `byte`, \xHH with lower-case digits, at `out` (four
// bytes) and returns its end.
inline char* Tree_WriteHexEscape(unsigned char byte, char* out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out[0] = '\\';
  out[1] = 'x';
  out[2] = kDigits[byte >> 4];
  out[3] = kDigits[byte & 0xf];
  return out + 4;
}

// In the text format a leaf under an object or an array takes the type of its value unless
// marked; a leaf anywhere else is untyped unless marked.
inline bool Tree_IsTypedContext(const Tree_Node* parent) {
  return parent != nullptr && (parent->GetKind() == Tree_NodeKind::kObject ||
                               parent->GetKind() == Tree_NodeKind::kArray);
}

// The writers' walks wait on memory more than they work. A tree imported or built in document
// order has its nodes, and its values, one after another in the node heap (blocks of one size
// class are handed out in address order), so the nodes a walk reaches next lie a few blocks on
// from the one it writes: this fetches the lines that far on, with no load to wait for. For a
// tree made in another order it costs two fetches that bring nothing useful. It also fetches
// the node's own children block, which lies elsewhere and is read once the line is written.
// (Fetching the children a cursor takes next, through their slots, measured slower for both
// writers.) The addresses are computed as integers: they may lie outside any live object, which a
// prefetch tolerates and pointer arithmetic does not.
inline void Tree_PrefetchAhead(const Tree_Node& node) {
  constexpr std::uintptr_t kNodesAhead = 8 * 128;  // eight node blocks of the 128-byte class
  constexpr std::uintptr_t kValuesAhead = 8 * 48;  // eight values, as the heap spaces them
  const auto fetch = [](const void* from, std::uintptr_t ahead) {
    __builtin_prefetch(
        reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(from) + ahead));
  };
  node.PrefetchChildSlots();
  fetch(&node, kNodesAhead);
  if (const Tree_Value* value = node.TreeValue(); value != nullptr) fetch(value, kValuesAhead);
}

// The children of one node in slot order, for the writers' walks.
class Tree_ChildCursor {
 public:
  explicit Tree_ChildCursor(Tree_Node* node) : m_node(node), m_count(node->GetChildCount()) {}

  Tree_Node* Node() const { return m_node; }
  // The number of children taken so far.
  int Taken() const { return m_next; }
  bool Done() const { return m_next == m_count; }
  // The next child; only when !Done().
  Tree_Node* Take() { return m_node->ChildNodeAt(m_next++); }

 private:
  Tree_Node* m_node;
  int m_count;
  int m_next = 0;
};

// Bytes a JSON string holds as they stand: printable ASCII but the quote and the backslash.
struct Tree_JsonPlainTable {
  bool plain[256] = {};
  constexpr Tree_JsonPlainTable() {
    for (int c = 0x20; c < 0x80; ++c) plain[c] = c != '"' && c != '\\';
  }
};
inline constexpr Tree_JsonPlainTable kTree_JsonPlain;

// The first byte of [at, end) that a JSON string cannot hold as it stands (a quote, a backslash,
// a control character or a byte of a multibyte sequence), or `end`. Sixteen bytes at a time
// where SSE2 is there: the strings of real documents are mostly plain ASCII.
inline const char* Tree_JsonPlainEnd(const char* at, const char* end) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i blank = _mm_set1_epi8(0x20);
  while (end - at >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    // Compared as signed bytes, 0x80 and above are negative: one comparison finds them and
    // the control characters.
    const __m128i stop =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                     _mm_cmplt_epi8(bytes, blank));
    const int mask = _mm_movemask_epi8(stop);
    if (mask != 0) return at + __builtin_ctz(static_cast<unsigned>(mask));
    at += 16;
  }
#endif
  while (at < end && kTree_JsonPlain.plain[static_cast<unsigned char>(*at)]) ++at;
  return at;
}

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
