// Tree_IdNodeInfo: the numbered record of one node, as id vectors and byte blocks carry it.
#include "Tree/Tree_IdNodeInfo.h"

#include <iostream>

void Tree_IdNodeInfo::SetValue(const char* buf, int len) {
  m_value =
      (buf != nullptr && len > 0) ? RWCString(buf, static_cast<std::size_t>(len)) : RWCString();
}

void Tree_IdNodeInfo::SetPath(const char* buf, int len) {
  m_path =
      (buf != nullptr && len > 0) ? RWCString(buf, static_cast<std::size_t>(len)) : RWCString();
}

void Tree_IdNodeInfo::StripValue() {
  m_value = RWCString(m_value.strip(RWCString::both, ' '));
}

void Tree_IdNodeInfo::StripPath() {
  m_path = RWCString(m_path.strip(RWCString::both, ' '));
}

bool Tree_IdNodeInfo::operator<(const Tree_IdNodeInfo& other) const {
  return m_path.compareTo(other.m_path, RWCString::exact) < 0;
}

bool Tree_IdNodeInfo::operator==(const Tree_IdNodeInfo& other) const {
  return m_path == other.m_path;
}

void Tree_IdNodeInfo::PrintMe() const {
  std::cout << "----------------------" << std::endl;
  std::cout << "Path : " << m_path;
  if (!m_value.isNull()) std::cout << " Value : " << m_value << " Changed : " << m_is_change;
  std::cout << " Parent id : " << m_parent_id << " Id : " << m_id << std::endl;
  std::cout << " CRC : " << m_crc << std::endl;
  std::cout << " Complete : " << (m_single_node_complete ? 1 : 0) << std::endl;
}
