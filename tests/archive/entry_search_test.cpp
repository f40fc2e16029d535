// What the find box matches on a stored name: text inside the name with A to Z folded, or a
// pattern on the whole name exactly as the extract patterns answer.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "archive/EntrySearch.h"
#include "archive/EntryNames.h"

namespace vorlr {
namespace {

TEST(EntryQuery, TextIsFoundInsideTheStoredNameWithAToZFolded) {
    struct Case {
        const char* text;
        const char* name;
        bool match;
    };
    const Case cases[] = {
        {"readme", "DATA\\README.TXT", true},
        {"DATA\\R", "data\\readme.txt", true},
        {"data/re", "DATA\\README.TXT", true},
        {"\\", "A/B", true},
        {"txt", "DATA\\README.TX", false},
        {"E.T", "README.TXT", true},
        {"\xE9", "\xC9.TXT", false},
        {"\xC9", "\xC9.TXT", true},
        {"[a]", "X[A].TXT", true},
        {"[a]", "XA.TXT", false},
        {"aab", "AAAB", true},
        {"abc", "AB", false},
    };
    for (const Case& c : cases) {
        const EntryQuery q(c.text);
        EXPECT_FALSE(q.isPattern()) << c.text;
        EXPECT_EQ(q.matches(c.name), c.match) << c.text << " in " << c.name;
    }
}

// A text with * or ? is the extract pattern on the whole name; the query's shortcut (a literal
// run looked for first) must never change an answer.
TEST(EntryQuery, PatternsAnswerAsExtractPatterns) {
    std::mt19937 rng(15);
    const char alphabet[] = "aAbB\\/*?[]!-.x";
    const char names[] = "aAbB\\/.x[]";
    for (int i = 0; i < 20000; ++i) {
        std::string pattern, name;
        for (int k = static_cast<int>(rng() % 7); k >= 0; --k) pattern += alphabet[rng() % 14];
        if (pattern.find_first_of("*?") == std::string::npos) pattern += '*';
        for (int k = static_cast<int>(rng() % 9); k > 0; --k) name += names[rng() % 10];
        const EntryQuery q(pattern);
        ASSERT_TRUE(q.isPattern());
        ASSERT_EQ(q.matches(name), MatchEntryPattern(pattern, name))
            << "'" << pattern << "' on '" << name << "'";
    }
}

}  // namespace
}  // namespace vorlr
