// JSON import: a parser of our own over a bounded buffer, building the tree as it goes with
// an explicit stack of open branches. It keeps every number's literal text (no conversion,
// so no overflow), checks UTF-8 as it copies strings, and counts lines itself so that a
// failure names its line and column without the input being kept.
#include <charconv>
#include <climits>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "formats/Tree_FormatInternal.h"
#include "formats/Tree_JsonMapping.h"

namespace {

int HexDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(unsigned code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xc0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3f));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xe0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (code & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (code & 0x3f));
  }
}

// What a descriptor says, field by field.
struct Described {
  std::optional<std::string> value;
  Tree_NodeKind value_kind = Tree_NodeKind::kString;
  int changed = 0;
  bool leaf = false;
  bool incomplete = false;
  bool array = false;
};

class JsonReader {
 public:
  JsonReader(Tree_ByteInput& input, const Tree_JsonReadOptions& options)
      : m_in(input), m_options(options) {}

  Tree_NodePtr Read(Tree_FormatError* error) {
    const bool parsed = Parse();
    if (parsed) return std::move(m_root);
    if (error != nullptr) {
      error->message = m_error;
      error->code = m_io_failure ? Tree_StatusCode::kIo : Tree_StatusCode::kInvalidInput;
      error->SetPosition(m_error_at, m_error_line, m_error_at - m_error_line_start + 1);
    }
    return Tree_NodePtr();
  }

 private:
  struct Frame {
    Tree_Node* node;
    std::size_t members = 0;
    bool is_array;
    bool described = false;
  };

  // ---- Failures ------------------------------------------------------------------------
  bool FailAt(std::size_t at, std::string message) {
    if (m_in.Failed()) {
      m_io_failure = true;
      message = m_in.ReadError();
    }
    m_error = std::move(message);
    m_error_at = at;
    m_error_line = m_line;
    m_error_line_start = std::min(m_line_start, at);
    return false;
  }
  bool Fail(std::string message) { return FailAt(m_in.Offset(), std::move(message)); }
  bool FailHere(std::string_view what) {
    const int c = m_in.Peek();
    if (c < 0) return Fail("unexpected end of input: expected " + std::string(what));
    return Fail("unexpected " + Describe(c) + ": expected " + std::string(what));
  }
  static std::string Describe(int c) {
    if (c >= 0x20 && c < 0x7f) return std::string("'") + static_cast<char>(c) + "'";
    char text[16];
    std::snprintf(text, sizeof text, "byte 0x%02x", c);
    return text;
  }

  // ---- Bytes ---------------------------------------------------------------------------
  void SkipBlanks() {
    for (;;) {
      const char* at = m_in.Cur();
      const char* end = m_in.End();
      while (at < end) {
        const char c = *at;
        if (c == ' ') {
          ++at;
#if defined(__SSE2__)
          // Indentation comes in runs: sixteen blanks a test.
          while (end - at >= 16) {
            const unsigned blanks = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), _mm_set1_epi8(' '))));
            if (blanks != 0xffff) {
              at += __builtin_ctz(~blanks);
              break;
            }
            at += 16;
          }
#endif
        } else if (c == '\t' || c == '\r') {
          ++at;
        } else if (c == '\n') {
          ++at;
          ++m_line;
          m_in.SetCur(at);
          m_line_start = m_in.Offset();
        } else {
          m_in.SetCur(at);
          return;
        }
      }
      m_in.SetCur(at);
      if (!m_in.Fill()) return;
    }
  }
  bool Expect(char c, std::string_view what) {
    if (m_in.Peek() != static_cast<unsigned char>(c)) return FailHere(what);
    m_in.Skip();
    return true;
  }

  // A string, the opening quote next; its unescaped text in `out`.
  bool ReadString(std::string& out) {
    const std::size_t start = m_in.Offset();
    m_in.Skip();
    out.clear();
    for (;;) {
      if (!m_in.Fill()) return FailAt(start, "a string without its closing quote");
      const char* run = m_in.Cur();
      const char* end = m_in.End();
      const char* at = Tree_JsonPlainEnd(run, end);
      out.append(run, static_cast<std::size_t>(at - run));
      m_in.SetCur(at);
      if (at == end) continue;
      const auto c = static_cast<unsigned char>(*at);
      if (c == '"') {
        m_in.Skip();
        return true;
      }
      if (c == '\\') {
        if (!ReadEscape(out)) return false;
      } else if (c < 0x20) {
        return Fail("a control character in a string: JSON writes it as an escape");
      } else if (!ReadMultibyte(c, out)) {
        return false;
      }
    }
  }

  // A string, the opening quote next: its text as a view into the input when it stands
  // there plain and whole (the usual case, which costs no copy), else unescaped into
  // `buffer`. The view lasts until the next read.
  bool ReadStringText(std::string& buffer, std::string_view& text) {
    const char* const run = m_in.Cur() + 1;
    const char* const end = m_in.End();
    const char* const at = Tree_JsonPlainEnd(run, end);
    if (at < end && *at == '"') {
      text = std::string_view(run, static_cast<std::size_t>(at - run));
      m_in.SetCur(at + 1);
      return true;
    }
    if (!ReadString(buffer)) return false;
    text = buffer;
    return true;
  }

  bool ReadEscape(std::string& out) {
    const std::size_t start = m_in.Offset();
    m_in.Skip();
    const int c = m_in.Peek();
    m_in.Skip();
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out += static_cast<char>(c);
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        break;
      default:
        return FailAt(start, "an unknown escape in a string");
    }
    unsigned code = 0;
    if (!ReadHex4(start, code)) return false;
    if (code >= 0xdc00 && code <= 0xdfff) {
      return FailAt(start, "a lone low surrogate \\u escape: not a character");
    }
    if (code >= 0xd800 && code <= 0xdbff) {
      unsigned low = 0;
      if (m_in.Peek() != '\\') return FailAt(start, "a high surrogate without its low half");
      m_in.Skip();
      if (m_in.Peek() != 'u') return FailAt(start, "a high surrogate without its low half");
      m_in.Skip();
      if (!ReadHex4(start, low)) return false;
      if (low < 0xdc00 || low > 0xdfff) {
        return FailAt(start, "a high surrogate without its low half");
      }
      code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
    }
    AppendUtf8(code, out);
    return true;
  }

  bool ReadHex4(std::size_t start, unsigned& code) {
    for (int digit = 0; digit < 4; ++digit) {
      const int value = HexDigit(m_in.Peek());
      if (value < 0) return FailAt(start, "\\u needs four hex digits");
      m_in.Skip();
      code = code * 16 + static_cast<unsigned>(value);
    }
    return true;
  }

  // A UTF-8 sequence led by `lead`: well formed, shortest form, no surrogates.
  bool ReadMultibyte(unsigned char lead, std::string& out) {
    const std::size_t start = m_in.Offset();
    Tree_Utf8Lead expect = Tree_Utf8LeadOf(lead);
    if (expect.length == 0) return FailAt(start, "ill-formed UTF-8 in a string");
    out += static_cast<char>(lead);
    m_in.Skip();
    for (int index = 1; index < expect.length; ++index) {
      const int next = m_in.Peek();
      if (next < 0 || static_cast<unsigned>(next) < expect.low ||
          static_cast<unsigned>(next) > expect.high) {
        return FailAt(start, "ill-formed UTF-8 in a string");
      }
      expect.low = 0x80, expect.high = 0xbf;
      out += static_cast<char>(next);
      m_in.Skip();
    }
    return true;
  }

  // A number literal, copied as written.
  bool ReadNumber(std::string& out) {
    out.clear();
    const auto take = [&] {
      out += static_cast<char>(m_in.Peek());
      m_in.Skip();
    };
    const auto digits = [&] {
      const std::size_t before = out.size();
      for (;;) {
        const int c = m_in.Peek();
        if (c < '0' || c > '9') break;
        take();
      }
      return out.size() > before;
    };
    if (m_in.Peek() == '-') take();
    if (m_in.Peek() == '0') {
      take();
    } else if (!digits()) {
      return FailHere("a digit");
    }
    if (m_in.Peek() == '.') {
      take();
      if (!digits()) return FailHere("a digit after the decimal point");
    }
    if (m_in.Peek() == 'e' || m_in.Peek() == 'E') {
      take();
      if (m_in.Peek() == '+' || m_in.Peek() == '-') take();
      if (!digits()) return FailHere("a digit in the exponent");
    }
    return true;
  }

  // A number literal as a view into the input when it ends inside the chunk and is well
  // formed, else copied into `buffer` by ReadNumber, which names what is wrong.
  bool ReadNumberText(std::string& buffer, std::string_view& text) {
    const char* const start = m_in.Cur();
    const char* const end = m_in.End();
    const char* at = start;
    while (at < end && ((*at >= '0' && *at <= '9') || *at == '-' || *at == '+' || *at == '.' ||
                        *at == 'e' || *at == 'E')) {
      ++at;
    }
    const std::string_view run(start, static_cast<std::size_t>(at - start));
    if (at < end && Tree_JsonMapping::IsNumber(run)) {
      text = run;
      m_in.SetCur(at);
      return true;
    }
    if (!ReadNumber(buffer)) return false;
    text = buffer;
    return true;
  }

  bool ReadWord(std::string_view word) {
    const std::size_t start = m_in.Offset();
    for (const char c : word) {
      if (m_in.Peek() != static_cast<unsigned char>(c)) {
        return FailAt(start, "an invalid literal: JSON has true, false and null");
      }
      m_in.Skip();
    }
    return true;
  }

  // A scalar: its text, a view into the input or into `buffer` that lasts until the next
  // read, and its kind. False on anything else.
  bool ReadScalar(std::string& buffer, std::string_view& text, Tree_NodeKind& kind) {
    switch (m_in.Peek()) {
      case '"':
        kind = Tree_NodeKind::kString;
        return ReadStringText(buffer, text);
      case 't':
        kind = Tree_NodeKind::kBoolean;
        text = "true";
        return ReadWord(text);
      case 'f':
        kind = Tree_NodeKind::kBoolean;
        text = "false";
        return ReadWord(text);
      case 'n':
        kind = Tree_NodeKind::kNull;
        text = "null";
        return ReadWord(text);
      default:
        kind = Tree_NodeKind::kNumber;
        return ReadNumberText(buffer, text);
    }
  }

  // ---- Nodes ---------------------------------------------------------------------------

  // Makes the node of the next value, with `value` (a leaf) or without (a branch), and puts
  // it under the innermost open branch, or at the top.
  Tree_Node* Place(Tree_Value* value, Tree_NodeKind kind) {
    Tree_Node* node;
    if (m_open.empty()) {
      m_root = Tree_NodePtr(new Tree_Node(RWCString(m_options.root_name), value));
      m_root->SetKind(kind);
      node = m_root.get();
    } else {
      Frame& frame = m_open.back();
      if (frame.is_array) {
        char digits[24];
        node = frame.node->AddNewChild(
            RWCString(Tree_JsonMapping::IndexName(frame.members++, digits)), value, kind);
      } else {
        node = frame.node->AddNewChild(std::move(m_name), value, kind);
      }
    }
    if (m_options.progress && (++m_nodes & 0xffff) == 0) {
      m_options.progress(m_in.Offset(), m_nodes);
    }
    return node;
  }

  bool Value() {
    const int c = m_in.Peek();
    if (c == '{' || c == '[') {
      m_in.Skip();
      Tree_Node* node = Place(nullptr, c == '{' ? Tree_NodeKind::kObject : Tree_NodeKind::kArray);
      m_open.push_back({node, 0, c == '['});
      return true;
    }
    if (c < 0) return FailHere("a value");
    if (c != '"' && c != 't' && c != 'f' && c != 'n' && c != '-' && (c < '0' || c > '9')) {
      return FailHere("a value");
    }
    Tree_NodeKind kind;
    std::string_view text;
    if (!ReadScalar(m_text, text, kind)) return false;
    Place(new Tree_Value(RWCString(text), 0), kind);
    return true;
  }

  // A member name, then its colon; reads the descriptor when it leads an object in exact
  // mode.
  bool Member(bool first) {
    const std::size_t at = m_in.Offset();
    if (m_in.Peek() != '"') return FailHere("a member name in quotes");
    std::string_view text;
    if (!ReadStringText(m_key, text)) return false;
    // The node's name made here, straight from the input when the name stands there plain,
    // with a buffer of its own length, before the input moves on.
    m_name = RWCString(text);
    SkipBlanks();
    if (!Expect(':', "':' after a member name")) return false;
    SkipBlanks();
    Frame& frame = m_open.back();
    const std::string_view name = m_name.view();
    if (first && m_options.exact && name == Tree_JsonMapping::kDescriptor) {
      frame.described = true;
      return Descriptor(frame);
    }
    if (frame.node->IsLeaf()) return FailAt(at, "a node described as a leaf has no members");
    if (!Tree_Node::IsKeptKeyName(name)) {
      return FailAt(at, name.empty() ? "an empty member name: a tree node cannot have it"
                                     : "the member name \"" + std::string(name) +
                                           "\" has a blank at either end: a tree node "
                                           "cannot have it");
    }
    ++frame.members;
    return Value();
  }

  // Closes the innermost branch.
  bool Close() {
    Frame& frame = m_open.back();
    if (frame.described) {
      Tree_Node& node = *frame.node;
      if (node.GetKind() == Tree_NodeKind::kArray && !Tree_JsonMapping::HasIndexNames(node)) {
        return Fail("an array descriptor over members not named 0, 1, 2, ...");
      }
      if (!Tree_JsonMapping::NeedsDescriptor(node, true)) {
        return Fail("a @tree descriptor that says nothing JSON cannot say plainly");
      }
    }
    m_in.Skip();
    m_open.pop_back();
    return true;
  }

  // ---- The descriptor: {"value": V, "changed": N, "leaf": true, "incomplete": true,
  // "array": true}, each field at most once and in that order -----------------------------
  bool Descriptor(Frame& frame) {
    static constexpr std::string_view kFields[] = {
        Tree_JsonMapping::kValueField, Tree_JsonMapping::kChangedField,
        Tree_JsonMapping::kLeafField, Tree_JsonMapping::kIncompleteField,
        Tree_JsonMapping::kArrayField};
    if (m_in.Peek() != '{') return FailHere("an object after \"@tree\"");
    m_in.Skip();
    SkipBlanks();
    Described described;
    std::size_t next_field = 0;
    if (m_in.Peek() != '}') {
      for (;;) {
        const std::size_t at = m_in.Offset();
        if (m_in.Peek() != '"') return FailHere("a @tree field name in quotes");
        if (!ReadString(m_key)) return false;
        std::size_t field = 0;
        while (field < 5 && m_key != kFields[field]) ++field;
        if (field == 5) return FailAt(at, "unknown @tree field \"" + m_key + "\"");
        if (field < next_field) {
          return FailAt(at,
                        "@tree fields come once, in the order value, changed, leaf, "
                        "incomplete, array");
        }
        next_field = field + 1;
        SkipBlanks();
        if (!Expect(':', "':' after a @tree field")) return false;
        SkipBlanks();
        const std::size_t value_at = m_in.Offset();
        const int c = m_in.Peek();
        if (c == '{' || c == '[') return Fail("a @tree field holds no objects or arrays");
        if (c < 0) return FailHere("a value");
        Tree_NodeKind kind;
        std::string_view text;
        if (!ReadScalar(m_text, text, kind)) return false;
        if (!DescriptorField(field, text, kind, value_at, described)) return false;
        SkipBlanks();
        if (m_in.Peek() == '}') break;
        if (!Expect(',', "',' or '}' in a @tree descriptor")) return false;
        SkipBlanks();
      }
    }
    m_in.Skip();
    return ApplyDescriptor(frame, described);
  }

  bool DescriptorField(std::size_t field, std::string_view text, Tree_NodeKind kind, std::size_t at,
                       Described& out) {
    switch (field) {
      case 0:
        out.value = std::string(text);
        out.value_kind = kind;
        return true;
      case 1: {
        int changed = 0;
        const char* end = text.data() + text.size();
        const auto parsed = std::from_chars(text.data(), end, changed);
        if (kind != Tree_NodeKind::kNumber || parsed.ec != std::errc() || parsed.ptr != end ||
            changed == 0) {
          return FailAt(at, "\"changed\" in a @tree descriptor is a nonzero int");
        }
        out.changed = changed;
        return true;
      }
      default:
        if (kind != Tree_NodeKind::kBoolean || text != "true") {
          std::string message(1, '"');
          message.append(m_key).append("\" in a @tree descriptor is true when present");
          return FailAt(at, message);
        }
        (field == 2 ? out.leaf : field == 3 ? out.incomplete : out.array) = true;
        return true;
    }
  }

  bool ApplyDescriptor(Frame& frame, Described& described) {
    if (!described.value && (described.changed != 0 || described.leaf)) {
      return Fail("a @tree descriptor with \"changed\" or \"leaf\" needs a \"value\"");
    }
    if (described.leaf && described.array) return Fail("a leaf is not an array");
    if (described.value && !described.leaf && described.value_kind != Tree_NodeKind::kString) {
      return Fail("the value of a branch is a string in a @tree descriptor");
    }
    Tree_Node* node = frame.node;
    if (described.leaf) {
      // The branch made for the object becomes a leaf; it is still its parent's last child.
      Tree_NodePtr leaf(
          new Tree_Node(node->KeyName(),
                        new Tree_Value(RWCString(std::move(*described.value)), described.changed)));
      leaf->SetKind(described.value_kind);
      if (Tree_Node* parent = node->GetParent()) {
        parent->Remove(parent->GetChildCount() - 1);
        parent->Add(leaf);
      } else {
        m_root = leaf;
      }
      node = leaf.get();
      frame.node = node;
    } else {
      if (described.value) {
        node->SetTreeValue(
            new Tree_Value(RWCString(std::move(*described.value)), described.changed));
      }
      if (described.array) node->SetKind(Tree_NodeKind::kArray);
    }
    if (described.incomplete) node->SetSingleNodeComplete(false);
    return true;
  }

  // ---- The document --------------------------------------------------------------------
  bool Parse() {
    // A UTF-8 byte order mark at the start is not part of the document.
    if (m_in.Peek() == 0xef) {
      m_in.Skip();
      if (m_in.Peek() != 0xbb) return Fail("unexpected byte 0xef: expected a value");
      m_in.Skip();
      if (m_in.Peek() != 0xbf) return Fail("unexpected byte 0xbb: expected a value");
      m_in.Skip();
      m_line_start = m_in.Offset();
    }
    SkipBlanks();
    if (m_in.Peek() < 0) {
      if (m_in.Failed()) return Fail("");
      return Fail("no JSON document: the input is empty or blank");
    }
    if (!Value()) return false;
    while (!m_open.empty()) {
      SkipBlanks();
      Frame& frame = m_open.back();
      const int closing = frame.is_array ? ']' : '}';
      const bool first = frame.members == 0 && !frame.described;
      if (m_in.Peek() == closing) {
        if (!Close()) return false;
        continue;
      }
      if (!first) {
        if (!Expect(',', frame.is_array ? "',' or ']' after an array element"
                                        : "',' or '}' after a member")) {
          return false;
        }
        SkipBlanks();
      }
      if (frame.is_array ? !Value() : !Member(first)) return false;
    }
    SkipBlanks();
    if (m_in.Peek() >= 0) return FailHere("the end of input after the document");
    if (m_in.Failed()) return Fail("");
    return true;
  }

  Tree_ByteInput& m_in;
  const Tree_JsonReadOptions& m_options;
  Tree_NodePtr m_root;
  std::vector<Frame> m_open;
  std::string m_key;
  RWCString m_name;  // the name of the member being read, until its node takes it
  std::string m_text;
  std::size_t m_nodes = 0;
  std::size_t m_line = 1;
  std::size_t m_line_start = 0;  // the offset of the current line's first byte

  std::string m_error;
  bool m_io_failure = false;
  std::size_t m_error_at = 0;
  std::size_t m_error_line = 1;
  std::size_t m_error_line_start = 0;
};

}  // namespace

Tree_NodePtr Tree_ReadJson(Tree_ByteInput& input, const Tree_JsonReadOptions& options,
                           Tree_FormatError* error) {
  return JsonReader(input, options).Read(error);
}

Tree_NodePtr Tree_Json::Read(std::string_view text, const Tree_JsonReadOptions& options,
                             Tree_FormatError* error) {
  Tree_ByteInput input(text);
  return Tree_ReadJson(input, options, error);
}

Tree_NodePtr Tree_Json::Read(std::istream& in, const Tree_JsonReadOptions& options,
                             Tree_FormatError* error) {
  Tree_ByteInput input = Tree_ByteInput::FromStream(in);
  return Tree_ReadJson(input, options, error);
}
