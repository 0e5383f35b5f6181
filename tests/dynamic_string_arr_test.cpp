#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Tree/String_Arr.h"

namespace {

using namespace std::string_literals;

// `text` with every '|' turned into a NUL byte: "1|a|" stands for the bytes 31 00 61 00.
std::string Nul(std::string text) {
  std::replace(text.begin(), text.end(), '|', '\0');
  return text;
}

// The flat form of `arr`, as a string of the bytes written.
std::string Flatten(const Dynamic_String_Arr& arr) {
  char* buf = nullptr;
  const int written = arr.FlattenToByteArray(buf);
  std::unique_ptr<char[]> block(buf);
  return buf == nullptr ? "(no block)" : std::string(buf, std::max(written, 0));
}

bool IsEmpty(const Dynamic_String_Arr& arr) {
  return arr.GetArrLen() == 0 && arr.GetInsertedNum() == 0;
}

// The bytes of `block` in a buffer of exactly their size: a reader that reads past the end
// is caught by the address sanitizer.
std::vector<char> Exact(const std::string& block) {
  return {block.begin(), block.end()};
}

}  // namespace

TEST(DynamicStringArr, AppendingDoublesWhenFullAndFlattensToExactBytes) {
  Dynamic_String_Arr arr(2);
  for (const char* text : {"a", "bc", "d"}) arr.AddStr(text, -1);
  EXPECT_EQ(4, arr.GetArrLen());
  EXPECT_EQ(nullptr, arr.GetStr(3));
  for (int index : {-1, 3, 4}) EXPECT_EQ(-1, arr.GetLength(index)) << index;
  EXPECT_EQ(Nul("3|1|a|2|bc|1|d|"), Flatten(arr));

  // Room is made for the next slot in an array without slots, and in a full one even when the
  // index lies inside it.
  Dynamic_String_Arr grown;
  grown.AddStr("ab", 2);
  grown.SetStr(0, "", 0);
  EXPECT_EQ("\x32\x00\x32\x00\x61\x62\x00\x30\x00\x00"s, Flatten(grown));

  EXPECT_EQ("0\0"s, Flatten(Dynamic_String_Arr()));
  EXPECT_TRUE(grown.ReadFromFlattenedByteArray("0\0", 2));
  EXPECT_TRUE(IsEmpty(grown));
}

TEST(DynamicStringArr, SetStrStoresAtTheNextSlotAndIndexOnlyDecidesGrowth) {
  Dynamic_String_Arr arr(4);
  arr.SetStr(0, "xyz", 1);
  arr.AddStr("second", -1);
  arr.SetStr(7, "third", -1);
  arr.SetStr(-1, "ignored", -1);
  arr.SetStr(0, nullptr, 3);
  EXPECT_EQ(8, arr.GetArrLen());
  EXPECT_EQ(Nul("3|1|x|6|second|5|third|"), Flatten(arr));
}

TEST(DynamicStringArr, ClearWithoutDeletingKeepsTextsAndCopiesAreDeep) {
  Dynamic_String_Arr original;
  original.AddStr("one", -1);
  original.AddStr("t\0o"s.data(), 3);
  original.ClearWithoutDeleting();
  original.AddStr("uno", -1);

  Dynamic_String_Arr copy(original);
  Dynamic_String_Arr assigned(3);
  assigned = original;
  for (const Dynamic_String_Arr* arr : {&copy, &assigned}) {
    EXPECT_EQ(2, arr->GetArrLen());
    EXPECT_EQ(Nul("1|3|uno|"), Flatten(*arr));
    EXPECT_EQ("t\0o"s, std::string(arr->GetStr(1), arr->GetLength(1)));  // left behind
  }
}

TEST(DynamicStringArr, TextsWithNulBytesSurviveFlattenAndBothReaders) {
  Dynamic_String_Arr arr;
  arr.AddStr("a\0b\0\0c"s.data(), 6);
  arr.AddStr("plain", -1);
  const std::string block = Flatten(arr);
  EXPECT_EQ(Nul("2|6|a|b||c|5|plain|"), block);

  Dynamic_String_Arr sized;
  EXPECT_TRUE(
      sized.ReadFromFlattenedByteArray(Exact(block).data(), static_cast<int>(block.size())));
  Dynamic_String_Arr unsized(5);
  unsized.ReadFromFlattenedByteArray(Exact(block).data());
  for (const Dynamic_String_Arr* copy : {&sized, &unsized}) {
    EXPECT_EQ(2, copy->GetArrLen());
    EXPECT_EQ(block, Flatten(*copy));
  }
}

TEST(DynamicStringArrSizedReader, RejectsMalformedBlocksAndLeavesTheArrayEmpty) {
  const std::string whole = Nul("3|2|ab|0||10|0123456789|");
  std::vector<std::vector<char>> blocks;
  for (auto end = whole.begin(); end != whole.end(); ++end) blocks.emplace_back(whole.begin(), end);
  for (const char* block :
       {"-1|", "1x1|a|", "01|0||", "99999|0||", "1|4294967297|a|", "1|5|ab|", "1|1|ab|", "1|1|a|x"})
    blocks.push_back(Exact(Nul(block)));
  for (const std::vector<char>& block : blocks) {
    Dynamic_String_Arr arr(2);
    EXPECT_FALSE(arr.ReadFromFlattenedByteArray(block.data(), static_cast<int>(block.size())))
        << ::testing::PrintToString(block);
    EXPECT_TRUE(IsEmpty(arr));
  }
}

TEST(DynamicStringArrUnsizedReader, LeavesTheArrayEmptyOnAMalformedBlockOrNull) {
  for (const char* block :
       {"1|||", "1x1|a|", "-1|", "1073741824|", "4294967297|0||", "1|-1||", "1|1|ab|"}) {
    Dynamic_String_Arr arr(2);
    arr.ReadFromFlattenedByteArray(Exact(Nul(block)).data());
    EXPECT_TRUE(IsEmpty(arr)) << block;
  }
  Dynamic_String_Arr arr(2);
  arr.ReadFromFlattenedByteArray(nullptr);
  EXPECT_TRUE(IsEmpty(arr));
}
