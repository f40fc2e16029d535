#include "viewers/PictureUpdate.h"

#include "viewers/PictureExport.h"

namespace vorlr {

UpdatePictures PictureUpdateSupport(int workers) {
    UpdatePictures pictures;
    pictures.png = PictureConversion(PictureFormat::Png, workers);
    pictures.bmp = PictureConversion(PictureFormat::Bmp, workers);
    // Picture seam: samePictures (decode the entry, read the files, compare pixels and
    // transparency) and encode (encode the files like the entry) are wired here.
    return pictures;
}

}  // namespace vorlr
