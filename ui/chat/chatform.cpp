#include "ui/chat/chatform.h"

#include "app/actionsettoolbar.h"
#include "model/helpers.h"
#include "model/settings.h"
#include "model/timermanager.h"
#include "ui/chat/chatlog.h"

#include "ui_chatform.h"

#include <QDateTime>

ChatForm::ChatForm(QString user, QTabWidget* tabs, QWidget* parent)
    : QWidget(parent)
    , mp_ui(new Ui_ChatForm)
    , m_user(user)
    , mp_tabWidget(tabs)
{
    mp_ui->setupUi(this);
    if (actionBar)
        actionBar->RegisterWidget(this, "user_chat");
    if (timerManager)
        connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &ChatForm::CheckChatInactivity);
}

ChatForm::~ChatForm()
{
    delete mp_ui;
    // The link holds this form's address; a later message must find no form and make a new one.
    Data::Scope scope(&d);
    ItemPtr link = d.GetType("user_chat_widget")->HasItem(Value(this));
    if (link)
        link.Remove();
}

void ChatForm::AddChat(QString user, QString text)
{
    const QString mode = GetSetting("chat_timestamps");
    const QDateTime now = QDateTime::currentDateTime();
    QString line;
    if (mode == "per_message_short")
        line = "[" + ChatTimeShort(now) + "] ";
    else if (mode == "per_message_long")
        line = "[" + ChatTimeLong(now) + "] ";
    // Both come from the network: shown as text, never as markup.
    line += "<b>" + user.toHtmlEscaped() + "</b>: " + text.toHtmlEscaped();
    mp_ui->chatView->append(line);
}

void ChatForm::Focus()
{
    FocusWidget(mp_ui->chatEdit);
}

void ChatForm::CheckChatInactivity()
{
}
