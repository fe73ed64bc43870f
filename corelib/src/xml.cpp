#include "qv/xml.h"

#include "qv/text.h"
#include "xml_os.h"

#include <expat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace qv::xml {

// ---------------------------------------------------------------- text conversion

string from_utf8(const char* data, std::size_t size) { return text::utf8_to_utf16(data, size); }

std::string to_utf8(const string& s) { return text::utf16_to_utf8(s); }

// ---------------------------------------------------------------- elements

element_ptr element_ptr::share(basic_xml_element* e) {
  if (e) e->add_ref();
  return adopt(e);
}

element_ptr::element_ptr(const element_ptr& o) : e_(o.e_) {
  if (e_) e_->add_ref();
}

element_ptr::~element_ptr() {
  if (e_) e_->release();
}

const string* basic_xml_attr_list::find(const string& name) const {
  for (const auto& kv : items_)
    if (kv.first == name) return &kv.second;
  return nullptr;
}

void basic_xml_attr_list::set(const string& name, const string& value) {
  for (auto& kv : items_) {
    if (kv.first == name) {
      kv.second = value;
      return;
    }
  }
  items_.emplace_back(name, value);
}

element_ptr basic_xml_element::create(const string& name) {
  return element_ptr::adopt(new basic_xml_element(name));
}

void basic_xml_element::release() {
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

basic_xml_element::~basic_xml_element() {
  // A child kept alive by someone else must not point at a freed parent.
  for (auto& c : children_) c->parent_ = nullptr;
}

const string* basic_xml_element::attribute(const string& name) const {
  return attrs_ ? attrs_->find(name) : nullptr;
}

void basic_xml_element::set_attribute(const string& name, const string& value) {
  if (!attrs_) attrs_ = std::make_unique<basic_xml_attr_list>();
  attrs_->set(name, value);
}

element_ptr basic_xml_element::child(std::size_t index) const {
  return index < children_.size() ? children_[index] : element_ptr();
}

element_ptr basic_xml_element::child(const string& name) const {
  for (const auto& c : children_)
    if (c->name_ == name) return c;
  return {};
}

bool basic_xml_element::append_child(const element_ptr& c) {
  if (!c || c->parent_ || c.get() == this) return false;
  // Appending an ancestor of this element would make a cycle that is never freed.
  for (const basic_xml_element* a = parent_; a; a = a->parent_)
    if (a == c.get()) return false;
  c->parent_ = this;
  children_.push_back(c);
  return true;
}

// ---------------------------------------------------------------- paths

namespace {

bool is_component_char(char16_t c) {
  return (c >= u'0' && c <= u'9') || c == u':' || (c >= u'A' && c <= u'Z') || c == u'_' ||
         (c >= u'a' && c <= u'z');
}

}  // namespace

basic_xml_path::basic_xml_path(const string& text) : source_(text) {
  if (text.empty()) return;
  std::size_t pos = 0;
  if (text[0] == u'/') {
    absolute_ = true;
    pos = 1;
    if (text.size() == 1) return;  // "/": the empty absolute path
  }
  std::vector<string> parts;
  for (;;) {
    std::size_t slash = text.find(u'/', pos);
    parts.push_back(text.substr(pos, slash == string::npos ? string::npos : slash - pos));
    if (slash == string::npos) break;
    pos = slash + 1;
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    string part = parts[i];
    if (!part.empty() && part[0] == u'@') {
      // Only the last component may name an attribute, and it needs an element before it
      // when the path is absolute (the context's own name comes first).
      if (i + 1 != parts.size() || (absolute_ && i == 0)) return;
      part.erase(0, 1);
      if (part.empty() || !std::all_of(part.begin(), part.end(), is_component_char)) return;
      attribute_ = part;
      continue;
    }
    if (part.empty() || !std::all_of(part.begin(), part.end(), is_component_char)) return;
    components_.push_back(part);
  }
  valid_ = true;
}

int select(const element_ptr& context, const basic_xml_path& path, element_ptr& found) {
  found = nullptr;
  if (!context) return kSelectInvalidPath;
  if (path.absolute() && !path.valid() && path.source() == u"/") {
    found = context;
    return kSelectInvalidPath;
  }
  if (!path.valid()) return kSelectInvalidPath;
  const auto& comps = path.components();
  std::size_t i = 0;
  element_ptr cur = context;
  if (path.absolute()) {
    if (comps.empty() || comps[0] != context->name()) return kSelectRootMismatch;
    i = 1;
  }
  for (; i < comps.size(); ++i) {
    element_ptr next = cur->child(comps[i]);
    if (!next) return kSelectNoMatch;
    cur = std::move(next);
  }
  found = std::move(cur);
  return kSelectFound;
}

int select(const element_ptr& context, const string& path, element_ptr& found) {
  return select(context, basic_xml_path(path), found);
}

// ---------------------------------------------------------------- serialisation

namespace {

void append_escaped(std::string& out, const string& s) {
  for (char ch : to_utf8(s)) {
    auto b = static_cast<unsigned char>(ch);
    switch (b) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      case 0: break;  // NUL has no XML form at all; dropping it keeps the file readable
      default:
        if (b < 32) {
          out += "&#";
          out.push_back(static_cast<char>('0' + b / 10));
          out.push_back(static_cast<char>('0' + b % 10));
          out += ';';
        } else {
          out.push_back(ch);
        }
    }
  }
}

void write_element(std::string& out, const basic_xml_element& e) {
  out += '<';
  append_escaped(out, e.name());
  out += ' ';
  if (const auto* attrs = e.attributes()) {
    for (std::size_t i = 0; i < attrs->size(); ++i) {
      out += ' ';
      append_escaped(out, attrs->at(i).first);
      out += "='";
      append_escaped(out, attrs->at(i).second);
      out += "' ";
    }
  }
  if (e.child_count() == 0 && e.text().empty()) {
    out += "/>";
    return;
  }
  out += '>';
  append_escaped(out, e.text());
  for (std::size_t i = 0; i < e.child_count(); ++i) write_element(out, *e.child(i));
  out += "</";
  append_escaped(out, e.name());
  out += '>';
}

}  // namespace

std::string serialize(const basic_xml_element& e) {
  std::string out;
  write_element(out, e);
  return out;
}

bool save_file(const basic_xml_element& e, const std::filesystem::path& file) {
  const std::string text = serialize(e);
  // Written beside the file and then renamed over it, so that a failed write never leaves a
  // half-written document in place of the previous one.
  std::filesystem::path temp = file;
  temp += ".tmp";
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
    f.close();
    if (f.fail()) {
      std::error_code ec;
      std::filesystem::remove(temp, ec);
      return false;
    }
  }
  if (!os::replace_file(temp, file)) {
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    return false;
  }
  return true;
}

bool save_file(const basic_xml_element& e, const string& file) {
  return save_file(e, std::filesystem::path(file));
}

// ---------------------------------------------------------------- expat

struct expat_parser::impl {
  XML_Parser parser = nullptr;
  ~impl() {
    if (parser) XML_ParserFree(parser);
  }
};

struct expat_parser::handlers {
  static expat_parser* self(void* u) { return static_cast<expat_parser*>(u); }
  static void XMLCALL start(void* u, const XML_Char* name, const XML_Char** attrs) {
    self(u)->on_start(name, attrs);
  }
  static void XMLCALL end(void* u, const XML_Char* name) { self(u)->on_end(name); }
  static void XMLCALL text(void* u, const XML_Char* s, int len) { self(u)->on_text(s, len); }
  static void XMLCALL cdata_start(void* u) { self(u)->on_cdata_start(); }
  static void XMLCALL cdata_end(void* u) { self(u)->on_cdata_end(); }
  static void XMLCALL entity_decl(void* u, const XML_Char*, int, const XML_Char*, int,
                                  const XML_Char*, const XML_Char*, const XML_Char*,
                                  const XML_Char*) {
    self(u)->abort_parse();
  }
};

expat_parser::expat_parser() : impl_(std::make_unique<impl>()) {}
expat_parser::~expat_parser() = default;

bool expat_parser::reset_parser() {
  if (impl_->parser) XML_ParserFree(impl_->parser);
  impl_->parser = XML_ParserCreate("UTF-8");
  if (!impl_->parser) return false;
  XML_Parser p = impl_->parser;
  XML_SetUserData(p, this);
  XML_SetElementHandler(p, &handlers::start, &handlers::end);
  XML_SetCharacterDataHandler(p, &handlers::text);
  XML_SetCdataSectionHandler(p, &handlers::cdata_start, &handlers::cdata_end);
  XML_SetEntityDeclHandler(p, &handlers::entity_decl);
  return true;
}

bool expat_parser::feed(const char* data, std::size_t size, bool last) {
  if (!impl_->parser) return false;
  constexpr std::size_t kChunk = 1 << 16;  // expat takes an int length
  do {
    std::size_t n = std::min(size, kChunk);
    bool final_chunk = last && n == size;
    if (XML_Parse(impl_->parser, data, static_cast<int>(n), final_chunk ? XML_TRUE : XML_FALSE) !=
        XML_STATUS_OK)
      return false;
    data += n;
    size -= n;
  } while (size > 0);
  return true;
}

void expat_parser::abort_parse() {
  if (impl_->parser) XML_StopParser(impl_->parser, XML_FALSE);
}

// ---------------------------------------------------------------- DOM parser

bool basic_xml_dom_parser::begin() {
  root_ = nullptr;
  building_ = nullptr;
  open_.clear();
  in_cdata_ = false;
  cdata_text_.clear();
  failed_ = false;
  return reset_parser();
}

bool basic_xml_dom_parser::finish(bool ok) {
  ok = ok && !failed_ && building_ && open_.empty();
  if (ok) root_ = building_;
  building_ = nullptr;
  open_.clear();
  return ok;
}

bool basic_xml_dom_parser::parse_buffer(const char* data, std::ptrdiff_t size) {
  if (!begin()) return false;
  if (!data) return finish(false);
  std::size_t n = size < 0 ? std::strlen(data) : static_cast<std::size_t>(size);
  return finish(feed(data, n, true));
}

bool basic_xml_dom_parser::parse_file(const std::filesystem::path& file) {
  if (!begin()) return false;
  std::ifstream f(file, std::ios::binary);
  if (!f) return finish(false);
  std::vector<char> buf(1 << 16);
  for (;;) {
    f.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    std::streamsize got = f.gcount();
    if (f.bad()) return finish(false);
    bool last = f.eof();
    if (!feed(buf.data(), static_cast<std::size_t>(got), last)) return finish(false);
    if (last) break;
  }
  return finish(true);
}

bool basic_xml_dom_parser::parse_file(const string& file) {
  return parse_file(std::filesystem::path(file));
}

void basic_xml_dom_parser::on_start(const char* name, const char** attrs) {
  if (failed_) return;
  if (open_.size() >= kMaxDepth) {
    failed_ = true;
    abort_parse();
    return;
  }
  element_ptr e = basic_xml_element::create(from_utf8(name, std::strlen(name)));
  for (const char** a = attrs; a && a[0]; a += 2)
    e->set_attribute(from_utf8(a[0], std::strlen(a[0])), from_utf8(a[1], std::strlen(a[1])));
  if (open_.empty()) {
    building_ = e;  // expat itself refuses a second root element
  } else {
    open_.back()->append_child(e);
  }
  open_.push_back(e.get());
}

void basic_xml_dom_parser::on_end(const char*) {
  if (!open_.empty()) open_.pop_back();
}

void basic_xml_dom_parser::on_text(const char* data, int len) {
  if (failed_ || open_.empty() || len <= 0) return;
  string t = from_utf8(data, static_cast<std::size_t>(len));
  if (in_cdata_) cdata_text_ += t;
  open_.back()->append_text(t);
}

void basic_xml_dom_parser::on_cdata_start() {
  in_cdata_ = true;
  cdata_text_.clear();
}

void basic_xml_dom_parser::on_cdata_end() {
  in_cdata_ = false;
  if (!open_.empty()) open_.back()->add_cdata(cdata_text_);
  cdata_text_.clear();
}

}  // namespace qv::xml
