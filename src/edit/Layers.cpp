#include "edit/Layers.h"

#include <algorithm>
#include <deque>
#include <string_view>

#include "archive/Container.h"
#include "viewers/PictureBudget.h"
#include "platform/Errors.h"
#include "platform/Text.h"

namespace vorlr {
namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// The folder segment of name at depth (empty segments skipped, as the tree skips them); empty
// when name has no folder that deep.
std::string_view folderAt(std::string_view name, size_t depth) {
    size_t from = 0;
    for (size_t end = 0; end < name.size(); ++end) {
        if (!isSeparator(name[end])) continue;
        if (end > from && depth-- == 0) return name.substr(from, end - from);
        from = end + 1;
    }
    return {};
}

}  // namespace

Layers::Layers(const Archive& base, const std::string& firstPatch) {
    stack_.push_back(&base);
    if (firstPatch.empty()) {
        rebuild();
        return;
    }
    std::unique_ptr<Archive> archive = OpenValidArchive(firstPatch);
    stack_.push_back(archive.get());
    opened_.push_back(std::move(archive));
    openTop();
    rebuild();
}

Layers::~Layers() = default;

void Layers::add(const std::string& path) {
    // The session moves to the new top: the old top's steps would be lost.
    if (pending())
        throw Error(fileName(static_cast<uint32_t>(stack_.size() - 1)) +
                    " has unsaved changes: save or discard them before adding a layer over it.");
    std::unique_ptr<Archive> archive = OpenValidArchive(path);
    stack_.push_back(archive.get());
    opened_.push_back(std::move(archive));
    try {
        openTop();
        rebuild();
    } catch (...) {
        stack_.pop_back();
        openTop();
        rebuild();
        opened_.pop_back();
        throw;
    }
}

void Layers::removeTop() {
    if (stack_.size() < 2) return;
    stack_.pop_back();
    openTop();
    rebuild();  // before the archive goes: the view refers to it until then
    opened_.pop_back();
}

void Layers::openTop() {
    if (stack_.size() < 2) {
        top_.close();
        return;
    }
    const Archive& archive = *stack_.back();
    topTree_.clear();
    if (!top_.open(archive, archive.entryCount(), topTree_))
        throw Error(archive.path() + " cannot be edited");
}

void Layers::reopenTop() {
    if (stack_.size() < 2) return;
    std::unique_ptr<Archive> archive = OpenValidArchive(stack_.back()->path());
    stack_.back() = archive.get();
    openTop();
    rebuild();
    opened_.back() = std::move(archive);  // the view no longer refers to the old one
}

Layers::Bytes Layers::open(LayerEntry e) const {
    Bytes out;
    if (view_.edited(e)) {
        const auto id = static_cast<EntryId>(e.index);
        out.source = top_.openEntry(id);
        out.size = top_.entrySize(id);
        out.held = std::max<int64_t>(out.size, 0);
        if (!top_.holdsPending(id) && !top_.changes()->added(id)) {
            const ArchiveEntry entry = stack_.back()->entry(e.index);
            out.offset = entry.offset;
            out.held = EntryBytesHeld(*stack_.back(), entry);
        }
        return out;
    }
    const Archive& archive = *stack_[e.layer];
    const ArchiveEntry entry = archive.entry(e.index);
    auto reader = std::make_unique<ArchiveReader>(archive);
    reader->seek(entry.offset);
    out.source = std::move(reader);
    out.size = entry.size;
    out.held = EntryBytesHeld(archive, entry);
    out.offset = entry.offset;
    return out;
}

Layers::VersionBytesFor Layers::bytesAsTheyStand(const std::vector<LayerEntry>& versions) const {
    std::vector<EntryId> edited;
    for (const LayerEntry e : versions)
        if (view_.edited(e)) edited.push_back(static_cast<EntryId>(e.index));
    EditSession::EntryBytesFor top;
    if (!edited.empty()) top = top_.bytesAsTheyStand(edited);
    return [top = std::move(top), stack = stack_,
            topLayer = static_cast<uint32_t>(stack_.size() - 1)](LayerEntry e) {
        // The top layer's entries are its session's (pending or its file's); the others the
        // files'.
        if (top && e.layer == topLayer) return top(static_cast<EntryId>(e.index));
        if (e.layer >= stack.size() || e.index >= stack[e.layer]->entryCount())
            throw Error("no such entry");
        const Archive& archive = *stack[e.layer];
        const ArchiveEntry entry = archive.entry(e.index);
        auto reader = std::make_unique<ArchiveReader>(archive);
        reader->seek(entry.offset);
        return EditSession::EntryBytes{std::move(reader), EntryBytesHeld(archive, entry)};
    };
}

SearchEntries Layers::searchEntries() const {
    SearchEntries out;
    std::vector<LayerEntry> winners;
    std::vector<int64_t> sizes;
    const size_t n = view_.names().size();
    winners.reserve(n);
    sizes.reserve(n);
    out.ids.reserve(n);
    out.list.names.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const LayerEntry e = view_.names()[i].winner;
        winners.push_back(e);
        out.ids.push_back(static_cast<EntryId>(i));
        out.list.names.emplace_back(view_.name(e));
        sizes.push_back(view_.edited(e) ? top_.entrySize(static_cast<EntryId>(e.index))
                                        : stack_[e.layer]->entry(e.index).size);
    }
    out.list.open = [read = bytesAsTheyStand(winners), winners, sizes = std::move(sizes)](size_t i) {
        return SearchBytesOf(read(winners.at(i)), sizes[i]);
    };
    return out;
}

DataRef Layers::replacement(NodeId node, const EditSession::ReplacementFrom& from) const {
    const MergedView::Name* name = nameOf(node);
    if (!name || !top()) return nullptr;
    if (view_.edited(name->winner))
        return top_.replacement(static_cast<EntryId>(name->winner.index), from);
    return EditSession::ReplacementFor(std::string(view_.name(name->winner)), [&] {
        const Archive& archive = *stack_[name->winner.layer];
        const ArchiveEntry entry = archive.entry(name->winner.index);
        auto reader = std::make_unique<ArchiveReader>(archive);
        reader->seek(entry.offset);
        // As extraction reads it: the recorded size, cut where the archive ends.
        return EditSession::EntryBytes{std::move(reader), EntryBytesHeld(archive, entry)};
    }, from);
}

Layers::Outcome Layers::stepped(Outcome outcome) {
    if (outcome.made) rebuild();
    return outcome;
}

Layers::Outcome Layers::put(NodeId node, DataRef data) {
    const MergedView::Name* name = nameOf(node);
    if (!name || !top() || !data) return {};
    const std::string stored(view_.name(name->winner));
    if (view_.edited(name->winner))
        return stepped(top_.replace(static_cast<EntryId>(name->winner.index), std::move(data),
                                    "Replace " + stored));
    return stepped(top_.update({{stored, std::move(data)}}, {}, {}, "Replace " + stored));
}

Layers::Outcome Layers::remove(NodeId node) {
    if (!top() || node < 0 || node >= tree_.size()) return {};
    std::vector<EntryId> ids;
    std::optional<LayerEntry> lower;
    for (const LayerEntry e : winnersUnder(node)) {
        if (view_.edited(e))
            ids.push_back(static_cast<EntryId>(e.index));
        else if (!lower)
            lower = e;
    }
    const std::string text = tree_.text(node);
    if (ids.empty())
        throw Error(text + " comes from " + (lower ? fileName(lower->layer) : std::string("a lower layer")) +
                    ": the layered view edits only the top layer, " +
                    fileName(static_cast<uint32_t>(stack_.size() - 1)) + ".");
    const std::string label = ids.size() == 1 ? "Delete " + std::string(top_.changes()->name(ids.front()))
                                              : "Delete " + text;
    return stepped(top_.remove(ids, label));
}

Layers::Outcome Layers::undo() { return top() ? stepped(top_.undo()) : Outcome{}; }
Layers::Outcome Layers::redo() { return top() ? stepped(top_.redo()) : Outcome{}; }

void Layers::discard() {
    if (!pending()) return;
    top_.discard();
    rebuild();
}

void Layers::setIgnoreCase(bool on) {
    if (on == ignoreCase_) return;
    ignoreCase_ = on;
    rebuild();
}

std::string Layers::fileName(uint32_t layer) const { return baseNameOf(stack_[layer]->path()); }

void Layers::rebuild() {
    warnings_.clear();
    view_ = MergedView(stack_, ignoreCase_,
                       [this](const std::string& warning) { warnings_.push_back(warning); },
                       top() && top_.editable() ? top_.changes() : nullptr);
    tree_.clear();
    // One FolderNames per folder node (index 0: the top), as the view places names; the names
    // are the archives' own, which outlive the tree.
    std::deque<FolderNames> folders;  // a folder made while its parent adds a name: references stay
    folders.emplace_back(ignoreCase_);
    std::vector<NodeId> folderNode{kNoNode};
    // Runs of names in one folder are the rule: the last name's folder is tried first.
    std::string_view lastDirectory;
    size_t lastFolder = 0;
    bool haveLast = false;
    const std::vector<MergedView::Name>& names = view_.names();
    for (size_t n = 0; n < names.size(); ++n) {
        const std::string_view name = view_.name(names[n].winner);
        size_t cut = name.size();
        while (cut > 0 && !isSeparator(name[cut - 1])) --cut;
        const std::string_view directory = name.substr(0, cut);
        size_t folder = 0;
        if (haveLast && directory == lastDirectory) {
            folder = lastFolder;
        } else {
            size_t from = 0, depth = 0;
            while (from < cut) {
                size_t end = from;
                while (!isSeparator(name[end])) ++end;
                const std::string_view segment = name.substr(from, end - from);
                from = end + 1;
                if (segment.empty()) continue;  // "A\\B" and a leading separator, as the view
                const NodeId parent = folderNode[folder];
                const std::optional<uint64_t> child = folders[folder].folder(segment, [&] {
                    // Spelt as the mount spells it: as the first entry under it in stack order
                    // has it, which is this name's first version (names stand in that order).
                    std::string_view text = segment;
                    if (const auto hidden = view_.hidden(names[n]); ignoreCase_ && !hidden.empty())
                        if (const std::string_view first = folderAt(view_.name(hidden.front()), depth);
                            !first.empty())
                            text = first;
                    folderNode.push_back(tree_.addChild(parent, std::string(text), -1));
                    folders.emplace_back(ignoreCase_);
                    return static_cast<uint64_t>(folders.size() - 1);
                });
                folder = child ? static_cast<size_t>(*child) : folder;  // never a file here
                ++depth;
            }
            lastDirectory = directory;
            lastFolder = folder;
            haveLast = true;
        }
        tree_.addChild(folderNode[folder], std::string(name.substr(cut)), static_cast<int32_t>(n));
    }
}

const MergedView::Name* Layers::nameOf(NodeId node) const {
    if (node < 0 || node >= tree_.size()) return nullptr;
    const int32_t at = tree_.entryIndex(node);
    return at < 0 ? nullptr : &view_.names()[static_cast<size_t>(at)];
}

std::vector<LayerEntry> Layers::versions(NodeId node) const {
    const MergedView::Name* name = nameOf(node);
    if (!name) return {};
    std::vector<LayerEntry> out{name->winner};
    const auto hidden = view_.hidden(*name);
    out.insert(out.end(), hidden.rbegin(), hidden.rend());
    return out;
}

std::vector<LayerEntry> Layers::winnersUnder(NodeId node) const {
    std::vector<LayerEntry> out;
    for (const int32_t at : tree_.entriesInSubtree(node))
        out.push_back(view_.names()[static_cast<size_t>(at)].winner);
    return out;
}

std::vector<std::pair<LayerEntry, std::string>> Layers::winnersWithPathsUnder(NodeId node) const {
    std::vector<std::pair<LayerEntry, std::string>> out;
    if (node == kNoNode) return out;
    std::string path;
    for (NodeId up = tree_.parent(node); up != kNoNode; up = tree_.parent(up))
        path.insert(0, tree_.text(up) + '\\');
    // Pre-order: each node with the length of its parent's path.
    std::vector<std::pair<NodeId, size_t>> stack{{node, path.size()}};
    while (!stack.empty()) {
        const auto [n, at] = stack.back();
        stack.pop_back();
        path.resize(at);
        path += tree_.text(n);
        if (const int32_t entry = tree_.entryIndex(n); entry >= 0)
            out.emplace_back(view_.names()[static_cast<size_t>(entry)].winner, path);
        for (int32_t r = tree_.childCount(n); r-- > 0;)
            stack.push_back({tree_.child(n, r), path.size() + 1});
        path += '\\';
    }
    return out;
}

std::string Layers::line() const {
    std::string out = std::to_string(stack_.size()) + " layers: ";
    for (uint32_t l = 0; l < stack_.size(); ++l) {
        if (l > 0) out += " + ";
        out += fileName(l);
    }
    return out;
}

std::string Layers::entryLine(NodeId node) const {
    const MergedView::Name* name = nameOf(node);
    if (!name) return {};
    std::string out = " \x97 from " + fileName(name->winner.layer);
    const auto hidden = view_.hidden(*name);
    for (size_t k = 0; k < hidden.size(); ++k) {
        out += k == 0 ? ", hides " : ", ";
        out += fileName(hidden[k].layer);
    }
    return out;
}

}  // namespace vorlr
