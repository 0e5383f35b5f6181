#include <gtest/gtest.h>

#include <string>

#include "Tree/String_Arr.h"

TEST(StringArr, AppendingToAFullArrayGrowsItByFiveSlots) {
  String_Arr array(3);
  EXPECT_EQ(3, array.GetArrLen());
  EXPECT_EQ(0, array.GetInsertedNum());
  const char* const texts[] = {"zero", "one", "two", "three"};
  for (int i = 0; i < 3; ++i) array.AddStr(texts[i], -1);
  EXPECT_EQ(3, array.GetArrLen());
  array.AddStr(texts[3], -1);
  EXPECT_EQ(8, array.GetArrLen());
  EXPECT_EQ(4, array.GetInsertedNum());
  for (int i = 0; i < 4; ++i) {
    EXPECT_STREQ(texts[i], array.GetStr(i));
    EXPECT_EQ(array.GetStr(i), array.GetStrArray()[i]);
  }

  String_Arr empty;
  EXPECT_EQ(nullptr, empty.GetStrArray());
  empty.AddStr("first", -1);
  EXPECT_EQ(5, empty.GetArrLen());
  EXPECT_STREQ("first", empty.GetStr(0));
}

TEST(StringArr, AnIndexFarPastTheEndGrowsInStepsOfFive) {
  String_Arr array(2);
  array.SetStr(13, "far", -1);
  EXPECT_EQ(17, array.GetArrLen());  // 2 + 5 + 5 + 5
  EXPECT_EQ(1, array.GetInsertedNum());
  EXPECT_STREQ("far", array.GetStr(13));
  array.SetStr(17, "next", -1);
  EXPECT_EQ(22, array.GetArrLen());
}

TEST(StringArr, OutOfRangeAndNullArgumentsChangeNothing) {
  String_Arr array(2);
  EXPECT_EQ(nullptr, array.GetStr(-1));
  EXPECT_EQ(nullptr, array.GetStr(2));
  array.SetStr(-1, "x", -1);
  array.SetStr(0, nullptr, -1);
  EXPECT_EQ(2, array.GetArrLen());
  EXPECT_EQ(0, array.GetInsertedNum());

  String_Arr negative(-4);
  EXPECT_EQ(0, negative.GetArrLen());
  EXPECT_EQ(nullptr, negative.GetStr(0));
}

TEST(StringArr, StoresCountAndClearWithoutDeletingKeepsTheTexts) {
  String_Arr array(3);
  array.SetStr(0, "first", -1);
  array.SetStr(0, "second", -1);
  EXPECT_EQ(2, array.GetInsertedNum());  // stores are counted, not distinct slots
  array.AddStr("appended", -1);
  EXPECT_EQ(3, array.GetInsertedNum());
  EXPECT_STREQ("second", array.GetStr(0));
  EXPECT_STREQ("appended", array.GetStr(2));
  EXPECT_STREQ("", array.GetStr(1));  // unwritten slots read as empty texts

  array.ClearWithoutDeleting();
  EXPECT_EQ(3, array.GetArrLen());
  EXPECT_EQ(0, array.GetInsertedNum());
  EXPECT_STREQ("appended", array.GetStr(2));
  array.AddStr("again", -1);
  EXPECT_STREQ("again", array.GetStr(0));
}

TEST(StringArr, TextsLongerThanASlotAreCut) {
  const std::string exact(255, 'e');
  const std::string long_text(300, 'l');
  String_Arr array(2);
  array.SetStr(0, exact.c_str(), -1);
  array.SetStr(1, long_text.c_str(), 3);  // the length argument is not used
  EXPECT_EQ(exact, array.GetStr(0));
  EXPECT_EQ(long_text.substr(0, 255), array.GetStr(1));
}

TEST(StringArr, CopiesAreDeep) {
  String_Arr original(1);
  original.AddStr("before", -1);
  String_Arr copy(original);
  String_Arr assigned(7);
  assigned.AddStr("dropped", -1);
  assigned = original;
  original.SetStr(0, "after", -1);
  original.AddStr("grown", -1);
  for (const String_Arr* array : {&copy, &assigned}) {
    EXPECT_EQ(1, array->GetArrLen());
    EXPECT_EQ(1, array->GetInsertedNum());
    EXPECT_STREQ("before", array->GetStr(0));
  }
  assigned = assigned;  // self-assignment keeps the texts
  EXPECT_STREQ("before", assigned.GetStr(0));
}
