#include "platform/desktop/WorkingCopyWatcher.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Errors.h"

namespace vorlr {

namespace {

// Everything that can put other content under a name in the folder. IN_EXCL_UNLINK: writes to
// a file already unlinked (an old copy an editor still holds) are no longer this name's.
constexpr uint32_t kFolderEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO |
                                   IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF |
                                   IN_ONLYDIR | IN_EXCL_UNLINK;

// O_NONBLOCK: a FIFO put under the name must not stop the event loop; O_NOFOLLOW: the folder is
// the program's own, a link in it is followed nowhere.
int openForReading(const QString& path) {
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(),
                    O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

QString sizeText(int64_t bytes) {
    if (bytes >= (int64_t(1) << 30) && bytes % (int64_t(1) << 30) == 0)
        return QStringLiteral("%1 GiB").arg(bytes >> 30);
    return QStringLiteral("%1 bytes").arg(bytes);
}

QString errnoText(int err) {
    if (err == ELOOP) return QStringLiteral("It is a symbolic link, which is not followed");
    return QString::fromStdString(runtimeErrorText(runtimeCodeFromErrno(err)));
}

// Reads a whole file of at most limit bytes; a text for the user when it cannot.
struct Content {
    QByteArray bytes;
    QString error;
    bool missing = false;
};

Content readContent(const QString& path, int64_t limit) {
    Content c;
    const Fd fd(openForReading(path));
    if (fd.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            c.missing = true;
        else
            c.error = errnoText(errno);
        return c;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        c.error = errnoText(errno);
        return c;
    }
    if (!S_ISREG(st.st_mode)) {
        c.error = QStringLiteral("It is not a regular file");
        return c;
    }
    const QString tooLarge =
        QStringLiteral("It is larger than %1 and is not read").arg(sizeText(limit));
    if (st.st_size > limit) {
        c.error = tooLarge;
        return c;
    }
    // The file may still grow while it is read: read to its end, within the limit.
    c.bytes.resize(static_cast<qsizetype>(st.st_size));
    int64_t got = 0;
    for (;;) {
        if (got == c.bytes.size()) {
            if (got >= limit + 1) break;
            c.bytes.resize(static_cast<qsizetype>(std::min<int64_t>(limit + 1, got + (1 << 20))));
        }
        const ssize_t n =
            ::read(fd.get(), c.bytes.data() + got, static_cast<size_t>(c.bytes.size() - got));
        if (n < 0) {
            if (errno == EINTR) continue;
            c.error = errnoText(errno);
            c.bytes.clear();
            return c;
        }
        if (n == 0) break;
        got += n;
    }
    if (got > limit) {
        c.error = tooLarge;
        c.bytes.clear();
        return c;
    }
    c.bytes.resize(static_cast<qsizetype>(got));
    return c;
}

XXH128_hash_t digestOf(const QByteArray& bytes) {
    return XXH3_128bits(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// The known content of a file at watch(): hashed in slices, never held whole. nullopt: no file.
std::optional<XXH128_hash_t> digestOfFile(const QString& path) {
    const Fd fd(openForReading(path));
    if (fd.get() < 0) {
        if (errno == ENOENT) return std::nullopt;
        throwFromErrno(errno);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throwFromErrno(errno);
    if (!S_ISREG(st.st_mode)) throwFileError(kAccessDenied);
    struct StateFree {
        void operator()(XXH3_state_t* s) const { XXH3_freeState(s); }
    };
    const std::unique_ptr<XXH3_state_t, StateFree> state(XXH3_createState());
    if (!state) throw std::bad_alloc();
    XXH3_128bits_reset(state.get());
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            throwFromErrno(errno);
        }
        if (n == 0) break;
        XXH3_128bits_update(state.get(), buffer.data(), static_cast<size_t>(n));
    }
    return XXH3_128bits_digest(state.get());
}

}  // namespace

struct WorkingCopyWatcher::Watched {
    QString name;  // file name in its folder
    int wd = -1;   // the folder's watch; -1 once the folder is gone
    std::optional<XXH128_hash_t> known;
    bool goneReported = false;
    QTimer* timer = nullptr;
};

WorkingCopyWatcher::WorkingCopyWatcher(int settleMs, int64_t maxBytes, QObject* parent)
    : QObject(parent), settleMs_(settleMs), maxBytes_(maxBytes) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) throwFromErrno(errno);
    notifier_ = new QSocketNotifier(static_cast<qintptr>(fd_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        // Nothing may cross the event loop's frame.
        try {
            readEvents();
        } catch (const std::exception&) {
            for (auto& [path, w] : files_) w->timer->start();  // look at every file instead
        }
    });
}

WorkingCopyWatcher::~WorkingCopyWatcher() {
    delete notifier_;
    ::close(fd_);  // drops every watch
}

QString WorkingCopyWatcher::absolute(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

void WorkingCopyWatcher::watch(const QString& path) {
    const QString file = absolute(path);
    if (files_.count(file)) return;
    const QFileInfo info(file);
    if (info.fileName().isEmpty()) throwFileError(kInvalidFilename);
    const QString folder = info.absolutePath();
    // The folder is watched before the content is hashed: a save in between is seen.
    const int wd = ::inotify_add_watch(fd_, QFile::encodeName(folder).constData(), kFolderEvents);
    if (wd < 0) {
        if (errno == ENOSPC) throw Error("The system's limit of watched folders is reached");
        throwFromErrno(errno);
    }
    Folder& f = folders_[wd];
    f.path = folder;
    ++f.users;
    auto w = std::make_unique<Watched>();
    w->name = info.fileName();
    w->wd = wd;
    try {
        w->known = digestOfFile(file);
    } catch (...) {
        releaseFolder(wd);
        throw;
    }
    w->timer = new QTimer(this);
    w->timer->setSingleShot(true);
    w->timer->setInterval(settleMs_);
    connect(w->timer, &QTimer::timeout, this, [this, file] { check(file); });
    files_.emplace(file, std::move(w));
}

void WorkingCopyWatcher::unwatch(const QString& path) {
    const auto it = files_.find(absolute(path));
    if (it == files_.end()) return;
    // Possibly called from a slot of this very timer's notice: let it go later.
    it->second->timer->stop();
    it->second->timer->disconnect(this);
    it->second->timer->deleteLater();
    releaseFolder(it->second->wd);
    files_.erase(it);
}

bool WorkingCopyWatcher::isWatching(const QString& path) const {
    return files_.count(absolute(path)) > 0;
}

QStringList WorkingCopyWatcher::watchedFiles() const {
    QStringList paths;
    for (const auto& [path, w] : files_) paths << path;
    return paths;
}

void WorkingCopyWatcher::releaseFolder(int wd) {
    const auto it = folders_.find(wd);
    if (it == folders_.end()) return;
    if (--it->second.users == 0) {
        ::inotify_rm_watch(fd_, wd);
        folders_.erase(it);
    }
}

void WorkingCopyWatcher::readEvents() {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) notifier_->setEnabled(false);  // a broken descriptor: no busy loop
            return;
        }
        if (n == 0) return;
        for (const char* p = buffer; p < buffer + n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(p);
            p += sizeof(inotify_event) + ev->len;
            if (ev->mask & IN_Q_OVERFLOW) {
                // Events were lost: every file may have changed.
                for (auto& [path, w] : files_) w->timer->start();
                continue;
            }
            const bool folderGone = ev->mask & IN_IGNORED;
            const bool folderMoved = ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF);
            if (folderGone && !folders_.count(ev->wd)) continue;  // our own inotify_rm_watch
            const QString name = ev->len ? QFile::decodeName(ev->name) : QString();
            for (auto& [path, w] : files_) {
                if (w->wd != ev->wd) continue;
                if (folderGone) w->wd = -1;
                if (folderGone || folderMoved || w->name == name) w->timer->start();
            }
            if (folderGone) folders_.erase(ev->wd);
        }
    }
}

void WorkingCopyWatcher::check(const QString& path) {
    const auto it = files_.find(path);
    if (it == files_.end()) return;
    Watched& w = *it->second;
    Content c;
    try {
        c = readContent(path, maxBytes_);
    } catch (const std::exception& e) {  // memory for the content
        c = Content{{}, QString::fromLocal8Bit(e.what()), false};
    }
    // The notices go last: a slot may unwatch the file and w with it.
    if (c.missing) {
        if (w.goneReported) return;
        w.goneReported = true;
        emit gone(path);
        return;
    }
    if (!c.error.isEmpty()) {
        emit failed(path, c.error);
        return;
    }
    w.goneReported = false;
    const XXH128_hash_t digest = digestOf(c.bytes);
    if (w.known && XXH128_isEqual(*w.known, digest)) return;
    w.known = digest;
    emit changed(path, c.bytes);
}

}  // namespace vorlr
