// JSON export: an explicit stack of open branches; strings go through nlohmann's serializer,
// which escapes them and refuses invalid UTF-8.
#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "formats/Tree_Json.h"
#include "formats/Tree_JsonShape.h"

bool Tree_Json::IsLiteral(std::string_view text) {
  if (text == "true" || text == "false" || text == "null") return true;
  std::size_t at = 0;
  const auto digits = [&] {
    const std::size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at > start;
  };
  if (at < text.size() && text[at] == '-') ++at;
  if (at < text.size() && text[at] == '0') {
    ++at;
  } else if (!digits()) {
    return false;
  }
  if (at < text.size() && text[at] == '.') {
    ++at;
    if (!digits()) return false;
  }
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (!digits()) return false;
  }
  return at == text.size();
}

bool Tree_JsonShape::HasIndexNames(Tree_Node& node) {
  const int count = node.GetChildCount();
  for (int index = 0; index < count; ++index) {
    char digits[24];
    if (node.GetChildAt(index)->KeyName().view() != Tree_JsonShape::Decimal(index, digits)) {
      return false;
    }
  }
  return true;
}

Tree_JsonShape::Kind Tree_JsonShape::Classify(Tree_Node& node) {
  const Tree_Value* value = node.TreeValue();
  if (value != nullptr && value->IsChange() != 0) return kDescribed;
  const std::string_view text = value != nullptr ? value->Value().view() : std::string_view();
  if (node.IsLeaf()) return Tree_Json::IsLiteral(text) ? kLiteral : kString;
  if (node.IsEmpty()) {
    if (value == nullptr) return kEmptyObject;
    if (Tree_Json::IsLiteral(text)) return kString;
    return text == kEmptyArrayValue ? kEmptyArray : kDescribed;
  }
  if (value == nullptr) {
    if (HasIndexNames(node)) return kArray;
    // Import reads a leading "@tree" member as the descriptor.
    return node.GetChildAt(0)->KeyName().view() == Tree_Json::kDescriptor ? kDescribed : kObject;
  }
  return text == kNumberedObjectValue && HasIndexNames(node) ? kObject : kDescribed;
}

namespace {

class JsonWriter {
 public:
  JsonWriter(std::string& out, const Tree_JsonWriteOptions& options)
      : m_out(out),
        m_serializer(std::make_shared<nlohmann::detail::output_string_adapter<char>>(out), ' '),
        m_scratch(std::string()),
        m_indent(options.indent) {}

  // Throws nlohmann's type_error on invalid UTF-8; m_current then names the node.
  void Write(Tree_Node& top) {
    Value(top);
    while (!m_open.empty()) {
      Frame& frame = m_open.back();
      Tree_Node& node = *frame.node;
      if (frame.next == node.GetChildCount()) {
        const bool empty = frame.next == 0 && !frame.described;
        m_open.pop_back();
        if (!empty) NewLine();
        m_out += frame.is_array ? ']' : '}';
        continue;
      }
      Tree_Node& child = *node.GetChildAt(frame.next).get();
      if (frame.next++ > 0 || frame.described) m_out += ',';
      NewLine();
      if (!frame.is_array) {
        m_current = &child;
        String(child.KeyName().view());
        m_out += m_indent >= 0 ? ": " : ":";
      }
      Value(child);
    }
  }

  Tree_Node* Current() const { return m_current; }

 private:
  struct Frame {
    Tree_Node* node;
    int next;
    bool is_array;
    bool described;
  };

  void NewLine() {
    if (m_indent < 0) return;
    m_out += '\n';
    m_out.append(m_open.size() * static_cast<std::size_t>(m_indent), ' ');
  }

  // Plain ASCII needs no escape and no UTF-8 check: it is copied as it stands. Anything else
  // goes through nlohmann's serializer.
  void String(std::string_view text) {
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
      const auto byte = static_cast<unsigned char>(c);
      return byte >= 0x20 && byte < 0x80 && c != '"' && c != '\\';
    });
    if (plain) {
      m_out += '"';
      m_out += text;
      m_out += '"';
      return;
    }
    m_scratch.get_ref<std::string&>().assign(text);
    m_serializer.dump(m_scratch, false, false, 0);
  }

  void Value(Tree_Node& node) {
    m_current = &node;
    const Tree_Value* value = node.TreeValue();
    switch (Tree_JsonShape::Classify(node)) {
      case Tree_JsonShape::kLiteral:
        m_out += value->Value().view();
        return;
      case Tree_JsonShape::kString:
        String(value->Value().view());
        return;
      case Tree_JsonShape::kEmptyArray:
        m_out += "[]";
        return;
      case Tree_JsonShape::kEmptyObject:
        m_out += "{}";
        return;
      case Tree_JsonShape::kArray:
        m_out += '[';
        m_open.push_back({&node, 0, true, false});
        return;
      case Tree_JsonShape::kObject:
        m_out += '{';
        m_open.push_back({&node, 0, false, false});
        return;
      case Tree_JsonShape::kDescribed:
        m_out += '{';
        m_open.push_back({&node, 0, false, true});
        Descriptor(node, value);
        return;
    }
  }

  void Descriptor(Tree_Node& node, const Tree_Value* value) {
    const char* colon = m_indent >= 0 ? ": " : ":";
    const char* comma = m_indent >= 0 ? ", " : ",";
    NewLine();
    String(Tree_Json::kDescriptor);
    m_out += colon;
    m_out += '{';
    const char* separator = "";
    if (value != nullptr) {
      m_out += "\"value\"";
      m_out += colon;
      String(value->Value().view());
      separator = comma;
      if (value->IsChange() != 0) {
        m_out += separator;
        m_out += "\"changed\"";
        m_out += colon;
        m_out += std::to_string(value->IsChange());
      }
    }
    if (node.IsLeaf()) {
      m_out += separator;
      m_out += "\"leaf\"";
      m_out += colon;
      m_out += "true";
    }
    m_out += '}';
  }

  std::string& m_out;
  nlohmann::detail::serializer<nlohmann::json> m_serializer;
  nlohmann::json m_scratch;
  int m_indent;
  std::vector<Frame> m_open;
  Tree_Node* m_current = nullptr;
};

}  // namespace

bool Tree_Json::Write(const Tree_NodePtr& tree, std::string& out,
                      const Tree_JsonWriteOptions& options, Tree_FormatError* error) {
  if (tree == nullptr) {
    if (error != nullptr) error->message = "no tree to write";
    return false;
  }
  JsonWriter writer(out, options);
  try {
    writer.Write(*tree.get());
  } catch (const nlohmann::json::type_error&) {
    if (error != nullptr) {
      error->message = std::string(writer.Current()->GetPath().view()) +
                       ": not valid UTF-8, which JSON cannot hold (the text format can)";
    }
    return false;
  }
  if (options.indent >= 0) out += '\n';
  return true;
}
