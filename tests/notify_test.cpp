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

TEST(NotifyList, NotifyAllCallsEachEntryOnceInOrderThenEmpties) {
  Events journal;
  Named a("a", &journal);
  Named b("b", &journal);
  Tree_NotifyList list;
  for (Named* cb : {&a, &b, &a, &b}) list.Add(cb);
  list.Remove(&a);       // the first entry equal to it only
  list.Remove(nullptr);  // never added: nothing
  list.NotifyAll();
  EXPECT_EQ(Events({"Notify b", "Notify a", "Notify b"}), journal);
  EXPECT_TRUE(list.UnprotectedIsEmpty());
}

TEST(NotifyList, MightNeedMoveWalksASnapshotAndKeepsTheEntries) {
  Events journal;
  Named a("a", &journal);
  Named b("b", &journal);
  Tree_NotifyList list;
  list.Add(&a);
  list.Add(&b);
  a.list_to_leave = &list;  // a removes itself during the walk, re-entering the mutex
  Tree_NodePtr node = MakeBranch("n");
  list.SendMightNeedMove(node);
  list.SendMightNeedMove(node);
  EXPECT_EQ(Events({"Move a n", "Move b n", "Move b n"}), journal);
}

TEST(NotifyList, CopiesAreIndependent) {
  Events journal;
  Named a("a", &journal);
  Named b("b", &journal);
  Tree_NotifyList list;
  list.Add(&a);
  Tree_NotifyList copy(list);
  copy.Add(&b);
  list.NotifyAll();
  copy.NotifyAll();
  EXPECT_EQ(Events({"Notify a", "Notify a", "Notify b"}), journal);
}

TEST(NotifyList, HostLockIsReentrantAndExcludesOtherThreads) {
  Events journal;
  Named a("a", &journal);
  Tree_NodePtr node = MakeBranch("n");
  node->LockNotifiersList();
  node->LockNotifiersList();
  node->AddSubtreeCompleteNotifier(&a);  // the same thread acquires a third time

  std::atomic<bool> removed{false};
  std::thread other([&] {
    node->RemoveSubtreeCompleteNotifier(&a);
    removed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(removed.load());  // blocked on the host's lock
  node->ReleaseNotifiersList();
  node->ReleaseNotifiersList();
  other.join();
  node->SetSingleNodeComplete(false);
  node->SetSingleNodeComplete(true);
  EXPECT_TRUE(journal.empty());
}
