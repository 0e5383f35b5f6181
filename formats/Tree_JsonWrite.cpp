// JSON export: an explicit stack of open branches, a small escaper of our own that checks
// UTF-8 as it copies, and output through Tree_ByteOutput (a bounded buffer for streams).
#include <cstdio>
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
      Tree_Node& node = *frame.node;
      if (frame.next == node.GetChildCount()) {
        const bool empty = frame.next == 0 && !frame.described;
        const char closing = frame.is_array ? ']' : '}';
        m_open.pop_back();
        if (!empty) written = NewLine();
        m_out.Append(closing);
        continue;
      }
      Tree_Node& child = *node.GetChildAt(frame.next).get();
      if (frame.next++ > 0 || frame.described) m_out.Append(',');
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
    Tree_Node* node;
    int next;
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

  bool String(std::string_view text) {
    std::string& out = m_out.Bytes();
    out += '"';
    const auto* at = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = at + text.size();
    while (at < end) {
      const auto* run = at;
      at = reinterpret_cast<const unsigned char*>(
          Tree_JsonPlainEnd(reinterpret_cast<const char*>(at), reinterpret_cast<const char*>(end)));
      out.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(at - run));
      if (at == end) break;
      const unsigned c = *at;
      if (c >= 0x80) {
        const std::size_t length = Utf8Length(at, end);
        if (length == 0) {
          m_failure = Failure::kUtf8;
          return false;
        }
        out.append(reinterpret_cast<const char*>(at), length);
        at += length;
        continue;
      }
      ++at;
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\b':
          out += "\\b";
          break;
        case '\f':
          out += "\\f";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default: {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        }
      }
    }
    out += '"';
    return true;
  }

  bool Scalar(Tree_NodeKind kind, std::string_view text) {
    if (kind == Tree_NodeKind::kString) return String(text);
    m_out.Append(text);
    return true;
  }

  bool Value(Tree_Node& node) {
    m_current = &node;
    const Tree_NodeKind kind = Tree_JsonMapping::ExportKind(node);
    if (Tree_JsonMapping::NeedsDescriptor(node, m_exact)) {
      m_out.Append('{');
      m_open.push_back({&node, 0, false, true});
      return Descriptor(node, kind);
    }
    if (node.IsLeaf()) return Scalar(kind, node.TreeValue()->Value().view());
    if (node.IsEmpty()) {
      m_out.Append(kind == Tree_NodeKind::kArray ? std::string_view("[]") : "{}");
      return true;
    }
    const bool is_array = kind == Tree_NodeKind::kArray;
    m_out.Append(is_array ? '[' : '{');
    m_open.push_back({&node, 0, is_array, false});
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
