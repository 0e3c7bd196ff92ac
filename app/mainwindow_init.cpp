// Start-up: the order in which the components are made, the defaults written, the save file
// loaded and the window given its first state. Each constructor connects to the components
// made before it, and every saved type must exist before the load, or its items are dropped.

#include "app/mainwindow.h"

#include "app/actionsettoolbar.h"
#include "app/eventtoolbar.h"
#include "app/focus.h"
#include "app/updatechecker.h"
#include "model/datasaver.h"
#include "model/delayedinvoker.h"
#include "model/diagnosticsform.h"
#include "model/itemlog.h"
#include "model/log.h"
#include "model/settings.h"
#include "model/sizemanager.h"
#include "model/timermanager.h"
#include "peer/peermessenger.h"
#include "server/server.h"
#include "server/wishlistsearcher.h"
#include "shares/dnetmanager.h"
#include "shares/sharedfoldersmanager.h"
#include "transfers/transferqueuemanager.h"
#include "ui/search/searchform.h"
#include "ui/search/sharesform.h"
#include "ui/chat/messagelistform.h"
#include "ui/settings/changeusernamepassworddialog.h"
#include "ui/transfers/transfersform.h"
#include "ui/users/userlistform.h"
#include "ui/users/usernotedialog.h"

#include "ui_mainwindow.h"

#include <QApplication>
#include <QColor>
#include <QMessageBox>
#include <QTextCodec>

void MainWindow::Init()
{
    const qint64 v = g_currentVersion;
    setWindowTitle(QString("TavrinelQt build %1/%2/%3").arg((v / 100) % 100).arg(v % 100).arg(v / 10000));

    mp_dataDialog = nullptr;
    mp_typeNavigatorDialog = nullptr;

    new TimerManager();
    new DataSaver();
    mp_server = new Server();

    DeclareSettingTypes();
    dataSaver->AddSavedType("global");
    dataSaver->AddSavedByConnectionType("global_value", "global");

    mp_server->CreateData();
    DeclareItemLogTypes();

    connect(mp_server, &Server::Connected, this, &MainWindow::OnConnected);
    connect(mp_server, &Server::Connecting, this, &MainWindow::OnConnecting);
    connect(mp_server, &Server::Disconnected, this, &MainWindow::OnDisconnected);
    connect(ui->roomList, &QTreeWidget::itemDoubleClicked, this, &MainWindow::OnRoomListItemDoubleClicked);

    Type* room = d.GetType("room");
    Type* roomNode = d.NewType("room_node", PrimacyRoot, false, true);
    room->RelateToType(roomNode, One, One, false);
    AddHandler(room->itemAdded, this, &MainWindow::OnRoomAdded);
    SubscribePath("room", "user_count", PathConnected, &MainWindow::OnRoomUserCountChanged);
    SubscribePath("room", "is_owner", PathConnected, &MainWindow::OnBecomingRoomOwner);
    SubscribePath("room", "is_operator", PathConnected, &MainWindow::OnBecomingRoomOperator);
    SubscribePath("room", "is_member", PathConnected, &MainWindow::OnBecomingRoomMember);
    SubscribePath("room", "is_member", PathNotConnected, &MainWindow::OnLosingRoomRole);
    SubscribePath("room", "is_operator", PathNotConnected, &MainWindow::OnLosingRoomRole);
    SubscribePath("room", "is_owner", PathNotConnected, &MainWindow::OnLosingRoomRole);
    ui->roomList->sortItems(0, Qt::AscendingOrder);
    auto* entered = new EventHandler<MainWindow, ConnectionInfo&>(this, &MainWindow::OnEnteredRoom);
    AddDataHandler(entered);
    d.AddConnectionEventHandler(room, d.GetType("in_room"), entered);

    actionBar->Init();
    DeclareActionSets();
    connect(ui->mainToolBar, &ActionSetToolBar::ActionTriggered, this, &MainWindow::OnToolBarActionTriggered);
    connect(qApp, &QApplication::focusChanged, this, &MainWindow::OnFocusChanged);

    new PeerMessenger();
    DeclareMainWindowTypes();

    new DelayedInvoker();
    new DNetManager();
    new SharedFoldersManager(this);

    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_trayIcon.setIcon(QIcon(":/icons/offline_icon"));

    Type* user = d.GetType("user");
    user->RelateToType(d.NewType("user_chat_widget", PrimacyRoot, false, true), One, One, false);
    room->RelateToType(d.NewType("room_form", PrimacyRoot, false, true), One, One, false);
    connect(mp_server, &Server::PrivateChat, this, &MainWindow::OnPrivateChat);
    // A fixed first page of the chat tabs. Made before the load: the stored messages need its
    // types, and it rebuilds its rows once they are in.
    auto* messages = new MessageListForm(ui->chatTabControl);
    const int messagesTab =
        ui->chatTabControl->insertTab(0, messages, QIcon(":/icons/chat_icon"), QStringLiteral("Messages"));
    ui->chatTabControl->SetTabClosable(messagesTab, false);
    messages->Init();
    Type* sharedFolder = d.GetType("shared_folder");
    AddHandler(sharedFolder->itemAdded, this, &MainWindow::OnSharedFolderAdded);
    AddHandler(sharedFolder->itemRemoved, this, &MainWindow::OnSharedFolderRemoved);
    AddHandler(sharedFolder->connected, this, &MainWindow::OnSharedFolderChange);
    AddHandler(sharedFolder->disconnected, this, &MainWindow::OnSharedFolderChange);

    new SizeManager();
    ui->diagnosticsForm->Init();
    new TransferQueueManager();
    ui->transfersForm->Init();
    ui->sharesForm->Init();
    ui->searchForm->Init();
    new WishListSearcher(this);

    setContextMenuPolicy(Qt::NoContextMenu);
    auto* events = new EventToolBar(nullptr);
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, events);

    SubscribeSettingPath("username", PathConnected, &MainWindow::OnUsernameChanged);
    connect(mp_server, &Server::ConnectionFailed, this, &MainWindow::OnConnectionFailed);

    WriteDefaultSettings();
    WriteColorDefaults();

    connect(ui->logRoomChatCheckBox, &QCheckBox::clicked, this, &MainWindow::OnLogRoomChatCheckBoxClicked);
    connect(ui->logPrivateChatCheckBox, &QCheckBox::clicked, this, &MainWindow::OnLogPrivateChatCheckBoxClicked);
    connect(ui->emptyShareWarningCheckBox, &QCheckBox::clicked, this,
            &MainWindow::OnEmptyShareWarningMessageCheckBoxClicked);
    SubscribeSettingPath("obfuscated_listening_port", PathConnectedTrigger, &MainWindow::OnObfuscatedPortSet);
    connect(ui->maxUploadsPerUserSpinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged);

    new ExtendedAsciiTranslator();
    ui->codePageBox->addItem("[None]");
    for (const QByteArray& name : QTextCodec::availableCodecs())
        ui->codePageBox->addItem(QString::fromLatin1(name));
    connect(ui->codePageBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::OnCodePageSelected);

    LoadSaveFile();
    ApplyLoadedSettings();
    FirstRunAndConnect();

    ApplyOptionsFirstState();
    SubscribeSettingPath("new_listening_port", PathConnected, &MainWindow::OnNewListeningPortChanged);
    const QString stamps = GetSetting("chat_timestamps");
    ui->chatTimestampsBox->setCurrentIndex(stamps == "activity_based"      ? 0
                                           : stamps == "per_message_short" ? 1
                                           : stamps == "per_message_long"  ? 2
                                                                           : 3);

    RegisterGeometry();

    ui->userListForm->Init();
    connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &MainWindow::EveryHalfMinute);
    connect(timerManager->everyFiveMinutes(), &QTimer::timeout, this, &MainWindow::EveryFiveMinutes);
    connect(&m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::OnTrayIconActivated);

    UserNoteDialog::Init();
    activateWindow();

    // The first rescan reports before anyone listens, so it shows no dialog.
    sharedFoldersManager->Init();
    connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned, this,
            &MainWindow::OnSharedFilesRescanned);

    RegisterWidgetForTabFocus(ui->usernameEdit, 1);
    RegisterWidgetForTabFocus(ui->sharedFoldersList, 1);
    connect(mp_server, &Server::PrivateRoomAddEnabled, this, &MainWindow::OnPrivateRoomAddEnabled);
    SubscribePath("user", "is_online", PathConnectedTrigger, &MainWindow::OnUserOnline);
    SubscribePath("user", "is_online", PathNotConnected, &MainWindow::OnUserOffline);

    Type* chatLogForm = d.NewType("chat_log_form", PrimacyRoot, false, true);
    chatLogForm->RelateToType(room, One, One, false);
    chatLogForm->RelateToType(user, One, One, false);
    DeclareLateActionSets();

    ApplyLateOptionsFirstState();
    connect(ui->emptyShareWarningEdit, &QLineEdit::textEdited, this, &MainWindow::OnEmptyShareWarningEditEdited);
    connect(ui->saveEmptyShareWarningMessageButton, &QPushButton::clicked, this,
            &MainWindow::OnSaveEmptyShareWarningMessageButtonClicked);

    mp_updateChecker->Init();
    connect(mp_updateChecker, &UpdateChecker::NewVersion, this, &MainWindow::OnNewVersion);

    ui->maxUploadsPerUserSpinBox->setValue(GetSettingInt("max_queued_uploads_per_user"));
    ui->sharedFoldersList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->sharedFoldersList, &QWidget::customContextMenuRequested, this,
            &MainWindow::OnSharedFoldersListContextMenuRequested);
    ui->userPictureFilenameEdit->setText(GetSetting("user_picture_file"));
    ui->userDescriptionEdit->setPlainText(GetSetting("user_description"));
    if (GetSetting("show_away_status_in_application_icon") == "yes")
        ui->showAwayStatusCheckBox->setChecked(true);
}

void MainWindow::SubscribePath(const char* rootType, const char* childType, PathNodeRelation relation,
                               void (MainWindow::*handler)(ItemPtr))
{
    auto* root = new PathNode(&d, rootType);
    new PathNode(root, childType, relation);
    auto* h = new EventHandler<MainWindow, ItemPtr>(this, handler);
    AddDataHandler(h);
    d.AddPathEventHandler(root, h);
}

void MainWindow::SubscribeSettingPath(const char* key, PathNodeRelation relation,
                                      void (MainWindow::*handler)(ItemPtr))
{
    auto* root = new PathNode(d.GetType("global")->GetItem(key));
    new PathNode(root, "global_value", relation);
    auto* h = new EventHandler<MainWindow, ItemPtr>(this, handler);
    AddDataHandler(h);
    d.AddPathEventHandler(root, h);
}

void MainWindow::DeclareMainWindowTypes()
{
    Type* wish = d.NewType("wish_list_item", PrimacyRoot, false, true);
    Type* wishEnabled = d.NewType("wish_list_item_enabled", PrimacyLeaf, true, true);
    wish->RelateToType(wishEnabled, Many, One, false);
    dataSaver->AddSavedType("wish_list_item");
    dataSaver->AddSavedType("wish_list_item_enabled");

    Type* note = d.NewType("user_note", PrimacyReachable, false, true);
    d.GetType("user")->RelateToType(note, Many, One, false);
    dataSaver->AddSavedType("user_note");
    dataSaver->AddSavedByConnectionType("user_note", "user");
    // A link is saved only when both its ends are: without its user a note would come back
    // from the save file attached to nobody.
    dataSaver->AddSavedByConnectionType("user", "user_note");
}

void MainWindow::DeclareActionSets()
{
    ActionSetToolBar* bar = actionBar;
    bar->AddSetAction("room_list", "create_room", "Create Room", ":/icons/room_icon", false);
    bar->AddSetAction("room_list", "refresh_room_list", "Refresh Room List", ":/icons/room_icon", false);
    bar->AddSetAction("room_list", "enable_private_room_add", "Accept Private Room Invitations", ":/icons/room_icon",
                      false);
    bar->RegisterWidget(ui->roomList, "room_list");
    bar->AddWidgetColumnKey(ui->roomList, "room", 0);

    bar->AddSetAction("room", "toggle_room_autojoin", "Toggle Room Autojoin", ":/icons/room_icon", false);
    bar->AddSetAction("room", "room_chat_log", "Chat Log", ":/icons/note_icon", false);
    bar->AddSetAction("room", "give_up_membership", "Give Up Membership", ":/icons/room_icon", false);
    bar->AddSetAction("room", "give_up_ownership", "Give Up Room", ":/icons/room_icon", false);

    bar->AddSetAction("shared_folders", "set_download_folder", "Set Download Folder", ":/icons/browse_icon", false);
    bar->AddSetAction("shared_folders", "share_folder", "Share Folder", ":/icons/browse_icon", false);
    bar->AddSetAction("shared_folders", "rescan_shares", "Rescan Shares", ":/icons/browse_icon", false);
    bar->RegisterWidget(ui->fileSharingOptionsTab, "shared_folders");

    bar->AddSetAction("login_options", "connect_disconnect", "Connect", ":icons/online_icon", false);
    bar->AddSetAction("login_options", "set_user_pass", "Change Username/Password", ":icons/online_icon", false);
    bar->AddSetAction("login_options", "set_listening_port", "Change Listening Port", ":icons/online_icon", false);
    bar->RegisterWidget(ui->loginOptionsTab, "login_options");

    bar->AddSetAction("user", "message_user", "Message User", ":/icons/chat_icon", true);
    bar->AddSetAction("user", "browse_user", "Browse User's Files", ":/icons/browse_icon", true);
    bar->AddSetAction("user", "add_user", "Add User", ":/icons/add_user_icon", true);
}

void MainWindow::DeclareLateActionSets()
{
    actionBar->AddSetAction("chat_log", "clear_chat_log", "Clear Log", ":/icons/empty_note_icon", false);
    actionBar->AddSetAction("chat_log", "open_log_folder", "Open Log Folder", ":/icons/browse_icon", false);
    actionBar->AddSetAction("user_chat", "user_chat_log", "Chat Log", ":/icons/note_icon", false);
}

// Written before the load, so that stored values replace them.
void MainWindow::WriteDefaultSettings()
{
    SetSetting("minimize_to_tray", "yes");
    SetSetting("expand_new_shares", "yes");
    SetSetting("chat_timestamps", "activity_based");
    // The maker's web host (version check, port test), a setting so a save file can move it.
    SetSetting("web_host", kDefaultWebHost);
}

void MainWindow::WriteColorDefaults()
{
    defaultPalette = QApplication::palette();
    const auto roleColor = [](QPalette::ColorRole role) { return Value(defaultPalette.color(role).name()); };
    SetSetting("color_window_background", roleColor(QPalette::Window));
    SetSetting("color_window_text", roleColor(QPalette::WindowText));
    SetSetting("color_input_background", roleColor(QPalette::Base));
    SetSetting("color_input_text", roleColor(QPalette::Text));
    SetSetting("color_button_background", roleColor(QPalette::Button));
    SetSetting("color_button_text", roleColor(QPalette::ButtonText));
    SetSetting("color_transfer_queued", QColor(51, 102, 255).name());
    SetSetting("color_transfer_complete", QColor(0, 100, 0).name());
    SetSetting("color_transfer_in_progress", QColor(0, 0, 255).name());
    SetSetting("color_transfer_failed", QColor(255, 10, 71).name());
    SetSetting("color_transfer_other", QColor(0, 0, 0).name());
    SetSetting("color_chat_username", QColor(0, 51, 255).name());
    SetSetting("color_chat_timestamp", QColor(0, 102, 255).name());
    SetSetting("color_chat_status", QColor(51, 153, 51).name());
    SetSetting("log_room_chat", "yes");
    SetSetting("log_private_chat", "yes");
}

void MainWindow::LoadSaveFile()
{
    const QString path = SaveFilePath();
    Log("Configuration Data", 1, QString("Loading configuration data from %1").arg(path));
    // A damaged file leaves the graph as the constructors made it (defaults included) and is
    // kept aside by the loader, so the user loses nothing that could still be recovered.
    if (dataSaver->Load(path) != DataSaver::LoadResult::Damaged) {
        Log("Configuration Data", 1, "Data loaded successfully.");
        return;
    }
    Log("Configuration Data", 1, "Failure to load configuration data.");
    QMessageBox box(QMessageBox::Information, "Error loading configuration data",
                    "Your client configuration data could not be loaded. Starting from scratch...", QMessageBox::Ok,
                    this);
    box.exec();
}

void MainWindow::ApplyLoadedSettings()
{
    const QString codePage = GetSetting("extended_ascii_codepage");
    if (!codePage.isEmpty()) {
        const int index = ui->codePageBox->findData(codePage, Qt::DisplayRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            ui->codePageBox->setCurrentIndex(index);
    }

    QPalette palette = defaultPalette;
    const std::pair<const char*, QPalette::ColorRole> colors[] = {
        {"color_window_background", QPalette::Window}, {"color_window_text", QPalette::WindowText},
        {"color_input_background", QPalette::Base},    {"color_input_text", QPalette::Text},
        {"color_button_background", QPalette::Button}, {"color_button_text", QPalette::ButtonText},
    };
    for (const auto& entry : colors) {
        const QString name = GetSetting(entry.first);
        // After a damaged save file the colours have no value; the start-up colours stay.
        if (!QColor::isValidColor(name))
            continue;
        palette.setBrush(QPalette::All, entry.second, QBrush(QColor(name)));
    }
    QApplication::setPalette(palette);

    SetSetting("data_version", "1");
}

void MainWindow::FirstRunAndConnect()
{
    if (!HasSetting("username")) {
        ChangeUsernamePasswordDialog dialog(true, nullptr);
        dialog.exec();
    }
    if (HasSetting("username"))
        mp_server->Connect();
}

void MainWindow::ApplyOptionsFirstState()
{
    ui->downloadFolderEdit->setText(GetSetting("download_folder"));
    ui->uPnPCheckBox->setChecked(IsSettingOn("use_upnp"));
    ui->autoExpandSharesCheckBox->setChecked(IsSettingOn("expand_new_shares"));
    if (IsSettingOn("minimize_to_tray")) {
        ui->minimizeToTrayCheckBox->setChecked(true);
        // Without a tray the icon would be shown nowhere; the window never hides into it.
        if (QSystemTrayIcon::isSystemTrayAvailable())
            m_trayIcon.setVisible(true);
    }
    ui->listeningPortEdit->setText(GetSetting("listening_port"));
}

void MainWindow::ApplyLateOptionsFirstState()
{
    ui->logRoomChatCheckBox->setChecked(IsSettingOn("log_room_chat"));
    ui->logPrivateChatCheckBox->setChecked(IsSettingOn("log_private_chat"));
    ui->emptyShareWarningCheckBox->setChecked(IsSettingOn("check_for_empty_shares"));
    ui->emptyShareWarningEdit->setText(GetSetting("empty_share_message"));
    ui->emptyShareWarningEdit->setCursorPosition(0);
    ui->acceptUserListUploadsCheckBox->setChecked(IsSettingOn("accept_userlist_uploads"));
}

void MainWindow::RegisterGeometry()
{
    sizeManager->RegisterResizableWindow("main_window", &m_sizeProxy);
    ui->roomSplitter->setSizes({width() - 220, 220});
    sizeManager->RegisterSplitter("room_list_splitter", ui->roomSplitter, QList<int>());
    sizeManager->RegisterTreeWidget("room_list", ui->roomList);
}
