#include "app/ArchiveList.h"

#include <QCollator>
#include <QComboBox>
#include <QString>
#include <QStringDecoder>

#include <algorithm>

#include "platform/Errors.h"
#include "platform/RuntimeFile.h"
#include "platform/Text.h"

namespace vorlr {

std::vector<std::string> ParseArchiveList(std::string_view bytes) {
    const size_t zero = bytes.find('\0');
    if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
    std::vector<std::string> items;
    size_t start = 0;
    size_t i = 0;
    while (i < bytes.size()) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        items.emplace_back(bytes.substr(start, i - start));
        i += (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ? 2 : 1;
        start = i;
    }
    if (start < bytes.size()) items.emplace_back(bytes.substr(start));
    return items;
}

std::string FormatArchiveList(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) {
        out += item;
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> ReadArchiveList(const std::string& path) {
    RuntimeFile file;
    try {
        file.openExisting(path, RuntimeFile::Access::ReadOnly);
    } catch (const FileError& e) {
        throw Error("Cannot open file \"" + fullFileName(path) + "\". " + e.what());
    }
    const int64_t size = file.size();
    std::string bytes;
    // The list is small; a huge file is read in parts up to its first zero byte at most.
    constexpr int64_t kPart = 1 << 16;
    std::string part(static_cast<size_t>(kPart), '\0');
    for (int64_t done = 0; done < size;) {
        const int64_t got = file.readCounted(part.data(), kPart);
        if (got <= 0) break;
        const std::string_view chunk(part.data(), static_cast<size_t>(got));
        const size_t zero = chunk.find('\0');
        bytes.append(chunk.substr(0, zero));
        if (zero != std::string_view::npos) break;
        done += got;
    }
    return ParseArchiveList(bytes);
}

void WriteArchiveList(const std::string& path, const std::vector<std::string>& items) {
    const std::string text = FormatArchiveList(items);
    const std::string temp = path + ".new";
    try {
        {
            RuntimeFile file;
            file.create(temp);
            try {
                file.write(text.data(), static_cast<int64_t>(text.size()));
            } catch (...) {
                file.close();
                try { deleteFile(temp); } catch (const Error&) {}
                throw;
            }
        }
        try {
            renameFile(temp, path);
        } catch (...) {
            try { deleteFile(temp); } catch (const Error&) {}
            throw;
        }
    } catch (const FileError& e) {
        throw Error("Cannot create file \"" + fullFileName(path) + "\". " + e.what());
    }
}

QString ArchiveDisplayName(std::string_view bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (utf8.hasError()) return fromCp1252(bytes);
    return text;
}

int CompareArchiveNames(const std::string& a, const std::string& b) {
    static thread_local QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    // Folding first keeps the comparison case-blind even where the collator is not.
    return collator.compare(ArchiveDisplayName(a).toCaseFolded(),
                            ArchiveDisplayName(b).toCaseFolded());
}

bool AddArchiveName(std::vector<std::string>& sortedList, const std::string& name) {
    const auto at = std::lower_bound(
        sortedList.begin(), sortedList.end(), name,
        [](const std::string& item, const std::string& n) { return CompareArchiveNames(item, n) < 0; });
    if (at != sortedList.end() && CompareArchiveNames(*at, name) == 0) return false;
    sortedList.insert(at, name);
    return true;
}

std::string ArchiveItemName(const QComboBox& box, int index) {
    const QByteArray bytes = box.itemData(index).toByteArray();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

void AddArchiveItem(QComboBox& box, const std::string& name) {
    box.addItem(ArchiveDisplayName(name), QByteArray(name.data(), static_cast<qsizetype>(name.size())));
}

}  // namespace vorlr
