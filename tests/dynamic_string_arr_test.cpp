#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Tree/String_Arr.h"
#include "tests/test_support.h"

namespace {

using namespace std::string_literals;

// `text` with every '|' turned into a NUL byte: "1|a|" stands for the bytes 31 00 61 00.
std::string Nul(std::string text) {
  std::replace(text.begin(), text.end(), '|', '\0');
  return text;
}

// The flat form of `arr`, as a string of the bytes written; checks the returned size.
std::string Flatten(const Dynamic_String_Arr& arr) {
  char* buf = nullptr;
  const int written = arr.FlattenToByteArray(buf);
  std::unique_ptr<char[]> block(buf);
  EXPECT_NE(nullptr, buf);
  EXPECT_GE(written, 2);
  return std::string(buf, written);
}

// The texts of slots 0 to GetInsertedNum() - 1, each taken by its length.
std::vector<std::string> Texts(const Dynamic_String_Arr& arr) {
  std::vector<std::string> texts;
  for (int i = 0; i < arr.GetInsertedNum(); ++i) {
    texts.emplace_back(arr.GetStr(i), arr.GetLength(i));
  }
  return texts;
}

void ExpectEmpty(const Dynamic_String_Arr& arr) {
  EXPECT_EQ(0, arr.GetArrLen());
  EXPECT_EQ(0, arr.GetInsertedNum());
  EXPECT_EQ(nullptr, arr.GetStr(0));
  EXPECT_EQ(-1, arr.GetLength(0));
}

// Reads `block` with the unsized reader from a copy that ends right after it.
void ReadUnsized(Dynamic_String_Arr& arr, const std::string& block) {
  std::vector<char> copy(block.begin(), block.end());
  arr.ReadFromFlattenedByteArray(copy.data());
}

}  // namespace

TEST(DynamicStringArr, AppendingDoublesWhenFullAndFlattensInOrder) {
  Dynamic_String_Arr arr(2);
  arr.AddStr("a", -1);
  arr.AddStr("bc", -1);
  EXPECT_EQ(2, arr.GetArrLen());
  arr.AddStr("d", -1);
  EXPECT_EQ(4, arr.GetArrLen());
  EXPECT_EQ(3, arr.GetInsertedNum());
  EXPECT_STREQ("d", arr.GetStr(2));
  EXPECT_EQ(1, arr.GetLength(2));
  EXPECT_EQ(nullptr, arr.GetStr(3));
  EXPECT_EQ(-1, arr.GetLength(3));
  EXPECT_EQ(-1, arr.GetLength(-1));
  EXPECT_EQ(-1, arr.GetLength(4));
  EXPECT_EQ(nullptr, arr.GetStr(-1));

  EXPECT_EQ(Nul("3|1|a|2|bc|1|d|"), Flatten(arr));
}

TEST(DynamicStringArr, FlatFormsOfAnEmptyTextAndOfAnEmptyArray) {
  Dynamic_String_Arr arr;
  arr.AddStr("ab", 2);
  arr.AddStr("", 0);
  EXPECT_EQ("\x32\x00\x32\x00\x61\x62\x00\x30\x00\x00"s, Flatten(arr));

  const std::string empty_block = Flatten(Dynamic_String_Arr());
  EXPECT_EQ("\x30\x00"s, empty_block);
  EXPECT_TRUE(arr.ReadFromFlattenedByteArray(empty_block.data(), 2));
  ExpectEmpty(arr);
  arr.AddStr("x", -1);
  ReadUnsized(arr, empty_block);
  ExpectEmpty(arr);

  // A null block empties the array too.
  arr.AddStr("x", -1);
  arr.ReadFromFlattenedByteArray(nullptr);
  ExpectEmpty(arr);
  arr.AddStr("x", -1);
  EXPECT_FALSE(arr.ReadFromFlattenedByteArray(nullptr, 0));
  ExpectEmpty(arr);
}

TEST(DynamicStringArr, SetStrStoresAtTheNextSlotAndIndexOnlyDecidesGrowth) {
  Dynamic_String_Arr arr(4);
  arr.SetStr(0, "xyz", 1);
  EXPECT_STREQ("x", arr.GetStr(0));
  EXPECT_EQ(1, arr.GetLength(0));
  arr.AddStr("second", -1);

  arr.SetStr(7, "third", -1);
  EXPECT_EQ(8, arr.GetArrLen());
  EXPECT_EQ(3, arr.GetInsertedNum());
  EXPECT_STREQ("third", arr.GetStr(2));
  EXPECT_EQ(nullptr, arr.GetStr(7));

  arr.SetStr(-1, "ignored", -1);
  arr.SetStr(0, nullptr, 3);
  EXPECT_EQ(3, arr.GetInsertedNum());
  EXPECT_EQ(8, arr.GetArrLen());
}

TEST(DynamicStringArr, MakesRoomWheneverTheNextSlotIsPastTheEnd) {
  Dynamic_String_Arr arr;
  EXPECT_EQ(0, arr.GetArrLen());
  arr.AddStr("a", -1);
  EXPECT_EQ(1, arr.GetArrLen());
  arr.AddStr("b", -1);
  EXPECT_EQ(2, arr.GetArrLen());
  arr.AddStr("c", -1);
  EXPECT_EQ(4, arr.GetArrLen());

  // An index inside a full array still makes room for the text.
  Dynamic_String_Arr full(1);
  full.AddStr("a", -1);
  full.SetStr(0, "b", -1);
  EXPECT_EQ(2, full.GetArrLen());
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), Texts(full));
}

TEST(DynamicStringArr, ClearWithoutDeletingKeepsTextsUntilReplaced) {
  Dynamic_String_Arr arr;
  arr.AddStr("first", -1);
  arr.AddStr("second", -1);
  arr.ClearWithoutDeleting();
  EXPECT_EQ(0, arr.GetInsertedNum());
  EXPECT_EQ(2, arr.GetArrLen());
  EXPECT_STREQ("second", arr.GetStr(1));

  arr.AddStr("new", -1);
  EXPECT_STREQ("new", arr.GetStr(0));
  EXPECT_EQ(3, arr.GetLength(0));
  EXPECT_STREQ("second", arr.GetStr(1));
  // Only the stored texts are flattened, not the ones left behind.
  EXPECT_EQ(Nul("1|3|new|"), Flatten(arr));
}

TEST(DynamicStringArr, TextsWithNulBytesSurviveFlattenAndRead) {
  const std::string with_nuls = "a\0b\0\0c"s;
  Dynamic_String_Arr arr;
  arr.AddStr(with_nuls.data(), static_cast<int>(with_nuls.size()));
  arr.AddStr("\0"s.data(), 1);
  arr.AddStr("plain", -1);
  const std::string block = Flatten(arr);

  Dynamic_String_Arr sized_copy;
  ASSERT_TRUE(sized_copy.ReadFromFlattenedByteArray(block.data(), static_cast<int>(block.size())));
  Dynamic_String_Arr unsized_copy(5);
  unsized_copy.AddStr("old", -1);
  ReadUnsized(unsized_copy, block);

  for (const Dynamic_String_Arr* copy : {&sized_copy, &unsized_copy}) {
    EXPECT_EQ(3, copy->GetArrLen());
    EXPECT_EQ(3, copy->GetInsertedNum());
    EXPECT_EQ(Texts(arr), Texts(*copy));
    EXPECT_EQ(6, copy->GetLength(0));
    EXPECT_EQ(block, Flatten(*copy));
  }
}

TEST(DynamicStringArr, CopiesAreDeepAndIndependent) {
  Dynamic_String_Arr original;
  original.AddStr("one", -1);
  original.AddStr("t\0o"s.data(), 3);
  original.ClearWithoutDeleting();
  original.AddStr("uno", -1);

  Dynamic_String_Arr copy(original);
  Dynamic_String_Arr assigned(3);
  assigned.AddStr("replaced", -1);
  assigned = original;
  for (const Dynamic_String_Arr* arr : {&copy, &assigned}) {
    EXPECT_EQ(original.GetArrLen(), arr->GetArrLen());
    EXPECT_EQ(1, arr->GetInsertedNum());
    EXPECT_STREQ("uno", arr->GetStr(0));
    EXPECT_NE(original.GetStr(0), arr->GetStr(0));
    EXPECT_EQ("t\0o"s, std::string(arr->GetStr(1), arr->GetLength(1)));
  }

  original.ClearWithoutDeleting();
  original.AddStr("changed", -1);
  EXPECT_STREQ("uno", copy.GetStr(0));
  EXPECT_STREQ("uno", assigned.GetStr(0));

  const Dynamic_String_Arr& same = assigned;
  assigned = same;
  EXPECT_STREQ("uno", assigned.GetStr(0));
}

TEST(DynamicStringArrSizedReader, RejectsEveryTruncatedPrefix) {
  Dynamic_String_Arr arr;
  arr.AddStr("ab", -1);
  arr.AddStr("", 0);
  arr.AddStr("0123456789", -1);
  const std::string block = Flatten(arr);
  for (int size = 0; size < static_cast<int>(block.size()); ++size) {
    Dynamic_String_Arr reader;
    reader.AddStr("old", -1);
    EXPECT_FALSE(reader.ReadFromFlattenedByteArray(block.data(), size)) << "size " << size;
    ExpectEmpty(reader);
  }
}

TEST(DynamicStringArrSizedReader, RejectsMalformedBlocks) {
  const struct {
    const char* what;
    const char* block;  // '|' for NUL
  } cases[] = {
      {"no bytes", ""},
      {"count without its NUL", "0"},
      {"non-digit count", "a|"},
      {"count with a trailing letter", "1x|0||"},
      {"negative count", "-1|"},
      {"signed count", "+1|0||"},
      {"count after a blank", " 1|0||"},
      {"count with a leading zero", "01|0||"},
      {"count beyond int", "2147483648|"},
      {"count far beyond the bytes", "99999|0||"},
      {"fewer entries than counted", "2|1|a|"},
      {"length longer than the rest", "1|5|ab|"},
      {"length shorter than the text", "1|1|ab|"},
      {"length beyond int", "1|4294967297|a|"},
      {"negative length", "1|-1||"},
      {"length with a leading zero", "1|01|a|"},
      {"empty length", "1|||"},
      {"missing NUL after the text", "1|1|ab"},
      {"bytes after the last entry", "1|1|a|x"},
      {"NUL after the last entry", "0||"},
  };
  for (const auto& malformed : cases) {
    const std::string block = Nul(malformed.block);
    Dynamic_String_Arr arr(2);
    arr.AddStr("old", -1);
    SCOPED_TRACE(malformed.what);
    EXPECT_FALSE(arr.ReadFromFlattenedByteArray(block.data(), static_cast<int>(block.size())));
    ExpectEmpty(arr);
  }
  Dynamic_String_Arr arr;
  EXPECT_FALSE(arr.ReadFromFlattenedByteArray("0\0", -1));
  ExpectEmpty(arr);
}

TEST(DynamicStringArrUnsizedReader, ReadsNumbersAsStreamInputDoes) {
  Dynamic_String_Arr arr;
  ReadUnsized(arr, Nul(" +2|01|a|\t0||"));
  EXPECT_EQ(2, arr.GetArrLen());
  EXPECT_EQ((std::vector<std::string>{"a", ""}), Texts(arr));
}

TEST(DynamicStringArrUnsizedReader, LeavesTheArrayEmptyOnWhatItCanCheck) {
  const struct {
    const char* what;
    const char* block;  // '|' for NUL
  } cases[] = {
      {"empty count", "|"},
      {"non-digit count", "x|"},
      {"count with a trailing letter", "1x|1|a|"},
      {"negative count", "-1|"},
      {"count of 2^30", "1073741824|"},
      {"count beyond int", "99999999999|"},
      {"negative length", "1|-1||"},
      {"sign without digits", "1|+||"},
      {"length shorter than the text", "1|1|ab|"},
  };
  for (const auto& malformed : cases) {
    Dynamic_String_Arr arr(2);
    arr.AddStr("old", -1);
    SCOPED_TRACE(malformed.what);
    ReadUnsized(arr, Nul(malformed.block));
    ExpectEmpty(arr);
  }
}
