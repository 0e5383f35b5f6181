// JSON export: an explicit stack of open branches, a small escaper of our own that checks
// UTF-8 as it copies, and output through Tree_ByteOutput (a bounded buffer for streams).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "formats/Tree_ByteOutput.h"
#include "formats/Tree_FormatInternal.h"
#include "formats/Tree_Json.h"
#include "formats/Tree_JsonMapping.h"

namespace {

// The length of the well-formed UTF-8 sequence at `at` (shortest form, no surrogates), or 0.
std::size_t Utf8Length(const unsigned char* at, const unsigned char* end) {
  Tree_Utf8Lead expect = Tree_Utf8LeadOf(at[0]);
  const auto length = static_cast<std::size_t>(expect.length);
  if (length == 0 || static_cast<std::size_t>(end - at) < length) return 0;
  for (std::size_t index = 1; index < length; ++index) {
    if (at[index] < expect.low || at[index] > expect.high) return 0;
    expect.low = 0x80, expect.high = 0xbf;
  }
  return length;
}

// Writes the escape of the ASCII byte `c` (a quote, a backslash or a control byte) at `out`.
char* WriteEscape(unsigned c, char* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out[0] = '\\';
  switch (c) {
    case '"':
    case '\\':
      out[1] = static_cast<char>(c);
      return out + 2;
    case '\b':
      out[1] = 'b';
      return out + 2;
    case '\f':
      out[1] = 'f';
      return out + 2;
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
      std::memcpy(out + 1, "u00", 3);
      out[4] = kHex[c >> 4];
      out[5] = kHex[c & 0xf];
      return out + 6;
  }
}

class JsonWriter {
 public:
  JsonWriter(Tree_ByteOutput& out, const Tree_JsonWriteOptions& options)
      : m_out(out),
        m_exact(options.exact),
        m_indent(options.compact || options.indent < 0 ? -1 : options.indent),
        m_max_indent(options.max_indent_bytes) {}

  bool Write(Tree_Node& top, Tree_FormatError* error) {
    bool written = Value(top);
    while (written && !m_open.empty()) {
      Frame& frame = m_open.back();
      if (frame.children.Done()) {
        const bool empty = frame.children.Taken() == 0 && !frame.described;
        const char closing = frame.is_array ? ']' : '}';
        m_open.pop_back();
        if (!empty) written = NewLine();
        m_out.Append(closing);
        continue;
      }
      const bool first = frame.children.Taken() == 0;
      Tree_Node& child = *frame.children.Take();
      if (!first || frame.described) m_out.Append(',');
      written = NewLine();
      if (written && !frame.is_array) {
        m_current = &child;
        written = String(child.KeyName().view());
        m_out.Append(m_indent >= 0 ? std::string_view(": ") : std::string_view(":"));
      }
      if (written) written = Value(child) && m_out.MaybeFlush();
      if (!written && m_failure == Failure::kNone) m_failure = Failure::kStream;
    }
    if (written && m_indent >= 0) m_out.Append('\n');
    if (written && !m_out.Flush()) {
      written = false;
      m_failure = Failure::kStream;
    }
    if (!written && error != nullptr) Report(*error);
    return written;
  }

 private:
  enum class Failure { kNone, kUtf8, kIndent, kStream };
  struct Frame {
    Frame(Tree_Node* node, bool array, bool descriptor)
        : children(node), is_array(array), described(descriptor) {}
    Tree_ChildCursor children;
    bool is_array;
    bool described;
  };

  void Report(Tree_FormatError& error) const {
    const std::string path =
        m_current != nullptr ? Tree_FormatError::ShownPath(m_current->GetPath().view()) : "";
    switch (m_failure) {
      case Failure::kUtf8:
        error.message = path + ": not valid UTF-8, which JSON cannot hold (the text format can)";
        error.code = Tree_StatusCode::kInvalidInput;
        return;
      case Failure::kIndent:
        error.message = path + ": the indentation would pass " + std::to_string(m_max_indent) +
                        " bytes at depth " + std::to_string(m_open.size()) +
                        ": write compact JSON instead";
        error.code = Tree_StatusCode::kTooLarge;
        return;
      default:
        error.message = "cannot write the output";
        error.code = Tree_StatusCode::kIo;
        return;
    }
  }

  bool NewLine() {
    if (m_indent < 0) return true;
    const std::size_t spaces = m_open.size() * static_cast<std::size_t>(m_indent);
    m_indented += spaces;
    if (m_indented > m_max_indent) {
      m_failure = Failure::kIndent;
      return false;
    }
    m_out.Append('\n');
    m_out.AppendSpaces(spaces);
    return true;
  }

  // Writes the string a piece at a time into the output's room: at most six bytes (\u00XX)
  // per input byte, and a multibyte sequence may run three bytes past its piece.
  bool String(std::string_view text) {
    static constexpr std::size_t kPiece = 4096;
    const char* at = text.data();
    const char* const end = at + text.size();
    char* out = m_out.Room(8 + 6 * std::min(text.size(), kPiece));
    *out++ = '"';
    while (at < end) {
      const char* const stop = static_cast<std::size_t>(end - at) > kPiece ? at + kPiece : end;
      if (at != text.data()) out = m_out.Room(8 + 6 * static_cast<std::size_t>(stop - at));
      while (at < stop) {
        const char* const run = at;
        at = Tree_JsonPlainEnd(at, stop);
        std::memcpy(out, run, static_cast<std::size_t>(at - run));
        out += at - run;
        if (at == stop) break;
        const auto c = static_cast<unsigned char>(*at);
        if (c >= 0x80) {
          const std::size_t length = Utf8Length(reinterpret_cast<const unsigned char*>(at),
                                                reinterpret_cast<const unsigned char*>(end));
          if (length == 0) {
            m_out.Advance(out);
            m_failure = Failure::kUtf8;
            return false;
          }
          std::memcpy(out, at, length);
          out += length;
          at += length;
          continue;
        }
        ++at;
        out = WriteEscape(c, out);
      }
      m_out.Advance(out);
    }
    *out++ = '"';
    m_out.Advance(out);
    return true;
  }

  bool Scalar(Tree_NodeKind kind, std::string_view text) {
    if (kind == Tree_NodeKind::kString) return String(text);
    m_out.Append(text);
    return true;
  }

  bool Value(Tree_Node& node) {
    m_current = &node;
    Tree_PrefetchAhead(node);
    const Tree_NodeKind kind = Tree_JsonMapping::ExportKind(node);
    if (Tree_JsonMapping::NeedsDescriptor(node, m_exact)) {
      m_out.Append('{');
      m_open.emplace_back(&node, false, true);
      return Descriptor(node, kind);
    }
    if (node.IsLeaf()) return Scalar(kind, node.TreeValue()->Value().view());
    if (node.IsEmpty()) {
      m_out.Append(kind == Tree_NodeKind::kArray ? std::string_view("[]") : "{}");
      return true;
    }
    const bool is_array = kind == Tree_NodeKind::kArray;
    m_out.Append(is_array ? '[' : '{');
    m_open.emplace_back(&node, is_array, false);
    return true;
  }

  // The "@tree" member: plain export writes the value of a branch alone, exact export every
  // field the node needs (see Tree_JsonMapping.h).
  bool Descriptor(Tree_Node& node, Tree_NodeKind kind) {
    const std::string_view colon = m_indent >= 0 ? ": " : ":";
    const std::string_view comma = m_indent >= 0 ? ", " : ",";
    if (!NewLine()) return false;
    m_out.Append('"');
    m_out.Append(Tree_JsonMapping::kDescriptor);
    m_out.Append('"');
    m_out.Append(colon);
    m_out.Append('{');
    std::string_view separator;
    const auto field = [&](std::string_view name) {
      m_out.Append(separator);
      m_out.Append('"');
      m_out.Append(name);
      m_out.Append('"');
      m_out.Append(colon);
      separator = comma;
    };
    const Tree_Value* value = node.TreeValue();
    if (value != nullptr) {
      field(Tree_JsonMapping::kValueField);
      if (!Scalar(node.IsLeaf() ? kind : Tree_NodeKind::kString, value->Value().view())) {
        return false;
      }
      if (m_exact && value->IsChange() != 0) {
        field(Tree_JsonMapping::kChangedField);
        m_out.Append(std::to_string(value->IsChange()));
      }
    }
    if (m_exact) {
      if (node.IsLeaf()) {
        field(Tree_JsonMapping::kLeafField);
        m_out.Append("true");
      }
      if (!node.IsSingleNodeComplete()) {
        field(Tree_JsonMapping::kIncompleteField);
        m_out.Append("true");
      }
      if (!node.IsLeaf() && kind == Tree_NodeKind::kArray) {
        field(Tree_JsonMapping::kArrayField);
        m_out.Append("true");
      }
    }
    m_out.Append('}');
    return true;
  }

  Tree_ByteOutput& m_out;
  bool m_exact;
  int m_indent;
  std::size_t m_max_indent;
  std::size_t m_indented = 0;
  std::vector<Frame> m_open;
  Tree_Node* m_current = nullptr;
  Failure m_failure = Failure::kNone;
};

bool WriteTo(const Tree_NodePtr& tree, Tree_ByteOutput& out, const Tree_JsonWriteOptions& options,
             Tree_FormatError* error) {
  if (tree == nullptr) {
    if (error != nullptr) error->message = "no tree to write";
    return false;
  }
  return JsonWriter(out, options).Write(*tree.get(), error);
}

}  // namespace

bool Tree_Json::Write(const Tree_NodePtr& tree, std::string& out,
                      const Tree_JsonWriteOptions& options, Tree_FormatError* error) {
  Tree_ByteOutput bytes(out);
  return WriteTo(tree, bytes, options, error);
}

bool Tree_Json::Write(const Tree_NodePtr& tree, std::ostream& out,
                      const Tree_JsonWriteOptions& options, Tree_FormatError* error) {
  Tree_ByteOutput bytes(out);
  return WriteTo(tree, bytes, options, error);
}
