#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "Tree/Tree_NodeAllocator.h"
#include "tests/test_support.h"

TEST(Node, KeyNameIsStrippedOfBlanksOnlyOrReplacedWhenEmpty) {
  LogCapture capture;
  EXPECT_EQ(RWCString("port"), MakeBranch("  port ")->GetKeyName());
  EXPECT_EQ(RWCString("port\t"), MakeBranch("port\t")->GetKeyName());
  const std::string name = MakeBranch("   ")->GetKeyName().str();
  const std::string number = name.substr(std::min<std::size_t>(name.size(), 14));
  EXPECT_EQ("undefined_tree", name.substr(0, 14));
  EXPECT_TRUE(number.size() >= 1 && number.size() <= 5 &&
              number.find_first_not_of("0123456789") == std::string::npos &&
              (number == "0" || number[0] != '0'))
      << name;
  EXPECT_EQ(std::vector<std::string>(
                {"Tree_Node::Init key name fixed: from <  port > to <port>\n",
                 "A tree with a NULL name has been set, tree was renamed to <" + name + ">\n"}),
            capture.Texts(4));
}

TEST(Node, ValueMakesALeafAndOnlyNullMakesABranchAgain) {
  LogCapture capture;
  Tree_NodePtr branch = MakeBranch("net");
  EXPECT_EQ(nullptr, branch->GetTreeValue());
  EXPECT_EQ(std::vector<std::string>{"GetTreeValue(): return NULL\n"}, capture.Texts(7));
  EXPECT_EQ(nullptr, branch->SetTreeValue(new Tree_Value("v", 0)));
  EXPECT_EQ(1, branch->Add(MakeBranch("child")));  // a value never makes a leaf

  Tree_NodePtr leaf = MakeLeaf("port", "80");
  EXPECT_EQ(1, leaf->IsLeaf());
  Tree_Value* old_value = leaf->SetTreeValue(nullptr);
  EXPECT_EQ(RWCString("80"), old_value->GetValue());  // handed back, not freed
  delete old_value;
  EXPECT_EQ(1, leaf->Add(MakeBranch("child")));
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

// The node heap hands a destroyed tree's pages back to the system when the destruction ends,
// not some time later: measured in resident pages, so only with the node heap in use.
TEST(Node, DestroyingALargeTreeGivesItsPagesBack) {
  if (!Tree_NodeAllocator::UsesNodeHeap()) GTEST_SKIP() << "blocks come from the global heap";
  const auto resident = [] {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident_pages = 0;
    statm >> pages >> resident_pages;
    return static_cast<double>(resident_pages) * static_cast<double>(sysconf(_SC_PAGESIZE));
  };
  const double before = resident();
  double grown = 0;
  {
    Tree_NodePtr root(new Tree_Node("root"));
    for (int b = 0; b < 300; ++b) {
      Tree_NodePtr branch(new Tree_Node("b" + std::to_string(b)));
      root->Add(branch);
      for (int l = 0; l < 1000; ++l) {
        branch->Add(Tree_NodePtr(new Tree_Node("l" + std::to_string(l), new Tree_Value("v", 0))));
      }
    }
    grown = resident() - before;
  }
  const double kept = resident() - before;
  EXPECT_GT(grown, 30e6);  // 300,301 nodes of well over 100 bytes each
  EXPECT_LT(kept, grown / 10) << "grown " << grown << " bytes, kept " << kept;
}

// A host's class derived from Tree_Node is larger than the node heap's node block: its own
// fields must survive every handle made over it and its place in a tree. Tree_Node has no
// virtual destructor, so the host deletes it as its own type, with its families disowned.
TEST(Node, ADerivedNodeKeepsItsOwnFieldsThroughHandlesAndTheTree) {
  struct Tagged : Tree_Node {
    explicit Tagged(const char* name) : Tree_Node(name) {
      std::fill(std::begin(tag), std::end(tag), '\0');  // as a free family slot reads
    }
    bool Intact() const {
      return std::all_of(std::begin(tag), std::end(tag), [](char c) { return c == '\0'; });
    }
    char tag[40];
  };
  auto* const tagged = new Tagged("tagged");
  {
    Tree_NodePtr first(tagged);  // the first family over the node
    first.Disown();
    const Tree_NodePtr copy = first;
    const Tree_NodePtr root = MakeBranch("root");
    EXPECT_EQ(1, root->Add(first));
    AddLeaf(first, "leaf", "1");
    EXPECT_TRUE(tagged->Intact());
    EXPECT_EQ(tagged, root->GetRelativeNode(RWCString("tagged"), root).get());
    EXPECT_EQ(RWCString("1"), root->GetValue(RWCString("tagged\\leaf"), root));
    EXPECT_EQ(1, root->Remove(0));
    EXPECT_EQ(2, first.UseCount());
    EXPECT_TRUE(tagged->Intact());
  }
  delete tagged;
}
