#include "Tree/Tree_Path.h"

#include <algorithm>

Tree_Path::Tree_Path(const RWCString& path)
    : m_length(static_cast<unsigned>(path.length())), m_path(path) {}

void Tree_Path::SetPath(const RWCString& path) {
  m_path = path;
  m_length = static_cast<unsigned>(path.length());
}

std::string_view Tree_Path::GetRootView() {
  const std::string_view text = Text();
  const bool borrowed = m_borrowed.data() != nullptr;
  if (m_is_only_root != 0) {
    if (m_position == 0) return text;
    return borrowed ? text.substr(std::min<std::size_t>(m_position, text.size()))
                    : m_last_root.view();
  }

  const std::size_t separator = m_position <= text.size() ? text.find('\\', m_position) : RW_NPOS;
  if (separator != std::string_view::npos) {
    const std::string_view element = text.substr(m_position, separator - m_position);
    m_position = static_cast<unsigned>(separator + 1);
    return element;
  }
  m_is_only_root = 1;
  if (m_position == 0) return text;
  if (borrowed) return text.substr(std::min<std::size_t>(m_position, text.size()));
  // A text replaced by a shorter one may leave the cursor past its end: the rest is empty.
  m_last_root = m_position < m_length ? RWCString(text.substr(m_position, m_length - m_position))
                                      : RWCString();
  return m_last_root.view();
}
