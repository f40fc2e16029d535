#include "archive/EntryKind.h"

#include "platform/Text.h"

namespace vorlr {

std::string EntryExtension(std::string_view nodeName) {
    const size_t dot = nodeName.find('.');
    return lowerAZ(dot == std::string_view::npos ? nodeName.substr(0, 10)
                                                 : nodeName.substr(dot + 1, 10));
}

EntryKind EntryKindOf(std::string_view extension, std::string_view nodeName) {
    if (extension == "txt" || extension == "ini") return EntryKind::Text;
    if (extension == "tga") return EntryKind::Targa;
    if (extension == "kmg") return EntryKind::Kmg;
    if (extension == "wav" || extension == "mp3") return EntryKind::Sound;
    if (extension == "dbs" && nodeName == "ITEMS.DBS") return EntryKind::ItemsDatabase;
    return EntryKind::None;
}

std::string_view NodeNameOf(std::string_view storedName) {
    const size_t slash = storedName.rfind('\\');
    return slash == std::string_view::npos ? storedName : storedName.substr(slash + 1);
}

EntryKind EntryKindOfStored(std::string_view storedName) {
    const std::string_view node = NodeNameOf(storedName);
    return EntryKindOf(EntryExtension(node), node);
}

}  // namespace vorlr
