// Queues every URL of a list in "DownloadManger.Manager" (from Lua, as the user interface does)
// and reports how long the queue took to download them all and how many task rows it wrote.
//
//   download_queue_bench URL_LIST OUT_DIR [--bare]
// URL_LIST holds one "url<TAB>file name" per line. Prints "seconds=... tasks=... writes=...
// failed=...". With --bare only the queue and the downloader run (no database, no Lua), which
// shows what the database and the Lua calls add.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "lua_harness.h"
#include "qv/message_loop.h"
#include "store/http_downloader.h"
#include "store/lua_download_manager.h"
#include "store/sqlite_manager.h"
#include "qv/text.h"

namespace {

class loop_poster : public store::work_poster {
 public:
  loop_poster() {
    qv::loop::window_spec spec;
    spec.class_name = L"TivorelBenchWork";
    window_ = qv::loop::create_window(spec, &proc, this);
  }
  ~loop_poster() override { qv::loop::destroy_window(window_); }
  void post_work(std::intptr_t type) override {
    qv::loop::post_message(window_, qv::loop::kWmUser + 1, 0, type);
  }
  store::CLuaDownloadManager* target = nullptr;

 private:
  static qv::loop::lresult_t proc(void* user, qv::loop::window_handle w, unsigned msg,
                                  qv::loop::wparam_t wp, qv::loop::lparam_t lp) {
    auto* self = static_cast<loop_poster*>(user);
    if (msg == qv::loop::kWmUser + 1 && self->target) {
      self->target->OnMessage(lp);
      return 0;
    }
    return qv::loop::default_window_proc(w, msg, wp, lp);
  }
  qv::loop::window_handle window_ = nullptr;
};

int lua_finish(lua_State*) {
  qv::loop::post_quit(0);
  return 0;
}

std::string lua_quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

// The queue alone: no database, no Lua.
int run_bare(const std::vector<std::pair<std::string, std::string>>& jobs) {
  struct counter : store::download_callback {
    std::size_t left = 0;
    int failed = 0;
    void call(std::int32_t, std::int64_t, std::int64_t, std::int32_t state) override {
      if (state != store::kTaskFinished && state != store::kTaskFailed) return;
      if (state == store::kTaskFailed) ++failed;
      if (--left == 0) qv::loop::post_quit(0);
    }
  };
  auto cb = std::make_shared<counter>();
  cb->left = jobs.size();
  store::download_queue queue(nullptr, 0, &store::make_http_downloader, [] {});
  const auto start = std::chrono::steady_clock::now();
  for (const auto& [url, path] : jobs) {
    store::new_download d;
    d.url = url;
    d.path = qv::text::utf8_to_utf16(path);
    d.callback = cb;
    queue.download_file(std::move(d));
  }
  qv::loop::run();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("seconds=%.3f tasks=%zu writes=0 failed=%d\n", seconds, jobs.size(), cb->failed);
  return 0;
}

int main(int argc, char** argv) {
  const bool bare = argc == 4 && std::string(argv[3]) == "--bare";
  if (argc != 3 && !bare) {
    std::cerr << "usage: download_queue_bench URL_LIST OUT_DIR [--bare]\n";
    return 2;
  }
  const std::string out_dir = argv[2];
  std::ifstream list(argv[1]);
  std::string script = "total = 0\ndone = 0\nfailed = 0\n"
                       "function on_task(id, pos, size, state)\n"
                       "  if state == 5 or state == 4 then\n"
                       "    done = done + 1\n"
                       "    if state == 4 then failed = failed + 1 end\n"
                       "    if done == total then finish() end\n"
                       "  end\n"
                       "end\n";
  std::string line;
  int tasks = 0;
  std::vector<std::pair<std::string, std::string>> jobs;
  while (std::getline(list, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    jobs.emplace_back(line.substr(0, tab), out_dir + "/" + line.substr(tab + 1));
    script += "total = total + 1\ndm:DownLoadFile(" + lua_quoted(line.substr(0, tab)) + ", " +
              lua_quoted(out_dir + "/" + line.substr(tab + 1)) + ", 1, 'bench', '', on_task)\n";
    ++tasks;
  }
  if (tasks == 0) {
    std::cerr << "no URLs\n";
    return 2;
  }

  if (bare) return run_bare(jobs);

  CSqliteManager db;
  if (!db.open(qv::text::utf8_to_utf16(out_dir + "/Download.db"))) {
    std::cerr << "cannot open the database\n";
    return 1;
  }
  loop_poster poster;
  store_test::lua_harness lua;
  auto dm = std::make_unique<store::CLuaDownloadManager>(db, poster, &store::make_http_downloader);
  poster.target = dm.get();
  lua.install(store::CLuaDownloadManager::kClassName, store::CLuaDownloadManager::methods(),
              dm.get(), "dm");
  lua_register(lua.L, "finish", &lua_finish);

  const auto start = std::chrono::steady_clock::now();
  const std::string err = lua.run(script);
  if (!err.empty()) {
    std::cerr << err << "\n";
    return 1;
  }
  qv::loop::run();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  poster.target = nullptr;
  std::printf("seconds=%.3f tasks=%d writes=%llu failed=%s\n", seconds, tasks,
              static_cast<unsigned long long>(db.task_writes()), lua.eval("failed").c_str());
  return 0;
}
