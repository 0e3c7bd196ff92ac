// The private conversation with one user (the partner): one tab of the main window's chat tabs.
#pragma once

#include "model/data.h"
#include "ui/chat/chatdisplay.h"

#include <QDateTime>
#include <QPoint>
#include <QString>
#include <QUrl>
#include <QWidget>

class QShowEvent;
class QTabWidget;
class Ui_ChatForm;

class ChatForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    // How much of a line the pending-event alert quotes.
    static constexpr int kSummaryLength = 100;

    ChatForm(QString user, QTabWidget* tabs, QWidget* parent = nullptr);
    ~ChatForm() override;

    // Appends one line written by `user` (the partner, or the own name for typed lines): an
    // action for a text beginning with "/me ", else an ordinary line with its time stamp.
    void AddChat(QString user, QString text);
    // Appends a status line in the status colour; never logged.
    void AddStatusMessage(QString text);
    // Hands a line of `author` to the partner's log file and open log viewer.
    void LogChat(const QString& author, const QString& text, const QDateTime& time);
    // Gives the keyboard focus to the input line, bringing its tab forward.
    void Focus();

    QString User() const { return m_user; }

    // The pending-event alert for a line: "[author] " and the line's start.
    static QString EventMessage(const QString& author, const QString& text);

public slots:
    void OnEnter();
    void CheckChatInactivity();
    void OnContextMenuRequested(QPoint i_point);
    void OnURLClicked(QUrl i_url);
    void OnActionTriggered(QWidget* ip_widget, QString i_action);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnUserAway(ItemPtr);
    void OnUserAvailable(ItemPtr);
    void SubscribeAway(ItemPtr user, PathNodeRelation relation, void (ChatForm::*handler)(ItemPtr));

    Ui_ChatForm* mp_ui;
    QString m_user;
    QTabWidget* mp_tabWidget;
    ChatActivity m_activity;
};
