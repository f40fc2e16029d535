#pragma once
// The main window: its controls, the viewer state and the handlers that tie them together.
#include <QWidget>
#include <functional>
#include <memory>

#include "app/ViewerState.h"
#include "app/WindowWork.h"
#include "archive/FolderTree.h"

class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QProgressDialog;
class QPushButton;
class QTabWidget;
class QTreeView;

namespace vorlr {

class EditSession;

class ArchiveComparison;
class ArchiveLayers;
class ArchiveEditor;
class BytesPage;
class ByteSource;
class ContentFind;
class EntryPages;
class ExternalEditing;
class FindBar;
class FolderPictures;
class UpdateFromFolder;
class FolderTreeModel;
class ImagePage;
class ImageView;
class MediaPage;
class StatusBar;
class TextPage;
class WindowActivation;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Handlers. They may raise; the connections to the controls run them through guarded().
    void FormCreate();
    void FormDestroy();
    void FormActivate();
    void buBrowseClick();
    void buQuitClick();
    void buStopClick();
    void buSaveClick();
    void cbFilesChange();
    // "New archive" (Ctrl+N): the loaded archive left (asked about its changes) for an empty one.
    void newArchive();
    void tvFilesChange(NodeId node);
    void Button1Click();
    // Browse's work once a file name is chosen (Browse and a dropped file). False when the
    // question about pending changes was answered with Cancel (nothing changed then).
    bool OpenArchive(const std::string& chosen);
    // "Extract...": asks for a folder and writes the node's entry and every entry below it
    // there under their stored paths.
    void tvFilesExtract(NodeId node);
    // Shows bytes that are no entry of the loaded archive (another archive's version of one) on
    // the pages as a selection shows an entry: file name, bytes from the first, size, offset.
    void showOtherEntry(const std::string& name, std::unique_ptr<ByteSource> bytes, int64_t size,
                        int32_t offset);

    ViewerState state;

    // Controls.
    QFrame* paMain = nullptr;
    ImageView* imBack = nullptr;
    QComboBox* cbFiles = nullptr;
    QPushButton* buBrowse = nullptr;
    QPushButton* buSave = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* buQuit = nullptr;
    QTreeView* tvFiles = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* tsText = nullptr;
    QWidget* tsImage = nullptr;
    QWidget* tsMedia = nullptr;
    StatusBar* StatusBar1 = nullptr;
    QFrame* paLoad = nullptr;
    QLabel* laLoad = nullptr;
    QProgressBar* pbLoad = nullptr;
    QPushButton* buStop = nullptr;

    TextPage* textPage() const;
    ImagePage* imagePage() const;
    MediaPage* mediaPage() const;
    FolderTree& tree() { return tree_; }
    FolderTreeModel* treeModel() const { return model_.get(); }
    FindBar* findBar() const { return findBar_; }
    ContentFind* contentFind() const { return contentFind_; }
    EditSession* session() const { return session_.get(); }
    ArchiveEditor* editor() const { return editor_; }
    ExternalEditing* external() const { return external_; }
    FolderPictures* folderPictures() const { return folderPictures_; }
    BytesPage* bytesPage() const { return bytesPage_; }
    UpdateFromFolder* updateFromFolder() const { return updateFromFolder_; }
    ArchiveComparison* comparison() const { return comparison_; }
    ArchiveLayers* layers() const { return layers_; }
    WindowWork work() const { return work_; }
    bool isLoading() const { return work_ == WindowWork::Loading; }
    // Decides when FormActivate runs and counts its runs.
    const WindowActivation& activation() const { return *activation_; }

    // Runs after each dispatch of pending events while a directory loads (a place for tests
    // to act in the middle of a load).
    std::function<void()> onLoadDispatch;
    // Runs after each dispatch of pending events while entries are extracted.
    std::function<void(QProgressDialog&)> onExtractDispatch;

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void buildControls();
    void buildMainPanel();
    void buildTree();
    void buildPages();
    void buildLoadPanel();
    void connectHandlers();
    void selectionChanged(NodeId node);
    void captureBackground();
    void buildShortcuts();
    // The views that lend the tree view another model: the comparison and layers.
    void buildTreeViews(const std::function<void(NodeId)>& showEntry);
    void buildContentFind();
    void tvFilesContextMenu(const QPoint& pos);
    NodeId selectedNode() const;
    // The chosen archive joins the drop-down list (kept sorted, as Browse keeps it) and loads.
    void AddToListAndLoad(const std::string& chosen);
    // The status bar and the page for the current entry (its name and size already set).
    void showCurrentEntry(const std::string& offsetText);

    FolderTree tree_;
    std::unique_ptr<EditSession> session_;  // the loaded archive's pending changes
    std::unique_ptr<FolderTreeModel> model_;
    std::unique_ptr<EntryPages> pages_;
    bool selectionAttached_ = true;
    WindowWork work_ = WindowWork::Idle;
    bool closeAfterLoading_ = false;
    bool backgroundErrorShown_ = false;
    bool destroyed_ = false;
    FindBar* findBar_ = nullptr;  // Ctrl+F
    ArchiveEditor* editor_ = nullptr;
    ExternalEditing* external_ = nullptr;
    int loadedItem_ = -1;  // the drop-down item loaded last
    FolderPictures* folderPictures_ = nullptr;  // "Show pictures", Ctrl+G
    BytesPage* bytesPage_ = nullptr;            // "Show bytes", Ctrl+B
    UpdateFromFolder* updateFromFolder_ = nullptr;  // "Update from folder...", Ctrl+U
    WindowActivation* activation_ = nullptr;
    ArchiveComparison* comparison_ = nullptr;  // "Compare with archive...", Ctrl+D
    ContentFind* contentFind_ = nullptr;  // "Find in contents", Ctrl+Shift+F
    ArchiveLayers* layers_ = nullptr;     // "Open patch archive over this...", Ctrl+P
};

}  // namespace vorlr
