#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/serialize_test_support.h"

namespace {

// cfg holding the unchanged value leaf port=80.
Tree_NodePtr MakeCfg() {
  Tree_NodePtr cfg = MakeBranch("cfg");
  AddLeaf(cfg, "port", "80");
  return cfg;
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string text;
  for (const int byte : bytes) text += static_cast<char>(byte);
  return text;
}

}  // namespace

TEST(ByteBlock, WritesTheCfgPortExampleByteForByte) {
  const std::string expected = Bytes(
      {0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x03, 'c',  'f',  'g',
       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
       0x04, 'p',  'o',  'r',  't',  0x00, 0x00, 0x00, 0x02, '8',  '0',  0x00, 0x00, 0x00, 0x00});
  ASSERT_EQ(45u, expected.size());
  EXPECT_EQ(expected, Encode(Tree_Node::GetIdNodeVecFromTree(MakeCfg()), false, "ignored"));
}

TEST(ByteBlock, FullInfoAddsHeaderChecksumAndCompletion) {
  Tree_NodePtr cfg = MakeCfg();
  const unsigned int cfg_crc = static_cast<unsigned int>(cfg->GetChecksum());
  const unsigned int port_crc = static_cast<unsigned int>(cfg->GetChildAt(0)->GetChecksum());
  cfg->SetSingleNodeComplete(false);

  const std::string expected =
      Bytes({0x00, 0x00, 0x00, 0x01, 'a'}) + Bytes({0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}) +
      BigEndian(cfg_crc) + Bytes({0, 0, 0, 0}) + Field("cfg") + Bytes({0, 0, 0, 0}) +
      Bytes({0, 0, 0, 1, 0, 0, 0, 0}) + BigEndian(port_crc) + Bytes({0, 0, 0, 1}) + Field("port") +
      Field("80") + Bytes({0, 0, 0, 0});
  ASSERT_EQ(66u, expected.size());
  EXPECT_EQ(expected, Encode(Tree_Node::GetIdNodeVecFromTree(cfg), true, "a"));
}

TEST(ByteBlock, TracesEveryFieldAtLevelSix) {
  Tree_NodePtr cfg = MakeBranch("cfg");
  AddLeaf(cfg, "port", "80", 1);
  cfg->GetChildAt(0)->SetChecksum(4000000000u, true, true);
  IdVec* vec = Tree_Node::GetIdNodeVecFromTree(cfg);
  LogCapture log;
  Encode(vec, true, "vp");
  EXPECT_EQ(
      (std::vector<std::string>{
          "Write virtual parent path len <2>\n", "Write virtual parent path <vp>\n",
          "Write id <0>\n", "Write p_id <-1>\n", "Write CRC <0>\n",
          "Write SingleNodeComplete <1>\n", "Write path len <3>\n", "Write path <cfg>\n",
          "Write val_len  <0>\n", "Write id <1>\n", "Write p_id <0>\n", "Write CRC <4000000000>\n",
          "Write SingleNodeComplete <1>\n", "Write path len <4>\n", "Write path <port>\n",
          "Write val_len  <2>\n", "Write val <80>\n", "Write is change <1>\n"}),
      log.Texts(6));
  EXPECT_EQ(18u, log.Texts().size());
}

TEST(ByteBlock, EmptyVectors) {
  int size = -1;
  OwnedBlock block(Tree_Node::GetSerializeIdNodeInfoVec(new IdVec, size, "a", false));
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(0, size);

  EXPECT_EQ(Bytes({0x00, 0x00, 0x00, 0x01, 0x61}), Encode(new IdVec, true, "a"));
  EXPECT_EQ(Bytes({0x00, 0x00, 0x00, 0x00}), Encode(new IdVec, true, ""));
}

TEST(ByteBlock, NullVectorIsRejected) {
  LogCapture log;
  int size = 12;
  EXPECT_EQ(nullptr, Tree_Node::GetSerializeIdNodeInfoVec(nullptr, size, "a", true));
  EXPECT_EQ(12, size);
  EXPECT_EQ((std::vector<std::string>{
                "GetSerializeIdNodeInfoVec(RWTPtrOrderedVector<Tree_IdNodeInfo> * vec,int & "
                "size_of_ret) : vec parameter is NULL, return NULL\n"}),
            log.Texts(3));
}

TEST(ByteBlock, ValuesAreWrittenInFullEvenWithNulBytes) {
  auto vec = new IdVec;
  auto record = new Tree_IdNodeInfo;
  record->SetPath(RWCString("k"));
  record->SetValue("a\0b", 3);
  record->SetIsChange(-2);
  vec->insert(record);
  auto empty_value = new Tree_IdNodeInfo;  // no value: no is-change word, whatever it holds
  empty_value->SetId(1);
  empty_value->SetParentId(0);
  empty_value->SetIsChange(7);
  vec->insert(empty_value);

  LogCapture log;
  EXPECT_EQ(BigEndian(0) + BigEndian(-1) + Field("k") + Field(std::string("a\0b", 3)) +
                BigEndian(-2) + BigEndian(1) + BigEndian(0) + Field("") + BigEndian(0),
            Encode(vec, false));
  EXPECT_EQ(1, log.Count("Write val <a>\n", 6));
}

TEST(ByteBlock, SizeIsComputedBeforeWriting) {
  const auto make = [] { return Tree_Node::GetIdNodeVecFromTree(MakeCfg()); };
  for (const bool full_info : {false, true}) {
    const OwnedIdVec vec(make());
    const int expected_size = full_info ? 66 : 45;
    EXPECT_EQ(expected_size, Tree_NodeTestAccess::GetInfoVecLen(vec.get(), "a", full_info));
    EXPECT_EQ(static_cast<std::size_t>(expected_size), Encode(make(), full_info, "a").size());
  }
  EXPECT_EQ(0, Tree_NodeTestAccess::GetInfoVecLen(nullptr, "a", true));
}

TEST(ByteBlock, WriteIntToCharIsBigEndianAndTouchesFourBytes) {
  char buf[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
  Tree_NodeTestAccess::WriteIntToChar(0x01020304, buf, 2);
  EXPECT_EQ(std::string("xx\x01\x02\x03\x04xx", 8), std::string(buf, 8));
  Tree_NodeTestAccess::WriteIntToChar(-1, buf, 0);
  EXPECT_EQ(std::string("\xFF\xFF\xFF\xFF\x03\x04xx", 8), std::string(buf, 8));
}

TEST(ByteBlock, DeepChainNeedsNoRecursion) {
  constexpr int kDepth = 100000;
  Tree_NodePtr chain = MakeChain(kDepth);
  const std::string block = Encode(Tree_Node::GetIdNodeVecFromTree(chain), false);
  ASSERT_EQ(static_cast<std::size_t>(kDepth) * 17, block.size());  // id, p_id, "n", no value
  EXPECT_EQ(BigEndian(kDepth - 1) + BigEndian(kDepth - 2) + Field("n") + BigEndian(0),
            block.substr(block.size() - 17));
}
