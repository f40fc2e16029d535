#include "cli/EntryLookup.h"

#include <algorithm>
#include <memory>

#include "archive/Container.h"
#include "archive/EntryNames.h"
#include "archive/SafeExtract.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "platform/Errors.h"

namespace qar {

using namespace vorlr;

void OpenWithDirectory(Archive& archive, const std::string& path) {
    archive.open(path);
    ReadDirectory(archive);
}

std::unique_ptr<Archive> LoadValidArchive(const std::string& path) {
    return OpenValidArchive(path);
}

std::unique_ptr<LoadedLayers> LoadLayers(const std::vector<std::string>& paths, bool ignoreCase) {
    auto loaded = std::make_unique<LoadedLayers>();
    std::vector<const Archive*> stack;
    for (const std::string& path : paths) {
        try {
            loaded->archives.push_back(LoadValidArchive(path));
        } catch (const std::exception& e) {
            throw Error(path + ": " + e.what());
        }
        stack.push_back(loaded->archives.back().get());
    }
    loaded->view = MergedView(std::move(stack), ignoreCase, [](const std::string& m) { fail(m); });
    return loaded;
}

std::optional<size_t> ParseEntryIndex(const std::string& name) {
    if (name.size() < 2 || name[0] != '#' || name.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = 1; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(name[i] - '0');
    }
    return static_cast<size_t>(value);
}

namespace {

bool sameName(std::string_view stored, const std::string& name) {
    return stored.size() == name.size() &&
           std::equal(stored.begin(), stored.end(), name.begin(),
                      [](char s, char n) { return s == n || (n == '/' && s == '\\'); });
}

}  // namespace

std::optional<size_t> FindEntry(const Archive& archive, const std::string& name) {
    if (const auto index = ParseEntryIndex(name); index && *index < archive.entryCount()) return index;
    for (size_t i = 0; i < archive.entryCount(); ++i)
        if (sameName(archive.entry(i).name, name)) return i;
    return std::nullopt;
}

std::string ListIndexes(const std::vector<size_t>& indexes) {
    std::string text;
    for (size_t k = 0; k < indexes.size(); ++k) {
        if (k > 0) text += k + 1 == indexes.size() ? " and " : ", ";
        text += "#" + std::to_string(indexes[k]);
    }
    return text;
}

size_t ResolveSingleEntry(const Archive& archive, const std::string& name) {
    if (const auto index = ParseEntryIndex(name); index && *index < archive.entryCount())
        return *index;
    std::vector<size_t> found;
    for (size_t i = 0; i < archive.entryCount(); ++i)
        if (sameName(archive.entry(i).name, name)) found.push_back(i);
    if (found.empty()) throw Error("no entry named " + name);
    if (found.size() > 1) throw Error(name + " names entries " + ListIndexes(found) + ": give #N");
    return found.front();
}

size_t ResolveEntry(const Archive& archive, const std::string& name) {
    const auto index = FindEntry(archive, name);
    if (!index) throw Error("no entry named " + name);
    return *index;
}

PatternFilter::PatternFilter(std::vector<std::string> patterns)
    : patterns_(std::move(patterns)), matched_(patterns_.size(), false) {}

bool PatternFilter::wants(std::string_view name) {
    bool wanted = patterns_.empty();
    for (size_t p = 0; p < patterns_.size(); ++p) {
        // Once a pattern has matched, a name it would match adds nothing unless no other did.
        if (matched_[p] && wanted) continue;
        if (MatchEntryPattern(patterns_[p], name)) matched_[p] = wanted = true;
    }
    return wanted;
}

bool PatternFilter::reportUnmatched() const {
    bool any = false;
    for (size_t p = 0; p < patterns_.size(); ++p) {
        if (matched_[p]) continue;
        fail("no entry matches " + patterns_[p]);
        any = true;
    }
    return any;
}

void AddArchiveAndPatterns(CLI::App& command, ArchiveAndPatterns& values) {
    command.add_option("ARCHIVE", values.archive)->required();
    command.add_option("PATTERN", values.patterns);
    command.add_flag("--json", values.json);
}

namespace {

template <class Copy>
int64_t copyFresh(const Archive& archive, size_t index, Copy&& copy) {
    ArchiveReader reader = archive.entryReader(index);
    int32_t remaining = archive.entry(index).size;
    const auto buffer = std::make_unique<WorkBufferBytes>();
    return copy(EntryCopy{reader, remaining, *buffer});
}

}  // namespace

int64_t CopyEntry(const Archive& archive, size_t index, const EntrySink& sink) {
    return copyFresh(archive, index, [&](const EntryCopy& c) { return CopyEntryBytes(c, sink); });
}

int64_t CopyEntryToFd(const Archive& archive, size_t index, int fd) {
    return copyFresh(archive, index, [&](const EntryCopy& c) { return CopyEntryToFile(c, fd); });
}

}  // namespace qar
