#include "platform/desktop/DesktopEntry.h"

#include <QStringDecoder>
#include <QUrl>
#include <cstring>

#include "platform/Errors.h"

namespace vorlr {

namespace {

[[noreturn]] void fail(const QString& text) { throw Error(text.toStdString()); }

bool isControl(QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; }

bool validGroupName(QStringView name) {
    if (name.isEmpty()) return false;
    for (QChar c : name)
        if (isControl(c) || c == u'[' || c == u']') return false;
    return true;
}

// "Name", "Name[de_DE@euro]", "image/svg+xml": no spaces or control characters, brackets only
// as one locale suffix at the end.
bool validKey(QStringView key) {
    if (key.isEmpty()) return false;
    const qsizetype open = key.indexOf(u'[');
    if (open == 0) return false;
    if (open > 0 && (!key.endsWith(u']') || key.indexOf(u'[', open + 1) >= 0 ||
                     key.indexOf(u']') != key.size() - 1))
        return false;
    if (open < 0 && key.contains(u']')) return false;
    for (QChar c : key)
        if (isControl(c) || c == u' ' || c == u'\t') return false;
    return true;
}

QHash<QString, QStringList> listsOf(const KeyFile::Group* group) {
    QHash<QString, QStringList> lists;
    if (!group) return lists;
    for (const auto& [key, value] : group->entries)
        if (!lists.contains(key)) lists.insert(key, splitList(value));
    return lists;
}

bool isTrue(const QString* raw) { return raw && (*raw == u"true" || *raw == u"1"); }

QString stringValue(const KeyFile::Group& g, QStringView key) {
    const QString* raw = g.value(key);
    return raw ? unescapeValue(*raw) : QString();
}

}  // namespace

const QString* KeyFile::Group::value(QStringView key) const {
    for (const auto& [k, v] : entries)
        if (k == key) return &v;
    return nullptr;
}

const KeyFile::Group* KeyFile::group(QStringView name) const {
    for (const Group& g : groups)
        if (g.name == name) return &g;
    return nullptr;
}

std::optional<KeyFile> parseKeyFile(QByteArrayView bytes) {
    if (!bytes.isEmpty() && std::memchr(bytes.data(), 0, static_cast<size_t>(bytes.size())))
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError()) return std::nullopt;

    KeyFile file;
    QHash<QString, size_t> groupIndex;
    KeyFile::Group* current = nullptr;
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();  // also the '\r' of CR LF lines
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']')) return std::nullopt;
            const QStringView name = line.sliced(1, line.size() - 2);
            if (!validGroupName(name)) return std::nullopt;
            const QString key = name.toString();
            auto found = groupIndex.constFind(key);
            if (found == groupIndex.constEnd()) {
                found = groupIndex.insert(key, file.groups.size());
                file.groups.push_back({key, {}});
            }
            current = &file.groups[*found];
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0 || !current) return std::nullopt;
        const QStringView key = line.first(eq).trimmed();
        if (!validKey(key)) return std::nullopt;
        current->entries.emplace_back(key.toString(), line.sliced(eq + 1).trimmed().toString());
    }
    return file;
}

QString unescapeValue(QStringView raw) {
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c != u'\\' || i + 1 == raw.size()) {
            out += c;
            continue;
        }
        switch (raw[i + 1].unicode()) {
            case 's':
                out += u' ';
                break;
            case 'n':
                out += u'\n';
                break;
            case 't':
                out += u'\t';
                break;
            case 'r':
                out += u'\r';
                break;
            case '\\':
                out += u'\\';
                break;
            default:
                out += c;
                continue;  // kept with the character after it
        }
        ++i;
    }
    return out;
}

QStringList splitList(QStringView raw) {
    QStringList items;
    QString item;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c == u';') {
            if (!item.isEmpty()) items << item;
            item.clear();
        } else if (c == u'\\' && i + 1 < raw.size() && raw[i + 1] == u';') {
            item += u';';
            ++i;
        } else if (c == u'\\' && i + 1 < raw.size()) {
            item += unescapeValue(raw.sliced(i, 2));
            ++i;
        } else {
            item += c;
        }
    }
    if (!item.isEmpty()) items << item;
    return items;
}

std::optional<DesktopEntry> parseDesktopEntry(QByteArrayView bytes) {
    const auto file = parseKeyFile(bytes);
    const KeyFile::Group* g = file ? file->group(u"Desktop Entry") : nullptr;
    if (!g) return std::nullopt;
    DesktopEntry e;
    e.type = stringValue(*g, u"Type");
    e.name = stringValue(*g, u"Name");
    e.icon = stringValue(*g, u"Icon");
    e.exec = stringValue(*g, u"Exec");
    e.tryExec = stringValue(*g, u"TryExec");
    e.path = stringValue(*g, u"Path");
    if (const QString* types = g->value(u"MimeType")) e.mimeTypes = splitList(*types);
    e.hidden = isTrue(g->value(u"Hidden"));
    e.noDisplay = isTrue(g->value(u"NoDisplay"));
    e.terminal = isTrue(g->value(u"Terminal"));
    return e;
}

MimeAppsList parseMimeAppsList(QByteArrayView bytes) {
    MimeAppsList list;
    if (const auto file = parseKeyFile(bytes)) {
        list.defaults = listsOf(file->group(u"Default Applications"));
        list.added = listsOf(file->group(u"Added Associations"));
        list.removed = listsOf(file->group(u"Removed Associations"));
    }
    return list;
}

QHash<QString, QStringList> parseMimeInfoCache(QByteArrayView bytes) {
    const auto file = parseKeyFile(bytes);
    return file ? listsOf(file->group(u"MIME Cache")) : QHash<QString, QStringList>{};
}

QStringList splitCommandLine(QStringView line) {
    static constexpr QStringView kShellCharacters = u"'\\`$<>|&;";
    QStringList args;
    QString word;
    bool inWord = false;
    const auto isSpace = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\n'; };
    qsizetype i = 0;
    while (i < line.size()) {
        const QChar c = line[i];
        if (isSpace(c)) {
            if (inWord) args << std::exchange(word, QString());
            inWord = false;
            ++i;
        } else if (c == u'"') {
            if (inWord) fail(QStringLiteral("The command has a quote inside a word"));
            bool closed = false;
            for (++i; i < line.size(); ++i) {
                const QChar q = line[i];
                if (q == u'\\' && i + 1 < line.size() &&
                    QStringView(u"\"`$\\").contains(line[i + 1])) {
                    word += line[++i];
                } else if (q == u'"') {
                    closed = true;
                    ++i;
                    break;
                } else {
                    word += q;
                }
            }
            if (!closed) fail(QStringLiteral("The command has a quote that is not closed"));
            if (i < line.size() && !isSpace(line[i]))
                fail(QStringLiteral("The command has a quote inside a word"));
            args << std::exchange(word, QString());
        } else if (kShellCharacters.contains(c)) {
            fail(QStringLiteral("The command has a %1 outside quotes").arg(c));
        } else {
            word += c;
            inWord = true;
            ++i;
        }
    }
    if (inWord) args << word;
    if (args.isEmpty() || args.front().isEmpty()) fail(QStringLiteral("The command is empty"));
    return args;
}

QStringList expandFieldCodes(const QStringList& arguments, const FieldValues& v) {
    const QString url = QString::fromUtf8(QUrl::fromLocalFile(v.file).toEncoded());
    QStringList out;
    bool namesFile = false;
    for (qsizetype n = 0; n < arguments.size(); ++n) {
        const QString& arg = arguments[n];
        if (n > 0 && (arg == u"%F" || arg == u"%U")) {
            out << (arg == u"%F" ? v.file : url);
            namesFile = true;
            continue;
        }
        if (n > 0 && arg == u"%i") {
            if (!v.icon.isEmpty()) out << QStringLiteral("--icon") << v.icon;
            continue;
        }
        QString expanded;
        bool onlyCodes = !arg.isEmpty();
        for (qsizetype i = 0; i < arg.size(); ++i) {
            if (arg[i] != u'%') {
                expanded += arg[i];
                onlyCodes = false;
                continue;
            }
            if (i + 1 == arg.size()) fail(QStringLiteral("The command ends an argument with %"));
            const QChar code = arg[++i];
            if (code == u'%') {
                expanded += u'%';
                onlyCodes = false;
                continue;
            }
            if (n == 0) fail(QStringLiteral("The command has a field code in the program's name"));
            switch (code.unicode()) {
                case 'f':
                    expanded += v.file;
                    namesFile = true;
                    break;
                case 'u':
                    expanded += url;
                    namesFile = true;
                    break;
                case 'c':
                    expanded += v.name;
                    break;
                case 'k':
                    expanded += v.desktopFile;
                    break;
                case 'd':
                case 'D':
                case 'n':
                case 'N':
                case 'v':
                case 'm':
                    break;
                case 'F':
                case 'U':
                case 'i':
                    fail(QStringLiteral("The command has %%1 inside an argument").arg(code));
                default:
                    fail(QStringLiteral("The command has an unknown field code %%1").arg(code));
            }
        }
        // An argument of codes only that stand for nothing (%c without a name, %d) goes.
        if (!(onlyCodes && expanded.isEmpty())) out << expanded;
    }
    if (!namesFile) out << v.file;
    return out;
}

}  // namespace vorlr
