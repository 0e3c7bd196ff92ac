#include "ui/chat/chatlogform.h"

#include "app/actionsettoolbar.h"
#include "app/focus.h"
#include "model/data.h"
#include "ui/chat/chatdisplay.h"

#include "ui_chatlogform.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QScrollBar>
#include <QUrl>

namespace {

// The cursor one character past the start of the current match: where the next match may begin.
QTextCursor PastStart(const QTextCursor& current)
{
    QTextCursor next(current);
    next.setPosition(current.selectionStart());
    next.movePosition(QTextCursor::NextCharacter);
    return next;
}

}  // namespace

ChatLogForm::ChatLogForm(QString path, QWidget* parent)
    : QWidget(parent)
    , mp_ui(new Ui_ChatLogForm)
    , m_path(path)
{
    mp_ui->setupUi(this);
    mp_ui->searchBackButton->setIcon(QIcon(":/icons/back_icon"));
    mp_ui->searchForwardButton->setIcon(QIcon(":/icons/forward_icon"));
    mp_ui->searchBackButton->setEnabled(false);
    mp_ui->searchForwardButton->setEnabled(false);
    RegisterWidgetForTabFocus(mp_ui->searchEdit, 1);
    // Shown only over a log cut to its tail.
    mp_ui->tailLabel->hide();

    // A log that cannot be read has nothing to erase or to open: no actions for it.
    if (!Load(path))
        return;
    m_logPath = path;
    if (actionBar) {
        actionBar->RegisterWidget(this, "chat_log");
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ChatLogForm::OnActionTriggered);
    }
}

ChatLogForm::~ChatLogForm()
{
    delete mp_ui;
    // The link holds this form's address: writers must stop feeding it, and opening the log
    // again must make a new viewer.
    Data::Scope scope(&d);
    ItemPtr link = d.GetType("chat_log_form")->HasItem(Value(static_cast<QWidget*>(this)));
    if (link)
        link.Remove();
}

bool ChatLogForm::Load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;

    QByteArray piece(static_cast<int>(kMaxPieceBytes) + 1, '\0');
    const qint64 size = file.size();
    if (size > kMaxShownBytes) {
        // Start at the first whole line of the tail: the piece before it is a cut line's end.
        char before = '\n';
        if (file.seek(size - kMaxShownBytes - 1) && file.getChar(&before) && before != '\n')
            file.readLine(piece.data(), piece.size());
        // The top of the view is not the start of the log: say so.
        mp_ui->tailLabel->setText(QStringLiteral("Only the last %1 MiB of this log are shown; the file holds %2 MiB.")
                                      .arg(kMaxShownBytes / (1024 * 1024))
                                      .arg(QString::number(size / (1024.0 * 1024.0), 'f', 1)));
        mp_ui->tailLabel->show();
    }

    QString text;
    for (qint64 n; (n = file.readLine(piece.data(), piece.size())) > 0;) {
        if (m_hasLines)
            text += QLatin1Char('\n');
        // Each piece a paragraph of its own, white space and line feed gone.
        text += QString::fromUtf8(piece.constData(), static_cast<int>(n)).trimmed();
        m_hasLines = true;
    }
    // The lines hold what others wrote: plain text, never markup.
    mp_ui->logEdit->setUpdatesEnabled(false);
    mp_ui->logEdit->setPlainText(text);
    mp_ui->logEdit->setUpdatesEnabled(true);
    return true;
}

void ChatLogForm::AddLine(QString line)
{
    QTextEdit* view = mp_ui->logEdit;
    QScrollBar* bar = view->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();

    QTextCursor end(view->document());
    end.movePosition(QTextCursor::End);
    // One change for the view to lay out, not two.
    end.beginEditBlock();
    if (m_hasLines)
        end.insertBlock();
    // As typed: a line that looks like markup is someone's text, not formatting.
    line = line.trimmed();
    end.insertText(line);
    end.endEditBlock();
    m_hasLines = true;
    if (atBottom)
        bar->setValue(bar->maximum());

    // A live line can bring the next match; everything else lies where it was.
    const QString find = mp_ui->searchEdit->text();
    if (!find.isEmpty() && !view->extraSelections().isEmpty() && line.contains(find, Qt::CaseInsensitive))
        mp_ui->searchForwardButton->setEnabled(true);
}

bool ChatLogForm::Find(const QTextCursor& from, QTextDocument::FindFlags flags)
{
    QTextEdit* view = mp_ui->logEdit;
    view->setUpdatesEnabled(false);
    view->setTextCursor(from);
    const bool found = view->find(mp_ui->searchEdit->text(), flags);
    view->setUpdatesEnabled(true);
    return found;
}

void ChatLogForm::EndFind()
{
    mp_ui->logEdit->setExtraSelections({});
    mp_ui->searchBackButton->setEnabled(false);
    mp_ui->searchForwardButton->setEnabled(false);
}

void ChatLogForm::OnSearchTextChanged(QString i_text)
{
    EndFind();
    QTextCursor start(mp_ui->logEdit->document());
    if (i_text.isEmpty()) {
        mp_ui->logEdit->setTextCursor(start);
        return;
    }
    if (Find(start, {}))
        MarkFind();
}

// A find that fails here has lost its match (the log was erased): the mark and the buttons go
// rather than mark a range around a cursor that selects nothing.
void ChatLogForm::OnSearchForward()
{
    if (Find(PastStart(mp_ui->logEdit->textCursor()), {}))
        MarkFind();
    else
        EndFind();
}

void ChatLogForm::OnSearchBack()
{
    if (Find(mp_ui->logEdit->textCursor(), QTextDocument::FindBackward))
        MarkFind();
    else
        EndFind();
}

void ChatLogForm::MarkFind()
{
    QTextEdit* view = mp_ui->logEdit;
    const QTextCursor match = view->textCursor();
    if (!match.hasSelection()) {
        EndFind();
        return;
    }

    // The match in the input fields' colours, swapped.
    const QPalette palette = mp_ui->searchEdit->palette();
    QTextEdit::ExtraSelection mark;
    mark.cursor = match;
    mark.format.setForeground(QBrush(SettingColor("color_input_background", palette.color(QPalette::Base))));
    mark.format.setBackground(QBrush(SettingColor("color_input_text", palette.color(QPalette::Text))));
    view->setExtraSelections({mark});
    MarkSearchButtons();

    // Through the end first, so that the match comes into view from below; the cursor then
    // rests at its start, where the next find begins.
    view->setUpdatesEnabled(false);
    QTextCursor end(match);
    end.movePosition(QTextCursor::End);
    view->setTextCursor(end);
    QTextCursor start(match);
    start.setPosition(match.selectionStart());
    view->setTextCursor(start);
    view->setUpdatesEnabled(true);
}

void ChatLogForm::MarkSearchButtons()
{
    // Probed on the document, leaving the view's cursor and scrolling alone. Ahead counts from
    // where the forward button searches, so a match that begins right at the end of this one
    // enables it too.
    const QTextCursor current = mp_ui->logEdit->textCursor();
    const QString find = mp_ui->searchEdit->text();
    const QTextDocument* document = mp_ui->logEdit->document();
    const bool ahead = !find.isEmpty() && !document->find(find, PastStart(current)).isNull();
    QTextCursor start(current);
    start.setPosition(current.selectionStart());
    const bool behind = !find.isEmpty() && !document->find(find, start, QTextDocument::FindBackward).isNull();
    mp_ui->searchForwardButton->setEnabled(ahead);
    mp_ui->searchBackButton->setEnabled(behind);
}

void ChatLogForm::OnActionTriggered(QWidget* ip_widget, QString i_action)
{
    if (ip_widget != this)
        return;
    if (i_action == "clear_chat_log")
        ClearLog();
    else if (i_action == "open_log_folder")
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_logPath).absolutePath()));
}

void ChatLogForm::ClearLog()
{
    QMessageBox box(QMessageBox::Question, "Clear log?", "Are you sure you want to erase the contents of this log?",
                    QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes)
        return;
    // Removed, not truncated; a log already gone only empties the view.
    QFile::remove(m_logPath);
    mp_ui->logEdit->clear();
    mp_ui->tailLabel->hide();
    m_hasLines = false;
    EndFind();
}
