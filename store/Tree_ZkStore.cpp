// Tree_ZkStore: each public member runs its operation under the retry policy and logs the
// status it returns, once.
#include "store/Tree_ZkStore.h"

#include "store/Tree_ZkOps.h"
#include "store/Tree_ZkRetry.h"

namespace tree_zk {

// Runs `attempt` until it succeeds, fails for good, or the timeout ends its retries; opens
// the session first (again after an expiry). Logs a failure at `line`.
template <class Attempt>
Tree_Status Run(Session& session, int line, const Attempt& attempt) {
  RetryPolicy policy(session.Options().timeout_ms);
  Tree_Status status;
  while (true) {
    status = session.EnsureOpen();
    if (!status) break;
    bool retry = false;
    status = attempt(retry);
    if (status || !retry || !policy.Again(status.Message())) break;
  }
  if (!status) Log(3, line, status.Message());
  return status;
}

}  // namespace tree_zk

Tree_ZkStore::Tree_ZkStore(Tree_ZkOptions options)
    : m_session(std::make_unique<tree_zk::Session>(options)) {}

Tree_ZkStore::~Tree_ZkStore() = default;

std::uint64_t Tree_ZkStore::RequestCount() const {
  return m_session->RequestCount();
}

Tree_Status Tree_ZkStore::Push(const Tree_NodePtr& tree, const std::string& znode) {
  Tree_Status valid = tree_zk::CheckZnode(znode);
  if (valid && tree.get() == nullptr) {
    valid =
        Tree_Status(Tree_StatusCode::kInvalidInput, "nothing to push to " + znode + ": no tree");
  }
  if (!valid) {
    tree_zk::Log(3, __LINE__, valid.Message());
    return valid;
  }
  tree_zk::PushState state;
  Tree_Status pushed = tree_zk::Run(*m_session, __LINE__, [&](bool& retry) {
    return tree_zk::PushOn(*m_session, tree, znode, state, retry);
  });
  if (pushed) {
    // The push stands whatever the collection meets; its failure is only logged.
    tree_zk::ChunkCache cache;
    std::uint64_t deleted = 0;
    if (Tree_Status collected = tree_zk::CollectOn(*m_session, znode, cache, deleted); !collected) {
      tree_zk::Log(4, __LINE__, "push to " + znode + " done; " + collected.Message());
    }
  }
  return pushed;
}

Tree_Status Tree_ZkStore::Pull(const std::string& znode, Tree_NodePtr& tree) {
  if (Tree_Status valid = tree_zk::CheckZnode(znode); !valid) {
    tree_zk::Log(3, __LINE__, valid.Message());
    return valid;
  }
  return tree_zk::Run(*m_session, __LINE__, [&](bool& retry) {
    tree_zk::ChunkCache cache;
    Tree_NodePtr read;
    Tree_Status pulled = tree_zk::PullOn(*m_session, znode, cache, read, retry);
    if (pulled) tree = read;
    return pulled;
  });
}

Tree_Status Tree_ZkStore::Set(const std::string& znode, const std::string& path,
                              const std::string& value, bool force_string) {
  return SetByNames(znode, tree_zk::PathNames(path), value, force_string);
}

Tree_Status Tree_ZkStore::SetByNames(const std::string& znode,
                                     const std::vector<std::string>& names,
                                     const std::string& value, bool force_string) {
  if (Tree_Status valid = tree_zk::CheckZnode(znode); !valid) {
    tree_zk::Log(3, __LINE__, valid.Message());
    return valid;
  }
  tree_zk::ChunkCache cache;  // kept across attempts: a retry reads only what changed
  return tree_zk::Run(*m_session, __LINE__, [&](bool& retry) {
    return tree_zk::SetOn(*m_session, znode, names, value, force_string, cache, retry);
  });
}

Tree_Status Tree_ZkStore::Remove(const std::string& znode, const std::string& path) {
  return RemoveByNames(znode, tree_zk::PathNames(path));
}

Tree_Status Tree_ZkStore::RemoveByNames(const std::string& znode,
                                        const std::vector<std::string>& names) {
  if (Tree_Status valid = tree_zk::CheckZnode(znode); !valid) {
    tree_zk::Log(3, __LINE__, valid.Message());
    return valid;
  }
  tree_zk::ChunkCache cache;
  return tree_zk::Run(*m_session, __LINE__, [&](bool& retry) {
    return tree_zk::RemoveOn(*m_session, znode, names, cache, retry);
  });
}

Tree_Status Tree_ZkStore::CollectGarbage(const std::string& znode, std::uint64_t* deleted) {
  if (Tree_Status valid = tree_zk::CheckZnode(znode); !valid) {
    tree_zk::Log(3, __LINE__, valid.Message());
    return valid;
  }
  std::uint64_t count = 0;
  Tree_Status collected = tree_zk::Run(*m_session, __LINE__, [&](bool& retry) {
    tree_zk::ChunkCache cache;
    Tree_Status status = tree_zk::CollectOn(*m_session, znode, cache, count);
    retry = !status && status.Code() == Tree_StatusCode::kUnavailable;
    return status;
  });
  if (deleted != nullptr) *deleted = count;
  return collected;
}
