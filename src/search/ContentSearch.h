#pragma once
// A search through the contents of a list of entries (qar grep, the window's Find in contents):
// each entry read through a reader of its bytes as they stand, texts searched as the Text page
// shows them and the rest as bytes, on several workers, the results handed back in the list's
// order on the calling thread as they come. No widgets and no Qt Gui.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ByteSource.h"
#include "search/SearchPattern.h"

namespace vorlr {

enum class SearchedAs { Text, Bytes };

// What is gathered for each entry.
enum class SearchReport {
    Lines,   // texts: every matching line with its matches; bytes: whether one matches
    Counts,  // the number of matching lines (texts and bytes alike)
    Names,   // whether the entry matches: the search of an entry stops at its first match
};

struct SearchQuery {
    std::string pattern;
    PatternOptions options;
    bool textOnly = false;  // entries that are no texts are left out
    SearchReport report = SearchReport::Lines;
};

// One matching line of a text.
struct LineHit {
    int64_t number = 0;  // 1-based
    int64_t offset = 0;  // its first byte in the entry's page text: the Text page's position
    std::string text;    // the line's bytes, without its line break
    std::vector<PatternMatch> matches;  // within text, in order, at least one
};

struct EntryHits {
    size_t index = 0;  // in the list searched
    SearchedAs as = SearchedAs::Text;
    int64_t matchingLines = 0;  // Names and bytes under Lines count no further than 1
    std::vector<LineHit> lines;  // texts under Lines
    // Not empty when the entry could not be read in full: searched as far as it was read.
    std::string error;
};

// An entry's bytes as they stand: a reader at the first byte and how many bytes it holds;
// recorded, when larger, is the size the directory gives (the data runs past the file's end).
struct SearchEntryBytes {
    std::unique_ptr<ByteSource> source;
    int64_t held = 0;
    int64_t recorded = -1;
};

// The list searched: stored names in order and the entries' bytes. open runs on the workers,
// several entries at once; a failure raises (std::exception) and is that entry's error.
struct SearchList {
    std::vector<std::string> names;
    std::function<SearchEntryBytes(size_t index)> open;
};

struct SearchRun {
    int workers = 1;
    std::stop_token stop;  // a stop ends the search soon, between blocks of an entry
    // Each entry searched (those textOnly leaves out are not), in the list's order, on the
    // calling thread; returning false ends the search.
    std::function<bool(EntryHits&& hits)> onEntry;
    // After each entry in order (left out ones included), on the calling thread.
    std::function<void(size_t done, size_t total)> progress;
};

struct SearchSummary {
    size_t searched = 0;
    size_t matched = 0;  // entries with a match
    size_t errors = 0;   // entries with an error
    bool stopped = false;  // by the stop token or onEntry
};

// Compiles query.pattern (PatternError) and searches the list; returns once every entry was
// handed back or the search was stopped.
SearchSummary SearchContents(const SearchList& list, const SearchQuery& query, const SearchRun& run);

// The scan behind it, for one buffer of lines (LF ends lines; a last LF ends the last line,
// an empty buffer has none): the number of matching lines, first line numbered firstLine.
// Lines gathers them into lines (when given); Names stops at the first.
int64_t ScanLines(std::string_view text, const SearchPattern& pattern, SearchPattern::Scratch& scratch,
                  SearchReport report, std::vector<LineHit>* lines);

// The page text of a text entry's bytes and its hits, as SearchContents finds them.
EntryHits SearchEntryText(std::string bytes, const SearchPattern& pattern, SearchPattern::Scratch& scratch,
                          SearchReport report);

}  // namespace vorlr
