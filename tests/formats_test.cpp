#include <gtest/gtest.h>

#include <string>

#include "formats/Tree_Diff.h"
#include "formats/Tree_Json.h"
#include "formats/Tree_Text.h"

namespace {

std::string Compact(const Tree_NodePtr& tree) {
  std::string out;
  Tree_JsonWriteOptions options;
  options.indent = -1;
  EXPECT_TRUE(Tree_Json::Write(tree, out, options));
  return out;
}

std::string Text(const Tree_NodePtr& tree) {
  std::string out;
  Tree_Text::Write(tree, out);
  return out;
}

Tree_NodePtr Leaf(const char* name, const char* value, int change = 0) {
  return new Tree_Node(name, new Tree_Value(value, change));
}

Tree_NodePtr Branch(const char* name, const char* value = nullptr, int change = 0) {
  Tree_NodePtr node(new Tree_Node(name));
  if (value != nullptr) node->SetTreeValue(new Tree_Value(value, change));
  return node;
}

struct Rejected {
  const char* input;
  std::size_t line, column;
  const char* message;  // a part of the message
};

// Each input is refused by `Format::Read` at its line and column, for the reason given.
template <class Format>
void ExpectRejected(std::initializer_list<Rejected> cases) {
  for (const Rejected& c : cases) {
    Tree_FormatError error;
    EXPECT_EQ(nullptr, Format::Read(c.input, {}, &error)) << c.input;
    EXPECT_EQ(c.line, error.line) << c.input;
    EXPECT_EQ(c.column, error.column) << c.input;
    EXPECT_NE(std::string::npos, error.message.find(c.message)) << c.input << ": " << error.message;
  }
}

}  // namespace

TEST(JsonFormat, ExportGivesBackEveryAcceptedDocument) {
  const char* documents[] = {
      R"({"b":1,"a":2,"b":3})",                                  // order and duplicates
      R"([0,-0,1.50,-2E+10,123456789012345678901234567890])",    // number literals
      R"({"t":true,"f":false,"n":null,"s":"true","x":"12"})",    // literals against strings
      R"({"e":[],"o":{},"n":{"0":"a","1":"b"},"m":{"1":"a"}})",  // shapes JSON tells apart
      R"([[[]],[{}],{"0":[]}])",
      R"({"u":"é\u0000\u001f\"\\/"})",  // escapes after unescaping
      R"("top")",
      R"("3.0")",
      "42",
      R"([])",
      R"({"@tree":{"value":"v"},"a":1})",  // a value on a branch
      R"({"@tree":{"value":"v"}})",
      R"({"@tree":{"value":"x","changed":-3,"leaf":true}})",  // a changed leaf
      R"({"a":1,"@tree":2})",                                 // a member of that name
  };
  for (const char* document : documents) {
    Tree_FormatError error;
    Tree_NodePtr tree = Tree_Json::Read(document, {}, &error);
    ASSERT_NE(nullptr, tree) << document << ": " << error.ToString();
    EXPECT_EQ(document, Compact(tree));
  }
  // Pretty printing changes only the blanks.
  std::string pretty;
  ASSERT_TRUE(Tree_Json::Write(Tree_Json::Read(documents[3]), pretty));
  EXPECT_EQ(documents[3], Compact(Tree_Json::Read(pretty)));
}

TEST(JsonFormat, MapsMembersToNodesAndNamesTheRoot) {
  Tree_JsonReadOptions options;
  options.root_name = "cfg";
  Tree_NodePtr tree = Tree_Json::Read(R"({"a":{"b":[5,"x"]},"v":"1"})", options);
  ASSERT_NE(nullptr, tree);
  EXPECT_EQ("cfg", tree->KeyName());
  EXPECT_EQ("5", tree->GetValue("a\\b\\0", tree));
  EXPECT_EQ("x", tree->GetValue("a\\b\\1", tree));
  // A string that reads as a number stays a string: held by a childless branch.
  Tree_NodePtr v = tree->GetRelativeNode("v", tree);
  EXPECT_EQ(0, v->IsLeaf());
  EXPECT_EQ("1", v->TreeValue()->Value());
}

TEST(JsonFormat, RejectsWhatItCannotKeepWithTheLineAndColumn) {
  ExpectRejected<Tree_Json>({
      {"{\"a\": \"caf\xe9\"}", 1, 12, "ill-formed UTF-8"},
      {"{\n  \"a\": tru\n}", 2, 11, "invalid literal"},
      {"{\"\": 1}", 1, 4, "empty member name"},
      {"{\" a\": 1}", 1, 6, "blank at either end"},
      {"[1] [2]", 1, 5, "end of input"},
      {R"({"@tree":{}})", 1, 13, "says nothing"},
      {R"({"@tree":{"value":"12"}})", 1, 25, "says nothing"},  // the string "12" would do
      {R"({"@tree":{"changed":1,"value":"x"}})", 1, 30, "come once"},
      {R"({"@tree":{"value":"x","changed":0}})", 1, 35, "nonzero"},
      {R"({"@tree":{"value":"x","changed":1,"leaf":true},"a":1})", 1, 51, "no members"},
      {R"({"@tree":[1]})", 1, 11, "no arrays"},
      {R"({"@tree":{"colour":"x"}})", 1, 19, "unknown @tree field"},
  });
}

TEST(JsonFormat, DeepNestingCostsNoNativeStack) {
  constexpr int kDepth = 100000;
  const std::string document = std::string(kDepth, '[') + std::string(kDepth, ']');
  Tree_NodePtr tree = Tree_Json::Read(document);
  ASSERT_NE(nullptr, tree);
  EXPECT_EQ(kDepth, tree->GetNodeNum());
  EXPECT_EQ(document, Compact(tree));
}

TEST(JsonFormat, AnyTreeSurvivesExportAndImport) {
  Tree_NodePtr root = Branch("root");
  root->Add(Leaf("changed", "80", 1));
  Tree_NodePtr valued = Branch("valued", "on a branch", 2);
  valued->Add(Leaf("child", "x"));
  root->Add(valued);
  root->Add(Branch("childless", "not a literal"));
  Tree_NodePtr fake_array = Branch("fake", "[]");
  fake_array->Add(Leaf("0", "a"));
  root->Add(fake_array);
  Tree_NodePtr reserved = Branch("reserved");
  reserved->Add(Leaf("@tree", "first"));
  root->Add(reserved);
  Tree_NodePtr numbered = Branch("numbered", "{}");
  numbered->Add(Leaf("0", "z"));
  root->Add(numbered);
  root->Add(Branch("object"));

  std::string json;
  ASSERT_TRUE(Tree_Json::Write(root, json));
  Tree_FormatError error;
  Tree_NodePtr back = Tree_Json::Read(json, {}, &error);
  ASSERT_NE(nullptr, back) << error.ToString() << "\n" << json;
  EXPECT_EQ(Text(root), Text(back));

  // JSON strings are Unicode: a byte that is not UTF-8 is refused with the node's path.
  root->Add(Leaf("raw", "\xff"));
  std::string out;
  EXPECT_FALSE(Tree_Json::Write(root, out, {}, &error));
  EXPECT_EQ("root\\raw: not valid UTF-8, which JSON cannot hold (the text format can)",
            error.message);
}

TEST(TextFormat, RoundTripsEveryAwkwardNameAndValue) {
  const std::string awkward[] = {
      "back\\slash", "a = b",     "in ner",  std::string("n\0l", 3), "new\nline", "#hash", "!",
      "*=",          "tab\there", "\x7f\x01"};
  Tree_NodePtr root = Branch("top level");
  for (const std::string& name : awkward) {
    root->Add(new Tree_Node(RWCString(name), new Tree_Value(RWCString(name), 0)));
  }
  const std::string values[] = {
      "", " lead", "trail ", "  ", std::string("\0", 1), "\xff\xfe", "= x", "\\", "#not a comment"};
  int flag = 0;
  for (const std::string& value : values) {
    root->Add(new Tree_Node("dup", new Tree_Value(RWCString(value), flag)));
    flag = flag == 0 ? 1 : -flag - 1;
  }
  Tree_NodePtr valued = Branch("valued", "", 7);
  valued->Add(Branch("no value"));
  valued->Add(Branch("empty value", ""));
  root->Add(valued);
  valued->GetChildAt(0)->SetSingleNodeComplete(false);

  const std::string text = Text(root);
  Tree_FormatError error;
  Tree_NodePtr back = Tree_Text::Read(text, {}, &error);
  ASSERT_NE(nullptr, back) << error.ToString() << "\n" << text;
  EXPECT_EQ(text, Text(back));
  EXPECT_EQ(root->GetChecksum(), back->GetChecksum());
  EXPECT_FALSE(back->GetRelativeNode("valued\\no value", back)->IsSingleNodeComplete());
  EXPECT_EQ(-2, back->GetChildAt(12)->TreeValue()->IsChange());
}

TEST(TextFormat, ReadsCommentsBlanksAndCrLfAndRejectsWithTheLineAndColumn) {
  Tree_NodePtr tree = Tree_Text::Read("# head\r\nr\r\n\r\n  a = 1  \r\n  # inner\n  b *= x\\ \n");
  ASSERT_NE(nullptr, tree);
  EXPECT_EQ("1", tree->GetValue("a", tree));
  EXPECT_EQ("x ", tree->GetValue("b", tree));
  EXPECT_EQ(1, tree->GetRelativeNode("b", tree)->TreeValue()->IsChange());

  ExpectRejected<Tree_Text>({
      {"r\n  a = \\q\n", 2, 7, "unknown escape"},
      {"r\n  a = \\x4\n", 2, 7, "two hex digits"},
      {"r\n a\n", 2, 2, "two spaces"},
      {"r\n    a\n", 2, 5, "deeper"},
      {"r\ns\n", 2, 1, "second top-level"},
      {"r\n  a = 1\n    b\n", 3, 5, "cannot have children"},
      {"r\n\ta\n", 2, 1, "spaces only"},
      {"# only a comment\n", 2, 1, "no node"},
      {"r\n  a=1\n", 2, 4, "'=' in a name"},
      {"r\n  a *0= 1\n", 2, 6, "nonzero"},
      {"r\n  a ? 1\n", 2, 5, "expected"},
      {"r\n  \\  = 1\n", 2, 3, "blank at either end"},
  });
}

TEST(Diff, NamesEachDifferenceAndTrustsEqualChecksums) {
  Tree_NodePtr a = Tree_Text::Read("r\n  x = 1\n  d = 1\n  d = 2\n  s\n    k = v\n");
  Tree_NodePtr b = Tree_Text::Read("q\n  d = 1\n  x = 2\n  n\n    m = 3\n  s\n    k = v\n");
  EXPECT_EQ("- d = 2\n+ n\n+ n\\m = 3\n~ x = 1 -> 2\n", Tree_Diff::Lines(*a.get(), *b.get()));
  EXPECT_EQ("", Tree_Diff::Lines(*a.get(), *a.get()));
  // A change behind a cached checksum stays unseen until the caches are cleared.
  b->GetRelativeNode("s\\k", b)->TreeValue()->SetValue("w");
  EXPECT_EQ(std::string::npos, Tree_Diff::Lines(*a.get(), *b.get()).find("s\\k"));
  b->ExecuteOnEntireSubtree([](Tree_Node* node) { node->SetChecksum(0, true, false); });
  EXPECT_NE(std::string::npos, Tree_Diff::Lines(*a.get(), *b.get()).find("~ s\\k = v -> w"));
}
