// "Rescan Shares" on the options page, and the report window each rescan opens.

#include "mainwindowfixture.h"

#include "shares/sharedfoldersmanager.h"
#include "ui/search/sharedfilesrescanneddialog.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>

namespace {

bool WriteFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

}  // namespace

class TestRescanReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void eachRescanReports();
    void okClosesOneReport();
    void cleanupTestCase();

private:
    // Chooses "Rescan Shares" on the file-sharing page; the report windows that opened.
    QList<SharedFilesRescannedDialog*> Rescan()
    {
        const QList<SharedFilesRescannedDialog*> before = Visible<SharedFilesRescannedDialog>();
        if (!MainWindowFixture::Trigger(Child<QWidget>("fileSharingOptionsTab"), "Rescan Shares"))
            return {};
        QList<SharedFilesRescannedDialog*> opened;
        for (SharedFilesRescannedDialog* dialog : Visible<SharedFilesRescannedDialog>())
            if (!before.contains(dialog))
                opened << dialog;
        return opened;
    }

    MainWindowFixture m_fixture;
    QTemporaryDir m_shared;
};

void TestRescanReport::initTestCase()
{
    QVERIFY(m_fixture.Open());
    QVERIFY(m_shared.isValid());
    // The rescan of start-up reported before anyone listened.
    QVERIFY(Visible<SharedFilesRescannedDialog>().isEmpty());
}

void TestRescanReport::eachRescanReports()
{
    // Shared while empty; the rescan finds 1,200 files, counted without separators.
    sharedFoldersManager->AddSharedFolder(m_shared.path());
    for (int k = 0; k < 1200; ++k)
        QVERIFY(WriteFile(m_shared.filePath(QString("f%1.txt").arg(k))));

    struct Step
    {
        std::function<bool()> change;
        QString text;
    };
    const Step steps[] = {
        {[] { return true; }, "1200 files added.\n0 files removed."},
        {[this] {
             return QFile::remove(m_shared.filePath("f0.txt")) && QFile::remove(m_shared.filePath("f1.txt")) &&
                    WriteFile(m_shared.filePath("new.txt"));
         },
         "1 files added.\n2 files removed."},
        {[] { return true; }, "0 files added.\n0 files removed."},
    };
    for (const Step& step : steps) {
        QVERIFY(step.change());
        const QList<SharedFilesRescannedDialog*> opened = Rescan();
        QCOMPARE(opened.size(), 1);
        SharedFilesRescannedDialog* dialog = opened.first();
        QCOMPARE(dialog->windowTitle(), QString("Shared Files Rescanned"));
        QCOMPARE(dialog->parentWidget(), mainWindow);
        QVERIFY(!dialog->isModal());
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(Child<QPlainTextEdit>("plainTextEdit", dialog)->toPlainText(), step.text);
    }
    // Earlier reports stay open beside the later ones.
    QCOMPARE(Visible<SharedFilesRescannedDialog>().size(), 3);
}

void TestRescanReport::okClosesOneReport()
{
    QList<SharedFilesRescannedDialog*> open = Visible<SharedFilesRescannedDialog>();
    QCOMPARE(open.size(), 3);
    QPointer<SharedFilesRescannedDialog> first = open.first();
    auto* buttons = Child<QDialogButtonBox>("buttonBox", first);
    QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    QTRY_VERIFY(!first);
    QCOMPARE(Visible<SharedFilesRescannedDialog>().size(), 2);
}

void TestRescanReport::cleanupTestCase()
{
    delete mainWindow;
}

QTEST_MAIN(TestRescanReport)
#include "tst_rescanreport.moc"
