#pragma once
// The pictures side of `qar update`: .kmg and .tga entries exported again as `extract --convert`
// writes them, to tell unchanged picture files from changed ones.
#include "archive/FolderUpdate.h"

namespace vorlr {

// The conversions for PNG and BMP files on worker threads. samePictures and encode stay empty
// until picture files can be read back and pictures encoded like an entry: a picture file that
// differs from the export is then reported as an error and nothing is written.
UpdatePictures PictureUpdateSupport(int workers);

}  // namespace vorlr
