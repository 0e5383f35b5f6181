#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Tree/TimerPrint.h"
#include "tests/test_support.h"

namespace {

using std::chrono::milliseconds;

// A file of this test's own under the temporary directory, removed before and after.
class TempFile {
 public:
  explicit TempFile(const std::string& suffix = "")
      : m_path(::testing::TempDir() + "timer_test_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + suffix) {
    std::remove(m_path.c_str());
  }
  ~TempFile() { std::remove(m_path.c_str()); }
  const char* Path() const { return m_path.c_str(); }
  std::string Read() const {
    std::ifstream in(m_path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
  }

 private:
  std::string m_path;
};

// The class-wide switch is shared by every test: each test that turns it off restores it.
struct RestoreTimerSwitch {
  ~RestoreTimerSwitch() { CTimerPrint::EnableTimer(); }
};

struct Lap {
  double seconds;
  std::string text;
};

// Whether `number` is digits, a point and exactly six digits: what "%.6f" prints.
bool IsSixDecimals(const std::string& number) {
  const std::size_t point = number.find('.');
  if (point == std::string::npos || point == 0 || number.size() != point + 7) return false;
  return std::all_of(number.begin(), number.end(),
                     [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

// The laps of the lines of "%.6f\t%s\n" in `output`; a line of any other form fails the test.
std::vector<Lap> Laps(const std::string& output) {
  std::vector<Lap> laps;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos || !IsSixDecimals(line.substr(0, tab))) {
      ADD_FAILURE() << "not a lap line: " << line;
      continue;
    }
    const double seconds = std::stod(line.substr(0, tab));
    // Whole milliseconds, up to the rounding of the subtraction.
    EXPECT_NEAR(std::round(seconds * 1000), seconds * 1000, 0.01) << line;
    laps.push_back({seconds, line.substr(tab + 1)});
  }
  return laps;
}

double SecondsBetween(std::chrono::steady_clock::time_point from,
                      std::chrono::steady_clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

TEST(TimerPrint, AppendsLinesToAFileWithoutTruncatingIt) {
  TempFile file;
  std::ofstream(file.Path()) << "kept\n";
  {
    CTimerPrint timer(file.Path());
    timer.TimerPrint("first");
    timer.TimerPrint(nullptr);
    timer.TimerPrint("second");
  }
  { CTimerPrint(file.Path()).TimerPrint("third"); }

  const std::string output = file.Read();
  ASSERT_EQ(0u, output.rfind("kept\n", 0)) << output;
  const std::vector<Lap> laps = Laps(output.substr(5));
  ASSERT_EQ(3u, laps.size());
  EXPECT_EQ("first", laps[0].text);
  EXPECT_EQ("second", laps[1].text);
  EXPECT_EQ("third", laps[2].text);
}

TEST(TimerPrint, WhileDisabledWritesNothingAndKeepsTheLapRunning) {
  RestoreTimerSwitch restore;
  TempFile file;
  {
    CTimerPrint timer(file.Path());
    CTimerPrint::DisableTimer();
    std::this_thread::sleep_for(milliseconds(30));
    timer.TimerPrint("while disabled");
    CTimerPrint::EnableTimer();
    timer.TimerPrint("after");

    // A new printer switches every printer back on.
    CTimerPrint::DisableTimer();
    CTimerPrint other;
    timer.TimerPrint("enabled by a new printer");
  }
  const std::vector<Lap> laps = Laps(file.Read());
  ASSERT_EQ(2u, laps.size());
  EXPECT_EQ("after", laps[0].text);
  EXPECT_GE(laps[0].seconds, 0.025);  // covers the sleep made while disabled
  EXPECT_EQ("enabled by a new printer", laps[1].text);
}

TEST(TimerPrint, NullTextAndResetStartANewLapWithoutWriting) {
  TempFile file;
  double null_text_gap = 0;
  double reset_gap = 0;
  {
    CTimerPrint timer(file.Path());
    std::this_thread::sleep_for(milliseconds(40));
    auto start = std::chrono::steady_clock::now();
    timer.TimerPrint(nullptr);
    timer.TimerPrint("after a null text");
    null_text_gap = SecondsBetween(start, std::chrono::steady_clock::now());

    std::this_thread::sleep_for(milliseconds(40));
    start = std::chrono::steady_clock::now();
    timer.ResetTimer();
    timer.TimerPrint("after a reset");
    reset_gap = SecondsBetween(start, std::chrono::steady_clock::now());
  }
  const std::vector<Lap> laps = Laps(file.Read());
  ASSERT_EQ(2u, laps.size());
  // Each lap covers only the calls around it, not the sleep before (the clock truncates
  // to whole milliseconds).
  EXPECT_EQ("after a null text", laps[0].text);
  EXPECT_LE(laps[0].seconds, null_text_gap + 0.002);
  EXPECT_EQ("after a reset", laps[1].text);
  EXPECT_LE(laps[1].seconds, reset_gap + 0.002);
}

TEST(TimerPrint, WithoutAFileLinesGoToTheLog) {
  LogCapture log(7);
  CTimerPrint timer;
  timer.TimerPrint("to the log");
  timer.TimerPrint(nullptr);
  timer.SetOutputFile("/nonexistent-directory/timer.txt");
  timer.TimerPrint("still the log");
  CTimerPrint(static_cast<const char*>(nullptr)).TimerPrint("no file name");

  const std::vector<Qor_LogRecord> records = log.Records();
  ASSERT_EQ(3u, records.size());
  std::string lines;
  for (const Qor_LogRecord& record : records) {
    EXPECT_EQ("Tree/TimerPrint", record.module);
    EXPECT_EQ(7, record.level);
    EXPECT_EQ(501, record.component);
    EXPECT_EQ(1, record.flag);
    lines += record.text;
  }
  const std::vector<Lap> laps = Laps(lines);
  ASSERT_EQ(3u, laps.size());
  EXPECT_EQ("to the log", laps[0].text);
  EXPECT_EQ("still the log", laps[1].text);
  EXPECT_EQ("no file name", laps[2].text);
}

TEST(TimerPrint, OwnsAndClosesTheStreamsItWritesTo) {
  LogCapture log(7);
  TempFile first;
  TempFile second("_second");
  {
    CTimerPrint timer;
    FILE* stream = std::fopen(first.Path(), "w");
    ASSERT_NE(nullptr, stream);
    timer.SetOutputFile(stream);
    timer.SetOutputFile(stream);  // the same stream stays open
    timer.TimerPrint("handed in");
    // Replacing the stream closes, and so flushes, the one handed in.
    timer.SetOutputFile(second.Path());
    EXPECT_EQ("handed in", Laps(first.Read()).at(0).text);
    timer.TimerPrint("by name");
  }
  EXPECT_EQ("by name", Laps(second.Read()).at(0).text);
  EXPECT_TRUE(log.Records().empty());
}
