// The list of private conversations: every private message sent or received is kept in the
// item graph (and so in the save file); one row per partner shows the latest one, the most
// recent conversation on top.
#pragma once

#include "model/data.h"
#include "model/datasaver.h"

#include <QString>
#include <QWidget>

#include <ctime>

class QTreeWidget;
class QTreeWidgetItem;
class Ui_MessageListForm;

class MessageListForm : public QWidget, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit MessageListForm(QWidget* parent = nullptr);
    ~MessageListForm() override;

    // Declares the message types and their save rules, connects the server's private-message
    // signals and asks to hear of the load. Must run after the server's types exist and before
    // the save file loads, or the stored messages are dropped by the loader.
    void Init();
    // Rebuilds the rows from the stored messages, oldest first.
    void DataLoaded() override;

    // Shows one stored message: its partner's row goes to the top and shows it.
    void AddMessageToList(ItemPtr message);

    QTreeWidget* messageList() const;

public slots:
    void OnPrivateChat(QString i_user, QString i_chat, time_t i_time, bool i_spontaneous);
    void OnPrivateChatSent(QString i_user, QString i_chat);

private:
    // Stores a message and shows it.
    void StoreMessage(const QString& user, const QString& text, long long time, const char* direction);
    QTreeWidgetItem* RowOf(ItemPtr user) const;

    Ui_MessageListForm* mp_ui;
};
