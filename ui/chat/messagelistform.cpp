#include "ui/chat/messagelistform.h"

#include "model/settings.h"
#include "server/server.h"
#include "ui/chat/chatdisplay.h"
#include "ui/chat/chatlog.h"

#include "ui_messagelistform.h"

#include <QHeaderView>
#include <QTreeWidget>

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

Type* DeclareType(const char* name, Primacy primacy, bool null)
{
    if (Type* type = d.HasType(name))
        return type;
    return d.NewType(name, primacy, null, true);
}

void Relate(Type* a, Type* b, OneOrMany aPerB, OneOrMany bPerA)
{
    if (!a->IsRelated(b))
        a->RelateToType(b, aPerB, bPerA, false);
}

}  // namespace

MessageListForm::MessageListForm(QWidget* parent)
    : QWidget(parent)
    , mp_ui(new Ui_MessageListForm)
{
    mp_ui->setupUi(this);
    QTreeWidget* list = mp_ui->messageList;
    list->setColumnCount(3);
    list->setHeaderLabels({QString(), "User", QString()});
    list->setColumnWidth(0, 150);
    list->setColumnWidth(1, 200);
    list->header()->setStretchLastSection(true);
    list->header()->setSectionsMovable(false);
    list->setSortingEnabled(false);
}

MessageListForm::~MessageListForm()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    // The nodes hold the rows' addresses, which die with this list.
    Data::Scope scope(&d);
    if (Type* nodes = d.HasType("message_list_node"))
        for (int k = 0; k < mp_ui->messageList->topLevelItemCount(); ++k)
            if (ItemPtr node = nodes->HasItem(Value(mp_ui->messageList->topLevelItem(k))))
                node.Remove();
    delete mp_ui;
}

QTreeWidget* MessageListForm::messageList() const
{
    return mp_ui->messageList;
}

void MessageListForm::Init()
{
    // Declared only once per process: a list made again (as tests do) shares the types.
    Type* message = DeclareType("private_message", PrimacyRoot, true);
    Type* time = DeclareType("private_message_time", PrimacyLeaf, false);
    Type* text = DeclareType("private_message_text", PrimacyLeaf, false);
    Type* direction = DeclareType("private_message_direction", PrimacyLeaf, false);
    Type* node = DeclareType("message_list_node", PrimacyRoot, false);
    Type* user = d.GetType("user");
    Relate(message, time, Many, One);
    Relate(message, text, Many, One);
    Relate(message, direction, Many, One);
    Relate(message, user, Many, One);
    Relate(user, node, One, One);

    if (dataSaver) {
        dataSaver->AddSavedType("private_message");
        dataSaver->AddSavedByConnectionType("private_message_time", "private_message");
        dataSaver->AddSavedByConnectionType("private_message_text", "private_message");
        dataSaver->AddSavedType("private_message_direction");
        dataSaver->AddSavedByConnectionType("user", "private_message");
        dataSaver->AddDataLoadedEventHandler(this);
    }
    if (gp_server) {
        connect(gp_server, &Server::PrivateChat, this, &MessageListForm::OnPrivateChat);
        connect(gp_server, &Server::PrivateChatSent, this, &MessageListForm::OnPrivateChatSent);
    }
}

void MessageListForm::DataLoaded()
{
    Data::Scope scope(&d);
    Type* type = d.HasType("private_message");
    if (!type)
        return;
    std::vector<std::pair<long long, Item*>> messages;
    messages.reserve(type->ItemCount());
    for (Item* message : type->ItemsInOrder())
        messages.emplace_back(ItemPtr(message)["private_message_time"].AsInt64(), message);
    std::stable_sort(messages.begin(), messages.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    // Shown one by one, oldest first, every partner's row would end showing its latest message
    // in the order of those messages; showing only the latest ones gives the same rows without
    // moving a row for every stored message.
    std::unordered_map<Item*, size_t> latest;
    for (size_t k = 0; k < messages.size(); ++k)
        latest[ItemPtr(messages[k].second)["user"].get()] = k;
    QTreeWidget* list = mp_ui->messageList;
    list->setUpdatesEnabled(false);
    for (size_t k = 0; k < messages.size(); ++k)
        if (latest[ItemPtr(messages[k].second)["user"].get()] == k)
            AddMessageToList(messages[k].second);
    list->setUpdatesEnabled(true);
}

QTreeWidgetItem* MessageListForm::RowOf(ItemPtr user) const
{
    ItemPtr node = user["message_list_node"];
    return node ? ItemObject<QTreeWidgetItem>(node) : nullptr;
}

void MessageListForm::AddMessageToList(ItemPtr message)
{
    Data::Scope scope(&d);
    ItemPtr user = message ? message["user"] : ItemPtr();
    // A stored message that lost its partner (a damaged save) has no row to show it in.
    if (!user)
        return;
    QTreeWidget* list = mp_ui->messageList;
    QTreeWidgetItem* row = RowOf(user);
    if (row) {
        // Taken and put back, not rebuilt: the node keeps the row's address.
        const int index = list->indexOfTopLevelItem(row);
        if (index > 0)
            list->insertTopLevelItem(0, list->takeTopLevelItem(index));
    } else {
        row = new QTreeWidgetItem;
        list->insertTopLevelItem(0, row);
        row->setText(1, user.AsString());
        user += d.GetType("message_list_node")->GetItem(Value(row));
        if (gp_server)
            gp_server->TrackUser(user.AsString());
    }
    row->setText(0, ChatTimeLong(QDateTime::fromSecsSinceEpoch(message["private_message_time"].AsInt64())));
    const bool received = message["private_message_direction"].AsStdString() == "from";
    const QString author = received ? user.AsString() : GetSetting("username");
    row->setText(2, "[" + author + "] " + message["private_message_text"].AsString());
}

void MessageListForm::StoreMessage(const QString& user, const QString& text, long long time, const char* direction)
{
    Data::Scope scope(&d);
    ItemPtr message = d.GetType("private_message")->NewItem();
    message += d.GetType("user")->GetItem(Value(user));
    message += d.GetType("private_message_time")->GetItem(Value(time));
    message += d.GetType("private_message_text")->GetItem(Value(text));
    message += d.GetType("private_message_direction")->GetItem(Value(direction));
    AddMessageToList(message);
}

void MessageListForm::OnPrivateChat(QString i_user, QString i_chat, time_t i_time, bool)
{
    StoreMessage(i_user, i_chat, static_cast<long long>(i_time), "from");
}

void MessageListForm::OnPrivateChatSent(QString i_user, QString i_chat)
{
    StoreMessage(i_user, i_chat, ChatNow().toSecsSinceEpoch(), "to");
}
