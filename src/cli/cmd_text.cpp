#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EntryLookup.h"
#include "platform/Errors.h"
#include "platform/RuntimeFile.h"

namespace qar {

namespace {

void writeAll(const uint8_t* data, int64_t count) { vorlr::writeAll(STDOUT_FILENO, data, count); }

// The viewer's conversion, block by block as the entry streams past: a first byte of 0xFF
// marks UTF-16; the 2-byte mark is skipped and the low byte of every whole code unit kept.
class TextFilter {
public:
    void operator()(const uint8_t* data, int64_t count) {
        if (!decided_) {
            decided_ = true;
            unicode_ = count > 0 && data[0] == 0xFF;
        }
        if (!unicode_) return writeAll(data, count);
        out_.clear();
        for (int64_t i = 0; i < count; ++i) {
            if (markLeft_ > 0) {
                --markLeft_;
            } else if (!haveLow_) {
                low_ = data[i];
                haveLow_ = true;
            } else {
                // A low byte is kept once its high byte arrived: an odd last byte never is.
                out_.push_back(low_);
                haveLow_ = false;
            }
        }
        writeAll(out_.data(), static_cast<int64_t>(out_.size()));
    }

private:
    bool decided_ = false;
    bool unicode_ = false;
    int markLeft_ = 2;
    bool haveLow_ = false;
    uint8_t low_ = 0;
    std::vector<uint8_t> out_;
};

struct TextOptions {
    std::string archive;
    std::string name;
};

// qar text ARCHIVE NAME: the bytes of the scratch text file the viewer would load.
int runText(const TextOptions& o) {
    vorlr::Archive archive;
    OpenWithDirectory(archive, o.archive);
    const size_t index = ResolveEntry(archive, o.name);
    const int32_t size = archive.entry(index).size;
    TextFilter filter;
    const int64_t copied = CopyEntry(archive, index, [&filter](const uint8_t* data, int64_t count) { filter(data, count); });
    if (size > 0 && copied < size)
        return fail(o.name + ": data beyond the end of the archive: read " + std::to_string(copied) +
                    " of " + std::to_string(size) + " bytes");
    return 0;
}

}  // namespace

void addTextCommand(CommandLine& line) {
    auto o = std::make_shared<TextOptions>();
    CLI::App* cmd = line.add({"text", "qar text ARCHIVE NAME",
                              "a text entry as the viewer loads it (UTF-16 made 8-bit)", ""},
                             [o] { return runText(*o); });
    cmd->add_option("ARCHIVE", o->archive)->required();
    cmd->add_option("NAME", o->name)->required();
}

}  // namespace qar
