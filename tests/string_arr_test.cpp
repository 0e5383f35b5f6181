#include <gtest/gtest.h>

#include "Tree/String_Arr.h"
#include "Tree/Tree_PathAndValueArray.h"

TEST(StringArr, GrowsByFiveSlotsAtATimeAlsoFarPastTheEnd) {
  String_Arr array(3);
  for (const char* text : {"zero", "one", "two"}) array.AddStr(text, -1);
  EXPECT_EQ(3, array.GetArrLen());
  array.AddStr("three", -1);
  EXPECT_EQ(8, array.GetArrLen());
  EXPECT_EQ(4, array.GetInsertedNum());
  EXPECT_STREQ("three", array.GetStr(3));
  EXPECT_EQ(nullptr, array.GetStr(8));
  array.SetStr(20, "far", -1);
  EXPECT_EQ(23, array.GetArrLen());  // 8 + 5 + 5 + 5
  EXPECT_EQ(5, array.GetInsertedNum());
  EXPECT_STREQ("far", array.GetStr(20));
}

TEST(StringArr, StoresAreCountedAndClearWithoutDeletingKeepsTheTexts) {
  String_Arr array(3);
  array.SetStr(0, "first", -1);
  array.SetStr(0, "second", -1);
  array.AddStr("appended", -1);  // stores are counted, not distinct slots: this is slot 2
  EXPECT_STREQ("second", array.GetStr(0));
  EXPECT_STREQ("appended", array.GetStr(2));
  array.ClearWithoutDeleting();
  EXPECT_EQ(3, array.GetArrLen());
  EXPECT_EQ(0, array.GetInsertedNum());
  EXPECT_STREQ("appended", array.GetStr(2));
  array.AddStr("again", -1);
  EXPECT_STREQ("again", array.GetStr(0));
}

TEST(StringArr, CopiesOfBothContainersAreDeep) {
  String_Arr array(1);
  array.AddStr("a", -1);
  String_Arr copy(array);
  copy.SetStr(0, "b", -1);
  array = copy;
  copy.SetStr(0, "c", -1);
  EXPECT_STREQ("b", array.GetStr(0));

  Tree_PathAndValueArray values(1);
  values.SetPV(0, "path", "value");
  Tree_PathAndValueArray other(values);
  other.SetPV(0, "p2", "v2");
  values = other;
  other.SetPV(0, "p3", "v3");
  EXPECT_STREQ("p2", values.GetPV(0)->m_path_buf);
  EXPECT_EQ(nullptr, values.GetPV(1));
}
