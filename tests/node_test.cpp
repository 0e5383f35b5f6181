#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "tests/test_support.h"

TEST(Node, KeyNameIsStrippedOfBlanksOnlyAndTheFixIsLogged) {
  LogCapture capture;
  EXPECT_EQ(RWCString("port"), MakeBranch("  port ")->GetKeyName());
  EXPECT_EQ(RWCString("port\t"), MakeBranch("port\t")->GetKeyName());
  EXPECT_EQ(std::vector<std::string>{"Tree_Node::Init key name fixed: from <  port > to <port>\n"},
            capture.Texts(4));
}

TEST(Node, EmptyOrBlankNameIsReplacedFromTheClock) {
  LogCapture capture;
  const std::string word = "undefined_tree";
  for (const char* given : {"", "   "}) {
    const std::string name = MakeBranch(given)->GetKeyName().str();
    const std::string number = name.substr(std::min(name.size(), word.size()));
    EXPECT_EQ(word, name.substr(0, word.size()));
    EXPECT_TRUE(number.size() >= 1 && number.size() <= 5) << name;
    EXPECT_TRUE(std::all_of(number.begin(), number.end(), [](char c) { return std::isdigit(c); }));
    EXPECT_FALSE(number.size() > 1 && number[0] == '0');
    EXPECT_TRUE(capture.Has(
        "A tree with a NULL name has been set, tree was renamed to <" + name + ">\n", 4));
  }
}

TEST(Node, ValueMakesALeafAndOnlyNullMakesABranchAgain) {
  LogCapture capture;
  Tree_NodePtr branch = MakeBranch("net");
  EXPECT_EQ(nullptr, branch->GetTreeValue());
  EXPECT_EQ(std::vector<std::string>{"GetTreeValue(): return NULL\n"}, capture.Texts(7));
  EXPECT_EQ(nullptr, branch->SetTreeValue(new Tree_Value("v", 0)));
  EXPECT_EQ(1, branch->IsAllowsChildren());  // a value never makes a leaf
  EXPECT_EQ(1, branch->Add(MakeBranch("child")));

  Tree_NodePtr leaf = MakeLeaf("port", "80");
  EXPECT_EQ(1, leaf->IsLeaf());
  EXPECT_EQ(0, leaf->IsAllowsChildren());
  Tree_Value* old_value = leaf->SetTreeValue(nullptr);
  EXPECT_EQ(RWCString("80"), old_value->GetValue());  // handed back, not freed
  delete old_value;
  EXPECT_EQ(1, leaf->Add(MakeBranch("child")));
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
  EXPECT_EQ(2, kept->GetNodeNum());
}

namespace {

// Destroyed with the other statics at exit, after this thread's thread_local objects are
// gone: the destructor must not depend on any of them.
Tree_NodePtr BuildTreeKeptUntilExit() {
  Tree_NodePtr root = MakeBranch("kept_until_exit");
  AddLeaf(AddBranch(root, "branch"), "leaf", "1");
  return root;
}
Tree_NodePtr g_tree_kept_until_exit = BuildTreeKeptUntilExit();

}  // namespace

TEST(Node, TreeHeldByAStaticHandleIsDestroyedAtExit) {
  EXPECT_EQ(3, g_tree_kept_until_exit->GetNodeNum());
  BuildTreeKeptUntilExit();  // a destruction on this thread before the one at exit
}
