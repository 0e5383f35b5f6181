// One request, end to end: a host stores the value 80 as the leaf port under net\srv, reads
// the tree back and watches the library's trace in the log.
#include <cstdio>

#include "Tree/Tree_Node.h"
#include "host/Qor_LogFile.h"

namespace {

void PrintNode(const char* label, const Tree_NodePtr& node) {
  std::printf("%-5s path=%-16s single-node-complete=%d subtree-complete=%d children=%d\n", label,
              node->GetPath().data(), node->IsSingleNodeComplete(), node->IsSubtreeComplete(),
              node->GetChildCount());
}

}  // namespace

int main() {
  // Every message up to level 7 (entry and exit traces included), printed as it comes.
  QorGLog.SetMaxLevel(7);
  QorGLog.SetSink([](const Qor_LogRecord& record) {
    std::printf("  log %s:%d [%d] %s", record.module.c_str(), record.line, record.level,
                record.text.c_str());
  });

  // 1. The root, held by its handle.
  Tree_NodePtr root(new Tree_Node("r"));

  // 2. net\srv, created on the way (protected handle families).
  Tree_NodePtr srv = root->GetOrCreateRelativeNode("net\\srv", root);

  // 3. The leaf port=80, appended to srv.
  Tree_NodePtr port(new Tree_Node("port", new Tree_Value("80", 0)));
  srv->Add(port);

  std::printf("\nThe tree:\n");
  PrintNode("root", root);
  PrintNode("net", root->GetChildAt(0));
  PrintNode("srv", srv);
  PrintNode("port", port);

  // 4. A reader resolves the path again and reads the value.
  Tree_NodePtr found = root->GetRelativeNode("net\\srv\\port", root);
  std::printf("\nnet\\srv\\port = %s\n", found->GetTreeValue()->GetValue().data());

  // 5. An incomplete node makes its ancestors incomplete until it completes again.
  port->SetSingleNodeComplete(false);
  std::printf("\nport marked incomplete: root subtree-complete=%d\n", root->IsSubtreeComplete());
  port->SetSingleNodeComplete(true);
  std::printf("port complete again:   root subtree-complete=%d\n", root->IsSubtreeComplete());

  QorGLog.SetSink({});
  return 0;
}
