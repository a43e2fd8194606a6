#include "app/core/worker_thread.h"

#include <utility>

namespace clipra {

WorkerThread::~WorkerThread() {
  WaitFor();
}

void WorkerThread::Start() {
  thread_ = std::thread([this] {
    Execute();
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    if (OnTerminate) {
      if (host_)
        host_->Post(OnTerminate);
      else
        OnTerminate();
    }
  });
}

void WorkerThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool WorkerThread::Finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

void WorkerThread::Synchronize(const std::function<void()>& fn) {
  if (host_)
    host_->RunSync(fn);
  else
    fn();
}

void WorkerThread::Queue(std::function<void()> fn) {
  if (host_)
    host_->Post(std::move(fn));
  else
    fn();
}

}  // namespace clipra
