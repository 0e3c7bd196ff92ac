#include "model/diagnosticsform.h"

#include "model/helpers.h"
#include "model/log.h"
#include "ui_diagnosticsform.h"

#include <QEvent>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

DiagnosticsForm* diagnosticsForm = nullptr;

// Lines carry user names, search texts and addresses from the network, so they go in as
// plain text: QTextEdit::append would take text that looks like markup as rich text and
// could render it or make the browser load files it names.
void AppendPlainLines(QTextBrowser* view, const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    QScrollBar* bar = view->verticalScrollBar();
    const bool followEnd = bar->value() >= bar->maximum();
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    bool first = view->document()->isEmpty();
    for (const QString& line : lines) {
        if (!first)
            cursor.insertBlock();
        first = false;
        cursor.insertText(line);
    }
    cursor.endEditBlock();
    if (followEnd)
        bar->setValue(bar->maximum());
}

void AppendPlainLine(QTextBrowser* view, const QString& line)
{
    AppendPlainLines(view, QStringList{line});
}

DiagnosticsForm::DiagnosticsForm(QWidget* parent) : QWidget(parent), ui(new Ui_DiagnosticsForm)
{
    ui->setupUi(this);
    ui->trackedUsersTree->setColumnWidth(0, 300);
    ui->trackedUsersTree->setColumnWidth(1, 100);

    // A window built again in the same process (tests) finds the types already there.
    if (!d.HasType("log")) {
        Type* log = d.NewType("log", PrimacyRoot, false, true);
        Type* logWidget = d.NewType("log_widget", PrimacyRoot, false, true);
        log->RelateToType(logWidget, One, One, false);
    }
    diagnosticsForm = this;
}

DiagnosticsForm::~DiagnosticsForm()
{
    if (diagnosticsForm == this)
        diagnosticsForm = nullptr;
    // The pages die with this window; their items must not outlive them.
    if (Type* logWidget = d.HasType("log_widget")) {
        for (int i = 0; i < ui->logTabWidget->count(); ++i) {
            ItemPtr item = logWidget->HasItem(Value(ui->logTabWidget->widget(i)));
            if (item)
                item.Remove();
        }
    }
    delete ui;
}

QTabWidget* DiagnosticsForm::LogTabWidget() const
{
    return ui->logTabWidget;
}

QTreeWidget* DiagnosticsForm::TrackedUsersTree() const
{
    return ui->trackedUsersTree;
}

QTextBrowser* DiagnosticsForm::LogView(const QString& category)
{
    WritePendingLines(false, kMaxLogLines);
    Type* log = d.HasType("log");
    if (!log)
        return nullptr;
    return OwnPage(log->HasItem(Value(category))["log_widget"]);
}

// The item holds a page address; it is trusted only when it is one of this window's pages,
// so an item left by an earlier window can never be turned into a dangling pointer.
QTextBrowser* DiagnosticsForm::OwnPage(ItemPtr widgetItem) const
{
    if (!widgetItem)
        return nullptr;
    const unsigned long long address = widgetItem.AsUInt64();
    for (int i = 0; i < ui->logTabWidget->count(); ++i) {
        QWidget* page = ui->logTabWidget->widget(i);
        if (static_cast<unsigned long long>(reinterpret_cast<quintptr>(page)) == address)
            return qobject_cast<QTextBrowser*>(page);
    }
    return nullptr;
}

QTextBrowser* DiagnosticsForm::PageFor(const QString& category)
{
    ItemPtr logItem = d.GetType("log")->GetItem(Value(category));
    ItemPtr widgetItem = logItem["log_widget"];
    if (QTextBrowser* view = OwnPage(widgetItem))
        return view;
    if (widgetItem)
        widgetItem.Remove();

    auto* view = new QTextBrowser(this);
    view->setOpenLinks(false);
    view->setUndoRedoEnabled(false);
    // A busy peer side logs a line per message for the whole run: the oldest lines go.
    view->document()->setMaximumBlockCount(kMaxLogLines);
    ui->logTabWidget->addTab(view, category);
    view->installEventFilter(this);
    logItem += d.GetType("log_widget")->GetItem(Value(view));
    return view;
}

void DiagnosticsForm::Log(const QString& category, int level, const QString& text, ItemPtr /*item*/)
{
    QTextBrowser* page = PageFor(category);
    QStringList& lines = m_pendingLines[page];
    lines << FormatLogLine(CurrentTimeText(), level, text);
    // The page keeps no more than these: the older ones need not wait for it.
    if (lines.size() >= kMaxLogLines + kLogLinesPerTurn)
        lines.erase(lines.begin(), lines.end() - kMaxLogLines);
    if (page->isVisible())
        ScheduleWriting();
}

bool DiagnosticsForm::WritePendingLines(bool i_shownOnly, int i_perPage)
{
    bool left = false;
    for (auto page = m_pendingLines.begin(); page != m_pendingLines.end();) {
        if (i_shownOnly && !page.key()->isVisible()) {
            ++page;
            continue;
        }
        QStringList& lines = page.value();
        if (lines.size() > kMaxLogLines)
            lines.erase(lines.begin(), lines.end() - kMaxLogLines);
        const int count = qMin(lines.size(), i_perPage);
        AppendPlainLines(page.key(), lines.mid(0, count));
        lines.erase(lines.begin(), lines.begin() + count);
        if (lines.isEmpty()) {
            page = m_pendingLines.erase(page);
        } else {
            left = left || page.key()->isVisible();
            ++page;
        }
    }
    return left;
}

void DiagnosticsForm::ScheduleWriting()
{
    if (m_writingScheduled)
        return;
    m_writingScheduled = true;
    QMetaObject::invokeMethod(this, &DiagnosticsForm::WriteShownPages, Qt::QueuedConnection);
}

void DiagnosticsForm::WriteShownPages()
{
    m_writingScheduled = false;
    if (WritePendingLines(true, kLogLinesPerTurn))
        ScheduleWriting();
}

bool DiagnosticsForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && m_pendingLines.contains(static_cast<QTextBrowser*>(watched)))
        ScheduleWriting();
    return QWidget::eventFilter(watched, event);
}
