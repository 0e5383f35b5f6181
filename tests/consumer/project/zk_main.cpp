// A host that asks a ZooKeeper server that is not there for a tree; exits 0 when the store
// reports the failure within its timeout.
#include <string>

#include "store/Tree_ZkStore.h"

int main() {
  Tree_ZkOptions options;
  options.connect = "127.0.0.1:1";
  options.timeout_ms = 300;
  Tree_ZkStore store(options);
  Tree_NodePtr tree;
  return store.Pull("/consumer", tree) ? 1 : 0;
}
