#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"

namespace {

constexpr int kThreads = 4;
constexpr int kCopiesPerThread = 250000;

std::atomic<int> g_probe_deaths{0};

struct Probe {
  ~Probe() { g_probe_deaths.fetch_add(1); }
};
using ProbePtr = ThreadAPI_AutoPtrThreadToggle<Probe>;

}  // namespace

TEST(Concurrency, ProtectedFamilyCountsExactlyAcrossThreads) {
  Tree_NodePtr root = MakeBranch("root");
  Tree_NodePtr child = AddBranch(root, "child");
  Tree_NodePtr grandchild = AddLeaf(child, "leaf", "1");
  int toggle = 1;
  root->ChangeTreeNodePtrProtection(child, toggle);
  const long before = child.UseCount();

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kCopiesPerThread; ++i) {
        Tree_NodePtr copy = child;
        Tree_NodePtr second;
        second = copy;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(before, child.UseCount());

  // The child dies exactly once: when the stored handle and ours are gone.
  root->Remove(child);
  child = Tree_NodePtr();
  EXPECT_EQ(nullptr, grandchild->GetParent());
}

TEST(Concurrency, LastReleaseOnAnyThreadDeletesOnce) {
  g_probe_deaths = 0;
  int toggle = 1;
  for (int round = 0; round < 20; ++round) {
    ProbePtr shared(new Probe);
    shared.SetToggle(&toggle);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&ready, held = shared] {
        ready.fetch_add(1);
        for (int i = 0; i < 5000; ++i) {
          ProbePtr copy = held;
        }
      });
    }
    while (ready.load() < kThreads) std::this_thread::yield();
    shared = ProbePtr();  // one of the threads now releases last
    for (std::thread& thread : threads) thread.join();
  }
  EXPECT_EQ(20, g_probe_deaths.load());
}

TEST(Concurrency, ReadersShareATreeBuiltWithProtectedFamilies) {
  Tree_NodePtr root = MakeBranch("root");
  for (int i = 0; i < 10; ++i) {
    Tree_NodePtr branch = root->GetOrCreateRelativeNode("cfg\\b" + std::to_string(i), root);
    branch->Add(MakeLeaf("port", std::to_string(8000 + i)));
  }
  int toggle = 1;
  Tree_Node::ChangeTreeNodePtrProtection(root, toggle);

  std::atomic<int> found{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        const std::string path = "cfg\\b" + std::to_string((i + t) % 10) + "\\port";
        Tree_NodePtr leaf = root->GetRelativeNode(path, root);
        Tree_NodePtr missing = root->GetRelativeNode("cfg\\nothing", root);
        if (leaf && !missing) found.fetch_add(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(kThreads * 20000, found.load());
  EXPECT_EQ(1, root.UseCount());
}
