// Hosts the job's worker thread on Qt's GUI thread: the worker's synchronous
// calls and its termination notification run there as queued calls.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>

#include "app/core/worker_thread.h"

namespace clipra {

class QtThreadHost : public ThreadHost {
 public:
  // Calls run as if sent to `context`; when it is destroyed, queued calls
  // are dropped.
  explicit QtThreadHost(QObject* context) : context_(context) {}

  // Blocks the worker until `fn` has run on the context's thread.
  void RunSync(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;

  // The display is going away: from now on RunSync returns without running
  // anything, so that the GUI thread may wait for the worker.
  void Detach() { detached_ = true; }

 private:
  QObject* context_;
  std::atomic<bool> detached_{false};
};

}  // namespace clipra
