#pragma once
// "Save archive": the writer runs on a thread of its own while the window shows a progress
// dialog with Cancel and its event loop goes on; the window is busy saving until it has ended.
#include <atomic>
#include <functional>

#include "app/WindowWork.h"
#include "archive/ArchiveWriter.h"

class QWidget;

namespace vorlr {

// Writes source with edit applied to target. Returns false when cancelled (the target is then
// as it was); the writer's errors are raised here, on the window's thread. duringWrite runs on
// the writing thread at each progress report; cancel may be set from anywhere.
bool RunSave(QWidget* parent, WindowWork& work, const Archive& source, const ArchiveEdit& edit,
             WriteTarget target, const std::function<void(int64_t, int64_t)>& duringWrite,
             std::atomic<bool>& cancel);
// The same for another writer: write(target) on the writing thread.
bool RunSave(QWidget* parent, WindowWork& work,
             const std::function<void(const WriteTarget&)>& write, WriteTarget target,
             const std::function<void(int64_t, int64_t)>& duringWrite, std::atomic<bool>& cancel);

}  // namespace vorlr
