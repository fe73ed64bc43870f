// The single-worker queues of the process runner and the driver manager: both keep their tasks in
// a map by id (in queue order) with a "taken" flag, so the worker picks the first task not yet taken.
#pragma once

#include <condition_variable>
#include <mutex>

namespace tiv::android {

// Waits until stop is set or a task not yet taken is queued, and marks that task taken.
// Returns tasks.end() when stopped. The caller holds the lock through g.
template <class TaskMap>
typename TaskMap::iterator TakeNextTask(std::unique_lock<std::mutex>& g, std::condition_variable& wake,
                                        const bool& stop, TaskMap& tasks) {
  auto next = tasks.end();
  wake.wait(g, [&] {
    if (stop) return true;
    for (auto it = tasks.begin(); it != tasks.end(); ++it) {
      if (!it->second.taken) {
        next = it;
        return true;
      }
    }
    return false;
  });
  if (stop) return tasks.end();
  next->second.taken = true;
  return next;
}

}  // namespace tiv::android
