// Lap timer.
#include "Tree/TimerPrint.h"

#include <chrono>

#include "host/Qor_LogFile.h"

int CTimerPrint::m_is_enabled = 0;

CTimerPrint::CTimerPrint() : CTimerPrint(nullptr) {}

CTimerPrint::CTimerPrint(const char* file_name) {
  m_is_enabled = 1;
  if (file_name != nullptr) m_file = std::fopen(file_name, "a+");
  TimerPrint(nullptr);
}

CTimerPrint::~CTimerPrint() {
  if (m_file != nullptr) std::fclose(m_file);
}

void CTimerPrint::EnableTimer() {
  m_is_enabled = 1;
}

void CTimerPrint::DisableTimer() {
  m_is_enabled = 0;
}

void CTimerPrint::SetOutputFile(const char* file_name) {
  SetOutputFile(static_cast<FILE*>(nullptr));
  if (file_name != nullptr) m_file = std::fopen(file_name, "a+");
}

void CTimerPrint::SetOutputFile(FILE* file) {
  if (file == m_file) return;
  if (m_file != nullptr) std::fclose(m_file);
  m_file = file;
}

void CTimerPrint::TimerPrint(const char* text) {
  if (m_is_enabled == 0) return;
  if (m_sec == 0 && m_usec == 0) get_current_time(m_sec, m_usec);
  long sec = 0;
  long usec = 0;
  get_current_time(sec, usec);
  const double elapsed = (usec * 0.000001 + sec) - (m_usec * 0.000001 + m_sec);
  m_sec = sec;
  m_usec = usec;
  if (text == nullptr) return;
  if (m_file != nullptr) {
    std::fprintf(m_file, "%.6f\t%s\n", elapsed, text);
  } else if (QorGLog.StoreParams("Tree/TimerPrint", __LINE__, 7, 501, 1)) {
    QorGLog.Log("%.6f\t%s\n", elapsed, text);
  }
}

void CTimerPrint::ResetTimer() {
  m_sec = 0;
  m_usec = 0;
  TimerPrint(nullptr);
}

void CTimerPrint::get_current_time(long& sec, long& usec) const {
  const auto since_epoch = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  const long milliseconds = static_cast<long>(since_epoch.count());
  sec = milliseconds / 1000;
  usec = milliseconds % 1000 * 1000;
}

void CTimerPrint::win_get_current_time(long& sec, long& usec) const {
  get_current_time(sec, usec);
}
