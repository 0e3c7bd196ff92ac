// The browse tab at scale: a share list of 100,000 files (one folder of 5,000 and 950 folders of
// 100 under 50 artists) turned into items and shown, one filter keystroke (a word no folder
// holds, so every folder's files are walked, and a word some folders hold), the listing of the
// 5,000-file folder, and closing the tab with its garbage collection. Memory: the resident size
// before the share list is built against the peak at the end, per file.
#include "bench/benchutil.h"
#include "ui/search/shareform.h"
#include "ui/search/sharesform.h"

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdio>

namespace {

const int kArtists = 50;
const int kAlbumsPerArtist = 19;
const int kFilesPerAlbum = 100;
const int kBigFolderFiles = 5000;

FileInfoMap MakeShare(int& o_files)
{
    FileInfoMap share;
    o_files = 0;
    auto addFile = [&](std::set<FileInfo>& folder, const std::string& name) {
        FileInfo info(name, 4000000 + o_files);
        info.attributes.Add(0, 128 + (o_files % 4) * 64);
        info.attributes.Add(1, 180 + o_files % 120);
        info.attributes.Add(2, o_files % 2);
        folder.insert(info);
        ++o_files;
    };
    std::set<FileInfo>& big = share["Music\\Singles"];
    for (int k = 0; k < kBigFolderFiles; ++k)
        addFile(big, "Single track " + std::to_string(k) + ".mp3");
    for (int a = 0; a < kArtists; ++a) {
        const std::string artist = "Music\\Artist " + std::to_string(a);
        share[artist];
        for (int b = 0; b < kAlbumsPerArtist; ++b) {
            std::set<FileInfo>& album = share[artist + "\\Album " + std::to_string(b)];
            for (int k = 0; k < kFilesPerAlbum; ++k)
                addFile(album, std::to_string(k) + " song of album " + std::to_string(b) + ".mp3");
        }
    }
    return share;
}

QTreeWidgetItem* FindFolderRow(QTreeWidget* tree, const QString& text)
{
    const QList<QTreeWidgetItem*> rows = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return rows.isEmpty() ? nullptr : rows.first();
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    benchutil::StartEngine(dir);
    auto* page = new SharesForm();
    page->Init();
    auto* tabs = page->findChild<QTabWidget*>("tabControl");

    const long baseKiB = benchutil::CurrentKiB();
    QElapsedTimer t;
    int files = 0;
    FileInfoMap share = MakeShare(files);
    AttributeTranslationTable table;
    printf("share list: %zu folders, %d files\n", share.size(), files);

    ShareForm* form = page->OpenShareBrowse("bench");
    t.start();
    ItemPtr shareItem = page->CreateUserShareData(share, table);
    printf("  CreateUserShareData               %9.1f ms\n", benchutil::Ms(t));
    d.GetType("user")->GetItem(Value("bench")) += shareItem;
    share.clear();
    t.restart();
    form->SetShare(shareItem);
    printf("  SetShare (folder tree)            %9.1f ms\n", benchutil::Ms(t));
    const long heldKiB = benchutil::CurrentKiB();

    auto* tree = form->findChild<QTreeWidget*>("folderTree");
    auto* list = form->findChild<QTreeWidget*>("fileList");
    auto* filter = form->findChild<QLineEdit*>("filterEdit");

    t.restart();
    tree->setCurrentItem(FindFolderRow(tree, "Singles"));
    printf("  listing the 5,000-file folder     %9.1f ms   (%d rows)\n", benchutil::Ms(t), list->topLevelItemCount());
    t.restart();
    tree->setCurrentItem(FindFolderRow(tree, "Album 3"));
    tree->setCurrentItem(FindFolderRow(tree, "Singles"));
    printf("  away and back to it               %9.1f ms\n", benchutil::Ms(t));

    t.restart();
    filter->setText("q");
    printf("  keystroke, word in no name        %9.1f ms   (listed %d)\n", benchutil::Ms(t), list->topLevelItemCount());
    filter->clear();
    t.restart();
    filter->setText("7");
    printf("  keystroke, word in some names     %9.1f ms   (listed %d)\n", benchutil::Ms(t), list->topLevelItemCount());
    filter->clear();

    const long peakKiB = benchutil::PeakKiB();
    t.restart();
    emit tabs->tabCloseRequested(tabs->indexOf(form));
    const double closeMs = benchutil::Ms(t);
    t.restart();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    printf("  closing the tab (with collection) %9.1f ms   (form deleted %9.1f ms)\n", closeMs, benchutil::Ms(t));
    printf("  items left: user_share %zu, user_share_file %zu, user_share_folder_node %zu\n",
           d.GetType("user_share")->ItemCount(), d.GetType("user_share_file")->ItemCount(),
           d.GetType("user_share_folder_node")->ItemCount());
    printf("share items and rows held: %ld KiB, %.0f bytes per file\n", heldKiB - baseKiB,
           (heldKiB - baseKiB) * 1024.0 / files);
    printf("peak memory: %ld KiB over the %ld KiB before the list, %.0f bytes per file\n", peakKiB - baseKiB, baseKiB,
           (peakKiB - baseKiB) * 1024.0 / files);
    return 0;
}
