// A worker thread with a synchronous call into its host thread and a
// termination notification delivered on the host thread. The window hosts
// it through Qt's event loop; clipra-cli has no display thread and runs
// both on the worker.
#pragma once

#include <functional>
#include <mutex>
#include <thread>

namespace clipra {

// The thread that owns the display: it runs what the worker hands it.
class ThreadHost {
 public:
  virtual ~ThreadHost() = default;
  // Runs `fn` on the host thread and returns once it has run.
  virtual void RunSync(const std::function<void()>& fn) = 0;
  // Queues `fn` to run on the host thread later.
  virtual void Post(std::function<void()> fn) = 0;
};

class WorkerThread {
 public:
  // Without a host, Synchronize and OnTerminate run on the worker itself.
  explicit WorkerThread(ThreadHost* host) : host_(host) {}
  virtual ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts Execute on a new thread. OnTerminate must be set before.
  void Start();
  void WaitFor();
  bool Finished() const;

  // Runs on the host thread after Execute has returned.
  std::function<void()> OnTerminate;

 protected:
  virtual void Execute() = 0;
  // Runs `fn` on the host thread while the worker waits.
  void Synchronize(const std::function<void()>& fn);
  // Hands `fn` to the host thread without waiting for it; calls run in the
  // order queued, and before OnTerminate.
  void Queue(std::function<void()> fn);

 private:
  ThreadHost* host_;
  std::thread thread_;
  mutable std::mutex mutex_;
  bool finished_ = false;
};

}  // namespace clipra
