// A host that reads and writes JSON; exits 0 when the document round-trips.
#include <string>

#include "formats/Tree_Json.h"

int main() {
  const std::string text = R"({"srv":{"port":80,"name":"web"}})";
  const Tree_NodePtr tree = Tree_Json::Read(text);
  if (tree.get() == nullptr) return 1;
  const Tree_NodePtr port = tree->GetRelativeNode("srv\\port", tree);
  if (port.get() == nullptr || port->GetTreeValue()->GetValue() != "80") return 1;
  std::string out;
  return Tree_Json::Write(tree, out) && Tree_Json::Read(out).get() != nullptr ? 0 : 1;
}
