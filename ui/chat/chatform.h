// The private conversation with one user: one tab of the main window's chat tabs.
#pragma once

#include "model/data.h"

#include <QString>
#include <QWidget>

class QTabWidget;
class Ui_ChatForm;

class ChatForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    ChatForm(QString user, QTabWidget* tabs, QWidget* parent = nullptr);
    ~ChatForm() override;

    // Appends a message of `user` to the conversation.
    void AddChat(QString user, QString text);
    // Gives the keyboard focus to the input line, bringing its tab forward.
    void Focus();

    QString User() const { return m_user; }

public slots:
    void CheckChatInactivity();

private:
    Ui_ChatForm* mp_ui;
    QString m_user;
    QTabWidget* mp_tabWidget;
};
