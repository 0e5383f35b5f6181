// Feeds arbitrary bytes to the text reader. Whatever it accepts must write back to text that
// reads to the same tree (same text again, same checksum); whatever it rejects must name a
// line and column inside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/Tree_Text.h"
#include "host/Qor_LogFile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QorGLog.SetMaxLevel(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Tree_FormatError error;
  Tree_NodePtr tree = Tree_Text::Read(input, {}, &error);
  if (tree == nullptr) {
    if (error.offset > size || error.line == 0) std::abort();
    return 0;
  }
  std::string first;
  Tree_Text::Write(tree, first);
  Tree_NodePtr again = Tree_Text::Read(first);
  if (again == nullptr) std::abort();
  std::string second;
  Tree_Text::Write(again, second);
  if (first != second || tree->GetChecksum() != again->GetChecksum()) std::abort();
  return 0;
}
