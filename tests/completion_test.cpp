#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

using Events = std::vector<std::string>;

// Records "Notify <name>" and "Move <name> <complete sons>" into a shared journal.
class Recorder : public Tree_NotifyList::Callback {
 public:
  Recorder(std::string name, Events* journal) : m_name(std::move(name)), m_journal(journal) {}

  void Notify() override {
    m_journal->push_back("Notify " + m_name);
    if (on_notify) on_notify();
  }
  void MightNeedMove(const Tree_NodePtr& node) override {
    m_journal->push_back("Move " + node->GetKeyName().str() + " " +
                         std::to_string(Tree_NodeTestAccess::CompleteSons(*node)));
    moved_node = node.get();
  }

  std::function<void()> on_notify;
  Tree_Node* moved_node = nullptr;

 private:
  std::string m_name;
  Events* m_journal;
};

}  // namespace

TEST(Completion, LeafTurningIncompleteAndBackPropagatesInOrder) {
  Events journal;
  Tree_NodePtr r = MakeBranch("r");
  Tree_NodePtr a = AddBranch(r, "a");
  AddBranch(r, "b");
  Recorder on_r("r", &journal);
  Recorder on_a("a", &journal);
  r->AddSubtreeCompleteNotifier(&on_r);
  a->AddSubtreeCompleteNotifier(&on_a);

  a->SetSingleNodeComplete(false);
  EXPECT_FALSE(a->IsSubtreeComplete());
  EXPECT_FALSE(r->IsSubtreeComplete());
  EXPECT_EQ(Events{"Move r 1"}, journal);
  EXPECT_EQ(r.get(), on_r.moved_node);

  journal.clear();
  a->SetSingleNodeComplete(true);
  EXPECT_EQ(Events({"Notify a", "Move r 2", "Notify r"}), journal);
  EXPECT_TRUE(r->IsSubtreeComplete());

  // Each list was emptied by its Notify: a second round tells nobody.
  journal.clear();
  a->SetSingleNodeComplete(false);
  a->SetSingleNodeComplete(true);
  EXPECT_TRUE(journal.empty());
}

TEST(Completion, SettingTheSameValueOrAFlagOfANodeWithChildrenChangesNothingElse) {
  Events journal;
  Tree_NodePtr r = MakeBranch("r");
  Tree_NodePtr a = AddBranch(r, "a");
  AddBranch(a, "child");
  Recorder on_r("r", &journal);
  r->AddSubtreeCompleteNotifier(&on_r);

  a->SetSingleNodeComplete(true);
  a->SetSingleNodeComplete(false);  // a has children: only its own flag moves
  EXPECT_FALSE(a->IsSingleNodeComplete());
  EXPECT_TRUE(a->IsSubtreeComplete());
  EXPECT_TRUE(r->IsSubtreeComplete());
  EXPECT_TRUE(journal.empty());
}

TEST(Completion, IncompleteChildInsertedAndRemovedMovesTheAncestors) {
  Events journal;
  Tree_NodePtr top = MakeBranch("top");
  Tree_NodePtr mid = AddBranch(top, "mid");
  Tree_NodePtr low = AddBranch(mid, "low");
  Tree_NodePtr other = AddBranch(top, "other");
  other->SetSingleNodeComplete(false);  // top is already incomplete
  ASSERT_EQ(1, Tree_NodeTestAccess::CompleteSons(*top));
  Recorder on_mid("mid", &journal);
  Recorder on_low("low", &journal);
  mid->AddSubtreeCompleteNotifier(&on_mid);
  low->AddSubtreeCompleteNotifier(&on_low);

  Tree_NodePtr incomplete = MakeBranch("incomplete");
  incomplete->SetSingleNodeComplete(false);
  low->Add(incomplete);
  EXPECT_FALSE(low->IsSubtreeComplete());
  EXPECT_FALSE(mid->IsSubtreeComplete());
  EXPECT_EQ(0, Tree_NodeTestAccess::CompleteSons(*top));  // still drops by one
  EXPECT_EQ(Events{"Move mid 0"}, journal);

  journal.clear();
  low->Remove(incomplete);
  EXPECT_TRUE(low->IsSubtreeComplete());
  EXPECT_TRUE(mid->IsSubtreeComplete());
  EXPECT_EQ(1, Tree_NodeTestAccess::CompleteSons(*top));
  EXPECT_EQ(Events({"Notify low", "Move mid 1", "Notify mid"}), journal);
}

TEST(Completion, CompleteChildrenAreCountedOnInsertAndRemove) {
  Events journal;
  Tree_NodePtr r = MakeBranch("r");
  Recorder on_r("r", &journal);
  r->AddSubtreeCompleteNotifier(&on_r);
  Tree_NodePtr a = AddBranch(r, "a");
  AddBranch(r, "b");
  r->Remove(a);
  EXPECT_EQ(Events({"Move r 1", "Move r 2", "Move r 1"}), journal);
  EXPECT_TRUE(r->IsSubtreeComplete());
}

TEST(Completion, RemovingTheLastChildFallsBackToTheNodesOwnFlag) {
  Tree_NodePtr r = MakeBranch("r");
  AddBranch(r, "a");
  r->SetSingleNodeComplete(false);
  EXPECT_TRUE(r->IsSubtreeComplete());
  r->Remove(0);
  EXPECT_FALSE(r->IsSubtreeComplete());
}

TEST(Completion, DownwardsCompletesEveryChildlessNode) {
  Tree_NodePtr r = MakeBranch("r");
  Tree_NodePtr a = AddBranch(r, "a");
  Tree_NodePtr a1 = AddBranch(a, "a1");
  Tree_NodePtr a2 = AddLeaf(a, "a2", "v");
  Tree_NodePtr b = AddBranch(r, "b");
  a1->SetSingleNodeComplete(false);
  a2->SetSingleNodeComplete(false);
  b->SetSingleNodeComplete(false);
  a->SetSingleNodeComplete(false);  // has children: untouched by the walk
  ASSERT_FALSE(r->IsSubtreeComplete());

  r->SetSubtreeCompleteDownwards();
  EXPECT_TRUE(r->IsSubtreeComplete());
  EXPECT_TRUE(a->IsSubtreeComplete());
  EXPECT_TRUE(a1->IsSingleNodeComplete() && a2->IsSingleNodeComplete());
  EXPECT_TRUE(b->IsSingleNodeComplete());
  EXPECT_FALSE(a->IsSingleNodeComplete());
  EXPECT_EQ(2, Tree_NodeTestAccess::CompleteSons(*r));
}

TEST(Completion, CallbackAddedToACompleteNodeWaitsForTheNextCompletion) {
  Events journal;
  Tree_NodePtr n = MakeBranch("n");
  Recorder on_n("n", &journal);
  n->AddSubtreeCompleteNotifier(&on_n);
  n->SetSingleNodeComplete(true);
  EXPECT_TRUE(journal.empty());
  n->SetSingleNodeComplete(false);
  n->SetSingleNodeComplete(true);
  EXPECT_EQ(Events{"Notify n"}, journal);

  // SetSubtreeComplete(true) tells the list whatever the flag was.
  journal.clear();
  n->AddSubtreeCompleteNotifier(&on_n);
  Tree_NodeTestAccess::SetSubtreeComplete(*n, true);
  EXPECT_EQ(Events{"Notify n"}, journal);
}

TEST(Completion, CallbackMayAddAChildToTheNodeItWatches) {
  // Re-entrant: Notify runs under the list's mutex and Add tells the same list again.
  Events journal;
  Tree_NodePtr r = MakeBranch("r");
  Tree_NodePtr a = AddBranch(r, "a");
  Recorder on_a("a", &journal);
  on_a.on_notify = [&] { a->Add(MakeBranch("late")); };
  a->AddSubtreeCompleteNotifier(&on_a);

  a->SetSingleNodeComplete(false);
  a->SetSingleNodeComplete(true);
  EXPECT_EQ(Events({"Notify a", "Move a 1"}), journal);
  EXPECT_EQ(1, a->GetChildCount());
  EXPECT_TRUE(a->IsSubtreeComplete());
  EXPECT_TRUE(r->IsSubtreeComplete());
  EXPECT_EQ(1, Tree_NodeTestAccess::CompleteSons(*r));
}

TEST(Completion, CallbackThatAddsAnIncompleteChildKeepsTheCountersExact) {
  Events journal;
  Tree_NodePtr r = MakeBranch("r");
  Tree_NodePtr a = AddBranch(r, "a");
  Recorder on_a("a", &journal);
  on_a.on_notify = [&] {
    Tree_NodePtr pending = MakeBranch("pending");
    pending->SetSingleNodeComplete(false);
    a->Add(pending);
  };
  a->AddSubtreeCompleteNotifier(&on_a);

  a->SetSingleNodeComplete(false);
  a->SetSingleNodeComplete(true);
  EXPECT_FALSE(a->IsSubtreeComplete());
  EXPECT_FALSE(r->IsSubtreeComplete());
  EXPECT_EQ(0, Tree_NodeTestAccess::CompleteSons(*r));
  a->GetChildAt(0)->SetSingleNodeComplete(true);
  EXPECT_TRUE(r->IsSubtreeComplete());
  EXPECT_EQ(1, Tree_NodeTestAccess::CompleteSons(*r));
}
