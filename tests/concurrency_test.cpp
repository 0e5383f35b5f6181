#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"

namespace {

constexpr int kThreads = 4;

std::atomic<int> g_probe_deaths{0};
struct Probe {
  ~Probe() { g_probe_deaths.fetch_add(1); }
};
using ProbePtr = ThreadAPI_AutoPtrThreadToggle<Probe>;

template <class Body>
void RunThreads(Body body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(body, t);
  for (std::thread& thread : threads) thread.join();
}

}  // namespace

// Unprotected families are copied by one thread at a time by contract; these tests run the
// protected kind only.
TEST(Concurrency, ProtectedFamilyCountsExactlyAcrossThreads) {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr child = AddBranch(root, "child");
  Tree_NodePtr grandchild = AddLeaf(child, "leaf", "1");
  int toggle = 1;
  Tree_Node::ChangeTreeNodePtrProtection(child, toggle);
  const long before = child.UseCount();
  RunThreads([&](int) {
    for (int i = 0; i < 250000; ++i) {
      Tree_NodePtr copy = child;
      Tree_NodePtr second;
      second = copy;
    }
  });
  EXPECT_EQ(before, child.UseCount());
  root->Remove(child);
  child = Tree_NodePtr();
  EXPECT_EQ(nullptr, grandchild->GetParent());  // the child is gone
}

TEST(Concurrency, LastReleaseOnAnyThreadDeletesOnce) {
  g_probe_deaths = 0;
  int toggle = 1;
  for (int round = 0; round < 20; ++round) {
    ProbePtr shared(new Probe);
    shared.SetToggle(&toggle);
    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&started, held = shared] {
        started.fetch_add(1);
        for (int i = 0; i < 5000; ++i) ProbePtr copy = held;
      });
    }
    while (started.load() < kThreads) std::this_thread::yield();
    shared = ProbePtr();  // one of the threads now releases last
    for (std::thread& thread : threads) thread.join();
  }
  EXPECT_EQ(20, g_probe_deaths.load());
}

TEST(Concurrency, ReadersShareATreeBuiltWithProtectedFamilies) {
  Tree_NodePtr root = MakeBranch("root");
  for (int i = 0; i < 10; ++i) {
    root->GetOrCreateRelativeNode("cfg\\b" + std::to_string(i), root)->Add(MakeLeaf("port", "1"));
  }
  int toggle = 1;
  Tree_Node::ChangeTreeNodePtrProtection(root, toggle);
  std::atomic<int> found{0};
  RunThreads([&](int t) {
    for (int i = 0; i < 20000; ++i) {
      Tree_NodePtr leaf =
          root->GetRelativeNode("cfg\\b" + std::to_string((i + t) % 10) + "\\port", root);
      if (leaf && !root->GetRelativeNode("cfg\\none", root)) found.fetch_add(1);
    }
  });
  EXPECT_EQ(kThreads * 20000, found.load());
  EXPECT_EQ(1, root.UseCount());
}
