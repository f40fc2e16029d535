#include "archive/EntrySearch.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "archive/EntryNames.h"

namespace vorlr {

namespace {

struct FoldTable {
    unsigned char map[256];
    constexpr FoldTable() : map() {
        for (int c = 0; c < 256; ++c)
            map[c] = static_cast<unsigned char>(FoldNameChar(static_cast<char>(c)));
    }
};
constexpr FoldTable kFold;

inline char fold(char c) { return static_cast<char>(kFold.map[static_cast<unsigned char>(c)]); }

// Whether name holds `folded` (already folded) once folded.
bool containsFolded(std::string_view name, std::string_view folded) {
    const size_t m = folded.size();
    if (m == 0) return true;
    if (m > name.size()) return false;
    for (size_t i = 0, last = name.size() - m; i <= last; ++i) {
        if (fold(name[i]) != folded[0]) continue;
        size_t k = 1;
        while (k < m && fold(name[i + k]) == folded[k]) ++k;
        if (k == m) return true;
    }
    return false;
}

std::string folded(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = fold(c);
    return out;
}

}  // namespace

EntryQuery::EntryQuery(std::string text) : text_(std::move(text)) {
    pattern_ = text_.find_first_of("*?") != std::string::npos;
    if (!pattern_) {
        folded_ = folded(text_);
        return;
    }
    // Every run of plain characters between the wildcards must stand in the name as it is: the
    // longest one sorts out most names before the pattern is tried. (Not worked out for
    // brackets, whose reading depends on what follows.)
    if (text_.find('[') != std::string::npos) return;
    for (size_t i = 0; i < text_.size();) {
        const size_t end = std::min(text_.find_first_of("*?", i), text_.size());
        if (end - i > folded_.size()) folded_ = folded(std::string_view(text_).substr(i, end - i));
        i = end + 1;
    }
}

bool EntryQuery::matches(std::string_view name) const {
    if (!containsFolded(name, folded_)) return false;
    return !pattern_ || MatchEntryPattern(text_, name);
}

EntrySearch::EntrySearch(const FolderTree& tree, const Archive& archive)
    : tree_(tree), archive_(archive) {}

EntrySearch::EntrySearch(const FolderTree& tree, const Archive& base, const MergedView& view)
    : tree_(tree), archive_(base), merged_(&view) {}

void EntrySearch::useNames(const ArchiveChanges* changes) {
    changes_ = changes;
    orderOf_ = 0;
}

size_t EntrySearch::entryCount() const {
    if (merged_) return merged_->names().size();
    return changes_ ? static_cast<size_t>(changes_->endId()) : archive_.entryCount();
}

std::string_view EntrySearch::nameOf(size_t entry) const {
    if (merged_) return merged_->name(merged_->names()[entry].winner);
    return changes_ ? changes_->name(static_cast<EntryId>(entry)) : archive_.entry(entry).name;
}

void EntrySearch::clear() {
    bits_ = {};
    query_ = EntryQuery();
    scanned_ = rankOfEntry_.size();
    count_ = 0;
}

void EntrySearch::takeTreeOrder() {
    const size_t entries = entryCount();
    rankOfEntry_.assign(entries, -1);
    nodeAt_.clear();
    entryAt_.clear();
    nodeAt_.reserve(entries);
    entryAt_.reserve(entries);
    tree_.forEachInPreOrder([&](NodeId n, int32_t e, bool hasChildren) {
        if (e < 0 || static_cast<size_t>(e) >= entries || hasChildren) return;
        rankOfEntry_[static_cast<size_t>(e)] = static_cast<int32_t>(nodeAt_.size());
        nodeAt_.push_back(n);
        entryAt_.push_back(e);
    });
    orderOf_ = archive_.generation();
    orderNodes_ = tree_.size();
}

void EntrySearch::prepare() {
    if (orderOf_ != archive_.generation() || orderNodes_ != tree_.size() ||
        rankOfEntry_.size() != entryCount())
        takeTreeOrder();
}

void EntrySearch::start(std::string text) {
    prepare();
    query_ = EntryQuery(std::move(text));
    bits_.assign((nodeAt_.size() + 63) / 64, 0);
    count_ = 0;
    scanned_ = query_.empty() ? rankOfEntry_.size() : 0;
}

bool EntrySearch::scan(size_t entries) {
    const size_t end =
        rankOfEntry_.size() - scanned_ < entries ? rankOfEntry_.size() : scanned_ + entries;
    for (size_t e = scanned_; e < end; ++e) {
        const int32_t rank = rankOfEntry_[e];
        if (rank < 0 || !query_.matches(nameOf(e))) continue;
        bits_[static_cast<size_t>(rank) >> 6] |= uint64_t{1} << (rank & 63);
        ++count_;
    }
    scanned_ = end;
    return scanned();
}

TreePlace EntrySearch::placeOf(NodeId node) const {
    if (node < 0 || node >= tree_.size()) return {0, false};
    // Every folder node has a file node without children below it, so this walk goes down
    // first children only.
    for (NodeId n = node; n != kNoNode; n = tree_.next(n)) {
        const int32_t e = tree_.entryIndex(n);
        if (e >= 0 && static_cast<size_t>(e) < rankOfEntry_.size() && rankOfEntry_[e] >= 0)
            return {rankOfEntry_[e], n == node};
    }
    return {candidates(), false};
}

bool EntrySearch::matchesRank(int32_t rank) const {
    return query_.matches(nameOf(static_cast<size_t>(entryAt_[rank])));
}

bool EntrySearch::isMatch(int32_t rank) const {
    return rank >= 0 && rank < candidates() &&
           (bits_[static_cast<size_t>(rank) >> 6] >> (rank & 63) & 1) != 0;
}

int32_t EntrySearch::nextSet(int32_t from, int32_t to) const {
    if (from >= to) return -1;
    size_t w = static_cast<size_t>(from) >> 6;
    uint64_t word = bits_[w] & (~uint64_t{0} << (from & 63));
    const size_t lastWord = static_cast<size_t>(to - 1) >> 6;
    while (word == 0) {
        if (++w > lastWord) return -1;
        word = bits_[w];
    }
    const auto bit = static_cast<int32_t>(w * 64 + static_cast<size_t>(std::countr_zero(word)));
    return bit < to ? bit : -1;
}

int32_t EntrySearch::prevSet(int32_t from, int32_t to) const {
    if (from >= to) return -1;
    size_t w = static_cast<size_t>(to - 1) >> 6;
    const int top = (to - 1) & 63;
    uint64_t word = bits_[w] & (top == 63 ? ~uint64_t{0} : (uint64_t{1} << (top + 1)) - 1);
    const size_t firstWord = static_cast<size_t>(from) >> 6;
    while (word == 0) {
        if (w-- == firstWord) return -1;
        word = bits_[w];
    }
    const auto bit =
        static_cast<int32_t>(w * 64 + 63 - static_cast<size_t>(std::countl_zero(word)));
    return bit >= from ? bit : -1;
}

int32_t EntrySearch::find(int32_t start, bool forward, int32_t budget) const {
    const int32_t total = candidates();
    if (query_.empty() || total == 0) return kNone;
    start = ((start % total) + total) % total;
    if (scanned()) {
        if (count_ == 0) return kNone;
        const int32_t r = forward ? nextSet(start, total) : prevSet(0, start + 1);
        if (r >= 0) return r;
        return forward ? nextSet(0, start) : prevSet(start + 1, total);
    }
    const int32_t steps = std::min(budget, total);
    for (int32_t k = 0, r = start; k < steps; ++k) {
        if (matchesRank(r)) return r;
        r = forward ? (r + 1 == total ? 0 : r + 1) : (r == 0 ? total - 1 : r - 1);
    }
    return steps == total ? kNone : kUnknown;
}

int32_t EntrySearch::ordinal(int32_t rank) const {
    int32_t before = 0;
    const size_t w = static_cast<size_t>(rank) >> 6;
    for (size_t i = 0; i < w; ++i) before += std::popcount(bits_[i]);
    if ((rank & 63) != 0) before += std::popcount(bits_[w] & ((uint64_t{1} << (rank & 63)) - 1));
    return before + 1;
}

}  // namespace vorlr
