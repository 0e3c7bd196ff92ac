// The upload browser over a local share of 100,000 files (100 artists, 10 albums each, 100
// tracks each, sparse files on disk): opening the tab (the share as the user may see it, its
// items and the folder tree), listing one album, one filter keystroke (a word in no name, so
// every folder's files are walked), and closing the tab with its garbage collection. Memory: the
// resident size before the tab opens against the peak at the end.
#include "bench/benchutil.h"
#include "ui/search/sharesform.h"
#include "ui/search/uploadform.h"

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdio>

using namespace benchutil;

namespace {

const int kArtists = 100;
const int kAlbums = 10;
const int kTracks = 100;

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString share = dir.filePath("share");
    QElapsedTimer t;
    t.start();
    GenerateShare(share, kArtists, kAlbums, kTracks);
    printf("%d files written: %.0f ms\n", kArtists * kAlbums * kTracks, Ms(t));

    StartEngine(dir);
    auto* page = new SharesForm();
    page->Init();
    auto* tabs = page->findChild<QTabWidget*>("tabControl");
    sharedFoldersManager->AddSharedFolder(share).NewItem("shared_public");
    t.restart();
    sharedFoldersManager->RescanShares();
    // The MP3 analysis reports back through the event loop; let it settle before measuring.
    for (int k = 0; k < 50; ++k) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        QThread::msleep(20);
    }
    printf("rescan and analysis: %.0f ms, %zu shared files\n", Ms(t), d.GetType("shared_file")->ItemCount());

    const long baseKiB = CurrentKiB();
    t.restart();
    UploadForm* form = page->OpenUploadBrowse("bench");
    printf("  open (share, items, folder tree)  %9.1f ms\n", Ms(t));
    auto* tree = form->findChild<QTreeWidget*>("folderTree");
    auto* list = form->findChild<QTreeWidget*>("fileList");
    auto* filter = form->findChild<QLineEdit*>("filterEdit");
    QTreeWidgetItem* album = tree->topLevelItem(0);
    while (album && album->childCount() > 0)
        album = album->child(0);
    t.restart();
    tree->setCurrentItem(album);
    printf("  listing one album                 %9.1f ms   (%d rows)\n", Ms(t), list->topLevelItemCount());
    t.restart();
    filter->setText("zqxj");
    printf("  keystroke, word in no name        %9.1f ms   (listed %d)\n", Ms(t), list->topLevelItemCount());
    t.restart();
    filter->clear();
    printf("  keystroke, filter cleared         %9.1f ms   (listed %d)\n", Ms(t), list->topLevelItemCount());

    const long peakKiB = PeakKiB();
    t.restart();
    emit tabs->tabCloseRequested(tabs->indexOf(form));
    const double closeMs = Ms(t);
    t.restart();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    printf("  closing the tab (with collection) %9.1f ms   (form deleted %9.1f ms)\n", closeMs, Ms(t));
    printf("  items left: user_share %zu, user_share_file %zu, user_share_file_node %zu\n",
           d.GetType("user_share")->ItemCount(), d.GetType("user_share_file")->ItemCount(),
           d.GetType("user_share_file_node")->ItemCount());
    printf("peak memory: %ld KiB over the %ld KiB before the tab, %.0f bytes per file\n", peakKiB - baseKiB, baseKiB,
           (peakKiB - baseKiB) * 1024.0 / (kArtists * kAlbums * kTracks));
    return 0;
}
