// Blocking jobs started from the UI thread without waiting for them (extract an archive, delete a
// folder, run a process): each is a work item that runs on the pool's worker thread; its result
// comes back to the UI thread through the pool's hidden window (message 0xBDC), where the item
// calls its completion and frees itself. Items run one at a time, in the order queued.
#pragma once

#include "qv/message_loop.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace hostbase {

constexpr std::int32_t kWorkOk = 0;
constexpr std::int32_t kWorkFail = static_cast<std::int32_t>(0x80004005u);  // E_FAIL
constexpr unsigned kMsgWorkDone = 0xBDC;

struct PoolRecord;

// Runs on the worker thread; never touches Lua or UI objects.
class IWorkerRoutine {
 public:
  virtual std::int32_t Run(void* parameter) = 0;

 protected:
  ~IWorkerRoutine() = default;
};

// Runs on the UI thread once the routine has run.
class IRoutineCallback {
 public:
  virtual void OnRoutineDone(PoolRecord* record) = 0;

 protected:
  ~IRoutineCallback() = default;
};

// Frees the data record, the pool record and the item.
class IWorItemClean {
 public:
  virtual void Clean(PoolRecord* record) = 0;

 protected:
  ~IWorItemClean() = default;
};

struct PoolRecord {
  IWorkerRoutine* routine = nullptr;
  void* parameter = nullptr;
  IRoutineCallback* callback = nullptr;
  std::int32_t result = kWorkOk;  // written by the worker
};

class IWorkItem : public IWorkerRoutine, public IRoutineCallback, public IWorItemClean {
 public:
  virtual ~IWorkItem() = default;
};

// What an item calls when it is done, on the UI thread: complete(context, id, result) exactly once
// after its routine has run, or discard(context) when the item goes without having run (the
// worker could not be started). Either one ends the context's life.
struct WorkItemCompletion {
  void* context = nullptr;
  void (*complete)(void* context, std::int32_t id, std::int32_t result) = nullptr;
  void (*discard)(void* context) = nullptr;
  explicit operator bool() const { return complete != nullptr; }
};

// A completion from an object with OnComplete(id, result) and Discard(), each of which ends the
// object's life (such as a Lua function callback).
template <typename T>
WorkItemCompletion CompletionOf(T* object) {
  WorkItemCompletion c;
  if (!object) return c;
  c.context = object;
  c.complete = [](void* self, std::int32_t id, std::int32_t result) {
    static_cast<T*>(self)->OnComplete(id, result);
  };
  c.discard = [](void* self) { static_cast<T*>(self)->Discard(); };
  return c;
}

// An item over its data record. Data has `std::int32_t id` and `WorkItemCompletion completion`;
// the concrete item supplies Run.
template <typename Data>
class WorkItemImp : public IWorkItem {
 public:
  using data_type = Data;
  explicit WorkItemImp(Data data) : data_(std::move(data)) {
    record_.routine = this;
    record_.parameter = &data_;
    record_.callback = this;
  }
  PoolRecord* record() { return &record_; }
  const Data& data() const { return data_; }

  void OnRoutineDone(PoolRecord* record) override {
    WorkItemCompletion c = data_.completion;
    data_.completion = {};
    if (c) c.complete(c.context, data_.id, record->result);
    Clean(record);
  }
  void Clean(PoolRecord*) override {
    if (data_.completion.discard) data_.completion.discard(data_.completion.context);
    data_.completion = {};
    delete this;
  }

 protected:
  Data data_;
  PoolRecord record_;
};

class CThreadPool {
 public:
  // The pool, created on the first call (on the UI thread, which gets the pool's window). It
  // lives until the process ends.
  static CThreadPool* Instance();

  // Hands the record to the worker, starting it first when there is none. 0, or kWorkFail when
  // no worker could be started (the caller keeps the record).
  std::int32_t QueueWorkItem(PoolRecord* record);

  class Worker;

 private:
  CThreadPool() = default;
  bool StartWorker();
  static qv::loop::lresult_t WindowProc(void* self, qv::loop::window_handle w, unsigned msg,
                                        qv::loop::wparam_t wp, qv::loop::lparam_t lp);

  qv::loop::window_handle window_ = nullptr;
  std::vector<std::unique_ptr<Worker>> workers_;
};

// The next process-wide item id: 1, 2, 3, ... never reused.
std::int32_t NextWorkItemId();

// Gives data the next id and queues a new Item over it. Returns the id, also when the item could
// not be queued (it is then freed and its completion discarded without a call).
template <typename Item>
std::int32_t QueueNewItem(typename Item::data_type data) {
  data.id = NextWorkItemId();
  const std::int32_t id = data.id;
  auto* item = new Item(std::move(data));
  if (CThreadPool::Instance()->QueueWorkItem(item->record()) != kWorkOk) item->Clean(item->record());
  return id;
}

struct MiniUnzipData {
  std::int32_t id = 0;
  WorkItemCompletion completion;
  std::u16string archive;
  std::u16string destination;
};

// Extracts the whole archive (through the extractor start-up has set): kWorkOk when the archive
// could be opened, kWorkFail otherwise.
class MiniUnzipImp : public WorkItemImp<MiniUnzipData> {
 public:
  using WorkItemImp::WorkItemImp;
  std::int32_t Run(void* parameter) override;
};

struct DeleteDirData {
  std::int32_t id = 0;
  WorkItemCompletion completion;
  std::wstring directory;
};

// Deletes a folder tree (DeleteDirTree); the result is always kWorkOk.
class DeleteDirImp : public WorkItemImp<DeleteDirData> {
 public:
  using WorkItemImp::WorkItemImp;
  std::int32_t Run(void* parameter) override;
};

std::int32_t QueueUnzip(const std::u16string& archive, const std::u16string& destination,
                        WorkItemCompletion completion);
std::int32_t QueueDeleteDir(const std::wstring& directory, WorkItemCompletion completion);

}  // namespace hostbase
