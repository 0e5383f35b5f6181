#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "host/Qor_CRC.h"
#include "tests/serialize_test_support.h"

namespace {

// Bitwise CRC-32 (reflected 0xEDB88320), independent of the table the library uses.
std::uint32_t ReferenceCrc(std::string_view bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// A checksum as the letters its parent is fed: one per hexadecimal digit, lowest first.
std::string Letters(std::uint32_t checksum) {
  std::string letters;
  for (; checksum != 0; checksum >>= 4) letters += static_cast<char>('A' + (checksum & 15u));
  return letters;
}

unsigned int Cached(const Tree_NodePtr& node) {
  return Tree_NodeTestAccess::Checksum(*node);
}
bool Valid(const Tree_NodePtr& node) {
  return Tree_NodeTestAccess::ChecksumValid(*node);
}

}  // namespace

TEST(Checksum, AccumulatorIsStandardCrc32) {
  Qor_CRC crc;
  crc.AddString("123456789");
  EXPECT_EQ(0xCBF43926u, crc.Finish());
  EXPECT_EQ(0xCBF43926u, ReferenceCrc("123456789"));
  EXPECT_EQ("DKB", Letters(0x1A3));
}

TEST(Checksum, FeedsChildrenAsLettersThenBlankNameBlankValue) {
  Tree_NodePtr root = MakeBranch("r");
  Tree_NodePtr a = AddLeaf(root, "a", "1");
  Tree_NodePtr b = AddLeaf(root, "b", "2");
  Tree_NodePtr empty = AddBranch(root, "e");

  const std::uint32_t a_crc = ReferenceCrc(" a 1");
  const std::uint32_t b_crc = ReferenceCrc(" b 2");
  const std::uint32_t e_crc = ReferenceCrc(" e ");
  EXPECT_EQ(ReferenceCrc(Letters(a_crc) + Letters(b_crc) + Letters(e_crc) + " r "),
            root->GetChecksum());
  EXPECT_EQ(a_crc, a->GetChecksum(nullptr, true));
  EXPECT_EQ(e_crc, empty->GetChecksum(nullptr, true));

  // A value given to a branch is fed after its name.
  Tree_NodePtr valued = MakeBranch("r");
  delete valued->SetTreeValue(new Tree_Value("v", 0));
  EXPECT_EQ(ReferenceCrc(" r v"), valued->GetChecksum());
}

TEST(Checksum, IgnoreOrderSortsSiblingsByName) {
  Tree_NodePtr first = MakeBranch("p");
  AddLeaf(first, "b", "2");
  AddLeaf(first, "a", "1");
  AddLeaf(first, "a", "0");  // equal names keep their index order
  Tree_NodePtr second = MakeBranch("p");
  AddLeaf(second, "a", "1");
  AddLeaf(second, "a", "0");
  AddLeaf(second, "b", "2");

  const std::string sorted =
      Letters(ReferenceCrc(" a 1")) + Letters(ReferenceCrc(" a 0")) + Letters(ReferenceCrc(" b 2"));
  EXPECT_EQ(ReferenceCrc(sorted + " p "), first->GetChecksumIgnoreOrder());
  EXPECT_EQ(first->GetChecksumIgnoreOrder(), second->GetChecksumIgnoreOrder());

  // The order-sensitive checksum of the same two parents differs.
  Tree_NodePtr third = MakeBranch("p");
  AddLeaf(third, "b", "2");
  AddLeaf(third, "a", "1");
  AddLeaf(third, "a", "0");
  Tree_NodePtr fourth = MakeBranch("p");
  AddLeaf(fourth, "a", "1");
  AddLeaf(fourth, "a", "0");
  AddLeaf(fourth, "b", "2");
  EXPECT_NE(third->GetChecksum(), fourth->GetChecksum());
}

TEST(Checksum, IgnoreOrderAppliesAtEveryLevel) {
  Tree_NodePtr first = MakeBranch("t");
  Tree_NodePtr x1 = AddBranch(first, "x");
  AddLeaf(x1, "b", "2");
  AddLeaf(x1, "a", "1");
  AddBranch(first, "w");
  Tree_NodePtr second = MakeBranch("t");
  AddBranch(second, "w");
  Tree_NodePtr x2 = AddBranch(second, "x");
  AddLeaf(x2, "a", "1");
  AddLeaf(x2, "b", "2");
  EXPECT_EQ(first->GetChecksumIgnoreOrder(), second->GetChecksumIgnoreOrder());
}

TEST(Checksum, OneCacheServesBothVariants) {
  Tree_NodePtr root = MakeBranch("p");
  AddLeaf(root, "b", "2");
  AddLeaf(root, "a", "1");
  const unsigned long ordered = root->GetChecksum();
  EXPECT_EQ(ordered, root->GetChecksumIgnoreOrder());

  Tree_NodePtr other = MakeBranch("p");
  AddLeaf(other, "b", "2");
  AddLeaf(other, "a", "1");
  EXPECT_NE(ordered, other->GetChecksumIgnoreOrder());
}

TEST(Checksum, StaysCachedUntilTheFlagsOnThePathAreCleared) {
  Tree_NodePtr root = MakeBranch("r");
  Tree_NodePtr mid = AddBranch(root, "m");
  Tree_NodePtr leaf = AddLeaf(mid, "l", "old");
  Tree_NodePtr sibling = AddLeaf(root, "s", "1");
  const unsigned long before = root->GetChecksum();

  leaf->GetTreeValue()->SetValue("new");
  EXPECT_EQ(before, root->GetChecksum());
  root->SetChecksum(0, true, false);
  EXPECT_EQ(before, root->GetChecksum()) << "the cached children are reused";

  // Clearing the flags from the changed leaf up to the top recomputes only that path.
  sibling->SetChecksum(12345, false, true);  // the flag stays set, the field changes
  for (Tree_Node* node = leaf.get(); node != nullptr; node = node->GetParent()) {
    node->SetChecksum(0, true, false);
  }
  const unsigned long after = root->GetChecksum();
  EXPECT_EQ(ReferenceCrc(Letters(mid->GetChecksum(nullptr, true)) + Letters(12345) + " r "), after);
  EXPECT_EQ(ReferenceCrc(" l new"), leaf->GetChecksum(nullptr, true));
  EXPECT_EQ(12345u, Cached(sibling));
}

TEST(Checksum, CachedOnlyNeverComputes) {
  Tree_NodePtr root = MakeBranch("r");
  AddLeaf(root, "a", "1");
  EXPECT_EQ(0u, root->GetChecksum(nullptr, true)) << "a node's checksum starts at 0";
  EXPECT_EQ(0u, root->GetChecksumIgnoreOrder(nullptr, true));
  EXPECT_FALSE(Valid(root));

  root->SetChecksum(7, false, true);
  EXPECT_FALSE(Valid(root)) << "without set_validity the flag stays";
  EXPECT_EQ(7u, root->GetChecksum(nullptr, true));
  root->SetChecksum(9, true, true);
  EXPECT_TRUE(Valid(root));
  EXPECT_EQ(9u, root->GetChecksum());
  EXPECT_EQ(9u, root->GetChecksumIgnoreOrder());
}

TEST(Checksum, PatternLeavesOneSubtreeOut) {
  const auto build = [](bool with_a) {
    Tree_NodePtr root = MakeBranch("root");
    if (with_a) {
      Tree_NodePtr a = AddBranch(root, "a");
      AddLeaf(a, "b", "1");
    }
    AddLeaf(root, "c", "2");
    return root;
  };

  Tree_NodePtr root = build(true);
  EXPECT_EQ(build(false)->GetChecksum(), root->GetChecksum("root\\a"));
  Tree_NodePtr a = root->GetChildAt(0);
  EXPECT_EQ(0u, Cached(a));
  EXPECT_TRUE(Valid(a));
  EXPECT_FALSE(Valid(a->GetChildAt(0))) << "nothing below an excluded node is computed";

  // The grandchild alone: a keeps its name, loses b.
  Tree_NodePtr other = build(true);
  Tree_NodePtr without_b = build(true);
  without_b->GetChildAt(0)->Remove(0);
  EXPECT_EQ(without_b->GetChecksumIgnoreOrder(), other->GetChecksumIgnoreOrder("root\\a\\b"));

  // The starting node itself, and a pattern that starts elsewhere.
  EXPECT_EQ(0u, build(true)->GetChecksum("root"));
  EXPECT_EQ(build(true)->GetChecksum(), build(true)->GetChecksum("X\\a"));
  EXPECT_EQ(build(true)->GetChecksum(), build(true)->GetChecksum("roo"));
}

TEST(Checksum, ZeroChecksumChildContributesNothing) {
  Tree_NodePtr with_zero = MakeBranch("r");
  AddLeaf(with_zero, "a", "1")->SetChecksum(0, true, true);
  Tree_NodePtr childless = MakeBranch("r");
  EXPECT_EQ(childless->GetChecksum(), with_zero->GetChecksum());
}

TEST(Checksum, DeepChainNeedsNoRecursion) {
  constexpr int kDepth = 100000;
  Tree_NodePtr ordered = MakeChain(kDepth);
  Tree_NodePtr unordered = MakeChain(kDepth);
  const unsigned long checksum = ordered->GetChecksum();
  EXPECT_EQ(checksum, unordered->GetChecksumIgnoreOrder());

  // The bottom node is computed like any childless branch, and its parent folds it.
  Tree_NodePtr bottom = ordered;
  Tree_NodePtr above;
  while (bottom->GetChildCount() != 0) {
    above = bottom;
    bottom = bottom->GetChildAt(0);
  }
  EXPECT_EQ(ReferenceCrc(" n "), Cached(bottom));
  EXPECT_EQ(ReferenceCrc(Letters(ReferenceCrc(" n ")) + " n "), Cached(above));
}
