#pragma once
// The remembered archives: the list file "VORLR.LST" and the sorted, case-insensitive scratch
// list that Browse rebuilds the drop-down list from. Names are 8-bit strings (full paths as the
// open dialog returned them).
#include <string>
#include <string_view>
#include <vector>

class QComboBox;
class QString;

namespace vorlr {

// Lines split at CR LF, lone LF and lone CR; a final break adds no empty item; empty lines in
// between are empty items; the text ends at the first zero byte.
std::vector<std::string> ParseArchiveList(std::string_view bytes);
// Each item followed by CR LF; an empty list gives nothing.
std::string FormatArchiveList(const std::vector<std::string>& items);

// Reads an existing list file; a file that cannot be opened raises
// Error("Cannot open file \"<full name>\". <reason>").
std::vector<std::string> ReadArchiveList(const std::string& path);
// Writes through a temporary file in the same folder renamed over the old one, so a failed
// write never leaves a half-written list. Failure raises
// Error("Cannot create file \"<full name>\". <reason>").
void WriteArchiveList(const std::string& path, const std::vector<std::string>& items);

// An 8-bit path as shown: UTF-8 when it is valid UTF-8 (file names from the dialog), otherwise
// Windows-1252.
QString ArchiveDisplayName(std::string_view bytes);
// The drop-down list's items carry the 8-bit names; the text shown is ArchiveDisplayName's.
std::string ArchiveItemName(const QComboBox& box, int index);
void AddArchiveItem(QComboBox& box, const std::string& name);

// The locale's case-insensitive order of archive names: <0, 0 or >0.
int CompareArchiveNames(const std::string& a, const std::string& b);
// Inserts name at its sorted place; a name comparing equal to one present is dropped (false).
bool AddArchiveName(std::vector<std::string>& sortedList, const std::string& name);

}  // namespace vorlr
