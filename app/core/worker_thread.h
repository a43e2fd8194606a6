// A worker thread with a synchronous call into its host thread and a
// termination notification delivered on the host thread. The window hosts
// it through Qt's event loop, clipra-cli through a small loop of its own.
#pragma once

#include <condition_variable>
#include <deque>
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

// A host for programs without a window: the host thread calls Run, which
// serves calls until Quit.
class LoopHost : public ThreadHost {
 public:
  void RunSync(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;
  void Run();
  void Quit();

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool quit_ = false;
};

class TWorkerThread {
 public:
  explicit TWorkerThread(ThreadHost* host) : host_(host) {}
  virtual ~TWorkerThread();
  TWorkerThread(const TWorkerThread&) = delete;
  TWorkerThread& operator=(const TWorkerThread&) = delete;

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

 private:
  ThreadHost* host_;
  std::thread thread_;
  mutable std::mutex mutex_;
  bool finished_ = false;
};

}  // namespace clipra
