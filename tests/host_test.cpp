#include <gtest/gtest.h>

#include <string>
#include <thread>

#include <zlib.h>

#include "host/Qor_CRC.h"
#include "tests/test_support.h"

TEST(HostLog, FiltersByLevelAndKeepsEachThreadsAttribution) {
  LogCapture capture(4);
  EXPECT_EQ(0, QorGLog.StoreParams("m", 1, 5, 501, 1));
  const std::string long_text(5000, 'x');  // past the formatter's first buffer
  auto writer = [&](int line) {
    for (int i = 0; i < 2000; ++i) {
      if (QorGLog.StoreParams("Tree/Tree_Node", line, 4, 501, 1)) {
        QorGLog.Log("%d %s", line, long_text.c_str());
      }
    }
  };
  std::thread first(writer, 1);
  std::thread second(writer, 2);
  first.join();
  second.join();
  ASSERT_EQ(4000u, capture.Records().size());
  for (const Qor_LogRecord& record : capture.Records()) {
    EXPECT_EQ(std::to_string(record.line) + " " + long_text, record.text);
    EXPECT_EQ("Tree/Tree_Node", record.module);
    EXPECT_TRUE(record.level == 4 && record.component == 501 && record.flag == 1);
  }
}

TEST(HostCrc, StandardCrc32WhicheverWayTheBytesAreFed) {
  const z_crc_t* zlib_table = get_crc_table();
  for (int i = 0; i < 256; ++i) ASSERT_EQ(zlib_table[i], Qor_CRC::crc32_table[i]) << i;
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
