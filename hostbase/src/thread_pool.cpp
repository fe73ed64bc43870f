#include "hostbase/thread_pool.h"

#include "hostbase/archive_extractor.h"
#include "hostbase/dir_tree.h"
#include "hostbase/process_queue.h"
#include "thread_pool_os.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace hostbase {

namespace {

std::atomic<ArchiveExtractor> g_extractor{nullptr};
std::atomic<ProcessQueue> g_process_queue{nullptr};

// Stands in for the process item when no module runs processes: it fails without running.
struct NoProcessData {
  std::int32_t id = 0;
  WorkItemCompletion completion;
};
class NoProcessImp : public WorkItemImp<NoProcessData> {
 public:
  using WorkItemImp::WorkItemImp;
  std::int32_t Run(void*) override { return kWorkFail; }
};

}  // namespace

void SetProcessQueue(ProcessQueue queue) { g_process_queue.store(queue); }

std::int32_t QueueProcessItem(const std::string& command_line, std::int32_t timeout_ms,
                              WorkItemCompletion completion) {
  if (const ProcessQueue q = g_process_queue.load()) return q(command_line, timeout_ms, completion);
  NoProcessData d;
  d.completion = completion;
  return QueueNewItem<NoProcessImp>(std::move(d));
}

void SetArchiveExtractor(ArchiveExtractor extractor) { g_extractor.store(extractor); }

bool ExtractArchive(const std::u16string& archive, const std::u16string& folder) {
  const ArchiveExtractor e = g_extractor.load();
  return e && e(archive, folder);
}

// One thread with its queue. The pool never ends it: it waits for work until the process ends.
// Its lock and wake-up belong to the worker, which is never destroyed, so a process that exits
// while the thread waits tears nothing down under it.
class CThreadPool::Worker {
 public:
  explicit Worker(qv::loop::window_handle window) : window_(window) {}

  bool Start() {
    try {
      std::thread(&Worker::Body, this).detach();
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

  void Push(PoolRecord* record) {
    std::lock_guard<std::mutex> g(lock_);
    queue_.push_back(record);
    work_.notify_one();
  }

 private:
  void Body() {
    os::com_apartment com;
    for (;;) {
      PoolRecord* record = nullptr;
      {
        std::unique_lock<std::mutex> g(lock_);
        work_.wait(g, [this] { return stop_ || !queue_.empty(); });
        if (stop_) return;
        record = queue_.front();
        queue_.pop_front();
      }
      if (record->routine) record->result = record->routine->Run(record->parameter);
      // A window that is gone (the program is ending) drops the record with the message.
      qv::loop::post_message(window_, kMsgWorkDone, 0, reinterpret_cast<qv::loop::lparam_t>(record));
    }
  }

  qv::loop::window_handle window_;
  std::mutex lock_;
  std::condition_variable work_;
  std::deque<PoolRecord*> queue_;
  bool stop_ = false;  // never set while the program runs
};

CThreadPool* CThreadPool::Instance() {
  static CThreadPool* pool = new CThreadPool();  // never destroyed: its worker may still run
  return pool;
}

bool CThreadPool::StartWorker() {
  auto worker = std::make_unique<Worker>(window_);
  if (!worker->Start()) return false;
  workers_.push_back(std::move(worker));
  return true;
}

std::int32_t CThreadPool::QueueWorkItem(PoolRecord* record) {
  if (workers_.empty()) {
    if (!window_) {
      qv::loop::window_spec spec;
      spec.class_name = L"thread_pool_wnd_class";
      spec.redraw_styles = true;
      window_ = qv::loop::create_window(spec, &CThreadPool::WindowProc, this);
    }
    if (!window_ || !StartWorker()) return kWorkFail;
  }
  workers_.front()->Push(record);
  return kWorkOk;
}

qv::loop::lresult_t CThreadPool::WindowProc(void*, qv::loop::window_handle w, unsigned msg,
                                            qv::loop::wparam_t wp, qv::loop::lparam_t lp) {
  if (msg == kMsgWorkDone) {
    auto* record = reinterpret_cast<PoolRecord*>(lp);
    if (record && record->callback) record->callback->OnRoutineDone(record);
    return 0;
  }
  return qv::loop::default_window_proc(w, msg, wp, lp);
}

std::int32_t NextWorkItemId() {
  static std::atomic<std::int32_t> counter{0};
  return ++counter;
}

std::int32_t MiniUnzipImp::Run(void* parameter) {
  const auto& d = *static_cast<MiniUnzipData*>(parameter);
  return ExtractArchive(d.archive, d.destination) ? kWorkOk : kWorkFail;
}

std::int32_t DeleteDirImp::Run(void* parameter) {
  DeleteDirTree(static_cast<DeleteDirData*>(parameter)->directory);
  return kWorkOk;
}

std::int32_t QueueUnzip(const std::u16string& archive, const std::u16string& destination,
                        WorkItemCompletion completion) {
  MiniUnzipData d;
  d.completion = completion;
  d.archive = archive;
  d.destination = destination;
  return QueueNewItem<MiniUnzipImp>(std::move(d));
}

std::int32_t QueueDeleteDir(const std::wstring& directory, WorkItemCompletion completion) {
  DeleteDirData d;
  d.completion = completion;
  d.directory = directory;
  return QueueNewItem<DeleteDirImp>(std::move(d));
}

}  // namespace hostbase
