#pragma once
// The three pages of PageControl1 and the hand-over of a selected entry to the page its kind
// picks.
#include <memory>

#include "app/PageContext.h"
#include "archive/EntryKind.h"

namespace vorlr {

class ImagePage;
class MediaPage;
class TextPage;

class EntryPages {
public:
    EntryPages(QWidget* tsText, QWidget* tsImage, QWidget* tsMedia, const PageContext& context);
    ~EntryPages();
    EntryPages(const EntryPages&) = delete;
    EntryPages& operator=(const EntryPages&) = delete;

    // The archive stands at the selected entry's data: the viewer for kind reads it from there.
    void show(EntryKind kind);
    // Frees the Image page with every image view, the first one included (the window's end).
    void freeImagePage();

    TextPage* text() const { return text_.get(); }
    ImagePage* image() const { return image_.get(); }
    MediaPage* media() const { return media_.get(); }

private:
    void ShowItemsDatabase();

    std::unique_ptr<TextPage> text_;
    std::unique_ptr<ImagePage> image_;
    std::unique_ptr<MediaPage> media_;
};

}  // namespace vorlr
