// Desktop entries, mimeapps.list and mimeinfo.cache from arbitrary bytes, and the entry's Exec and
// every line as a command line: a result or a refusal, never a crash. A split line quoted again
// splits the same; an expanded command always names the file.
#include <cstddef>
#include <cstdint>

#include "platform/desktop/DesktopEntry.h"
#include "platform/Errors.h"

namespace {

const QString kFile = QStringLiteral("/work/F x.png");
const QString kUrl = QStringLiteral("file:///work/F%20x.png");

QString quoted(const QString& arg) {
    QString q = QStringLiteral("\"");
    for (QChar c : arg) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') q += u'\\';
        q += c;
    }
    return q + u'"';
}

void commandLine(const QString& line) {
    QStringList args;
    try {
        args = vorlr::splitCommandLine(line);
    } catch (const vorlr::Error&) {
        return;
    }
    if (args.isEmpty() || args.front().isEmpty()) __builtin_trap();
    QStringList again;
    for (const QString& a : args) again << quoted(a);
    if (vorlr::splitCommandLine(again.join(u' ')) != args) __builtin_trap();
    try {
        const QStringList out =
            vorlr::expandFieldCodes(args, {kFile, "Name", "icon", "/d.desktop"});
        bool named = false;
        for (const QString& a : out) named = named || a.contains(kFile) || a.contains(kUrl);
        if (!named || out.front() != QString(args.front()).replace(QStringLiteral("%%"), "%"))
            __builtin_trap();
    } catch (const vorlr::Error&) {
    }
}

void noEmptyIds(const QHash<QString, QStringList>& lists) {
    for (const QStringList& ids : lists)
        for (const QString& id : ids)
            if (id.isEmpty()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto file = vorlr::parseKeyFile(bytes);
    const auto entry = vorlr::parseDesktopEntry(bytes);
    if (entry && !file) __builtin_trap();
    const vorlr::MimeAppsList list = vorlr::parseMimeAppsList(bytes);
    noEmptyIds(list.defaults);
    noEmptyIds(list.added);
    noEmptyIds(list.removed);
    noEmptyIds(vorlr::parseMimeInfoCache(bytes));
    if (entry) commandLine(entry->exec);
    const QString text = QString::fromUtf8(bytes);
    int lines = 0;
    for (QStringView line : QStringView(text).split(u'\n'))
        if (++lines <= 64) commandLine(line.toString());
    return 0;
}
