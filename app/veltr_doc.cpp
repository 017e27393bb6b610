#include "app/veltr_doc.h"

#include <QMetaObject>

#include "engine/notice_queue.h"
#include "engine/upgrade_engine.h"

#ifdef __SANITIZE_THREAD__
// The thread sanitizer's own entry points (its header does not declare these two).
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
#endif

namespace veltr {

CVeltrDoc::CVeltrDoc(QObject* parent) : QObject(parent) {
  qRegisterMetaType<UploadProgress>("veltr::UploadProgress");
}

CVeltrDoc::~CVeltrDoc() {
  Detach();
}

void CVeltrDoc::Attach(UpgradeEngine& engine) {
  engine_ = &engine;
  engine.Notices().SetWakeUp([this] { PostWakeUp(); });
  engine.SetDisplay(this);
}

void CVeltrDoc::Detach() {
  if (engine_ == nullptr) {
    return;
  }
  engine_->SetDisplay(nullptr);
  engine_->Notices().SetWakeUp({});
  engine_ = nullptr;
}

// Runs on the worker: only a queued call crosses to the window's thread.
void CVeltrDoc::PostWakeUp() {
  if (wakeUpPending_.exchange(true)) {
    return;
  }
#ifdef __SANITIZE_THREAD__
  // Posting appends to the window thread's event list under Qt's own mutex, a futex the thread
  // sanitizer cannot see in a Qt built without it; the window thread appends to the same list
  // itself (repaints, timers), so every post from here would read as a race in Qt's list. The
  // notices themselves cross under the queue's mutex, which the sanitizer does see; only what Qt
  // touches while posting is left out of its view.
  __tsan_ignore_thread_begin();
#endif
  QMetaObject::invokeMethod(this, &CVeltrDoc::TakeNotices, Qt::QueuedConnection);
#ifdef __SANITIZE_THREAD__
  __tsan_ignore_thread_end();
#endif
}

void CVeltrDoc::TakeNotices() {
  // Cleared before taking: a notice pushed from here on posts a call of its own.
  wakeUpPending_.store(false);
  if (engine_ == nullptr) {
    return;
  }
  // The job end handler below may open modal dialogs whose event loop runs this again; both take
  // from the one queue on this one thread, so the order holds.
  while (engine_ != nullptr) {
    const auto notice = engine_->Notices().TryTake();
    if (!notice) {
      return;
    }
    if (notice->kind == Notice::Kind::JobFinished) {
      emit JobFinished();
      continue;
    }
    const DisplayChange& change = notice->change;
    switch (change.kind) {
      case DisplayChange::Kind::Title:
        emit TitleChanged(QString::fromStdString(change.text));
        break;
      case DisplayChange::Kind::Line:
        if (change.progress.Any()) {
          emit ProgressChanged(change.progress);
        }
        emit DisplayUpdated();
        break;
      case DisplayChange::Kind::PageCleared:
      case DisplayChange::Kind::PageShown:
        emit ProgressChanged(UploadProgress{});
        emit DisplayUpdated();
        break;
    }
  }
}

}  // namespace veltr
