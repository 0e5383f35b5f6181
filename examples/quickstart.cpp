// One request, end to end: a host stores the value 80 as the leaf port under net\srv, reads
// the tree back and watches the library's trace in the log; then it reads a value by path,
// lists one level and searches the tree.
#include <cstdio>
#include <memory>

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

  // 6. Reading by path, listing a level, searching. Quiet from here on: only failures.
  QorGLog.SetMaxLevel(3);
  root->GetOrCreateRelativeNode("net\\dns", root)
      ->Add(Tree_NodePtr(new Tree_Node("port", new Tree_Value("53", 0))));
  std::printf("\nGetValue(net\\srv\\port) = %s\n", root->GetValue("net\\srv\\port", root).data());

  std::unique_ptr<String_Arr> services(root->GetSubTreePaths("net", root));
  std::printf("sub trees of net:");
  for (int i = 0; services != nullptr && i < services->GetArrLen(); ++i) {
    std::printf(" %s", services->GetStr(i));
  }
  std::unique_ptr<Tree_PathAndValueArray> values(srv->GetSubTreeValues("", srv));
  std::printf("\nvalues of net\\srv:");
  for (int i = 0; values != nullptr && i < values->GetArrLen(); ++i) {
    std::printf(" %s=%s", values->GetPV(i)->m_path_buf, values->GetPV(i)->m_value_buf);
  }

  // Every port under any parent, with and without the root's name.
  for (int cut_root : {0, 1}) {
    std::unique_ptr<String_Arr> hits(root->Search("port", root, cut_root));
    std::printf("\nSearch(port, cut_root=%d):", cut_root);
    for (int i = 0; hits != nullptr && i < hits->GetArrLen(); ++i) {
      std::printf(" %s", hits->GetStr(i));
    }
  }
  std::printf("\n");

  QorGLog.SetSink({});
  return 0;
}
