#include "search/SearchPattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <bitset>
#include <cstring>
#include <new>
#include <vector>

#include "platform/Errors.h"

namespace vorlr {

namespace {

constexpr size_t kNone = std::string::npos;
constexpr int kMaxRepeat = 32767;  // grep's limit on {m,n}

bool isAlnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

void appendHex(std::string& out, unsigned char c) {
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 15];
}

// A byte as a literal of the expression.
std::string literal(unsigned char c) {
    std::string out;
    if (isAlnum(c)) out += static_cast<char>(c);
    else appendHex(out, c);
    return out;
}

using ByteSet = std::bitset<256>;

void addRange(ByteSet& set, unsigned lo, unsigned hi) {
    for (unsigned b = lo; b <= hi; ++b) set.set(b);
}

// The POSIX classes as the C locale has them.
bool addClass(ByteSet& set, std::string_view name) {
    const auto upper = [&] { addRange(set, 'A', 'Z'); };
    const auto lower = [&] { addRange(set, 'a', 'z'); };
    const auto digit = [&] { addRange(set, '0', '9'); };
    if (name == "alpha") upper(), lower();
    else if (name == "upper") upper();
    else if (name == "lower") lower();
    else if (name == "digit") digit();
    else if (name == "alnum") upper(), lower(), digit();
    else if (name == "xdigit") digit(), addRange(set, 'A', 'F'), addRange(set, 'a', 'f');
    else if (name == "space") addRange(set, '\t', '\r'), set.set(' ');
    else if (name == "blank") set.set('\t'), set.set(' ');
    else if (name == "cntrl") addRange(set, 0, 0x1F), set.set(0x7F);
    else if (name == "print") addRange(set, 0x20, 0x7E);
    else if (name == "graph") addRange(set, 0x21, 0x7E);
    else if (name == "punct")
        addRange(set, 0x21, 0x2F), addRange(set, 0x3A, 0x40), addRange(set, 0x5B, 0x60), addRange(set, 0x7B, 0x7E);
    else return false;
    return true;
}

std::string classOf(const ByteSet& set) {
    std::string out;
    for (unsigned b = 0; b < 256;) {
        if (!set.test(b)) {
            ++b;
            continue;
        }
        unsigned e = b;
        while (e + 1 < 256 && set.test(e + 1)) ++e;
        appendHex(out, static_cast<unsigned char>(b));
        if (e > b) {
            out += '-';
            appendHex(out, static_cast<unsigned char>(e));
        }
        b = e + 1;
    }
    return out;
}

class EreTranslator {
public:
    EreTranslator(std::string_view in, int groupBase) : in_(in), groupBase_(groupBase) {}

    std::string run() {
        while (pos_ < in_.size()) step();
        if (!groups_.empty()) throw PatternError("unmatched ( or \\(");
        return out_;
    }
    int groups() const { return groupCount_; }

private:
    void step() {
        const char c = in_[pos_++];
        switch (c) {
            case '\\': escape(); break;
            case '[': atom(bracket()); break;
            case '(':
                groups_.push_back(out_.size());
                out_ += '(';
                ++groupCount_;
                anchor();
                break;
            case ')':
                if (groups_.empty()) {
                    atom(literal(')'));
                } else {
                    const size_t start = groups_.back();
                    groups_.pop_back();
                    out_ += ')';
                    atomStart_ = start;
                    repeated_ = false;
                }
                break;
            case '|': out_ += '|', anchor(); break;
            case '^': out_ += '^', anchor(); break;
            case '$': out_ += '$', anchor(); break;
            case '.': atom("."); break;
            case '*': case '+': case '?': repeat(std::string(1, c)); break;
            case '{': interval(); break;
            default: atom(literal(static_cast<unsigned char>(c))); break;
        }
    }

    // Nothing to repeat after this.
    void anchor() {
        atomStart_ = kNone;
        repeated_ = false;
    }

    void atom(const std::string& text) {
        atomStart_ = out_.size();
        out_ += text;
        repeated_ = false;
    }

    // A repetition with nothing before it is ignored, as grep does (with a warning); one that
    // follows another repeats the repeated atom: a+? is (a+)?, never a lazy a+.
    void repeat(const std::string& op) {
        if (atomStart_ == kNone) return;
        if (repeated_) {
            out_.insert(atomStart_, "(?:");
            out_ += ')';
        }
        out_ += op;
        repeated_ = true;
    }

    void escape() {
        if (pos_ >= in_.size()) throw PatternError("trailing backslash (\\)");
        const char d = in_[pos_++];
        switch (d) {
            case 'w': atom("\\w"); break;
            case 'W': atom("[^\\w\\n]"); break;
            case 's': atom("[\\t\\x0b\\x0c\\r ]"); break;
            case 'S': atom("\\S"); break;
            case 'b': out_ += "\\b", anchor(); break;
            case 'B': out_ += "\\B", anchor(); break;
            case '<': out_ += "\\b(?=\\w)", anchor(); break;
            case '>': out_ += "\\b(?<=\\w)", anchor(); break;
            case '`': out_ += '^', anchor(); break;
            case '\'': out_ += '$', anchor(); break;
            default:
                if (d >= '1' && d <= '9') {
                    const int n = d - '0';
                    if (n > closedGroups()) throw PatternError("invalid back reference");
                    atom("\\g{" + std::to_string(n + groupBase_) + "}");
                } else {
                    atom(literal(static_cast<unsigned char>(d)));  // \d is d, as grep reads it
                }
        }
    }

    int closedGroups() const { return groupCount_ - static_cast<int>(groups_.size()); }

    // {m}, {m,}, {,n}, {m,n}; anything else is a literal {.
    void interval() {
        size_t p = pos_;
        const auto number = [&](int& value) {
            const size_t start = p;
            long v = 0;
            while (p < in_.size() && in_[p] >= '0' && in_[p] <= '9') {
                if (v <= kMaxRepeat) v = v * 10 + (in_[p] - '0');
                ++p;
            }
            value = static_cast<int>(std::min<long>(v, kMaxRepeat + 1));
            return p > start;
        };
        int lo = 0, hi = -1;
        const bool hasLo = number(lo);
        bool comma = false, hasHi = false;
        if (p < in_.size() && in_[p] == ',') {
            comma = true;
            ++p;
            hasHi = number(hi);
        }
        if (p >= in_.size() || in_[p] != '}' || (!hasLo && !comma)) {
            atom(literal('{'));
            return;
        }
        pos_ = p + 1;
        if (!comma) hi = lo;
        if (lo > kMaxRepeat || hi > kMaxRepeat) throw PatternError("regular expression too big");
        if (hasHi && hi < lo) throw PatternError("invalid content of \\{\\}");
        std::string op = "{" + std::to_string(lo);
        if (comma) op += "," + (hasHi ? std::to_string(hi) : std::string());
        op += "}";
        repeat(op);
    }

    // After the [: a bracket expression as a class of bytes, LF never among them.
    std::string bracket() {
        ByteSet set;
        bool negate = false;
        if (pos_ < in_.size() && in_[pos_] == '^') negate = true, ++pos_;
        bool first = true;
        for (;;) {
            if (pos_ >= in_.size()) throw PatternError("unmatched [, [^, [:, [., or [=");
            const char c = in_[pos_];
            if (c == ']' && !first) {
                ++pos_;
                break;
            }
            first = false;
            int lo = -1;
            if (c == '[' && pos_ + 1 < in_.size() && (in_[pos_ + 1] == ':' || in_[pos_ + 1] == '.' || in_[pos_ + 1] == '=')) {
                const char kind = in_[pos_ + 1];
                const std::string_view name = bracketName(kind);
                if (kind == ':') {
                    if (!addClass(set, name)) throw PatternError("invalid character class");
                    continue;
                }
                if (name.size() != 1) throw PatternError("invalid collation character");
                lo = static_cast<unsigned char>(name[0]);
            } else {
                lo = static_cast<unsigned char>(c);
                ++pos_;
            }
            if (pos_ + 1 < in_.size() && in_[pos_] == '-' && in_[pos_ + 1] != ']') {
                ++pos_;
                int hi;
                if (in_[pos_] == '[' && pos_ + 1 < in_.size() && (in_[pos_ + 1] == '.' || in_[pos_ + 1] == '=')) {
                    const std::string_view name = bracketName(in_[pos_ + 1]);
                    if (name.size() != 1) throw PatternError("invalid collation character");
                    hi = static_cast<unsigned char>(name[0]);
                } else {
                    hi = static_cast<unsigned char>(in_[pos_++]);
                }
                if (hi < lo) throw PatternError("invalid range end");
                addRange(set, static_cast<unsigned>(lo), static_cast<unsigned>(hi));
            } else {
                set.set(static_cast<size_t>(lo));
            }
        }
        set.reset('\n');
        // A negated class stays negated: ignoring case, [^a] must refuse A as well.
        if (negate) return "[^" + classOf(set) + "\\n]";
        if (set.none()) return "(?!)";
        return "[" + classOf(set) + "]";
    }

    // At "[:", "[." or "[=": the name up to the matching ":]", ".]" or "=]".
    std::string_view bracketName(char kind) {
        const size_t start = pos_ + 2;
        for (size_t p = start; p + 1 < in_.size(); ++p)
            if (in_[p] == kind && in_[p + 1] == ']') {
                pos_ = p + 2;
                return in_.substr(start, p - start);
            }
        throw PatternError("unmatched [, [^, [:, [., or [=");
    }

    std::string_view in_;
    size_t pos_ = 0;
    int groupBase_;
    std::string out_;
    std::vector<size_t> groups_;  // where each open group starts in out_
    int groupCount_ = 0;
    size_t atomStart_ = kNone;  // where the last repeatable item starts in out_
    bool repeated_ = false;     // the item already has a repetition
};

std::vector<std::string_view> linesOf(std::string_view pattern) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = pattern.find('\n', start);
        lines.push_back(pattern.substr(start, end == kNone ? kNone : end - start));
        if (end == kNone) break;
        start = end + 1;
    }
    return lines;
}

std::string alternatives(const std::vector<std::string>& parts) {
    if (parts.size() == 1) return parts[0];
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "(?:" : "|(?:") + p + ")";
    return out;
}

// How often a byte turns up in game data and text, roughly: the needle's rarest byte is the
// one looked for first.
int commonness(unsigned char c) {
    if (c == 0 || c == 0xFF || c == ' ' || c == '\n' || c == '\r') return 100;
    static const char frequent[] = "etaoinsrhldcumfpgwybvkxjqz";
    if (const char* f = std::strchr(frequent, c); f && c != 0) return 90 - static_cast<int>(f - frequent) * 3;
    if (c >= 'A' && c <= 'Z') return 40;
    if (c >= '0' && c <= '9') return 45;
    if (c < 0x80) return 35;
    return 20;
}

}  // namespace

std::string TranslateExtendedRegex(std::string_view pattern) {
    std::vector<std::string> parts;
    int groups = 0;
    for (std::string_view line : linesOf(pattern)) {
        EreTranslator t(line, groups);
        parts.push_back(t.run());
        groups += t.groups();
    }
    return alternatives(parts);
}

SearchPattern::SearchPattern(std::string_view pattern, PatternOptions options) {
    const std::vector<std::string_view> lines = linesOf(pattern);
    if (options.fixed) {
        if (lines.size() == 1 && !options.ignoreCase) {
            literal_ = true;
            needle_ = std::string(pattern);
            for (size_t i = 0; i < needle_.size(); ++i)
                if (commonness(static_cast<unsigned char>(needle_[i])) <
                    commonness(static_cast<unsigned char>(needle_[rareAt_])))
                    rareAt_ = i;
        }
        std::vector<std::string> parts;
        for (std::string_view line : lines) {
            std::string part;
            for (const char c : line) part += literal(static_cast<unsigned char>(c));
            parts.push_back(part);
        }
        expression_ = alternatives(parts);
    } else {
        expression_ = TranslateExtendedRegex(pattern);
    }
    pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
    pcre2_set_newline(context, PCRE2_NEWLINE_LF);
    uint32_t flags = PCRE2_MULTILINE | PCRE2_NEVER_UTF | PCRE2_NEVER_UCP | PCRE2_NEVER_BACKSLASH_C;
    if (options.ignoreCase) flags |= PCRE2_CASELESS;
    int error = 0;
    PCRE2_SIZE offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(expression_.data()), expression_.size(),
                                     flags, &error, &offset, context);
    pcre2_compile_context_free(context);
    if (code == nullptr) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(error, message, sizeof message);
        throw PatternError(reinterpret_cast<const char*>(message));
    }
    code_ = code;
    jit_ = pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0;
}

SearchPattern::~SearchPattern() { pcre2_code_free(static_cast<pcre2_code*>(code_)); }

SearchPattern::Scratch::Scratch(const SearchPattern& pattern) {
    matchData_ = pcre2_match_data_create_from_pattern(static_cast<pcre2_code*>(pattern.code_), nullptr);
    auto* context = pcre2_match_context_create(nullptr);
    matchContext_ = context;
    if (pattern.jit_) {
        auto* stack = pcre2_jit_stack_create(32 * 1024, 8 * 1024 * 1024, nullptr);
        jitStack_ = stack;
        pcre2_jit_stack_assign(context, nullptr, stack);
    }
    if (matchData_ == nullptr || context == nullptr) throw std::bad_alloc();
}

SearchPattern::Scratch::~Scratch() {
    pcre2_jit_stack_free(static_cast<pcre2_jit_stack*>(jitStack_));
    pcre2_match_context_free(static_cast<pcre2_match_context*>(matchContext_));
    pcre2_match_data_free(static_cast<pcre2_match_data*>(matchData_));
}

std::optional<PatternMatch> SearchPattern::findFixed(std::string_view text, size_t from) const {
    const size_t n = needle_.size();
    if (n == 0) return from <= text.size() ? std::optional<PatternMatch>(PatternMatch{from, 0}) : std::nullopt;
    const char rare = needle_[rareAt_];
    const char* base = text.data();
    size_t at = from + rareAt_;
    while (at + (n - rareAt_) <= text.size()) {
        const void* hit = std::memchr(base + at, rare, text.size() - at - (n - rareAt_) + 1);
        if (hit == nullptr) return std::nullopt;
        const size_t h = static_cast<size_t>(static_cast<const char*>(hit) - base);
        const size_t start = h - rareAt_;
        if (std::memcmp(base + start, needle_.data(), n) == 0) return PatternMatch{start, n};
        at = h + 1;
    }
    return std::nullopt;
}

std::optional<PatternMatch> SearchPattern::find(std::string_view text, size_t from, Scratch& scratch) const {
    if (from > text.size()) return std::nullopt;
    if (literal_) return findFixed(text, from);
    auto* code = static_cast<pcre2_code*>(code_);
    auto* data = static_cast<pcre2_match_data*>(scratch.matchData_);
    auto* context = static_cast<pcre2_match_context*>(scratch.matchContext_);
    const auto subject = reinterpret_cast<PCRE2_SPTR>(text.data());
    const int rc = jit_ ? pcre2_jit_match(code, subject, text.size(), from, 0, data, context)
                        : pcre2_match(code, subject, text.size(), from, 0, data, context);
    if (rc == PCRE2_ERROR_NOMATCH) return std::nullopt;
    if (rc < 0) {
        PCRE2_UCHAR message[256];
        pcre2_get_error_message(rc, message, sizeof message);
        throw Error(std::string("the pattern could not be matched: ") + reinterpret_cast<const char*>(message));
    }
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    // \K could report a start after the end; keep the span inside the subject.
    const size_t start = std::min<size_t>(ovector[0], text.size());
    const size_t end = std::max<size_t>(start, std::min<size_t>(ovector[1], text.size()));
    return PatternMatch{start, end - start};
}

}  // namespace vorlr
