#include <gtest/gtest.h>

#include <utility>

#include "Tree/Tree_NodePtr.h"
#include "tests/test_support.h"

namespace {

// Counts its own destructions, so tests can see when a family deletes its object.
struct Probe {
  explicit Probe(int* deaths) : deaths(deaths) {}
  ~Probe() { ++*deaths; }
  int* deaths;
};
using ProbePtr = ThreadAPI_AutoPtrThreadToggle<Probe>;

}  // namespace

TEST(Handle, CopiesShareOneFamilyAndTheLastOwnerDeletes) {
  int deaths = 0;
  {
    ProbePtr first(new Probe(&deaths));
    EXPECT_EQ(1, first.UseCount());
    EXPECT_TRUE(first.IsOwner());
    {
      ProbePtr copy(first);
      EXPECT_EQ(2, first.UseCount());
      EXPECT_TRUE(copy.SharesFamilyWith(first));
      EXPECT_EQ(first.get(), copy.get());
    }
    EXPECT_EQ(1, first.UseCount());
    EXPECT_EQ(0, deaths);
  }
  EXPECT_EQ(1, deaths);
}

TEST(Handle, DisownedFamilyNeverDeletes) {
  int deaths = 0;
  Probe* raw = nullptr;
  {
    ProbePtr handle(new Probe(&deaths));
    ProbePtr copy = handle;
    raw = copy.Disown();
    EXPECT_FALSE(handle.IsOwner());
  }
  EXPECT_EQ(0, deaths);
  delete raw;
  EXPECT_EQ(1, deaths);
}

TEST(Handle, AssignmentBetweenFamiliesOfOneNodeChangesNothing) {
  int deaths = 0;
  Probe* raw = new Probe(&deaths);
  ProbePtr owner(raw);
  ProbePtr second_family(raw);
  second_family.Disown();  // at most one family may own a node
  ProbePtr target = owner;
  target = second_family;
  EXPECT_TRUE(target.SharesFamilyWith(owner));
  EXPECT_EQ(2, owner.UseCount());
  EXPECT_EQ(1, second_family.UseCount());

  ProbePtr& same = target;
  target = same;  // self-assignment
  EXPECT_EQ(2, owner.UseCount());
  EXPECT_EQ(0, deaths);
}

TEST(Handle, AssigningNullReleasesTheOldReference) {
  int deaths = 0;
  ProbePtr handle(new Probe(&deaths));
  ProbePtr other_null;
  handle = other_null;
  EXPECT_EQ(1, deaths);
  EXPECT_EQ(nullptr, handle.get());
  EXPECT_EQ(0, handle.UseCount());
  EXPECT_TRUE(handle == ProbePtr(nullptr));  // null handles of different families are equal
  EXPECT_FALSE(static_cast<bool>(handle));
}

TEST(Handle, MoveTakesTheReferenceWithoutCounting) {
  int deaths = 0;
  ProbePtr source(new Probe(&deaths));
  ProbePtr moved(std::move(source));
  EXPECT_EQ(nullptr, source.get());
  EXPECT_EQ(1, moved.UseCount());
  ProbePtr target(new Probe(&deaths));
  target = std::move(moved);
  EXPECT_EQ(1, deaths);  // target's old object
  EXPECT_EQ(1, target.UseCount());
}

TEST(Handle, ToggleGovernsTheWholeFamily) {
  int deaths = 0;
  ProbePtr handle(new Probe(&deaths));
  ProbePtr copy = handle;
  EXPECT_FALSE(copy.IsProtected());
  int toggle = 1;
  handle.SetToggle(&toggle);
  EXPECT_TRUE(copy.IsProtected());
  toggle = 0;
  EXPECT_FALSE(copy.IsProtected());
}

TEST(Handle, AssigningAChildOverItsOnlyParentHandleIsSafe) {
  // The source lives in the children vector of the node the target alone keeps alive.
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr grandchild;
  {
    Tree_NodePtr child = AddBranch(root, "child");
    grandchild = AddLeaf(child, "leaf", "1");
  }
  root = root->GetChildAt(0);
  EXPECT_EQ(RWCString("child"), root->GetKeyName());
  EXPECT_EQ(nullptr, root->GetParent());  // the old root died and unlinked it
  EXPECT_EQ(root.get(), grandchild->GetParent());
}

TEST(Handle, ProtectionSetThroughALookupReachesTheStoredCopy) {
  Tree_NodePtr root = MakeBranch("root");
  AddBranch(root, "a");
  Tree_NodePtr found = root->GetRelativeNode("a", root);
  int toggle = 1;
  Tree_Node::ChangeTreeNodePtrProtection(found, toggle);
  EXPECT_TRUE(root->GetChildAt(0).IsProtected());
  toggle = 0;
  EXPECT_FALSE(root->GetChildAt(0).IsProtected());
}
