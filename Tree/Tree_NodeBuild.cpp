// Path records of a subtree (ConvertTreeNodeToVec) and the detached subtree built back from
// them (BuildSubTree). The conversion keeps its own stack; the build is one pass over the
// sorted records.
#include <cstddef>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "Tree/TreeLog.h"
#include "Tree/Tree_Node.h"

namespace {

using NodeInfoVec = Qor_PtrSortedVector<Tree_NodeInfo>;

// Takes over a record vector: hands its records out in order, one at a time, and on
// destruction deletes every record not handed out, then the vector itself. Every record is
// so deleted exactly once, whichever way the build ends.
class ConsumedRecords {
 public:
  explicit ConsumedRecords(NodeInfoVec* vec) : m_vec(vec), m_count(vec->entries()) {}
  ~ConsumedRecords() {
    for (; m_next < m_count; ++m_next) delete m_vec->at(m_next);
    m_vec->clear();
    delete m_vec;
  }
  ConsumedRecords(const ConsumedRecords&) = delete;
  ConsumedRecords& operator=(const ConsumedRecords&) = delete;

  bool HasNext() const { return m_next < m_count; }
  std::unique_ptr<Tree_NodeInfo> Next() {
    return std::unique_ptr<Tree_NodeInfo>(m_vec->at(m_next++));
  }

 private:
  NodeInfoVec* m_vec;
  std::size_t m_count;  // taken once, at the start
  std::size_t m_next = 0;
};

// Whether `path` begins with `parent_path` and one separator; what follows may be empty.
bool IsBelow(const RWCString& path, const RWCString& parent_path, const RWCString& separator) {
  const std::string_view text = path.view();
  const std::size_t head = parent_path.length();
  return text.size() >= head + separator.length() && text.substr(0, head) == parent_path.view() &&
         text.substr(head, separator.length()) == separator.view();
}

}  // namespace

void Tree_Node::ConvertTreeNodeToVec(const Tree_NodePtr& node, const RWCString& parent_path,
                                     NodeInfoVec* vec) {
  if (node.get() == nullptr) {
    TREE_LOG(3,
             "ConvertTreeNodeToVec(Tree_NodePtr & node, RWCString & parent_path, "
             "Qor_PtrSortedVector<Tree_NodeInfo> * vec) : node is NULL\n");
    return;
  }
  if (vec == nullptr) {
    TREE_LOG(3,
             "ConvertTreeNodeToVec(Tree_NodePtr & node, RWCString & parent_path, "
             "Qor_PtrSortedVector<Tree_NodeInfo> * vec) : vec is NULL\n");
    return;
  }
  // A frame per node whose children are being converted. `path` is the path of the node's
  // own record, which the vector keeps alive and which is its children's parent path.
  struct Frame {
    const Tree_Node* node;
    const RWCString* path;
    int child_count;
    int next_child;
  };
  std::vector<Frame> frames;
  const auto convert = [&](const Tree_Node* at, const RWCString& under) {
    auto record = std::make_unique<Tree_NodeInfo>();
    RWCString& path = record->Path();
    if (under.isNull()) {
      path = at->m_key_name;
    } else {
      path.str().reserve(under.length() + separator.length() + at->m_key_name.length());
      path.append(under).append(separator).append(at->m_key_name);
    }
    if (at->m_allows_children == 0 && at->m_tree_value != nullptr) {
      record->SetValue(at->m_tree_value->Value());
      record->SetIsChange(at->m_tree_value->IsChange());
    }
    record->SetParentPath(under);
    vec->insert(record.get());
    Tree_NodeInfo* const inserted = record.release();
    frames.push_back(Frame{at, &inserted->Path(), at->GetChildCount(), 0});
  };

  convert(node.get(), parent_path);
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next_child >= frame.child_count) {
      frames.pop_back();
      continue;
    }
    const Tree_Node* const child = frame.node->ChildHandle(frame.next_child++).get();
    convert(child, *frame.path);
  }
}

Tree_NodePtr Tree_Node::BuildSubTree(NodeInfoVec* vec, const RWCString& path) {
  if (vec == nullptr) return NULL_TREE_NODE_PTR;
  ConsumedRecords records(vec);

  const std::size_t cut = path.last(separator.data()[0]);
  const RWCString name = cut == RW_NPOS ? path : RWCString(path(cut + 1, path.length() - cut - 1));
  Tree_NodePtr top(new Tree_Node(name));

  // The walking state: runs of siblings keep their parent, and a record directly after its
  // parent's record goes into the branch built last; only other records look their parent up.
  Tree_NodePtr current_parent;
  RWCString last_parent_path;
  RWCString last_path;
  Tree_NodePtr last_container;  // the branch built last

  TREE_LOG(6, "BuildSubTree :: Start build <%s>\n", path.data());
  while (records.HasNext()) {
    const std::unique_ptr<Tree_NodeInfo> record = records.Next();
    const RWCString& record_path = record->Path();
    const RWCString& parent_path = record->ParentPath();
    RWCString key;
    if (parent_path.isNull()) {
      current_parent = top;
      last_parent_path = RWCString();
      key = record_path;
      last_path = record_path;
    } else {
      if (!IsBelow(record_path, parent_path, separator)) {
        TREE_LOG(3,
                 "BuildSubTree : the path <%s> does not begin with its parent path <%s> and a "
                 "separator, the element is skipped\n",
                 record_path.data(), parent_path.data());
        continue;
      }
      if (parent_path == last_parent_path) {
        // the same parent as the record before
      } else if (parent_path == last_path) {
        current_parent = last_container;
        last_parent_path = parent_path;
      } else {
        Tree_Path walk(parent_path);
        current_parent = top->GetOrCreateUnProtectedRelativeNode(walk, top);
        last_parent_path = parent_path;
      }
      last_path = record_path;
      const std::size_t head = parent_path.length() + separator.length();
      key = RWCString(record_path(head, record_path.length() - head));
    }

    if (current_parent.get() == nullptr) {
      // The records not built yet, and the vector, go with `records`; the part built so far
      // goes with `top`.
      TREE_LOG(3, "there is an element without a root in the vec: ");
      TREE_LOG(3, "path_elem_parent_path\n");
      return NULL_TREE_NODE_PTR;
    }
    Tree_NodePtr child;
    if (!record->Value().isNull()) {
      child = Tree_NodePtr(new Tree_Node(key, new Tree_Value(record->Value(), record->IsChange())));
    } else {
      child = Tree_NodePtr(new Tree_Node(key));
      last_container = child;
    }
    current_parent->Add(child);  // a refused node is dropped with its handle
  }

  top->SetVirtualParentPath(path);
  TREE_LOG(6, "BuildSubTree :: End build <%s>\n", path.data());
  return top;
}
