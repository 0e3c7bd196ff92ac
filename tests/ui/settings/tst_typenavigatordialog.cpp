// The type navigator over a schema of its own: which targets a start type offers, and the chart
// of relation paths with its counts, arrows and marks.

#include "model/data.h"
#include "ui/settings/typenavigatordialog.h"

#include <QComboBox>
#include <QTextBlock>
#include <QTextBrowser>
#include <QtTest>

namespace {

Type* Declare(const std::string& name, bool null = false)
{
    return d.NewType(name, PrimacyRoot, null, true);
}

QStringList Entries(QComboBox* box)
{
    QStringList texts;
    for (int k = 0; k < box->count(); ++k)
        texts << box->itemText(k);
    return texts;
}

}  // namespace

class TestTypeNavigatorDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup() { delete mp_dialog; }
    void opensOnFirstTypeAndItsFirstTarget();
    void chartMarksStepsAndValuelessTypes();
    void targetsStopAtSixSteps();
    void typeWithoutRelationsOffersNothing();
    void hubTypesOpenAtOnce();

private:
    QComboBox* From() { return mp_dialog->findChild<QComboBox*>("fromTypeBox"); }
    QComboBox* To() { return mp_dialog->findChild<QComboBox*>("toTypeBox"); }
    QStringList Chart() { return mp_dialog->findChild<QTextBrowser*>("chartEdit")->toPlainText().split('\n'); }
    void Choose(QComboBox* box, const QString& text)
    {
        const int index = box->findText(text);
        QVERIFY(index >= 0);
        box->setCurrentIndex(index);
    }

    TypeNavigatorDialog* mp_dialog = nullptr;
};

void TestTypeNavigatorDialog::initTestCase()
{
    // a -> b one to one; a => c to many, back to one; c -> n (valueless) to one; b -> c one to one;
    // a chain s1 .. s7 off a; m without relations.
    Type* a = Declare("a");
    Type* b = Declare("b");
    Type* c = Declare("c");
    Type* n = Declare("n", true);
    a->RelateToType(b, One, One, false);
    a->RelateToType(c, One, Many, false);
    b->RelateToType(c, One, One, false);
    c->RelateToType(n, Many, One, false);
    Type* previous = a;
    for (int k = 1; k <= 7; ++k) {
        Type* step = Declare("s" + std::to_string(k));
        previous->RelateToType(step, Many, Many, false);
        previous = step;
    }
    Declare("m");
}

void TestTypeNavigatorDialog::init()
{
    mp_dialog = new TypeNavigatorDialog;
    mp_dialog->Init();
    mp_dialog->show();
}

void TestTypeNavigatorDialog::opensOnFirstTypeAndItsFirstTarget()
{
    QCOMPARE(Entries(From()), QStringList({"a", "b", "c", "m", "n", "s1", "s2", "s3", "s4", "s5", "s6", "s7"}));
    QCOMPARE(From()->currentText(), QString("a"));
    QCOMPARE(To()->currentText(), QString("b"));
    QCOMPARE(Chart(), QStringList({"[2] a -> b", "[3] a => c -> b"}));
}

void TestTypeNavigatorDialog::chartMarksStepsAndValuelessTypes()
{
    QCOMPARE(TypeNavigatorDialog::ChartLine({"a", "b"}), QString("<font color=green><b>[2]</b></font> <b>a</b> -> <b>b</b>"));
    QCOMPARE(TypeNavigatorDialog::ChartLine({"a", "c"}), QString("[2] <b>a</b> => <b>c</b>"));
    QCOMPARE(TypeNavigatorDialog::ChartLine({"c", "n"}),
             QString("<font color=green><b>[2]</b></font> <b>c</b> -> <b>n</b> [null]"));

    Choose(To(), "n");
    // Shorter first; a path passes no type twice.
    QCOMPARE(Chart(), QStringList({"[3] a => c -> n [null]", "[4] a -> b -> c -> n [null]"}));
    const QTextDocument* chart = mp_dialog->findChild<QTextBrowser*>("chartEdit")->document();
    const QTextCharFormat plain = chart->firstBlock().begin().fragment().charFormat();
    QCOMPARE(chart->firstBlock().begin().fragment().text(), QString("[3] "));
    QVERIFY(plain.foreground().color() != QColor(Qt::darkGreen) && plain.fontWeight() != QFont::Bold);
    const QTextFragment count = chart->lastBlock().begin().fragment();
    QCOMPARE(count.text(), QString("[4]"));
    QCOMPARE(count.charFormat().foreground().color(), QColor("green"));
    QCOMPARE(count.charFormat().fontWeight(), int(QFont::Bold));

    Choose(From(), "b");
    QCOMPARE(To()->currentText(), QString("a"));
    QCOMPARE(Chart(), QStringList({"[2] b -> a", "[3] b -> c -> a"}));
}

void TestTypeNavigatorDialog::targetsStopAtSixSteps()
{
    // From s7, a lies seven steps away.
    Choose(From(), "s7");
    QCOMPARE(Entries(To()), QStringList({"s1", "s2", "s3", "s4", "s5", "s6"}));
    Choose(From(), "a");
    QCOMPARE(Entries(To()), QStringList({"b", "c", "n", "s1", "s2", "s3", "s4", "s5", "s6"}));
    Choose(To(), "s6");
    QCOMPARE(Chart(), QStringList({"[7] a => s1 => s2 => s3 => s4 => s5 => s6"}));
}

void TestTypeNavigatorDialog::typeWithoutRelationsOffersNothing()
{
    Choose(From(), "m");
    QCOMPARE(To()->count(), 0);
    QCOMPARE(Chart(), QStringList{""});
}

void TestTypeNavigatorDialog::hubTypesOpenAtOnce()
{
    // Two hubs, each related to the same five hundred leaves: walks of six steps number in the
    // billions, the types reachable in the hundreds.
    Type* hubs[] = {Declare("x_hub_a"), Declare("x_hub_b")};
    QStringList leaves;
    for (int k = 0; k < 500; ++k) {
        const std::string name = QString("x_leaf_%1").arg(k, 3, 10, QChar('0')).toStdString();
        Type* leaf = Declare(name);
        for (Type* hub : hubs)
            hub->RelateToType(leaf, One, Many, false);
        leaves << QString::fromStdString(name);
    }
    delete mp_dialog;
    mp_dialog = new TypeNavigatorDialog;
    mp_dialog->Init();

    Choose(From(), "x_leaf_000");
    QCOMPARE(To()->count(), 501);
    QCOMPARE(Entries(To()).mid(0, 3), QStringList({"x_hub_a", "x_hub_b", "x_leaf_001"}));
    QCOMPARE(Chart().first(), QString("[2] x_leaf_000 -> x_hub_a"));
    QCOMPARE(Chart().size(), 1 + 499);
}

QTEST_MAIN(TestTypeNavigatorDialog)
#include "tst_typenavigatordialog.moc"
