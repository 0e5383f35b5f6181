// Text export: one line per node written straight into the output's room (Tree_ByteOutput),
// names and values copied sixteen bytes at a time between the bytes that need escapes.
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formats/Tree_ByteOutput.h"
#include "formats/Tree_FormatInternal.h"
#include "formats/Tree_JsonMapping.h"
#include "formats/Tree_Text.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";

// Input taken in pieces of this many bytes, so that the room asked for (four output bytes per
// input byte at most: \xHH) stays bounded whatever a value's length.
constexpr std::size_t kPiece = 4096;

// A node's name and value are RWCStrings, whose bytes are a std::string's. With libstdc++ and
// libc++ its buffer holds at least 16 bytes from the first (15 or 22 in place plus the
// terminator, or a heap block of more), so a short text is tested and copied with one 16-byte
// load however short it is. Elsewhere every text takes the bounded path.
#if defined(__GLIBCXX__) || defined(_LIBCPP_VERSION)
constexpr bool kStringsHold16 = true;
#else
constexpr bool kStringsHold16 = false;
#endif

// A byte escaped as itself after a backslash: the format's own bytes. Control bytes are
// escaped always. A, B, C, D name the other bytes that need a backslash in one place (a name,
// a value, a quoted value, a path); 0 stands for none, as the NUL byte is a control byte.
template <char A, char B, char C, char D>
struct Escapes {
  static bool Stop(unsigned char c) {
    return c < 0x20 || c == 0x7f || (A != 0 && c == A) || (B != 0 && c == B) ||
           (C != 0 && c == C) || (D != 0 && c == D);
  }
#if defined(__SSE2__)
  // One bit per byte of `bytes` that Stop holds for.
  static unsigned Mask(__m128i bytes) {
    const __m128i low = _mm_set1_epi8(0x1f);
    __m128i stop = _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(bytes, low), low),
                                _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x7f)));
    if (A != 0) stop = _mm_or_si128(stop, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(A)));
    if (B != 0) stop = _mm_or_si128(stop, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(B)));
    if (C != 0) stop = _mm_or_si128(stop, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(C)));
    if (D != 0) stop = _mm_or_si128(stop, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(D)));
    return static_cast<unsigned>(_mm_movemask_epi8(stop));
  }
#endif
};
using NameEscapes = Escapes<'\\', ' ', '=', '#'>;
using ValueEscapes = Escapes<'\\', 0, 0, 0>;
using QuotedEscapes = Escapes<'\\', '"', 0, 0>;
using PathEscapes = Escapes<0, 0, 0, 0>;

char* WriteEscape(unsigned char c, char* out) {
  out[0] = '\\';
  switch (c) {
    case '\n':
      out[1] = 'n';
      return out + 2;
    case '\r':
      out[1] = 'r';
      return out + 2;
    case '\t':
      out[1] = 't';
      return out + 2;
    default:
      if (c >= 0x20 && c != 0x7f) {
        out[1] = static_cast<char>(c);
        return out + 2;
      }
      return Tree_WriteHexEscape(c, out);
  }
}

// Copies `count` bytes, fewer than 16, with at most two overlapping loads and stores of a width.
inline void CopyShort(char* out, const char* at, std::size_t count) {
  if (count >= 8) {
    std::uint64_t head, tail;
    std::memcpy(&head, at, 8);
    std::memcpy(&tail, at + count - 8, 8);
    std::memcpy(out, &head, 8);
    std::memcpy(out + count - 8, &tail, 8);
  } else if (count >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, at, 4);
    std::memcpy(&tail, at + count - 4, 4);
    std::memcpy(out, &head, 4);
    std::memcpy(out + count - 4, &tail, 4);
  } else if (count > 0) {
    out[0] = at[0];
    out[count / 2] = at[count / 2];
    out[count - 1] = at[count - 1];
  }
}

// Writes [at, end) escaped at `out`, which has room for 4 * (end - at) + 16 bytes, and returns
// the end of what it wrote. `padded`: 16 bytes can be read from `at` even past `end`.
template <class Set>
char* EscapeInto(const char* at, const char* end, char* out, bool padded) {
#if defined(__SSE2__)
  const char* const begin = at;
  if (padded && end - at < 16) {
    // The usual case, a short plain text: one load, one test, one store.
    const auto length = static_cast<unsigned>(end - at);
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    if ((Set::Mask(bytes) & ((1u << length) - 1)) == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
      return out + length;
    }
  }
  for (;;) {
    const auto left = static_cast<std::size_t>(end - at);
    if (left >= 16) {
      // Sixteen bytes at a time; the store may write past the plain part, within the room,
      // and the next write covers that.
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
      const unsigned mask = Set::Mask(bytes);
      if (mask == 0) {
        at += 16;
        out += 16;
        continue;
      }
      const int plain = __builtin_ctz(mask);
      at += plain;
      out += plain;
    } else if (left == 0) {
      return out;
    } else if (end - begin >= 16) {
      // The last few bytes of a longer text: tested by one load that ends at `end`.
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
      const unsigned mask = Set::Mask(bytes) >> (16 - left);
      const std::size_t plain = mask == 0 ? left : static_cast<std::size_t>(__builtin_ctz(mask));
      CopyShort(out, at, plain);
      at += plain;
      out += plain;
      if (at == end) return out;
    } else {
      while (at < end && !Set::Stop(static_cast<unsigned char>(*at))) *out++ = *at++;
      if (at == end) return out;
    }
    out = WriteEscape(static_cast<unsigned char>(*at++), out);
  }
#else
  (void)padded;
  for (;;) {
    while (at < end && !Set::Stop(static_cast<unsigned char>(*at))) *out++ = *at++;
    if (at == end) return out;
    out = WriteEscape(static_cast<unsigned char>(*at++), out);
  }
#endif
}

// Appends [at, end) escaped, a piece at a time.
template <class Set>
void AppendEscaped(const char* at, const char* end, Tree_ByteOutput& out, bool padded) {
  while (at < end) {
    const char* stop = static_cast<std::size_t>(end - at) > kPiece ? at + kPiece : end;
    out.Advance(
        EscapeInto<Set>(at, stop, out.Room(4 * static_cast<std::size_t>(stop - at) + 16), padded));
    at = stop;
    padded = false;
  }
}

void AppendName(std::string_view name, Tree_ByteOutput& out, bool padded) {
  // A reader drops a byte order mark that opens the text, so a name that starts with one
  // (as the top node's name does on the first line) has its first byte escaped.
  if (name.starts_with(kByteOrderMark)) {
    out.Append("\\xef");
    name.remove_prefix(1);
    padded = false;
  }
  AppendEscaped<NameEscapes>(name.data(), name.data() + name.size(), out, padded);
}

// The top node's name opens the text, which a reader of unnamed input (Tree_FormatIo::Sniff)
// must not take for JSON: a first byte that opens a JSON object, array or string, or a whole
// text that is one JSON literal (a bare top node named 123, true, ...), is escaped.
void AppendTopName(const Tree_Node& top, Tree_ByteOutput& out) {
  const std::string_view name = top.KeyName().view();
  const char first = name.empty() ? '\0' : name[0];
  const bool bare = top.IsEmpty() && top.GetKind() == Tree_NodeKind::kUntyped &&
                    top.TreeValue() == nullptr && top.IsSingleNodeComplete();
  if (first == '{' || first == '[' || first == '"' ||
      (bare && Tree_JsonMapping::LiteralKind(name) != Tree_NodeKind::kString)) {
    out.Advance(Tree_WriteHexEscape(static_cast<unsigned char>(first), out.Room(4)));
    AppendName(name.substr(1), out, false);
    return;
  }
  AppendName(name, out, false);
}

// A blank at either end of a value and a quote that opens it are escaped, so that the reader,
// which drops blanks around a value and takes a leading quote as quoting, gets them back.
void AppendValue(std::string_view value, Tree_ByteOutput& out, bool padded) {
  const char* at = value.data();
  const char* end = at + value.size();
  if (at == end) return;
  if (*at == ' ' || *at == '"') {
    char* room = out.Room(2);
    room[0] = '\\';
    room[1] = *at++;
    out.Advance(room + 2);
    padded = false;
  }
  const bool last_blank = end > at && end[-1] == ' ';
  AppendEscaped<ValueEscapes>(at, last_blank ? end - 1 : end, out, padded);
  if (last_blank) out.Append("\\ ");
}

void AppendQuoted(std::string_view value, Tree_ByteOutput& out, bool padded) {
  out.Append('"');
  AppendEscaped<QuotedEscapes>(value.data(), value.data() + value.size(), out, padded);
  out.Append('"');
}

// The kind marks, with their leading blank, from the names the reader takes.
struct KindMarks {
  std::string mark[7];
  KindMarks() {
    for (int kind = 0; kind < 7; ++kind) {
      const auto typed = static_cast<Tree_NodeKind>(kind);
      if (typed == Tree_NodeKind::kObject) {
        mark[kind] = " {}";
      } else if (typed == Tree_NodeKind::kArray) {
        mark[kind] = " []";
      } else {
        mark[kind] = " (" + std::string(Tree_JsonMapping::KindName(typed)) + ")";
      }
    }
  }
};
const KindMarks& Marks() {
  static const KindMarks marks;
  return marks;
}

void AppendIndent(std::size_t spaces, Tree_ByteOutput& out) {
  if (spaces > kPiece) {
    out.AppendSpaces(spaces);
    return;
  }
  static constexpr char kRun[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  char* room = out.Room(spaces + 16);
  for (std::size_t done = 0; done < spaces; done += 16) std::memcpy(room + done, kRun, 16);
  out.Advance(room + spaces);
}

// The line of `node` at `depth`; `typed` tells whether its parent is an object or an array.
void WriteNodeLine(const Tree_Node& node, std::size_t depth, bool typed, Tree_ByteOutput& out) {
  Tree_PrefetchAhead(node);
  if (depth == 0) {
    AppendTopName(node, out);
  } else {
    AppendIndent(depth * 2, out);
    AppendName(node.KeyName().view(), out, kStringsHold16);
  }
  const Tree_NodeKind kind = node.GetKind();
  const Tree_Value* value = node.TreeValue();
  // A leaf under an object or an array is written bare when its text gives its kind back,
  // in quotes when it is a string that would not, and with its kind mark otherwise.
  bool quoted = false;
  bool mark = kind != Tree_NodeKind::kUntyped;
  if (node.IsLeaf() && typed) {
    const std::string_view text = value->Value().view();
    const Tree_NodeKind inferred = Tree_JsonMapping::LiteralKind(text);
    if (kind == Tree_NodeKind::kString) {
      quoted = inferred != Tree_NodeKind::kString || (!text.empty() && text[0] == '"');
      mark = false;
    } else {
      mark = kind != inferred;
    }
  }
  // Everything between the name and the value: at most " (boolean) ! *-2147483648 :=".
  char* room = out.Room(48);
  if (mark) {
    const std::string& text = Marks().mark[static_cast<int>(kind)];
    std::memcpy(room, text.data(), text.size());
    room += text.size();
  }
  if (!node.IsSingleNodeComplete()) *room++ = ' ', *room++ = '!';
  if (value != nullptr) {
    *room++ = ' ';
    if (const int flag = value->IsChange(); flag != 0) {
      *room++ = '*';
      if (flag != 1) room = std::to_chars(room, room + 12, flag).ptr;
    }
    if (!node.IsLeaf()) *room++ = ':';
    *room++ = '=';
    out.Advance(room);
    const std::string_view text = value->Value().view();
    if (quoted) {
      out.Append(' ');
      AppendQuoted(text, out, kStringsHold16);
    } else if (!text.empty()) {
      out.Append(' ');
      AppendValue(text, out, kStringsHold16);
    }
  } else {
    out.Advance(room);
  }
  out.Append('\n');
}

bool WriteText(const Tree_NodePtr& tree, Tree_ByteOutput& out, const Tree_TextWriteOptions& options,
               Tree_FormatError* error) {
  const auto fail = [error](Tree_StatusCode code, std::string message) {
    if (error != nullptr) {
      error->code = code;
      error->message = std::move(message);
    }
    return false;
  };
  if (tree == nullptr) return fail(Tree_StatusCode::kInvalidInput, "no tree to write");
  struct Frame {
    explicit Frame(Tree_Node* node) : children(node), typed(Tree_IsTypedContext(node)) {}
    Tree_ChildCursor children;
    bool typed;  // the node is an object or an array
  };
  std::vector<Frame> open;
  std::size_t indented = 0;
  Tree_Node* node = tree.get();
  bool typed = Tree_IsTypedContext(node->GetParent());
  for (;;) {
    indented += open.size() * 2;
    if (indented > options.max_indent_bytes) {
      return fail(Tree_StatusCode::kTooLarge, Tree_FormatError::ShownPath(node->GetPath().view()) +
                                                  ": the indentation would pass " +
                                                  std::to_string(options.max_indent_bytes) +
                                                  " bytes at depth " + std::to_string(open.size()));
    }
    WriteNodeLine(*node, open.size(), typed, out);
    if (!out.MaybeFlush()) return fail(Tree_StatusCode::kIo, "cannot write the output");
    // A node without children (every leaf) opens no frame.
    if (node->GetChildCount() > 0) open.emplace_back(node);
    node = nullptr;
    while (!open.empty()) {
      Frame& frame = open.back();
      if (!frame.children.Done()) {
        node = frame.children.Take();
        typed = frame.typed;
        break;
      }
      open.pop_back();
    }
    if (node == nullptr) break;
  }
  if (!out.Flush()) return fail(Tree_StatusCode::kIo, "cannot write the output");
  return true;
}

}  // namespace

void Tree_Text::AppendName(std::string_view name, std::string& out) {
  Tree_ByteOutput bytes(out);
  ::AppendName(name, bytes, false);
}

void Tree_Text::AppendValue(std::string_view value, std::string& out) {
  Tree_ByteOutput bytes(out);
  ::AppendValue(value, bytes, false);
}

void Tree_Text::AppendQuoted(std::string_view value, std::string& out) {
  Tree_ByteOutput bytes(out);
  ::AppendQuoted(value, bytes, false);
}

void Tree_Text::AppendPath(std::string_view path, std::string& out) {
  Tree_ByteOutput bytes(out);
  AppendEscaped<PathEscapes>(path.data(), path.data() + path.size(), bytes, false);
}

void Tree_Text::WriteLine(const Tree_Node& node, std::size_t depth, std::string& out) {
  Tree_ByteOutput bytes(out);
  WriteNodeLine(node, depth, Tree_IsTypedContext(node.GetParent()), bytes);
}

bool Tree_Text::Write(const Tree_NodePtr& tree, std::string& out,
                      const Tree_TextWriteOptions& options, Tree_FormatError* error) {
  Tree_ByteOutput bytes(out);
  return WriteText(tree, bytes, options, error);
}

bool Tree_Text::Write(const Tree_NodePtr& tree, std::ostream& out,
                      const Tree_TextWriteOptions& options, Tree_FormatError* error) {
  Tree_ByteOutput bytes(out);
  return WriteText(tree, bytes, options, error);
}
