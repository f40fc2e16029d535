#include <memory>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EntryLookup.h"
#include "search/ContentSearch.h"
#include "viewers/PictureBudget.h"

namespace qar {

namespace {

struct GrepOptions {
    std::string pattern;
    std::vector<std::string> archives;
    bool ignoreCase = false;  // -i
    bool fixed = false;       // -F
    bool names = false;       // -l
    bool counts = false;      // -c
    bool numbers = false;     // -n
    bool textOnly = false;
    std::string workers;  // empty: one per core
};

// The archive's entries as the search reads them: each from its data offset, as far as the
// file holds it.
vorlr::SearchList entriesOf(const vorlr::Archive& archive) {
    vorlr::SearchList list;
    list.names.reserve(archive.entryCount());
    for (size_t i = 0; i < archive.entryCount(); ++i) list.names.emplace_back(archive.entry(i).name);
    list.open = [&archive](size_t index) {
        const vorlr::ArchiveEntry entry = archive.entry(index);
        vorlr::SearchEntryBytes bytes;
        auto reader = std::make_unique<vorlr::ArchiveReader>(archive);
        reader->seek(entry.offset);  // a negative offset: "I/O error 131"
        bytes.source = std::move(reader);
        bytes.held = vorlr::EntryBytesHeld(archive, entry);
        bytes.recorded = entry.size;
        return bytes;
    };
    return list;
}

// qar grep PATTERN ARCHIVE...: grep's output and exit status over the entries' contents.
int runGrep(const GrepOptions& o) {
    vorlr::SearchQuery query;
    query.pattern = o.pattern;
    query.options.fixed = o.fixed;
    query.options.ignoreCase = o.ignoreCase;
    query.textOnly = o.textOnly;
    query.report = o.names ? vorlr::SearchReport::Names
                   : o.counts ? vorlr::SearchReport::Counts
                              : vorlr::SearchReport::Lines;
    try {
        vorlr::SearchPattern check(query.pattern, query.options);
    } catch (const vorlr::PatternError& e) {
        return fail("bad pattern '" + o.pattern + "': " + e.what(), 2);
    }
    vorlr::SearchRun run;
    run.workers = o.workers.empty() ? DefaultWorkers() : std::stoi(o.workers);
    bool matched = false, trouble = false, outputFailed = false;
    std::string out;
    for (const std::string& path : o.archives) {
        const std::string prefix = o.archives.size() > 1 ? path + ":" : "";
        vorlr::Archive archive;
        try {
            OpenWithDirectory(archive, path);
        } catch (const std::exception& e) {
            writeOutput(out, true);
            fail(path + ": " + e.what());
            trouble = true;
            continue;
        }
        const vorlr::SearchList list = entriesOf(archive);
        run.onEntry = [&](vorlr::EntryHits&& hits) {
            const std::string& name = list.names[hits.index];
            if (hits.matchingLines > 0) matched = true;
            if (o.names) {
                if (hits.matchingLines > 0) out += prefix + name + '\n';
            } else if (o.counts) {
                out += prefix + name + ':' + std::to_string(hits.matchingLines) + '\n';
            } else if (hits.as == vorlr::SearchedAs::Bytes) {
                if (hits.matchingLines > 0) out += prefix + name + ": binary entry matches\n";
            } else {
                for (const vorlr::LineHit& line : hits.lines) {
                    out += prefix + name + ':';
                    if (o.numbers) out += std::to_string(line.number) + ':';
                    out += line.text;
                    out += '\n';
                }
            }
            if (!hits.error.empty()) {
                // Messages keep their place among the lines.
                if (!writeOutput(out, true)) outputFailed = true;
                fail(prefix + name + ": " + hits.error);
                trouble = true;
            }
            if (!writeOutput(out, false)) outputFailed = true;
            return !outputFailed;
        };
        vorlr::SearchContents(list, query, run);
        if (outputFailed) break;
    }
    if (!writeOutput(out, true) || outputFailed) return fail("cannot write the output", 2);
    return trouble ? 2 : matched ? 0 : 1;
}

}  // namespace

void addGrepCommand(CommandLine& line) {
    auto o = std::make_shared<GrepOptions>();
    CLI::App* cmd = line.add(
        {"grep", "qar grep PATTERN ARCHIVE... [-i] [-F] [-l] [-c] [-n] [--text-only] [-j N]",
         "search entries' contents (texts as the viewer shows them)",
         "PATTERN is an extended regular expression as grep -E reads it, or fixed bytes with -F;\n"
         "-i makes A-Z and a-z alike. Texts (.txt, .ini) are searched as the Text page shows\n"
         "them (UTF-16 made 8-bit, Rich Text as its plain text) and their matching lines printed\n"
         "as ARCHIVE:NAME:TEXT (-n: ARCHIVE:NAME:LINE:TEXT); any other entry is searched as bytes\n"
         "(ARCHIVE:NAME: binary entry matches) unless --text-only. -l prints ARCHIVE:NAME once\n"
         "per matching entry, -c ARCHIVE:NAME:COUNT for every entry searched. With one ARCHIVE\n"
         "the ARCHIVE: prefix is left out. Entries are searched on N workers (-j, default one per\n"
         "core), the output in directory order. A damaged entry or archive is reported and the\n"
         "search goes on. Exit 0 when something matched, 1 when nothing did, 2 on trouble."},
        [o] { return runGrep(*o); });
    cmd->add_option("PATTERN", o->pattern)->required();
    cmd->add_option("ARCHIVE", o->archives)->required();
    cmd->add_flag("-i", o->ignoreCase);
    cmd->add_flag("-F", o->fixed);
    cmd->add_flag("-l", o->names);
    cmd->add_flag("-c", o->counts);
    cmd->add_flag("-n", o->numbers);
    cmd->add_flag("--text-only", o->textOnly);
    cmd->add_option("-j", o->workers)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)->check(WorkersError);
}

}  // namespace qar
