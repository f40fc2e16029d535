#include "cli/EntryLookup.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/Errors.h"

namespace qar {

using namespace vorlr;

ArchiveSession OpenArchiveSession(const std::string& path) {
    ArchiveSession session;
    ViewerState& state = *session.state;
    state.CurrentArchiveName = path;
    state.ArchiveFile.openExisting(path, RuntimeFile::Access::ReadOnly);
    session.figures = ReadArchiveFigures(state.ArchiveFile);
    session.records = ReadDirectory(state.ArchiveFile, session.figures);
    return session;
}

static std::optional<size_t> parseIndex(const std::string& name) {
    if (name.size() < 2 || name[0] != '#' || name.size() > 20) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = 1; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(name[i] - '0');
    }
    return static_cast<size_t>(value);
}

std::optional<size_t> FindEntry(const std::vector<DirectoryRecord>& records, const std::string& name) {
    if (const auto index = parseIndex(name); index && *index < records.size()) return index;
    const auto same = [&name](const std::string& stored) {
        return stored.size() == name.size() &&
               std::equal(stored.begin(), stored.end(), name.begin(), [](char s, char n) {
                   return s == n || (n == '/' && s == '\\');
               });
    };
    for (size_t i = 0; i < records.size(); ++i)
        if (same(records[i].name)) return i;
    return std::nullopt;
}

size_t ResolveEntry(const ArchiveSession& session, const std::string& name) {
    const auto index = FindEntry(session.records, name);
    if (!index) throw Error("no entry named " + name);
    return *index;
}

void SelectEntry(ArchiveSession& session, size_t index) {
    const DirectoryRecord& record = session.records.at(index);
    ViewerState& state = *session.state;
    state.CurrentEntryName = record.name;
    state.CurrentEntryOffset = record.offset;
    state.CurrentEntrySize = record.size;
    state.ArchiveFile.seek(record.offset);
}

int64_t CopyEntry(ArchiveSession& session, size_t index, const EntrySink& sink) {
    SelectEntry(session, index);
    return CopyEntryBytes(*session.state, sink);
}

int64_t CopyEntryToFd(ArchiveSession& session, size_t index, int fd) {
    SelectEntry(session, index);
    return CopyEntryToFile(*session.state, fd);
}

void ExtractEntryTo(ArchiveSession& session, size_t index, const std::string& fileName) {
    SelectEntry(session, index);
    ExtractEntry(*session.state, fileName);
}

}  // namespace qar
