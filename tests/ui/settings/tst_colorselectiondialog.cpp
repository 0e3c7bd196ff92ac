// The colour settings dialog: what its previews show, what the chooser and "Reset to Defaults"
// change (only previews), and what "Save Colors" applies, stores and repaints in the transfer rows.
#include "transfers/transferfixture.h"

#include "app/actionsettoolbar.h"
#include "app/eventtoolbar.h"
#include "app/mainwindow.h"
#include "model/settings.h"
#include "ui/settings/colorselectiondialog.h"
#include "ui/transfers/transfersform.h"

#include <QApplication>
#include <QColorDialog>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

namespace {

// The previews with their setting keys, in the dialog's order of rows.
const QList<QPair<QString, QString>> kPreviews{
    {"windowBackgroundColor", "color_window_background"},
    {"windowTextColor", "color_window_text"},
    {"inputBackgroundColor", "color_input_background"},
    {"inputTextColor", "color_input_text"},
    {"buttonBackgroundColor", "color_button_background"},
    {"buttonTextColor", "color_button_text"},
    {"transferQueuedColor", "color_transfer_queued"},
    {"transferInProgressColor", "color_transfer_in_progress"},
    {"transferCompleteColor", "color_transfer_complete"},
    {"transferFailedColor", "color_transfer_failed"},
    {"transferOtherColor", "color_transfer_other"},
    {"chatUsernameColor", "color_chat_username"},
    {"chatTimestampColor", "color_chat_timestamp"},
    {"chatStatusColor", "color_chat_status"},
};

const QList<QPalette::ColorRole> kRoles{QPalette::Window, QPalette::WindowText, QPalette::Base,
                                        QPalette::Text,   QPalette::Button,     QPalette::ButtonText};

QColor Preview(QWidget* dialog, const QString& name)
{
    return dialog->findChild<QLineEdit*>(name)->palette().color(QPalette::Base);
}

QStringList Previews(QWidget* dialog)
{
    QStringList names;
    for (const auto& p : kPreviews)
        names << Preview(dialog, p.first).name();
    return names;
}

QStringList StoredColours()
{
    QStringList texts;
    for (const auto& p : kPreviews)
        texts << GetSetting(p.second);
    return texts;
}

QStringList ApplicationColours()
{
    QStringList names;
    for (QPalette::ColorRole role : kRoles)
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            names << QApplication::palette().color(group, role).name();
    return names;
}

// Clicks the button and answers the modal colour chooser it opens: with a colour, or cancels.
void ChooseWith(QWidget* dialog, const QString& button, const QColor& answer)
{
    bool answered = false;
    QTimer::singleShot(0, [&] {
        auto* chooser = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
        QVERIFY(chooser);
        answered = true;
        if (answer.isValid()) {
            chooser->setCurrentColor(answer);
            chooser->accept();
        } else {
            chooser->reject();
        }
    });
    QTest::mouseClick(dialog->findChild<QPushButton*>(button), Qt::LeftButton);
    QVERIFY(answered);
}

// The colour of every column of a row, as one text per column.
QStringList RowColours(QTreeWidgetItem* row)
{
    QStringList names;
    for (int column = 0; column < row->columnCount(); ++column)
        names << row->foreground(column).color().name();
    return names;
}

}  // namespace

class TestColorSelectionDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void previewsShowPaletteAndSettings();
    void changeTouchesOnlyItsPreview_data();
    void changeTouchesOnlyItsPreview();
    void resetChangesOnlyPreviews();
    void saveAppliesAndStoresEverything();
    void closingWithoutSaveChangesNothing();
    void twoDialogsKeepTheirOwnPreviews();

private:
    // The file row of a download, found by its file name.
    QTreeWidgetItem* DownloadRow(const QString& file)
    {
        for (QTreeWidgetItemIterator it(mp_transfers->findChild<QTreeWidget*>("downloadsList")); *it; ++it)
            if ((*it)->text(2) == file)
                return *it;
        return nullptr;
    }

    TransferFixture f;
    QPalette m_startPalette;
    TransfersForm* mp_transfers = nullptr;
};

void TestColorSelectionDialog::initTestCase()
{
    QVERIFY(f.SetUp(false));
    m_startPalette = QApplication::palette();
    defaultPalette = m_startPalette;
    // The dialog repaints the transfer rows through the one transfers view, which here holds a
    // queued and a finished download.
    new ActionSetToolBar(nullptr);
    actionBar->Init();
    new EventToolBar(nullptr);
    mp_transfers = new TransfersForm;
    mp_transfers->Init();
    transferQueueManager->AddDownload("ann", "queued.mp3", "music\\Album", 100, 0);
    ItemPtr done = transferQueueManager->AddDownload("ann", "done.mp3", "music\\Album", 100, 0);
    transferQueueManager->DataLoaded();
    transferQueueManager->SetDownloadEntryStatus(done, "complete");
    QVERIFY(DownloadRow("queued.mp3") && DownloadRow("done.mp3"));
}

void TestColorSelectionDialog::cleanupTestCase()
{
    delete mp_transfers;
    delete eventToolBar;
    delete actionBar;
}

void TestColorSelectionDialog::init()
{
    QApplication::setPalette(m_startPalette);
    const QStringList stored{"#010203", "#040506", "#070809", "#0a0b0c", "#0d0e0f", "#101112", "#3366ff",
                             "#0000ff", "#006400", "#ff0a47", "#000000", "#0033ff", "#0066ff", "#339933"};
    for (int k = 0; k < kPreviews.size(); ++k)
        SetSetting(kPreviews[k].second, stored[k]);
}

void TestColorSelectionDialog::previewsShowPaletteAndSettings()
{
    QPalette live = m_startPalette;
    const QStringList liveNames{"#a00001", "#a00002", "#a00003", "#a00004", "#a00005", "#a00006"};
    for (int k = 0; k < kRoles.size(); ++k)
        live.setColor(kRoles[k], QColor(liveNames[k]));
    QApplication::setPalette(live);
    SetSetting("color_transfer_queued", "#ABCDEF");
    SetSetting("color_chat_status", "no colour at all");

    ColorSelectionDialog dialog;
    QCOMPARE(dialog.findChildren<QLineEdit*>().size(), 14);
    // The palette previews follow the application, not the stored texts.
    QCOMPARE(Previews(&dialog).mid(0, 6), liveNames);
    QCOMPARE(Previews(&dialog).mid(6),
             QStringList({"#abcdef", "#0000ff", "#006400", "#ff0a47", "#000000", "#0033ff", "#0066ff", "#000000"}));
    QVERIFY(!Preview(&dialog, "chatStatusColor").isValid());
    for (QLineEdit* preview : dialog.findChildren<QLineEdit*>()) {
        QVERIFY(preview->isReadOnly());
        QCOMPARE(preview->text(), QString());
    }
}

void TestColorSelectionDialog::changeTouchesOnlyItsPreview_data()
{
    QTest::addColumn<int>("row");
    const QStringList buttons{"windowBackgroundButton", "windowTextButton",        "inputBackgroundButton",
                              "inputTextButton",        "buttonBackgroundButton",  "buttonTextButton",
                              "transferQueuedButton",   "transferInProgressButton", "transferCompleteButton",
                              "transferFailedButton",   "transferOtherButton",     "chatUsernameButton",
                              "chatTimestampButton",    "chatStatusButton"};
    for (int k = 0; k < buttons.size(); ++k)
        QTest::newRow(qPrintable(buttons[k])) << k;
}

void TestColorSelectionDialog::changeTouchesOnlyItsPreview()
{
    QFETCH(int, row);
    const QString button = QString(kPreviews[row].first).replace("Color", "Button");
    QPointer<ColorSelectionDialog> dialog = new ColorSelectionDialog;
    dialog->show();
    const QStringList before = Previews(dialog);
    const QStringList stored = StoredColours();
    const QStringList application = ApplicationColours();

    ChooseWith(dialog, button, QColor("#123abc"));
    QStringList expected = before;
    expected[row] = "#123abc";
    QCOMPARE(Previews(dialog), expected);

    // A cancelled chooser leaves the preview as it was.
    ChooseWith(dialog, button, QColor());
    QCOMPARE(Previews(dialog), expected);

    QCOMPARE(StoredColours(), stored);
    QCOMPARE(ApplicationColours(), application);
    delete dialog;
}

void TestColorSelectionDialog::resetChangesOnlyPreviews()
{
    QPalette live = m_startPalette;
    live.setColor(QPalette::Window, QColor("#4b4b4b"));
    QApplication::setPalette(live);
    ColorSelectionDialog dialog;
    dialog.show();
    const QStringList stored = StoredColours();
    const QStringList application = ApplicationColours();

    QTest::mouseClick(dialog.findChild<QPushButton*>("resetToDefaultsButton"), Qt::LeftButton);
    QStringList expected;
    // The palette of this run's start, not fixed colours and not the live palette.
    for (QPalette::ColorRole role : kRoles)
        expected << m_startPalette.color(role).name();
    expected << QStringList{"#3366ff", "#0000ff", "#006400", "#ff0a47", "#000000", "#0033ff", "#0066ff", "#339933"};
    QCOMPARE(Previews(&dialog), expected);
    QCOMPARE(StoredColours(), stored);
    QCOMPARE(ApplicationColours(), application);
}

void TestColorSelectionDialog::saveAppliesAndStoresEverything()
{
    QPointer<ColorSelectionDialog> dialog = new ColorSelectionDialog;
    dialog->show();
    const QStringList chosen{"#102030", "#405060", "#708090", "#a0b0c0", "#d0e0f0", "#0f1e2d",
                             "#3c4b5a", "#697887", "#96a5b4", "#c3d2e1", "#f0ffee", "#111111",
                             "#222222", "#333333"};
    for (int k = 0; k < kPreviews.size(); ++k)
        ChooseWith(dialog, QString(kPreviews[k].first).replace("Color", "Button"), QColor(chosen[k].toUpper()));

    // Until saved, the transfer rows keep the colours they had.
    QVERIFY(!RowColours(DownloadRow("queued.mp3")).contains("#3c4b5a"));

    QTest::mouseClick(dialog->findChild<QPushButton*>("saveColorsButton"), Qt::LeftButton);
    QCOMPARE(RowColours(DownloadRow("queued.mp3")), QVector<QString>(9, "#3c4b5a").toList());
    QCOMPARE(RowColours(DownloadRow("done.mp3")), QVector<QString>(9, "#96a5b4").toList());
    for (int k = 0; k < kRoles.size(); ++k)
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            QCOMPARE(QApplication::palette().color(group, kRoles[k]).name(), chosen[k]);
    // Lower-case "#rrggbb", the form the next start parses.
    QCOMPARE(StoredColours(), chosen);
    QVERIFY(!dialog->isVisible());
    QTRY_VERIFY(dialog.isNull());
}

void TestColorSelectionDialog::closingWithoutSaveChangesNothing()
{
    const QStringList stored = StoredColours();
    const QStringList application = ApplicationColours();
    const QStringList queued = RowColours(DownloadRow("queued.mp3"));
    const QStringList done = RowColours(DownloadRow("done.mp3"));
    for (bool escape : {false, true}) {
        QPointer<ColorSelectionDialog> dialog = new ColorSelectionDialog;
        dialog->show();
        QTest::mouseClick(dialog->findChild<QPushButton*>("resetToDefaultsButton"), Qt::LeftButton);
        ChooseWith(dialog, "chatStatusButton", QColor("#fedcba"));
        ChooseWith(dialog, "transferQueuedButton", QColor("#abcabc"));
        ChooseWith(dialog, "transferCompleteButton", QColor("#cbacba"));
        if (escape)
            QTest::keyClick(dialog, Qt::Key_Escape);
        else
            dialog->close();
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(StoredColours(), stored);
        QCOMPARE(ApplicationColours(), application);
        QCOMPARE(RowColours(DownloadRow("queued.mp3")), queued);
        QCOMPARE(RowColours(DownloadRow("done.mp3")), done);
    }
}

void TestColorSelectionDialog::twoDialogsKeepTheirOwnPreviews()
{
    QPointer<ColorSelectionDialog> first = new ColorSelectionDialog;
    QPointer<ColorSelectionDialog> second = new ColorSelectionDialog;
    first->show();
    second->show();
    const QStringList secondBefore = Previews(second);

    ChooseWith(first, "windowBackgroundButton", QColor("#778899"));
    ChooseWith(first, "transferOtherButton", QColor("#010101"));
    QTest::mouseClick(first->findChild<QPushButton*>("saveColorsButton"), Qt::LeftButton);
    QCOMPARE(GetSetting("color_window_background"), QString("#778899"));
    QCOMPARE(Previews(second), secondBefore);

    // A dialog opened now shows the saved palette.
    ColorSelectionDialog third;
    QCOMPARE(Preview(&third, "windowBackgroundColor").name(), QString("#778899"));

    // The other dialog's save writes all fourteen from its own previews.
    QTest::mouseClick(second->findChild<QPushButton*>("saveColorsButton"), Qt::LeftButton);
    QCOMPARE(StoredColours(), secondBefore);
    QTRY_VERIFY(first.isNull() && second.isNull());
}

QTEST_MAIN(TestColorSelectionDialog)
#include "tst_colorselectiondialog.moc"
