// Feeds the same bytes to our JSON reader and to nlohmann::json's parser and requires the same
// verdict and the same document: both accept or both refuse, and what both accept reads as the
// same members in the same order, with the same names, types, strings and numbers. The reader
// is also run over a stream, with the chunk boundary falling somewhere inside the document, and
// must give the same tree there.
//
// Where the two differ by design, the difference itself is checked: a NUL byte ends
// nlohmann's input but is refused by ours, a member name a tree node
// cannot hold (empty, or with a blank at either end) is refused by our reader alone, and a
// number too large for a double, which nlohmann refuses, is kept by ours as its literal text.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "formats/Tree_ByteInput.h"
#include "formats/Tree_Json.h"
#include "host/Qor_LogFile.h"

namespace {

// The canonical text of a document, event by event: "{" and "}", "[" and "]", K for a member
// name, S for a string, N for a number (an integer that fits 64 bits in decimal, any other
// literal as written), T, F and Z for true, false and null.
void AppendText(std::string& out, char tag, std::string_view text) {
  out += tag;
  out += std::to_string(text.size());
  out += ':';
  out.append(text);
}

// An integer literal that fits a 64-bit integer in its shortest decimal form (as nlohmann
// reports it); any other number literal as it stands.
std::string NumberText(const std::string& literal) {
  if (literal.find_first_of(".eE") == std::string::npos) {
    const char* end = literal.data() + literal.size();
    if (literal.front() == '-') {
      std::int64_t value = 0;
      const auto parsed = std::from_chars(literal.data(), end, value);
      if (parsed.ec == std::errc() && parsed.ptr == end) return std::to_string(value);
    } else {
      std::uint64_t value = 0;
      const auto parsed = std::from_chars(literal.data(), end, value);
      if (parsed.ec == std::errc() && parsed.ptr == end) return std::to_string(value);
    }
  }
  return literal;
}

struct Recorder : nlohmann::json_sax<nlohmann::json> {
  std::string events;
  bool name_a_node_cannot_hold = false;
  bool number_overflow = false;

  bool null() override {
    events += 'Z';
    return true;
  }
  bool boolean(bool value) override {
    events += value ? 'T' : 'F';
    return true;
  }
  bool number_integer(number_integer_t value) override {
    AppendText(events, 'N', std::to_string(value));
    return true;
  }
  bool number_unsigned(number_unsigned_t value) override {
    AppendText(events, 'N', std::to_string(value));
    return true;
  }
  bool number_float(number_float_t, const string_t& literal) override {
    AppendText(events, 'N', literal);
    return true;
  }
  bool string(string_t& text) override {
    AppendText(events, 'S', text);
    return true;
  }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override {
    events += '{';
    return true;
  }
  bool key(string_t& name) override {
    if (!Tree_Node::IsKeptKeyName(name)) name_a_node_cannot_hold = true;
    AppendText(events, 'K', name);
    return true;
  }
  bool end_object() override {
    events += '}';
    return true;
  }
  bool start_array(std::size_t) override {
    events += '[';
    return true;
  }
  bool end_array() override {
    events += ']';
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    number_overflow = std::string_view(e.what()).find("number overflow") != std::string_view::npos;
    return false;
  }
};

// The same canonical text of the tree our reader built, pre-order with an explicit stack.
std::string TreeEvents(const Tree_NodePtr& tree) {
  struct Frame {
    Tree_Node* node;
    int next;
  };
  std::string out;
  std::vector<Frame> open;
  const auto enter = [&](Tree_Node* node) {
    switch (node->GetKind()) {
      case Tree_NodeKind::kObject:
        out += '{';
        open.push_back({node, 0});
        return;
      case Tree_NodeKind::kArray:
        out += '[';
        open.push_back({node, 0});
        return;
      case Tree_NodeKind::kString:
        AppendText(out, 'S', node->TreeValue()->Value().view());
        return;
      case Tree_NodeKind::kNumber:
        AppendText(out, 'N', NumberText(node->TreeValue()->Value().str()));
        return;
      case Tree_NodeKind::kBoolean:
        out += node->TreeValue()->Value().view() == "true" ? 'T' : 'F';
        return;
      case Tree_NodeKind::kNull:
        out += 'Z';
        return;
      default:
        std::abort();  // every node an import makes has a JSON type
    }
  };
  enter(tree.get());
  while (!open.empty()) {
    Frame& frame = open.back();
    Tree_Node* node = frame.node;
    if (frame.next == node->GetChildCount()) {
      out += node->GetKind() == Tree_NodeKind::kObject ? '}' : ']';
      open.pop_back();
      continue;
    }
    Tree_Node* child = node->GetChildAt(frame.next).get();
    if (node->GetKind() == Tree_NodeKind::kObject) {
      AppendText(out, 'K', child->KeyName().view());
    } else if (child->KeyName().view() != std::to_string(frame.next)) {
      std::abort();  // array elements are named by their index
    }
    ++frame.next;
    enter(child);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QorGLog.SetMaxLevel(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // nlohmann takes a NUL byte for the end of its input; JSON has no place for one. So a NUL
  // must be refused, and the bytes before it are compared.
  if (const std::size_t nul = input.find('\0'); nul != std::string_view::npos) {
    if (Tree_Json::Read(input) != nullptr) std::abort();
    input = input.substr(0, nul);
    size = nul;
  }
  Recorder peer;
  const bool peer_accepts = nlohmann::json::sax_parse(input, &peer);
  Tree_FormatError error;
  Tree_NodePtr tree = Tree_Json::Read(input, {}, &error);

  if (!peer_accepts) {
    // nlohmann refuses a number a double cannot hold, and stops there: what follows it was
    // not judged, so there is nothing to compare.
    if (peer.number_overflow) return 0;
    if (tree != nullptr) std::abort();
  } else if (peer.name_a_node_cannot_hold) {
    if (tree != nullptr) std::abort();
  } else {
    if (tree == nullptr || TreeEvents(tree) != peer.events) std::abort();
  }

  // The stream reader, its chunk boundary inside the document: blanks in front (after a byte
  // order mark, which only counts at the very start) move it there.
  if (size == 0) return 0;
  const std::string_view mark = "\xef\xbb\xbf";
  const std::string_view lead = input.substr(0, input.starts_with(mark) ? mark.size() : 0);
  const std::size_t split = static_cast<unsigned char>(input.back()) % (size < 64 ? size : 64);
  std::string padded(lead);
  padded.append(Tree_ByteInput::kChunk - split, ' ');
  padded.append(input.substr(lead.size()));
  std::istringstream in(padded);
  Tree_NodePtr streamed = Tree_Json::Read(in);
  if ((streamed == nullptr) != (tree == nullptr)) std::abort();
  if (tree != nullptr && TreeEvents(streamed) != TreeEvents(tree)) std::abort();
  return 0;
}
