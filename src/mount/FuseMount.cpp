#define FUSE_USE_VERSION 312
#include "mount/FuseMount.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <fuse_lowlevel.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/Errors.h"
#include "platform/WorkerPool.h"

namespace vorlr {

// The open files: a read may still be answering when the kernel already releases its file, so
// each read holds the content it answers from.
struct OpenFiles {
    std::mutex mutex;
    std::unordered_map<uint64_t, std::shared_ptr<const MountTree::Content>> byHandle;
    uint64_t next = 1;
};

// Whether a folder's listing gives its files' attributes. A walk that only reads names (find
// takes the type from the listing) is quickest without them: the kernel then makes no inode for
// each file. A walk that stats every file (ls -l, du, a file manager) is quickest with them: without,
// each stat costs a LOOKUP. LOOKUPs of files show which walk is running; while they come, one
// folder in kProbeEvery is still listed without attributes, to see whether they go on.
struct WalkSense {
    static constexpr unsigned kProbeEvery = 256;
    std::mutex mutex;
    bool statting = false;
    uint64_t fileLookups = 0;
    uint64_t probe = 0;  // the folder last listed without attributes while statting
    uint64_t lookupsAtProbe = 0;
    unsigned sinceProbe = 0;

    bool withAttributes(uint64_t folder, off_t offset) {
        std::lock_guard lock(mutex);
        if (offset == 0 && probe != 0 && probe != folder) {
            // Nothing of the last probe was looked up before the next folder came: names only.
            if (fileLookups == lookupsAtProbe) statting = false;
            probe = 0;
        }
        if (!statting) return false;
        return !(offset == 0 && probe == 0 && ++sinceProbe >= kProbeEvery);
    }
    // After a listing that left out the attributes of at least one file.
    void listedWithout(uint64_t folder) {
        std::lock_guard lock(mutex);
        if (!statting) return;
        probe = folder;
        lookupsAtProbe = fileLookups;
        sinceProbe = 0;
    }
    void fileLookedUp() {
        std::lock_guard lock(mutex);
        ++fileLookups;
        statting = true;
    }
};

namespace {

// Threads for the requests that may wait for pictures to be converted; started on first use.
// Ending a session runs what they have queued: no request may outlive it.
constexpr size_t kHelpers = 4;

// Set by a read: a file read ahead sends its next request only once the reader has used the data,
// and the reader wants the core meanwhile, so the loop below sleeps right away.
thread_local bool sleepAfter = false;
// Written at each read: wakes the thread that helps while reads go on (see serve).
std::atomic<int> readsWake{-1};

// The tree never changes while mounted, so the kernel may keep names and attributes.
constexpr double kTimeout = 86400.0;

FuseMount::Served& servedOf(fuse_req_t req) { return *static_cast<FuseMount::Served*>(fuse_req_userdata(req)); }
MountTree& treeOf(fuse_req_t req) { return servedOf(req).tree; }
OpenFiles& openFilesOf(fuse_req_t req) { return *servedOf(req).openFiles; }
WalkSense& walksOf(fuse_req_t req) { return *servedOf(req).walks; }

// Everything belongs to whoever mounted it; asked once (a system call per stat shows up in find).
const uid_t kOwner = ::getuid();
const gid_t kGroup = ::getgid();

struct stat statOf(uint64_t id, const MountTree::Attributes& a) {
    struct stat st{};
    st.st_ino = id;
    st.st_mode = a.folder ? (S_IFDIR | 0555) : (S_IFREG | 0444);
    st.st_nlink = 1;  // "unknown" for folders, so that no tool counts on subfolder links
    st.st_uid = kOwner;
    st.st_gid = kGroup;
    st.st_size = a.size;
    st.st_blksize = 4096;
    st.st_blocks = (a.size + 511) / 512;
    st.st_atim.tv_sec = st.st_mtim.tv_sec = st.st_ctim.tv_sec = a.mtime;
    return st;
}

fuse_entry_param entryOf(uint64_t id, const MountTree::Attributes& a) {
    fuse_entry_param e{};
    e.ino = id;
    e.attr = statOf(id, a);
    e.attr_timeout = kTimeout;
    e.entry_timeout = kTimeout;
    return e;
}

// Runs a handler; whatever escapes it becomes EIO (the kernel's request must be answered).
template <class Body>
void guarded(fuse_req_t req, Body&& body) {
    try {
        body();
    } catch (const std::bad_alloc&) {
        fuse_reply_err(req, ENOMEM);
    } catch (const std::exception&) {
        fuse_reply_err(req, EIO);
    }
}

bool noOpendir = false;

void opInit(void*, fuse_conn_info* conn) {
    // Folders need no open state: where the kernel allows, it opens and closes them without
    // asking (two round trips fewer per folder that find or ls walks into), and it then keeps
    // each listing once read to its end, so that a second walk asks for none.
    noOpendir = (conn->capable & FUSE_CAP_NO_OPENDIR_SUPPORT) != 0;
    if (conn->capable & FUSE_CAP_SPLICE_WRITE) conn->want |= FUSE_CAP_SPLICE_WRITE | FUSE_CAP_SPLICE_MOVE;
    conn->want &= ~FUSE_CAP_ATOMIC_O_TRUNC;
}

// Runs work on a helper thread when answering about id may convert pictures first, else here.
// work must not keep pointers into the request: its buffer is reused once the handler returns.
template <class Work>
void answer(fuse_req_t req, uint64_t id, Work&& work) {
    guarded(req, [&] {
        if (!treeOf(req).mayConvert(id)) return work();
        servedOf(req).helpers->post([req, work = std::move(work)]() mutable { guarded(req, work); });
    });
}

void opLookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
    answer(req, parent, [req, parent, name = std::string(name)] {
        MountTree& tree = treeOf(req);
        const uint64_t id = tree.lookup(parent, name);
        const auto a = id ? tree.attributes(id) : std::nullopt;
        if (!a) return void(fuse_reply_err(req, ENOENT));
        if (!a->folder) walksOf(req).fileLookedUp();
        const fuse_entry_param e = entryOf(id, *a);
        fuse_reply_entry(req, &e);
    });
}

void opForget(fuse_req_t req, fuse_ino_t, uint64_t) { fuse_reply_none(req); }
void opForgetMulti(fuse_req_t req, size_t, fuse_forget_data*) { fuse_reply_none(req); }

void opGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
    guarded(req, [&] {
        const auto a = treeOf(req).attributes(ino);
        if (!a) return void(fuse_reply_err(req, ENOENT));
        const struct stat st = statOf(ino, *a);
        fuse_reply_attr(req, &st, kTimeout);
    });
}

void opOpendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    guarded(req, [&] {
        const auto a = treeOf(req).attributes(ino);
        if (!a) return void(fuse_reply_err(req, ENOENT));
        if (!a->folder) return void(fuse_reply_err(req, ENOTDIR));
        if (noOpendir) return void(fuse_reply_err(req, ENOSYS));
        fi->cache_readdir = 1;
        fi->keep_cache = 1;
        fuse_reply_open(req, fi);
    });
}

void readFolder(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, bool plus) {
    answer(req, ino, [req, ino, size, off, plus] {
        if (off < 0) return void(fuse_reply_err(req, EINVAL));
        // One buffer per thread: a walk asks for one listing per folder, a million times.
        thread_local std::unique_ptr<char[]> buffer;
        thread_local size_t capacity = 0;
        if (capacity < size) {
            buffer.reset(new char[size]);
            capacity = size;
        }
        const bool attributes = !plus || walksOf(req).withAttributes(ino, off);
        bool leftOut = false;
        size_t used = 0;
        off_t next = off;
        std::string name;
        const bool folder = treeOf(req).listChildren(
            ino, static_cast<size_t>(off),
            [&](uint64_t id, std::string_view childName, const MountTree::Attributes& a) {
                name.assign(childName);
                size_t need = 0;
                const bool without = plus && !attributes && !a.folder;
                if (plus) {
                    fuse_entry_param e = entryOf(id, a);
                    // Node id 0: the name, type and inode number only; a stat then looks it up.
                    if (without) e.ino = 0;
                    need = fuse_add_direntry_plus(req, buffer.get() + used, size - used, name.c_str(), &e, next + 1);
                } else {
                    const struct stat st = statOf(id, a);
                    need = fuse_add_direntry(req, buffer.get() + used, size - used, name.c_str(), &st, next + 1);
                }
                if (need > size - used) return false;
                leftOut = leftOut || without;
                used += need;
                ++next;
                return true;
            });
        if (!folder) return void(fuse_reply_err(req, ENOTDIR));
        if (leftOut) walksOf(req).listedWithout(ino);
        fuse_reply_buf(req, buffer.get(), used);
    });
}

void opReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info*) {
    readFolder(req, ino, size, off, false);
}

void opReaddirplus(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info*) {
    readFolder(req, ino, size, off, true);
}

void opReleasedir(fuse_req_t req, fuse_ino_t, fuse_file_info*) { fuse_reply_err(req, 0); }

void opOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info* info) {
    answer(req, ino, [req, ino, copy = *info]() mutable {
        fuse_file_info* fi = &copy;
        if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC))
            return void(fuse_reply_err(req, EROFS));
        auto content = std::make_shared<MountTree::Content>();
        if (!treeOf(req).content(ino, *content)) {
            const auto a = treeOf(req).attributes(ino);
            return void(fuse_reply_err(req, !a ? ENOENT : a->folder ? EISDIR : EIO));
        }
        OpenFiles& files = openFilesOf(req);
        {
            std::lock_guard lock(files.mutex);
            fi->fh = files.next++;
            files.byHandle.emplace(fi->fh, std::move(content));
        }
        fi->keep_cache = 1;
        if (fuse_reply_open(req, fi) != 0) {
            std::lock_guard lock(files.mutex);
            files.byHandle.erase(fi->fh);
        }
    });
}

void opRead(fuse_req_t req, fuse_ino_t, size_t size, off_t off, fuse_file_info* fi) {
    sleepAfter = true;
    if (const int wake = readsWake.load(std::memory_order_relaxed); wake >= 0) {
        const uint64_t one = 1;
        (void)!::write(wake, &one, sizeof one);
    }
    guarded(req, [&] {
        std::shared_ptr<const MountTree::Content> held;
        {
            OpenFiles& files = openFilesOf(req);
            std::lock_guard lock(files.mutex);
            const auto it = files.byHandle.find(fi->fh);
            if (it != files.byHandle.end()) held = it->second;
        }
        if (!held) return void(fuse_reply_err(req, EBADF));
        const MountTree::Content& c = *held;
        if (off < 0) return void(fuse_reply_err(req, EINVAL));
        if (off >= c.size) return void(fuse_reply_buf(req, nullptr, 0));
        const size_t count = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), c.size - off));
        if (c.bytes) return void(fuse_reply_buf(req, reinterpret_cast<const char*>(c.bytes->data()) + off, count));
        // Straight from the archive: the kernel splices it through where it can.
        fuse_bufvec data{};
        data.count = 1;
        data.buf[0].size = count;
        data.buf[0].flags = static_cast<fuse_buf_flags>(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
        data.buf[0].fd = c.fd;
        data.buf[0].pos = c.offset + off;
        fuse_reply_data(req, &data, FUSE_BUF_SPLICE_MOVE);
    });
}

void opRelease(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
    {
        OpenFiles& files = openFilesOf(req);
        std::lock_guard lock(files.mutex);
        files.byHandle.erase(fi->fh);
    }
    fuse_reply_err(req, 0);
}

void opStatfs(fuse_req_t req, fuse_ino_t) {
    struct statvfs st{};
    st.f_bsize = st.f_frsize = 4096;
    st.f_files = treeOf(req).entryTotal();
    st.f_namemax = 255;
    st.f_flag = ST_RDONLY;
    fuse_reply_statfs(req, &st);
}

// Everything that would change the tree.
void readOnly(fuse_req_t req) { fuse_reply_err(req, EROFS); }
void opSetattr(fuse_req_t req, fuse_ino_t, struct stat*, int, fuse_file_info*) { readOnly(req); }
void opMknod(fuse_req_t req, fuse_ino_t, const char*, mode_t, dev_t) { readOnly(req); }
void opMkdir(fuse_req_t req, fuse_ino_t, const char*, mode_t) { readOnly(req); }
void opUnlink(fuse_req_t req, fuse_ino_t, const char*) { readOnly(req); }
void opSymlink(fuse_req_t req, const char*, fuse_ino_t, const char*) { readOnly(req); }
void opRename(fuse_req_t req, fuse_ino_t, const char*, fuse_ino_t, const char*, unsigned) { readOnly(req); }
void opLink(fuse_req_t req, fuse_ino_t, fuse_ino_t, const char*) { readOnly(req); }
void opWrite(fuse_req_t req, fuse_ino_t, const char*, size_t, off_t, fuse_file_info*) { readOnly(req); }
void opCreate(fuse_req_t req, fuse_ino_t, const char*, mode_t, fuse_file_info*) { readOnly(req); }
void opSetxattr(fuse_req_t req, fuse_ino_t, const char*, const char*, size_t, int) { readOnly(req); }
void opRemovexattr(fuse_req_t req, fuse_ino_t, const char*) { readOnly(req); }
void opFallocate(fuse_req_t req, fuse_ino_t, int, off_t, off_t, fuse_file_info*) { readOnly(req); }

fuse_lowlevel_ops operations() {
    fuse_lowlevel_ops ops{};
    ops.init = opInit;
    ops.lookup = opLookup;
    ops.forget = opForget;
    ops.forget_multi = opForgetMulti;
    ops.getattr = opGetattr;
    ops.opendir = opOpendir;
    ops.readdir = opReaddir;
    ops.readdirplus = opReaddirplus;
    ops.releasedir = opReleasedir;
    ops.open = opOpen;
    ops.read = opRead;
    ops.release = opRelease;
    ops.statfs = opStatfs;
    ops.setattr = opSetattr;
    ops.mknod = opMknod;
    ops.mkdir = opMkdir;
    ops.unlink = opUnlink;
    ops.rmdir = opUnlink;
    ops.symlink = opSymlink;
    ops.rename = opRename;
    ops.link = opLink;
    ops.write = opWrite;
    ops.create = opCreate;
    ops.setxattr = opSetxattr;
    ops.removexattr = opRemovexattr;
    ops.fallocate = opFallocate;
    return ops;
}

}  // namespace

FuseMount::FuseMount(MountTree& tree, const std::string& mountpoint)
    : served_{tree, std::make_shared<OpenFiles>(), std::make_shared<WalkSense>(), std::make_shared<WorkerPool>(kHelpers)} {
    static const fuse_lowlevel_ops ops = operations();
    const char* argv[] = {"qar", "-o", "ro,default_permissions,fsname=qar,subtype=qar", nullptr};
    fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(argv));
    session_ = fuse_session_new(&args, &ops, sizeof ops, &served_);
    fuse_opt_free_args(&args);
    if (!session_) throw Error("cannot start a FUSE session");
    // Before the mount: a signal as soon as the folder is mounted must still unmount it.
    signals_ = fuse_set_signal_handlers(session_) == 0;
    if (fuse_session_mount(session_, mountpoint.c_str()) != 0) {
        if (signals_) fuse_remove_signal_handlers(session_);
        fuse_session_destroy(session_);
        session_ = nullptr;
        throw Error("cannot mount on " + mountpoint);
    }
    mounted_ = true;
}

FuseMount::~FuseMount() {
    served_.helpers->finish();
    if (!session_) return;
    if (signals_) fuse_remove_signal_handlers(session_);
    if (mounted_) fuse_session_unmount(session_);
    fuse_session_destroy(session_);
}

namespace {

// How long the thread that reads requests keeps looking for the next one before it sleeps. A walk
// sends its next request some microseconds after each answer; waking a thread that sleeps costs
// more than that, most of all in a virtual machine whose idle core has halted. Between walks the
// thread sleeps.
constexpr long kSpinNanoseconds = 100000;

long nanosecondsSince(const timespec& t0) {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return (t.tv_sec - t0.tv_sec) * 1000000000L + (t.tv_nsec - t0.tv_nsec);
}

// libfuse's single-threaded loop, but for the wait: looks again and again for a moment (letting
// any other thread of this core run first) before it sleeps in poll. 0 on an unmount or a signal.
int loop(fuse_session* se) {
    const int fd = fuse_session_fd(se);
    fuse_buf buffer{};
    int rc = 0;
    timespec answered{};
    ::clock_gettime(CLOCK_MONOTONIC, &answered);
    while (!fuse_session_exited(se)) {
        const int got = fuse_session_receive_buf(se, &buffer);
        if (got == -EAGAIN) {
            if (!sleepAfter && nanosecondsSince(answered) < kSpinNanoseconds) {
                ::sched_yield();
            } else {
                pollfd p{fd, POLLIN, 0};
                (void)::poll(&p, 1, -1);
                ::clock_gettime(CLOCK_MONOTONIC, &answered);
            }
            continue;
        }
        if (got == -EINTR) continue;
        if (got <= 0) {
            rc = got;
            break;
        }
        sleepAfter = false;
        fuse_session_process_buf(se, &buffer);
        ::clock_gettime(CLOCK_MONOTONIC, &answered);
    }
    std::free(buffer.mem);
    return rc;
}

// The second thread: asleep until a file is read (the kernel's read-ahead then sends several
// reads at once), then takes requests beside the first until none came for 10 ms. A walk never
// wakes it, so its round trips keep the one thread at the other end.
void assist(fuse_session* se, int wake) {
    const int fd = fuse_session_fd(se);
    fuse_buf buffer{};
    uint64_t count = 0;
    while (!fuse_session_exited(se)) {
        pollfd w{wake, POLLIN, 0};
        if (::poll(&w, 1, -1) < 0) continue;
        (void)!::read(wake, &count, sizeof count);
        while (!fuse_session_exited(se)) {
            const int got = fuse_session_receive_buf(se, &buffer);
            if (got == -EAGAIN) {
                pollfd p[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
                const int ready = ::poll(p, 2, 10);
                if (ready == 0) break;
                if (ready > 0 && (p[1].revents & POLLIN)) (void)!::read(wake, &count, sizeof count);
                continue;
            }
            if (got == -EINTR) continue;
            if (got <= 0) break;
            fuse_session_process_buf(se, &buffer);
        }
    }
    std::free(buffer.mem);
}

}  // namespace

int FuseMount::serve() {
    const int fd = fuse_session_fd(session_);
    const int flags = ::fcntl(fd, F_GETFL);
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int rc = 0;
    if (flags < 0 || wake < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        if (wake >= 0) ::close(wake);
        rc = fuse_session_loop(session_);
    } else {
        // Signals stay with this thread, whose poll they end.
        sigset_t all, old;
        ::sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &old);
        std::thread second([&] { assist(session_, wake); });
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
        readsWake.store(wake);
        rc = loop(session_);
        fuse_session_exit(session_);
        readsWake.store(-1);
        const uint64_t one = 1;
        (void)!::write(wake, &one, sizeof one);
        second.join();
        ::close(wake);
        fuse_session_reset(session_);
    }
    served_.helpers->finish();
    // An unmount from outside ends the loop with 0, a signal with its number: both are a normal
    // end.
    return rc == 0 || rc == SIGINT || rc == SIGTERM || rc == SIGHUP ? 0 : 1;
}

}  // namespace vorlr
