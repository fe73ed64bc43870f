// The shell objects against the real system: drops fed to the registered drop target over real
// windows, clipboard round trips, the tray's window and shell icons rendered with their alpha.
#include "desktop/icon_imager.h"
#include "desktop/shell_data.h"
#include "desktop/shell_objects.h"

#include "hostbase/message_window.h"
#include "qv/singleton_ex.h"
#include "qv/text.h"

#include <gtest/gtest.h>

#include "clipboard_os_win32.h"
#include "shell_lua.h"

#include <ole2.h>
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <lauxlib.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using shell_test::state;

void register_once() {
  static const bool done = [] {
    QVLRT_ENV env = QVLRT_GetEnv(0);
    desktop::RegisterDragDropShell(env);
    desktop::RegisterClipboard(env);
    desktop::RegisterIconManager(env);
    desktop::RegisterTray(env);
    qv::design_pattern::singleton_ex<desktop::CIconImagerCreator>::acquire();
    return true;
  }();
  (void)done;
}

std::string run(const std::string& code) {
  register_once();
  return shell_test::run_lua(code);
}

void set_global_window(const char* name, HWND w) {
  lua_State* L = state();
  lua_pushlightuserdata(L, w);
  lua_setglobal(L, name);
}

void pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

HGLOBAL global_copy(const std::vector<unsigned char>& bytes) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.empty() ? 1 : bytes.size());
  if (!h) return nullptr;
  void* p = GlobalLock(h);
  if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
  GlobalUnlock(h);
  return h;
}

std::vector<unsigned char> narrow_block(const std::string& s) {
  std::vector<unsigned char> b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

// A data object made by the test: its formats in order, each as an HGLOBAL block or, to show a
// storage medium the drop target does not take, as a stream.
class TestDataObject : public IDataObject {
 public:
  struct Entry {
    CLIPFORMAT format;
    std::vector<unsigned char> bytes;
    DWORD tymed;
  };
  explicit TestDataObject(std::vector<Entry> entries) : entries_(std::move(entries)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
      *out = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the test's stack

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* fe, STGMEDIUM* medium) override {
    if (!fe || !medium) return E_INVALIDARG;
    ++get_data_calls;
    for (const auto& e : entries_) {
      if (e.format != fe->cfFormat) continue;
      *medium = STGMEDIUM{};
      if (e.tymed == TYMED_HGLOBAL) {
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = global_copy(e.bytes);
        return medium->hGlobal ? S_OK : E_OUTOFMEMORY;
      }
      IStream* stream = nullptr;
      if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return E_OUTOFMEMORY;
      medium->tymed = TYMED_ISTREAM;
      medium->pstm = stream;
      return S_OK;
    }
    return DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* fe) override {
    if (!fe) return E_INVALIDARG;
    for (const auto& e : entries_)
      if (e.format == fe->cfFormat) return S_OK;
    return DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    if (out) out->ptd = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override {
    if (direction != DATADIR_GET) return E_NOTIMPL;
    std::vector<FORMATETC> formats;
    for (const auto& e : entries_)
      formats.push_back(FORMATETC{e.format, nullptr, DVASPECT_CONTENT, -1, e.tymed});
    return SHCreateStdEnumFmtEtc(static_cast<UINT>(formats.size()), formats.data(), out);
  }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }

  int get_data_calls = 0;

 private:
  std::vector<Entry> entries_;
  ULONG refs_ = 1;
};

LRESULT CALLBACK plain_proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  return DefWindowProcW(w, msg, wp, lp);
}

// A shown top-level window at (100, 100), 200 x 200, with an unregistered child of 50 x 50 in
// its top-left corner, so that WindowFromPoint finds them.
class DropWindows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { OleInitialize(nullptr); }
  static void TearDownTestSuite() { OleUninitialize(); }

  void SetUp() override {
    WNDCLASSW wc{};
    wc.lpfnWndProc = plain_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = L"TivorelDropTest";
    RegisterClassW(&wc);
    top_ = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"drop", WS_POPUP | WS_VISIBLE, 100,
                           100, 200, 200, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(top_, nullptr);
    child_ = CreateWindowExW(0, wc.lpszClassName, L"child", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50,
                             top_, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(child_, nullptr);
    SetWindowPos(top_, HWND_TOPMOST, 100, 100, 200, 200, SWP_SHOWWINDOW);
    UpdateWindow(top_);
    pump();
    ASSERT_EQ(WindowFromPoint(POINT{150, 160}), top_) << "the test window is not on top";
    ASSERT_EQ(WindowFromPoint(POINT{110, 110}), child_);
    target_ = static_cast<IDropTarget*>(desktop::DropTargetInterface());
    ASSERT_NE(target_, nullptr);
    set_global_window("win", top_);
    set_global_window("child", child_);
    ASSERT_EQ(run("dnd = _G['Qorvan.UIEngine.DragDropShell'] log = {} answer = 1 "
                  "function listener(t) "
                  "  local parts = {t.type, tostring(t.cfFormat), tostring(t.x), tostring(t.y)} "
                  "  for i = 1, #t do parts[#parts + 1] = t[i] end "
                  "  log[#log + 1] = table.concat(parts, '|') "
                  "  if t.type == 'OnDragOver' then return answer end "
                  "end "
                  "dnd:RegisterDragDrop(win, listener) result = 'ok'"),
              "ok");
  }

  void TearDown() override {
    run("dnd:RevokeDragDrop(win) result = ''");
    if (child_) DestroyWindow(child_);
    if (top_) DestroyWindow(top_);
    UnregisterClassW(L"TivorelDropTest", GetModuleHandleW(nullptr));
  }

  std::string take_log() {
    return run("result = table.concat(log, '\\n') log = {}");
  }

  // Enter at the point, one move, then a drop; the effects reported.
  std::vector<DWORD> drag_and_drop(IDataObject* data, POINTL at) {
    DWORD enter = 99, over = 99, drop = 99;
    target_->DragEnter(data, MK_LBUTTON, at, &enter);
    target_->DragOver(MK_LBUTTON, at, &over);
    target_->Drop(data, MK_LBUTTON, at, &drop);
    return {enter, over, drop};
  }

  HWND top_ = nullptr;
  HWND child_ = nullptr;
  IDropTarget* target_ = nullptr;
};

std::vector<unsigned char> narrow_dropfiles(const std::vector<std::string>& names) {
  std::vector<unsigned char> b(desktop::kDropFilesHeaderSize, 0);
  b[0] = static_cast<unsigned char>(desktop::kDropFilesHeaderSize);
  for (const auto& n : names) {
    b.insert(b.end(), n.begin(), n.end());
    b.push_back(0);
  }
  b.push_back(0);
  return b;
}

TEST_F(DropWindows, ThreeFilesReachTheListenerAndItsEffectIsShown) {
  const std::vector<std::u16string> files = {u"C:\\a.txt", u"C:\\\u4e2d\\b.txt", u"D:\\c"};
  TestDataObject wide({{CF_HDROP, desktop::BuildDropFiles(files), TYMED_HGLOBAL}});
  EXPECT_EQ(drag_and_drop(&wide, POINTL{150, 160}), (std::vector<DWORD>{4, 1, 1}));
  const std::string items = "C:\\a.txt|C:\\\xe4\xb8\xad\\b.txt|D:\\c";
  EXPECT_EQ(take_log(), "OnDropEnter|15|50|60|" + items + "\nOnDragOver|15|50|60|" + items +
                            "\nOnDrop|15|50|60|" + items);
  // The drop used what drag enter took: the data object was read once.
  EXPECT_EQ(wide.get_data_calls, 1);

  TestDataObject narrow({{CF_HDROP, narrow_dropfiles({"C:\\x", "C:\\caf\xc3\xa9"}), TYMED_HGLOBAL}});
  run("answer = 2 result = ''");
  EXPECT_EQ(drag_and_drop(&narrow, POINTL{290, 290}), (std::vector<DWORD>{4, 2, 2}));
  EXPECT_EQ(take_log(), "OnDropEnter|15|190|190|C:\\x|C:\\caf\xc3\xa9\n"
                        "OnDragOver|15|190|190|C:\\x|C:\\caf\xc3\xa9\n"
                        "OnDrop|15|190|190|C:\\x|C:\\caf\xc3\xa9");

  target_->DragEnter(&wide, MK_LBUTTON, POINTL{150, 160}, nullptr);
  target_->DragLeave();
  EXPECT_EQ(take_log(), "OnDropEnter|15|50|60|" + items + "\nOnDragLeave|nil|nil|nil");
}

TEST_F(DropWindows, TextAndLinksAreOneItem) {
  const CLIPFORMAT link = static_cast<CLIPFORMAT>(RegisterClipboardFormatW(L"UniformResourceLocator"));
  const struct {
    TestDataObject::Entry first;
    TestDataObject::Entry second;
    std::string log_enter;
    DWORD effect;
  } cases[] = {
      {{CF_UNICODETEXT, desktop::UnicodeTextBlock(u"\u4e2d\u6587 text"), TYMED_HGLOBAL},
       {CF_TEXT, narrow_block("unused"), TYMED_HGLOBAL},
       "OnDropEnter|13|50|60|\xe4\xb8\xad\xe6\x96\x87 text", 1},
      {{CF_TEXT, narrow_block("caf\xc3\xa9"), TYMED_HGLOBAL},
       {CF_UNICODETEXT, desktop::UnicodeTextBlock(u"unused"), TYMED_HGLOBAL},
       "OnDropEnter|1|50|60|caf\xc3\xa9", 1},
      {{link, narrow_block("http://example.com/"), TYMED_HGLOBAL},
       {CF_TEXT, narrow_block("unused"), TYMED_HGLOBAL},
       "OnDropEnter|" + std::to_string(link) + "|50|60|http://example.com/", 4},
      // A medium the target does not take is skipped for the next format.
      {{CF_UNICODETEXT, {}, TYMED_ISTREAM},
       {CF_TEXT, narrow_block("second"), TYMED_HGLOBAL},
       "OnDropEnter|1|50|60|second", 1},
  };
  for (const auto& c : cases) {
    TestDataObject data({c.first, c.second});
    DWORD effect = 99;
    target_->DragEnter(&data, MK_LBUTTON, POINTL{150, 160}, &effect);
    target_->DragLeave();
    EXPECT_EQ(effect, c.effect) << c.log_enter;
    EXPECT_EQ(take_log(), c.log_enter + "\nOnDragLeave|nil|nil|nil");
  }
}

TEST_F(DropWindows, OnlyTheRegisteredWindowAndItsLatestListenerAreCalled) {
  TestDataObject files({{CF_HDROP, desktop::BuildDropFiles({u"C:\\a"}), TYMED_HGLOBAL}});
  // Over the unregistered child: no call, and the effect stays the one of drag enter.
  EXPECT_EQ(drag_and_drop(&files, POINTL{110, 110}), (std::vector<DWORD>{4, 4, 4}));
  EXPECT_EQ(take_log(), "");

  // A second registration replaces the listener.
  EXPECT_EQ(run("second = {} dnd:RegisterDragDrop(win, function(t) second[#second + 1] = t.type "
                "return 1 end) result = 'ok'"),
            "ok");
  drag_and_drop(&files, POINTL{150, 160});
  EXPECT_EQ(take_log(), "");
  EXPECT_EQ(run("result = table.concat(second, ',')"), "OnDropEnter,OnDragOver,OnDrop");

  // Revoked: the window takes no drops and its listener is gone.
  EXPECT_EQ(run("second = {} dnd:RevokeDragDrop(win) result = 'ok'"), "ok");
  drag_and_drop(&files, POINTL{150, 160});
  EXPECT_EQ(run("result = table.concat(second, ',')"), "");
}

TEST_F(DropWindows, AMalformedFileListIsIgnored) {
  std::vector<unsigned char> bad = desktop::BuildDropFiles({u"C:\\a"});
  bad.resize(bad.size() - 4);  // the name's NUL and the list's end are cut off
  TestDataObject data({{CF_HDROP, bad, TYMED_HGLOBAL}});
  EXPECT_EQ(drag_and_drop(&data, POINTL{150, 160}), (std::vector<DWORD>{0, 0, 0}));
  EXPECT_EQ(take_log(), "");
}

// ---- clipboard ---------------------------------------------------------------------------

// The clipboard needs an owner window to take data: the program's message window, as at run time.
class ClipboardTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto* mw = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::acquire();
    ASSERT_NE(mw, nullptr);
    mw->Create(L"TivorelClipboardTest");
  }
  static void TearDownTestSuite() {
    if (auto* mw = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance())
      mw->Destroy();
    qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::release();
  }
  static HWND owner() {
    auto* mw = qv::design_pattern::singleton_ex<hostbase::CMessageWindow>::instance();
    return mw ? static_cast<HWND>(mw->window()) : nullptr;
  }

  // Puts the blocks on the clipboard directly, as another program would.
  static void put(const std::vector<std::pair<UINT, std::vector<unsigned char>>>& blocks) {
    ASSERT_NE(owner(), nullptr);
    ASSERT_TRUE(OpenClipboard(owner()));
    EmptyClipboard();
    for (const auto& b : blocks) {
      HGLOBAL h = global_copy(b.second);
      if (!SetClipboardData(b.first, h)) GlobalFree(h);
    }
    CloseClipboard();
  }
  static std::vector<unsigned char> get(UINT format) {
    std::vector<unsigned char> out;
    if (!OpenClipboard(nullptr)) return out;
    if (HANDLE h = GetClipboardData(format)) {
      const auto* p = static_cast<const unsigned char*>(GlobalLock(h));
      if (p) out.assign(p, p + GlobalSize(h));
      GlobalUnlock(h);
    }
    CloseClipboard();
    return out;
  }
};

TEST_F(ClipboardTest, TextRoundTrip) {
  EXPECT_EQ(run("clip = _G['ClipBoardData.Manager'] "
                "clip:SetTxtData('h\\195\\169llo \\228\\184\\173') result = clip:GetTxtData()"),
            "h\xc3\xa9llo \xe4\xb8\xad");
  const std::vector<unsigned char> raw = get(CF_UNICODETEXT);
  EXPECT_EQ(desktop::UnicodeTextFromBlock(raw.data(), raw.size()), u"h\u00e9llo \u4e2d");
  put({});
  EXPECT_EQ(run("result = clip:GetTxtData()"), "");
}

TEST_F(ClipboardTest, FilesRoundTripWithTheExactBlock) {
  EXPECT_EQ(run("clip = _G['ClipBoardData.Manager'] "
                "clip:SetHdropData({'C:\\\\a.txt', 'D:\\\\\\228\\184\\173'}) "
                "local t = clip:GetHdropData() "
                "result = #t .. '|' .. t[1] .. '|' .. t[2] .. '|' .. t.type"),
            "2|C:\\a.txt|D:\\\xe4\xb8\xad|5");
  std::vector<unsigned char> raw = get(CF_HDROP);
  const std::vector<unsigned char> expected = desktop::BuildDropFiles({u"C:\\a.txt", u"D:\\\u4e2d"});
  ASSERT_GE(raw.size(), expected.size());
  raw.resize(expected.size());  // the system may round the block up
  EXPECT_EQ(raw, expected);

  // The system's own reader agrees.
  ASSERT_TRUE(OpenClipboard(nullptr));
  HDROP drop = static_cast<HDROP>(GetClipboardData(CF_HDROP));
  ASSERT_NE(drop, nullptr);
  EXPECT_EQ(DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0), 2u);
  wchar_t name[MAX_PATH] = {};
  DragQueryFileW(drop, 1, name, MAX_PATH);
  CloseClipboard();
  EXPECT_EQ(std::wstring(name), L"D:\\\u4e2d");

  // Too long for the reader, or empty: the clipboard stays as it was.
  EXPECT_EQ(run("clip:SetHdropData({'C:\\\\' .. string.rep('a', 520)}) clip:SetHdropData({}) "
                "result = clip:GetHdropData()[1]"),
            "C:\\a.txt");
}

TEST_F(ClipboardTest, CutAndCopyComeFromThePreferredDropEffect) {
  const UINT preferred = RegisterClipboardFormatW(CFSTR_PREFERREDDROPEFFECT);
  const UINT performed = RegisterClipboardFormatW(CFSTR_PERFORMEDDROPEFFECT);
  const std::vector<unsigned char> files = desktop::BuildDropFiles({u"C:\\f"});
  const std::vector<unsigned char> move = {2, 0, 0, 0}, copy = {5, 0, 0, 0};
  const struct {
    const char* what;
    std::vector<std::pair<UINT, std::vector<unsigned char>>> blocks;
    std::string result;
  } cases[] = {
      {"cut", {{CF_HDROP, files}, {preferred, move}}, "1|2"},
      {"copied", {{CF_HDROP, files}, {preferred, copy}}, "1|5"},
      {"no mark", {{CF_HDROP, files}}, "1|5"},
      // Another 4-byte registered format holding 2 is not the mark.
      {"other format first", {{CF_HDROP, files}, {performed, move}, {preferred, copy}}, "1|5"},
      {"no files", {{preferred, move}}, "0|5"},
  };
  for (const auto& c : cases) {
    put(c.blocks);
    EXPECT_EQ(run("local t = _G['ClipBoardData.Manager']:GetHdropData() result = #t .. '|' .. t.type"),
              c.result)
        << c.what;
  }
}

// The system may refuse new data after the clipboard was emptied for it (short of memory, or
// opened without an owner window): what the clipboard held comes back.
HANDLE WINAPI refuse_data(UINT, HANDLE) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

TEST_F(ClipboardTest, DataTheSystemRefusesLeavesTheClipboardAsItWas) {
  const UINT custom = RegisterClipboardFormatW(L"TivorelClipboardTestData");
  const std::vector<std::pair<UINT, std::vector<unsigned char>>> before = {
      {CF_UNICODETEXT, desktop::UnicodeTextBlock(u"kept")},
      {CF_HDROP, desktop::BuildDropFiles({u"C:\\kept.txt"})},
      {custom, {1, 2, 3, 4, 5}}};
  const char* const writes[] = {"clip:SetTxtData('new')", "clip:SetHdropData({'C:\\\\new'})"};
  for (const char* write : writes) {
    put(before);
    desktop::os::testing::set_clipboard_data = refuse_data;
    run(std::string("clip = _G['ClipBoardData.Manager'] ") + write + " result = ''");
    desktop::os::testing::set_clipboard_data = ::SetClipboardData;
    for (const auto& b : before) {
      std::vector<unsigned char> now = get(b.first);
      ASSERT_GE(now.size(), b.second.size()) << write << " " << b.first;
      now.resize(b.second.size());  // the system may round a block up
      EXPECT_EQ(now, b.second) << write << " " << b.first;
    }
  }
  // Data it takes replaces everything.
  EXPECT_EQ(run("clip:SetTxtData('new') result = clip:GetTxtData()"), "new");
  EXPECT_TRUE(get(custom).empty());
  EXPECT_TRUE(get(CF_HDROP).empty());
}

// ---- tray --------------------------------------------------------------------------------

TEST(TrayWindow, IsAHiddenPopupThatPassesShellMessagesToTheListeners) {
  EXPECT_EQ(run("tray = _G['Tray.Manager'] tlog = {} "
                "tc = tray:AttachEvent(function(w, l) tlog[#tlog + 1] = w .. ':' .. l end) "
                "tray:CreateNotifyTray() tray:ModifyTrayTips(string.rep('x', 140)) "
                "tray:ModifyTrayIcon(128) result = 'ok'"),
            "ok");
  HWND w = static_cast<HWND>(desktop::TrayWindow());
  ASSERT_NE(w, nullptr);
  wchar_t title[64] = {};
  GetWindowTextW(w, title, 64);
  EXPECT_EQ(std::wstring(title), L"LuaNotifyTray");
  EXPECT_TRUE(GetWindowLongW(w, GWL_STYLE) & WS_POPUP);
  EXPECT_FALSE(IsWindowVisible(w));

  ASSERT_TRUE(PostMessageW(w, desktop::kTrayMessage, 0, WM_RBUTTONUP));
  pump();
  EXPECT_EQ(run("result = table.concat(tlog, ',')"), "0:517");
  EXPECT_EQ(run("tray:DetachEvent(tc) tray:DeleteNotifyTray() tlog = {} result = 'ok'"), "ok");
  PostMessageW(w, desktop::kTrayMessage, 0, WM_LBUTTONUP);
  pump();
  EXPECT_EQ(run("result = table.concat(tlog, ',')"), "");
}

// ---- icons -------------------------------------------------------------------------------

// The bitmap GetIconByPath hands back, null for nil.
QV_BITMAP icon(const std::string& path, bool large) {
  register_once();
  lua_State* L = state();
  const int top = lua_gettop(L);
  lua_getglobal(L, "IconManager.Manager");
  lua_getfield(L, -1, "GetIconByPath");
  lua_pushvalue(L, -2);
  lua_pushstring(L, path.c_str());
  lua_pushboolean(L, large);
  QVLRT_LuaCall(L, 3, 1, "test");
  QV_BITMAP b = nullptr;
  void* block = lua_touserdata(L, -1);
  if (block && lua_getmetatable(L, -1)) {
    luaL_getmetatable(L, QV_BITMAP_CLASS);
    if (lua_rawequal(L, -1, -2)) b = *static_cast<QV_BITMAP*>(block);
  }
  lua_settop(L, top);
  return b;
}

std::string temp_copy_of_self(const wchar_t* name) {
  wchar_t self[MAX_PATH] = {}, dir[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  GetTempPathW(MAX_PATH, dir);
  const std::wstring target = std::wstring(dir) + name;
  CopyFileW(self, target.c_str(), FALSE);
  return qv::text::wide_to_utf8(target);
}

TEST(IconManager, FilesOfOneTypeShareABitmapAndProgramsDoNot) {
  QV_BITMAP a = icon("C:\\Docs\\a.txt", false);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(icon("D:\\Other\\B.TXT", false), a);
  QV_BITMAP large = icon("C:\\Docs\\a.txt", true);
  ASSERT_NE(large, nullptr);
  EXPECT_NE(large, a);
  int w = 0, h = 0;
  QV_GetBitmapBuffer(large, &w, &h);
  EXPECT_EQ(w, GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(h, GetSystemMetrics(SM_CYICON));

  const std::string one = temp_copy_of_self(L"tivorel_icon_one.exe");
  const std::string two = temp_copy_of_self(L"tivorel_icon_two.exe");
  QV_BITMAP first = icon(one, true);
  QV_BITMAP second = icon(two, true);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(icon(one, true), first);
  // A small request for a program is an entry of its own, made from the large icon.
  QV_BITMAP small = icon(one, false);
  ASSERT_NE(small, nullptr);
  EXPECT_NE(small, first);
  QV_GetBitmapBuffer(small, &w, &h);
  EXPECT_EQ(w, GetSystemMetrics(SM_CXICON));
  DeleteFileW(qv::text::utf8_to_wide(one).c_str());
  DeleteFileW(qv::text::utf8_to_wide(two).c_str());

  QV_BITMAP bare = icon("C:\\Docs\\README", false);
  EXPECT_EQ(icon("D:\\LICENSE", false), bare);  // no extension: one key
}

// A 4 x 1 icon with an alpha channel: transparent, opaque red, half green, opaque white.
HICON test_icon() {
  BITMAPV5HEADER h{};
  h.bV5Size = sizeof h;
  h.bV5Width = 4;
  h.bV5Height = -1;
  h.bV5Planes = 1;
  h.bV5BitCount = 32;
  h.bV5Compression = BI_BITFIELDS;
  h.bV5RedMask = 0x00FF0000;
  h.bV5GreenMask = 0x0000FF00;
  h.bV5BlueMask = 0x000000FF;
  h.bV5AlphaMask = 0xFF000000;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&h), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (!colour) return nullptr;
  const std::uint32_t px[4] = {0x00000000, 0xFFFF0000, 0x80008000, 0xFFFFFFFF};
  std::memcpy(bits, px, sizeof px);
  static const unsigned char clear_mask[2] = {0, 0};  // one word-aligned row of 4 bits
  HBITMAP mask = CreateBitmap(4, 1, 1, 1, clear_mask);
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = colour;
  info.hbmMask = mask;
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(colour);
  DeleteObject(mask);
  return icon;
}

class DrawnIcon : public desktop::IconSource {
 public:
  explicit DrawnIcon(HICON icon) : icon_(icon) {}
  ~DrawnIcon() override { DestroyIcon(icon_); }
  bool Size(int& w, int& h) override {
    w = 4;
    h = 1;
    return icon_ != nullptr;
  }
  bool Draw(desktop::IconCanvas& canvas, int w, int h) override {
    return DrawIconEx(static_cast<HDC>(canvas.context()), 0, 0, icon_, w, h, 0, nullptr,
                      DI_NORMAL) != 0;
  }

 private:
  HICON icon_;
};

TEST(IconImager, RecoversTheAlphaOfARealIcon) {
  DrawnIcon source(test_icon());
  desktop::CIconImagerCreator creator;
  QV_BITMAP b = creator.Render(source);
  ASSERT_NE(b, nullptr);
  const unsigned char* p = QV_GetBitmapBuffer(b, nullptr, nullptr);
  EXPECT_EQ(p[3], 0);            // transparent
  EXPECT_EQ(p[4 + 3], 255);      // opaque red
  EXPECT_EQ(p[4 + 2], 255);
  EXPECT_NEAR(p[8 + 3], 128, 1);  // half
  EXPECT_EQ(p[12 + 3], 255);     // opaque white
  EXPECT_EQ(p[12 + 0], 255);
  QV_ReleaseBitmap(b);
}

}  // namespace
