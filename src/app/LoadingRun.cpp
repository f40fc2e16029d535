#include "app/LoadingRun.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

namespace vorlr {

LoadingRun::LoadingRun(const Panels& panels, WindowWork& work, bool& stopRequested,
                       std::function<void()> afterDispatch)
    : busy_(work, WindowWork::Loading),
      panels_(panels),
      stopRequested_(stopRequested),
      afterDispatch_(std::move(afterDispatch)) {}

LoadingRun::~LoadingRun() { loadingFinished(); }

void LoadingRun::loadingStarted(int32_t count) {
    panels_.laLoad->setText(QString::asprintf("Loading %d file names ...", count));
    panels_.laLoad->adjustSize();
    panels_.pbLoad->setValue(0);
    panels_.pbLoad->setRange(0, count > 0 ? count : 0);
    shown_ = pending_ = 0;
    step_ = std::max<int32_t>(1, count / std::max(1, panels_.pbLoad->width()));
    panels_.paLoad->show();
    panels_.paLoad->raise();
    panels_.paMain->setEnabled(false);
    stopRequested_ = false;
}

void LoadingRun::dispatchEvents() {
    showProgress();
    QCoreApplication::processEvents();
    if (afterDispatch_) afterDispatch_();
}

// The bar moves once per entry but is updated only when that shows on screen: the widget's
// own per-value work adds up over a million entries.
void LoadingRun::progress(int32_t index) {
    pending_ = index;
    if (index - shown_ >= step_ || index < shown_) showProgress();
}

void LoadingRun::loadingFinished() {
    showProgress();
    panels_.paMain->setEnabled(true);
    panels_.paLoad->hide();
}

void LoadingRun::showProgress() {
    if (pending_ == shown_) return;
    panels_.pbLoad->setValue(pending_);
    shown_ = pending_;
}

}  // namespace vorlr
