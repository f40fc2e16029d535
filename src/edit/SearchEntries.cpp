#include "edit/SearchEntries.h"

#include "edit/EditSession.h"

namespace vorlr {

SearchEntries EntriesAsTheyStand(const EditSession& session) {
    SearchEntries out;
    if (!session.reading()) return out;
    const EntryId end = session.changes() ? session.changes()->endId()
                                          : static_cast<EntryId>(session.archiveEntries());
    for (EntryId id = 0; id < end; ++id) {
        if (!session.present(id)) continue;
        out.ids.push_back(id);
        out.list.names.push_back(session.entryName(id));
    }
    // The sizes the directory gives, taken now: a size past what the file holds is reported.
    std::vector<int64_t> sizes;
    sizes.reserve(out.ids.size());
    for (const EntryId id : out.ids) sizes.push_back(session.entrySize(id));
    EditSession::EntryBytesFor bytes = session.bytesAsTheyStand(out.ids);
    out.list.open = [bytes = std::move(bytes), ids = out.ids, sizes = std::move(sizes)](size_t index) {
        return SearchBytesOf(bytes(ids.at(index)), sizes[index]);
    };
    return out;
}

SearchEntryBytes SearchBytesOf(EditSession::EntryBytes bytes, int64_t recorded) {
    SearchEntryBytes s;
    s.source = std::move(bytes.source);
    s.held = bytes.held;
    s.recorded = recorded;
    return s;
}

}  // namespace vorlr
