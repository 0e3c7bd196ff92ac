#include "ui/chat/chatform.h"

#include "app/actionsettoolbar.h"
#include "app/eventtoolbar.h"
#include "app/focus.h"
#include "app/usermenuoptions.h"
#include "model/helpers.h"
#include "model/settings.h"
#include "model/timermanager.h"
#include "server/server.h"
#include "ui/chat/chatclock.h"
#include "ui/chat/chatlog.h"

#include "ui_chatform.h"

#include <QColor>
#include <QDesktopServices>
#include <QMenu>
#include <QShowEvent>
#include <QTabWidget>

namespace {

// A colour setting as a colour name. The setting comes from the save file and ends up inside
// markup: anything but a colour gives way to the default.
QString SettingColor(const char* key, const char* fallback)
{
    const QColor color(GetSetting(key));
    return (color.isValid() ? color : QColor(fallback)).name();
}

QString Colored(const QString& color, const QString& html)
{
    return "<font color=\"" + color + "\">" + html + "</font>";
}

// The time stamp that opens a chat line in the given mode; empty where the mode shows none.
QString TimeStampPrefix(const QString& mode, const QDateTime& time)
{
    QString stamp;
    if (mode == QLatin1String("per_message_short"))
        stamp = ChatTimeShort(time);
    else if (mode == QLatin1String("per_message_long"))
        stamp = ChatTimeLong(time);
    else
        return QString();
    return "[" + Colored(SettingColor("color_chat_timestamp", "#0066ff"), stamp) + "]";
}

// "[author] text" as shown: both come from the network, so both are escaped before the links
// of the finished line are made.
QString ChatLineHtml(const QString& prefix, const QString& author, const QString& text)
{
    return ConvertLinks(prefix + "[" + Colored(SettingColor("color_chat_username", "#0033ff"), EscapeHTML(author)) +
                        "] " + EscapeHTML(text));
}

QString StatusLineHtml(const QString& text)
{
    return ConvertLinks("* " + Colored(SettingColor("color_chat_status", "#339933"), EscapeHTML(text)));
}

// The text of an action ("/me waves" gives "waves"), or a null string for an ordinary line.
QString ActionText(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (!trimmed.startsWith(QLatin1String("/me ")))
        return QString();
    return trimmed.mid(4).trimmed();
}

}  // namespace

ChatForm::ChatForm(QString user, QTabWidget* tabs, QWidget* parent)
    : QWidget(parent)
    , mp_ui(new Ui_ChatForm)
    , m_user(user)
    , mp_tabWidget(tabs)
{
    mp_ui->setupUi(this);
    connect(mp_ui->chatEdit, &QLineEdit::returnPressed, this, &ChatForm::OnEnter);
    connect(mp_ui->chatView, &QWidget::customContextMenuRequested, this, &ChatForm::OnContextMenuRequested);
    connect(mp_ui->chatView, &QTextBrowser::anchorClicked, this, &ChatForm::OnURLClicked);

    Data::Scope scope(&d);
    ItemPtr userItem = d.GetType("user")->GetItem(Value(m_user));
    userItem += d.GetType("user_chat_widget")->GetItem(Value(this));

    RegisterWidgetForTabFocus(mp_ui->chatEdit, 1);
    m_isChatActive = false;
    m_lastChatTime = ChatClockNow();
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
    const QDateTime now = ChatClockNow();
    const QString action = ActionText(text);
    if (!action.isNull()) {
        // Actions are neither chat activity nor news worth an alert.
        AddStatusMessage(user + ' ' + action);
        LogChat(user, text.trimmed(), now);
        return;
    }

    const QString mode = GetSetting("chat_timestamps");
    m_lastChatTime = now;
    if (!m_isChatActive) {
        m_isChatActive = true;
        if (mode == QLatin1String("activity_based"))
            AddStatusMessage("Chat started " + ChatTimeLong(now));
    }
    mp_ui->chatView->append(ChatLineHtml(TimeStampPrefix(mode, now), user, text));
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
    mp_ui->chatView->append(StatusLineHtml(text));
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
    if (!m_isChatActive || m_lastChatTime.msecsTo(ChatClockNow()) < kChatInactivityMs)
        return;
    m_isChatActive = false;
    // The period ended with its last line, not with this tick.
    if (GetSetting("chat_timestamps") == QLatin1String("activity_based"))
        AddStatusMessage("Chat ended " + ChatTimeLong(m_lastChatTime));
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
