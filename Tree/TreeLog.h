// The library's one logging macro. A site reads
//   TREE_LOG(7, "Start Insert(Tree_NodePtr& new_child, int child_index)\n");
// and costs one inline comparison when the level is disabled: the message is formatted only
// when QorGLog.StoreParams accepts the level.
#pragma once

#include "host/Qor_LogFile.h"

namespace tree_log {
inline constexpr char kModule[] = "Tree/Tree_Node";
inline constexpr int kComponent = 501;
inline constexpr int kFlag = 1;
}  // namespace tree_log

#define TREE_LOG(level, ...)                                                            \
  do {                                                                                  \
    if (QorGLog.StoreParams(tree_log::kModule, __LINE__, (level), tree_log::kComponent, \
                            tree_log::kFlag)) {                                         \
      QorGLog.Log(__VA_ARGS__);                                                         \
    }                                                                                   \
  } while (false)
