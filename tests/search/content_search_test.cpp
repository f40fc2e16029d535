// The content search as the window will use it: entries from readers in memory, results in
// the list's order whatever the workers, matches placed in the page text, stops and failures.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "lib/TextSamples.h"
#include "search/ContentSearch.h"
#include "search/EntryText.h"
#include "support/Bytes.h"

using namespace vorlr;

namespace {

// A list over byte strings; open() fails for the entries named "FAIL...".
struct MemoryList {
    std::vector<std::vector<uint8_t>> data;
    SearchList list;
    void add(const std::string& name, const std::vector<uint8_t>& bytes) {
        list.names.push_back(name);
        data.push_back(bytes);
    }
    const SearchList& get() {
        list.open = [this](size_t i) {
            if (list.names[i].rfind("FAIL", 0) == 0) throw std::runtime_error("cannot read");
            SearchEntryBytes b;
            b.source = std::make_unique<MemoryByteSource>(data[i]);
            b.held = static_cast<int64_t>(data[i].size());
            return b;
        };
        return list;
    }
};

std::vector<EntryHits> searchAll(const SearchList& list, const SearchQuery& q, int workers) {
    std::vector<EntryHits> out;
    SearchRun run;
    run.workers = workers;
    run.onEntry = [&](EntryHits&& h) {
        out.push_back(std::move(h));
        return true;
    };
    SearchContents(list, q, run);
    return out;
}

TEST(ContentSearch, HitsInOrderWithTheirPlaceInThePageText) {
    MemoryList m;
    m.add("A.TXT", samples::bytesOf("one dragon\r\ntwo\r\nred dragon, blue dragon\r\n"));
    m.add("U.INI", samples::utf16LeWithMark("x\r\nthe dragon\r\n"));
    m.add("FAIL.TXT", {});
    m.add("B.DAT", samples::bytesOf("no\ndragon\n"));
    for (int i = 0; i < 200; ++i) m.add("N" + std::to_string(i) + ".TXT", samples::bytesOf(i % 3 ? "hay" : "dragon"));
    SearchQuery q;
    q.pattern = "drag(on)";
    for (int workers : {1, 2, 5}) {
        SCOPED_TRACE(workers);
        const auto hits = searchAll(m.get(), q, workers);
        ASSERT_EQ(hits.size(), m.list.names.size());
        for (size_t i = 0; i < hits.size(); ++i) EXPECT_EQ(hits[i].index, i);
        ASSERT_EQ(hits[0].lines.size(), 2u);
        const LineHit& third = hits[0].lines[1];
        EXPECT_EQ(third.number, 3);
        EXPECT_EQ(third.text, "red dragon, blue dragon");
        ASSERT_EQ(third.matches.size(), 2u);
        EXPECT_EQ(third.matches[0].start, 4u);
        EXPECT_EQ(third.matches[1].start, 17u);
        EXPECT_EQ(third.matches[1].length, 6u);
        // The offset is a position in the text the page shows (line ends as one character).
        const std::string page = PageText(std::string(m.data[0].begin(), m.data[0].end()));
        EXPECT_EQ(page.substr(static_cast<size_t>(third.offset) + third.matches[1].start, 6), "dragon");
        EXPECT_EQ(hits[1].lines.at(0).number, 2);
        EXPECT_EQ(hits[1].lines.at(0).offset, 2);
        EXPECT_EQ(hits[2].error, "cannot read");
        EXPECT_EQ(hits[3].as, SearchedAs::Bytes);
        EXPECT_EQ(hits[3].matchingLines, 1);
        EXPECT_TRUE(hits[3].lines.empty());
        for (int i = 0; i < 200; ++i) EXPECT_EQ(hits[4 + i].matchingLines, i % 3 ? 0 : 1);
    }
    q.textOnly = true;
    q.report = SearchReport::Counts;
    const auto texts = searchAll(m.get(), q, 2);
    ASSERT_EQ(texts.size(), m.list.names.size() - 1);  // B.DAT left out
    EXPECT_EQ(texts[0].matchingLines, 2);
    EXPECT_TRUE(texts[0].lines.empty());
    EXPECT_EQ(texts[3].index, 4u);
}

TEST(ContentSearch, StopsWhenAskedAndReportsProgress) {
    MemoryList m;
    for (int i = 0; i < 500; ++i) m.add("N" + std::to_string(i) + ".TXT", samples::bytesOf("a\nb\n"));
    SearchQuery q;
    q.pattern = "b";
    std::stop_source stop;
    SearchRun run;
    run.workers = 3;
    run.stop = stop.get_token();
    size_t handed = 0, lastDone = 0;
    run.onEntry = [&](EntryHits&&) {
        if (++handed == 10) stop.request_stop();
        return true;
    };
    run.progress = [&](size_t done, size_t total) {
        EXPECT_EQ(total, 500u);
        EXPECT_GT(done, lastDone);
        lastDone = done;
    };
    const SearchSummary s = SearchContents(m.get(), q, run);
    EXPECT_TRUE(s.stopped);
    EXPECT_EQ(handed, 10u);
    // onEntry returning false ends it as well.
    run.stop = {};
    handed = lastDone = 0;
    run.onEntry = [&](EntryHits&&) { return ++handed < 3; };
    EXPECT_TRUE(SearchContents(m.get(), q, run).stopped);
    EXPECT_EQ(handed, 3u);
    // A pattern that does not compile raises before anything is searched.
    q.pattern = "(";
    EXPECT_THROW(SearchContents(m.get(), q, run), PatternError);
}

}  // namespace
