// The diagnostics window: a page of log lines per category, and the tracked-users page.
#pragma once

#include "model/data.h"

#include <QHash>
#include <QString>
#include <QWidget>

class QTabWidget;
class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;
class Ui_DiagnosticsForm;

class DiagnosticsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // Lines a category's page keeps.
    static constexpr int kMaxLogLines = 50000;
    // Lines a shown page takes per turn of the event loop.
    static constexpr int kLogLinesPerTurn = 2000;

    explicit DiagnosticsForm(QWidget* parent = nullptr);
    ~DiagnosticsForm() override;

    // Start-up step for the tracked-users page, once the server's user types exist.
    void Init();

    void Log(const QString& category, int level, const QString& text, ItemPtr item);

    QTabWidget* LogTabWidget() const;
    QTreeWidget* TrackedUsersTree() const;
    // The page of a category with every line logged so far, or null when nothing was logged in
    // it yet.
    QTextBrowser* LogView(const QString& category);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

    Ui_DiagnosticsForm* ui;

private:
    QTextBrowser* PageFor(const QString& category);
    QTextBrowser* OwnPage(ItemPtr widgetItem) const;
    // Writes lines not yet in their pages, at most so many per page, into the shown pages or into
    // all of them; true when a shown page has lines left.
    bool WritePendingLines(bool i_shownOnly, int i_perPage);
    void ScheduleWriting();
    void WriteShownPages();

    // The tracked-users page; each handler is given the user item.
    void SubscribeUserMark(const char* markType, PathNodeRelation relation, void (DiagnosticsForm::*handler)(ItemPtr));
    QTreeWidgetItem* TrackedRow(ItemPtr i_user) const;
    void OnUserTracked(ItemPtr i_user);
    void OnUserUntracked(ItemPtr i_user);
    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);
    // The tracked-users page's row of each user, by name.
    QHash<QString, QTreeWidgetItem*> m_trackedRows;
    // Lines not yet in their pages, by page. A page takes them once the burst that logged them has
    // returned to the event loop, a share per turn, and only while it is shown: line by line, each
    // page laid itself out again per line, shown or not, and a burst of lines held the window for
    // as long.
    QHash<QTextBrowser*, QStringList> m_pendingLines;
    bool m_writingScheduled = false;
};

extern DiagnosticsForm* diagnosticsForm;

// Appends one paragraph of plain text per line, never markup, in one edit, and keeps a view that
// showed its end showing it.
void AppendPlainLines(QTextBrowser* view, const QStringList& lines);
void AppendPlainLine(QTextBrowser* view, const QString& line);
