// Feeds any bytes to the sized reader of the flat form. It must never read outside them, and
// a block it accepts must flatten back to exactly the same bytes (the reader accepts only the
// canonical form the writer produces) and read the same through the unsized reader.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "Tree/String_Arr.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool SameTexts(const Dynamic_String_Arr& one, const Dynamic_String_Arr& other) {
  if (one.GetArrLen() != other.GetArrLen() || one.GetInsertedNum() != other.GetInsertedNum()) {
    return false;
  }
  for (int i = 0; i < one.GetInsertedNum(); ++i) {
    const int len = one.GetLength(i);
    if (len != other.GetLength(i) || std::memcmp(one.GetStr(i), other.GetStr(i), len + 1) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > INT_MAX) return 0;
  const char* bytes = reinterpret_cast<const char*>(data);
  Dynamic_String_Arr arr(3);
  arr.AddStr("left over", -1);
  if (!arr.ReadFromFlattenedByteArray(bytes, static_cast<int>(size))) {
    Check(arr.GetArrLen() == 0 && arr.GetInsertedNum() == 0 && arr.GetStr(0) == nullptr);
    return 0;
  }
  Check(arr.GetArrLen() == arr.GetInsertedNum());

  char* flat = nullptr;
  const int written = arr.FlattenToByteArray(flat);
  const std::unique_ptr<char[]> block(flat);
  Check(written == static_cast<int>(size) && std::memcmp(flat, bytes, size) == 0);

  std::vector<char> copy(bytes, bytes + size);
  Dynamic_String_Arr unsized;
  unsized.ReadFromFlattenedByteArray(copy.data());
  Check(SameTexts(arr, unsized));
  Check(SameTexts(arr, Dynamic_String_Arr(arr)));
  return 0;
}
