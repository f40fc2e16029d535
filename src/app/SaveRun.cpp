#include "app/SaveRun.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <exception>
#include <thread>

#include "app/WorkProgress.h"
#include "platform/Errors.h"

namespace vorlr {

namespace {

// What the writer raises to give up once Cancel was pressed.
struct Cancelled : Error {
    Cancelled() : Error("Saving cancelled") {}
};

}  // namespace

bool RunSave(QWidget* parent, WindowWork& work, const Archive& source, const ArchiveEdit& edit,
             WriteTarget target, const std::function<void(int64_t, int64_t)>& duringWrite,
             std::atomic<bool>& cancel) {
    return RunSave(
        parent, work,
        [&](const WriteTarget& t) {
            // A new archive has no file: its entries are all added ones.
            if (source.isOpen())
                WriteEditedArchive(source, edit, t);
            else
                WriteNewArchive(edit.add, t);
        },
        std::move(target), duringWrite, cancel);
}

bool RunSave(QWidget* parent, WindowWork& work,
             const std::function<void(const WriteTarget&)>& write, WriteTarget target,
             const std::function<void(int64_t, int64_t)>& duringWrite, std::atomic<bool>& cancel) {
    const QString name = QFileInfo(QString::fromLocal8Bit(target.path.c_str())).fileName();
    WorkProgress run(parent, work, WindowWork::Saving, QStringLiteral("Saving %1 ...").arg(name), 1000);
    QProgressDialog& progress = run.dialog();
    QObject::connect(&progress, &QProgressDialog::canceled, [&] { cancel = true; });

    std::atomic<int64_t> written{0}, total{1};
    target.progress = [&](int64_t w, int64_t t) {
        written = w;
        total = t > 0 ? t : 1;
        if (duringWrite) duringWrite(w, t);
        if (cancel) throw Cancelled();
    };
    target.beforeCommit = [&] {
        if (cancel) throw Cancelled();
    };

    QEventLoop loop;
    std::atomic<bool> done{false};
    std::exception_ptr failure;
    std::thread writer([&] {
        // The window's thread comes first for the processor: the writer mostly waits for the disk.
        (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
        try {
            write(target);
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    QTimer tick;
    tick.setInterval(30);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        progress.setValue(static_cast<int>(written * 1000 / total));
    });
    tick.start();
    if (!done) loop.exec();
    writer.join();
    tick.stop();
    if (!failure) return true;
    try {
        std::rethrow_exception(failure);
    } catch (const Cancelled&) {
        return false;
    }
}

}  // namespace vorlr
