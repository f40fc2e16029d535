#pragma once
// The pictures side of `qar update`: picture files exported by `extract --convert` judged against
// their .kmg or .tga entries, and changed ones encoded like the entry.
#include "archive/FolderUpdate.h"

namespace vorlr {

// The files are read (PNG, BMP) and compared with the decoded entry, pixels and transparency
// (no alpha plane: opaque); when they differ, the entry's pictures with the files' in their
// place are encoded like the entry.
UpdatePictures PictureUpdateSupport(int workers);

}  // namespace vorlr
