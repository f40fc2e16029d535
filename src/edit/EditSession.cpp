#include "edit/EditSession.h"

#include <algorithm>
#include <cerrno>
#include <unordered_map>

#include "archive/EntryKind.h"
#include "archive/FolderTree.h"
#include "edit/Replacement.h"
#include "platform/Errors.h"
#include "platform/png/PictureReader.h"
#include "platform/RuntimeFile.h"
#include "platform/Text.h"
#include "viewers/PictureBudget.h"
#include "viewers/encoders/PictureUpdate.h"

namespace vorlr {

namespace {

// An archive reader with a buffer of its own: one per entry a worker reads.
class EntrySource final : public ByteSource {
public:
    explicit EntrySource(const Archive& archive) : reader_(archive), buffered_(reader_) {}
    int64_t readCounted(void* buffer, int64_t count) override { return buffered_.readCounted(buffer, count); }
    void seek(int64_t position) override { buffered_.seek(position); }
    int64_t position() override { return buffered_.position(); }
    int64_t size() override { return buffered_.size(); }

private:
    ArchiveReader reader_;
    BufferedByteSource buffered_;
};

// Pictures are read whole to be encoded again; no game picture comes near this.
constexpr int64_t kPictureLimit = int64_t{1} << 30;

bool sameState(const struct stat& a, const struct stat& b) {
    return fileIdOf(a) == fileIdOf(b) && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}


}  // namespace

bool EditSession::open(const Archive& archive, size_t entriesRead, FolderTree& tree) {
    close();
    archive_ = &archive;
    if (!archive.isOpen() || archive.entryCount() == 0 || archive.entryCount() != entriesRead ||
        ::fstat(archive.fd(), &loaded_) != 0)
        return false;
    changes_ = std::make_unique<ArchiveChanges>(archive);
    tree_ = std::make_unique<PendingTree>(tree, *changes_);
    tree_->loaded();
    return true;
}

void EditSession::openNew(const Archive& none, FolderTree& tree) {
    close();
    archive_ = &none;
    changes_ = std::make_unique<ArchiveChanges>(none);
    tree_ = std::make_unique<PendingTree>(tree, *changes_);
    tree_->loaded();
    new_ = true;
}

void EditSession::close() {
    end();
    new_ = false;
    tree_.reset();
    changes_.reset();
    archive_ = nullptr;
    wholeTree_ = false;
}

void EditSession::end() {
    for (const auto& f : ended_) f();
}

bool EditSession::holdsPending(EntryId id) const {
    return changes_ && changes_->present(id) && changes_->data(id) != nullptr;
}

bool EditSession::present(EntryId id) const {
    if (changes_) return changes_->present(id);
    return archive_ && id >= 0 && static_cast<size_t>(id) < archive_->entryCount();
}

std::string EditSession::entryName(EntryId id) const {
    if (changes_) return std::string(changes_->name(id));
    return std::string(archive_->entry(static_cast<size_t>(id)).name);
}

std::unique_ptr<ByteSource> EditSession::openEntry(EntryId id) const {
    if (changes_) return changes_->open(id);
    auto reader = std::make_unique<ArchiveReader>(*archive_);
    reader->seek(archive_->entry(static_cast<size_t>(id)).offset);
    return reader;
}

int64_t EditSession::entrySize(EntryId id) const {
    if (changes_) return changes_->size(id);
    return archive_->entry(static_cast<size_t>(id)).size;
}

EditSession::EntryBytesFor EditSession::bytesAsTheyStand(const std::vector<EntryId>& ids) const {
    // Taken now, on the caller's thread: which entries hold pending data, and that data.
    auto pending = std::make_shared<std::unordered_map<EntryId, DataRef>>();
    if (changes_)
        for (const EntryId id : ids)
            if (changes_->present(id))
                if (DataRef data = changes_->data(id)) (*pending)[id] = std::move(data);
    const Archive* archive = archive_;
    const size_t count = archive ? archive->entryCount() : 0;
    return [pending, archive, count](EntryId id) {
        EntryBytes bytes;
        if (const auto found = pending->find(id); found != pending->end()) {
            bytes.held = found->second->size();
            bytes.source = OpenHeld(found->second);
            return bytes;
        }
        if (id < 0 || static_cast<size_t>(id) >= count) throw Error("no such entry");
        const ArchiveEntry entry = archive->entry(static_cast<size_t>(id));
        bytes.source = std::make_unique<EntrySource>(*archive);
        bytes.source->seek(entry.offset);
        bytes.held = EntryBytesHeld(*archive, entry);
        return bytes;
    };
}

DataRef EditSession::replacement(EntryId id, const ReplacementFrom& from) const {
    return ReplacementFor(std::string(changes_->name(id)), [&] {
        return EntryBytes{changes_->open(id), std::max<int64_t>(changes_->size(id), 0)};
    }, from);
}

DataRef EditSession::ReplacementFor(const std::string& name, const std::function<EntryBytes()>& open,
                                    const ReplacementFrom& from) {
    const EntryKind kind = EntryKindOfStored(name);
    const bool picture = kind == EntryKind::Kmg || kind == EntryKind::Targa;
    if (!picture || (!from.content && !IsPictureFile(from.file)))
        return from.content ? PendingData::fromBytes(*from.content) : PendingData::fromFile(from.file);
    // A write-back says which entry stays as it was; a picked file is named alone.
    const std::string stays = from.sameSize ? "; " + name + " stays as it was" : "";
    try {
        PictureReplacement replacement;
        replacement.picture = from.content ? ReadPicture(*from.content, from.file) : ReadPictureFile(from.file);
        replacement.sameSize = from.sameSize;
        replacement.at = [&](size_t count) -> std::optional<size_t> {
            if (from.subImage || count <= 1) return from.subImage.value_or(0);
            const std::string node(NodeNameOf(name));
            if (const auto n = SubImageNamed(from.file, node.substr(0, node.find('.'))); n && *n < count)
                return n;
            return from.choose ? from.choose(count) : size_t{0};
        };
        EntryBytes entry = open();
        if (entry.held > kPictureLimit)
            throw Error(name + ": too large (" + std::to_string(entry.held) + " bytes)");
        std::vector<uint8_t> model(static_cast<size_t>(entry.held));
        model.resize(static_cast<size_t>(entry.source->readCounted(model.data(), entry.held)));
        EntryBytes reader = open();
        std::optional<std::vector<uint8_t>> bytes =
            ReplacePictureOf(*reader.source, model, kind, std::move(replacement));
        if (!bytes) return nullptr;  // the same pixels, or no sub-image chosen
        return PendingData::fromBytes(std::move(*bytes));
    } catch (const Error& e) {
        const std::string text = e.what();
        if (text.rfind(from.file, 0) == 0) throw;
        throw Error(from.file + ": " + text + stays);
    }
}

EditSession::AddPlan EditSession::planAdd(std::vector<std::pair<std::string, std::string>> files,
                                          std::string label) const {
    // Added in byte order of their stored names, as update adds files.
    std::stable_sort(files.begin(), files.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    names.reserve(files.size());
    for (const auto& f : files) names.push_back(f.first);
    const std::vector<std::optional<EntryId>> existing = changes_->findEach(names);
    AddPlan plan;
    plan.label = std::move(label);
    for (size_t k = 0; k < files.size(); ++k) {
        auto& [name, path] = files[k];
        if (!existing[k])
            if (const std::string problem = ArchiveChanges::shapeProblem(name); !problem.empty())
                throw Error("Cannot add " + path + " as " + name + ": " + problem);
        plan.files.push_back({std::move(name), std::move(path), existing[k]});
    }
    return plan;
}

EditSession::Outcome EditSession::add(const AddPlan& plan, const std::vector<bool>& answers) {
    std::vector<std::pair<std::string, DataRef>> added;
    std::vector<std::pair<EntryId, DataRef>> replaced;
    size_t answer = 0;
    for (const AddPlan::File& file : plan.files) {
        if (!file.existing) {
            added.emplace_back(file.name, PendingData::fromFile(file.path));
        } else if (answer < answers.size() && answers[answer++]) {
            replaced.emplace_back(*file.existing, PendingData::fromFile(file.path));
        }
    }
    return announce(changes_->add(added, replaced, plan.label));
}

EditSession::Outcome EditSession::replace(EntryId id, DataRef data, const std::string& label) {
    return announce(changes_->replace(id, std::move(data), label));
}

EditSession::Outcome EditSession::remove(const std::vector<EntryId>& ids, const std::string& label) {
    return announce(changes_->remove(ids, label));
}

EditSession::Outcome EditSession::update(const std::vector<std::pair<std::string, DataRef>>& added,
                                         const std::vector<std::pair<EntryId, DataRef>>& replaced,
                                         const std::vector<EntryId>& removed, const std::string& label) {
    return announce(changes_->update(added, replaced, removed, label));
}

EditSession::Outcome EditSession::rename(EntryId id, const std::string& newName, const std::string& label) {
    return announce(changes_->rename(id, newName, label));
}

EditSession::Outcome EditSession::undo() { return announce(changes_->undo()); }

EditSession::Outcome EditSession::redo() { return announce(changes_->redo()); }

void EditSession::discard() {
    announce(changes_->discard());
    end();
}

EditSession::Outcome EditSession::announce(Outcome outcome) {
    if (outcome.made && outcome.treeFrom) {
        if (wholeTree_) outcome.treeFrom = 0;
        wholeTree_ = false;
        for (const auto& f : rebuilding_) f();
    }
    for (const auto& f : stepped_) f(outcome);
    return outcome;
}

// Unchanged data is read only from the file the window holds, and only while it is as loaded;
// a save in place only while the archive's name still stands for that file.
EditSession::SavePlan EditSession::planSave(const std::optional<std::string>& as) const {
    if (new_) {
        // The format holds at least one entry; a new archive has no file to write in place.
        if (changes_->presentCount() == 0)
            throw Error("An archive needs at least one entry: add files to the new archive before saving it.");
        if (!as) throw Error("A new archive is saved with Save archive as...");
        SavePlan plan{changes_->toEdit(), {}};
        plan.target.path = *as;
        return plan;
    }
    const std::string loadedPath = archive_->path();
    const std::string name = baseNameOf(loadedPath);
    struct stat held{};
    if (::fstat(archive_->fd(), &held) != 0) throwFromErrno(errno);
    if (!sameState(held, loaded_))
        throw Error(name + " was changed on disk after it was loaded. Nothing was saved; the "
                           "changes are kept.");
    bool inPlace = !as;
    if (as && fileIdOf(*as) == fileIdOf(held)) inPlace = true;
    if (inPlace && fileIdOf(loadedPath) != fileIdOf(held))
        throw Error(name + " on disk is no longer the file that was loaded: another program "
                           "replaced it. Nothing was saved; the changes are kept, and Save "
                           "archive as... writes them to a new file.");
    SavePlan plan{changes_->toEdit(), {}};
    plan.target.path = inPlace ? loadedPath : *as;
    plan.target.inPlace = inPlace;
    plan.target.backup = inPlace;
    return plan;
}

void EditSession::forget() {
    new_ = false;
    changes_->discard();
    end();
}

}  // namespace vorlr
