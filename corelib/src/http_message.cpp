#include "qv/http_message.h"

#include <algorithm>
#include <cstring>

namespace qv::win32::net {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool http_iequals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

bool http_istarts_with(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (lower(text[i]) != lower(prefix[i])) return false;
  return true;
}

// ---- header list ----

std::string http_header_list::find(const std::string& name) const {
  for (const auto& p : pairs_)
    if (p.first == name) return p.second;
  return {};
}

bool http_header_list::contains(const std::string& name) const {
  return std::any_of(pairs_.begin(), pairs_.end(), [&](const pair& p) { return p.first == name; });
}

void http_header_list::set(const std::string& name, const std::string& value) {
  auto it = std::find_if(pairs_.begin(), pairs_.end(), [&](const pair& p) { return p.first == name; });
  if (it == pairs_.end()) {
    pairs_.emplace_back(name, value);  // a new name is added even with an empty value
  } else if (value.empty()) {
    pairs_.erase(it);
  } else {
    it->second = value;
  }
}

void http_header_list::write(std::string& out) const {
  for (const auto& p : pairs_) {
    out += p.first;
    out += ": ";
    out += p.second;
    out += "\r\n";
  }
  out += "\r\n";
}

void http_header_list::write(std::ostream& out) const {
  std::string s;
  write(s);
  out << s;
}

std::string http_request::serialize() const {
  std::string out;
  out.reserve(128 + body.size());
  out += method;
  out += ' ';
  out += request_uri;
  out += ' ';
  out += http_version;
  out += "\r\n";
  if (!headers.contains("Content-Length") && !body.empty()) {
    out += "Content-Length: ";
    out += std::to_string(body.size());
    out += "\r\n";
  }
  headers.write(out);
  out += body;
  return out;
}

const char* http_reason_phrase(std::int32_t code) {
  switch (code) {
    case 100: return "Continue";
    case 101: return "Switching Protocols";
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 203: return "Non-Authoritative Information";
    case 204: return "No Content";
    case 205: return "Reset Content";
    case 206: return "Partial Content";
    case 300: return "Multiple Choices";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 305: return "Use Proxy";
    case 307: return "Temporary Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 402: return "Payment Required";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "Not Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Time-out";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 412: return "Precondition Failed";
    case 413: return "Request Entity Too Large";
    case 414: return "Request-URI Too Large";
    case 415: return "Unsupported Media Type";
    case 416: return "Requested range not satisfiable";
    case 417: return "Expectation Failed";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Time-out";
    case 505: return "HTTP Version not supported";
    default: return "";
  }
}

// ---- URLs ----

bool parse_http_url(const std::string& url, http_url& out) {
  static const std::string kScheme = "http://";
  if (url.size() <= kScheme.size() || !http_istarts_with(url, kScheme)) return false;
  // Control characters would end the request line or inject header lines.
  for (char c : url)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  const std::size_t start = kScheme.size();
  std::size_t auth_end = url.find_first_of("/?#", start);
  if (auth_end == std::string::npos) auth_end = url.size();
  const std::string authority = url.substr(start, auth_end - start);
  std::string host = authority;
  std::uint32_t port = 80;
  const std::size_t colon = authority.rfind(':');
  if (colon != std::string::npos) {
    host = authority.substr(0, colon);
    const std::string digits = authority.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    port = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      port = port * 10 + static_cast<std::uint32_t>(c - '0');
    }
  }
  if (host.empty() || host.find(' ') != std::string::npos || port == 0 || port > 65535) return false;
  // The fragment never goes to the server; spaces are escaped so the request line stays whole.
  std::string path = url.substr(auth_end);
  const std::size_t hash = path.find('#');
  if (hash != std::string::npos) path.erase(hash);
  std::string uri;
  if (path.empty() || path[0] != '/') uri = "/";
  for (char c : path) {
    if (c == ' ')
      uri += "%20";
    else
      uri += c;
  }
  out.host = host;
  out.port = static_cast<std::uint16_t>(port);
  out.request_uri = uri;
  return true;
}

std::string http_host_value(const std::string& host, std::uint16_t port) {
  if (port == 80) return host;
  return host + ":" + std::to_string(port);
}

}  // namespace qv::win32::net
