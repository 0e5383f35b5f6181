#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/test_support.h"

TEST(Listing, ListsOneLevelInChildOrderWithoutGrandchildren) {
  // z=1, a sub tree s (holding g=9 and a sub tree h), b=2 and a sub tree k: the order of the
  // children is not the order of their names.
  Tree_NodePtr level = MakeBranch("level");
  AddLeaf(level, "z", "1");
  Tree_NodePtr s = AddBranch(level, "s");
  AddLeaf(level, "b", "2");
  AddBranch(level, "k");
  AddLeaf(s, "g", "9");
  AddBranch(s, "h");
  std::unique_ptr<Tree_PathAndValueArray> values(level->GetSubTreeValues("", level));
  std::unique_ptr<String_Arr> names(level->GetSubTreePaths("", level));
  ASSERT_TRUE(values != nullptr && names != nullptr);
  ASSERT_EQ(2, values->GetArrLen());
  EXPECT_STREQ("z", values->GetPV(0)->m_path_buf);
  EXPECT_STREQ("1", values->GetPV(0)->m_value_buf);
  EXPECT_STREQ("b", values->GetPV(1)->m_path_buf);
  EXPECT_STREQ("2", values->GetPV(1)->m_value_buf);
  ASSERT_EQ(2, names->GetArrLen());
  EXPECT_STREQ("s", names->GetStr(0));
  EXPECT_STREQ("k", names->GetStr(1));

  // A missing node logs at level 3, a level without children of the kind at level 7.
  LogCapture log;
  EXPECT_EQ(nullptr, level->GetSubTreeValues("x", level));
  EXPECT_EQ(nullptr, level->GetSubTreeValues("s\\h", level));
  EXPECT_EQ(nullptr, level->GetSubTreePaths("z", level));
  EXPECT_EQ(std::vector<std::string>{"GetSubTreeValues(RWCString & path,Tree_NodePtr & this_ptr) "
                                     ": tree_node is null, return NULL\n"},
            log.Texts(3));
}

TEST(QueryResults, LongTextsAreCutToTheirSlots) {
  const std::string long_name(300, 'k');
  const std::string long_value(2000, 'v');
  Tree_NodePtr root = MakeBranch("root");
  AddLeaf(root, long_name, long_value);
  AddBranch(root, long_name);
  std::unique_ptr<Tree_PathAndValueArray> values(root->GetSubTreeValues("", root));
  std::unique_ptr<String_Arr> names(root->GetSubTreePaths("", root));
  std::unique_ptr<String_Arr> hits(root->Search(long_name, root, 0));
  ASSERT_TRUE(values != nullptr && names != nullptr && hits != nullptr);
  EXPECT_EQ(long_value.substr(0, 1023), values->GetPV(0)->m_value_buf);
  EXPECT_EQ(long_name, values->GetPV(0)->m_path_buf);
  EXPECT_EQ(long_name.substr(0, 255), names->GetStr(0));
  EXPECT_EQ(("root\\" + long_name).substr(0, 255), hits->GetStr(0));
}
