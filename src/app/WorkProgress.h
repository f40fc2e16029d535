#pragma once
// Long work the window waits for with a progress dialog: the window busy with one kind of work
// while it lives, the dialog (window-modal, with Cancel, shown at once or after a pause), and
// pending events dispatched no more often than the work asks. Extraction, saving and the files
// written for a drag all run this way; a directory load has its own panel.
#include <QElapsedTimer>
#include <QProgressDialog>
#include <functional>

#include "app/WindowWork.h"

namespace vorlr {

class WorkProgress {
public:
    WorkProgress(QWidget* parent, WindowWork& work, WindowWork kind, const QString& text, int maximum,
                 int showAfterMs = 0);
    ~WorkProgress();
    WorkProgress(const WorkProgress&) = delete;
    WorkProgress& operator=(const WorkProgress&) = delete;

    QProgressDialog& dialog() { return dialog_; }
    bool cancelled() const { return dialog_.wasCanceled(); }
    // At least ms since the last dispatch.
    bool due(qint64 ms) const { return sinceDispatch_.elapsed() >= ms; }
    // Pending events dispatched now, then afterDispatch; false once Cancel was pressed.
    bool dispatch();
    std::function<void()> afterDispatch;

private:
    WorkGuard busy_;
    QProgressDialog dialog_;
    QElapsedTimer sinceDispatch_;
};

}  // namespace vorlr
