#include <gtest/gtest.h>

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

const std::string kSubTreeStart =
    "Start GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr)\n";
const std::string kSubTreeBound =
    "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : index must be "
    "less then child count , return null Tree_NodePtr\n";

}  // namespace

TEST(IndexedAccess, RanksCountChildrenOfOneKindOnly) {
  ConfigTree tree;
  LogCapture log;
  EXPECT_EQ("3", tree.root->GetValue(kCfg, 1, tree.root).str());
  EXPECT_EQ("1", tree.root->GetValue(kCfg, 0, tree.root).str());
  EXPECT_EQ("r", tree.root->GetValueName(kCfg, 1, tree.root).str());
  EXPECT_EQ(tree.q, tree.root->GetRelativeSubTree(kCfg, 0, tree.root));
  EXPECT_EQ(&tree.cfg->GetChildAt(1), &tree.root->GetRelativeSubTreeByRef(kCfg, 0, tree.root));
  // The empty path addresses the node the member is called on.
  EXPECT_EQ("p", tree.cfg->GetValueName(RWCString(), 0, tree.cfg).str());
  EXPECT_EQ(2, tree.root->GetValueNum(kCfg, tree.root));
  EXPECT_EQ(1, tree.root->GetSubTreeNum(kCfg, tree.root));
  EXPECT_EQ(0, tree.root->GetValueNum(RWCString("cfg\\q"), tree.root));

  log.Clear();
  tree.root->GetRelativeSubTree(kCfg, 0, tree.root);
  EXPECT_EQ((std::vector<std::string>{
                kSubTreeStart,
                "End GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr)\n"}),
            log.Texts());
  log.Clear();
  tree.root->GetSubTreeNum(kCfg, tree.root);
  tree.root->GetValueNum(RWCString("nowhere"), tree.root);
  EXPECT_EQ((std::vector<std::string>{
                "Start GetSubTreeNum(RWCString  path,Tree_NodePtr & this_node)\n",
                "End GetSubTreeNum(RWCString  path,Tree_NodePtr & this_node) return 1\n",
                "Start GetValueNum(RWCString path,Tree_NodePtr& this_ptr\n",
                "GetValueNum(RWCString path,Tree_NodePtr& this_ptr) : path not exist, return -1: "
                "nowhere\n"}),
            log.Texts(7));
}

TEST(IndexedAccess, AnIndexWithinTheBoundMayStillMissItsRank) {
  ConfigTree tree;
  LogCapture log;
  // 1 is below the three children, but there is only one sub tree.
  EXPECT_EQ(nullptr, tree.root->GetRelativeSubTree(kCfg, 1, tree.root).get());
  EXPECT_TRUE(log.Has(
      "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : index not exist "
      ": 1 , return null Tree_NodePtr\n",
      7));
  EXPECT_EQ("", tree.root->GetValue(kCfg, 2, tree.root).str());
  EXPECT_TRUE(log.Has(
      "GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr): index 2 does not exist, "
      "return \n",
      7));
  EXPECT_EQ("", tree.root->GetValueName(kCfg, 2, tree.root).str());
  EXPECT_TRUE(log.Has(
      "GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr): index 2 does not exist, "
      "return \n",
      7));

  // 3 fails the bound, at level 7 for the copy and at level 3 for the reference.
  log.Clear();
  EXPECT_EQ(nullptr, tree.root->GetRelativeSubTree(kCfg, 3, tree.root).get());
  EXPECT_EQ(&Tree_Node::NULL_TREE_NODE_PTR,
            &tree.root->GetRelativeSubTreeByRef(kCfg, 3, tree.root));
  EXPECT_EQ((std::vector<std::string>{kSubTreeStart, kSubTreeBound, kSubTreeStart}), log.Texts(7));
  EXPECT_EQ(std::vector<std::string>{kSubTreeBound}, log.Texts(3));
  log.Clear();
  EXPECT_EQ("", tree.root->GetValue(RWCString("cfg\\p"), 0, tree.root).str());
  EXPECT_EQ("", tree.root->GetValueName(kCfg, 3, tree.root).str());
  EXPECT_EQ((std::vector<std::string>{
                "Start GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr)\n",
                "GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr): index is more then "
                "child num, return empty string\n",
                "Start GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr)\n",
                "GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr): index is more "
                "then child num, return empty string\n"}),
            log.Texts());
}

TEST(IndexedAccess, ANegativeIndexFailsBeforeThePathIsWalked) {
  ConfigTree tree;
  LogCapture log;
  const RWCString missing("no\\such\\node");
  EXPECT_EQ("", tree.root->GetValue(missing, -1, tree.root).str());
  EXPECT_EQ("", tree.root->GetValueName(missing, -1, tree.root).str());
  EXPECT_EQ(nullptr, tree.root->GetRelativeSubTree(missing, -1, tree.root).get());
  EXPECT_EQ(&Tree_Node::NULL_TREE_NODE_PTR,
            &tree.root->GetRelativeSubTreeByRef(missing, -1, tree.root));
  const std::string negative_sub_tree =
      "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : index less then "
      "0 , return null Tree_NodePtr\n";
  EXPECT_EQ((std::vector<std::string>{
                "Start GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr)\n",
                "GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr): index is less then "
                "0, return empty string\n",
                "Start GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr)\n",
                "GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr): index is less "
                "then 0, return empty string\n",
                kSubTreeStart, negative_sub_tree, kSubTreeStart, negative_sub_tree}),
            log.Texts());

  // With a valid index, the same path fails on the walk and names itself.
  log.Clear();
  tree.root->GetValue(missing, 0, tree.root);
  tree.root->GetValueName(missing, 0, tree.root);
  tree.root->GetRelativeSubTreeByRef(missing, 0, tree.root);
  EXPECT_EQ(-1, tree.root->GetSubTreeNum(missing, tree.root));
  EXPECT_EQ((std::vector<std::string>{
                "Start GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr)\n",
                "GetValue(RWCString & path,int index,Tree_NodePtr & this_ptr): path no\\such\\node "
                "does not exist, return \n",
                "Start GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr)\n",
                "GetValueName(RWCString & path,int index,Tree_NodePtr & this_ptr): path "
                "no\\such\\node does not exist, return \n",
                kSubTreeStart,
                "GetRelativeSubTree(RWCString & path,int index,Tree_NodePtr & this_ptr) : path "
                "does not exist : no\\such\\node , return null Tree_NodePtr\n",
                "Start GetSubTreeNum(RWCString  path,Tree_NodePtr & this_node)\n",
                "GetSubTreeNum(RWCString  path,Tree_NodePtr & this_node) path not exist : "
                "no\\such\\node , return -1\n"}),
            log.Texts());
}

TEST(ValueByPath, ReadsOnlyValueChildren) {
  ConfigTree tree;
  AddLeaf(tree.cfg, "empty", "");
  LogCapture log;
  EXPECT_EQ("1", tree.root->GetValue(RWCString("cfg\\p"), tree.root).str());
  EXPECT_EQ("", tree.root->GetValue(RWCString("cfg\\empty"), tree.root).str());
  EXPECT_TRUE(log.Texts().empty());  // success is silent, even for an empty value

  EXPECT_EQ("", tree.root->GetValue(kCfg, tree.root).str());
  EXPECT_EQ("", tree.root->GetValue(RWCString("cfg\\x"), tree.root).str());
  EXPECT_EQ((std::vector<std::string>{
                "GetValue(RWCString & path,Tree_NodePtr & this_ptr) : path represent a sub "
                "tree,return empty string\n",
                "GetValue(RWCString & path,Tree_NodePtr & this_ptr) : path cfg\\x does not exist, "
                "return empty string\n"}),
            log.Texts(7));
  // A value set on a branch is not read through this member either.
  delete tree.q->SetTreeValue(new Tree_Value("on a branch", 0));
  EXPECT_EQ("", tree.root->GetValue(RWCString("cfg\\q"), tree.root).str());
}

TEST(IndexedAccess, LookupsLeaveTheTreeAsItWas) {
  ConfigTree tree;
  const long handles_of_q = tree.q.UseCount();
  for (int index : {-1, 0, 1, 2, 3, 100}) {
    tree.root->GetValue(kCfg, index, tree.root);
    tree.root->GetValueName(kCfg, index, tree.root);
    tree.root->GetRelativeSubTree(kCfg, index, tree.root);
    tree.root->GetRelativeSubTreeByRef(kCfg, index, tree.root);
  }
  EXPECT_EQ(handles_of_q, tree.q.UseCount());
  EXPECT_EQ(5, tree.root->GetNodeNum());
  EXPECT_EQ((std::vector<std::string>{"p", "q", "r"}), ChildNames(tree.cfg));
}

TEST(DeepChain, LookupsAndSearchWalkAHundredThousandLevels) {
  constexpr int kDepth = 100000;
  std::string path;
  for (int level = 0; level < kDepth; ++level) {
    if (level != 0) path += '\\';
    path += "n" + std::to_string(level);
  }
  Tree_NodePtr root = MakeBranch("r");
  Tree_NodePtr deepest = root->GetOrCreateRelativeNode(RWCString(path), root);
  ASSERT_NE(nullptr, deepest.get());
  EXPECT_EQ("n" + std::to_string(kDepth - 1), deepest->GetKeyName().str());
  EXPECT_EQ(deepest, root->GetRelativeNode(RWCString(path), root));
  EXPECT_EQ(deepest, root->GetOrCreateRelativeNode(RWCString(path), root));

  AddLeaf(deepest, "bottom", "found");
  EXPECT_EQ("found", root->GetValue(RWCString(path + "\\bottom"), root).str());

  // One hit, whose full path is far longer than a slot: cut to 255 characters.
  std::unique_ptr<String_Arr> hits(root->Search(RWCString("bottom"), root, 1));
  ASSERT_NE(nullptr, hits);
  ASSERT_EQ(1, hits->GetArrLen());
  EXPECT_EQ(path.substr(0, 255), hits->GetStr(0));
}
