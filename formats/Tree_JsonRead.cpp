// JSON import: nlohmann's SAX parser drives a builder that keeps its own stack of open
// branches, so neither the parser nor the builder recurses on the nesting depth.
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "formats/Tree_Json.h"
#include "formats/Tree_JsonShape.h"

namespace {

// A pointer over the input that publishes how far the parser has read, so that the builder
// can name the byte where a rule of its own broke and tell the literal "-0" from "0".
class TrackingIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  TrackingIterator(const char* at, const char** cursor) : m_at(at), m_cursor(cursor) {}
  reference operator*() const { return *m_at; }
  TrackingIterator& operator++() {
    *m_cursor = ++m_at;
    return *this;
  }
  TrackingIterator operator++(int) {
    TrackingIterator before = *this;
    ++*this;
    return before;
  }
  bool operator==(const TrackingIterator& other) const { return m_at == other.m_at; }

 private:
  const char* m_at;
  const char** m_cursor;
};

class TreeBuilder {
 public:
  using Json = nlohmann::json;

  TreeBuilder(std::string_view text, const Tree_JsonReadOptions& options)
      : m_text(text), m_cursor(text.data()), m_options(options) {}

  const char** Cursor() { return &m_cursor; }
  Tree_NodePtr TakeRoot() { return std::move(m_root); }
  bool Failed() const { return !m_error.empty(); }
  const std::string& ErrorMessage() const { return m_error; }
  std::size_t ErrorOffset() const { return m_error_offset; }

  // ---- SAX events ---------------------------------------------------------------------
  bool null() { return Literal("null"); }
  bool boolean(bool value) {
    if (InDescriptor()) return DescriptorLeaf(value);
    return Literal(value ? "true" : "false");
  }
  bool number_integer(Json::number_integer_t value) {
    if (InDescriptor()) return DescriptorChanged(value);
    if (value == 0 && IsMinusZero()) return Literal("-0");
    char digits[24];
    return Literal(Tree_JsonShape::Decimal(value, digits));
  }
  bool number_unsigned(Json::number_unsigned_t value) {
    if (InDescriptor()) {
      return DescriptorChanged(value > INT32_MAX ? Json::number_integer_t{0}
                                                 : static_cast<Json::number_integer_t>(value));
    }
    char digits[24];
    return Literal(Tree_JsonShape::Decimal(value, digits));
  }
  bool number_float(Json::number_float_t, const std::string& literal) { return Literal(literal); }
  bool string(std::string& text) {
    if (InDescriptor()) return DescriptorValue(text);
    if (Tree_Json::IsLiteral(text)) {
      // A leaf would export as the bare literal: a childless branch keeps it a string.
      Tree_NodePtr branch = NewChild(false, {});
      if (branch == nullptr) return false;
      branch->SetTreeValue(new Tree_Value(RWCString(std::move(text)), 0));
      return Placed(branch);
    }
    return Placed(NewChild(true, std::move(text)));
  }
  bool binary(Json::binary_t&) { return Fail("binary values are not JSON text"); }

  bool start_object(std::size_t) {
    if (m_descriptor == Descriptor::kExpectObject) {
      m_descriptor = Descriptor::kInside;
      return true;
    }
    if (m_descriptor != Descriptor::kNone) return Fail("a @tree descriptor holds no objects");
    return Open(false);
  }
  bool key(std::string& name) {
    if (m_descriptor == Descriptor::kInside) return DescriptorKey(name);
    Frame& frame = m_open.back();
    if (frame.members == 0 && !frame.described && name == Tree_Json::kDescriptor) {
      frame.described = true;
      m_descriptor = Descriptor::kExpectObject;
      return true;
    }
    if (frame.node->IsLeaf()) return Fail("a node described as a leaf has no members");
    if (!Tree_Node::IsKeptKeyName(name)) {
      return Fail(name.empty()
                      ? "an empty member name: a tree node cannot have it"
                      : "a member name with a blank at either end: a tree node cannot have it");
    }
    if (frame.numbered) frame.numbered = IsIndexName(name, frame.members);
    ++frame.members;
    m_key = std::move(name);
    return true;
  }
  bool end_object() {
    if (m_descriptor == Descriptor::kInside) return EndDescriptor();
    Frame& frame = m_open.back();
    if (frame.described) {
      if (!Tree_JsonShape::NeedsDescriptor(*frame.node)) {
        return Fail("a @tree descriptor that says nothing JSON cannot say plainly");
      }
    } else if (frame.numbered && frame.members > 0) {
      frame.node->SetTreeValue(new Tree_Value(RWCString(Tree_JsonShape::kNumberedObjectValue), 0));
    }
    m_open.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    if (m_descriptor != Descriptor::kNone) return Fail("a @tree descriptor holds no arrays");
    return Open(true);
  }
  bool end_array() {
    Frame& frame = m_open.back();
    if (frame.members == 0) {
      frame.node->SetTreeValue(new Tree_Value(RWCString(Tree_JsonShape::kEmptyArrayValue), 0));
    }
    m_open.pop_back();
    return true;
  }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& ex) {
    // nlohmann counts the bytes read, the offending one included.
    m_error_offset = position > 0 ? position - 1 : 0;
    m_error = ex.what();
    const std::size_t tail = m_error.find(": ", m_error.find("column"));
    if (tail != std::string::npos) m_error.erase(0, tail + 2);
    // What nlohmann read last may hold the very bytes that broke: the position says enough.
    const std::size_t last_read = m_error.find("; last read:");
    if (last_read != std::string::npos) m_error.erase(last_read);
    return false;
  }

 private:
  enum class Descriptor { kNone, kExpectObject, kInside, kValue, kChanged, kLeaf };
  struct Frame {
    Tree_NodePtr node;
    std::size_t members = 0;
    bool is_array = false;
    bool numbered = true;  // every member so far is named after its index
    bool described = false;
  };

  static bool IsIndexName(std::string_view name, std::size_t index) {
    char digits[24];
    return name == Tree_JsonShape::Decimal(index, digits);
  }

  bool Fail(std::string message) {
    if (m_error.empty()) {
      m_error = std::move(message);
      m_error_offset = static_cast<std::size_t>(m_cursor - m_text.data());
    }
    return false;
  }

  // The parser has read the literal and at most one byte after it: "-0" is the only
  // integer literal whose text its value does not give back.
  bool IsMinusZero() const {
    std::size_t end = static_cast<std::size_t>(m_cursor - m_text.data());
    if (end > 0 && m_text[end - 1] != '0') --end;
    return end >= 2 && m_text[end - 1] == '0' && m_text[end - 2] == '-';
  }

  // A new node for the next value: the top node, the next element of an array, or the
  // member whose name was just read. Leaves hold `value`.
  Tree_NodePtr NewChild(bool leaf, std::string value) {
    RWCString name;
    if (m_open.empty()) {
      if (m_root != nullptr) {
        Fail("more than one top-level value");
        return Tree_NodePtr();
      }
      name = RWCString(m_options.root_name);
    } else if (m_open.back().is_array) {
      char digits[24];
      name = RWCString(Tree_JsonShape::Decimal(m_open.back().members, digits));
      ++m_open.back().members;
    } else {
      name = RWCString(std::move(m_key));
    }
    Tree_NodePtr node(
        leaf ? new Tree_Node(std::move(name), new Tree_Value(RWCString(std::move(value)), 0))
             : new Tree_Node(std::move(name)));
    if (m_open.empty()) {
      m_root = node;
    } else {
      m_open.back().node->Add(node);
    }
    return node;
  }

  bool Placed(const Tree_NodePtr& node) {
    if (node == nullptr) return false;
    if (m_options.progress && (++m_nodes & 0xffff) == 0) {
      m_options.progress(static_cast<std::size_t>(m_cursor - m_text.data()), m_nodes);
    }
    return true;
  }

  bool Literal(std::string_view text) {
    if (InDescriptor()) return Fail("wrong type of value in a @tree descriptor");
    return Placed(NewChild(true, std::string(text)));
  }

  bool Open(bool is_array) {
    Tree_NodePtr node = NewChild(false, {});
    if (!Placed(node)) return false;
    Frame frame;
    frame.node = std::move(node);
    frame.is_array = is_array;
    m_open.push_back(std::move(frame));
    return true;
  }

  // ---- The "@tree" descriptor: {"value": "...", "changed": N, "leaf": true} -----------
  // Between the "@tree" key and the end of its object every event belongs to the descriptor.
  bool InDescriptor() const { return m_descriptor != Descriptor::kNone; }
  bool DescriptorKey(const std::string& name) {
    static constexpr std::string_view kFields[] = {"value", "changed", "leaf"};
    for (int field = 0; field < 3; ++field) {
      if (name != kFields[field]) continue;
      if (field < m_next_field) return Fail("@tree fields come once, as value, changed, leaf");
      m_next_field = field + 1;
      m_descriptor = field == 0   ? Descriptor::kValue
                     : field == 1 ? Descriptor::kChanged
                                  : Descriptor::kLeaf;
      return true;
    }
    return Fail("unknown @tree field \"" + name + "\"");
  }
  bool DescriptorValue(std::string& text) {
    if (m_descriptor != Descriptor::kValue)
      return Fail("wrong type of value in a @tree descriptor");
    m_described_value = std::make_unique<std::string>(std::move(text));
    m_descriptor = Descriptor::kInside;
    return true;
  }
  bool DescriptorChanged(Json::number_integer_t value) {
    if (m_descriptor != Descriptor::kChanged)
      return Fail("wrong type of value in a @tree descriptor");
    if (value == 0 || value < INT32_MIN || value > INT32_MAX || IsMinusZero()) {
      return Fail("\"changed\" in a @tree descriptor is a nonzero int");
    }
    m_described_change = static_cast<int>(value);
    m_descriptor = Descriptor::kInside;
    return true;
  }
  bool DescriptorLeaf(bool value) {
    if (m_descriptor != Descriptor::kLeaf || !value) {
      return Fail("\"leaf\" in a @tree descriptor is true when present");
    }
    m_described_leaf = true;
    m_descriptor = Descriptor::kInside;
    return true;
  }
  bool EndDescriptor() {
    m_descriptor = Descriptor::kNone;
    m_next_field = 0;
    std::unique_ptr<std::string> value = std::move(m_described_value);
    const int change = std::exchange(m_described_change, 0);
    const bool leaf = std::exchange(m_described_leaf, false);
    if (value == nullptr && (change != 0 || leaf)) {
      return Fail("a @tree descriptor with \"changed\" or \"leaf\" needs a \"value\"");
    }
    if (value == nullptr) return true;
    Frame& frame = m_open.back();
    if (!leaf) {
      frame.node->SetTreeValue(new Tree_Value(RWCString(std::move(*value)), change));
      return true;
    }
    // The branch made for the object becomes a leaf; it is still its parent's last child.
    Tree_NodePtr leaf_node(
        new Tree_Node(frame.node->KeyName(), new Tree_Value(RWCString(std::move(*value)), change)));
    if (Tree_Node* parent = frame.node->GetParent()) {
      parent->Remove(parent->GetChildCount() - 1);
      parent->Add(leaf_node);
    } else {
      m_root = leaf_node;
    }
    frame.node = std::move(leaf_node);
    return true;
  }

  std::string_view m_text;
  const char* m_cursor;
  const Tree_JsonReadOptions& m_options;
  Tree_NodePtr m_root;
  std::vector<Frame> m_open;
  std::string m_key;
  std::size_t m_nodes = 0;
  std::string m_error;
  std::size_t m_error_offset = 0;

  Descriptor m_descriptor = Descriptor::kNone;
  int m_next_field = 0;
  std::unique_ptr<std::string> m_described_value;
  int m_described_change = 0;
  bool m_described_leaf = false;
};

}  // namespace

Tree_NodePtr Tree_Json::Read(std::string_view text, const Tree_JsonReadOptions& options,
                             Tree_FormatError* error) {
  TreeBuilder builder(text, options);
  const char* begin = text.data();
  const bool parsed =
      nlohmann::json::sax_parse(TrackingIterator(begin, builder.Cursor()),
                                TrackingIterator(begin + text.size(), nullptr), &builder);
  if (parsed && !builder.Failed()) return builder.TakeRoot();
  if (error != nullptr) {
    error->message = builder.Failed() ? builder.ErrorMessage() : "not a JSON document";
    error->SetLineColumn(text, builder.ErrorOffset());
  }
  return Tree_NodePtr();
}
