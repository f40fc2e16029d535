#pragma once
// What the window is busy with. A directory load and an extraction dispatch pending events while
// they run, so handlers can be reached in the middle of them; those start nothing new unless the
// window is idle.
namespace vorlr {

enum class WindowWork { Idle, Loading, Extracting, Saving, Comparing };

// Puts the window into one kind of work for the guard's lifetime and back to Idle on every way
// out, exceptions included. The caller checks that the window is idle first.
class WorkGuard {
public:
    WorkGuard(WindowWork& work, WindowWork kind) : work_(work) { work_ = kind; }
    ~WorkGuard() { work_ = WindowWork::Idle; }
    WorkGuard(const WorkGuard&) = delete;
    WorkGuard& operator=(const WorkGuard&) = delete;

private:
    WindowWork& work_;
};

}  // namespace vorlr
