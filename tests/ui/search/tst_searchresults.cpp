// The pieces of a result tab that need no window around them: the filter language, the order of
// result rows, and the text of the filter help.

#include "model/data.h"
#include "ui/search/filterhelpdialog.h"
#include "ui/search/filterparser.h"
#include "ui/search/searchresultlistitem.h"

#include <QPushButton>
#include <QTextBlock>
#include <QTextEdit>
#include <QTreeWidget>
#include <QtTest>

#include <limits>

namespace {

const qint64 kMax = std::numeric_limits<qint64>::max();
const qint64 kMin = std::numeric_limits<qint64>::min();

struct Parsed
{
    QStringList include, exclude;
    qint32 minBitrate = 0;
    bool vbr = false, cbr = false;
    qint64 minFileSize = 0;
    qint32 minFiles = 0;
    bool attributes = false;
};

// A file item with the neighbours the filter reads; a negative number leaves one out.
ItemPtr File(qint64 size, int bitrate = -1, const char* mode = nullptr)
{
    ItemPtr file = d.GetType("filter_file")->NewItem();
    if (size >= 0)
        file += d.GetType("file_size")->GetItem(Value(static_cast<long long>(size)));
    if (bitrate >= 0)
        file += d.GetType("bitrate")->GetItem(Value(bitrate));
    if (mode)
        file += d.GetType("bitrate_mode")->GetItem(mode);
    return file;
}

QStringList Order(QTreeWidget& tree)
{
    QStringList out;
    for (int k = 0; k < tree.topLevelItemCount(); ++k)
        out << tree.topLevelItem(k)->text(0);
    return out;
}

}  // namespace

Q_DECLARE_METATYPE(Parsed)

class TestSearchResults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parse_data();
    void parse();
    void matching_data();
    void matching();
    void restCarriesWhatIsLeft();
    void rowOrder_data();
    void rowOrder();
    void fileRowsByName();
    void helpText();
};

void TestSearchResults::initTestCase()
{
    Type* file = d.NewType("filter_file", PrimacyRoot, true, true);
    for (const char* name : {"file_size", "bitrate", "bitrate_mode"})
        file->RelateToType(d.NewType(name, PrimacyLeaf, false, true), Many, One, false);
}

void TestSearchResults::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Parsed>("expected");
    auto row = [](const char* name, const QString& text, Parsed p) { QTest::newRow(name) << text << p; };
    Parsed p;
    p.include = QStringList{"Rock", "live"};
    row("blanks around and between", "  Rock   live  ", p);
    p = {};
    p.include = QStringList{"rock\tlive"};
    row("a tab is part of a word", "rock\tlive", p);
    p = {};
    p.exclude = QStringList{"isvbr", "-x"};
    row("dash rule first", "-isvbr --x -", p);
    p = {};
    p.include = QStringList{"ISVBR", "MBR:320", "Mfs:3"};
    row("keywords are case-sensitive", "ISVBR MBR:320 Mfs:3", p);
    p = {};
    p.vbr = p.cbr = p.attributes = true;
    row("both bitrate kinds", "isvbr iscbr", p);
    p = {};
    p.attributes = true;
    row("bitrate that is no number", "mbr:abc", p);
    row("bitrate out of range", "minbitrate:99999999999", p);
    row("bitrate with a tab after it", "mbr:320\t", p);
    row("size with a fraction", "mfs:10.5", p);
    row("size without number", "minfilesize:", p);
    p.minBitrate = 320;
    row("later bitrate wins", "mbr:128 minbitrate:320", p);
    p = {};
    p.attributes = true;
    p.minFileSize = 10000000;
    row("size in decimal megabytes", "mfs:10", p);
    p.minFileSize = 1000000;
    row("long size keyword", "minfilesize:1", p);
    p.minFileSize = kMax;
    row("size beyond range saturates", "mfs:10000000000000", p);
    row("largest size saturates", "mfs:9223372036854775807", p);
    p.minFileSize = kMin;
    row("negative size beyond range saturates", "mfs:-10000000000000", p);
    p = {};
    p.minFiles = 3;
    row("files per folder sets no attributes", "mfif:3", p);
    p.minFiles = 8;
    p.include = QStringList{"x"};
    row("long files-per-folder keyword", "minfilesinfolder:8 x", p);
}

void TestSearchResults::parse()
{
    QFETCH(QString, text);
    QFETCH(Parsed, expected);
    FilterParser filter;
    filter.Parse(text);
    QCOMPARE(filter.includeWords, expected.include);
    QCOMPARE(filter.excludeWords, expected.exclude);
    QCOMPARE(filter.minBitrate, expected.minBitrate);
    QCOMPARE(filter.isVbr, expected.vbr);
    QCOMPARE(filter.isCbr, expected.cbr);
    QCOMPARE(filter.minFileSize, expected.minFileSize);
    QCOMPARE(filter.MinFilesInFolder(), expected.minFiles);
    QCOMPARE(filter.HasAttributes(), expected.attributes);
}

void TestSearchResults::matching_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("text");
    QTest::addColumn<ItemPtr>("file");
    QTest::addColumn<int>("expected");
    const ItemPtr none;
    QTest::newRow("empty filter") << "" << "anything" << File(0) << 0;
    QTest::newRow("second word missing") << "lack con" << "lackluster" << none << 1;
    QTest::newRow("both words") << "lack con" << "lackluster container.ogg" << none << 0;
    QTest::newRow("joined words") << "lackcon" << "lackluster container.ogg" << none << 1;
    QTest::newRow("case ignored") << "Lackluster" << "LACKLUSTER.mp3" << none << 0;
    QTest::newRow("capital keyword is a word") << "IsVbr" << "isvbr.mp3" << none << 0;
    QTest::newRow("excluded beats included") << "a -a" << "a.mp3" << none << 2;
    QTest::newRow("excluded substring") << "-bothersome" << "The Bothersome Ones" << none << 2;
    QTest::newRow("size at the limit") << "mfs:10" << "f" << File(10000000) << 0;
    QTest::newRow("size one byte short") << "mfs:10" << "f" << File(9999999) << 2;
    QTest::newRow("size limit beyond range") << "mfs:10000000000000" << "f" << File(5000000000LL) << 2;
    QTest::newRow("no size limit without file") << "mfs:10" << "f" << none << 0;
    QTest::newRow("vbr and cbr, vbr file") << "isvbr iscbr" << "f" << File(1, 320, "vbr") << 2;
    QTest::newRow("vbr and cbr, cbr file") << "isvbr iscbr" << "f" << File(1, 320, "cbr") << 2;
    QTest::newRow("vbr file") << "isvbr" << "f" << File(1, 192, "vbr") << 0;
    QTest::newRow("bitrate missing") << "mbr:320" << "f" << File(1) << 2;
    QTest::newRow("bitrate enough") << "mbr:320" << "f" << File(1, 320) << 0;
    QTest::newRow("bitrate that is no number") << "mbr:abc" << "f" << File(1) << 0;
    QTest::newRow("files per folder is no file test") << "mfif:3" << "f" << File(1) << 0;
}

void TestSearchResults::matching()
{
    QFETCH(QString, filter);
    QFETCH(QString, text);
    QFETCH(ItemPtr, file);
    QFETCH(int, expected);
    FilterParser parser;
    parser.Parse(filter);
    QCOMPARE(parser.IsMatching(text, nullptr, file), expected);
}

void TestSearchResults::restCarriesWhatIsLeft()
{
    FilterParser filter;
    filter.Parse("lack con -demo mbr:320 mfif:2");
    FilterParser rest;
    rest.includeWords << "stale";
    QCOMPARE(filter.IsMatching("lackluster", &rest), 1);
    QCOMPARE(rest.includeWords, QStringList{"con"});
    QCOMPARE(rest.excludeWords, QStringList{"demo"});
    QCOMPARE(rest.minBitrate, 320);
    QVERIFY(rest.HasAttributes());
    QCOMPARE(rest.MinFilesInFolder(), 2);
    QCOMPARE(rest.IsMatching("container.ogg", nullptr, File(1, 320)), 0);
    QCOMPARE(rest.IsMatching("container demo.ogg", nullptr, File(1, 320)), 2);
    QCOMPARE(rest.IsMatching("container.ogg", nullptr, File(1, 128)), 2);

    // Everything found at the folder: nothing is left to find in the file names.
    QCOMPARE(filter.IsMatching("lackluster container", &rest), 0);
    QVERIFY(rest.includeWords.isEmpty());
    // A rejected folder hands on no words.
    QCOMPARE(filter.IsMatching("lackluster demo", &rest), 2);
    QVERIFY(rest.includeWords.isEmpty() && rest.excludeWords.isEmpty());
}

void TestSearchResults::rowOrder_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("by free slot") << 1 << QStringList{"B", "A", "F", "C", "D", "E"};
    QTest::newRow("by speed") << 2 << QStringList{"D", "B", "A", "E", "F", "C"};
}

void TestSearchResults::rowOrder()
{
    QFETCH(int, column);
    QFETCH(QStringList, expected);
    QTreeWidget tree;
    tree.setColumnCount(7);
    // Name, Free, K/s, File: F has no queue text (counts 0) and ties with C on both numbers,
    // so the file name decides between them.
    const char* rows[][4] = {{"A", "Y", "10.0", "x"}, {"B", "Y", "50.5", "x"}, {"C", "0", "", "n"},
                             {"D", "5", "100.0", "x"}, {"E", "12", "7.5", "x"}, {"F", "", "", "m"}};
    for (const auto& r : rows) {
        auto* row = new SearchResultListItem(&tree);
        row->setText(0, r[0]);
        row->setText(1, r[1]);
        row->setText(2, r[2]);
        row->setText(4, r[3]);
    }
    tree.sortItems(column, Qt::DescendingOrder);
    QCOMPARE(Order(tree), expected);
}

void TestSearchResults::fileRowsByName()
{
    QTreeWidget tree;
    tree.setColumnCount(7);
    auto* folder = new SearchResultListItem(&tree);
    for (const char* name : {"b.mp3", "A.mp3", "a.mp3"})
        (new SearchResultListItem(folder))->setText(4, name);
    for (int column : {1, 2}) {
        tree.sortItems(column, Qt::DescendingOrder);
        QStringList names;
        for (int k = 0; k < folder->childCount(); ++k)
            names << folder->child(k)->text(4);
        QCOMPARE(names, QStringList({"A.mp3", "a.mp3", "b.mp3"}));
    }
}

void TestSearchResults::helpText()
{
    QPointer<FilterHelpDialog> dialog = new FilterHelpDialog;
    QCOMPARE(filterHelpDialog, dialog.data());
    QCOMPARE(dialog->windowTitle(), QString("Filter Help"));
    QCOMPARE(dialog->size(), QSize(502, 416));
    auto* edit = dialog->findChild<QTextEdit*>("textEdit");
    QVERIFY(edit);
    QVERIFY(edit->isReadOnly());
    QCOMPARE(edit->focusPolicy(), Qt::NoFocus);
    const QStringList paragraphs{
        "Enter words into the filter box to only show combinations of folders and files that contain those "
        "words. For example entering:",
        "", "lackluster container", "",
        "into the filter box will only show files that either contain both those words (considering the folder "
        "they are in as well.)",
        "", "Prefix a word with a dash to make sure files shown don't contain the word:", "",
        "lackluster container -bothersome", "",
        "Will show the same files as the first example, except for files that have \"bothersome\" in their name "
        "or in their folder name.",
        "", "In addition, these special tokens will filter files based on certain attributes:", "",
        "minbitrate:number (show audio files with a minimum bitrate of number.)",
        "minfilesize:number (show files with a minimum filesize of number MB)",
        "minfilesinfolder:number (show folders with at least number files in them)",
        "isvbr (show variable bitrate audio files)", "iscbr (show constant bitrate audio files)", "",
        "(Acceptable shorthands: mbr instead of minbitrate, mfs instead of minfilesize, mfif instead of "
        "minfilesinfolder)",
        "", "For example typing this into the filter box:", "",
        "lackluster container iscbr minbitrate:320 minfilesize:10 minfilesinfolder:8", "",
        "Will show all files with 'lackluster' and 'container' in their name or folder name, that are constant "
        "bitrate encoded, of a minimum bitrate of 320, a minimum file size of 10 megabytes and that are in "
        "folders with at least 8 visible (non-filtered) files in them.",
        ""};
    QTextDocument* doc = edit->document();
    QStringList seen;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        seen << block.text();
    QCOMPARE(seen, paragraphs);

    // The emphasis of paragraph 7 and 15: "don't" bold, "number" italic.
    auto formatAt = [doc](int paragraph, const QString& word) {
        const QTextBlock block = doc->findBlockByNumber(paragraph - 1);
        QTextCursor cursor(block);
        // The format of the character before the cursor: the word's first one.
        cursor.setPosition(block.position() + block.text().indexOf(word) + 1);
        return cursor.charFormat();
    };
    QVERIFY(formatAt(7, "don't").font().bold());
    QVERIFY(!formatAt(7, "contain").font().bold());
    QVERIFY(formatAt(15, "number").fontItalic());
    QCOMPARE(formatAt(15, "minbitrate").fontFamily(), QString("MS Shell Dlg 2"));
    QCOMPARE(formatAt(15, "minbitrate").fontPointSize(), 12.0);

    QTest::mouseClick(dialog->findChild<QPushButton*>("pushButton"), Qt::LeftButton);
    QVERIFY(dialog->isHidden());
    QTRY_VERIFY(!dialog);
    QVERIFY(!filterHelpDialog);
}

QTEST_MAIN(TestSearchResults)
#include "tst_searchresults.moc"
