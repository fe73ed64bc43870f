// "HttpRequest.Manager": catalogue and update requests for the user interface. Requests run one
// at a time in id order, each on a fresh connection; a JSON answer becomes a Lua table of the
// request's type and goes to the request's callback. Failures are silent. UI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "luabind/lua_event.h"
#include "qv/asyn_http.h"
#include "qv_engine.h"

namespace Json {
class Value;
}

namespace store {

// Bounds on an answer: a larger body or deeper nesting is refused like unparsable JSON.
constexpr std::size_t kMaxAnswerBytes = 4u << 20;
constexpr unsigned kMaxJsonDepth = 64;

// Turns every "%" followed by two hexadecimal digits into that byte; anything else (also a "%"
// too close to the end) is copied as it is.
std::string PercentDecode(const std::string& body);

// JSON text to a value within the bounds above; false when it does not parse or is too big.
bool ParseAnswer(const std::string& text, Json::Value& root);
// Pushes the result table of `type` for a parsed answer (raw_body: the body as received). False,
// with nothing pushed, when the answer does not have the shape the type needs.
bool PushAnswerTable(lua_State* L, std::int32_t type, const Json::Value& root,
                     const std::string& raw_body);

// The update check's place. The endpoint ("http://host[:port]") is the key below of section
// "basic" in "config.ini"; the version is "appver" of the same section.
constexpr const wchar_t* kUpdateEndpointKey = L"updateserver";
constexpr const char* kDefaultUpdateEndpoint = "http://update.tivorel.com";
constexpr const char* kUpdatePath = "/gengxin/update.php?v=";
constexpr const char* kPlaceholderPackage = "com.tivorel.placeholder";

struct update_settings {
  std::wstring endpoint;  // as configured; may be empty or malformed
  std::wstring version;   // at most 9 characters
};
// Both values from an INI file (missing file or keys give the defaults).
update_settings ReadUpdateSettings(const std::wstring& config_file);
// From the program's own "Profiles\config.ini".
update_settings ReadInstalledUpdateSettings();
// The endpoint (the default when the configured one is not "http://host[:port]") + the fixed
// path + the URL-encoded version.
std::string UpdateUrl(const update_settings& settings);

class CLuaSubHttpRequest : public qv::win32::net::asyn_http_event {
 public:
  static constexpr const char* kObjectName = "HttpRequest.Manager";
  static constexpr const char* kClassName = "HttpRequest.Manager.Class";

  using settings_reader = std::function<update_settings()>;

  explicit CLuaSubHttpRequest(settings_reader settings = &ReadInstalledUpdateSettings);
  ~CLuaSubHttpRequest() override;
  CLuaSubHttpRequest(const CLuaSubHttpRequest&) = delete;
  CLuaSubHttpRequest& operator=(const CLuaSubHttpRequest&) = delete;

  // The operations behind the Lua methods; the callback may be empty.
  std::int32_t Request(std::int32_t type, const std::string& url,
                       std::unique_ptr<luabind::CLuaEvent> callback);
  std::int32_t CheckUpdate(std::unique_ptr<luabind::CLuaEvent> callback);
  void Cancel(std::int32_t id);

  std::size_t pending() const { return requests_.size(); }
  static const QVLRT_METHOD* methods();

 private:
  struct task {
    std::int32_t type = 0;
    int state = 1;  // 1 waiting, 2 running
    std::unique_ptr<luabind::CLuaEvent> callback;
    std::string url;
  };

  void on_response(std::int32_t request_id, const qv::win32::net::http_response& response) override;
  void on_error(std::int32_t request_id, std::int32_t error_code) override;
  void on_data(std::int32_t request_id, const qv::win32::net::http_response& response,
               const char* data, std::uint32_t length, std::uint64_t offset, bool& keep) override;

  void start_next();
  // Forgets the request without calling its callback and starts the next one.
  void drop(std::int32_t id);

  settings_reader settings_;
  qv::win32::net::asyn_http http_;
  std::int32_t counter_ = 0;
  std::map<std::int32_t, task> requests_;
  bool starting_ = false;
};

}  // namespace store
