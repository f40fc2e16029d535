#include "archive/Extract.h"

#include <sys/stat.h>

#include <cstdio>

#include "platform/RuntimeFile.h"

namespace vorlr {

int64_t CopyEntryBytes(ViewerState& state, const EntrySink& sink) {
    int64_t copied = 0;
    // Signed test: a size with the top bit set copies nothing.
    while (state.CurrentEntrySize > 0) {
        int64_t count = state.ArchiveFile.readCounted(state.WorkBuffer.data(),
                                                      static_cast<int64_t>(kWorkBufferSize));
        // Data recorded past the end of the archive: nothing more will ever arrive.
        if (count == 0) break;
        if (state.CurrentEntrySize < count) count = state.CurrentEntrySize;
        state.CurrentEntrySize -= static_cast<int32_t>(count);
        sink(state.WorkBuffer.data(), count);
        copied += count;
    }
    return copied;
}

void ExtractEntry(ViewerState& state, const std::string& fileName) {
    RuntimeFile out;
    out.create(fileName);
    CopyEntryBytes(state, [&out](const uint8_t* data, int64_t count) { out.write(data, count); });
    // Bytes past a short file keep what the previous extraction left there.
    out.seek(0);
    out.readCounted(state.HeadBytes.data(), static_cast<int64_t>(state.HeadBytes.size()));
    out.close();
    state.TempFileName = fileName;
}

void ReplaceFile(const std::string& source, const std::string& target) {
    // rename(2) replaces the target in one step, so the target only goes away when the source
    // takes its place; a missing source leaves everything as it was.
    struct stat st{};
    if (source.empty() || target.empty() || ::lstat(source.c_str(), &st) != 0 ||
        S_ISDIR(st.st_mode))
        return;
    (void)std::rename(source.c_str(), target.c_str());
}

}  // namespace vorlr
