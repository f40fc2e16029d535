#include "archive/FolderUpdate.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "archive/ConversionPool.h"
#include "platform/Errors.h"
#include "platform/RuntimeFile.h"
#include "platform/Text.h"

namespace vorlr {

namespace {

constexpr int64_t kChunk = 1 << 20;

struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// What the folder holds: regular files (sorted by path in byte order), folders, and the rest
// (links, special files).
struct Listing {
    std::vector<std::string> files;
    std::unordered_map<std::string, FileId> ids;  // of the files, as the walk found them
    std::unordered_set<std::string> fileSet, folders, others;
};

void walk(int dirFd, const std::string& prefix, const std::vector<FileId>& exclude, Listing& out) {
    const int listFd = ::dup(dirFd);
    if (listFd < 0) throwFromErrno(errno);
    DIR* d = ::fdopendir(listFd);
    if (!d) {
        ::close(listFd);
        throwFromErrno(errno);
    }
    std::unique_ptr<DIR, int (*)(DIR*)> guard(d, ::closedir);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
        errno = 0;
    }
    if (errno != 0) throw Error("cannot read folder " + (prefix.empty() ? std::string(".") : prefix) + ": " + std::strerror(errno));
    for (const std::string& name : names) {
        const std::string path = prefix.empty() ? name : prefix + "/" + name;
        struct stat st{};
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
        if (S_ISDIR(st.st_mode)) {
            out.folders.insert(path);
            Fd sub(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (sub.fd < 0) throw Error("cannot read folder " + path + ": " + std::strerror(errno));
            walk(sub.fd, path, exclude, out);
        } else if (S_ISREG(st.st_mode)) {
            if (std::find(exclude.begin(), exclude.end(), fileIdOf(st)) != exclude.end()) continue;
            out.files.push_back(path);
            out.fileSet.insert(path);
            out.ids.emplace(path, fileIdOf(st));
        } else {
            out.others.insert(path);
        }
    }
}

// Opens relativePath under root for reading, following no symbolic link on the way.
int openUnder(int root, const std::string& relativePath) {
    size_t start = 0;
    Fd current(::dup(root));
    while (true) {
        const size_t slash = relativePath.find('/', start);
        const std::string segment = relativePath.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (slash == std::string::npos)
            return ::openat(current.fd, segment.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        const int next = ::openat(current.fd, segment.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) return -1;
        ::close(current.fd);
        current.fd = next;
        start = slash + 1;
    }
}

int64_t readFull(int fd, int64_t position, uint8_t* buffer, int64_t count) {
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, buffer + done, static_cast<size_t>(count - done), position + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwFromErrno(errno);
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

// The bytes extraction writes for an entry: from its offset, the recorded size or as far as the
// file goes; nothing for a size below 1 or a negative offset.
int64_t extractedLength(const Archive& archive, const ArchiveEntry& e) {
    if (e.size <= 0 || e.offset < 0) return 0;
    return std::clamp<int64_t>(archive.size() - e.offset, 0, e.size);
}

class Comparer {
public:
    Comparer() : a_(std::make_unique<uint8_t[]>(kChunk)), b_(std::make_unique<uint8_t[]>(kChunk)) {}

    // Whether the file holds exactly what extraction writes for the entry.
    bool sameAsEntry(const Archive& archive, const ArchiveEntry& e, int fd) {
        struct stat st{};
        if (::fstat(fd, &st) != 0) throwFromErrno(errno);
        const int64_t length = extractedLength(archive, e);
        if (st.st_size != length) return false;
        for (int64_t done = 0; done < length;) {
            const int64_t n = std::min(kChunk, length - done);
            if (archive.readAt(e.offset + done, a_.get(), n) != n) return false;
            if (readFull(fd, done, b_.get(), n) != n) return false;
            if (std::memcmp(a_.get(), b_.get(), static_cast<size_t>(n)) != 0) return false;
            done += n;
        }
        return true;
    }

private:
    std::unique_ptr<uint8_t[]> a_, b_;
};

std::string joinSegments(const std::vector<std::string>& segments, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) path += '/';
        path += segments[i];
    }
    return path;
}

bool isDigits(std::string_view s) {
    return !s.empty() && s.size() <= 9 && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// The files that stand for one entry.
struct Claim {
    std::optional<std::string> raw;  // relative path
    std::vector<PictureFileRef> pictures;
};

std::string storedName(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string leafOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The entries in scope by their file name and by their pictures' stem, A-Z in either case.
struct NameIndex {
    std::unordered_map<std::string, std::vector<size_t>> byLeaf, byStem;
};

// "text" as raised about file: the reason without the file's name.
std::string reasonOf(const std::string& text, const std::string& file) {
    const std::string prefix = file + ": ";
    return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
}

}  // namespace

UpdatePlan PlanFolderUpdate(const Archive& archive, const std::string& dir, const UpdateOptions& options) {
    UpdatePlan plan;
    Fd root(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.fd < 0) {
        if (errno == ENOTDIR || errno == ENOENT) throw Error("not a folder: " + dir);
        throwFromErrno(errno);
    }
    std::vector<FileId> exclude;
    if (const auto id = fileIdOf(archive.fd())) exclude.push_back(*id);
    for (const std::string& path : options.exclude)
        if (const auto id = fileIdOf(path)) exclude.push_back(*id);
    Listing listing;
    walk(root.fd, "", exclude, listing);
    std::sort(listing.files.begin(), listing.files.end());
    const auto diskPath = [&](const std::string& relative) { return dir + "/" + relative; };

    // Where extraction puts each entry; a later entry of a path takes it over.
    const size_t count = archive.entryCount();
    std::vector<std::string> pathOf(count), stemOf(count);
    std::vector<bool> safe(count, false);
    std::unordered_map<std::string, size_t> byPath, byStem;
    const UpdatePictures* pictures = options.pictures;
    std::vector<std::string> segments;
    for (size_t i = 0; i < count; ++i) {
        const ArchiveEntry e = archive.entry(i);
        if (SplitSafeName(e.name, segments) != NameVerdict::Safe) continue;
        safe[i] = true;
        pathOf[i] = joinSegments(segments, segments.size());
        byPath[pathOf[i]] = i;
        if (pictures && pictures->applies(e)) {
            const std::string& leaf = segments.back();
            std::string stem = joinSegments(segments, segments.size() - 1);
            if (!stem.empty()) stem += '/';
            stem += leaf.substr(0, leaf.find('.'));
            byStem[stem] = i;
            stemOf[i] = std::move(stem);
        }
    }

    const auto inScope = [&](size_t i) { return !options.inScope || options.inScope(i); };
    NameIndex names;
    if (options.matchNames) {
        // Of duplicated names and stems only the last entry, as for paths.
        for (const auto& [path, i] : byPath)
            if (inScope(i)) names.byLeaf[lowerAZ(leafOf(path))].push_back(i);
        for (const auto& [stem, i] : byStem)
            if (inScope(i)) names.byStem[lowerAZ(leafOf(stem))].push_back(i);
    }

    // Each file: an entry's own bytes, one of its pictures, or a new entry.
    std::map<size_t, Claim> claims;
    // A second file for an entry's own bytes is a conflict like a picture beside them.
    const auto claimRaw = [&](size_t i, const std::string& file) {
        Claim& claim = claims[i];
        if (claim.raw) {
            const std::string name(archive.entry(i).name);
            plan.errors.push_back(*claim.raw + " and " + file + " both stand for " + name);
            plan.refused.push_back({'M', name, file, *claim.raw + " stands for " + name + " too", i});
            return;
        }
        claim.raw = file;
    };
    std::unordered_set<std::string> claimedStems;  // pictures of one name stand for every entry of it
    std::vector<std::string> added;
    for (const std::string& file : listing.files) {
        if (const auto it = byPath.find(file); it != byPath.end()) {
            if (inScope(it->second)) claimRaw(it->second, file);
            continue;
        }
        const size_t dot = file.rfind('.');
        const std::string ext = dot == std::string::npos ? "" : file.substr(dot);
        if (pictures && (ext == ".png" || ext == ".bmp") && file.find('/', dot) == std::string::npos) {
            // NAME.png is entry NAME's picture, NAME_i.png sub-image i of entry NAME; when both
            // readings name an entry, extraction wrote the later entry's picture last.
            const std::string base = file.substr(0, dot);
            const auto whole = byStem.find(base);
            const size_t slash = base.rfind('/');
            const size_t leafStart = slash == std::string::npos ? 0 : slash + 1;
            const size_t under = base.rfind('_');
            auto numbered = byStem.end();
            if (under != std::string::npos && under >= leafStart && isDigits(std::string_view(base).substr(under + 1)))
                numbered = byStem.find(base.substr(0, under));
            // Whichever entry the file stands for, the other one's export was overwritten by it.
            if (whole != byStem.end()) claimedStems.insert(whole->first);
            if (numbered != byStem.end()) claimedStems.insert(numbered->first);
            if (numbered != byStem.end() && (whole == byStem.end() || numbered->second > whole->second)) {
                if (inScope(numbered->second))
                    claims[numbered->second].pictures.push_back({base.substr(under) + ext, file, diskPath(file)});
                continue;
            }
            if (whole != byStem.end()) {
                if (inScope(whole->second)) claims[whole->second].pictures.push_back({ext, file, diskPath(file)});
                continue;
            }
        }
        if (options.matchNames) {
            // The file's name as an entry's file name, or as the picture of one (NAME.png, or
            // NAME_i.png for sub-image i); each entry once.
            const std::string leaf = lowerAZ(leafOf(file));
            std::vector<std::pair<size_t, std::string>> found;  // entry, picture suffix ("": raw)
            const auto note = [&](const std::vector<size_t>* entries, const std::string& suffix) {
                if (!entries) return;
                for (const size_t i : *entries)
                    if (std::none_of(found.begin(), found.end(), [&](const auto& f) { return f.first == i; }))
                        found.emplace_back(i, suffix);
            };
            const auto lookUp = [](const auto& map, const std::string& key) {
                const auto it = map.find(key);
                return it == map.end() ? nullptr : &it->second;
            };
            note(lookUp(names.byLeaf, leaf), "");
            const size_t leafDot = leaf.rfind('.');
            const std::string leafExt = leafDot == std::string::npos ? "" : leaf.substr(leafDot);
            if (pictures && (leafExt == ".png" || leafExt == ".bmp")) {
                const std::string base = leaf.substr(0, leafDot);
                note(lookUp(names.byStem, base), ext);
                const size_t under = base.rfind('_');
                if (under != std::string::npos && isDigits(std::string_view(base).substr(under + 1)))
                    note(lookUp(names.byStem, base.substr(0, under)), base.substr(under) + ext);
            }
            if (found.size() == 1) {
                const auto& [i, suffix] = found.front();
                if (suffix.empty()) {
                    claimRaw(i, file);
                } else {
                    claims[i].pictures.push_back({suffix, file, diskPath(file)});
                    claimedStems.insert(stemOf[i]);
                }
                continue;
            }
            if (found.size() > 1) {
                UpdateAmbiguity ambiguity{file, {}};
                for (const auto& f : found) ambiguity.candidates.push_back(f.first);
                std::sort(ambiguity.candidates.begin(), ambiguity.candidates.end());
                plan.ambiguous.push_back(std::move(ambiguity));
                continue;
            }
        }
        added.push_back(file);
    }

    // Picture files are judged on the workers, ahead of the entry order.
    std::vector<size_t> pictureJobs;
    for (auto& [index, claim] : claims) {
        const std::string name(archive.entry(index).name);
        if (claim.raw && !claim.pictures.empty()) {
            plan.errors.push_back(*claim.raw + " and " + claim.pictures.front().relativePath +
                                  " both stand for " + name);
            plan.refused.push_back({'M', name, claim.pictures.front().relativePath,
                                    *claim.raw + " stands for " + name + " too", index});
            continue;
        }
        if (claim.pictures.empty()) continue;
        const std::string& ext = claim.pictures.front().suffix;
        const auto other = std::find_if(claim.pictures.begin(), claim.pictures.end(), [&](const PictureFileRef& p) {
            return p.suffix.compare(p.suffix.size() - 4, 4, ext, ext.size() - 4, 4) != 0;
        });
        if (other != claim.pictures.end()) {
            plan.errors.push_back(claim.pictures.front().relativePath + " and " + other->relativePath +
                                  " both stand for " + name);
            plan.refused.push_back({'M', name, other->relativePath,
                                    claim.pictures.front().relativePath + " stands for " + name + " too", index});
            continue;
        }
        pictureJobs.push_back(index);
    }
    if (!plan.errors.empty()) return plan;

    // The verdict travels as a converted file: none when unchanged, else the new bytes.
    EntryConversion judging;
    std::optional<ConversionPool> pool;
    if (!pictureJobs.empty()) {
        judging.workers = pictures->workers;
        judging.applies = [](const ArchiveEntry&) { return true; };
        judging.convert = [&](const Archive& a, size_t index) {
            std::vector<ConvertedFile> out;
            if (auto bytes = pictures->judge(a, index, claims.at(index).pictures))
                out.push_back(ConvertedFile{"", std::move(*bytes)});
            return out;
        };
        pool.emplace(archive, judging);
    }
    size_t submitted = 0, taken = 0;

    Comparer comparer;
    std::unordered_set<std::string> claimedPaths;
    for (const auto& [index, claim] : claims) claimedPaths.insert(pathOf[index]);

    // Whether extraction could have written entry i's file: a folder, link or file in its way
    // means it could not, and its missing file says nothing.
    const auto blocked = [&](size_t i) {
        const std::string& p = pathOf[i];
        if (listing.folders.count(p) || listing.others.count(p)) return true;
        for (size_t slash = p.find('/'); slash != std::string::npos; slash = p.find('/', slash + 1)) {
            const std::string prefix = p.substr(0, slash);
            if (listing.fileSet.count(prefix) || listing.others.count(prefix)) return true;
        }
        return false;
    };

    const auto goOn = [&](size_t done) {
        if (options.progress && !options.progress(plan, done, count)) plan.cancelled = true;
        return !plan.cancelled;
    };
    for (size_t i = 0; i < count; ++i) {
        if (!goOn(i)) return plan;
        const ArchiveEntry e = archive.entry(i);
        const auto it = claims.find(i);
        if (it == claims.end()) {
            if (options.deleteMissing && safe[i] && !claimedPaths.count(pathOf[i]) &&
                !(!stemOf[i].empty() && claimedStems.count(stemOf[i])) && !blocked(i)) {
                plan.edit.remove.insert(i);
                plan.changes.push_back({'D', std::string(e.name), i});
            }
            continue;
        }
        const Claim& claim = it->second;
        if (claim.raw) {
            Fd fd(openUnder(root.fd, *claim.raw));
            if (fd.fd < 0) {
                const std::string reason = runtimeErrorText(runtimeCodeFromErrno(errno));
                plan.errors.push_back(*claim.raw + ": " + reason);
                plan.refused.push_back({'M', std::string(e.name), *claim.raw, reason, i});
                continue;
            }
            if (comparer.sameAsEntry(archive, e, fd.fd)) {
                ++plan.unchanged;
            } else {
                plan.edit.replace[i] = NewData{diskPath(*claim.raw), {}, fileIdOf(fd.fd)};
                plan.changes.push_back({'M', std::string(e.name), i});
            }
            continue;
        }
        // A picture: queue the verdicts ahead, then take this one's.
        for (; submitted < pictureJobs.size() && (submitted == taken || !pool->full()); ++submitted)
            pool->submit(submitted, pictureJobs[submitted]);
        ConversionPool::Result verdict = pool->take(taken++);
        if (!verdict.error.empty()) {
            plan.errors.push_back(verdict.error);  // names the file
            std::string file = claim.pictures.front().relativePath;
            for (const PictureFileRef& p : claim.pictures)
                if (verdict.error.rfind(p.relativePath + ": ", 0) == 0) file = p.relativePath;
            plan.refused.push_back({'M', std::string(e.name), file, reasonOf(verdict.error, file), i});
        } else if (verdict.files.empty()) {
            ++plan.unchanged;
        } else {
            plan.edit.replace[i] = NewData{{}, std::move(verdict.files.front().bytes)};
            plan.changes.push_back({'M', std::string(e.name), i});
        }
    }

    for (const std::string& file : added) {
        const std::string name = storedName(file);
        if (file.find('\\') != std::string::npos) {
            plan.errors.push_back("name holds a backslash: " + file);
            plan.refused.push_back({'A', name, file, "name holds a backslash"});
            continue;
        }
        if (name.size() >= static_cast<size_t>(kNameBytes)) {
            plan.errors.push_back("name of 200 bytes or more: " + file);
            plan.refused.push_back({'A', name, file, "name of 200 bytes or more"});
            continue;
        }
        plan.edit.add.emplace_back(name, NewData{diskPath(file), {}, listing.ids.at(file)});
        plan.changes.push_back({'A', name});
    }
    goOn(count);
    return plan;
}

}  // namespace vorlr
