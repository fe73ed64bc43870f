// "ClipBoardData.Manager": text and file lists on the clipboard, opened with the program's
// message window as owner.
#include "desktop/shell_data.h"
#include "desktop/shell_objects.h"

#include "clipboard_os.h"
#include "hostbase/message_window.h"
#include "luabind/args.h"
#include "luabind/registration.h"

#include "qv/singleton_ex.h"
#include "qv/text.h"

namespace desktop {
namespace {

constexpr char kClassName[] = "ClipBoardData.Manager.Class";

struct CLuaClipboard {};

qv::loop::window_handle owner() {
  auto* mw = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance();
  return mw ? mw->window() : nullptr;
}

const unsigned char* block_data(const os::clip_blocks& blocks, os::clip_format f,
                                std::size_t& size) {
  auto it = blocks.find(f);
  size = it == blocks.end() ? 0 : it->second.size();
  return it == blocks.end() ? nullptr : it->second.data();
}

int GetTxtData(lua_State* L) {
  luabind::check_object<CLuaClipboard>(L, kClassName);
  os::clip_blocks blocks;
  std::u16string text;
  if (os::read_clipboard(owner(), {os::clip_format::unicode_text}, blocks)) {
    std::size_t size = 0;
    const unsigned char* data = block_data(blocks, os::clip_format::unicode_text, size);
    text = UnicodeTextFromBlock(data, size);
  }
  luabind::push_string(L, qv::text::utf16_to_utf8(text));
  return 1;
}

int SetTxtData(lua_State* L) {
  luabind::check_object<CLuaClipboard>(L, kClassName);
  const std::string text = luabind::check_string(L, 2);
  os::write_clipboard(owner(), os::clip_format::unicode_text,
                      UnicodeTextBlock(qv::text::utf8_to_utf16(text)));
  return 0;
}

int GetHdropData(lua_State* L) {
  luabind::check_object<CLuaClipboard>(L, kClassName);
  os::clip_blocks blocks;
  std::vector<std::u16string> names;
  int type = 5;
  if (os::read_clipboard(owner(), {os::clip_format::hdrop, os::clip_format::preferred_drop_effect},
                         blocks)) {
    std::size_t size = 0;
    const unsigned char* data = block_data(blocks, os::clip_format::hdrop, size);
    names = ClipboardFileNames(data, size);
    if (!names.empty()) {
      data = block_data(blocks, os::clip_format::preferred_drop_effect, size);
      type = CutOrCopyType(data, size);
    }
  }
  lua_createtable(L, static_cast<int>(names.size()), 1);
  for (std::size_t i = 0; i < names.size(); ++i) {
    luabind::push_string(L, qv::text::utf16_to_utf8(names[i]));
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
  luabind::set_field(L, "type", type);
  return 1;
}

// The array part's strings become a CF_HDROP; a list with something else than strings, or
// with a name too long for the reader, is refused whole.
int SetHdropData(lua_State* L) {
  luabind::check_object<CLuaClipboard>(L, kClassName);
  luabind::check_table(L, 2);
  const int n = static_cast<int>(lua_objlen(L, 2));
  std::vector<std::u16string> names;
  for (int i = 1; i <= n; ++i) {
    lua_rawgeti(L, 2, i);
    const bool ok = luabind::is_string(L, -1);
    if (ok) {
      std::size_t len = 0;
      const char* s = lua_tolstring(L, -1, &len);
      names.push_back(qv::text::utf8_to_utf16(s, len));
    }
    lua_pop(L, 1);
    if (!ok) return 0;
  }
  if (!FileListFitsReader(names)) return 0;
  os::write_clipboard(owner(), os::clip_format::hdrop, BuildDropFiles(names));
  return 0;
}

const QVLRT_METHOD kMethods[] = {
    {"GetTxtData", GetTxtData, 0},
    {"SetTxtData", SetTxtData, 0},
    {"GetHdropData", GetHdropData, 0},
    {"SetHdropData", SetHdropData, 0},
    {nullptr, nullptr, 0},
};

void* Factory(std::uintptr_t) {
  static CLuaClipboard clipboard;
  return &clipboard;
}

}  // namespace

void RegisterClipboard(QVLRT_ENV env) {
  luabind::RegisterGlobal(env, "ClipBoardData.Manager", kClassName, kMethods, Factory);
}

}  // namespace desktop
