#include <gtest/gtest.h>

#include <memory>

#include "tests/test_support.h"

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
