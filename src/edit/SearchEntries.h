#pragma once
// The entries Find in contents searches: the edit session's entries as they stand (pending
// changes included) in the order the saved archive will have them. One home for that list, so
// that another view of the entries can hand its own to the search.
#include <vector>

#include "archive/ArchiveChanges.h"
#include "edit/EditSession.h"
#include "search/ContentSearch.h"

namespace vorlr {

struct SearchEntries {
    SearchList list;
    std::vector<EntryId> ids;  // the entry of each list item
};

// The session's present entries; their readers stay valid for any number of threads whatever
// later steps do (nothing when no archive is open to read from).
SearchEntries EntriesAsTheyStand(const EditSession& session);

// An entry's bytes as the search reads them, with the size its directory records.
SearchEntryBytes SearchBytesOf(EditSession::EntryBytes bytes, int64_t recorded);

}  // namespace vorlr
