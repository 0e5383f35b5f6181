#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/test_support.h"

TEST(Node, KeyNameIsStrippedOfBlanksAndTheFixIsLogged) {
  LogCapture capture;
  Tree_NodePtr node = MakeBranch("  port ");
  EXPECT_EQ(RWCString("port"), node->GetKeyName());
  EXPECT_EQ(std::vector<std::string>{"Tree_Node::Init key name fixed: from <  port > to <port>\n"},
            capture.Texts(4));

  capture.Clear();
  Tree_NodePtr clean = MakeBranch("port");
  Tree_NodePtr tabbed = MakeBranch("port\t");
  EXPECT_EQ(RWCString("port\t"), tabbed->GetKeyName());  // only blanks are stripped
  EXPECT_TRUE(capture.Texts(4).empty());
}

TEST(Node, EmptyOrBlankNameIsReplacedFromTheClock) {
  LogCapture capture;
  Tree_NodePtr blank = MakeBranch("   ");
  Tree_NodePtr empty = MakeBranch("");
  const std::regex generated("undefined_tree[0-9]{1,5}");
  for (const Tree_NodePtr& node : {blank, empty}) {
    const std::string name = node->GetKeyName().str();
    EXPECT_TRUE(std::regex_match(name, generated)) << name;
    EXPECT_FALSE(name.size() > 15 && name[14] == '0');  // no leading zeros
    EXPECT_TRUE(capture.Has(
        "A tree with a NULL name has been set, tree was renamed to <" + name + ">\n", 4));
  }
}

TEST(Node, ValueMakesALeafAndOnlyNullMakesABranchAgain) {
  Tree_NodePtr leaf = MakeLeaf("port", "80");
  EXPECT_EQ(1, leaf->IsLeaf());
  EXPECT_EQ(0, leaf->IsAllowsChildren());

  Tree_NodePtr branch = MakeBranch("net");
  EXPECT_EQ(0, branch->IsLeaf());
  EXPECT_EQ(nullptr, branch->SetTreeValue(new Tree_Value("v", 0)));
  EXPECT_EQ(1, branch->IsAllowsChildren());  // a value never makes a leaf
  EXPECT_EQ(1, branch->Add(MakeBranch("child")));

  Tree_Value* old_value = leaf->SetTreeValue(nullptr);
  ASSERT_NE(nullptr, old_value);
  EXPECT_EQ(RWCString("80"), old_value->GetValue());  // handed back, not freed
  delete old_value;
  EXPECT_EQ(1, leaf->IsAllowsChildren());
  EXPECT_EQ(1, leaf->Add(MakeBranch("child")));
}

TEST(Node, MissingValueIsLoggedAtLevelSeven) {
  LogCapture capture;
  Tree_NodePtr node = MakeBranch("n");
  EXPECT_EQ(nullptr, node->GetTreeValue());
  EXPECT_EQ(std::vector<std::string>{"GetTreeValue(): return NULL\n"}, capture.Texts(7));
}

TEST(Node, FreshNodeHasItsDocumentedState) {
  Tree_NodePtr node = MakeBranch("n");
  EXPECT_EQ(nullptr, node->GetParent());
  EXPECT_EQ(0, node->GetId());
  EXPECT_FALSE(node->GetMark());
  EXPECT_TRUE(node->IsSingleNodeComplete());
  EXPECT_TRUE(node->IsSubtreeComplete());
  EXPECT_EQ(0, node->GetChildCount());
  EXPECT_EQ(1, node->IsEmpty());
  EXPECT_TRUE(node->GetVirtualParentPath().isNull());
  EXPECT_FALSE(Tree_NodeTestAccess::ChecksumValid(*node));
}

TEST(Node, ValueKeepsItsChangeFlagWhenTheTextChanges) {
  Tree_Value value("1", 7);
  value.SetValue("2");
  EXPECT_EQ(7, value.IsChange());
  Tree_Value copy = value;
  copy.SetIsChange(0);
  EXPECT_EQ(RWCString("2"), copy.GetValue());
  EXPECT_EQ(7, value.IsChange());
}

TEST(Node, DestroyingAParentLeavesOutsideHeldChildrenAliveAsRoots) {
  Tree_NodePtr kept;
  {
    Tree_NodePtr parent = MakeBranch("parent");
    kept = AddBranch(parent, "kept");
    AddLeaf(kept, "leaf", "1");
    AddBranch(parent, "dropped");
  }
  EXPECT_EQ(nullptr, kept->GetParent());
  EXPECT_EQ(RWCString("kept"), kept->GetPath());
  EXPECT_EQ(1, kept->GetChildCount());
}
