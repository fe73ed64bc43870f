#include "devdb_check.h"

#include <boost/regex.hpp>

#include <map>
#include <set>

namespace devdb {

namespace {

using qv::xml::element_ptr;
using qv::xml::string;
using qv::xml::to_utf8;

bool is_hex4(const string& s) {
  if (s.size() != 4) return false;
  for (char16_t c : s)
    if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
  return true;
}

bool has_outer_blank(const string& s) {
  auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
  return !s.empty() && (blank(s.front()) || blank(s.back()));
}

struct Checker {
  CheckResult result;
  std::set<string> devices;
  std::vector<std::pair<string, std::string>> references;  // product id, where

  void error(const std::string& where, const std::string& what) {
    result.errors.push_back(where + ": " + what);
  }

  void check_groups(const element_ptr& list, const std::string& where, char kind) {
    for (std::size_t g = 0; g < list->child_count(); ++g) {
      element_ptr group = list->child(g);
      const std::string at = where + "/" + to_utf8(group->name()) + "[" + std::to_string(g) + "]";
      string product;
      std::size_t values = 0;
      for (std::size_t i = 0; i < group->child_count(); ++i) {
        element_ptr c = group->child(i);
        if (c->name() == u"ProductId") {
          product = c->text();  // the last one counts, as the reader does
        } else if (c->name() == u"Value") {
          ++values;
          const string& v = c->text();
          if (kind == 'P' && !is_hex4(v)) error(at, "product id '" + to_utf8(v) + "' is not four upper-case hex digits");
          if (kind == 'N') {
            try {
              boost::regex re(to_utf8(v), boost::regex::perl);
            } catch (const std::exception& e) {
              error(at, "serial pattern '" + to_utf8(v) + "' is not a valid regular expression");
            }
          }
          if (kind == 'M' && (v.empty() || has_outer_blank(v) || v.find(u'&') != string::npos))
            error(at, "storage product string '" + to_utf8(v) + "' is empty or malformed");
        } else {
          error(at, "unexpected element '" + to_utf8(c->name()) + "'");
        }
      }
      if (product.empty()) {
        error(at, "group without ProductId");
        continue;
      }
      if (values == 0) error(at, "group without Value");
      references.emplace_back(product, at);
    }
  }

  void check_vid(const element_ptr& vid, const std::string& at, std::set<string>& seen) {
    const string* value = vid->attribute(u"Value");
    if (!value) {
      error(at, "VID without Value");  // the reader would ignore it
      return;
    }
    if (!is_hex4(*value)) error(at, "vendor id '" + to_utf8(*value) + "' is not four upper-case hex digits");
    if (!seen.insert(*value).second) error(at, "vendor id " + to_utf8(*value) + " listed twice");
    ++result.vendor_count;
    const std::string where = "VID " + to_utf8(*value);
    if (!vid->child(u"ProductId")) error(where, "no ProductId");
    static const struct {
      const char16_t* name;
      char kind;
    } kLists[] = {{u"PIDs", 'P'}, {u"Names", 'N'}, {u"Modals", 'M'}};
    for (const auto& l : kLists)
      if (element_ptr list = vid->child(l.name)) check_groups(list, where + "/" + to_utf8(l.name), l.kind);
  }

  void check_device(const element_ptr& d, const std::string& at) {
    element_ptr id = d->child(u"ProductId");
    if (!id || id->text().empty()) {
      error(at, "Device without ProductId");
      return;
    }
    if (has_outer_blank(id->text())) error(at, "ProductId with blanks around it");
    if (!devices.insert(id->text()).second) error(at, "device " + to_utf8(id->text()) + " listed twice");
    if (element_ptr type = d->child(u"Type")) {
      const string& t = type->text();
      bool digits = !t.empty() && t.size() <= 9;
      for (char16_t c : t) digits = digits && c >= u'0' && c <= u'9';
      if (!digits) error(at, "Type '" + to_utf8(t) + "' is not a decimal number");
    }
    ++result.device_count;
  }
};

}  // namespace

CheckResult Check(const element_ptr& root) {
  Checker c;
  if (!root) {
    c.error("document", "no root element");
    return c.result;
  }
  element_ptr vids = root->child(u"VIDs");
  element_ptr devices = root->child(u"Devices");
  if (!vids) c.error("document", "no VIDs element");
  if (!devices) c.error("document", "no Devices element");
  if (!vids || !devices) return c.result;

  for (std::size_t i = 0; i < devices->child_count(); ++i) {
    element_ptr d = devices->child(i);
    if (d->name() == u"Device") c.check_device(d, "Devices/Device[" + std::to_string(i) + "]");
  }
  std::set<string> seen;
  for (std::size_t i = 0; i < vids->child_count(); ++i) {
    element_ptr v = vids->child(i);
    if (v->name() == u"VID") c.check_vid(v, "VIDs/VID[" + std::to_string(i) + "]", seen);
  }
  for (const auto& [product, at] : c.references)
    if (!c.devices.count(product)) c.error(at, "ProductId '" + to_utf8(product) + "' names no Device");
  return c.result;
}

}  // namespace devdb
