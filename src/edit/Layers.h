#pragma once
// Patch archives stacked over the loaded one, seen as one: the merged view of qar layers and
// qar merge (MergedView) and the folder tree a view shows meanwhile. The loaded archive is the
// base, layer 0; each archive added goes on top and is opened here, read-only. The merged tree
// holds a file node for each name of the view, in merged order, under folders split at '\' and
// '/' as the view splits them (one folder for names equal but for A-Z case when case is
// ignored, spelt as it first appears). Each file node's entry index is its name's index in
// view().names(). No widgets: the window, tests and benchmarks drive it alike.
#include <memory>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/FolderTree.h"
#include "archive/MergedView.h"

namespace vorlr {

class Layers {
public:
    // base: open with its whole directory read, unchanged while the layers live.
    explicit Layers(const Archive& base);
    ~Layers();

    // Opens the archive at path (the validation rule applies) and stacks it on top. Raises, and
    // changes nothing, when it cannot be read.
    void add(const std::string& path);
    // Takes the top layer off; the base stays.
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

    // "3 layers: BASE.qar + PATCH1.qar + PATCH2.qar"
    std::string line() const;
    // What a file node's entry is: " — from PATCH2.qar, hides BASE.qar, PATCH1.qar" (empty for
    // a folder node), in 8-bit text with the dash as Windows-1252 writes it.
    std::string entryLine(NodeId node) const;

private:
    void rebuild();

    std::vector<const Archive*> stack_;
    std::vector<std::unique_ptr<Archive>> opened_;  // stack_[1..]
    bool ignoreCase_ = false;
    MergedView view_;
    FolderTree tree_;
    std::vector<std::string> warnings_;
};

}  // namespace vorlr
