#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/serialize_test_support.h"

namespace {

IdVec* Decode(const std::string& block, int size, bool full_info, RWCString* path = nullptr,
              int* error_offset = nullptr) {
  RWCString ignored;
  return Tree_Node::GetIdNodeInfoVecFromSerialized(block.data(), size, full_info,
                                                   path != nullptr ? *path : ignored, error_offset);
}

// The offset at which decoding `block` fails, or -1 when it decodes.
int ErrorOffset(const std::string& block, bool full_info) {
  int offset = -1;
  const OwnedIdVec vec(Decode(block, static_cast<int>(block.size()), full_info, nullptr, &offset));
  return vec == nullptr ? offset : -1;
}

void ExpectSameRecords(const IdVec& expected, const IdVec& actual, bool full_info) {
  ASSERT_EQ(expected.entries(), actual.entries());
  for (std::size_t i = 0; i < expected.entries(); ++i) {
    const Tree_IdNodeInfo& want = *expected[i];
    const Tree_IdNodeInfo& got = *actual[i];
    SCOPED_TRACE("record " + std::to_string(i));
    EXPECT_EQ(want.GetId(), got.GetId());
    EXPECT_EQ(want.GetParentId(), got.GetParentId());
    EXPECT_EQ(want.GetPath().str(), got.GetPath().str());
    EXPECT_EQ(want.GetValue().str(), got.GetValue().str());
    EXPECT_EQ(want.GetValue().isNull() ? 0 : want.IsChange(), got.IsChange());
    if (full_info) {
      EXPECT_EQ(want.GetCRC(), got.GetCRC());
      EXPECT_EQ(want.GetIsSingleNodeComplete(), got.GetIsSingleNodeComplete());
    }
  }
}

// A tree with values, change flags, a NUL byte, an empty value, an incomplete node and
// computed checksums.
Tree_NodePtr MakeSample() {
  Tree_NodePtr top = MakeBranch("top");
  Tree_NodePtr a = AddBranch(top, "a");
  AddLeaf(a, "x", "1", 1);
  AddLeaf(a, "nul", RWCString(std::string("p\0q", 3)), -5);
  Tree_NodePtr b = AddBranch(a, "b");
  AddLeaf(b, "deep", "d");
  AddLeaf(top, "empty", "", 1);  // written without value, so its change flag comes back 0
  AddBranch(top, "c")->SetSingleNodeComplete(false);
  top->GetChecksum();
  return top;
}

// A vector of records named n, with the given ids and parent ids and no values.
IdVec* Records(std::initializer_list<std::pair<int, int>> ids_and_parents) {
  auto vec = new IdVec;
  for (const auto& [id, parent] : ids_and_parents) {
    auto record = new Tree_IdNodeInfo;
    record->SetId(id);
    record->SetParentId(parent);
    record->SetPath(RWCString("n"));
    vec->insert(record);
  }
  return vec;
}

}  // namespace

TEST(ByteBlockDecoder, RoundTripRestoresEveryField) {
  Tree_NodePtr top = MakeSample();
  for (const bool full_info : {false, true}) {
    SCOPED_TRACE(full_info ? "full info" : "short");
    const std::string block = Encode(Tree_Node::GetIdNodeVecFromTree(top), full_info, "r\\s");
    RWCString path = "untouched";
    OwnedIdVec decoded(Decode(block, static_cast<int>(block.size()), full_info, &path, nullptr));
    ASSERT_NE(nullptr, decoded);
    EXPECT_EQ(full_info ? "r\\s" : "", path.str());
    const OwnedIdVec expected(Tree_Node::GetIdNodeVecFromTree(top));
    ExpectSameRecords(*expected, *decoded, full_info);
    EXPECT_EQ(0, (*decoded)[6]->IsChange()) << "the empty value carried no change flag";

    // Decoded records write the same block again.
    EXPECT_EQ(block, Encode(decoded.release(), full_info, path));
  }
}

TEST(ByteBlockDecoder, PartialVectorsDecode) {
  Tree_NodePtr top = MakeSample();
  const struct {
    int depth_left;
    int max_sons;
    const char* stop_path;
  } cases[] = {{0, 10, ""}, {1, 10, ""}, {5, 1, ""}, {5, 10, "top\\a"}, {-1, 10, ""}};
  for (const auto& c : cases) {
    for (const bool full_info : {false, true}) {
      SCOPED_TRACE(std::to_string(c.depth_left) + " " + std::to_string(c.max_sons) + " " +
                   c.stop_path + (full_info ? " full" : ""));
      const auto make = [&] {
        return Tree_Node::GetPartialIdNodeVecFromTree(top, c.depth_left, c.max_sons, c.stop_path);
      };
      const std::string block = Encode(make(), full_info, "v");
      const OwnedIdVec decoded(Decode(block, static_cast<int>(block.size()), full_info));
      ASSERT_NE(nullptr, decoded);
      const OwnedIdVec expected(make());
      ExpectSameRecords(*expected, *decoded, full_info);
    }
  }
}

TEST(ByteBlockDecoder, RejectsEveryTruncatedPrefix) {
  Tree_NodePtr top = MakeSample();
  LogCapture quiet(3);
  for (const bool full_info : {false, true}) {
    SCOPED_TRACE(full_info ? "full info" : "short");
    const std::string block = Encode(Tree_Node::GetIdNodeVecFromTree(top), full_info, "vp");
    const int size = static_cast<int>(block.size());

    // The prefixes that end exactly after the header or after a record are blocks of their
    // own: the first records of the tree.
    std::set<int> record_ends;
    const OwnedIdVec records(Tree_Node::GetIdNodeVecFromTree(top));
    int end = full_info ? 4 + 2 : 0;
    record_ends.insert(end);
    for (const Tree_IdNodeInfo* record : *records) {
      const int value_length = static_cast<int>(record->GetValue().length());
      end += 16 + static_cast<int>(record->GetPath().length()) + value_length +
             (value_length > 0 ? 4 : 0) + (full_info ? 8 : 0);
      record_ends.insert(end);
    }
    ASSERT_EQ(size, end);

    for (int len = 0; len < size; ++len) {
      int offset = -1;
      const OwnedIdVec decoded(Decode(block, len, full_info, nullptr, &offset));
      if (record_ends.count(len) != 0) {
        ASSERT_NE(nullptr, decoded) << len;
        EXPECT_EQ(std::distance(record_ends.begin(), record_ends.find(len)),
                  static_cast<long>(decoded->entries()));
      } else {
        EXPECT_EQ(nullptr, decoded) << len;
        // The field that broke lies in the header or record that the prefix cuts.
        const auto next_end = record_ends.upper_bound(len);
        const int cut_starts = next_end == record_ends.begin() ? 0 : *std::prev(next_end);
        EXPECT_GE(offset, cut_starts) << len;
        EXPECT_LE(offset, len) << len;
      }
    }
  }
}

TEST(ByteBlockDecoder, NamesTheFieldThatBroke) {
  LogCapture quiet(3);
  // Header: a length past the end, a negative length, a missing length.
  EXPECT_EQ(0, ErrorOffset(BigEndian(2) + "a", true));
  EXPECT_EQ(0, ErrorOffset(BigEndian(-1) + "a", true));
  EXPECT_EQ(0, ErrorOffset("", true));
  EXPECT_EQ(-1, ErrorOffset("", false)) << "no header, no records: an empty vector";

  const std::string first = BigEndian(0) + BigEndian(-1) + Field("n") + BigEndian(0);  // 17
  EXPECT_EQ(17, ErrorOffset(first + BigEndian(2) + BigEndian(0) + Field("n") + BigEndian(0), false))
      << "ids run 0, 1, 2...";
  EXPECT_EQ(21, ErrorOffset(first + BigEndian(1) + BigEndian(1) + Field("n") + BigEndian(0), false))
      << "a record cannot be its own parent";
  EXPECT_EQ(21,
            ErrorOffset(first + BigEndian(1) + BigEndian(-1) + Field("n") + BigEndian(0), false))
      << "only the first record is a top";
  EXPECT_EQ(4, ErrorOffset(BigEndian(0) + BigEndian(0) + Field("n") + BigEndian(0), false));
  EXPECT_EQ(8, ErrorOffset(BigEndian(0) + BigEndian(-1) + BigEndian(-3) + BigEndian(0), false));
  EXPECT_EQ(8,
            ErrorOffset(BigEndian(0) + BigEndian(-1) + BigEndian(9) + "n" + BigEndian(0), false));
  EXPECT_EQ(13,
            ErrorOffset(BigEndian(0) + BigEndian(-1) + Field("n") + BigEndian(5) + "abcd", false));
  EXPECT_EQ(19, ErrorOffset(BigEndian(0) + BigEndian(-1) + Field("n") + Field("ab"), false))
      << "a value needs its change flag";

  // Full info: the completion flag is 0 or 1.
  const std::string full_first = BigEndian(0) + BigEndian(-1) + BigEndian(7);
  EXPECT_EQ(-1,
            ErrorOffset(Field("") + full_first + BigEndian(1) + Field("n") + BigEndian(0), true));
  EXPECT_EQ(16,
            ErrorOffset(Field("") + full_first + BigEndian(2) + Field("n") + BigEndian(0), true));
}

TEST(ByteBlockDecoder, RecordsMustBeInPreOrder) {
  LogCapture quiet(3);
  // 0 -> 1 -> 2, then 3 under 1 again: 1 is still open (an ancestor of 2).
  EXPECT_EQ(-1,
            ErrorOffset(Encode(Records({{0, -1}, {1, 0}, {2, 1}, {3, 1}, {4, 0}}), false), false));
  // 3 under 1 after 2 closed it: not pre-order, though 1 comes earlier.
  EXPECT_EQ(3 * 17 + 4,
            ErrorOffset(Encode(Records({{0, -1}, {1, 0}, {2, 0}, {3, 1}}), false), false));
  EXPECT_EQ(2 * 17 + 4, ErrorOffset(Encode(Records({{0, -1}, {1, 0}, {2, 5}}), false), false));
}

TEST(ByteBlockDecoder, BadArgumentsAreMalformed) {
  LogCapture log;
  RWCString path = "kept";
  int offset = -1;
  EXPECT_EQ(nullptr, Tree_Node::GetIdNodeInfoVecFromSerialized(nullptr, 0, false, path, &offset));
  EXPECT_EQ(0, offset);
  offset = -1;
  EXPECT_EQ(nullptr, Tree_Node::GetIdNodeInfoVecFromSerialized("abcd", -4, false, path, &offset));
  EXPECT_EQ(0, offset);
  EXPECT_EQ(nullptr, Tree_Node::GetIdNodeInfoVecFromSerialized(BigEndian(9).data(), 4, true, path));
  EXPECT_EQ("kept", path.str()) << "a failed decoding leaves the path alone";
  EXPECT_EQ(
      3, log.Count("GetIdNodeInfoVecFromSerialized(const char * buf, int size, bool full_info) : "
                   "malformed block at offset 0, return NULL\n",
                   3));
}

TEST(ByteBlockDecoder, DeepChainDecodes) {
  constexpr int kDepth = 100000;
  Tree_NodePtr chain = MakeChain(kDepth);
  const std::string block = Encode(Tree_Node::GetIdNodeVecFromTree(chain), true, "top");
  const OwnedIdVec decoded(Decode(block, static_cast<int>(block.size()), true));
  ASSERT_NE(nullptr, decoded);
  EXPECT_EQ(static_cast<std::size_t>(kDepth), decoded->entries());
}
