#include <gtest/gtest.h>

#include <utility>

#include "tests/test_support.h"

namespace {

// Counts its own destructions, so tests see when a family deletes its object.
struct Probe {
  explicit Probe(int* deaths) : deaths(deaths) {}
  ~Probe() { ++*deaths; }
  int* deaths;
};
using ProbePtr = ThreadAPI_AutoPtrThreadToggle<Probe>;

}  // namespace

TEST(Handle, CopiesShareAFamilyWhoseLastOwnerDeletes) {
  int deaths = 0;
  {
    ProbePtr first(new Probe(&deaths));
    {
      ProbePtr copy(first);
      EXPECT_EQ(2, first.UseCount());
      EXPECT_TRUE(copy.SharesFamilyWith(first));
    }
    EXPECT_EQ(1, first.UseCount());
    EXPECT_EQ(0, deaths);
  }
  EXPECT_EQ(1, deaths);

  Probe* raw = nullptr;
  {
    ProbePtr disowned(new Probe(&deaths));
    raw = disowned.Disown();
  }
  EXPECT_EQ(1, deaths);  // a disowned family frees only its counter
  delete raw;
}

TEST(Handle, AssignmentKeepsFamiliesOfOneNodeApart) {
  int deaths = 0;
  Probe* raw = new Probe(&deaths);
  ProbePtr owner(raw);
  ProbePtr second_family(raw);
  second_family.Disown();  // at most one family may own a node
  ProbePtr target = owner;
  target = second_family;  // same node: nothing happens
  ProbePtr& same = target;
  target = same;
  EXPECT_TRUE(target.SharesFamilyWith(owner));
  EXPECT_EQ(2, owner.UseCount());
  EXPECT_EQ(1, second_family.UseCount());

  owner = std::move(second_family);  // the same node again: nothing happens
  EXPECT_EQ(2, owner.UseCount());
  target = ProbePtr();
  owner = ProbePtr(nullptr);
  EXPECT_EQ(1, deaths);
  EXPECT_TRUE(owner == target);  // null handles are equal whatever their families

  ProbePtr moved(new Probe(&deaths));
  target = std::move(moved);  // takes the reference over without counting
  EXPECT_EQ(nullptr, moved.get());
  EXPECT_EQ(1, target.UseCount());
}

TEST(Handle, AssigningAChildOverItsOnlyParentHandleIsSafe) {
  // The source lives in the children vector of the node the target alone keeps alive.
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr grandchild = AddLeaf(AddBranch(root, "child"), "leaf", "1");
  root = root->GetChildAt(0);
  EXPECT_EQ(RWCString("child"), root->GetKeyName());
  EXPECT_EQ(nullptr, root->GetParent());  // the old root died and unlinked it
  EXPECT_EQ(root.get(), grandchild->GetParent());
}

TEST(Handle, ToggleSetThroughALookupGovernsTheStoredCopyAndTheSubtree) {
  Tree_NodePtr root = MakeBranch("root");
  AddLeaf(AddBranch(root, "a"), "leaf", "1");
  Tree_NodePtr found = root->GetRelativeNode("a", root);
  EXPECT_FALSE(found.IsProtected());
  int toggle = 1;
  Tree_Node::ChangeTreeNodePtrProtection(found, toggle);
  const Tree_NodePtr& stored = root->GetChildAt(0);
  EXPECT_TRUE(stored.IsProtected());
  EXPECT_TRUE(stored->GetChildAt(0).IsProtected());
  EXPECT_FALSE(root.IsProtected());
  toggle = 0;
  EXPECT_FALSE(stored->GetChildAt(0).IsProtected());
  Tree_Node::ChangeTreeNodePtrProtection(Tree_NodePtr(), toggle);  // null: nothing to do
}
