#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"

namespace {

constexpr int kThreads = 4;

template <class Body>
void RunThreads(Body body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(body, t);
  for (std::thread& thread : threads) thread.join();
}

}  // namespace

// Unprotected families are copied by one thread at a time by contract; only the protected
// kind is run here.
TEST(Concurrency, ProtectedFamilyCountsExactlyAndDiesOnceOnWhicheverThreadReleasesLast) {
  for (int round = 0; round < 20; ++round) {
    Tree_NodePtr root = MakeBranch("root");
    Tree_NodePtr grandchild = AddLeaf(AddBranch(root, "child"), "leaf", "1");
    Tree_NodePtr child = root->GetRelativeNode("child", root);
    int toggle = 1;
    Tree_Node::ChangeTreeNodePtrProtection(child, toggle);  // reaches the stored copy too
    RunThreads([held = child](int) {
      for (int i = 0; i < 20000; ++i) {
        Tree_NodePtr copy = held;
        Tree_NodePtr second;
        second = copy;
      }
    });
    EXPECT_EQ(2, child.UseCount());  // ours and the parent's

    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&started, held = child] {
        started.fetch_add(1);
        for (int i = 0; i < 2000; ++i) Tree_NodePtr copy = held;
      });
    }
    while (started.load() < kThreads) std::this_thread::yield();
    root->Remove(child);
    child = Tree_NodePtr();  // a worker now holds the last reference
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(nullptr, grandchild->GetParent());  // the child died, once
  }
}

// The first lookups in a wide node build its name index, and walks through small nodes note
// where each child led; threads that look up at once all find every child, in both kinds.
TEST(Concurrency, ThreadsLookingUpAtOnceFindEveryChildOfWideAndSmallNodes) {
  for (int round = 0; round < 10; ++round) {
    const Tree_NodePtr root = MakeBranch("root");
    for (int i = 0; i < 200; ++i) AddLeaf(root, "k" + std::to_string(i), std::to_string(i));
    // Three levels of three children each under "small": s0..s2 \ s0..s2 \ s0..s2 = "xyz".
    const Tree_NodePtr small = AddBranch(root, "small");
    std::vector<Tree_NodePtr> level{small};
    for (int depth = 0; depth < 3; ++depth) {
      std::vector<Tree_NodePtr> next;
      for (const Tree_NodePtr& node : level) {
        for (int i = 0; i < 3; ++i) {
          const std::string name = "s" + std::to_string(i);
          next.push_back(depth == 2 ? AddLeaf(node, name, node->KeyName() + name.c_str())
                                    : AddBranch(node, name));
        }
      }
      level = std::move(next);
    }
    std::atomic<int> misses{0};
    RunThreads([&](int t) {
      for (int i = 0; i < 200; ++i) {
        const int k = (i + t * 50) % 200;
        if (root->GetValue("k" + std::to_string(k), root) != std::to_string(k)) ++misses;
        const std::string a = std::to_string(k % 3), b = std::to_string(k / 3 % 3),
                          c = std::to_string(k / 9 % 3);
        if (root->GetValue("small\\s" + a + "\\s" + b + "\\s" + c, root) != "s" + b + "s" + c) {
          ++misses;
        }
      }
    });
    EXPECT_EQ(0, misses.load());
  }
}
