// CTimerPrint: a lap timer for instrumenting host code. Each TimerPrint(text) writes the
// seconds since the previous lap and the text, "%.6f\t%s\n", to the printer's own file or,
// without one, to the host log at level 7 from module "Tree/TimerPrint". One class-wide
// switch turns every printer on and off. A printer is meant for one thread at a time; it
// takes no lock.
#pragma once

#include <cstdio>

class CTimerPrint {
 public:
  // Switches timing on for every printer, writes to the log, and starts the first lap.
  CTimerPrint();
  // Switches timing on for every printer, opens `file_name` (when not null) for appending,
  // creating it, and starts the first lap. Lines go to the log when the file cannot be
  // opened.
  explicit CTimerPrint(const char* file_name);
  // Closes the output file, if any.
  ~CTimerPrint();
  CTimerPrint(const CTimerPrint&) = delete;
  CTimerPrint& operator=(const CTimerPrint&) = delete;

  // Switch every printer on or off. While off, TimerPrint does nothing, and the reference
  // time stays where it was.
  static void EnableTimer();
  static void DisableTimer();

  // Closes the current output file, if any, then opens `file_name` (when not null) for
  // appending, creating it; lines go to the log when there is none or it cannot be opened.
  void SetOutputFile(const char* file_name);
  // Closes the current output file, if any, and takes ownership of `file` (null: lines go
  // to the log). Handing in the stream the printer already holds keeps it open.
  void SetOutputFile(FILE* file);

  // Ends a lap: when enabled, writes "<seconds since the previous lap>\t<text>\n" (the
  // seconds with six decimals, in whole milliseconds) and starts the next lap now. A null
  // text writes nothing but still starts a new lap. The file is not flushed.
  void TimerPrint(const char* text);
  // Starts a new lap now, without writing anything (when enabled).
  void ResetTimer();

 protected:
  // The current time: seconds since the epoch, and the milliseconds times 1000.
  void get_current_time(long& sec, long& usec) const;
  void win_get_current_time(long& sec, long& usec) const;

  // 1 while timing is on for every printer; 0 at load, set to 1 by every constructor.
  static int m_is_enabled;

 private:
  // The reference time, where the current lap began; both 0 before the first lap.
  long m_sec = 0;
  long m_usec = 0;
  // The owned output file; null sends the lines to the log.
  FILE* m_file = nullptr;
};
