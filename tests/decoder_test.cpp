#include <gtest/gtest.h>

#include <string_view>
#include <tuple>

#include "tests/test_support.h"

using namespace std::string_literals;

namespace {

IdVec* Decode(std::string_view block, bool full_info, int* offset = nullptr,
              RWCString* path = nullptr) {
  RWCString ignored;
  return Tree_Node::GetIdNodeInfoVecFromSerialized(block.data(), static_cast<int>(block.size()),
                                                   full_info, path ? *path : ignored, offset);
}

// A record named n without value.
std::string Record(int id, int parent_id) {
  return BigEndian(id) + BigEndian(parent_id) + Field("n") + BigEndian(0);
}

}  // namespace

TEST(ByteBlockDecoder, RestoresEveryFieldAndRejectsEveryTruncatedPrefix) {
  LogCapture quiet(3);
  // Values with change flags, a NUL byte and an empty value, an incomplete node, checksums.
  Tree_NodePtr top = MakeBranch("top");
  Tree_NodePtr a = AddBranch(top, "a");
  AddLeaf(a, "x", "1", 1);
  AddLeaf(a, "nul", RWCString("p\0q"s), -5);
  AddLeaf(AddBranch(a, "b"), "deep", "d");
  AddLeaf(top, "empty", "", 1);  // written without value, so its change flag comes back 0
  AddBranch(top, "c")->SetSingleNodeComplete(false);
  top->GetChecksum();
  for (const bool full_info : {false, true}) {
    SCOPED_TRACE(full_info);
    const std::string block = Encode(Tree_Node::GetIdNodeVecFromTree(top), full_info, "r\\s");
    RWCString path = "untouched";
    std::string expected =
        "0:-1:top 1:0:a 2:1:x=1/1 3:1:nul=p\0q/-5 4:1:b 5:4:deep=d/0 6:0:empty 7:0:c*"s;
    if (!full_info) std::erase(expected, '*');
    EXPECT_EQ(expected, Dump(Decode(block, full_info, nullptr, &path)));
    EXPECT_EQ(full_info ? "r\\s" : "", path.str());

    // Each prefix fails inside itself, or ends after the header or a record and so is a block
    // of its own; written again, its records give it back, checksums included.
    for (std::size_t len = 0; len <= block.size(); ++len) {
      int offset = -1;
      IdVec* decoded = Decode(std::string_view(block).substr(0, len), full_info, &offset);
      EXPECT_TRUE(decoded != nullptr || (offset >= 0 && offset <= static_cast<int>(len))) << len;
      EXPECT_EQ(decoded == nullptr ? "" : block.substr(0, len), Encode(decoded, full_info, path))
          << len;
    }
  }
}

TEST(ByteBlockDecoder, NamesTheFieldThatBroke) {
  LogCapture log(3);
  const std::tuple<std::string, bool, int> cases[] = {
      {"", false, -1},  // no records: an empty vector
      {BigEndian(-1) + "a", true, 0},
      {Record(0, -1).substr(0, 12), false, 8},     // the path runs past the end
      {Record(0, 0), false, 4},                    // the first record is the top
      {Record(0, -1) + Record(2, 0), false, 17},   // ids run 0, 1, 2...
      {Record(0, -1) + Record(1, -1), false, 21},  // only the first record is a top
      {Record(0, -1) + Record(1, 0) + Record(2, 0) + Record(3, 1), false, 55},  // 1 was closed
      {BigEndian(0) + BigEndian(-1) + Field("n") + Field("ab"), false, 19},     // no change flag
      {Field("") + BigEndian(0) + BigEndian(-1) + BigEndian(7) + BigEndian(2) + Field("n") +
           BigEndian(0),
       true, 16},  // completion is 0 or 1
  };
  for (const auto& [block, full_info, expected] : cases) {
    int offset = -1;
    RWCString path = "kept";
    const bool rejected = Dump(Decode(block, full_info, &offset, &path)) == "null";
    EXPECT_EQ(expected, rejected ? offset : -1) << expected;
    EXPECT_TRUE(!rejected || path.str() == "kept") << expected;
  }

  log.Clear();
  RWCString path;
  int offset = -1;
  EXPECT_EQ(nullptr, Tree_Node::GetIdNodeInfoVecFromSerialized(nullptr, 0, false, path, &offset));
  EXPECT_EQ(0, offset);
  EXPECT_TRUE(
      log.Has("GetIdNodeInfoVecFromSerialized(const char * buf, int size, bool "
              "full_info) : malformed block at offset 0, return NULL\n"));
}

TEST(ByteBlockDecoder, DeepChainIsListedWrittenAndDecoded) {
  constexpr int kDepth = 100000;
  const std::string block = Encode(Tree_Node::GetIdNodeVecFromTree(MakeChain(kDepth)), false);
  std::string chain = "0:-1:n";
  for (int i = 1; i < kDepth; ++i)
    chain += " " + std::to_string(i) + ":" + std::to_string(i - 1) + ":n";
  EXPECT_EQ(chain, Dump(Decode(block, false)));
}
