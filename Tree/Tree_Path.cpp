#include "Tree/Tree_Path.h"

Tree_Path::Tree_Path(const RWCString& path)
    : m_length(static_cast<unsigned>(path.length())), m_path(path) {}

void Tree_Path::SetPath(const RWCString& path) {
  m_path = path;
  m_length = static_cast<unsigned>(path.length());
}

std::string_view Tree_Path::GetRootView() {
  const std::string_view text = m_path.view();
  if (m_is_only_root != 0) return m_position == 0 ? text : m_last_root.view();

  const std::size_t separator = m_position <= text.size() ? text.find('\\', m_position) : RW_NPOS;
  if (separator != std::string_view::npos) {
    const std::string_view element = text.substr(m_position, separator - m_position);
    m_position = static_cast<unsigned>(separator + 1);
    return element;
  }
  m_is_only_root = 1;
  if (m_position == 0) return text;
  // A text replaced by a shorter one may leave the cursor past its end: the rest is empty.
  m_last_root = m_position < m_length ? RWCString(text.substr(m_position, m_length - m_position))
                                      : RWCString();
  return m_last_root.view();
}
