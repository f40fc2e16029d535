#pragma once
// Working copies of entries, opened in other programs, watched for saves. A save is whatever
// leaves other content under the file's name: writing in place, writing in several pieces with
// pauses, writing a new file and renaming it over the old one, deleting and writing anew. Each
// file gets one notice per change, once it has been quiet for the settle time, and none when
// the content is what it was. Driven by the Qt event loop (inotify on the files' folders, a timer
// per file); no thread of its own.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace vorlr {

class WorkingCopyWatcher : public QObject {
    Q_OBJECT
public:
    // Editors that save in several writes, or through a new file renamed over the old one, are
    // done within a few hundred milliseconds; half a second after the last write still feels
    // immediate to someone who has just pressed Save.
    static constexpr int kDefaultSettleMs = 500;
    // Content is handed over in memory; a file this large is refused, not read.
    static constexpr int64_t kDefaultMaxBytes = int64_t(2) << 30;

    // Throws Error when the system cannot watch files (no inotify instance left).
    explicit WorkingCopyWatcher(int settleMs = kDefaultSettleMs,
                                int64_t maxBytes = kDefaultMaxBytes, QObject* parent = nullptr);
    ~WorkingCopyWatcher() override;

    // Watches a file whose folder exists (the folder is watched, so a file replaced by a rename
    // stays watched). Its present content is its known content; a file not there yet has none,
    // so any content it gets is a change. Watching a watched file again changes nothing. The path
    // is made absolute; notices carry it so. Throws Error with the runtime's text.
    void watch(const QString& path);
    void unwatch(const QString& path);  // no notices for it from now on
    bool isWatching(const QString& path) const;
    QStringList watchedFiles() const;

signals:
    // The file holds other content than its known content, which it now becomes.
    void changed(const QString& path, const QByteArray& content);
    // The file was removed and has not come back within the settle time. It stays watched:
    // content it gets later is reported as usual.
    void gone(const QString& path);
    // The file could not be read (larger than the limit, not a regular file, a read error).
    void failed(const QString& path, const QString& text);

private:
    struct Watched;
    void readEvents();
    void check(const QString& path);
    void releaseFolder(int wd);
    static QString absolute(const QString& path);

    int settleMs_;
    int64_t maxBytes_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::map<QString, std::unique_ptr<Watched>> files_;  // by absolute path
    struct Folder {
        QString path;
        int users = 0;
    };
    std::map<int, Folder> folders_;  // by inotify watch descriptor
};

}  // namespace vorlr
