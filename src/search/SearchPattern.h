#pragma once
// The pattern of a content search, as `qar grep` and the window's Find in contents take it: an
// extended regular expression (grep -E's syntax) or fixed bytes, matched against 8-bit text
// line by line; ignoring case folds A-Z only. Matching runs on PCRE2 (JIT-compiled where the
// machine allows); the expression is rewritten so that no match can reach past a line's end,
// which lets a whole buffer of lines be searched at once.
#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vorlr {

struct PatternOptions {
    bool fixed = false;       // fixed bytes instead of an extended regular expression
    bool ignoreCase = false;  // A-Z and a-z alike; bytes from 0x80 never fold
};

// A pattern that does not compile; the text names the problem ("unmatched [", "invalid back
// reference", PCRE2's own message with the offset in the pattern as given).
class PatternError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The PCRE2 expression for an extended regular expression: POSIX classes and bracket
// expressions as byte sets without LF, \< \> \w \s as grep knows them, repetition operators
// with nothing to repeat ignored and stacked ones grouped, as GNU grep reads them. Several
// lines are alternatives, as grep's patterns are. Raises PatternError.
std::string TranslateExtendedRegex(std::string_view pattern);

struct PatternMatch {
    size_t start = 0;
    size_t length = 0;
};

class SearchPattern {
public:
    // Per-thread matching state: each thread that calls find needs its own.
    class Scratch {
    public:
        explicit Scratch(const SearchPattern& pattern);
        ~Scratch();
        Scratch(const Scratch&) = delete;
        Scratch& operator=(const Scratch&) = delete;

    private:
        friend class SearchPattern;
        void* matchData_ = nullptr;     // pcre2_match_data
        void* matchContext_ = nullptr;  // pcre2_match_context
        void* jitStack_ = nullptr;      // pcre2_jit_stack
    };

    // Raises PatternError.
    SearchPattern(std::string_view pattern, PatternOptions options);
    ~SearchPattern();
    SearchPattern(const SearchPattern&) = delete;
    SearchPattern& operator=(const SearchPattern&) = delete;

    // The first match in text starting at or after from, within one line (LF ends lines; ^ and
    // $ hold at the lines' ends). A pattern too costly for the text raises Error.
    std::optional<PatternMatch> find(std::string_view text, size_t from, Scratch& scratch) const;

    const std::string& expression() const { return expression_; }  // what PCRE2 compiled

private:
    std::optional<PatternMatch> findFixed(std::string_view text, size_t from) const;

    std::string expression_;
    void* code_ = nullptr;  // pcre2_code
    bool jit_ = false;
    // Fixed bytes of one line, case kept: searched without PCRE2, by their rarest byte.
    bool literal_ = false;
    std::string needle_;
    size_t rareAt_ = 0;
};

}  // namespace vorlr
