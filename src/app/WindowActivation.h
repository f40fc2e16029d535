#pragma once
// When the window's activation handler runs: once at start (at the first activation, or soon
// after the first show on a display that never activates windows), and again whenever the
// window takes the focus back from another window of this program (a message box, a dialog).
// Coming back from another program runs nothing.
#include <QObject>
#include <functional>

class QWidget;

namespace vorlr {

class WindowActivation : public QObject {
public:
    // handler must not raise; it runs queued, once the activation has been delivered.
    WindowActivation(QWidget& window, std::function<void()> handler);
    ~WindowActivation() override;
    int runs() const { return runs_; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void schedule();

    QWidget& window_;
    std::function<void()> handler_;
    bool started_ = false;
    bool pending_ = false;
    bool ownWindowActive_ = false;  // another window of the program was active since the last run
    int runs_ = 0;
};

}  // namespace vorlr
