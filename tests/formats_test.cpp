#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "formats/Tree_ByteInput.h"
#include "formats/Tree_Diff.h"
#include "formats/Tree_FormatIo.h"
#include "formats/Tree_Json.h"
#include "formats/Tree_JsonMapping.h"
#include "formats/Tree_Text.h"

namespace {

std::string Compact(const Tree_NodePtr& tree, bool exact = false) {
  std::string out;
  Tree_JsonWriteOptions options;
  options.compact = true;
  options.exact = exact;
  EXPECT_TRUE(Tree_Json::Write(tree, out, options));
  return out;
}

Tree_NodePtr ReadJson(std::string_view document, bool exact = false) {
  Tree_JsonReadOptions options;
  options.exact = exact;
  Tree_FormatError error;
  Tree_NodePtr tree = Tree_Json::Read(document, options, &error);
  EXPECT_NE(nullptr, tree) << document << ": " << error.ToString();
  return tree;
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
template <class Format, class Options>
void ExpectRejected(std::initializer_list<Rejected> cases, const Options& options) {
  for (const Rejected& c : cases) {
    Tree_FormatError error;
    EXPECT_EQ(nullptr, Format::Read(c.input, options, &error)) << c.input;
    EXPECT_EQ(c.line, error.line) << c.input;
    EXPECT_EQ(c.column, error.column) << c.input;
    EXPECT_NE(std::string::npos, error.message.find(c.message)) << c.input << ": " << error.message;
  }
}

}  // namespace

TEST(JsonFormat, ExportGivesBackEveryAcceptedDocument) {
  const char* documents[] = {
      R"({"b":1,"a":2,"b":3})",                                      // order and duplicates
      R"([0,-0,1.50,-2E+10,123456789012345678901234567890,1e400])",  // number literals
      R"({"t":true,"f":false,"n":null,"s":"true","x":"12","v":"1.0","e":""})",
      R"({"e":[],"o":{},"n":{"0":"a","1":"b"},"m":{"1":"a"},"a":["x"]})",  // shapes
      R"([[[]],[{}],{"0":[]}])",
      R"({"u":"é\u0000\u001f\"\\/"})",  // escapes after unescaping
      R"("top")",
      R"("3.0")",
      "42",
      "null",
      R"([])",
      R"({"@tree":{"value":"v"},"a":1})",  // a value on a branch
      R"({"@tree":{"value":"12"}})",       // on a childless one
      R"({"a":1,"@tree":2})",              // a member of that name
  };
  for (bool exact : {false, true}) {
    for (const char* document : documents) {
      Tree_NodePtr tree = ReadJson(document, exact);
      ASSERT_NE(nullptr, tree);
      EXPECT_EQ(document, Compact(tree, exact)) << "exact " << exact;
      // The text format carries every kind too.
      EXPECT_EQ(document, Compact(Tree_Text::Read(Text(tree)), exact)) << Text(tree);
    }
  }
  // Exact mode alone gives back change flags and incomplete marks; plain import reads a
  // user's own "@tree" member as data and gives it back as it was.
  for (const char* document : {R"({"@tree":{"value":"x","changed":-3,"leaf":true}})",
                               R"({"a":{"@tree":{"value":80,"changed":1,"leaf":true}}})",
                               R"({"@tree":{"incomplete":true},"a":[]})"}) {
    EXPECT_EQ(document, Compact(ReadJson(document, true), true));
    EXPECT_EQ(document, Compact(ReadJson(document, false), false));
  }
  // Pretty printing changes only the blanks.
  std::string pretty;
  ASSERT_TRUE(Tree_Json::Write(Tree_Json::Read(documents[3]), pretty));
  EXPECT_EQ(documents[3], Compact(Tree_Json::Read(pretty)));
}

TEST(JsonFormat, ScalarsAreTypedLeavesAndPlainExportDropsOnlyMarks) {
  Tree_JsonReadOptions options;
  options.root_name = "cfg";
  Tree_NodePtr tree = Tree_Json::Read(R"({"a":{"b":[5,"x"]},"v":"1","e":[]})", options);
  ASSERT_NE(nullptr, tree);
  EXPECT_EQ("cfg", tree->KeyName());
  EXPECT_EQ("5", tree->GetValue("a\\b\\0", tree));
  const auto kind = [&](const char* path) { return tree->GetRelativeNode(path, tree)->GetKind(); };
  EXPECT_EQ(Tree_NodeKind::kNumber, kind("a\\b\\0"));
  EXPECT_EQ(Tree_NodeKind::kString, kind("a\\b\\1"));
  EXPECT_EQ(Tree_NodeKind::kArray, kind("a\\b"));
  EXPECT_EQ(Tree_NodeKind::kObject, kind("a"));
  EXPECT_EQ(Tree_NodeKind::kArray, kind("e"));
  // A string that reads as a number is a leaf, so every operation carries its value.
  Tree_NodePtr v = tree->GetRelativeNode("v", tree);
  EXPECT_EQ(1, v->IsLeaf());
  EXPECT_EQ(Tree_NodeKind::kString, v->GetKind());

  // A changed value and an incomplete node stay plain JSON unless exact is asked for.
  v->TreeValue()->SetValue("2");
  v->TreeValue()->SetIsChange(1);
  tree->GetRelativeNode("a", tree)->SetSingleNodeComplete(false);
  EXPECT_EQ(R"({"a":{"b":[5,"x"]},"v":"2","e":[]})", Compact(tree));
  EXPECT_EQ(R"({"a":{"@tree":{"incomplete":true},"b":[5,"x"]},)"
            R"("v":{"@tree":{"value":"2","changed":1,"leaf":true}},"e":[]})",
            Compact(tree, true));

  // Untyped nodes, as host code makes them, follow the export rule.
  Tree_NodePtr host = Branch("host");
  for (const char* value :
       {"8080", "1.0", "-0", "true", "null", "01", "web", "1.", "nul", "false", "nulls", "-"}) {
    host->Add(Leaf(value, value));
  }
  host->Add(Leaf("empty", ""));
  host->Add(Branch("none"));
  Tree_NodePtr list = Branch("list");
  list->Add(Leaf("0", "a"));
  host->Add(list);
  EXPECT_EQ(R"({"8080":8080,"1.0":1.0,"-0":-0,"true":true,"null":null,"01":"01","web":"web",)"
            R"("1.":"1.","nul":"nul","false":false,"nulls":"nulls","-":"-","empty":"",)"
            R"("none":{},"list":["a"]})",
            Compact(host));
  // A typed node whose kind no longer fits what it holds falls back to the same rule.
  Tree_NodePtr number = host->GetRelativeNode("8080", host);
  number->SetKind(Tree_NodeKind::kNumber);
  number->TreeValue()->SetValue("eighty");
  EXPECT_EQ(Tree_NodeKind::kString, Tree_JsonMapping::ExportKind(*number.get()));
}

TEST(JsonFormat, RenumberedElementsKeepAllButTheirNames) {
  const char* rest = R"({"@tree":{"incomplete":true},"a":1},)"
                     R"({"@tree":{"value":"v","changed":2,"leaf":true}},)"
                     R"({"@tree":{"value":"held"},"b":[]},{"0":1}])";
  Tree_NodePtr tree = ReadJson(std::string(R"(["gone",)") + rest, true);
  ASSERT_NE(nullptr, tree);
  tree->Remove(0);
  Tree_JsonMapping::RenumberElements(*tree.get());
  EXPECT_EQ(std::string("[") + rest, Compact(tree, true));
  EXPECT_EQ("v", tree->GetValue("1", tree));  // found by its new name
  // An object whose members look like indexes is left as it is.
  Tree_NodePtr object = tree->GetRelativeNode("3", tree);
  object->Remove(0);
  object->Add(Leaf("1", "x"));
  Tree_JsonMapping::RenumberArrays(*tree.get());
  EXPECT_EQ(R"({"1":"x"})", Compact(object));
}

TEST(JsonFormat, RejectsWhatItCannotKeepWithTheLineAndColumn) {
  const std::string indented =
      "{\n" + std::string(37, ' ') + "\"a\":" + std::string(16, ' ') + "x}";
  const std::initializer_list<Rejected> malformed = {
      {"{\"a\": \"caf\xe9\"}", 1, 11, "ill-formed UTF-8"},
      {"{\n  \"a\": tru\n}", 2, 8, "invalid literal"},
      // Runs of blanks longer than one test of them.
      {indented.c_str(), 2, 58, "expected a value"},
      {"{\"\": 1}", 1, 2, "empty member name"},
      {"{\" a\": 1}", 1, 2, "blank at either end"},
      {"[1] [2]", 1, 5, "end of input"},
  };
  Tree_JsonReadOptions exact;
  exact.exact = true;
  ExpectRejected<Tree_Json>(malformed, Tree_JsonReadOptions{});
  ExpectRejected<Tree_Json>(malformed, exact);
  ExpectRejected<Tree_Json>(
      {
          {R"({"@tree":{}})", 1, 12, "says nothing"},
          {R"({"@tree":{"changed":1,"value":"x"}})", 1, 23, "come once"},
          {R"({"@tree":{"value":"x","changed":0}})", 1, 33, "nonzero"},
          {R"({"@tree":{"value":"x","changed":1,"leaf":true},"a":1})", 1, 48, "no members"},
          {R"({"@tree":[1]})", 1, 10, "expected an object"},
          {R"({"@tree":{"colour":"x"}})", 1, 11, "unknown @tree field"},
      },
      exact);
}

TEST(JsonFormat, DeepNestingCostsNoNativeStack) {
  constexpr int kDepth = 100000;
  const std::string document = std::string(kDepth, '[') + std::string(kDepth, ']');
  Tree_NodePtr tree = Tree_Json::Read(document);
  ASSERT_NE(nullptr, tree);
  EXPECT_EQ(kDepth, tree->GetNodeNum());
  EXPECT_EQ(document, Compact(tree));
}

TEST(JsonFormat, StringsAreExactAtEveryPositionAndAcrossChunks) {
  // What each special sequence reads as; a null `text` means the reader refuses it, naming
  // the sequence's first byte.
  struct Special {
    const char* json;
    const char* text;
  };
  const Special specials[] = {
      {"\\\"", "\""},
      {"\\\\", "\\"},
      {"\\n", "\n"},
      {"\\u0001", "\x01"},
      {"\\ud83d\\ude00", "\xf0\x9f\x98\x80"},
      {"\xc3\xa9", "\xc3\xa9"},
      {"\xe2\x82\xac", "\xe2\x82\xac"},
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
      {"\x7f", "\x7f"},
      {"\x01", nullptr},
      {"\x1f", nullptr},
      {"\x80", nullptr},
      {"\xff", nullptr},
      {"\xed\xa0\x80", nullptr},
      {"\xc3(", nullptr},
  };
  for (const Special& special : specials) {
    for (std::size_t before = 0; before < 40; ++before) {
      const std::string head(before, 'a');
      const std::string tail(before % 7 + 17, 'b');
      const std::string value = "[\"" + head + special.json + tail + "\"]";
      Tree_FormatError error;
      Tree_NodePtr tree = Tree_Json::Read(value, {}, &error);
      if (special.text == nullptr) {
        EXPECT_EQ(nullptr, tree) << value;
        EXPECT_EQ(before + 2, error.offset) << value;
        continue;
      }
      ASSERT_NE(nullptr, tree) << value << ": " << error.ToString();
      const std::string expected = head + special.text + tail;
      EXPECT_EQ(expected, tree->GetValue("0", tree).str()) << value;
      // Export escapes what it must wherever it stands, and reads back to the same text.
      Tree_NodePtr again = ReadJson(Compact(tree));
      ASSERT_NE(nullptr, again);
      EXPECT_EQ(expected, again->GetValue("0", again).str()) << Compact(tree);
    }
    // A stream is read in bounded chunks: the sequence and the string's quotes may be split
    // between two of them at any byte.
    for (std::size_t split = 0; split < 8; ++split) {
      const std::string pad(Tree_ByteInput::kChunk - 2 - split, 'p');
      const std::string document = "[\"" + pad + special.json + "\",\"" + special.json + "\"]";
      std::istringstream in(document);
      Tree_FormatError error;
      Tree_NodePtr tree = Tree_Json::Read(in, {}, &error);
      if (special.text == nullptr) {
        EXPECT_EQ(nullptr, tree) << split;
        EXPECT_EQ(pad.size() + 2, error.offset) << split;
        continue;
      }
      ASSERT_NE(nullptr, tree) << split << ": " << error.ToString();
      EXPECT_EQ(pad + special.text, tree->GetValue("0", tree).str()) << split;
      EXPECT_EQ(special.text, tree->GetValue("1", tree).str()) << split;
    }
  }
  // Numbers too: a literal split between two chunks at any byte reads whole, and a bad one
  // is refused at the same byte as from one buffer.
  for (std::size_t split = 0; split < 12; ++split) {
    const std::string pad(Tree_ByteInput::kChunk - 2 - split, 'p');
    for (const char* number : {"-12.5e+3", "-1.e5", "0123"}) {
      const std::string document = "[\"" + pad + "\"," + number + ",7]";
      std::istringstream in(document);
      Tree_FormatError streamed, whole;
      Tree_NodePtr tree = Tree_Json::Read(in, {}, &streamed);
      Tree_NodePtr same = Tree_Json::Read(document, {}, &whole);
      if (std::string_view(number) != "-12.5e+3") {
        EXPECT_EQ(nullptr, tree) << split << number;
        EXPECT_EQ(nullptr, same) << split << number;
        EXPECT_EQ(whole.offset, streamed.offset) << split << number;
        EXPECT_EQ(whole.message, streamed.message) << split << number;
        continue;
      }
      ASSERT_NE(nullptr, tree) << split << ": " << streamed.ToString();
      EXPECT_EQ("-12.5e+3", tree->GetValue("1", tree).str()) << split;
      EXPECT_EQ(Tree_NodeKind::kNumber, tree->GetRelativeNode("1", tree)->GetKind());
      EXPECT_EQ("7", tree->GetValue("2", tree).str()) << split;
    }
  }
}

TEST(JsonFormat, AnyTreeSurvivesExactExportAndImport) {
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
  Tree_NodePtr typed = Leaf("typed", "1.0");
  typed->SetKind(Tree_NodeKind::kString);
  root->Add(typed);

  std::string json;
  Tree_JsonWriteOptions write;
  write.exact = true;
  ASSERT_TRUE(Tree_Json::Write(root, json, write));
  Tree_NodePtr back = ReadJson(json, true);
  ASSERT_NE(nullptr, back) << json;
  EXPECT_EQ(Compact(root, true), Compact(back, true));
  EXPECT_EQ(root->GetChecksum(), back->GetChecksum());
  EXPECT_EQ(2, back->GetRelativeNode("valued", back)->TreeValue()->IsChange());
  // Plain export keeps every value and its type; only the marks are gone.
  Tree_NodePtr plain = ReadJson(Compact(root));
  ASSERT_NE(nullptr, plain);
  EXPECT_EQ(Compact(root), Compact(plain));
  EXPECT_EQ("80", plain->GetValue("changed", plain));
  EXPECT_EQ(0, plain->GetRelativeNode("changed", plain)->TreeValue()->IsChange());
  // Plain import reads a descriptor as the member it is in the document.
  EXPECT_EQ("on a branch", plain->GetValue("valued\\@tree\\value", plain));

  // JSON strings are Unicode: a byte that is not UTF-8 is refused with the node's path.
  root->Add(Leaf("raw", "\xff"));
  std::string out;
  Tree_FormatError error;
  EXPECT_FALSE(Tree_Json::Write(root, out, {}, &error));
  EXPECT_EQ("root\\raw: not valid UTF-8, which JSON cannot hold (the text format can)",
            error.message);
}

TEST(TextFormat, RoundTripsEveryAwkwardNameAndValue) {
  const std::string awkward[] = {
      "back\\slash", "a = b",     "in ner",  std::string("n\0l", 3), "new\nline", "#hash", "!",
      "*=",          "tab\there", "\x7f\x01"};
  // The top node's name opens the text, so its leading byte order mark must not be taken
  // for the one a reader skips.
  Tree_NodePtr root = Branch("\xef\xbb\xbftop level");
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

  // Nor may a top node's name make unnamed input read as JSON.
  for (const char* name : {"[x", "{a", "\"q", "123", "true", "-5"}) {
    Tree_NodePtr top = Branch(name);
    for (bool bare : {true, false}) {
      const std::string written = Text(top);
      EXPECT_EQ(Tree_Format::kText, Tree_FormatIo::Sniff(written)) << written;
      EXPECT_EQ(name, Tree_Text::Read(written)->KeyName()) << written;
      if (bare) top->Add(Leaf("a", "1"));
    }
  }
}

TEST(TextFormat, LongTextsKeepEveryEscapeAndAStreamGetsTheSameBytes) {
  // Each byte that needs care, at the ends and the middle of texts around the writers' steps
  // (16 bytes a load, pieces of 4096), as names, plain values and typed strings.
  const std::string tricky[] = {" ",       "\\", "\n", "=", "#", "\"", "\x7f", std::string("\0", 1),
                                "\xc3\xa9"};
  Tree_NodePtr root = Branch("root");
  Tree_NodePtr object = Branch("object");
  object->SetKind(Tree_NodeKind::kObject);
  root->Add(object);
  int count = 0;
  for (const std::size_t length : {1, 15, 16, 17, 20, 31, 33, 4095, 4096, 4097, 9000}) {
    for (const std::string& byte : tricky) {
      // The last of a text's few bytes past its sixteen-byte steps are tested together.
      for (const std::size_t at :
           {std::size_t{0}, length / 2, length - (length > 3 ? 3 : 1), length - 1}) {
        std::string text(length, 'x');
        text.replace(at, 1, byte);
        root->Add(new Tree_Node(RWCString("n" + text + "n"), new Tree_Value(RWCString(text), 0)));
        Tree_NodePtr typed(new Tree_Node(RWCString("s" + std::to_string(count++)),
                                         new Tree_Value(RWCString(text), 0)));
        typed->SetKind(Tree_NodeKind::kString);
        object->Add(typed);
      }
    }
  }
  const std::string text = Text(root);
  Tree_FormatError error;
  Tree_NodePtr back = Tree_Text::Read(text, {}, &error);
  ASSERT_NE(nullptr, back) << error.ToString();
  EXPECT_EQ("", Tree_Diff::Lines(*root.get(), *back.get()));
  EXPECT_EQ(root->GetNodeNum(), back->GetNodeNum());
  std::ostringstream stream;
  ASSERT_TRUE(Tree_Text::Write(root, stream));
  EXPECT_EQ(text, stream.str());
  // JSON escapes its own set, a multibyte sequence across a piece boundary included.
  Tree_NodePtr json = ReadJson(Compact(object));
  ASSERT_NE(nullptr, json);
  EXPECT_EQ("", Tree_Diff::Lines(*object.get(), *json.get()));
  std::ostringstream json_stream;
  ASSERT_TRUE(Tree_Json::Write(object, json_stream, {}));
  EXPECT_EQ("", Tree_Diff::Lines(*object.get(), *ReadJson(json_stream.str()).get()));
  // Appending keeps what the string held.
  std::string appended = "kept\n";
  ASSERT_TRUE(Tree_Text::Write(root, appended));
  EXPECT_EQ("kept\n" + text, appended);
}

TEST(TextFormat, ReadsCommentsBlanksAndCrLfAndRejectsWithTheLineAndColumn) {
  Tree_NodePtr tree = Tree_Text::Read("# head\r\nr\r\n\r\n  a = 1  \r\n  # inner\n  b *= x\\ \n");
  ASSERT_NE(nullptr, tree);
  EXPECT_EQ("1", tree->GetValue("a", tree));
  EXPECT_EQ("x ", tree->GetValue("b", tree));
  EXPECT_EQ(1, tree->GetRelativeNode("b", tree)->TreeValue()->IsChange());

  ExpectRejected<Tree_Text>(
      {
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
          // Writers escape control bytes, so a raw one in a name or a value is refused.
          {"12\x01\n", 1, 3, "write it as \\x01"},
          {"r\n  a = x\x7f\n", 2, 8, "write it as \\x7f"},
          {"r\n  a = \"\x1b\"\n", 2, 8, "raw control byte"},
      },
      Tree_TextReadOptions{});
}

TEST(Diff, NamesEachDifferenceAndItsTypeChange) {
  Tree_NodePtr a = Tree_Text::Read("r\n  x = 1\n  d = 1\n  d = 2\n  s\n    k = v\n");
  Tree_NodePtr b = Tree_Text::Read("q\n  d = 1\n  x = 2\n  n\n    m = 3\n  s\n    k = v\n");
  EXPECT_EQ("- d = 2\n+ n\n+ n\\m = 3\n~ x = 1 -> 2\n", Tree_Diff::Lines(*a.get(), *b.get()));
  Tree_DiffOptions pointers;
  pointers.pointer = true;
  b->GetRelativeNode("n", b)->Add(Leaf("a/b~\\", "4"));
  EXPECT_EQ("- /d = 2\n+ /n\n+ /n/m = 3\n+ /n/a~1b~0\\ = 4\n~ /x = 1 -> 2\n",
            Tree_Diff::Lines(*a.get(), *b.get(), pointers));
  EXPECT_EQ("", Tree_Diff::Lines(*a.get(), *a.get()));
  // Cached checksums are not trusted: a change below an unchanged one is seen.
  b->GetRelativeNode("s", b)->GetChecksum();
  b->GetRelativeNode("s\\k", b)->TreeValue()->SetValue("w");
  EXPECT_NE(std::string::npos, Tree_Diff::Lines(*a.get(), *b.get()).find("~ s\\k = v -> w"));

  // Types are compared as JSON writes them: an untyped tree equals the typed document it
  // exports as, and a change of type alone is named.
  Tree_NodePtr typed = ReadJson(R"({"v":"1.0","p":8080,"o":{},"l":["a"],"t":true})");
  Tree_NodePtr untyped = Tree_Text::Read(
      "r\n  v (untyped) = 1.0\n  p (untyped) = 8080\n"
      "  o\n  l\n    0 (untyped) = a\n  t (untyped) = true\n");
  ASSERT_NE(nullptr, untyped);
  EXPECT_EQ("~ v = \"1.0\" -> 1.0\n", Tree_Diff::Lines(*typed.get(), *untyped.get()));
  typed->GetRelativeNode("v", typed)->SetKind(Tree_NodeKind::kUntyped);
  EXPECT_EQ("", Tree_Diff::Lines(*typed.get(), *untyped.get()));
  typed->GetRelativeNode("o", typed)->SetKind(Tree_NodeKind::kArray);
  EXPECT_EQ("~ o = {} -> []\n", Tree_Diff::Lines(*untyped.get(), *typed.get()));
}
