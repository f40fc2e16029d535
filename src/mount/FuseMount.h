#pragma once
// A MountTree served read-only at a folder through the kernel's FUSE interface.
#include <memory>
#include <string>

#include "mount/MountTree.h"

struct fuse_session;

namespace vorlr {

struct OpenFiles;
struct WalkSense;
class WorkerPool;

class FuseMount {
public:
    // Mounts tree at mountpoint (read-only); a failure raises Error. SIGINT, SIGTERM and SIGHUP
    // end serve() from then on.
    FuseMount(MountTree& tree, const std::string& mountpoint);
    // Unmounts, when still mounted.
    ~FuseMount();
    FuseMount(const FuseMount&) = delete;
    FuseMount& operator=(const FuseMount&) = delete;

    // Answers requests until the folder is unmounted or a signal ends it; returns 0, or 1 when
    // the session failed. One thread reads and answers the kernel's requests (a walk is a chain
    // of round trips, quickest with the same thread at the other end each time); a second one
    // joins in only while files are read; requests that may wait for pictures to be converted
    // go to helper threads.
    int serve();

    // What the request handlers reach.
    struct Served {
        MountTree& tree;
        std::shared_ptr<OpenFiles> openFiles;
        std::shared_ptr<WalkSense> walks;
        std::shared_ptr<WorkerPool> helpers;  // for requests that may wait for conversions
    };

private:
    Served served_;
    fuse_session* session_ = nullptr;
    bool mounted_ = false;
    bool signals_ = false;
};

}  // namespace vorlr
