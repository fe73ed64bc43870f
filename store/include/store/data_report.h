// "DataReport.Manager": the usage reporter. It derives the machine identifier from the first
// network adapter when it is made; Report collects pairs, and nothing is sent from them yet.
// UI thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "qv/asyn_http.h"
#include "qv_engine.h"

namespace store {

class CMACReaderEx;

class CLuaDataReport : public qv::win32::net::asyn_http_event {
 public:
  static constexpr const char* kObjectName = "DataReport.Manager";
  static constexpr const char* kClassName = "DataReport.Class";
  // Collected pairs beyond this many are dropped.
  static constexpr std::size_t kMaxPairs = 4096;

  CLuaDataReport();                             // the system's adapters
  explicit CLuaDataReport(CMACReaderEx& reader);
  ~CLuaDataReport() override;
  CLuaDataReport(const CLuaDataReport&) = delete;
  CLuaDataReport& operator=(const CLuaDataReport&) = delete;

  const std::string& machine_id() const { return machine_id_; }
  const std::vector<std::pair<std::string, std::string>>& collected() const { return pairs_; }
  void Collect(std::string key, std::string value);

  static const QVLRT_METHOD* methods();

 private:
  void on_response(std::int32_t request_id, const qv::win32::net::http_response& response) override;
  void on_error(std::int32_t request_id, std::int32_t error_code) override;
  void send_next();

  qv::win32::net::asyn_http http_;
  std::string machine_id_;
  std::deque<std::string> pending_;  // report URLs; nothing fills it until reports are settled
  std::int32_t sent_count_ = 0;
  std::vector<std::pair<std::string, std::string>> pairs_;
};

}  // namespace store
