#include <gtest/gtest.h>

#include <cstdint>
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
  // Every length on both sides of the four- and eight-byte steps and of zlib's bulk path, at every
  // alignment, fed whole, byte by byte, and split in two.
  std::string text;
  for (int i = 0; i < 600; ++i) text.push_back(static_cast<char>((i * 7919) % 251 + 1));
  for (std::size_t length :
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 15, 16, 17, 63, 255, 256, 257, 511}) {
    for (std::size_t offset = 0; offset < 8; ++offset) {
      const char* data = text.data() + offset;
      const uLong expected =
          crc32(0, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(length));
      Qor_CRC whole;
      whole.AddBytes(data, length);
      Qor_CRC bytes;
      for (std::size_t i = 0; i < length; ++i) bytes.AddByte(static_cast<unsigned char>(data[i]));
      Qor_CRC split;
      split.AddBytes(data, length / 3);
      split.AddBytes(data + length / 3, length - length / 3);
      ASSERT_EQ(expected, whole.Finish()) << length << " at " << offset;
      ASSERT_EQ(expected, bytes.Finish()) << length << " at " << offset;
      ASSERT_EQ(expected, split.Finish()) << length << " at " << offset;
      if (length == 0 || length > 8) continue;
      // The bytes as one number, fed in one step after a prefix that leaves an uneven register.
      std::uint64_t bytes_word = 0;
      for (std::size_t i = length; i-- > 0;)
        bytes_word = bytes_word << 8 | static_cast<unsigned char>(data[i]);
      const uLong prefix = crc32(0, reinterpret_cast<const Bytef*>(text.data() + 100), 13);
      const auto after_prefix = static_cast<std::uint32_t>(prefix ^ 0xFFFFFFFFu);
      EXPECT_EQ(crc32(prefix, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(length)),
                Qor_CRC::PartialStep(after_prefix, bytes_word, static_cast<unsigned>(length)) ^
                    0xFFFFFFFFu)
          << "partial " << length << " at " << offset;
      if (length != 8) continue;
      std::uint64_t word = 0;
      for (int i = 7; i >= 0; --i) word = word << 8 | static_cast<unsigned char>(data[i]);
      Qor_CRC eight;
      eight.AddEightBytes(word);
      ASSERT_EQ(expected, eight.Finish()) << "eight at " << offset;
    }
  }
}
