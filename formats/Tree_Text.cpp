#include "formats/Tree_Text.h"

#include <charconv>
#include <cstring>
#include <vector>

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

void AppendControl(unsigned char c, std::string& out) {
  switch (c) {
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      out += "\\x";
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 0xf];
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads one line's fields; every failure names the byte where it broke.
class LineReader {
 public:
  LineReader(std::string_view text, std::size_t begin, std::size_t end)
      : m_text(text), m_at(begin), m_end(end) {}

  std::size_t At() const { return m_at; }
  bool AtEnd() const { return m_at == m_end; }
  char Peek() const { return m_text[m_at]; }
  void Skip() { ++m_at; }
  void SkipBlanks() {
    while (m_at < m_end && (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\r')) {
      ++m_at;
    }
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
    while (m_at < m_end && m_text[m_at] != ' ' && m_text[m_at] != '\t' && m_text[m_at] != '\r') {
      const char c = m_text[m_at];
      if (c == '=') {
        return Fail("'=' in a name: write \"name = value\", or \\= for an '=' in the name", m_at);
      }
      if (c == '\\') {
        if (!ReadEscape(name)) return false;
      } else {
        name += c;
        ++m_at;
      }
    }
    return true;
  }

  // A value runs to the end of the line; unescaped blanks at either end are dropped.
  bool ReadValue(std::string& value) {
    SkipBlanks();
    std::size_t kept = 0;  // the length without trailing unescaped blanks
    while (m_at < m_end) {
      const char c = m_text[m_at];
      if (c == '\\') {
        if (!ReadEscape(value)) return false;
        kept = value.size();
      } else {
        value += c;
        ++m_at;
        if (c != ' ' && c != '\t' && c != '\r') kept = value.size();
      }
    }
    value.resize(kept);
    return true;
  }

 private:
  bool ReadEscape(std::string& out) {
    const std::size_t start = m_at++;
    if (m_at == m_end) return Fail("a backslash at the end of a line", start);
    const char c = m_text[m_at++];
    switch (c) {
      case '\\':
      case ' ':
      case '=':
      case '#':
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
        const int high = m_at < m_end ? HexValue(m_text[m_at]) : -1;
        const int low = m_at + 1 < m_end ? HexValue(m_text[m_at + 1]) : -1;
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
  std::size_t m_at;
  std::size_t m_end;
  std::string m_error;
  std::size_t m_error_at = 0;
};

// The change-flag marker before '=' or ":=": "*" is 1, "*N" is N.
bool ReadChangeFlag(LineReader& line, std::string_view text, int& flag) {
  flag = 0;
  if (line.AtEnd() || line.Peek() != '*') return true;
  line.Skip();
  std::size_t end = line.At();
  while (end < text.size() && (text[end] == '-' || (text[end] >= '0' && text[end] <= '9'))) ++end;
  if (end == line.At()) {
    flag = 1;
    return true;
  }
  const auto parsed = std::from_chars(text.data() + line.At(), text.data() + end, flag);
  if (parsed.ec != std::errc() || parsed.ptr != text.data() + end || flag == 0) {
    return line.Fail("a change flag is '*' or '*N' with N a nonzero int", line.At());
  }
  while (line.At() < end) line.Skip();
  return true;
}

}  // namespace

Tree_NodePtr Tree_Text::Read(std::string_view text, const Tree_TextReadOptions& options,
                             Tree_FormatError* error) {
  Tree_NodePtr root;
  std::vector<Tree_Node*> open;  // open[d] is the last node read at depth d
  std::size_t nodes = 0;
  std::string name;
  std::string value;
  const auto fail = [&](std::string message, std::size_t at) {
    if (error != nullptr) {
      error->message = std::move(message);
      error->SetLineColumn(text, at);
    }
    return Tree_NodePtr();
  };

  std::size_t line_begin = 0;
  while (line_begin < text.size()) {
    const char* newline = static_cast<const char*>(
        std::memchr(text.data() + line_begin, '\n', text.size() - line_begin));
    const std::size_t line_end =
        newline != nullptr ? static_cast<std::size_t>(newline - text.data()) : text.size();
    LineReader line(text, line_begin, line_end);
    const std::size_t next_line = line_end + 1;

    std::size_t indent = 0;
    while (!line.AtEnd() && line.Peek() == ' ') {
      line.Skip();
      ++indent;
    }
    const std::size_t name_at = line.At();
    line.SkipBlanks();
    if (line.AtEnd() || line.Peek() == '#') {  // a blank line or a comment
      line_begin = next_line;
      continue;
    }
    if (line.At() != name_at) return fail("indent with spaces only", name_at);
    if (indent % 2 != 0) return fail("indent by two spaces per level", name_at);
    const std::size_t depth = indent / 2;
    if (depth == 0 && root != nullptr) return fail("a second top-level node", name_at);
    if (depth > open.size())
      return fail("indented deeper than one level below its parent", name_at);

    name.clear();
    value.clear();
    if (!line.ReadName(name)) return fail(line.Error(), line.ErrorAt());
    if (!Tree_Node::IsKeptKeyName(name)) {
      return fail(name.empty() ? "an empty name: a tree node cannot have it"
                               : "a name with a blank at either end: a tree node cannot have it",
                  name_at);
    }
    line.SkipBlanks();
    bool incomplete = false;
    if (!line.AtEnd() && line.Peek() == '!') {
      incomplete = true;
      line.Skip();
      line.SkipBlanks();
    }
    int flag = 0;
    bool has_value = false;
    bool leaf = false;
    if (!line.AtEnd()) {
      const std::size_t op_at = line.At();
      if (!ReadChangeFlag(line, text.substr(0, line_end), flag)) {
        return fail(line.Error(), line.ErrorAt());
      }
      if (!line.AtEnd() && line.Peek() == '=') {
        leaf = true;
        line.Skip();
      } else if (!line.AtEnd() && line.Peek() == ':' && line.At() + 1 < line_end &&
                 text[line.At() + 1] == '=') {
        line.Skip();
        line.Skip();
      } else {
        return fail("expected '=', ':=', '!' or the end of the line", op_at);
      }
      has_value = true;
      if (!line.ReadValue(value)) return fail(line.Error(), line.ErrorAt());
    }

    Tree_NodePtr node(leaf ? new Tree_Node(RWCString(name), new Tree_Value(RWCString(value), flag))
                           : new Tree_Node(RWCString(name)));
    if (has_value && !leaf) node->SetTreeValue(new Tree_Value(RWCString(value), flag));
    open.resize(depth);
    if (depth == 0) {
      root = node;
    } else {
      if (open.back()->IsLeaf()) return fail("a leaf (name = value) cannot have children", name_at);
      open.back()->Add(node);
    }
    if (incomplete) node->SetSingleNodeComplete(false);
    open.push_back(node.get());
    if (options.progress && (++nodes & 0xffff) == 0) options.progress(line_begin, nodes);
    line_begin = next_line;
  }
  if (root == nullptr)
    return fail("no node: the input holds only blanks and comments", text.size());
  return root;
}

namespace {

// Appends `text` with its control bytes escaped and a backslash before each other byte for
// which `needs_backslash(byte, position)` holds.
template <class NeedsBackslash>
void AppendEscaped(std::string_view text, std::string& out, NeedsBackslash needs_backslash) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (IsControl(byte)) {
      AppendControl(byte, out);
      continue;
    }
    if (needs_backslash(text[at], at)) out += '\\';
    out += text[at];
  }
}

}  // namespace

void Tree_Text::AppendName(std::string_view name, std::string& out) {
  AppendEscaped(name, out,
                [](char c, std::size_t) { return c == '\\' || c == ' ' || c == '=' || c == '#'; });
}

void Tree_Text::AppendValue(std::string_view value, std::string& out) {
  AppendEscaped(value, out, [&value](char c, std::size_t at) {
    return c == '\\' || (c == ' ' && (at == 0 || at + 1 == value.size()));
  });
}

void Tree_Text::AppendPath(std::string_view path, std::string& out) {
  AppendEscaped(path, out, [](char, std::size_t) { return false; });
}

void Tree_Text::WriteLine(const Tree_Node& node, std::size_t depth, std::string& out) {
  out.append(depth * 2, ' ');
  AppendName(node.KeyName().view(), out);
  if (!node.IsSingleNodeComplete()) out += " !";
  if (const Tree_Value* value = node.TreeValue()) {
    out += ' ';
    if (value->IsChange() != 0) {
      out += '*';
      if (value->IsChange() != 1) out += std::to_string(value->IsChange());
    }
    out += node.IsLeaf() ? "=" : ":=";
    if (!value->Value().view().empty()) {
      out += ' ';
      AppendValue(value->Value().view(), out);
    }
  }
  out += '\n';
}

void Tree_Text::Write(const Tree_NodePtr& tree, std::string& out) {
  if (tree == nullptr) return;
  struct Frame {
    Tree_Node* node;
    int next;
  };
  std::vector<Frame> open;
  Tree_Node* node = tree.get();
  for (;;) {
    WriteLine(*node, open.size(), out);
    open.push_back({node, 0});
    node = nullptr;
    while (!open.empty()) {
      Frame& frame = open.back();
      if (frame.next < frame.node->GetChildCount()) {
        node = frame.node->GetChildAt(frame.next++).get();
        break;
      }
      open.pop_back();
    }
    if (node == nullptr) return;
  }
}
