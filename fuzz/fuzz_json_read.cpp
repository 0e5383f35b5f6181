// Feeds arbitrary bytes to the JSON reader, plain and exact. Whatever it accepts must export
// (it is valid UTF-8) and read back to a tree that exports to the very same document, also
// after a trip through the text format, which carries every kind; whatever it rejects must
// name a byte inside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/Tree_Json.h"
#include "formats/Tree_Text.h"
#include "host/Qor_LogFile.h"

namespace {

std::string Export(const Tree_NodePtr& tree, bool exact) {
  Tree_JsonWriteOptions options;
  options.compact = true;
  options.exact = exact;
  std::string out;
  if (!Tree_Json::Write(tree, out, options)) std::abort();
  return out;
}

void RoundTrip(std::string_view input, bool exact) {
  Tree_JsonReadOptions options;
  options.exact = exact;
  Tree_FormatError error;
  Tree_NodePtr tree = Tree_Json::Read(input, options, &error);
  if (tree == nullptr) {
    if (error.offset > input.size() || error.line == 0) std::abort();
    return;
  }
  const std::string first = Export(tree, exact);
  Tree_NodePtr again = Tree_Json::Read(first, options);
  if (again == nullptr || Export(again, exact) != first) std::abort();
  std::string text;
  if (!Tree_Text::Write(tree, text)) std::abort();
  Tree_NodePtr through_text = Tree_Text::Read(text);
  if (through_text == nullptr || Export(through_text, exact) != first) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QorGLog.SetMaxLevel(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  RoundTrip(input, false);
  RoundTrip(input, true);
  return 0;
}
