// The user name and password dialog: what it shows, what Ok stores and when it refuses.

#include "model/settings.h"
#include "ui/settings/changeusernamepassworddialog.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

class TestChangeUsernamePasswordDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { DeclareSettingTypes(); }
    void showsStoredValues();
    void okStoresTrimmedValues();
    void blankFieldKeepsDialogOpen_data();
    void blankFieldKeepsDialogOpen();
    void nonFirstRunDialogDeletesItself();

private:
    static QLineEdit* Edit(QDialog& dialog, const char* name) { return dialog.findChild<QLineEdit*>(name); }
    static void ClickOk(QDialog& dialog)
    {
        dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
    }
};

void TestChangeUsernamePasswordDialog::showsStoredValues()
{
    SetSetting("username", "bob");
    SetSetting("password", "pw");
    ChangeUsernamePasswordDialog dialog(true);
    QCOMPARE(Edit(dialog, "usernameEdit")->text(), QString("bob"));
    QCOMPARE(Edit(dialog, "passwordEdit")->text(), QString("pw"));
}

void TestChangeUsernamePasswordDialog::okStoresTrimmedValues()
{
    ChangeUsernamePasswordDialog dialog(true);
    dialog.show();
    Edit(dialog, "usernameEdit")->setText("  carol smith \t");
    Edit(dialog, "passwordEdit")->setText(" open sesame ");
    ClickOk(dialog);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(GetSetting("username"), QString("carol smith"));
    QCOMPARE(GetSetting("password"), QString("open sesame"));
}

void TestChangeUsernamePasswordDialog::blankFieldKeepsDialogOpen_data()
{
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::newRow("blank password") << "dave" << "   ";
    QTest::newRow("empty user name") << "" << "pw";
    QTest::newRow("nul only") << QString(QChar(0)) + "x" << "pw";
}

void TestChangeUsernamePasswordDialog::blankFieldKeepsDialogOpen()
{
    QFETCH(QString, username);
    QFETCH(QString, password);
    SetSetting("username", "kept");
    SetSetting("password", "kept too");
    ChangeUsernamePasswordDialog dialog(true);
    dialog.show();
    Edit(dialog, "usernameEdit")->setText(username);
    Edit(dialog, "passwordEdit")->setText(password);
    ClickOk(dialog);
    QVERIFY(dialog.isVisible());
    QCOMPARE(Edit(dialog, "usernameEdit")->text(), username);
    QCOMPARE(GetSetting("username"), QString("kept"));
    QCOMPARE(GetSetting("password"), QString("kept too"));
}

void TestChangeUsernamePasswordDialog::nonFirstRunDialogDeletesItself()
{
    QPointer<ChangeUsernamePasswordDialog> dialog = new ChangeUsernamePasswordDialog(false);
    dialog->show();
    Edit(*dialog, "usernameEdit")->setText("grace");
    Edit(*dialog, "passwordEdit")->setText("pw");
    ClickOk(*dialog);
    QCOMPARE(GetSetting("username"), QString("grace"));
    QTRY_VERIFY(dialog.isNull());
}

QTEST_MAIN(TestChangeUsernamePasswordDialog)
#include "tst_changeusernamepassworddialog.moc"
