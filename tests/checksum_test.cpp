#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/Qor_CRC.h"
#include "tests/test_support.h"

namespace {

std::uint32_t Crc(const std::string& bytes) {
  Qor_CRC crc;
  crc.AddString(bytes.c_str());
  return static_cast<std::uint32_t>(crc.Finish());
}

// The CRC-32 of `bytes` by zlib, independent of the library's accumulator.
std::uint32_t ZlibCrc(std::string_view bytes) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// The bytes of `text` before its first NUL byte.
std::string_view UpToNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
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

TEST(Checksum, EveryNameAndValueLengthGivesTheCrcOfItsBytes) {
  // Names of 1 to 20 bytes and values of 0 to 20 (or none): each side of the eight- and
  // sixteen-byte tails; some with a NUL byte at the start, the middle or the end, which ends
  // what is read. 441 leaves under one parent, so the parent's walk reaches far beyond the
  // children it fetches ahead.
  Tree_NodePtr parent = MakeBranch("p");
  Tree_NodePtr backwards = MakeBranch("p");
  std::vector<std::uint32_t> expected;
  std::vector<Tree_NodePtr> leaves;
  for (std::size_t name_length = 1; name_length <= 20; ++name_length) {
    for (int value_length = -1; value_length <= 20; ++value_length) {
      std::string name(name_length, 'n');
      for (std::size_t i = 0; i < name_length; ++i)
        name[i] = static_cast<char>('a' + (i * 7 + value_length + 1) % 26);
      std::string value;
      for (int i = 0; i < value_length; ++i)
        value.push_back(static_cast<char>('0' + (i * 3 + name_length) % 10));
      const std::size_t variant = (name_length + static_cast<std::size_t>(value_length + 1)) % 7;
      if (variant == 1 && !value.empty()) value[value.size() / 2] = '\0';
      if (variant == 2 && !value.empty()) value.back() = '\0';
      if (variant == 3 && name_length > 1) name[name_length - 1] = '\0';
      if (variant == 4 && name_length > 2) name[1] = '\0';
      Tree_Value* const node_value =
          value_length < 0 ? nullptr : new Tree_Value(RWCString(value.data(), value.size()), 0);
      Tree_NodePtr leaf(new Tree_Node(RWCString(name.data(), name.size()), node_value));
      parent->Add(leaf);
      leaves.push_back(leaf);
      backwards->Insert(
          Tree_NodePtr(new Tree_Node(
              RWCString(name.data(), name.size()),
              node_value == nullptr ? nullptr : new Tree_Value(node_value->Value(), 0))),
          0);
      expected.push_back(
          ZlibCrc(" " + std::string(UpToNul(name)) + " " + std::string(UpToNul(value))));
    }
  }
  std::string parent_bytes;
  for (std::uint32_t leaf : expected) parent_bytes += Letters(leaf);
  EXPECT_EQ(ZlibCrc(parent_bytes + " p "), parent->GetChecksum());
  for (std::size_t i = 0; i < leaves.size(); ++i)
    ASSERT_EQ(expected[i], leaves[i]->GetChecksum(nullptr, true)) << "leaf " << i;
  // In reverse insertion order, the order-insensitive variant visits them sorted by name.
  std::vector<std::pair<std::string, std::uint32_t>> by_name;
  for (std::size_t i = 0; i < leaves.size(); ++i)
    by_name.emplace_back(leaves[i]->KeyName().str(), expected[i]);
  std::stable_sort(by_name.begin(), by_name.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string sorted_bytes;
  for (const auto& [name, crc] : by_name) sorted_bytes += Letters(crc);
  EXPECT_EQ(ZlibCrc(sorted_bytes + " p "), backwards->GetChecksumIgnoreOrder());
}
