#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/test_support.h"

namespace {

// root\cfg with, in order, a value child p=1, a sub tree q and a value child r=3.
struct ConfigTree {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr cfg = AddBranch(root, "cfg");
  Tree_NodePtr p = AddLeaf(cfg, "p", "1");
  Tree_NodePtr q = AddBranch(cfg, "q");
  Tree_NodePtr r = AddLeaf(cfg, "r", "3");
};

const RWCString kCfg("cfg");
const std::string kValue = "GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr)";
const std::string kSubTree =
    "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr)";

}  // namespace

TEST(IndexedAccess, RanksCountChildrenOfOneKindOnly) {
  ConfigTree tree;
  EXPECT_EQ("3", tree.root->GetValue(kCfg, 1, tree.root).str());
  EXPECT_EQ("r", tree.root->GetValueName(kCfg, 1, tree.root).str());
  EXPECT_EQ(tree.q, tree.root->GetRelativeSubTree(kCfg, 0, tree.root));
  EXPECT_EQ(&tree.cfg->GetChildAt(1), &tree.root->GetRelativeSubTreeByRef(kCfg, 0, tree.root));
  EXPECT_EQ("", tree.root->GetValue("cfg\\q", tree.root).str());  // a sub tree has no value
  LogCapture log;
  EXPECT_EQ(1, tree.root->GetSubTreeNum(kCfg, tree.root));
  EXPECT_EQ(2, tree.root->GetValueNum(kCfg, tree.root));
  EXPECT_EQ((std::vector<std::string>{
                "Start GetSubTreeNum(RWCString  path,Tree_NodePtr & this_node)\n",
                "End GetSubTreeNum(RWCString  path,Tree_NodePtr & this_node) return 1\n",
                "Start GetValueNum(RWCString path,Tree_NodePtr& this_ptr\n",
                "End GetValueNum(RWCString path,Tree_NodePtr& this_ptr) return 2\n"}),
            log.Texts());
}

TEST(IndexedAccess, FailuresCheckIndexPathBoundAndRankInTurnAndChangeNothing) {
  ConfigTree tree;
  LogCapture log;
  const RWCString missing("no\\such");
  EXPECT_EQ("", tree.root->GetValue(missing, -1, tree.root).str());
  EXPECT_EQ("", tree.root->GetValue(missing, 0, tree.root).str());
  EXPECT_EQ((std::vector<std::string>{
                "Start " + kValue + "\n", kValue + ": index is less then 0, return empty string\n",
                "Start " + kValue + "\n", kValue + ": path no\\such does not exist, return \n"}),
            log.Texts());
  EXPECT_EQ(-1, tree.root->GetSubTreeNum(missing, tree.root));

  // 1 is below the three children, but there is only one sub tree; 3 fails the bound.
  log.Clear();
  EXPECT_EQ(nullptr, tree.root->GetRelativeSubTree(kCfg, 1, tree.root).get());
  EXPECT_EQ(&Tree_Node::NULL_TREE_NODE_PTR,
            &tree.root->GetRelativeSubTreeByRef(kCfg, 3, tree.root));
  EXPECT_TRUE(log.Has(kSubTree + " : index not exist : 1 , return null Tree_NodePtr\n", 7));
  EXPECT_EQ(std::vector<std::string>{kSubTree + " : index must be less then child count , "
                                                "return null Tree_NodePtr\n"},
            log.Texts(3));

  // None of them changes the tree.
  const long handles_of_q = tree.q.UseCount();
  for (int index : {-1, 0, 1, 2, 3, 100}) {
    tree.root->GetValue(kCfg, index, tree.root);
    tree.root->GetValueName(kCfg, index, tree.root);
    tree.root->GetRelativeSubTree(kCfg, index, tree.root);
  }
  EXPECT_EQ(handles_of_q, tree.q.UseCount());
  EXPECT_EQ((std::vector<std::string>{"p", "q", "r"}), ChildNames(tree.cfg));
}

TEST(DeepChain, LookupsAndSearchWalkAHundredThousandLevels) {
  std::string path = "n0";
  for (int level = 1; level < 100000; ++level) path += "\\n" + std::to_string(level);
  Tree_NodePtr root = MakeBranch("r");
  Tree_NodePtr deepest = root->GetOrCreateRelativeNode(RWCString(path), root);
  ASSERT_NE(nullptr, deepest.get());
  EXPECT_EQ(deepest, root->GetRelativeNode(RWCString(path), root));
  AddLeaf(deepest, "bottom", "found");
  EXPECT_EQ("found", root->GetValue(RWCString(path + "\\bottom"), root).str());
  // One hit, whose full path is far longer than a slot: cut to 255 characters.
  std::unique_ptr<String_Arr> hits(root->Search(RWCString("bottom"), root, 1));
  ASSERT_TRUE(hits != nullptr && hits->GetArrLen() == 1);
  EXPECT_EQ(path.substr(0, 255), hits->GetStr(0));
}
