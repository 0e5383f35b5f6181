#include <gtest/gtest.h>

#include <cstdint>

#include "host/Qor_CRC.h"
#include "tests/test_support.h"

namespace {

std::uint32_t Crc(const std::string& bytes) {
  Qor_CRC crc;
  crc.AddString(bytes.c_str());
  return static_cast<std::uint32_t>(crc.Finish());
}

// A checksum as the letters its parent is fed: one per hexadecimal digit, lowest first.
std::string Letters(std::uint32_t checksum) {
  std::string letters;
  for (; checksum != 0; checksum >>= 4) letters += static_cast<char>('A' + (checksum & 15u));
  return letters;
}

// p holds the branch a, holding the leaves x and y=2, then the leaf c=3: every child list in
// name order, or backwards when `reversed`.
Tree_NodePtr MakeP(bool reversed, const char* x_value = "1") {
  Tree_NodePtr p = MakeBranch("p");
  Tree_NodePtr a = AddBranch(p, "a");
  AddLeaf(a, "x", x_value);
  a->Insert(MakeLeaf("y", "2"), reversed ? 0 : 1);
  p->Insert(MakeLeaf("c", "3"), reversed ? 0 : 1);
  return p;
}

}  // namespace

TEST(Checksum, FoldsChildrenAsHexLettersThenBlankNameBlankValue) {
  Tree_NodePtr root = MakeBranch("r");
  AddLeaf(root, "a", "1");
  delete root->SetTreeValue(new Tree_Value("v", 0));
  EXPECT_EQ(Crc(Letters(Crc(" a 1")) + " r v"), root->GetChecksum());

  // A name or value is read up to its first NUL byte, and a long one is read whole.
  const std::string long_name(200, 'n');
  const std::string long_value(300, 'v');
  Tree_NodePtr odd = MakeBranch("o");
  odd->Add(Tree_NodePtr(new Tree_Node("z", new Tree_Value(RWCString("ab\0cd", 5), 0))));
  AddLeaf(odd, long_name.c_str(), long_value.c_str());
  EXPECT_EQ(Crc(Letters(Crc(" z ab")) + Letters(Crc(" " + long_name + " " + long_value)) + " o "),
            odd->GetChecksum());

  // A child whose checksum has fewer than eight hexadecimal digits is fed as fewer letters.
  std::string name = "k";
  while (Crc(" " + name + " v") >= 0x10000000u) name += 'k';
  Tree_NodePtr small = MakeBranch("s");
  AddLeaf(small, name.c_str(), "v");
  EXPECT_EQ(Crc(Letters(Crc(" " + name + " v")) + " s "), small->GetChecksum());
}

TEST(Checksum, IgnoreOrderSortsEveryLevelAndSharesTheCache) {
  const unsigned long sorted = MakeP(false)->GetChecksum();
  EXPECT_EQ(sorted, MakeP(true)->GetChecksumIgnoreOrder());
  Tree_NodePtr reversed = MakeP(true);
  const unsigned long ordered = reversed->GetChecksum();
  EXPECT_NE(sorted, ordered);
  EXPECT_EQ(ordered, reversed->GetChecksumIgnoreOrder()) << "one cache serves both variants";
}

TEST(Checksum, StaysCachedUntilTheFlagsOnThePathAreCleared) {
  Tree_NodePtr root = MakeP(false);
  EXPECT_EQ(0u, root->GetChecksum(nullptr, true)) << "cached only never computes";
  EXPECT_FALSE(Tree_NodeTestAccess::ChecksumValid(*root));
  const unsigned long before = root->GetChecksum();

  Tree_NodePtr leaf = root->GetChildAt(0)->GetChildAt(0);
  leaf->GetTreeValue()->SetValue("9");
  root->SetChecksum(0, true, false);
  EXPECT_EQ(before, root->GetChecksum()) << "the cached children are reused";
  for (Tree_Node* node = leaf.get(); node != nullptr; node = node->GetParent())
    node->SetChecksum(0, true, false);
  EXPECT_EQ(MakeP(false, "9")->GetChecksum(), root->GetChecksum());
  root->SetChecksum(7, true, true);
  EXPECT_EQ(7u, root->GetChecksumIgnoreOrder());
}

TEST(Checksum, PatternLeavesOneSubtreeOut) {
  Tree_NodePtr root = MakeP(false);
  Tree_NodePtr without_a = MakeP(false);
  without_a->Remove(0);
  EXPECT_EQ(without_a->GetChecksum(), root->GetChecksum("p\\a"));
  EXPECT_EQ(0u, root->GetChildAt(0)->GetChecksum(nullptr, true));
  EXPECT_TRUE(Tree_NodeTestAccess::ChecksumValid(*root->GetChildAt(0)));
  EXPECT_EQ(0u, MakeP(false)->GetChecksum("p"));
  EXPECT_EQ(MakeP(false)->GetChecksum(), MakeP(false)->GetChecksum("X\\a"));
}

TEST(Checksum, DeepChainNeedsNoRecursion) {
  constexpr int kDepth = 100000;
  std::uint32_t expected = 0;  // each n folds the one below it
  for (int i = 0; i < kDepth; ++i) expected = Crc(Letters(expected) + " n ");
  EXPECT_EQ(expected, MakeChain(kDepth)->GetChecksum());
  EXPECT_EQ(expected, MakeChain(kDepth)->GetChecksumIgnoreOrder());
}
