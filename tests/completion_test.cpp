#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"

namespace {

using Events = std::vector<std::string>;

// Journals "Notify <name>" and "Move <name> <node> <its complete sons>".
class Recorder : public Tree_NotifyList::Callback {
 public:
  Recorder(std::string name, Events* journal) : m_name(std::move(name)), m_journal(journal) {}
  void Notify() override {
    m_journal->push_back("Notify " + m_name);
    if (on_notify) on_notify();
  }
  void MightNeedMove(const Tree_NodePtr& node) override {
    m_journal->push_back("Move " + m_name + " " + node->GetKeyName().str() + " " +
                         std::to_string(Tree_NodeTestAccess::CompleteSons(*node)));
    if (list_to_leave != nullptr) list_to_leave->Remove(this);
  }
  std::function<void()> on_notify;
  Tree_NotifyList* list_to_leave = nullptr;

 private:
  std::string m_name;
  Events* m_journal;
};

}  // namespace

TEST(NotifyList, NotifyOnceEachInOrderThenEmptyMightNeedMoveOnASnapshot) {
  Events journal;
  Recorder a("a", &journal);
  Recorder b("b", &journal);
  Tree_NotifyList list;
  for (Recorder* cb : {&a, &b, &a, &b}) list.Add(cb);
  list.Remove(&a);             // the first entry equal to it only
  Tree_NotifyList copy(list);  // deep: its own entries and mutex
  a.list_to_leave = &list;     // a leaves during the walk, re-entering the mutex
  list.SendMightNeedMove(MakeBranch("n"));
  list.NotifyAll();
  EXPECT_EQ(Events({"Move b n 0", "Move a n 0", "Move b n 0", "Notify b", "Notify b"}), journal);
  EXPECT_TRUE(list.UnprotectedIsEmpty());
  EXPECT_EQ(3u, copy.Size());
}

TEST(NotifyList, HostLockIsReentrantForItsOwner) {
  Tree_NodePtr node = MakeBranch("n");
  node->LockNotifiersList();
  node->LockNotifiersList();
  node->AddSubtreeCompleteNotifier(nullptr);  // acquires a third time (and ignores null)
  node->ReleaseNotifiersList();
  node->ReleaseNotifiersList();
  std::thread([&] {
    node->LockNotifiersList();
    node->ReleaseNotifiersList();
  }).join();  // free for other threads again
}

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
  EXPECT_EQ(Events{"Move r r 1"}, journal);

  journal.clear();
  a->SetSingleNodeComplete(true);
  EXPECT_EQ(Events({"Notify a", "Move r r 2", "Notify r"}), journal);
  journal.clear();  // each Notify emptied its list: nobody hears the next round
  a->SetSingleNodeComplete(false);
  a->SetSingleNodeComplete(true);
  EXPECT_TRUE(journal.empty());
  EXPECT_TRUE(r->IsSubtreeComplete());

  r->SetSingleNodeComplete(false);  // ignored while r has children...
  EXPECT_TRUE(r->IsSubtreeComplete());
  r->Remove(0);
  r->Remove(0);
  EXPECT_FALSE(r->IsSubtreeComplete());  // ...and decides once they are gone
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
  EXPECT_EQ(Events{"Move mid mid 0"}, journal);

  journal.clear();
  low->Remove(incomplete);
  EXPECT_EQ(1, Tree_NodeTestAccess::CompleteSons(*top));
  EXPECT_EQ(Events({"Notify low", "Move mid mid 1", "Notify mid"}), journal);
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
  EXPECT_EQ(Events({"Notify a", "Move a a 1"}), journal);
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
  EXPECT_EQ(1, Tree_NodeTestAccess::CompleteSons(*r));
}
