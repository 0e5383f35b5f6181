// A host that uses the library the way its users do; exits 0 when the value round-trips.
#include "Tree/String_Arr.h"
#include "Tree/Tree_Node.h"
#include "host/Qor_LogFile.h"

int main() {
  Tree_NodePtr root(new Tree_Node("root"));
  Tree_NodePtr srv = root->GetOrCreateRelativeNode("net\\srv", root);
  Tree_NodePtr port(new Tree_Node("port", new Tree_Value("80", 0)));
  srv->Add(port);
  Tree_NodePtr found = root->GetRelativeNode("net\\srv\\port", root);
  return found && found->GetTreeValue()->GetValue() == "80" ? 0 : 1;
}
