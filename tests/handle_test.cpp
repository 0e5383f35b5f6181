#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

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

TEST(Handle, LastReleaseOfAnOwningFamilyDeletes) {
  int deaths = 0;
  ProbePtr first(new Probe(&deaths));
  {
    ProbePtr copy(first);
    EXPECT_EQ(2, first.UseCount());
  }
  EXPECT_EQ(1, first.UseCount());
  Probe* raw = first.get();
  ProbePtr disowned(raw);
  disowned.Disown();  // a second family over a live node must not own it
  disowned = ProbePtr();
  EXPECT_EQ(0, deaths);
  ProbePtr moved(std::move(first));  // takes the reference over without counting
  EXPECT_EQ(1, moved.UseCount());
  moved = ProbePtr(nullptr);
  EXPECT_EQ(1, deaths);
}

TEST(Handle, AssigningTheSameNodeChangesNothing) {
  int deaths = 0;
  Probe* raw = new Probe(&deaths);
  ProbePtr owner(raw);
  ProbePtr second_family(raw);
  second_family.Disown();
  ProbePtr target = owner;
  target = second_family;
  target = std::move(second_family);
  ProbePtr& same = target;
  target = same;
  EXPECT_TRUE(target.SharesFamilyWith(owner));
  EXPECT_EQ(2, owner.UseCount());
  EXPECT_EQ(1, second_family.UseCount());
  EXPECT_TRUE(ProbePtr() == ProbePtr(nullptr));  // null handles are equal across families
}

// The raw pointer converts implicitly, and change_count gives the new count as an int.
static_assert(std::is_convertible_v<Tree_Node*, Tree_NodePtr>);
struct CountProbe : MutexHolder {
  using MutexHolder::change_count;
};
static_assert(std::is_same_v<int, decltype(CountProbe{}.change_count(nullptr, 1))>);

TEST(Handle, ANewNodeGoesWhereAHandleIsExpectedAndComparesWithoutOwning) {
  Tree_NodePtr root = new Tree_Node(RWCString("root"));
  EXPECT_EQ(1, root->Add(new Tree_Node(RWCString("child"))));
  EXPECT_EQ(1, root->GetChildAt(0).UseCount());  // the temporary handle has gone
  int deaths = 0;
  ProbePtr owner = new Probe(&deaths);
  const Probe* raw = owner.get();
  EXPECT_TRUE(owner == raw && raw == owner && !(owner == nullptr));
  EXPECT_EQ(0, deaths);  // comparing made no second owner
}

TEST(Handle, AssigningAChildOverItsOnlyParentHandleIsSafe) {
  // The source lives in the children vector of the node the target alone keeps alive.
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr grandchild = AddLeaf(AddBranch(root, "child"), "leaf", "1");
  root = root->GetChildAt(0);
  EXPECT_EQ(nullptr, root->GetParent());  // the old root died and unlinked it
  EXPECT_EQ(root.get(), grandchild->GetParent());

  // A wide parent unlinks every child it dies with, those held elsewhere become roots.
  Tree_NodePtr wide = MakeBranch("wide");
  std::vector<Tree_NodePtr> kept;
  for (int i = 0; i < 40; ++i) {
    Tree_NodePtr child = AddBranch(wide, RWCString("c" + std::to_string(i)));
    if (i % 7 == 0 || i == 39) kept.push_back(child);
  }
  // So do grandchildren, across more branches than the destruction keeps waiting at once.
  for (int i = 0; i < 3000; ++i) {
    Tree_NodePtr leaf = AddLeaf(AddBranch(wide, RWCString("b" + std::to_string(i))), "x", "1");
    if (i == 0 || i == 1500 || i == 2999) kept.push_back(leaf);
  }
  wide = Tree_NodePtr();
  for (const Tree_NodePtr& child : kept) {
    EXPECT_EQ(nullptr, child->GetParent());
    EXPECT_EQ(child->GetKeyName(), child->GetPath());
  }
}

// A node made by `new` shares its allocation with its first family; whichever of the two
// ends last frees it (the sanitizer presets catch a leak, a double free or a late read).
// GCC's optimiser follows the owner branch of each release into `delete`, which Disown rules
// out at run time, and warns about it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
TEST(Handle, ANodeAndTheFamilyInItsBlockEndInEitherOrder) {
  // The family outlives the node: disowned, then the host deletes the node.
  Tree_NodePtr first = MakeBranch("first");
  Tree_NodePtr copy = first;
  delete first.Disown();
  EXPECT_EQ(2, copy.UseCount());
  first = Tree_NodePtr();
  copy = Tree_NodePtr();

  // The node outlives a disowned family; a later family takes the slot and owns the node.
  Tree_Node* raw = new Tree_Node(RWCString("raw"));
  Tree_NodePtr(raw).Disown();
  Tree_NodePtr owner(raw);
  Tree_NodePtr second_family(raw);  // the slot is taken: a family of its own
  second_family.Disown();
  EXPECT_FALSE(owner.SharesFamilyWith(second_family));
  EXPECT_EQ(1, owner.UseCount());

  // A node not made by its own `new` gives every family an allocation of its own.
  struct Holder {
    Tree_Node node{RWCString("member")};
  };
  auto holder = std::make_unique<Holder>();
  Tree_NodePtr over_member(&holder->node);
  over_member.Disown();
  EXPECT_EQ(1, over_member->Add(owner));
  EXPECT_EQ(2, owner.UseCount());
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

TEST(Handle, AChildRelinkedByTheHostIntoTwoParentsIsReleasedByBoth) {
  Tree_NodePtr left = MakeBranch("left");
  Tree_NodePtr right = MakeBranch("right");
  Tree_NodePtr child = AddBranch(left, "child");
  child->SetParent(nullptr);  // the host's own bookkeeping: both vectors now store the child
  EXPECT_EQ(1, right->Add(child));
  EXPECT_EQ(3, child.UseCount());
  EXPECT_EQ(child, left->GetChildAt(0));
  EXPECT_EQ(child, right->GetChildAt(0));
  EXPECT_NE(&left->GetChildAt(0), &right->GetChildAt(0));
  EXPECT_EQ(1, left->Remove(0));
  EXPECT_EQ(1, right->Remove(0));
  EXPECT_EQ(1, child.UseCount());
}
