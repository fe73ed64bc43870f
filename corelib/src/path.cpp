#include "qv/path.h"

#include "qv/text.h"

namespace qv::path {
namespace {

// The native string of a path from wide text, and back: a copy where the native form is wide,
// UTF-8 where it is narrow. Only the pair that fits the target is used.
[[maybe_unused]] std::wstring native_of(const std::wstring& w, const std::wstring*) { return w; }
[[maybe_unused]] std::string native_of(const std::wstring& w, const std::string*) {
  return text::wide_to_utf8(w);
}
[[maybe_unused]] std::wstring wide_of(const std::wstring& native) { return native; }
[[maybe_unused]] std::wstring wide_of(const std::string& native) {
  return text::utf8_to_wide(native);
}

}  // namespace

std::filesystem::path to_fs_path(const std::wstring& p) {
  return std::filesystem::path(
      native_of(p, static_cast<const std::filesystem::path::string_type*>(nullptr)));
}

std::filesystem::path to_fs_path(const std::u16string& p) {
  return to_fs_path(text::utf16_to_wide(p));
}

std::wstring from_fs_path(const std::filesystem::path& p) { return wide_of(p.native()); }

std::u16string fs_path_utf16(const std::filesystem::path& p) {
  return text::wide_to_utf16(from_fs_path(p));
}

std::string fs_path_utf8(const std::filesystem::path& p) {
  return text::wide_to_utf8(from_fs_path(p));
}

}  // namespace qv::path
