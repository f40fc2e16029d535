// qar grep's parsing: arbitrary patterns through the translation and PCRE2, and arbitrary
// entries through the text preparation and the line scan. The first byte picks the options;
// the pattern runs to the first zero byte, the entry is the rest. Checked: every hit is one
// line of the text with its matches inside it; fixed bytes find what a plain search finds; the
// plain text of Rich Text is the document's.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <QTextDocument>

#include "search/ContentSearch.h"
#include "search/EntryText.h"
#include "viewers/richtext/RtfReader.h"

using namespace vorlr;

namespace {

// Lines of text as ScanLines numbers them: LF ends a line, a last LF ends the last one.
std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    if (text.empty()) return lines;
    if (text.back() == '\n') text.remove_suffix(1);
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return lines;
}

void check(bool ok) {
    if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t zero = rest.find('\0');
    const std::string_view pattern = rest.substr(0, zero);
    const std::string entry(zero == std::string_view::npos ? std::string_view() : rest.substr(zero + 1));
    PatternOptions options;
    options.fixed = flags & 1;
    options.ignoreCase = flags & 2;

    const std::string text = PageText(entry);
    if (LooksLikeRtf(entry) && static_cast<unsigned char>(entry[0]) != 0xFF) {
        QTextDocument doc;
        ReadRtf(entry, doc);
        check(RtfPlainText(entry) == doc.toPlainText());
    }

    try {
        const SearchPattern compiled(pattern, options);
        SearchPattern::Scratch scratch(compiled);
        std::vector<LineHit> hits;
        const std::vector<std::string_view> lines = linesOf(text);
        const int64_t count = ScanLines(text, compiled, scratch, SearchReport::Lines, &hits);
        check(count == static_cast<int64_t>(hits.size()) && hits.size() <= lines.size());
        int64_t previous = 0;
        for (const LineHit& hit : hits) {
            check(hit.number > previous && hit.number <= static_cast<int64_t>(lines.size()));
            previous = hit.number;
            check(hit.text == lines[static_cast<size_t>(hit.number - 1)]);
            check(text.compare(static_cast<size_t>(hit.offset), hit.text.size(), hit.text) == 0);
            check(!hit.matches.empty());
            for (const PatternMatch& m : hit.matches) check(m.start + m.length <= hit.text.size());
        }
        check(ScanLines(text, compiled, scratch, SearchReport::Counts, nullptr) == count);
        check(ScanLines(text, compiled, scratch, SearchReport::Names, nullptr) == (count > 0 ? 1 : 0));
        if (options.fixed && !options.ignoreCase && pattern.find('\n') == std::string_view::npos) {
            int64_t plain = 0;
            for (std::string_view line : lines) plain += line.find(pattern) != std::string_view::npos;
            check(plain == count);
        }
    } catch (const PatternError&) {
        check(!options.fixed);  // fixed bytes always compile
    } catch (const std::exception&) {
        // A match too costly for PCRE2's limits: reported as the entry's error.
    }
    return 0;
}
