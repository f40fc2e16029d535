#pragma once
// The window's side of a directory load: the window busy loading while it lives, the loading
// panel with its label and progress bar, pending events dispatched while the loader runs, and the
// Stop flag it polls.
#include <cstdint>
#include <functional>

#include "app/WindowWork.h"
#include "archive/DirectoryLoader.h"

class QFrame;
class QLabel;
class QProgressBar;

namespace vorlr {

class LoadingRun final : public LoadObserver {
public:
    struct Panels {
        QFrame* paMain;
        QFrame* paLoad;
        QLabel* laLoad;
        QProgressBar* pbLoad;
    };
    // afterDispatch runs after each dispatch of pending events (a place for tests to act in the
    // middle of a load).
    LoadingRun(const Panels& panels, WindowWork& work, bool& stopRequested,
               std::function<void()> afterDispatch);
    // The panels are restored, whichever way the load ended.
    ~LoadingRun() override;
    LoadingRun(const LoadingRun&) = delete;
    LoadingRun& operator=(const LoadingRun&) = delete;

    void loadingStarted(int32_t count) override;
    void dispatchEvents() override;
    void progress(int32_t index) override;
    void loadingFinished() override;
    bool stopRequested() override { return stopRequested_; }

private:
    void showProgress();
    WorkGuard busy_;
    Panels panels_;
    bool& stopRequested_;
    std::function<void()> afterDispatch_;
    int32_t pending_ = 0;
    int32_t shown_ = 0;
    int32_t step_ = 1;
};

}  // namespace vorlr
