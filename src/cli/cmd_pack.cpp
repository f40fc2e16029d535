#include <cstdio>
#include <memory>
#include <string>

#include "archive/Pack.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/EditOutput.h"

namespace qar {
namespace {

struct PackOptions {
    std::string dir;
    std::string out;
};

// qar pack DIR OUT: a new archive from the regular files under DIR.
int runPack(const PackOptions& o) {
    const auto items = vorlr::CollectPackItems(o.dir, o.out);
    WriteProgress progress(o.out);
    vorlr::WritePack(items, o.out, [&](int64_t written, int64_t total) { progress.update(written, total); });
    return 0;
}

}  // namespace

void addPackCommand(CommandLine& line) {
    auto o = std::make_shared<PackOptions>();
    CLI::App* cmd = line.add(
        {"pack", "qar pack DIR OUT", "a new archive from the regular files under DIR",
         "Files in byte order of their relative paths, stored with \\ separators. Refused before\n"
         "anything is written: a name of 200 bytes or more or holding a backslash, and an\n"
         "archive past 2147483647 bytes (its positions are signed 32-bit numbers)."},
        [o] { return runPack(*o); });
    cmd->add_option("DIR", o->dir)->required();
    cmd->add_option("OUT", o->out)->required();
}

}  // namespace qar
