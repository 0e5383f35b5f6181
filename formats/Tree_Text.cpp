#include "formats/Tree_Text.h"

#include <charconv>
#include <cstring>
#include <vector>

#include "formats/Tree_FormatInternal.h"
#include "formats/Tree_JsonMapping.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// Writers escape every control byte, so a raw one is no tree's text: most often it is a binary
// file, or JSON with bytes after its document, read as the text format.
bool IsRawControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte < 0x20 && c != '\t' && c != '\r') || byte == 0x7f;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads one line's fields; every failure names the byte (from 0 in the line) where it broke.
class LineReader {
 public:
  explicit LineReader(std::string_view line) : m_text(line) {}

  std::size_t At() const { return m_at; }
  bool AtEnd() const { return m_at == m_text.size(); }
  char Peek() const { return m_text[m_at]; }
  bool PeekIs(char c) const { return m_at < m_text.size() && m_text[m_at] == c; }
  void Skip(std::size_t count = 1) { m_at += count; }
  std::string_view Rest() const { return m_text.substr(m_at); }
  void SkipBlanks() {
    while (m_at < m_text.size() && IsBlank(m_text[m_at])) ++m_at;
  }
  const std::string& Error() const { return m_error; }
  std::size_t ErrorAt() const { return m_error_at; }

  bool Fail(std::string message, std::size_t at) {
    m_error = std::move(message);
    m_error_at = at;
    return false;
  }

  // A name ends at the first unescaped blank.
  bool ReadName(std::string& name) {
    while (m_at < m_text.size() && !IsBlank(m_text[m_at])) {
      const char c = m_text[m_at];
      if (c == '=') {
        return Fail("'=' in a name: write \"name = value\", or \\= for an '=' in the name", m_at);
      }
      if (c == '\\') {
        if (!ReadEscape(name)) return false;
      } else if (!Take(name, c)) {
        return false;
      }
    }
    return true;
  }

  // A value runs to the end of the line; unescaped blanks at either end are dropped.
  bool ReadValue(std::string& value) {
    SkipBlanks();
    std::size_t kept = 0;  // the length without trailing unescaped blanks
    while (m_at < m_text.size()) {
      const char c = m_text[m_at];
      if (c == '\\') {
        if (!ReadEscape(value)) return false;
        kept = value.size();
      } else {
        if (!Take(value, c)) return false;
        if (!IsBlank(c)) kept = value.size();
      }
    }
    value.resize(kept);
    return true;
  }

  // A value in quotes, the opening quote next: its text up to the unescaped closing quote,
  // with nothing but blanks after it.
  bool ReadQuoted(std::string& value) {
    const std::size_t start = m_at++;
    for (;;) {
      if (m_at == m_text.size()) return Fail("a quoted value without its closing quote", start);
      const char c = m_text[m_at];
      if (c == '"') break;
      if (c == '\\') {
        if (!ReadEscape(value)) return false;
      } else if (!Take(value, c)) {
        return false;
      }
    }
    ++m_at;
    SkipBlanks();
    if (!AtEnd()) return Fail("text after the closing quote of a value", m_at);
    return true;
  }

 private:
  // Appends the unescaped byte `c` at the cursor, refusing a raw control byte.
  bool Take(std::string& out, char c) {
    if (IsRawControl(c)) {
      char escape[4];
      Tree_WriteHexEscape(static_cast<unsigned char>(c), escape);
      return Fail("a raw control byte: write it as " + std::string(escape, 4), m_at);
    }
    out += c;
    ++m_at;
    return true;
  }

  bool ReadEscape(std::string& out) {
    const std::size_t start = m_at++;
    if (m_at == m_text.size()) return Fail("a backslash at the end of a line", start);
    const char c = m_text[m_at++];
    switch (c) {
      case '\\':
      case ' ':
      case '=':
      case '#':
      case '"':
        out += c;
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
      case 'x': {
        const int high = m_at < m_text.size() ? HexValue(m_text[m_at]) : -1;
        const int low = m_at + 1 < m_text.size() ? HexValue(m_text[m_at + 1]) : -1;
        if (high < 0 || low < 0) return Fail("\\x needs two hex digits", start);
        out += static_cast<char>(high * 16 + low);
        m_at += 2;
        return true;
      }
      default:
        return Fail(std::string("unknown escape \\") + c, start);
    }
  }

  std::string_view m_text;
  std::size_t m_at = 0;
  std::string m_error;
  std::size_t m_error_at = 0;
};

// The change-flag marker before '=' or ":=": "*" is 1, "*N" is N.
bool ReadChangeFlag(LineReader& line, int& flag) {
  flag = 0;
  if (!line.PeekIs('*')) return true;
  line.Skip();
  const std::string_view rest = line.Rest();
  std::size_t end = 0;
  while (end < rest.size() && (rest[end] == '-' || (rest[end] >= '0' && rest[end] <= '9'))) ++end;
  if (end == 0) {
    flag = 1;
    return true;
  }
  const auto parsed = std::from_chars(rest.data(), rest.data() + end, flag);
  if (parsed.ec != std::errc() || parsed.ptr != rest.data() + end || flag == 0) {
    return line.Fail("a change flag is '*' or '*N' with N a nonzero int", line.At());
  }
  line.Skip(end);
  return true;
}

// A kind mark: "{}", "[]" or "(name)"; nullopt-like false in `marked` when there is none.
bool ReadKindMark(LineReader& line, bool& marked, Tree_NodeKind& kind) {
  marked = false;
  const std::size_t at = line.At();
  const std::string_view rest = line.Rest();
  if (rest.substr(0, 2) == "{}" || rest.substr(0, 2) == "[]") {
    marked = true;
    kind = rest[0] == '{' ? Tree_NodeKind::kObject : Tree_NodeKind::kArray;
    line.Skip(2);
    return true;
  }
  if (rest.empty() || rest[0] != '(') return true;
  const std::size_t close = rest.find(')');
  const std::string_view name = rest.substr(1, close == std::string_view::npos ? 0 : close - 1);
  for (const Tree_NodeKind candidate :
       {Tree_NodeKind::kUntyped, Tree_NodeKind::kString, Tree_NodeKind::kNumber,
        Tree_NodeKind::kBoolean, Tree_NodeKind::kNull, Tree_NodeKind::kObject,
        Tree_NodeKind::kArray}) {
    if (close != std::string_view::npos && name == Tree_JsonMapping::KindName(candidate)) {
      marked = true;
      kind = candidate;
      line.Skip(close + 1);
      return true;
    }
  }
  return line.Fail(
      "a kind mark is {}, [] or one of (untyped), (string), (number), (boolean), "
      "(null), (object), (array)",
      at);
}

class TextReader {
 public:
  TextReader(Tree_ByteInput& input, const Tree_TextReadOptions& options)
      : m_in(input), m_options(options) {}

  Tree_NodePtr Read(Tree_FormatError* error) {
    m_error = error;
    std::string_view line;
    while (NextLine(line)) {
      if (m_line_number == 1 && line.starts_with(kByteOrderMark)) {
        line.remove_prefix(kByteOrderMark.size());
        m_line_offset += kByteOrderMark.size();
      }
      if (!ReadLine(line)) return Tree_NodePtr();
    }
    if (m_in.Failed()) {
      Fail(m_in.ReadError(), 0);
      if (error != nullptr) error->code = Tree_StatusCode::kIo;
      return Tree_NodePtr();
    }
    if (m_root == nullptr) {
      ++m_line_number;
      m_line_offset = m_in.Offset();
      Fail("no node: the input holds only blanks and comments", 0);
      return Tree_NodePtr();
    }
    return std::move(m_root);
  }

 private:
  // The next line without its newline; a view into the chunk when it lies in one, else
  // gathered in m_line.
  bool NextLine(std::string_view& line) {
    if (!m_in.Fill()) return false;
    ++m_line_number;
    m_line_offset = m_in.Offset();
    const char* at = m_in.Cur();
    const char* end = m_in.End();
    if (const void* newline = std::memchr(at, '\n', static_cast<std::size_t>(end - at))) {
      const char* stop = static_cast<const char*>(newline);
      line = std::string_view(at, static_cast<std::size_t>(stop - at));
      m_in.SetCur(stop + 1);
      return true;
    }
    m_line.assign(at, end);
    m_in.SetCur(end);
    while (m_in.Fill()) {
      at = m_in.Cur();
      end = m_in.End();
      const void* newline = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
      const char* stop = newline != nullptr ? static_cast<const char*>(newline) : end;
      m_line.append(at, stop);
      m_in.SetCur(newline != nullptr ? stop + 1 : end);
      if (newline != nullptr) break;
    }
    line = m_line;
    return true;
  }

  bool Fail(const std::string& message, std::size_t at) {
    if (m_error != nullptr) {
      m_error->message = message;
      m_error->code = Tree_StatusCode::kInvalidInput;
      m_error->SetPosition(m_line_offset + at, m_line_number, at + 1);
    }
    return false;
  }

  bool ReadLine(std::string_view text) {
    LineReader line(text);
    std::size_t indent = 0;
    while (line.PeekIs(' ')) {
      line.Skip();
      ++indent;
    }
    const std::size_t name_at = line.At();
    line.SkipBlanks();
    if (line.AtEnd() || line.Peek() == '#') return true;  // a blank line or a comment
    if (line.At() != name_at) return Fail("indent with spaces only", name_at);
    if (indent % 2 != 0) return Fail("indent by two spaces per level", name_at);
    const std::size_t depth = indent / 2;
    if (depth == 0 && m_root != nullptr) return Fail("a second top-level node", name_at);
    if (depth > m_open.size()) {
      return Fail("indented deeper than one level below its parent", name_at);
    }

    m_name.clear();
    m_value.clear();
    if (!line.ReadName(m_name)) return Fail(line.Error(), line.ErrorAt());
    if (!Tree_Node::IsKeptKeyName(m_name)) {
      return Fail(m_name.empty() ? "an empty name: a tree node cannot have it"
                                 : "a name with a blank at either end: a tree node cannot have it",
                  name_at);
    }
    line.SkipBlanks();
    bool marked = false;
    Tree_NodeKind kind = Tree_NodeKind::kUntyped;
    if (!ReadKindMark(line, marked, kind)) return Fail(line.Error(), line.ErrorAt());
    line.SkipBlanks();
    bool incomplete = false;
    if (line.PeekIs('!')) {
      incomplete = true;
      line.Skip();
      line.SkipBlanks();
    }
    int flag = 0;
    bool has_value = false;
    bool leaf = false;
    if (!line.AtEnd()) {
      const std::size_t op_at = line.At();
      if (!ReadChangeFlag(line, flag)) return Fail(line.Error(), line.ErrorAt());
      if (line.PeekIs('=')) {
        leaf = true;
        line.Skip();
      } else if (line.Rest().substr(0, 2) == ":=") {
        line.Skip(2);
      } else {
        return Fail("expected a kind mark, '=', ':=', '!' or the end of the line", op_at);
      }
      has_value = true;
      Tree_Node* parent = depth > 0 ? m_open[depth - 1] : nullptr;
      if (leaf && !marked && Tree_IsTypedContext(parent)) {
        line.SkipBlanks();
        if (line.PeekIs('"')) {
          if (!line.ReadQuoted(m_value)) return Fail(line.Error(), line.ErrorAt());
          kind = Tree_NodeKind::kString;
        } else {
          if (!line.ReadValue(m_value)) return Fail(line.Error(), line.ErrorAt());
          kind = Tree_JsonMapping::LiteralKind(m_value);
        }
      } else if (!line.ReadValue(m_value)) {
        return Fail(line.Error(), line.ErrorAt());
      }
    }

    Tree_NodePtr node(
        leaf ? new Tree_Node(RWCString(m_name), new Tree_Value(RWCString(m_value), flag))
             : new Tree_Node(RWCString(m_name)));
    if (has_value && !leaf) node->SetTreeValue(new Tree_Value(RWCString(m_value), flag));
    node->SetKind(kind);
    Tree_Node* const made = node.get();
    m_open.resize(depth);
    if (depth == 0) {
      m_root = std::move(node);
    } else {
      if (m_open.back()->IsLeaf()) {
        return Fail("a leaf (name = value) cannot have children", name_at);
      }
      m_open.back()->Add(std::move(node));
    }
    if (incomplete) made->SetSingleNodeComplete(false);
    m_open.push_back(made);
    if (m_options.progress && (++m_nodes & 0xffff) == 0) {
      m_options.progress(m_line_offset, m_nodes);
    }
    return true;
  }

  Tree_ByteInput& m_in;
  const Tree_TextReadOptions& m_options;
  Tree_FormatError* m_error = nullptr;
  Tree_NodePtr m_root;
  std::vector<Tree_Node*> m_open;  // m_open[d] is the last node read at depth d
  std::size_t m_nodes = 0;
  std::size_t m_line_number = 0;
  std::size_t m_line_offset = 0;
  std::string m_line;
  std::string m_name;
  std::string m_value;
};

}  // namespace

Tree_NodePtr Tree_ReadText(Tree_ByteInput& input, const Tree_TextReadOptions& options,
                           Tree_FormatError* error) {
  return TextReader(input, options).Read(error);
}

Tree_NodePtr Tree_Text::Read(std::string_view text, const Tree_TextReadOptions& options,
                             Tree_FormatError* error) {
  Tree_ByteInput input(text);
  return Tree_ReadText(input, options, error);
}

Tree_NodePtr Tree_Text::Read(std::istream& in, const Tree_TextReadOptions& options,
                             Tree_FormatError* error) {
  Tree_ByteInput input = Tree_ByteInput::FromStream(in);
  return Tree_ReadText(input, options, error);
}
