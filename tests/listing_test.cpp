#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/test_support.h"

namespace {

// root\level with, in order, a=1, a sub tree s (holding g=9 and a sub tree h) and b=2.
struct LevelTree {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr level = AddBranch(root, "level");
  Tree_NodePtr a = AddLeaf(level, "a", "1");
  Tree_NodePtr s = AddBranch(level, "s");
  Tree_NodePtr b = AddLeaf(level, "b", "2");
  Tree_NodePtr g = AddLeaf(s, "g", "9");
  Tree_NodePtr h = AddBranch(s, "h");
};

}  // namespace

TEST(Listing, ListsOneLevelInChildOrder) {
  LevelTree tree;
  LogCapture log;
  std::unique_ptr<Tree_PathAndValueArray> values(
      tree.root->GetSubTreeValues(RWCString("level"), tree.root));
  ASSERT_NE(nullptr, values);
  ASSERT_EQ(2, values->GetArrLen());
  EXPECT_STREQ("1", values->GetPV(0)->m_value_buf);
  EXPECT_STREQ("a", values->GetPV(0)->m_path_buf);
  EXPECT_STREQ("2", values->GetPV(1)->m_value_buf);
  EXPECT_STREQ("b", values->GetPV(1)->m_path_buf);
  EXPECT_EQ((std::vector<std::string>{
                "Start GetSubTreeValues(RWCString & path,Tree_NodePtr & this_ptr)\n",
                "Start GetValueNum(RWCString path,Tree_NodePtr& this_ptr\n",
                "End GetValueNum(RWCString path,Tree_NodePtr& this_ptr) return 2\n",
                "End GetSubTreeValues(RWCString & path,Tree_NodePtr & this_ptr)\n"}),
            log.Texts());

  std::unique_ptr<String_Arr> names(tree.level->GetSubTreePaths(RWCString(), tree.level));
  ASSERT_NE(nullptr, names);
  EXPECT_EQ(1, names->GetArrLen());
  EXPECT_EQ(1, names->GetInsertedNum());
  EXPECT_STREQ("s", names->GetStr(0));

  // One level lower, the grandchildren are listed; from root, nothing of them shows.
  std::unique_ptr<String_Arr> below(tree.root->GetSubTreePaths(RWCString("level\\s"), tree.root));
  ASSERT_NE(nullptr, below);
  EXPECT_STREQ("h", below->GetStr(0));
  std::unique_ptr<String_Arr> top(tree.root->GetSubTreePaths(RWCString(), tree.root));
  ASSERT_NE(nullptr, top);
  EXPECT_EQ(1, top->GetArrLen());
  EXPECT_STREQ("level", top->GetStr(0));
  EXPECT_EQ(nullptr, tree.root->GetSubTreeValues(RWCString(), tree.root));
}

TEST(Listing, AMissingNodeAndAnEmptyLevelGiveNullWithDifferentLevels) {
  LevelTree tree;
  LogCapture log;
  EXPECT_EQ(nullptr, tree.root->GetSubTreeValues(RWCString("nowhere"), tree.root));
  EXPECT_EQ(nullptr, tree.root->GetSubTreePaths(RWCString("level\\x"), tree.root));
  EXPECT_EQ((std::vector<std::string>{
                "GetSubTreeValues(RWCString & path,Tree_NodePtr & this_ptr) : tree_node is null, "
                "return NULL\n",
                "GetSubTreePaths(RWCString & path,Tree_NodePtr & this_ptr) : tree_node is null, "
                "return NULL\n"}),
            log.Texts(3));

  log.Clear();
  EXPECT_EQ(nullptr, tree.root->GetSubTreeValues(RWCString("level\\s\\h"), tree.root));
  EXPECT_EQ(nullptr, tree.root->GetSubTreePaths(RWCString("level\\a"), tree.root));
  EXPECT_TRUE(log.Texts(3).empty());
  EXPECT_TRUE(log.Has(
      "GetSubTreeValues(RWCString & path,Tree_NodePtr & this_ptr) : no values under thos node, "
      "return NULL\n",
      7));
  EXPECT_TRUE(
      log.Has("GetSubTreePaths(RWCString & path,Tree_NodePtr & this_ptr) : no sub trees under this "
              "node, return NULL\n",
              7));
  EXPECT_EQ(7, tree.root->GetNodeNum());
}

TEST(Listing, LongTextsComeBackCutToTheirFields) {
  const std::string long_name(300, 'k');
  const std::string long_value(2000, 'v');
  Tree_NodePtr root = MakeBranch("root");
  AddLeaf(root, long_name, long_value);
  AddBranch(root, long_name);

  std::unique_ptr<Tree_PathAndValueArray> values(root->GetSubTreeValues(RWCString(), root));
  ASSERT_NE(nullptr, values);
  EXPECT_EQ(long_value.substr(0, 1023), values->GetPV(0)->m_value_buf);
  EXPECT_EQ(long_name, values->GetPV(0)->m_path_buf);

  std::unique_ptr<String_Arr> names(root->GetSubTreePaths(RWCString(), root));
  ASSERT_NE(nullptr, names);
  EXPECT_EQ(long_name.substr(0, 255), names->GetStr(0));

  const Tree_ValueAndPath both_long{RWCString(long_value), RWCString(long_value)};
  EXPECT_EQ(1023u, std::string(both_long.m_path_buf).size());
  EXPECT_EQ(1023u, std::string(both_long.m_value_buf).size());
}

TEST(PathAndValueArray, IgnoresIndexesOutOfRange) {
  Tree_PathAndValueArray array(2);
  array.SetPV(0, RWCString("name"), RWCString(""));
  array.SetPV(1, Tree_ValueAndPath(RWCString("p"), RWCString("v")));
  EXPECT_STREQ("", array.GetPV(0)->m_value_buf);
  EXPECT_STREQ("name", array.GetPV(0)->m_path_buf);
  EXPECT_STREQ("v", array.GetPV(1)->m_value_buf);
  EXPECT_EQ(nullptr, array.GetPV(2));
  EXPECT_EQ(nullptr, array.GetPV(-1));
  array.SetPV(2, RWCString("x"), RWCString("x"));
  array.SetPV(-1, Tree_ValueAndPath(RWCString("x"), RWCString("x")));
  EXPECT_STREQ("name", array.GetPV(0)->m_path_buf);
  EXPECT_STREQ("p", array.GetPV(1)->m_path_buf);
  EXPECT_EQ(0, Tree_PathAndValueArray(-3).GetArrLen());
}

TEST(PathAndValueArray, CopiesAreDeep) {
  Tree_PathAndValueArray original(1);
  original.SetPV(0, RWCString("p"), RWCString("before"));
  Tree_PathAndValueArray copy(original);
  Tree_PathAndValueArray assigned(5);
  assigned = original;
  original.SetPV(0, RWCString("p"), RWCString("after"));
  EXPECT_STREQ("before", copy.GetPV(0)->m_value_buf);
  EXPECT_STREQ("before", assigned.GetPV(0)->m_value_buf);
  EXPECT_EQ(1, assigned.GetArrLen());

  Tree_PathAndValueArray moved(std::move(original));
  EXPECT_STREQ("after", moved.GetPV(0)->m_value_buf);
  EXPECT_EQ(0, original.GetArrLen());  // NOLINT(bugprone-use-after-move): defined as empty
  EXPECT_EQ(nullptr, original.GetPV(0));
}
