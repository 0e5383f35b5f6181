#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/Qor_CRC.h"
#include "host/Qor_LogFile.h"
#include "host/RWCString.h"
#include "host/RWTPtrOrderedVector.h"
#include "host/RWTValOrderedVector.h"
#include "tests/test_support.h"

TEST(HostLog, StoreParamsDropsLevelsAboveTheMaximum) {
  LogCapture capture(4);
  EXPECT_NE(0, QorGLog.StoreParams("m", 1, 4, 501, 1));
  EXPECT_EQ(0, QorGLog.StoreParams("m", 1, 5, 501, 1));
  QorGLog.SetMaxLevel(7);
  EXPECT_NE(0, QorGLog.StoreParams("m", 1, 7, 501, 1));
}

TEST(HostLog, SinkReceivesTheStoredAttributionAndTheFormattedText) {
  LogCapture capture;
  ASSERT_NE(0, QorGLog.StoreParams("Tree/Tree_Node", 42, 6, 501, 1));
  QorGLog.Log("Write id <%d> of <%s>\n", 7, "cfg");
  const std::vector<Qor_LogRecord> records = capture.Records();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("Tree/Tree_Node", records[0].module);
  EXPECT_EQ(42, records[0].line);
  EXPECT_EQ(6, records[0].level);
  EXPECT_EQ(501, records[0].component);
  EXPECT_EQ(1, records[0].flag);
  EXPECT_EQ("Write id <7> of <cfg>\n", records[0].text);
}

TEST(HostLog, LongMessagesAreFormattedWhole) {
  LogCapture capture;
  const std::string long_text(5000, 'x');
  ASSERT_NE(0, QorGLog.StoreParams("m", 1, 3, 501, 1));
  QorGLog.Log("<%s>", long_text.c_str());
  EXPECT_EQ("<" + long_text + ">", capture.Texts().at(0));
}

TEST(HostLog, ThreadsKeepTheirOwnAttribution) {
  LogCapture capture;
  constexpr int kRounds = 2000;
  auto writer = [](int line) {
    for (int i = 0; i < kRounds; ++i) {
      if (QorGLog.StoreParams("m", line, 3, 501, 1)) QorGLog.Log("%d", line);
    }
  };
  std::thread first(writer, 1);
  std::thread second(writer, 2);
  first.join();
  second.join();
  const std::vector<Qor_LogRecord> records = capture.Records();
  ASSERT_EQ(2u * kRounds, records.size());
  for (const Qor_LogRecord& record : records) {
    EXPECT_EQ(std::to_string(record.line), record.text);
  }
}

TEST(HostLog, EmptySinkRestoresTheStandardErrorWriter) {
  QorGLog.SetMaxLevel(3);
  QorGLog.SetSink({});
  testing::internal::CaptureStderr();
  if (QorGLog.StoreParams("Tree/Tree_Node", 9, 3, 501, 1)) QorGLog.Log("refused\n");
  EXPECT_EQ("Tree/Tree_Node:9 [3] refused\n", testing::internal::GetCapturedStderr());
}

TEST(HostCrc, ComputesStandardCrc32) {
  Qor_CRC crc;
  crc.AddString("123456789");
  EXPECT_EQ(0xCBF43926ul, crc.Finish());
  EXPECT_EQ(0u, Qor_CRC().Finish());  // nothing fed
}

TEST(HostCrc, ByteStepAndBulkFeedAgree) {
  // Long enough to take zlib's bulk path, fed in pieces and byte by byte.
  std::string text;
  for (int i = 0; i < 1000; ++i) text += static_cast<char>('A' + i % 26);
  Qor_CRC whole;
  whole.AddString(text.c_str());
  Qor_CRC bytes;
  for (char c : text) bytes.AddByte(static_cast<unsigned char>(c));
  Qor_CRC mixed;
  mixed.AddString(text.substr(0, 5).c_str());
  mixed.AddBytes(text.data() + 5, text.size() - 5);
  EXPECT_EQ(whole.Finish(), bytes.Finish());
  EXPECT_EQ(whole.Finish(), mixed.Finish());
  EXPECT_EQ(0xEDB88320u, Qor_CRC::crc32_table[128]);
}

TEST(HostString, StripRemovesBlanksOnlyAtTheChosenEnds) {
  const RWCString text("  a b\t ");
  EXPECT_EQ(RWCString("a b\t"), RWCString(text.strip(RWCString::both, ' ')));
  EXPECT_EQ(RWCString("a b\t "), RWCString(text.strip(RWCString::leading, ' ')));
  EXPECT_EQ(RWCString("  a b\t"), RWCString(text.strip(RWCString::trailing, ' ')));
  EXPECT_TRUE(RWCString(RWCString("   ").strip(RWCString::both, ' ')).isNull());
}

TEST(HostString, ComparesInUnsignedByteOrderWithPrefixesFirst) {
  EXPECT_LT(RWCString("a").compareTo("ab"), 0);
  EXPECT_LT(RWCString("ab").compareTo("b"), 0);
  EXPECT_LT(RWCString("B").compareTo("a"), 0);
  EXPECT_GT(RWCString("\xff").compareTo("a"), 0);
  EXPECT_EQ(0, RWCString("x").compareTo("x"));
  EXPECT_EQ(0, RWCString("Ab").compareTo("aB", RWCString::ignoreCase));
  EXPECT_LT(RWCString("x0").compareTo("x\\"), 0);  // '0' (0x30) orders before '\' (0x5C)
}

TEST(HostString, SearchesSubstringsAndHoldsNulBytes) {
  const RWCString text("a\\b\\c");
  EXPECT_EQ(1u, text.index("\\", 1, 0));
  EXPECT_EQ(3u, text.index("\\", 1, 2));
  EXPECT_EQ(RW_NPOS, text.index("\\", 1, 4));
  EXPECT_EQ(RW_NPOS, text.index("\\", 1, 99));
  EXPECT_EQ(1u, text.first('\\'));
  EXPECT_EQ(3u, text.last('\\'));
  EXPECT_EQ(RWCString("b\\c"), RWCString(text(2, 3)));
  EXPECT_THROW(text(4, 2), RWBoundsErr);

  const RWCString with_nul("a\0b", 3);
  EXPECT_EQ(3u, with_nul.length());
  EXPECT_FALSE(with_nul == "a");

  RWCString edited("abc");
  edited.replace(edited.length(), 0, "de", 2);
  edited.replace(0, 1, "X", 1);
  EXPECT_EQ(RWCString("Xbcde"), edited);
}

TEST(HostString, ConvertsToAndFromStdString) {
  const std::string standard = "net\\srv";
  const RWCString converted = standard;
  EXPECT_EQ(standard, converted.str());
  EXPECT_EQ(standard, static_cast<std::string>(converted));
  std::ostringstream out;
  out << RWCString("port") + RWCString("=80");
  EXPECT_EQ("port=80", out.str());
  EXPECT_TRUE(RWCString(static_cast<const char*>(nullptr)).isNull());
}

TEST(HostVectors, EveryIndexedAccessIsChecked) {
  RWTValOrderedVector<RWCString> values;
  values.insert("a");
  values.insertAt(0, "b");
  EXPECT_EQ(RWCString("b"), values[0]);
  EXPECT_THROW(values.at(2), RWBoundsErr);
  EXPECT_THROW(values.insertAt(3, "c"), RWBoundsErr);
  EXPECT_THROW(values.removeAt(static_cast<std::size_t>(-1)), std::out_of_range);
  EXPECT_EQ(RWCString("b"), values.removeAt(0));
  EXPECT_EQ(1u, values.entries());

  RWTPtrOrderedVector<int> pointers;
  pointers.insert(new int(1));
  pointers.insert(new int(2));
  EXPECT_THROW(pointers.at(2), RWBoundsErr);
  EXPECT_EQ(2, *pointers[1]);
  pointers.clearAndDestroy();
  EXPECT_TRUE(pointers.isEmpty());
}
