#include "search/ContentSearch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "search/EntryText.h"

namespace vorlr {

namespace {

constexpr int64_t kBlock = int64_t{1} << 20;  // bytes read at a time from an entry that is no text
constexpr size_t kAhead = 64;                 // entries searched ahead of the next one handed back, per worker
constexpr size_t kHeldResults = size_t{64} << 20;  // bytes of results waiting to be handed back

size_t lineStartBefore(std::string_view text, size_t from, size_t at) {
    if (at <= from) return at;
    const void* lf = memrchr(text.data() + from, '\n', at - from);
    return lf ? static_cast<size_t>(static_cast<const char*>(lf) - text.data()) + 1 : from;
}

size_t lineEndFrom(std::string_view text, size_t at) {
    if (at >= text.size()) return text.size();
    const void* lf = std::memchr(text.data() + at, '\n', text.size() - at);
    return lf ? static_cast<size_t>(static_cast<const char*>(lf) - text.data()) : text.size();
}

// A growing buffer that is never filled with zeros first.
struct Buffer {
    std::unique_ptr<char[]> data;
    size_t capacity = 0;
    size_t size = 0;
    char* room(size_t more) {
        if (size + more > capacity) {
            const size_t grown = std::max(size + more, capacity * 2);
            auto bigger = std::make_unique_for_overwrite<char[]>(grown);
            if (size > 0) std::memcpy(bigger.get(), data.get(), size);
            data = std::move(bigger);
            capacity = grown;
        }
        return data.get() + size;
    }
    std::string_view view(size_t n) const { return {data.get(), n}; }
};

std::string shortfall(int64_t got, int64_t recorded) {
    return "data beyond the end of the archive: read " + std::to_string(got) + " of " +
           std::to_string(recorded) + " bytes";
}

// One worker's matching state and buffer.
class EntrySearcher {
public:
    EntrySearcher(const SearchPattern& pattern, const SearchQuery& query, const SearchList& list,
                  std::stop_token stop)
        : pattern_(pattern), scratch_(pattern), query_(query), list_(list), stop_(std::move(stop)) {}

    // The hits of entry index; nullopt when the query leaves it out.
    std::optional<EntryHits> search(size_t index) {
        const bool text = SearchedAsText(list_.names[index]);
        if (query_.textOnly && !text) return std::nullopt;
        EntryHits hits;
        int64_t got = 0;
        try {
            SearchEntryBytes bytes = list_.open(index);
            const int64_t recorded = bytes.recorded;
            if (text) {
                hits = readText(*bytes.source, bytes.held, got);
            } else {
                hits.as = SearchedAs::Bytes;
                hits.matchingLines = scanBytes(*bytes.source, bytes.held, got);
            }
            // The directory gives more than the file holds; or the text's reads ended early.
            if (recorded > bytes.held) hits.error = shortfall(bytes.held, recorded);
            else if (text && got < bytes.held && !stop_.stop_requested()) hits.error = shortfall(got, bytes.held);
        } catch (const std::exception& e) {
            hits.error = e.what();
        }
        hits.index = index;
        return hits;
    }

private:
    // Reads up to count bytes into the buffer after what it holds; stops early when a read
    // gives nothing or the search is stopped.
    int64_t read(ByteSource& source, int64_t count) {
        int64_t got = 0;
        while (got < count && !stop_.stop_requested()) {
            const int64_t want = std::min(count - got, kBlock);
            const int64_t n = source.readCounted(buffer_.room(static_cast<size_t>(want)), want);
            if (n <= 0) break;
            buffer_.size += static_cast<size_t>(n);
            got += n;
        }
        return got;
    }

    EntryHits readText(ByteSource& source, int64_t held, int64_t& got) {
        buffer_.size = 0;
        got = read(source, std::max<int64_t>(held, 0));
        return SearchEntryText(std::string(buffer_.view(buffer_.size)), pattern_, scratch_, query_.report);
    }

    // Block by block, each scan over the complete lines read so far.
    int64_t scanBytes(ByteSource& source, int64_t held, int64_t& got) {
        const SearchReport report = query_.report == SearchReport::Counts ? SearchReport::Counts : SearchReport::Names;
        buffer_.size = 0;
        int64_t count = 0;
        while (got < held && !stop_.stop_requested()) {
            const size_t old = buffer_.size;
            const int64_t n = read(source, std::min(held - got, kBlock));
            if (n <= 0) break;
            got += n;
            const void* lf = memrchr(buffer_.data.get() + old, '\n', static_cast<size_t>(n));
            if (lf == nullptr) continue;
            const size_t cut = static_cast<size_t>(static_cast<const char*>(lf) - buffer_.data.get()) + 1;
            count += ScanLines(buffer_.view(cut), pattern_, scratch_, report, nullptr);
            if (report == SearchReport::Names && count > 0) return count;
            std::memmove(buffer_.data.get(), buffer_.data.get() + cut, buffer_.size - cut);
            buffer_.size -= cut;
        }
        if (!stop_.stop_requested()) count += ScanLines(buffer_.view(buffer_.size), pattern_, scratch_, report, nullptr);
        return count;
    }

    const SearchPattern& pattern_;
    SearchPattern::Scratch scratch_;
    const SearchQuery& query_;
    const SearchList& list_;
    std::stop_token stop_;
    Buffer buffer_;
};

size_t resultBytes(const EntryHits& hits) {
    size_t n = sizeof hits + hits.error.size();
    for (const LineHit& line : hits.lines) n += sizeof line + line.text.size() + line.matches.size() * sizeof(PatternMatch);
    return n;
}

}  // namespace

int64_t ScanLines(std::string_view text, const SearchPattern& pattern, SearchPattern::Scratch& scratch,
                  SearchReport report, std::vector<LineHit>* lines) {
    if (text.empty()) return 0;
    if (text.back() == '\n') text.remove_suffix(1);
    int64_t count = 0;
    int64_t number = 1;     // the line number at numbered
    size_t numbered = 0;
    size_t from = 0;
    while (from <= text.size()) {
        const std::optional<PatternMatch> m = pattern.find(text, from, scratch);
        if (!m) break;
        const size_t start = lineStartBefore(text, from, m->start);
        const size_t end = lineEndFrom(text, m->start);
        ++count;
        if (report == SearchReport::Names) break;
        if (report == SearchReport::Lines && lines) {
            number += std::count(text.begin() + static_cast<ptrdiff_t>(numbered),
                                 text.begin() + static_cast<ptrdiff_t>(start), '\n');
            numbered = start;
            LineHit hit;
            hit.number = number;
            hit.offset = static_cast<int64_t>(start);
            hit.text = std::string(text.substr(start, end - start));
            // Every match of the line, an empty one only when it is the first.
            for (std::optional<PatternMatch> at = m; at && at->start <= end;) {
                if (at->length > 0 || hit.matches.empty())
                    hit.matches.push_back({at->start - start, std::min(at->length, end - at->start)});
                const size_t next = at->start + std::max<size_t>(at->length, 1);
                if (next > end) break;
                at = pattern.find(text, next, scratch);
            }
            lines->push_back(std::move(hit));
        }
        from = end + 1;
    }
    return count;
}

EntryHits SearchEntryText(std::string bytes, const SearchPattern& pattern, SearchPattern::Scratch& scratch,
                          SearchReport report) {
    EntryHits hits;
    hits.as = SearchedAs::Text;
    const std::string text = PageText(std::move(bytes));
    hits.matchingLines = ScanLines(text, pattern, scratch, report, &hits.lines);
    return hits;
}

SearchSummary SearchContents(const SearchList& list, const SearchQuery& query, const SearchRun& run) {
    const SearchPattern pattern(query.pattern, query.options);
    const size_t total = list.names.size();
    const size_t workers = static_cast<size_t>(std::clamp(run.workers, 1, 256));
    const size_t window = std::max<size_t>(kAhead * workers, 16);

    struct Slot {
        bool done = false;
        std::optional<EntryHits> hits;
        size_t bytes = 0;
    };
    std::vector<Slot> slots(std::min(window, std::max<size_t>(total, 1)));
    std::mutex mutex;
    std::condition_variable claimable, finished;
    size_t nextClaim = 0, nextHandOut = 0, held = 0;
    bool ending = false;
    std::stop_source ownStop;  // the caller's stop, or the end of the hand-out
    std::stop_callback forward(run.stop, [&] { ownStop.request_stop(); });

    const auto work = [&] {
        EntrySearcher searcher(pattern, query, list, ownStop.get_token());
        for (;;) {
            size_t index;
            {
                std::unique_lock lock(mutex);
                claimable.wait(lock, [&] {
                    return ending || nextClaim >= total ||
                           (nextClaim < nextHandOut + slots.size() && (held < kHeldResults || nextClaim == nextHandOut));
                });
                if (ending || nextClaim >= total) return;
                index = nextClaim++;
            }
            std::optional<EntryHits> hits = searcher.search(index);
            const size_t bytes = hits ? resultBytes(*hits) : 0;
            std::lock_guard lock(mutex);
            Slot& slot = slots[index % slots.size()];
            slot.hits = std::move(hits);
            slot.bytes = bytes;
            slot.done = true;
            held += bytes;
            finished.notify_all();
        }
    };
    std::vector<std::jthread> threads;
    for (size_t i = 0; i < std::min(workers, std::max<size_t>(total, 1)); ++i) threads.emplace_back(work);

    SearchSummary summary;
    while (nextHandOut < total) {
        std::optional<EntryHits> hits;
        {
            std::unique_lock lock(mutex);
            Slot& slot = slots[nextHandOut % slots.size()];
            while (!slot.done && !run.stop.stop_requested())
                finished.wait_for(lock, std::chrono::milliseconds(20));
            if (run.stop.stop_requested()) {
                summary.stopped = true;
                break;
            }
            hits = std::move(slot.hits);
            held -= slot.bytes;
            slot = Slot{};
            ++nextHandOut;
            claimable.notify_all();
        }
        if (hits) {
            ++summary.searched;
            if (hits->matchingLines > 0) ++summary.matched;
            if (!hits->error.empty()) ++summary.errors;
            if (run.onEntry && !run.onEntry(std::move(*hits))) {
                summary.stopped = nextHandOut < total;
                break;
            }
        }
        if (run.progress) run.progress(nextHandOut, total);
    }
    {
        std::lock_guard lock(mutex);
        ending = true;
    }
    ownStop.request_stop();
    claimable.notify_all();
    threads.clear();  // joins
    return summary;
}

}  // namespace vorlr
