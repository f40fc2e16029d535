#include "app/WindowActivation.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

namespace vorlr {

WindowActivation::WindowActivation(QWidget& window, std::function<void()> handler)
    : QObject(&window), window_(window), handler_(std::move(handler)) {
    // Other windows' activations are only seen application-wide.
    qApp->installEventFilter(this);
}

WindowActivation::~WindowActivation() { qApp->removeEventFilter(this); }

bool WindowActivation::eventFilter(QObject* watched, QEvent* e) {
    const QEvent::Type type = e->type();
    if ((type != QEvent::WindowActivate && type != QEvent::Show) || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (!widget->isWindow()) return false;
    if (widget == &window_) {
        // Without a window manager the window is shown but may never be activated.
        if (type == QEvent::Show ? !started_ : (!started_ || ownWindowActive_)) schedule();
    } else if (type == QEvent::WindowActivate) {
        // Menus and tips never take the focus from the window.
        const Qt::WindowType kind = widget->windowType();
        if (kind != Qt::Popup && kind != Qt::ToolTip) ownWindowActive_ = true;
    }
    return false;
}

void WindowActivation::schedule() {
    started_ = true;
    ownWindowActive_ = false;
    if (pending_) return;
    pending_ = true;
    QTimer::singleShot(0, this, [this] {
        pending_ = false;
        ++runs_;
        handler_();
    });
}

}  // namespace vorlr
