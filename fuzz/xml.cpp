// The XML model: parsing a buffer, selecting by path, serialising and reading back.
// Property: a document that parses serialises to text that parses to the same text again.
#include "fuzz_check.h"
#include "qv/xml.h"

#include <cstdint>
#include <string>

namespace xml = qv::xml;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  xml::basic_xml_dom_parser parser;
  if (!parser.parse_buffer(text)) {
    FUZZ_CHECK(!parser.root());
    return 0;
  }
  xml::element_ptr root = parser.root();
  FUZZ_CHECK(root);
  const std::string once = xml::serialize(*root);

  xml::basic_xml_dom_parser again;
  FUZZ_CHECK(again.parse_buffer(once));
  FUZZ_CHECK(xml::serialize(*again.root()) == once);

  // Paths built from the document's own names, plus a few fixed shapes.
  xml::element_ptr found;
  const xml::string name = root->name();
  const xml::string paths[] = {u"/", u"", u"/" + name, u"/" + name + u"/@a", u"a/b/@c", u"//x",
                               u"/" + name + u"/" + (root->child_count() ? root->child(0)->name() : u"x")};
  for (const auto& p : paths) {
    const int r = xml::select(root, p, found);
    if (r != xml::kSelectFound && !(r == xml::kSelectInvalidPath && p == u"/")) FUZZ_CHECK(!found);
  }
  // The text itself as a path.
  (void)xml::select(root, xml::from_utf8(text.substr(0, 64)), found);
  return 0;
}
