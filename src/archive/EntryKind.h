#pragma once
// Which viewer an entry goes to, decided from its name as the tree shows it. One rule for the
// selection, Save, `qar convert` and batch conversion.
#include <string>
#include <string_view>

namespace vorlr {

enum class EntryKind { None, Text, Targa, Kmg, Sound, ItemsDatabase };

// The lower-cased (A to Z only) text after the first "." of the name, at most 10 characters
// of it; the whole name's first 10 characters when it has no ".".
std::string EntryExtension(std::string_view nodeName);
// The viewer for an extension: txt/ini text, tga, kmg, wav/mp3 sound, and "dbs" only for
// the entry named exactly ITEMS.DBS.
EntryKind EntryKindOf(std::string_view extension, std::string_view nodeName);
// The tree's name for a stored name: the part after its last '\'.
std::string_view NodeNameOf(std::string_view storedName);
// The viewer for the entry of a stored name: the rule above on its node name.
EntryKind EntryKindOfStored(std::string_view storedName);

}  // namespace vorlr
