// A small XML document model over expat: reference-counted elements with a name, ordered
// attributes, ordered children and text; parsing from a file or a buffer; selection by a simple
// path; serialisation back to UTF-8.
//
// Text type: every name, value and text is UTF-16 held in std::u16string (xml::string). That is
// the same on both targets (wchar_t is 32-bit on Linux), and on Windows a char16_t buffer can be
// handed to the wide API as it is. Files and buffers are UTF-8.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qv::xml {

using char_type = char16_t;
using string = std::u16string;

// UTF-8 <-> UTF-16. Ill-formed input units become U+FFFD; never throws.
string from_utf8(const char* data, std::size_t size);
inline string from_utf8(const std::string& s) { return from_utf8(s.data(), s.size()); }
std::string to_utf8(const string& s);

class basic_xml_element;

// Holds one reference on an element; the RAII face of add_ref/release.
class element_ptr {
 public:
  element_ptr() = default;
  element_ptr(std::nullptr_t) {}
  // Adopts a reference the caller already owns (no add_ref).
  static element_ptr adopt(basic_xml_element* e) {
    element_ptr p;
    p.e_ = e;
    return p;
  }
  // Takes a new reference on e.
  static element_ptr share(basic_xml_element* e);
  element_ptr(const element_ptr& o);
  element_ptr(element_ptr&& o) noexcept : e_(std::exchange(o.e_, nullptr)) {}
  element_ptr& operator=(element_ptr o) noexcept {
    std::swap(e_, o.e_);
    return *this;
  }
  ~element_ptr();

  basic_xml_element* get() const { return e_; }
  basic_xml_element* operator->() const { return e_; }
  basic_xml_element& operator*() const { return *e_; }
  explicit operator bool() const { return e_ != nullptr; }
  // Gives the reference up to the caller, who must release() it.
  basic_xml_element* detach() { return std::exchange(e_, nullptr); }

 private:
  basic_xml_element* e_ = nullptr;
};

// Ordered name-value pairs; setting an existing name replaces its value in place.
class basic_xml_attr_list {
 public:
  const string* find(const string& name) const;
  void set(const string& name, const string& value);
  std::size_t size() const { return items_.size(); }
  const std::pair<string, string>& at(std::size_t i) const { return items_.at(i); }

 private:
  std::vector<std::pair<string, string>> items_;
};

struct basic_xml_cdata {
  string text;
};

class basic_xml_element {
 public:
  // A new element with one reference, held by the returned pointer.
  static element_ptr create(const string& name);

  basic_xml_element(const basic_xml_element&) = delete;
  basic_xml_element& operator=(const basic_xml_element&) = delete;

  void add_ref() { refs_.fetch_add(1, std::memory_order_relaxed); }
  void release();
  long ref_count() const { return refs_.load(std::memory_order_acquire); }

  const string& name() const { return name_; }
  const string& text() const { return text_; }
  void set_text(const string& t) { text_ = t; }
  void append_text(const string& t) { text_ += t; }

  // Null when absent (or when the element has no attributes at all).
  const string* attribute(const string& name) const;
  void set_attribute(const string& name, const string& value);
  // Null until the first attribute is set.
  const basic_xml_attr_list* attributes() const { return attrs_.get(); }

  std::size_t child_count() const { return children_.size(); }
  // Null past the end.
  element_ptr child(std::size_t index) const;
  // The first child with this exact (case-sensitive) name, or null.
  element_ptr child(const string& name) const;
  // Appends child (the list takes its own reference) and makes this its parent. A child that
  // already has a parent, or this element itself, is refused (false): a tree, never a cycle.
  bool append_child(const element_ptr& child);

  // Not owning; null for a root, and reset when the parent goes away first.
  basic_xml_element* parent() const { return parent_; }

  const std::vector<basic_xml_cdata>& cdata() const { return cdata_; }
  void add_cdata(const string& text) { cdata_.push_back({text}); }

 private:
  explicit basic_xml_element(const string& name) : name_(name) {}
  ~basic_xml_element();

  std::atomic<long> refs_{1};
  string name_;
  string text_;
  std::unique_ptr<basic_xml_attr_list> attrs_;
  std::vector<element_ptr> children_;
  std::vector<basic_xml_cdata> cdata_;
  basic_xml_element* parent_ = nullptr;
};

// Result codes of select().
enum select_result : int {
  kSelectFound = 0,
  kSelectInvalidPath = 2,  // empty or invalid path; an empty absolute path ("/") gives the context
  kSelectRootMismatch = 3,  // the first component of an absolute path is not the context's name
  kSelectNoMatch = 5,  // some component has no matching child
};

// A parsed path: "/Root/a/b" (absolute: the first component names the context itself) or "a/b"
// (relative: starts with the context's children); a last component "@name" names an attribute
// of the element reached. Component characters: 0-9 : A-Z _ a-z.
class basic_xml_path {
 public:
  explicit basic_xml_path(const string& text);

  const string& source() const { return source_; }
  bool valid() const { return valid_; }
  bool absolute() const { return absolute_; }
  const std::vector<string>& components() const { return components_; }
  // Empty when the path names no attribute.
  const string& attribute() const { return attribute_; }

 private:
  string source_;
  bool valid_ = false;
  bool absolute_ = false;
  std::vector<string> components_;
  string attribute_;
};

// Walks the path from context; on code 0 (and for "/" with code 2) found holds the element
// reached, with its own reference; otherwise found is null.
int select(const element_ptr& context, const basic_xml_path& path, element_ptr& found);
int select(const element_ptr& context, const string& path, element_ptr& found);

// The element tree as one UTF-8 text: no declaration, no line breaks.
std::string serialize(const basic_xml_element& e);
// Replaces the file with serialize(e) (through "<file>.tmp" and a rename, so the old file
// stays whole if writing fails). False when the file cannot be written.
bool save_file(const basic_xml_element& e, const std::filesystem::path& file);
bool save_file(const basic_xml_element& e, const string& file);

// The expat handle, created per parse and freed by the next parse or the destructor.
class expat_parser {
 public:
  expat_parser();
  ~expat_parser();
  expat_parser(const expat_parser&) = delete;
  expat_parser& operator=(const expat_parser&) = delete;

 protected:
  // Frees the previous parser and creates a new one with this object's handlers.
  bool reset_parser();
  // Feeds bytes; last marks the end of the document. False on any parse error.
  bool feed(const char* data, std::size_t size, bool last);
  // Stops the parse from inside a handler; feed() then fails.
  void abort_parse();

  virtual void on_start(const char* name, const char** attrs) = 0;
  virtual void on_end(const char* name) = 0;
  virtual void on_text(const char* data, int len) = 0;
  virtual void on_cdata_start() {}
  virtual void on_cdata_end() {}

 private:
  struct impl;
  struct handlers;  // expat's C callbacks, forwarding to the virtuals above
  friend struct handlers;
  std::unique_ptr<impl> impl_;
};

// Builds an element tree. Documents deeper than kMaxDepth fail, and so does any entity
// declaration (no document this program reads needs one; it is how entity bombs start).
class basic_xml_dom_parser : public expat_parser {
 public:
  static constexpr std::size_t kMaxDepth = 512;

  bool parse_file(const std::filesystem::path& file);
  bool parse_file(const string& file);
  // size < 0: data is NUL-terminated.
  bool parse_buffer(const char* data, std::ptrdiff_t size);
  bool parse_buffer(const std::string& data) {
    return parse_buffer(data.data(), static_cast<std::ptrdiff_t>(data.size()));
  }

  // Null unless the last parse succeeded.
  element_ptr root() const { return root_; }

 protected:
  void on_start(const char* name, const char** attrs) override;
  void on_end(const char* name) override;
  void on_text(const char* data, int len) override;
  void on_cdata_start() override;
  void on_cdata_end() override;

 private:
  bool begin();
  bool finish(bool ok);

  std::vector<basic_xml_element*> open_;  // not owning: the tree holds them
  element_ptr root_;
  element_ptr building_;
  bool in_cdata_ = false;
  string cdata_text_;
  bool failed_ = false;
};

}  // namespace qv::xml
