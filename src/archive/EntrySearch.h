#pragma once
// Finding entries by their stored name in the folder tree's own order (pre-order), for the
// window's find box. The directory is scanned in directory order, which reads the names
// back to back, a slice at a time so that the caller can run the slices from its event loop;
// the matches are kept as one bit per tree position, so that the next match, the previous one
// and "k of n" are word scans once the scan is done.
//
// The tree order is taken by the first query after a load (a load opens the archive anew and
// replaces the tree and the entries; nothing else changes them). Edited labels are not looked at.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/Archive.h"
#include "archive/ArchiveChanges.h"
#include "archive/FolderTree.h"
#include "archive/MergedView.h"

namespace vorlr {

// What the find box matches on a stored name: a text holding '*' or '?' is a wildcard pattern
// on the whole name, as the patterns of `qar extract` (MatchEntryPattern); any other text matches
// the names that contain it. Letters A to Z match either case, '/' and '\' are the same
// separator; other bytes compare exactly.
class EntryQuery {
public:
    explicit EntryQuery(std::string text = {});
    bool empty() const { return text_.empty(); }
    bool isPattern() const { return pattern_; }
    const std::string& text() const { return text_; }
    bool matches(std::string_view name) const;

private:
    std::string text_;
    std::string folded_;  // "contains": the text folded; a pattern: its longest literal run
    bool pattern_ = false;
};

// Where a node stands among the nodes that can be found: the rank of the first of them at or
// after it in pre-order (the count of them when there is none), and whether it is that node.
struct TreePlace {
    int32_t rank = 0;
    bool exact = false;
};

class EntrySearch {
public:
    static constexpr int32_t kNone = -1;     // nothing matches
    static constexpr int32_t kUnknown = -2;  // not found within the budget; the scan must finish

    EntrySearch(const FolderTree& tree, const Archive& archive);

    // Names as pending edits have them (entries added, renamed, deleted), or the archive's own
    // when null. The tree order is taken again.
    void useNames(const ArchiveChanges* changes);
    // A merged tree's names instead: its file nodes' entry indices are indices of view's names,
    // each found by its winner's name (tree and view outlive the search).
    EntrySearch(const FolderTree& tree, const Archive& base, const MergedView& view);
    // The tree was built again (pending edits): its order is taken again by the next query.
    void treeChanged() { orderOf_ = 0; }

    // Forgets the query and its matches.
    void clear();
    // Takes the tree order now when there is none of this load (start() would).
    void prepare();
    // A new query; takes the tree order first when there is none of this load. The scan starts
    // over.
    void start(std::string text);
    const EntryQuery& query() const { return query_; }

    // Scans up to `entries` more directory entries; true once all are scanned.
    bool scan(size_t entries);
    void scanAll() { scan(SIZE_MAX); }
    bool scanned() const { return scanned_ >= rankOfEntry_.size(); }
    int32_t count() const { return count_; }  // matches scanned so far

    // The nodes that can be found: file nodes without children (a file node with children is a
    // folder to the window), in pre-order.
    int32_t candidates() const { return static_cast<int32_t>(nodeAt_.size()); }
    NodeId nodeAt(int32_t rank) const { return nodeAt_[static_cast<size_t>(rank)]; }
    TreePlace placeOf(NodeId node) const;

    // The first match at or after rank `start` (forward) or at or before it (backward), wrapping
    // round the tree. Once scanned this is exact; before, it looks at no more than `budget`
    // nodes and may answer kUnknown.
    int32_t find(int32_t start, bool forward, int32_t budget) const;
    bool isMatch(int32_t rank) const;     // once scanned
    int32_t ordinal(int32_t rank) const;  // 1 for the first match in tree order; once scanned

private:
    void takeTreeOrder();
    size_t entryCount() const;
    std::string_view nameOf(size_t entry) const;
    bool matchesRank(int32_t rank) const;
    int32_t nextSet(int32_t from, int32_t to) const;  // first set bit in [from, to), or -1
    int32_t prevSet(int32_t from, int32_t to) const;  // last set bit in [from, to), or -1

    const FolderTree& tree_;
    const Archive& archive_;
    const ArchiveChanges* changes_ = nullptr;
    const MergedView* merged_ = nullptr;
    uint64_t orderOf_ = 0;              // the archive's generation the order was taken at; 0: none
    int32_t orderNodes_ = 0;            // and the tree's size then
    std::vector<int32_t> rankOfEntry_;  // per entry: its rank, or -1
    std::vector<NodeId> nodeAt_;        // per rank
    std::vector<int32_t> entryAt_;      // per rank
    EntryQuery query_;
    std::vector<uint64_t> bits_;  // per rank: a match
    size_t scanned_ = 0;
    int32_t count_ = 0;
};

}  // namespace vorlr
