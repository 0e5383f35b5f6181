#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "host/Qor_CRC.h"
#include "tests/test_support.h"

TEST(HostLog, FiltersByLevelAndHandsTheAttributionToTheSink) {
  LogCapture capture(4);
  EXPECT_EQ(0, QorGLog.StoreParams("m", 1, 5, 501, 1));
  ASSERT_NE(0, QorGLog.StoreParams("Tree/Tree_Node", 42, 4, 501, 1));
  const std::string long_text(5000, 'x');  // past the formatter's first buffer
  QorGLog.Log("<%s> %d\n", long_text.c_str(), 7);
  const Qor_LogRecord record = capture.Records().at(0);
  EXPECT_EQ("Tree/Tree_Node", record.module);
  EXPECT_EQ(42, record.line);
  EXPECT_EQ(4, record.level);
  EXPECT_EQ(501, record.component);
  EXPECT_EQ(1, record.flag);
  EXPECT_EQ("<" + long_text + "> 7\n", record.text);
}

TEST(HostLog, ThreadsKeepTheirOwnAttribution) {
  LogCapture capture;
  auto writer = [](int line) {
    for (int i = 0; i < 2000; ++i) {
      if (QorGLog.StoreParams("m", line, 3, 501, 1)) QorGLog.Log("%d", line);
    }
  };
  std::thread first(writer, 1);
  std::thread second(writer, 2);
  first.join();
  second.join();
  for (const Qor_LogRecord& record : capture.Records()) {
    EXPECT_EQ(std::to_string(record.line), record.text);
  }
}

TEST(HostLog, EmptySinkRestoresTheStandardErrorWriter) {
  QorGLog.SetSink({});
  testing::internal::CaptureStderr();
  if (QorGLog.StoreParams("Tree/Tree_Node", 9, 3, 501, 1)) QorGLog.Log("refused\n");
  EXPECT_EQ("Tree/Tree_Node:9 [3] refused\n", testing::internal::GetCapturedStderr());
}

TEST(HostCrc, StandardCrc32WhicheverWayTheBytesAreFed) {
  Qor_CRC check;
  check.AddString("123456789");
  EXPECT_EQ(0xCBF43926ul, check.Finish());

  const std::string text(1000, 'q');  // long enough for zlib's bulk path
  Qor_CRC whole;
  whole.AddString(text.c_str());
  Qor_CRC bytes;
  for (char c : text) bytes.AddByte(static_cast<unsigned char>(c));
  EXPECT_EQ(whole.Finish(), bytes.Finish());
}

TEST(HostString, StripsBlanksOnlyAndComparesBytesUnsigned) {
  EXPECT_EQ(RWCString("a b\t"), RWCString(RWCString("  a b\t ").strip(RWCString::both, ' ')));
  EXPECT_LT(RWCString("B").compareTo("ab"), 0);
  EXPECT_GT(RWCString("\xff").compareTo("a"), 0);
  EXPECT_THROW(RWCString("abc")(2, 2), RWBoundsErr);
}
