#pragma once
// Patch archives stacked over the loaded one, seen as one: the merged view of qar layers and
// qar merge (MergedView) and the folder tree a view shows meanwhile. The loaded archive is the
// base, layer 0; each archive added goes on top and is opened here, read-only. The merged tree
// holds a file node for each name of the view, in merged order, under folders split at '\' and
// '/' as the view splits them (one folder for names equal but for A-Z case when case is
// ignored, spelt as qar mount spells it: as its first entry in stack order has it, hidden
// versions too). Each file node's entry index is its name's index in view().names(). The top
// layer (a patch archive) is the one the view edits: its edit session holds the pending steps,
// the view shows its entries as they stand, and a save writes its file alone. No widgets: the
// window, tests and benchmarks drive it alike.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "archive/Archive.h"
#include "archive/FolderTree.h"
#include "archive/MergedView.h"
#include "edit/EditSession.h"
#include "edit/SearchEntries.h"

namespace vorlr {

class Layers {
public:
    // base: open with its whole directory read, unchanged while the layers live. With a first
    // patch archive, as add(firstPatch) after, but the view is built once.
    explicit Layers(const Archive& base, const std::string& firstPatch = {});
    ~Layers();

    // Opens the archive at path (the validation rule applies) and stacks it on top. Raises, and
    // changes nothing, when it cannot be read.
    void add(const std::string& path);
    // Takes the top layer off, with its pending changes; the base stays.
    void removeTop();
    void setIgnoreCase(bool on);
    bool ignoreCase() const { return ignoreCase_; }

    size_t count() const { return stack_.size(); }  // the base included
    const Archive& archive(uint32_t layer) const { return *stack_[layer]; }
    std::string fileName(uint32_t layer) const;
    const MergedView& view() const { return view_; }
    FolderTree& tree() { return tree_; }
    const FolderTree& tree() const { return tree_; }
    // The names the view leaves out, one line each (as qar layers warns).
    const std::vector<std::string>& warnings() const { return warnings_; }

    // A file node's name in the view, or nullptr for a folder node.
    const MergedView::Name* nameOf(NodeId node) const;
    // Every version of a file node's name: the winner first, then the hidden ones from the top
    // down. Empty for a folder node.
    std::vector<LayerEntry> versions(NodeId node) const;
    // The winners of node and of every file node below it, in pre-order.
    std::vector<LayerEntry> winnersUnder(NodeId node) const;
    // The same winners, each with its path in the merged tree: the folders' texts from the top
    // down and the file node's, joined by '\'. What extracting the merged tree writes when case
    // is ignored, where one folder stands for names spelt in several ways.
    std::vector<std::pair<LayerEntry, std::string>> winnersWithPathsUnder(NodeId node) const;

    // A version's bytes as the view has them: a reader from the first byte, their size, how
    // many of them the file holds (a damaged entry runs past its end), and its offset in its
    // layer's file (0 for a pending entry).
    struct Bytes {
        std::unique_ptr<ByteSource> source;
        int64_t size = 0;
        int64_t held = 0;
        int32_t offset = 0;
    };
    Bytes open(LayerEntry e) const;
    // Readers for these versions as they stand now, safe on any number of threads while the
    // layers stay as they are (a picture grid's workers): edits made later are not seen.
    using VersionBytesFor = std::function<EditSession::EntryBytes(LayerEntry)>;
    VersionBytesFor bytesAsTheyStand(const std::vector<LayerEntry>& versions) const;
    // The winners as Find in contents searches them, in merged order, as they stand now; each
    // id is the name's index in view().names(), a file node's entry index.
    SearchEntries searchEntries() const;

    // Editing: the top layer's session, null with the base alone (the window edits the base
    // itself). Each step below makes the view again when it changed something.
    using Outcome = EditSession::Outcome;
    EditSession* top() { return stack_.size() > 1 ? &top_ : nullptr; }
    const EditSession* top() const { return stack_.size() > 1 ? &top_ : nullptr; }
    bool pending() const { return top() && top_.pending(); }
    // The data Replace... puts under a file node's name: a picture file encoded like the
    // winner, whichever layer it comes from. Null when nothing changes; errors name the file.
    DataRef replacement(NodeId node, const EditSession::ReplacementFrom& from) const;
    // The node's name gets data in the top layer: its winner replaced there, or, when a lower
    // layer's wins, a top-layer entry of that name added over it.
    Outcome put(NodeId node, DataRef data);
    // The top layer's winners at and under node deleted (what they hid shows again). Raises
    // Error when none is the top layer's.
    Outcome remove(NodeId node);
    Outcome undo();
    Outcome redo();
    void discard();
    // The top layer's file was written: it is opened again as it stands on disk.
    void reopenTop();

    // "3 layers: BASE.qar + PATCH1.qar + PATCH2.qar"
    std::string line() const;
    // What a file node's entry is: " — from PATCH2.qar, hides BASE.qar, PATCH1.qar" (empty for
    // a folder node), in 8-bit text with the dash as Windows-1252 writes it.
    std::string entryLine(NodeId node) const;

private:
    void rebuild();
    void openTop();
    Outcome stepped(Outcome outcome);

    std::vector<const Archive*> stack_;
    std::vector<std::unique_ptr<Archive>> opened_;  // stack_[1..]
    bool ignoreCase_ = false;
    MergedView view_;
    FolderTree tree_;
    std::vector<std::string> warnings_;
    FolderTree topTree_;  // the session's own; the view's tree is tree_
    EditSession top_;
};

}  // namespace vorlr
