#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

using Events = std::vector<std::string>;

// Journals "Notify <name>" and "Move <node> <its complete sons>".
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
  }
  std::function<void()> on_notify;

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
  a->SetSingleNodeComplete(false);  // the same value again: nothing
  EXPECT_FALSE(r->IsSubtreeComplete());
  EXPECT_EQ(Events{"Move r 1"}, journal);

  journal.clear();
  a->SetSingleNodeComplete(true);
  EXPECT_EQ(Events({"Notify a", "Move r 2", "Notify r"}), journal);
  EXPECT_TRUE(r->IsSubtreeComplete());

  journal.clear();  // each Notify emptied its list: nobody hears the next round
  a->SetSingleNodeComplete(false);
  a->SetSingleNodeComplete(true);
  EXPECT_TRUE(journal.empty());
}

TEST(Completion, OwnFlagCountsOnlyWithoutChildren) {
  Tree_NodePtr r = MakeBranch("r");
  Tree_NodePtr a = AddBranch(r, "a");
  r->SetSingleNodeComplete(false);
  EXPECT_TRUE(r->IsSubtreeComplete());
  r->Remove(a);
  EXPECT_FALSE(r->IsSubtreeComplete());  // its last child gone, its own flag decides
}

TEST(Completion, IncompleteChildInsertedAndRemovedMovesTheAncestors) {
  Events journal;
  Tree_NodePtr top = MakeBranch("top");
  Tree_NodePtr mid = AddBranch(top, "mid");
  Tree_NodePtr low = AddBranch(mid, "low");
  AddBranch(top, "other")->SetSingleNodeComplete(false);  // top is already incomplete
  Recorder on_mid("mid", &journal);
  Recorder on_low("low", &journal);
  mid->AddSubtreeCompleteNotifier(&on_mid);
  low->AddSubtreeCompleteNotifier(&on_low);

  Tree_NodePtr incomplete = MakeBranch("incomplete");
  incomplete->SetSingleNodeComplete(false);
  low->Add(incomplete);
  EXPECT_FALSE(mid->IsSubtreeComplete());
  EXPECT_EQ(0, Tree_NodeTestAccess::CompleteSons(*top));  // still drops by one
  EXPECT_EQ(Events{"Move mid 0"}, journal);

  journal.clear();
  low->Remove(incomplete);
  EXPECT_TRUE(mid->IsSubtreeComplete());
  EXPECT_EQ(1, Tree_NodeTestAccess::CompleteSons(*top));
  EXPECT_EQ(Events({"Notify low", "Move mid 1", "Notify mid"}), journal);

  journal.clear();  // complete children are counted on insert and remove
  Recorder on_top("top", &journal);
  top->AddSubtreeCompleteNotifier(&on_top);
  top->Remove(mid);
  EXPECT_EQ(Events{"Move top 0"}, journal);
}

TEST(Completion, DownwardsCompletesEveryChildlessNode) {
  Tree_NodePtr r = MakeBranch("r");
  Tree_NodePtr a = AddBranch(r, "a");
  AddBranch(a, "a1")->SetSingleNodeComplete(false);
  AddLeaf(a, "a2", "v")->SetSingleNodeComplete(false);
  AddBranch(r, "b")->SetSingleNodeComplete(false);
  a->SetSingleNodeComplete(false);  // has children: untouched by the walk

  r->SetSubtreeCompleteDownwards();
  EXPECT_TRUE(r->IsSubtreeComplete());
  EXPECT_TRUE(a->GetChildAt(1)->IsSingleNodeComplete());
  EXPECT_FALSE(a->IsSingleNodeComplete());
  EXPECT_EQ(2, Tree_NodeTestAccess::CompleteSons(*r));
}

TEST(Completion, ExplicitSubtreeCompleteTellsTheListWhateverTheFlagWas) {
  Events journal;
  Tree_NodePtr n = MakeBranch("n");
  Recorder on_n("n", &journal);
  n->AddSubtreeCompleteNotifier(&on_n);
  Tree_NodeTestAccess::SetSubtreeComplete(*n, true);
  EXPECT_EQ(Events{"Notify n"}, journal);
}

TEST(Completion, CallbacksMayChangeTheNodeTheyWatch) {
  // Notify runs under the list's mutex; the Add it makes tells the same list again.
  Events journal;
  Tree_NodePtr r = MakeBranch("r");
  Tree_NodePtr a = AddBranch(r, "a");
  Recorder on_a("a", &journal);
  on_a.on_notify = [&] { a->Add(MakeBranch("late")); };
  a->AddSubtreeCompleteNotifier(&on_a);
  a->SetSingleNodeComplete(false);
  a->SetSingleNodeComplete(true);
  EXPECT_EQ(Events({"Notify a", "Move a 1"}), journal);
  EXPECT_TRUE(r->IsSubtreeComplete());
  EXPECT_EQ(1, Tree_NodeTestAccess::CompleteSons(*r));

  // An incomplete child added on completion leaves every counter exact.
  on_a.on_notify = [&] {
    Tree_NodePtr pending = MakeBranch("pending");
    pending->SetSingleNodeComplete(false);
    a->Add(pending);
  };
  a->AddSubtreeCompleteNotifier(&on_a);
  a->GetChildAt(0)->SetSingleNodeComplete(false);
  a->GetChildAt(0)->SetSingleNodeComplete(true);
  EXPECT_FALSE(r->IsSubtreeComplete());
  EXPECT_EQ(0, Tree_NodeTestAccess::CompleteSons(*r));
  a->GetChildAt(1)->SetSingleNodeComplete(true);
  EXPECT_TRUE(r->IsSubtreeComplete());
  EXPECT_EQ(1, Tree_NodeTestAccess::CompleteSons(*r));
}
