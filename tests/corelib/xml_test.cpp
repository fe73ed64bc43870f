#include "qv/xml.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace xml = qv::xml;
namespace fs = std::filesystem;

namespace {

std::string u8(const xml::string& s) { return xml::to_utf8(s); }

xml::element_ptr parse(const std::string& text) {
  xml::basic_xml_dom_parser p;
  if (!p.parse_buffer(text)) return nullptr;
  return p.root();
}

using tiv_test::TempDir;

const char kDoc[] =
    "<Root a='1'>"
    "<VID Value='18D1'><ProductId>pixel</ProductId><PIDs/></VID>"
    "<VID Value='04E8'><ProductId>galaxy</ProductId></VID>"
    "<b/>"
    "</Root>";

}  // namespace

TEST(XmlPath, ResultCodesAndElementsFromTheRoot) {
  auto root = parse(kDoc);
  ASSERT_TRUE(root);
  struct Case {
    const char16_t* path;
    int code;
    const char* found_name;  // null: nothing returned
    const char* found_text;  // checked when not null
    const char16_t* attribute;
  };
  const Case cases[] = {
      {u"/Root", 0, "Root", nullptr, u""},
      {u"/Other", 3, nullptr, nullptr, u""},
      {u"/root", 3, nullptr, nullptr, u""},  // names are case-sensitive
      {u"", 2, nullptr, nullptr, u""},
      {u"/", 2, "Root", nullptr, u""},  // the empty absolute path gives the context
      {u"VID/ProductId", 0, "ProductId", "pixel", u""},  // first child of a name wins
      {u"/Root/VID/ProductId", 0, "ProductId", "pixel", u""},
      {u"/Root/VID/PIDs", 0, "PIDs", "", u""},
      {u"/Root/missing", 5, nullptr, nullptr, u""},
      {u"VID/ProductId/deeper", 5, nullptr, nullptr, u""},
      {u"VID/@Value", 0, "VID", nullptr, u"Value"},
      {u"@a", 0, "Root", nullptr, u"a"},
      {u"/Root/@a", 0, "Root", nullptr, u"a"},
      {u"ns:x_1", 5, nullptr, nullptr, u""},  // every permitted character, no such child
      {u"a b", 2, nullptr, nullptr, u""},
      {u"a-b", 2, nullptr, nullptr, u""},
      {u"VID//ProductId", 2, nullptr, nullptr, u""},
      {u"/Root/", 2, nullptr, nullptr, u""},
      {u"//Root", 2, nullptr, nullptr, u""},
      {u"VID/@Value/x", 2, nullptr, nullptr, u""},  // "@" only last
      {u"V@D", 2, nullptr, nullptr, u""},
      {u"@", 2, nullptr, nullptr, u""},
      {u"/@a", 2, nullptr, nullptr, u""},
      {u"VID.x", 2, nullptr, nullptr, u""},
      {u"VID/Pr\u00f6ductId", 2, nullptr, nullptr, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(u8(c.path));
    xml::basic_xml_path path(c.path);
    xml::element_ptr found = root;  // must be replaced, not kept
    EXPECT_EQ(xml::select(root, path, found), c.code);
    if (c.found_name) {
      ASSERT_TRUE(found);
      EXPECT_EQ(u8(found->name()), c.found_name);
      if (c.found_text) {
        EXPECT_EQ(u8(found->text()), c.found_text);
      }
    } else {
      EXPECT_FALSE(found);
    }
    if (c.code == 0) {
      EXPECT_EQ(path.attribute(), c.attribute);
    }
  }
}

TEST(XmlPath, AbsolutePathRelativeToAnInnerElement) {
  auto root = parse(kDoc);
  ASSERT_TRUE(root);
  auto second = root->child(1);
  ASSERT_TRUE(second);
  xml::element_ptr found;
  EXPECT_EQ(xml::select(second, u"/VID/ProductId", found), 0);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->text(), u"galaxy");
  EXPECT_EQ(xml::select(second, u"/Root/VID", found), 3);
  EXPECT_FALSE(found);
}

TEST(XmlElement, ChildrenByIndexAndNameAndReferences) {
  auto root = parse(kDoc);
  ASSERT_TRUE(root);
  ASSERT_EQ(root->child_count(), 3u);
  EXPECT_EQ(root->child(2)->name(), u"b");
  EXPECT_FALSE(root->child(3));
  EXPECT_FALSE(root->child(static_cast<std::size_t>(-1)));
  EXPECT_FALSE(root->child(u"vid"));

  xml::element_ptr vid = root->child(u"VID");
  ASSERT_TRUE(vid);
  EXPECT_EQ(*vid->attribute(u"Value"), u"18D1");
  EXPECT_EQ(vid->attribute(u"value"), nullptr);
  EXPECT_EQ(root->child(2)->attributes(), nullptr);
  // The list holds one reference and this pointer another.
  EXPECT_EQ(vid->ref_count(), 2);
  {
    xml::element_ptr again = root->child(0);
    EXPECT_EQ(vid->ref_count(), 3);
  }
  EXPECT_EQ(vid->ref_count(), 2);
  EXPECT_EQ(vid->parent(), root.get());

  // A child kept past its document no longer points at it.
  root = nullptr;
  EXPECT_EQ(vid->ref_count(), 1);
  EXPECT_EQ(vid->parent(), nullptr);
  EXPECT_EQ(vid->child(u"ProductId")->text(), u"pixel");
}

TEST(XmlElement, AttributesKeepOrderAndReplaceInPlace) {
  auto e = xml::basic_xml_element::create(u"e");
  e->set_attribute(u"z", u"1");
  e->set_attribute(u"a", u"2");
  e->set_attribute(u"z", u"3");
  ASSERT_EQ(e->attributes()->size(), 2u);
  EXPECT_EQ(e->attributes()->at(0).first, u"z");
  EXPECT_EQ(e->attributes()->at(0).second, u"3");
  EXPECT_EQ(e->attributes()->at(1).first, u"a");
  EXPECT_EQ(xml::serialize(*e), "<e  z='3'  a='2' />");
}

TEST(XmlElement, TreeStaysATree) {
  auto a = xml::basic_xml_element::create(u"a");
  auto b = xml::basic_xml_element::create(u"b");
  EXPECT_TRUE(a->append_child(b));
  EXPECT_FALSE(b->append_child(a));  // would be a cycle
  EXPECT_FALSE(a->append_child(a));
  EXPECT_FALSE(a->append_child(b));  // already has a parent
  EXPECT_FALSE(a->append_child(nullptr));
  EXPECT_EQ(a->child_count(), 1u);
}

TEST(XmlSerialize, ExactBytes) {
  auto node = xml::basic_xml_element::create(u"node");
  node->set_attribute(u"title", u"T");
  node->set_attribute(u"date", u"2024");
  EXPECT_EQ(xml::serialize(*node), "<node  title='T'  date='2024' />");

  auto root = xml::basic_xml_element::create(u"r");
  auto a = xml::basic_xml_element::create(u"a");
  a->set_text(u"x<y&z>\"w\"\tq\r\n\x1f\u00e9");
  root->append_child(a);
  root->append_child(node);
  auto empty = xml::basic_xml_element::create(u"e");
  root->append_child(empty);
  EXPECT_EQ(xml::serialize(*root),
            "<r ><a >x&lt;y&amp;z&gt;&quot;w&quot;&#09;q&#13;&#10;&#31;\xc3\xa9</a>"
            "<node  title='T'  date='2024' /><e /></r>");

  auto text_only = xml::basic_xml_element::create(u"t");
  text_only->set_text(u"v");
  EXPECT_EQ(xml::serialize(*text_only), "<t >v</t>");
}

TEST(XmlSerialize, ApostropheAndSpecialsRoundTrip) {
  const xml::string value = u"it's <\"five\"> & \u4e2d\U0001F600";
  auto e = xml::basic_xml_element::create(u"p");
  e->set_attribute(u"v", value);
  e->set_text(value);
  const std::string text = xml::serialize(*e);
  EXPECT_NE(text.find("it&apos;s"), std::string::npos);
  auto back = parse(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back->attribute(u"v"), value);
  EXPECT_EQ(back->text(), value);
}

TEST(XmlParse, BadDocumentsFailAndLeaveNoRoot) {
  const char* bad[] = {
      "",
      "   ",
      "<a>",
      "<a></b>",
      "<a/><b/>",  // two roots
      "<a/>junk",
      "text only",
      "<a x='1' x='2'/>",
      "<a>&undefined;</a>",
      "<a>\xff\xfe</a>",  // not UTF-8
  };
  for (const char* doc : bad) {
    SCOPED_TRACE(doc);
    xml::basic_xml_dom_parser p;
    ASSERT_TRUE(p.parse_buffer("<ok/>"));
    EXPECT_FALSE(p.parse_buffer(doc));
    EXPECT_FALSE(p.root());
  }
}

TEST(XmlParse, EntityBombsFail) {
  std::string laughs =
      "<?xml version='1.0'?><!DOCTYPE lolz [<!ENTITY lol 'lol'>";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY lol" + std::to_string(i) + " '";
    for (int k = 0; k < 10; ++k)
      laughs += "&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";";
    laughs += "'>";
  }
  laughs += "]><lolz>&lol9;</lolz>";
  xml::basic_xml_dom_parser p;
  EXPECT_FALSE(p.parse_buffer(laughs));
  EXPECT_FALSE(p.root());

  // A quadratic blow-up (one large entity used many times) fails the same way.
  std::string quad = "<!DOCTYPE a [<!ENTITY x '" + std::string(1000, 'x') + "'>]><a>";
  for (int i = 0; i < 1000; ++i) quad += "&x;";
  quad += "</a>";
  EXPECT_FALSE(p.parse_buffer(quad));
}

TEST(XmlParse, DepthIsBounded) {
  auto nested = [](std::size_t depth) {
    std::string s;
    for (std::size_t i = 0; i < depth; ++i) s += "<d>";
    for (std::size_t i = 0; i < depth; ++i) s += "</d>";
    return s;
  };
  xml::basic_xml_dom_parser p;
  EXPECT_TRUE(p.parse_buffer(nested(xml::basic_xml_dom_parser::kMaxDepth)));
  EXPECT_FALSE(p.parse_buffer(nested(xml::basic_xml_dom_parser::kMaxDepth + 1)));
  EXPECT_FALSE(p.parse_buffer(nested(100000)));
}

TEST(XmlParse, TextCdataAndNulTerminatedBuffer) {
  xml::basic_xml_dom_parser p;
  ASSERT_TRUE(p.parse_buffer("<a>one<b>in b</b>two<![CDATA[<raw>&]]>&amp;&#x4e2d;</a>", -1));
  auto a = p.root();
  EXPECT_EQ(a->text(), u"onetwo<raw>&&\u4e2d");
  ASSERT_EQ(a->cdata().size(), 1u);
  EXPECT_EQ(a->cdata()[0].text, u"<raw>&");
  EXPECT_EQ(a->child(0)->text(), u"in b");

  // A length shorter than the text: only that much is the document.
  const char text[] = "<a/><b/>";
  EXPECT_TRUE(p.parse_buffer(text, 4));
  EXPECT_FALSE(p.parse_buffer(text, -1));
  EXPECT_FALSE(p.parse_buffer(nullptr, 0));
}

TEST(XmlFile, SaveAndParseWithUnicodeNames) {
  TempDir dir;
  const xml::string file = dir.path().u16string() + u"/d\u00e9j\u00e0 \u4e2d.xml";
  auto root = xml::basic_xml_element::create(u"contacts");
  auto c = xml::basic_xml_element::create(u"contact");
  c->set_attribute(u"name", u"Zo\u00eb");
  c->set_text(u"+49 30 1234");
  root->append_child(c);
  ASSERT_TRUE(xml::save_file(*root, file));

  std::string bytes;
  {
    std::ifstream in(fs::path(file), std::ios::binary);  // closed again: Windows cannot replace an open file
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  EXPECT_EQ(bytes, "<contacts ><contact  name='Zo\xc3\xab' >+49 30 1234</contact></contacts>");

  xml::basic_xml_dom_parser p;
  ASSERT_TRUE(p.parse_file(file));
  EXPECT_EQ(*p.root()->child(0)->attribute(u"name"), u"Zo\u00eb");

  // Saving again replaces the file rather than appending.
  c->set_text(u"");
  ASSERT_TRUE(xml::save_file(*root, file));
  ASSERT_TRUE(p.parse_file(file));
  EXPECT_EQ(p.root()->child(0)->child_count(), 0u);

  EXPECT_FALSE(p.parse_file(dir.path() / "missing.xml"));
  EXPECT_FALSE(p.root());
  EXPECT_FALSE(xml::save_file(*root, dir.path() / "no" / "such" / "dir.xml"));

  // A target that cannot be replaced fails and leaves no temporary file behind.
  const fs::path blocked = dir.path() / "blocked.xml";
  fs::create_directories(blocked / "inner");
  EXPECT_FALSE(xml::save_file(*root, blocked));
  EXPECT_TRUE(fs::is_directory(blocked / "inner"));
  EXPECT_FALSE(fs::exists(dir.path() / "blocked.xml.tmp"));
  EXPECT_FALSE(fs::exists(fs::path(file + u".tmp")));
}

TEST(XmlFile, LargeDocumentAcrossReadChunks) {
  TempDir dir;
  std::string doc = "<list>";
  for (int i = 0; i < 20000; ++i) doc += "<item n='" + std::to_string(i) + "'>\u00e9\u00e9</item>";
  doc += "</list>";
  ASSERT_GT(doc.size(), 3u * 65536u);
  const fs::path file = dir.path() / "big.xml";
  {
    std::ofstream out(file, std::ios::binary);
    out << doc;
  }
  xml::basic_xml_dom_parser p;
  ASSERT_TRUE(p.parse_file(file));
  ASSERT_EQ(p.root()->child_count(), 20000u);
  EXPECT_EQ(*p.root()->child(19999)->attribute(u"n"), u"19999");
  EXPECT_EQ(p.root()->child(12345)->text(), u"\u00e9\u00e9");
}

TEST(XmlText, Utf8Utf16Conversion) {
  EXPECT_EQ(xml::from_utf8("a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80"), u"a\u00e9\u4e2d\U0001F600");
  EXPECT_EQ(xml::to_utf8(u"a\u00e9\u4e2d\U0001F600"), "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80");
  struct Bad {
    std::string in;
    xml::string out;
  };
  const Bad bad[] = {
      {"\xff", u"\uFFFD"},
      {"\xc0\xaf", u"\uFFFD\uFFFD"},  // overlong
      {"\xed\xa0\x80x", u"\uFFFD\uFFFD\uFFFDx"},  // encoded surrogate: no valid prefix
      {"\xe4\xb8", u"\uFFFD"},  // truncated at the end
      {"\xe4x", u"\uFFFDx"},
      {"\xf4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
  };
  for (const auto& b : bad) EXPECT_EQ(xml::from_utf8(b.in), b.out) << b.in;
  EXPECT_EQ(xml::to_utf8(xml::string(1, u'\xD800')), "\xef\xbf\xbd");
}
