// The user-note dialog: one window per user, reached from the per-user menu; what Save stores,
// what Clear and closing keep, and notes shared between users.

#include "mainwindowfixture.h"

#include "app/usermenuoptions.h"
#include "ui/users/usernotedialog.h"

#include <QMenu>
#include <QPointer>
#include <QTextEdit>

namespace {

ItemPtr User(const QString& name)
{
    return d.GetType("user")->GetItem(Value(name));
}

// The user's note, or "<none>".
QString Note(const QString& name)
{
    ItemPtr note = User(name)["user_note"];
    return note ? note.AsString() : QString("<none>");
}

// The note entry of the user's menu: its text, and triggered when `trigger`.
QString NoteEntry(const QString& user, bool trigger = false)
{
    QMenu menu;
    UserMenuOptions options(&menu, user);
    for (QAction* action : menu.actions())
        if (action->text().endsWith("user note")) {
            if (trigger)
                action->trigger();
            return action->text();
        }
    return QString();
}

QTextEdit* NoteEdit(QDialog* dialog) { return dialog->findChild<QTextEdit*>("noteEdit"); }

// Types the text as keys, Return for each line break.
void TypeText(QTextEdit* edit, const QString& text)
{
    const QStringList lines = text.split('\n');
    for (int k = 0; k < lines.size(); ++k) {
        if (k > 0)
            QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClicks(edit, lines.at(k));
    }
}

void Click(QDialog* dialog, const char* button)
{
    QTest::mouseClick(dialog->findChild<QPushButton*>(button), Qt::LeftButton);
}

// Saves what the user types into a fresh dialog of `user`; true once the dialog is gone.
bool TypeAndSave(const QString& user, const QString& typed)
{
    QPointer<UserNoteDialog> dialog = UserNoteDialog::GetDialog(user);
    dialog->show();
    Click(dialog, "clearButton");
    TypeText(NoteEdit(dialog), typed);
    Click(dialog, "saveButton");
    return QTest::qWaitFor([&] { return dialog.isNull(); });
}

}  // namespace

class TestUserNote : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_fixture.Start()); }
    void oneDialogPerUser();
    void menuOpensAndSaveStoresTrimmed_data();
    void menuOpensAndSaveStoresTrimmed();
    void clearKeepsNoteUntilSave();
    void usersShareEqualNotes();
    void markupNoteStaysText();
    void cleanupTestCase() { delete mainWindow; }

private:
    MainWindowFixture m_fixture;
};

void TestUserNote::oneDialogPerUser()
{
    QPointer<UserNoteDialog> bob = UserNoteDialog::GetDialog("bob");
    bob->show();
    QCOMPARE(UserNoteDialog::GetDialog("bob"), bob.data());
    QCOMPARE(bob->windowTitle(), QString("bob"));
    QVERIFY(!bob->parentWidget());
    QPointer<UserNoteDialog> carol = UserNoteDialog::GetDialog("carol");
    QVERIFY(carol != bob);
    QCOMPARE(carol->windowTitle(), QString("carol"));

    // Closed, it goes with its link: the next request makes a new one.
    bob->close();
    carol->close();
    QTRY_VERIFY(bob.isNull() && carol.isNull());
    QVERIFY(!User("bob")["user_note_dialog"]);
    QCOMPARE(d.GetType("user_note_dialog")->ItemCount(), size_t(0));
    QPointer<UserNoteDialog> again = UserNoteDialog::GetDialog("bob");
    QVERIFY(again);
    delete again;
}

void TestUserNote::menuOpensAndSaveStoresTrimmed_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("blank lines around") << "  text\n\n" << "text";
    QTest::newRow("lines inside kept") << "\n one\n\ntwo \n" << "one\n\ntwo";
    QTest::newRow("blanks remove") << "  \n \n" << "<none>";
}

void TestUserNote::menuOpensAndSaveStoresTrimmed()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    User("dave").Disconnect("user_note");
    QCOMPARE(NoteEntry("dave"), QString("Add user note"));
    NoteEntry("dave", true);
    const QList<UserNoteDialog*> open = Visible<UserNoteDialog>();
    QCOMPARE(open.size(), 1);
    QCOMPARE(open.first()->windowTitle(), QString("dave"));
    QPointer<UserNoteDialog> dialog = open.first();
    TypeText(NoteEdit(dialog), typed);
    Click(dialog, "saveButton");
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(Note("dave"), stored);
    QCOMPARE(NoteEntry("dave"), QString(stored == "<none>" ? "Add user note" : "Edit user note"));

    // Blanks over a stored note remove it.
    QVERIFY(TypeAndSave("dave", " "));
    QCOMPARE(Note("dave"), QString("<none>"));
}

void TestUserNote::clearKeepsNoteUntilSave()
{
    QVERIFY(TypeAndSave("erin", "keep me"));
    QPointer<UserNoteDialog> dialog = UserNoteDialog::GetDialog("erin");
    dialog->show();
    QCOMPARE(NoteEdit(dialog)->toPlainText(), QString("keep me"));
    Click(dialog, "clearButton");
    QCOMPARE(NoteEdit(dialog)->toPlainText(), QString());
    dialog->close();
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(Note("erin"), QString("keep me"));

    dialog = UserNoteDialog::GetDialog("erin");
    dialog->show();
    Click(dialog, "clearButton");
    Click(dialog, "saveButton");
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(Note("erin"), QString("<none>"));
}

void TestUserNote::usersShareEqualNotes()
{
    QVERIFY(TypeAndSave("frank", "same words"));
    QVERIFY(TypeAndSave("gina", "same words"));
    ItemPtr shared = d.GetType("user_note")->HasItem(Value("same words"));
    QVERIFY(shared);
    QCOMPARE(User("frank")["user_note"], shared);
    QCOMPARE(User("gina")["user_note"], shared);

    QVERIFY(TypeAndSave("frank", "changed"));
    QCOMPARE(Note("frank"), QString("changed"));
    QCOMPARE(Note("gina"), QString("same words"));
}

void TestUserNote::markupNoteStaysText()
{
    User("hank") += d.GetType("user_note")->GetItem(Value("<b>x</b> & <i>y"));
    NoteEntry("hank", true);
    QPointer<UserNoteDialog> dialog = UserNoteDialog::GetDialog("hank");
    QCOMPARE(NoteEdit(dialog)->toPlainText(), QString("<b>x</b> & <i>y"));
    Click(dialog, "saveButton");
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(Note("hank"), QString("<b>x</b> & <i>y"));
}

QTEST_MAIN(TestUserNote)
#include "tst_usernote.moc"
