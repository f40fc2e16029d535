#include "app/WorkProgress.h"

#include <QCoreApplication>

namespace vorlr {

WorkProgress::WorkProgress(QWidget* parent, WindowWork& work, WindowWork kind, const QString& text,
                           int maximum, int showAfterMs)
    : busy_(work, kind), dialog_(text, QStringLiteral("Cancel"), 0, maximum, parent) {
    dialog_.setWindowModality(Qt::WindowModal);
    dialog_.setMinimumDuration(showAfterMs);
    dialog_.setAutoClose(false);
    dialog_.setAutoReset(false);
    sinceDispatch_.start();
}

WorkProgress::~WorkProgress() { dialog_.close(); }

bool WorkProgress::dispatch() {
    sinceDispatch_.restart();
    QCoreApplication::processEvents();
    if (afterDispatch) afterDispatch();
    return !cancelled();
}

}  // namespace vorlr
