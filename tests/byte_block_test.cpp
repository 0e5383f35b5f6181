#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "tests/test_support.h"

namespace {

// A text of `length` bytes that differ from their neighbours, with a NUL byte in the middle
// of every other one of 5 bytes or more.
std::string Text(std::size_t length, char first) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text.push_back(static_cast<char>(first + i % 23));
  if (length >= 5 && length % 2 == 1) text[length / 2] = '\0';
  return text;
}

}  // namespace

TEST(ByteBlock, WritesTheCfgPortExampleByteForByteAndTracesIt) {
  Tree_NodePtr cfg = MakeBranch("cfg");
  AddLeaf(cfg, "port", "80")->SetChecksum(4000000000u, true, true);
  const std::string short_block(
      "\0\0\0\0\xFF\xFF\xFF\xFF\0\0\0\3cfg\0\0\0\0"
      "\0\0\0\1\0\0\0\0\0\0\0\4port\0\0\0\2"
      "80\0\0\0\0",
      45);
  EXPECT_EQ(short_block, Encode(Tree_Node::GetIdNodeVecFromTree(cfg), false, "ignored"));

  // Full info adds the header, and each record's checksum and completion after its parent id:
  // 66 bytes.
  cfg->SetChecksum(7, true, true);
  cfg->SetSingleNodeComplete(false);
  IdVec* vec = Tree_Node::GetIdNodeVecFromTree(cfg);
  LogCapture log;
  EXPECT_EQ(Field("a") + BigEndian(0) + BigEndian(-1) + BigEndian(7) + BigEndian(0) + Field("cfg") +
                BigEndian(0) + BigEndian(1) + BigEndian(0) + BigEndian(4000000000u) + BigEndian(1) +
                Field("port") + Field("80") + BigEndian(0),
            Encode(vec, true, "a"));
  EXPECT_EQ(
      (std::vector<std::string>{
          "Write virtual parent path len <1>\n", "Write virtual parent path <a>\n",
          "Write id <0>\n", "Write p_id <-1>\n", "Write CRC <7>\n",
          "Write SingleNodeComplete <0>\n", "Write path len <3>\n", "Write path <cfg>\n",
          "Write val_len  <0>\n", "Write id <1>\n", "Write p_id <0>\n", "Write CRC <4000000000>\n",
          "Write SingleNodeComplete <1>\n", "Write path len <4>\n", "Write path <port>\n",
          "Write val_len  <2>\n", "Write val <80>\n", "Write is change <0>\n"}),
      log.Texts(6));
}

TEST(ByteBlock, EmptyAndNullVectors) {
  int size = -1;
  const std::unique_ptr<char[]> block(
      Tree_Node::GetSerializeIdNodeInfoVec(new IdVec, size, "a", false));
  EXPECT_NE(nullptr, block);
  EXPECT_EQ(0, size);
  EXPECT_EQ(std::string("\0\0\0\1a", 5), Encode(new IdVec, true, "a"));

  LogCapture log;
  size = 12;
  EXPECT_EQ(nullptr, Tree_Node::GetSerializeIdNodeInfoVec(nullptr, size, "a", true));
  EXPECT_EQ(12, size);
  EXPECT_TRUE(
      log.Has("GetSerializeIdNodeInfoVec(RWTPtrOrderedVector<Tree_IdNodeInfo> * vec,int "
              "& size_of_ret) : vec parameter is NULL, return NULL\n",
              3));
}

TEST(ByteBlock, EveryFieldLengthAndValueIsWrittenAsLaidOut) {
  // Hand-made records: path and value lengths from 0 to 40 (each side of every copy size),
  // ids and parent ids of every sign, checksums with the top bit set, both completion states.
  std::string expected[2] = {"", Field("virtual\\parent")};
  auto* vec = new IdVec;
  for (int i = 0; i <= 40; ++i) {
    const std::string path = Text(static_cast<std::size_t>(i), 'a');
    const std::string value = Text(static_cast<std::size_t>(40 - i), 'A');
    auto* record = new Tree_IdNodeInfo;
    record->SetPath(path.data(), static_cast<int>(path.size()));
    record->SetValue(value.data(), static_cast<int>(value.size()));
    record->SetId(i * 1000003 - 20000000);
    record->SetParentId(-i);
    record->SetCRC(0x80000000u + static_cast<unsigned>(i) * 0x01010101u);
    record->SetNodeComplete(i % 3 != 0);
    record->SetIsChange(i % 4 - 1);
    vec->insert(record);
    for (bool full_info : {false, true}) {
      std::string& block = expected[full_info ? 1 : 0];
      block += BigEndian(record->GetId()) + BigEndian(record->GetParentId());
      if (full_info) block += BigEndian(record->GetCRC()) + BigEndian(i % 3 != 0 ? 1 : 0);
      block += Field(path) + Field(value);
      if (!value.empty()) block += BigEndian(record->IsChange());
    }
  }
  // A copy of the vector, record by record, for the second layout.
  auto* copy = new IdVec;
  for (const Tree_IdNodeInfo* record : *vec) copy->insert(new Tree_IdNodeInfo(*record));
  EXPECT_EQ(expected[0], Encode(vec, false, "ignored"));
  EXPECT_EQ(expected[1], Encode(copy, true, "virtual\\parent"));
}

TEST(ByteBlock, RecordsMadeOnOneThreadAreWrittenAndFreedOnAnother) {
  Tree_NodePtr top = MakeBranch("top");
  for (int i = 0; i < 300; ++i) AddLeaf(top, ("key" + std::to_string(i)).c_str(), "value");
  const std::string expected = Encode(Tree_Node::GetIdNodeVecFromTree(top), true, "p");
  IdVec* vec = Tree_Node::GetIdNodeVecFromTree(top);
  IdVec* dropped = Tree_Node::GetIdNodeVecFromTree(top);
  std::string written;
  std::thread other([&] {
    written = Encode(vec, true, "p");
    Tree_OwnedIdNodeVec(dropped).reset();
  });
  other.join();
  EXPECT_EQ(expected, written);
}
