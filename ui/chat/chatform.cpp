#include "ui/chat/chatform.h"

#include "app/actionsettoolbar.h"
#include "app/eventtoolbar.h"
#include "app/focus.h"
#include "app/usermenuoptions.h"
#include "model/helpers.h"
#include "model/settings.h"
#include "model/timermanager.h"
#include "server/server.h"
#include "ui/chat/chatdisplay.h"
#include "ui/chat/chatlog.h"

#include "ui_chatform.h"

#include <QDesktopServices>
#include <QMenu>
#include <QShowEvent>
#include <QTabWidget>

ChatForm::ChatForm(QString user, QTabWidget* tabs, QWidget* parent)
    : QWidget(parent)
    , mp_ui(new Ui_ChatForm)
    , m_user(user)
    , mp_tabWidget(tabs)
    , m_activity(ChatNow())
{
    mp_ui->setupUi(this);
    connect(mp_ui->chatEdit, &QLineEdit::returnPressed, this, &ChatForm::OnEnter);
    connect(mp_ui->chatView, &QWidget::customContextMenuRequested, this, &ChatForm::OnContextMenuRequested);
    connect(mp_ui->chatView, &QTextBrowser::anchorClicked, this, &ChatForm::OnURLClicked);

    Data::Scope scope(&d);
    ItemPtr userItem = d.GetType("user")->GetItem(Value(m_user));
    userItem += d.GetType("user_chat_widget")->GetItem(Value(this));

    RegisterWidgetForTabFocus(mp_ui->chatEdit, 1);
    if (timerManager)
        connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &ChatForm::CheckChatInactivity);
    if (actionBar) {
        actionBar->RegisterWidget(this, "user_chat");
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ChatForm::OnActionTriggered);
    }

    // The warning stays linked to the user: every new tab shows it again as the first own line.
    if (ItemPtr warning = userItem["sent_empty_share_warning_message"])
        AddChat(GetSetting("username"), warning.AsString());

    SubscribeAway(userItem, PathConnected, &ChatForm::OnUserAway);
    SubscribeAway(userItem, PathNotConnected, &ChatForm::OnUserAvailable);
    if (userItem.IsConnected("is_away"))
        AddStatusMessage(m_user + " is away.");
}

ChatForm::~ChatForm()
{
    delete mp_ui;
    mp_ui = nullptr;
    // The link holds this form's address; a later message must find no form and make a new one.
    Data::Scope scope(&d);
    ItemPtr link = d.GetType("user_chat_widget")->HasItem(Value(this));
    if (link)
        link.Remove();
}

void ChatForm::SubscribeAway(ItemPtr user, PathNodeRelation relation, void (ChatForm::*handler)(ItemPtr))
{
    auto* root = new PathNode(user);
    new PathNode(root, "is_away", relation);
    auto* h = new EventHandler<ChatForm, ItemPtr>(this, handler);
    AddDataHandler(h);
    d.AddPathEventHandler(root, h);
}

void ChatForm::AddChat(QString user, QString text)
{
    const QDateTime now = ChatNow();
    QString action;
    if (ChatAction(user, text, &action)) {
        // Actions are neither chat activity nor news worth an alert.
        AddStatusMessage(action);
        LogChat(user, text.trimmed(), now);
        return;
    }

    const QString mode = GetSetting("chat_timestamps");
    const QString started = m_activity.OnChatLine(mode, now);
    if (!started.isEmpty())
        AddStatusMessage(started);
    // Unlike a room's, a conversation's line is shown as received, untrimmed, and the view is
    // not bounded.
    AppendChatHtml(mp_ui->chatView, ChatLineHtml(mode, now, user, text));
    LogChat(user, text, now);
    // The entry is the partner's, whoever wrote the line.
    if (eventToolBar)
        eventToolBar->AddEvent(m_user, ":/icons/chat_icon", mp_ui->chatEdit, EventMessage(user, text));
}

QString ChatForm::EventMessage(const QString& author, const QString& text)
{
    const QString summary = text.size() > kSummaryLength ? text.left(kSummaryLength) + " ..." : text;
    return "[" + author + "] " + summary;
}

void ChatForm::AddStatusMessage(QString text)
{
    AppendChatHtml(mp_ui->chatView, ChatStatusHtml(text));
}

void ChatForm::LogChat(const QString& author, const QString& text, const QDateTime& time)
{
    ::LogChat(ChatLogKind::User, m_user, author, text, time);
}

void ChatForm::Focus()
{
    FocusWidget(mp_ui->chatEdit);
}

void ChatForm::showEvent(QShowEvent* event)
{
    if (eventToolBar)
        eventToolBar->RemoveEvent(mp_ui->chatEdit);
    QWidget::showEvent(event);
}

void ChatForm::OnEnter()
{
    const QString text = mp_ui->chatEdit->text();
    if (text.isEmpty())
        return;
    AddChat(GetSetting("username"), text);
    // A message that did not leave must not pass for one that did.
    if (!gp_server || !gp_server->SendPrivateChat(m_user, text))
        AddStatusMessage("Message not sent: not connected to the server.");
    mp_ui->chatEdit->clear();
}

void ChatForm::CheckChatInactivity()
{
    // The period ended with its last line, not with this tick.
    const QString ended = m_activity.OnTick(GetSetting("chat_timestamps"), ChatNow());
    if (!ended.isEmpty())
        AddStatusMessage(ended);
}

void ChatForm::OnContextMenuRequested(QPoint i_point)
{
    QMenu menu;
    UserMenuOptions options(&menu, m_user);
    menu.exec(mp_ui->chatView->viewport()->mapToGlobal(i_point));
}

void ChatForm::OnURLClicked(QUrl i_url)
{
    QDesktopServices::openUrl(i_url);
    mp_ui->chatEdit->setFocus(Qt::OtherFocusReason);
}

void ChatForm::OnActionTriggered(QWidget* ip_widget, QString i_action)
{
    if (ip_widget != this)
        return;
    if (i_action == QLatin1String("user_chat_log"))
        OpenChatLog(ChatLogKind::User, m_user, mp_tabWidget, this);
}

void ChatForm::OnUserAway(ItemPtr)
{
    AddStatusMessage(m_user + " is away.");
}

void ChatForm::OnUserAvailable(ItemPtr)
{
    AddStatusMessage(m_user + " is available.");
}
