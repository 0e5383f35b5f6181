#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"

namespace {

using Events = std::vector<std::string>;

class Named : public Tree_NotifyList::Callback {
 public:
  Named(std::string name, Events* journal) : m_name(std::move(name)), m_journal(journal) {}
  void Notify() override { m_journal->push_back("Notify " + m_name); }
  void MightNeedMove(const Tree_NodePtr& node) override {
    m_journal->push_back("Move " + m_name + " " + node->GetKeyName().str());
    if (list_to_leave != nullptr) list_to_leave->Remove(this);
  }
  Tree_NotifyList* list_to_leave = nullptr;

 private:
  std::string m_name;
  Events* m_journal;
};

}  // namespace

TEST(NotifyList, NotifyAllCallsEveryEntryOnceInOrderThenEmpties) {
  Events journal;
  Named a("a", &journal);
  Named b("b", &journal);
  Tree_NotifyList list;
  list.Add(&a);
  list.Add(&b);
  list.Add(&a);
  list.NotifyAll();
  EXPECT_EQ(Events({"Notify a", "Notify b", "Notify a"}), journal);
  EXPECT_TRUE(list.UnprotectedIsEmpty());
  journal.clear();
  list.NotifyAll();
  EXPECT_TRUE(journal.empty());
}

TEST(NotifyList, RemoveTakesOutOnlyTheFirstEqualEntry) {
  Events journal;
  Named a("a", &journal);
  Named b("b", &journal);
  Named stranger("stranger", &journal);
  Tree_NotifyList list;
  list.Add(&a);
  list.Add(&b);
  list.Add(&a);
  list.Remove(&a);
  list.Remove(&stranger);
  list.Add(nullptr);  // ignored: every entry is called through
  EXPECT_EQ(2u, list.Size());
  list.NotifyAll();
  EXPECT_EQ(Events({"Notify b", "Notify a"}), journal);
}

TEST(NotifyList, MightNeedMoveWalksASnapshotAndKeepsTheEntries) {
  Events journal;
  Named a("a", &journal);
  Named b("b", &journal);
  Named c("c", &journal);
  Tree_NotifyList list;
  list.Add(&a);
  list.Add(&b);
  list.Add(&c);
  b.list_to_leave = &list;  // b removes itself during the walk, re-entering the mutex
  Tree_NodePtr node = MakeBranch("n");
  list.SendMightNeedMove(node);
  EXPECT_EQ(Events({"Move a n", "Move b n", "Move c n"}), journal);
  journal.clear();
  list.SendMightNeedMove(node);
  EXPECT_EQ(Events({"Move a n", "Move c n"}), journal);
  EXPECT_EQ(2u, list.Size());
}

TEST(NotifyList, CopiesAreIndependent) {
  Events journal;
  Named a("a", &journal);
  Named b("b", &journal);
  Tree_NotifyList list;
  list.Add(&a);
  Tree_NotifyList copy(list);
  copy.Add(&b);
  Tree_NotifyList assigned;
  assigned = copy;
  Tree_NotifyList& same = assigned;
  assigned = same;  // self-assignment keeps the entries
  list.NotifyAll();
  EXPECT_EQ(Events{"Notify a"}, journal);
  journal.clear();
  assigned.NotifyAll();
  EXPECT_EQ(Events({"Notify a", "Notify b"}), journal);
  EXPECT_EQ(2u, copy.Size());
}

TEST(NotifyList, HostLockIsReentrantAndExcludesOtherThreads) {
  Events journal;
  Named a("a", &journal);
  Tree_NodePtr node = MakeBranch("n");
  node->LockNotifiersList();
  node->LockNotifiersList();
  node->AddSubtreeCompleteNotifier(&a);  // same thread: acquires a third time

  std::atomic<bool> added{false};
  std::thread other([&] {
    node->RemoveSubtreeCompleteNotifier(&a);
    added = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(added.load());  // blocked on the host's lock
  node->ReleaseNotifiersList();
  node->ReleaseNotifiersList();
  other.join();
  EXPECT_TRUE(added.load());
  node->SetSingleNodeComplete(false);
  node->SetSingleNodeComplete(true);
  EXPECT_TRUE(journal.empty());  // removed by the other thread
}
