#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "Tree/TimerPrint.h"
#include "tests/test_support.h"

namespace {

using Texts = std::vector<std::string>;
using namespace std::literals;
using Clock = std::chrono::steady_clock;

// The texts of the lines of "%.6f\t%s\n" in `output`, and their seconds in `seconds`; a line
// of any other form, or not in whole milliseconds, fails the test.
Texts Laps(const std::string& output, std::vector<double>* seconds = nullptr) {
  Texts texts;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const double lap = std::round(std::strtod(line.c_str(), nullptr) * 1000) / 1000;
    // std::to_string prints a double as "%f" does: six decimals.
    EXPECT_EQ(0u, line.rfind(std::to_string(lap) + '\t', 0)) << "not a lap line: " << line;
    if (seconds != nullptr) seconds->push_back(lap);
    texts.push_back(line.substr(line.find('\t') + 1));
  }
  return texts;
}

}  // namespace

TEST(TimerPrint, AppendsToItsFileAndANullTextRestartsTheLapButAPauseDoesNot) {
  // The switch is shared by every printer of every test: restore it however this test ends.
  struct RestoreSwitch {
    ~RestoreSwitch() { CTimerPrint::EnableTimer(); }
  } restore;
  const std::string path = ::testing::TempDir() + "timer_test_" + std::to_string(getpid());
  std::ofstream(path) << "0.000000\tkept\n";  // an earlier line, which must stay
  double null_text_gap = 0;
  {
    CTimerPrint timer(path.c_str());
    std::this_thread::sleep_for(40ms);
    const Clock::time_point start = Clock::now();
    timer.TimerPrint(nullptr);  // writes nothing, starts a new lap
    timer.TimerPrint("after a null text");
    null_text_gap = std::chrono::duration<double>(Clock::now() - start).count();

    CTimerPrint::DisableTimer();
    std::this_thread::sleep_for(30ms);
    timer.TimerPrint("while disabled");
    CTimerPrint::EnableTimer();
    timer.TimerPrint("after the pause");
  }

  std::ostringstream output;
  output << std::ifstream(path).rdbuf();
  std::remove(path.c_str());
  std::vector<double> seconds;
  EXPECT_EQ((Texts{"kept", "after a null text", "after the pause"}), Laps(output.str(), &seconds));
  // The clock truncates to whole milliseconds: a lap may read up to 1 ms more than measured.
  EXPECT_LE(seconds.at(1), null_text_gap + 0.002);  // not the sleep before the null text
  EXPECT_GE(seconds.at(2), 0.025);                  // the sleep made while disabled
}

TEST(TimerPrint, WithoutAFileLinesGoToTheLog) {
  LogCapture log(7);
  CTimerPrint timer;
  timer.TimerPrint("to the log");
  timer.SetOutputFile("/nonexistent-directory/timer.txt");  // cannot open: still the log
  timer.TimerPrint("still the log");

  std::string lines;
  for (const Qor_LogRecord& record : log.Records()) {
    EXPECT_EQ(std::make_tuple("Tree/TimerPrint"s, 7, 501, 1),
              std::tie(record.module, record.level, record.component, record.flag));
    lines += record.text;
  }
  EXPECT_EQ((Texts{"to the log", "still the log"}), Laps(lines));
}
