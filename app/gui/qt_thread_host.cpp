#include "app/gui/qt_thread_host.h"

#include <QMetaObject>
#include <QThread>

namespace clipra {

void QtThreadHost::RunSync(const std::function<void()>& fn) {
  if (!fn || detached_) return;
  // A blocking call into one's own thread would wait for ever.
  if (QThread::currentThread() == context_->thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(
      context_,
      [this, &fn] {
        if (!detached_) fn();
      },
      Qt::BlockingQueuedConnection);
}

void QtThreadHost::Post(std::function<void()> fn) {
  if (!fn) return;
  QMetaObject::invokeMethod(context_, std::move(fn), Qt::QueuedConnection);
}

}  // namespace clipra
