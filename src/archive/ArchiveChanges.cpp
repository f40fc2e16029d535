#include "archive/ArchiveChanges.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "archive/ContainerLayout.h"
#include "archive/EntryNames.h"
#include "platform/Errors.h"
#include "platform/RuntimeFile.h"

namespace vorlr {

namespace {

constexpr uint8_t kRemoved = 1, kRenamed = 2, kReplaced = 4;
constexpr int64_t kCompareBlock = int64_t{1} << 20;

// Memory bytes that keep their owner alive while they are read.
class HeldBytes final : public ByteSource {
public:
    explicit HeldBytes(DataRef data) : data_(std::move(data)), reader_(data_->bytes()) {}
    int64_t readCounted(void* buffer, int64_t count) override { return reader_.readCounted(buffer, count); }
    void seek(int64_t position) override { reader_.seek(position); }
    int64_t position() override { return reader_.position(); }
    int64_t size() override { return reader_.size(); }

private:
    DataRef data_;
    MemoryByteSource reader_;
};

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

DataRef PendingData::fromBytes(std::vector<uint8_t> bytes) {
    auto d = std::make_shared<PendingData>();
    d->size_ = static_cast<int64_t>(bytes.size());
    d->bytes_ = std::move(bytes);
    return d;
}

DataRef PendingData::fromFile(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0)
        throw Error(path + ": " + runtimeErrorText(runtimeCodeFromErrno(errno)));
    if (!S_ISREG(st.st_mode)) throw Error(path + ": not a regular file");
    auto d = std::make_shared<PendingData>();
    d->path_ = path;
    d->identity_ = fileIdOf(st);
    d->size_ = st.st_size;
    d->modified_ = st.st_mtim;
    return d;
}

std::unique_ptr<ByteSource> PendingData::open() const {
    if (inMemory()) {
        // The caller holds a DataRef to this; share its ownership.
        return std::make_unique<MemoryByteSource>(bytes_);
    }
    auto file = std::make_unique<RuntimeFile>();
    file->openExisting(path_, RuntimeFile::Access::ReadOnly);
    return file;
}

std::string PendingData::changedSincePicked() const {
    if (inMemory()) return {};
    struct stat st{};
    if (::stat(path_.c_str(), &st) != 0)
        return path_ + ": " + runtimeErrorText(runtimeCodeFromErrno(errno));
    if (fileIdOf(st) != identity_ || st.st_size != size_ || !sameTime(st.st_mtim, modified_))
        return path_ + " changed since it was picked";
    return {};
}

NewData PendingData::toNewData() const {
    if (inMemory()) return NewData{{}, bytes_};
    return NewData{path_, {}, identity_, modified_};
}

ArchiveChanges::ArchiveChanges(const Archive& archive)
    : archive_(archive),
      sourceCount_(static_cast<EntryId>(archive.entryCount())),
      flags_(archive.entryCount(), 0),
      present_(archive.entryCount()) {}

bool ArchiveChanges::present(EntryId id) const {
    if (id < 0 || id >= endId()) return false;
    if (id < sourceCount_) return (flags_[static_cast<size_t>(id)] & kRemoved) == 0;
    return added_[static_cast<size_t>(id - sourceCount_)].present;
}

ArchiveChanges::State ArchiveChanges::state(EntryId id) const {
    if (id < sourceCount_) {
        if (flags_[static_cast<size_t>(id)] == 0) return State{};
        return sources_.at(id);
    }
    return added_[static_cast<size_t>(id - sourceCount_)];
}

std::string_view ArchiveChanges::name(EntryId id) const {
    if (id < sourceCount_) {
        if (flags_[static_cast<size_t>(id)] & kRenamed) return *sources_.at(id).name;
        return archive_.entry(static_cast<size_t>(id)).name;
    }
    return *added_[static_cast<size_t>(id - sourceCount_)].name;
}

DataRef ArchiveChanges::data(EntryId id) const {
    if (id < sourceCount_) {
        if (flags_[static_cast<size_t>(id)] & kReplaced) return sources_.at(id).data;
        return nullptr;
    }
    return added_[static_cast<size_t>(id - sourceCount_)].data;
}

bool ArchiveChanges::marked(EntryId id) const {
    if (!present(id)) return false;
    return id >= sourceCount_ || flags_[static_cast<size_t>(id)] != 0;
}

int64_t ArchiveChanges::size(EntryId id) const {
    if (const DataRef d = data(id)) return d->size();
    return archive_.entry(static_cast<size_t>(id)).size;
}

std::unique_ptr<ByteSource> OpenHeld(DataRef data) {
    if (data->inMemory()) return std::make_unique<HeldBytes>(std::move(data));
    return data->open();
}

std::unique_ptr<ByteSource> ArchiveChanges::open(EntryId id) const {
    if (DataRef d = data(id)) return OpenHeld(std::move(d));
    auto reader = std::make_unique<ArchiveReader>(archive_);
    reader->seek(archive_.entry(static_cast<size_t>(id)).offset);
    return reader;
}

std::vector<uint8_t> ArchiveChanges::read(EntryId id, int64_t limit) const {
    const int64_t n = std::max<int64_t>(size(id), 0);
    if (n > limit) throw Error(std::string(name(id)) + ": too large (" + std::to_string(n) + " bytes)");
    std::vector<uint8_t> bytes(static_cast<size_t>(n));
    const std::unique_ptr<ByteSource> in = open(id);
    bytes.resize(static_cast<size_t>(in->readCounted(bytes.data(), n)));
    return bytes;
}

bool ArchiveChanges::sameBytes(ByteSource& a, ByteSource& b, int64_t size) const {
    std::vector<uint8_t> x(static_cast<size_t>(std::min(size, kCompareBlock)));
    std::vector<uint8_t> y(x.size());
    for (int64_t done = 0; done < size;) {
        const int64_t n = std::min(size - done, kCompareBlock);
        if (a.readCounted(x.data(), n) != n || b.readCounted(y.data(), n) != n) return false;
        if (std::memcmp(x.data(), y.data(), static_cast<size_t>(n)) != 0) return false;
        done += n;
    }
    return true;
}

bool ArchiveChanges::holds(EntryId id, const PendingData& candidate) const {
    if (!present(id) || size(id) != candidate.size()) return false;
    const DataRef own = data(id);
    if (own.get() == &candidate) return true;
    // A picked file written since no longer tells what was picked: taking it again is a change.
    if (own && !own->changedSincePicked().empty()) return false;
    const std::unique_ptr<ByteSource> a = open(id);
    return sameBytes(*a, *candidate.open(), candidate.size());
}

ArchiveChanges::State ArchiveChanges::withData(EntryId id, DataRef data) const {
    State s = state(id);
    s.data = std::move(data);
    // The loaded entry's own bytes again: no longer replaced.
    if (id < sourceCount_) {
        const ArchiveEntry e = archive_.entry(static_cast<size_t>(id));
        if (s.data->size() == e.size) {
            ArchiveReader own(archive_);
            own.seek(e.offset);
            if (sameBytes(own, *s.data->open(), e.size)) s.data = nullptr;
        }
    }
    return s;
}

std::optional<EntryId> ArchiveChanges::find(std::string_view wanted) const {
    for (EntryId id = endId() - 1; id >= 0; --id)
        if (present(id) && name(id) == wanted) return id;
    return std::nullopt;
}

std::vector<std::optional<EntryId>> ArchiveChanges::findEach(
    const std::vector<std::string>& names) const {
    std::vector<std::optional<EntryId>> found(names.size());
    std::unordered_map<std::string_view, std::vector<size_t>> wanted;
    for (size_t k = 0; k < names.size(); ++k) wanted[names[k]].push_back(k);
    for (EntryId id = 0; id < endId(); ++id) {
        if (!present(id)) continue;
        if (auto it = wanted.find(name(id)); it != wanted.end())
            for (const size_t k : it->second) found[k] = id;
    }
    return found;
}

std::string ArchiveChanges::shapeProblem(std::string_view name) {
    std::vector<std::string> segments;
    if (const NameVerdict v = SplitSafeName(name, segments); v != NameVerdict::Safe)
        return DescribeVerdict(v);
    if (static_cast<int64_t>(name.size()) >= kNameBytes) return "name of 200 bytes or more";
    return {};
}

std::string ArchiveChanges::nameProblem(std::string_view name,
                                        std::optional<EntryId> except) const {
    std::vector<std::string> segments;
    if (const NameVerdict v = SplitSafeName(name, segments); v != NameVerdict::Safe)
        return DescribeVerdict(v);
    for (EntryId id = 0; id < endId(); ++id)
        if (id != except && present(id) && this->name(id) == name)
            return "an entry named " + std::string(name) + " exists already";
    return shapeProblem(name);
}

bool ArchiveChanges::differs(EntryId id, const State& s) const {
    if (id >= sourceCount_) return s.present;
    return !s.present || s.name || s.data;
}

void ArchiveChanges::set(EntryId id, const State& s) {
    const State old = state(id);
    changed_ += differs(id, s);
    changed_ -= differs(id, old);
    present_ += s.present;
    present_ -= old.present;
    if (id >= sourceCount_) {
        added_[static_cast<size_t>(id - sourceCount_)] = s;
        return;
    }
    const uint8_t flags = static_cast<uint8_t>((s.present ? 0 : kRemoved) | (s.name ? kRenamed : 0) |
                                               (s.data ? kReplaced : 0));
    flags_[static_cast<size_t>(id)] = flags;
    if (flags == 0)
        sources_.erase(id);
    else
        sources_[id] = s;
}

ArchiveChanges::Outcome ArchiveChanges::apply(const Step& step, bool forward) {
    Outcome out;
    out.made = !step.deltas.empty();
    const auto visit = [&](const Delta& d) {
        const State& to = forward ? d.after : d.before;
        const State& from = forward ? d.before : d.after;
        set(d.id, to);
        if (from.present != to.present || from.name != to.name)
            if (!out.treeFrom || d.id < *out.treeFrom) out.treeFrom = d.id;
        out.touched.push_back(d.id);
    };
    if (forward)
        for (const Delta& d : step.deltas) visit(d);
    else
        for (auto d = step.deltas.rbegin(); d != step.deltas.rend(); ++d) visit(*d);
    std::sort(out.touched.begin(), out.touched.end());
    return out;
}

ArchiveChanges::Outcome ArchiveChanges::commit(Step step) {
    if (step.deltas.empty()) return {};
    Outcome out = apply(step, true);
    undo_.push_back(std::move(step));
    redo_.clear();
    return out;
}

ArchiveChanges::Outcome ArchiveChanges::replace(EntryId id, DataRef data, const std::string& label) {
    if (!present(id)) throw Error("no entry #" + std::to_string(id));
    if (holds(id, *data)) return {};
    const State before = state(id);
    const State after = withData(id, std::move(data));
    return commit(Step{label, {Delta{id, before, after}}});
}

ArchiveChanges::Outcome ArchiveChanges::add(
    const std::vector<std::pair<std::string, DataRef>>& files,
    const std::vector<std::pair<EntryId, DataRef>>& replacements, const std::string& label) {
    return update(files, replacements, {}, label);
}

ArchiveChanges::Outcome ArchiveChanges::update(
    const std::vector<std::pair<std::string, DataRef>>& files,
    const std::vector<std::pair<EntryId, DataRef>>& replacements,
    const std::vector<EntryId>& removals, const std::string& label) {
    // Every name checked before anything changes: against the entries and each other.
    std::unordered_set<std::string_view> names;
    for (const auto& [name, data] : files) {
        std::vector<std::string> segments;
        if (const NameVerdict v = SplitSafeName(name, segments); v != NameVerdict::Safe)
            throw Error(name + ": " + DescribeVerdict(v));
        if (static_cast<int64_t>(name.size()) >= kNameBytes)
            throw Error("name of 200 bytes or more: " + name);
        if (!names.insert(name).second) throw Error("an entry named " + name + " exists already");
    }
    if (!names.empty())
        for (EntryId id = 0; id < endId(); ++id)
            if (present(id) && names.count(name(id)))
                throw Error("an entry named " + std::string(name(id)) + " exists already");

    std::unordered_set<EntryId> removed;
    for (const EntryId id : removals)
        if (present(id)) removed.insert(id);
    if (!removed.empty() && removed.size() >= present_ + files.size())
        throw Error("An archive needs at least one entry: the last one cannot be deleted");

    Step step{label, {}};
    for (const auto& [id, data] : replacements) {
        if (!present(id)) throw Error("no entry #" + std::to_string(id));
        if (removed.count(id) || holds(id, *data)) continue;
        step.deltas.push_back(Delta{id, state(id), withData(id, data)});
    }
    for (const EntryId id : removals) {
        if (!removed.erase(id)) continue;  // absent, or named twice
        const State before = state(id);
        State after = id < sourceCount_ ? State{false, std::nullopt, nullptr} : before;
        after.present = false;
        step.deltas.push_back(Delta{id, before, after});
    }
    for (const auto& [name, data] : files) {
        const EntryId id = endId();
        added_.push_back(State{false, name, data});
        step.deltas.push_back(Delta{id, added_.back(), State{true, name, data}});
    }
    return commit(std::move(step));
}

ArchiveChanges::Outcome ArchiveChanges::remove(const std::vector<EntryId>& ids,
                                               const std::string& label) {
    Step step{label, {}};
    std::unordered_set<EntryId> seen;
    for (const EntryId id : ids) {
        if (!present(id) || !seen.insert(id).second) continue;
        const State before = state(id);
        State after = id < sourceCount_ ? State{false, std::nullopt, nullptr} : before;
        after.present = false;
        step.deltas.push_back(Delta{id, before, after});
    }
    if (!step.deltas.empty() && step.deltas.size() >= present_)
        throw Error("An archive needs at least one entry: the last one cannot be deleted");
    return commit(std::move(step));
}

ArchiveChanges::Outcome ArchiveChanges::rename(EntryId id, const std::string& newName,
                                               const std::string& label) {
    if (!present(id)) throw Error("no entry #" + std::to_string(id));
    if (name(id) == newName) return {};
    if (const std::string problem = nameProblem(newName, id); !problem.empty()) throw Error(problem);
    const State before = state(id);
    State after = before;
    after.name = newName;
    if (id < sourceCount_ && archive_.entry(static_cast<size_t>(id)).name == newName)
        after.name = std::nullopt;
    return commit(Step{label, {Delta{id, before, after}}});
}

const std::string& ArchiveChanges::undoLabel() const {
    static const std::string none;
    return undo_.empty() ? none : undo_.back().label;
}

const std::string& ArchiveChanges::redoLabel() const {
    static const std::string none;
    return redo_.empty() ? none : redo_.back().label;
}

ArchiveChanges::Outcome ArchiveChanges::undo() {
    if (undo_.empty()) return {};
    Step step = std::move(undo_.back());
    undo_.pop_back();
    Outcome out = apply(step, false);
    redo_.push_back(std::move(step));
    return out;
}

ArchiveChanges::Outcome ArchiveChanges::redo() {
    if (redo_.empty()) return {};
    Step step = std::move(redo_.back());
    redo_.pop_back();
    Outcome out = apply(step, true);
    undo_.push_back(std::move(step));
    return out;
}

ArchiveChanges::Outcome ArchiveChanges::discard() {
    Outcome out;
    for (const auto& [id, st] : sources_) {
        out.touched.push_back(id);
        if (!st.present || st.name)
            if (!out.treeFrom || id < *out.treeFrom) out.treeFrom = id;
    }
    for (EntryId id = sourceCount_; id < endId(); ++id) {
        if (!present(id)) continue;
        out.touched.push_back(id);
        if (!out.treeFrom || id < *out.treeFrom) out.treeFrom = id;
    }
    std::sort(out.touched.begin(), out.touched.end());
    out.made = !out.touched.empty() || !undo_.empty() || !redo_.empty();
    std::fill(flags_.begin(), flags_.end(), 0);
    sources_.clear();
    added_.clear();
    undo_.clear();
    redo_.clear();
    changed_ = 0;
    present_ = static_cast<size_t>(sourceCount_);
    return out;
}

ArchiveEdit ArchiveChanges::toEdit() const {
    ArchiveEdit edit;
    std::string problems;
    const auto take = [&](const DataRef& d) {
        if (const std::string p = d->changedSincePicked(); !p.empty())
            problems += (problems.empty() ? "" : "; ") + p;
        return d->toNewData();
    };
    for (const auto& [id, s] : sources_) {
        const auto i = static_cast<size_t>(id);
        if (!s.present) {
            edit.remove.insert(i);
            continue;
        }
        if (s.name) edit.rename[i] = *s.name;
        if (s.data) edit.replace[i] = take(s.data);
    }
    for (const State& s : added_)
        if (s.present) edit.add.emplace_back(*s.name, take(s.data));
    if (!problems.empty())
        throw Error("Nothing was saved: " + problems + ". Pick the file again.");
    return edit;
}

PendingTree::PendingTree(FolderTree& tree, const ArchiveChanges& changes)
    : tree_(tree), changes_(changes) {}

void PendingTree::loaded() {
    nodes_.assign(static_cast<size_t>(changes_.endId()), kNoNode);
    for (NodeId node = 0; node < tree_.size(); ++node)
        if (const int32_t e = tree_.entryIndex(node); e >= 0 && e < changes_.endId())
            nodes_[static_cast<size_t>(e)] = node;
}

void PendingTree::update(EntryId from) {
    const EntryId end = changes_.endId();
    nodes_.resize(static_cast<size_t>(end), kNoNode);
    from = std::clamp<EntryId>(from, 0, end);
    EntryId previous = from - 1;
    while (previous >= 0 && nodes_[static_cast<size_t>(previous)] == kNoNode) --previous;
    TreeBuilder builder(tree_);
    if (previous >= 0) {
        const NodeId node = nodes_[static_cast<size_t>(previous)];
        tree_.truncate(node + 1);
        builder.resumeAfter(changes_.name(previous), node);
    } else {
        tree_.truncate(0);
    }
    // As the loader does: looking up a text mostly waits for memory, so start that a few
    // entries ahead.
    constexpr EntryId kAhead = 4;
    const auto prefetch = [&](EntryId id) {
        if (id >= end || !changes_.present(id)) return;
        const std::string_view later = changes_.name(id);
        const auto slash = later.rfind('\\');
        tree_.prefetchText(slash == std::string_view::npos ? later : later.substr(slash + 1));
    };
    for (EntryId id = from; id < std::min<EntryId>(from + kAhead, end); ++id) prefetch(id);
    for (EntryId id = from; id < end; ++id) {
        prefetch(id + kAhead);
        NodeId& node = nodes_[static_cast<size_t>(id)];
        node = changes_.present(id) ? builder.add(changes_.name(id), id) : kNoNode;
    }
}

NodeId PendingTree::nodeOf(EntryId id) const {
    if (id < 0 || static_cast<size_t>(id) >= nodes_.size()) return kNoNode;
    return nodes_[static_cast<size_t>(id)];
}

}  // namespace vorlr
