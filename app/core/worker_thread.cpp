#include "app/core/worker_thread.h"

namespace clipra {

void LoopHost::RunSync(const std::function<void()>& fn) {
  if (!fn) return;
  std::mutex done_mutex;
  std::condition_variable done_cv;
  bool done = false;
  Post([&] {
    fn();
    std::lock_guard lock(done_mutex);
    done = true;
    done_cv.notify_one();
  });
  std::unique_lock lock(done_mutex);
  done_cv.wait(lock, [&] { return done; });
}

void LoopHost::Post(std::function<void()> fn) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(fn));
  wake_.notify_one();
}

void LoopHost::Run() {
  for (;;) {
    std::function<void()> fn;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return quit_ || !queue_.empty(); });
      if (queue_.empty()) return;
      fn = std::move(queue_.front());
      queue_.pop_front();
    }
    fn();
  }
}

void LoopHost::Quit() {
  std::lock_guard lock(mutex_);
  quit_ = true;
  wake_.notify_one();
}

TWorkerThread::~TWorkerThread() { WaitFor(); }

void TWorkerThread::Start() {
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

void TWorkerThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool TWorkerThread::Finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

void TWorkerThread::Synchronize(const std::function<void()>& fn) {
  if (host_)
    host_->RunSync(fn);
  else
    fn();
}

}  // namespace clipra
