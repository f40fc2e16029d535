#include "app/EntryPages.h"

#include "app/ImagePage.h"
#include "app/MediaPage.h"
#include "app/TextPage.h"

namespace vorlr {

EntryPages::EntryPages(QWidget* tsText, QWidget* tsImage, QWidget* tsMedia,
                       const PageContext& context)
    : text_(std::make_unique<TextPage>(tsText, context)),
      image_(std::make_unique<ImagePage>(tsImage, context)),
      media_(std::make_unique<MediaPage>(tsMedia, context)) {}

// The pages go while the controls they refer to still exist.
EntryPages::~EntryPages() {
    text_.reset();
    media_.reset();
    image_.reset();
}

void EntryPages::show(EntryKind kind) {
    image_->leavePictures();  // any entry selected takes the place of a folder's pictures
    switch (kind) {
    case EntryKind::Text: text_->ShowTextEntry(); break;
    case EntryKind::Targa: image_->ShowTargaEntry(); break;
    case EntryKind::Kmg: image_->ShowKmgEntry(); break;
    case EntryKind::Sound: media_->ShowSoundEntry(); break;
    case EntryKind::ItemsDatabase: ShowItemsDatabase(); break;
    case EntryKind::None: break;
    }
}

void EntryPages::freeImagePage() { image_.reset(); }

void EntryPages::ShowItemsDatabase() {}  // the item database has no viewer

}  // namespace vorlr
