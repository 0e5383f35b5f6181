// Feeds arbitrary bytes to the JSON reader. Whatever it accepts must export (it is valid
// UTF-8) and read back to a tree that exports to the very same document; whatever it rejects
// must name a byte inside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/Tree_Json.h"
#include "host/Qor_LogFile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QorGLog.SetMaxLevel(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Tree_FormatError error;
  Tree_NodePtr tree = Tree_Json::Read(input, {}, &error);
  if (tree == nullptr) {
    if (error.offset > size || error.line == 0) std::abort();
    return 0;
  }
  Tree_JsonWriteOptions compact;
  compact.indent = -1;
  std::string first;
  if (!Tree_Json::Write(tree, first, compact)) std::abort();
  Tree_NodePtr again = Tree_Json::Read(first);
  if (again == nullptr) std::abort();
  std::string second;
  if (!Tree_Json::Write(again, second, compact) || first != second) std::abort();
  return 0;
}
