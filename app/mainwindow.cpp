#include "app/mainwindow.h"

#include "app/actionsettoolbar.h"
#include "app/eventtoolbar.h"
#include "app/focus.h"
#include "app/newversiondialog.h"
#include "app/updatechecker.h"
#include "model/datasaver.h"
#include "model/delayedinvoker.h"
#include "model/helpers.h"
#include "model/log.h"
#include "model/settings.h"
#include "model/timermanager.h"
#include "peer/peermessenger.h"
#include "server/server.h"
#include "shares/dnetmanager.h"
#include "shares/sharedfoldersmanager.h"
#include "transfers/transferqueuemanager.h"

#include "ui_mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QIcon>
#include <QMessageBox>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QShortcut>

MainWindow* mainWindow = nullptr;
const qint64 g_currentVersion = 20120805;
QPalette defaultPalette;

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
    , m_sizeProxy(this)
    , mp_updateChecker(new UpdateChecker(nullptr))
{
    // The icons live in a static library; without this their resources are never registered.
    Q_INIT_RESOURCE(resources);

    mainWindow = this;
    ui->setupUi(this);
    SetApplicationIcon(":/icons/offline_icon");

    QTreeWidget* rooms = ui->roomList;
    rooms->headerItem()->setText(0, "Room Name");
    rooms->headerItem()->setText(1, "Users");
    rooms->setColumnWidth(0, 150);
    rooms->setColumnWidth(1, 30);
    ui->roomSplitter->setStretchFactor(0, 1);
    ui->roomSplitter->setStretchFactor(1, 0);
    rooms->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(rooms, &QWidget::customContextMenuRequested, this, &MainWindow::OnRoomListContextMenuRequested);

    QTreeWidget* folders = ui->sharedFoldersList;
    folders->headerItem()->setText(0, "Shared folder");
    folders->headerItem()->setText(1, "Accessible to");
    folders->setColumnWidth(0, 400);

    // The developer windows are reached by key only: the action sits in no menu.
    ui->action_Data->setShortcut(QKeySequence("Ctrl+Shift+D"));
    addAction(ui->action_Data);
    connect(ui->action_Data, &QAction::triggered, this, &MainWindow::OnShowData);
    connect(new QShortcut(QKeySequence("Ctrl+Shift+T"), this), &QShortcut::activated, this,
            &MainWindow::OnTypeNavigator);
}

MainWindow::~MainWindow()
{
    // From here on the toolbars ignore the focus changes and deaths that tearing down causes.
    g_showIsOver = true;

    delete mp_dataDialog;
    mp_dataDialog = nullptr;
    delete mp_typeNavigatorDialog;
    mp_typeNavigatorDialog = nullptr;

    // The final save comes before any component goes, after the connection is closed and
    // unreachable items are collected.
    if (mp_server)
        mp_server->Disconnect();
    if (dataSaver) {
        d.RemoveDisconnectedItems();
        dataSaver->Save(SaveFilePath());
    }

    // Components that own threads go first: they wait for those threads, which report to
    // the components deleted after them. The globals are cleared so that the views, which
    // die with the window's children below, find them gone rather than dangling.
    delete transferQueueManager;
    transferQueueManager = nullptr;
    delete sharedFoldersManager;
    sharedFoldersManager = nullptr;
    delete delayedInvoker;
    delayedInvoker = nullptr;
    delete dnetManager;
    dnetManager = nullptr;
    delete peerMessenger;
    peerMessenger = nullptr;
    delete mp_server;
    mp_server = nullptr;
    gp_server = nullptr;

    delete dataSaver;
    dataSaver = nullptr;
    // The children die after this body, with this class's part already gone: none of their
    // last signals may reach a slot here.
    disconnect(qApp, nullptr, this, nullptr);
    for (QObject* child : findChildren<QObject*>())
        disconnect(child, nullptr, this, nullptr);
    delete timerManager;
    timerManager = nullptr;
    delete ui;
    ui = nullptr;
    delete sizeManager;
    sizeManager = nullptr;

    delete mp_updateChecker;
    mp_updateChecker = nullptr;
    if (mainWindow == this)
        mainWindow = nullptr;
}

QString MainWindow::SaveFilePath()
{
    return QDir::homePath() + "/.Tavrinel";
}

// ---------------------------------------------------------------- application icon and tray

void MainWindow::SetApplicationIcon(const QString& path)
{
    // Every focus change restores the normal icon; setting the same icon again would still walk
    // every widget of the program to tell the windows, once per focus change.
    if (path == m_applicationIcon)
        return;
    m_applicationIcon = path;
    const QIcon icon(path);
    QApplication::setWindowIcon(icon);
    setWindowIcon(icon);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        m_trayIcon.setIcon(icon);
}

void MainWindow::ResetApplicationIcon()
{
    if (!mp_server || !mp_server->IsConnected()) {
        SetApplicationIcon(":/icons/offline_icon");
        return;
    }
    if (GetSetting("availability_status") == "available") {
        SetApplicationIcon(":/icons/online_icon");
        return;
    }
    if (GetSetting("show_away_status_in_application_icon") == "yes")
        SetApplicationIcon(":/icons/away_icon");
    else
        SetApplicationIcon(":/icons/online_icon");
}

void MainWindow::PopupAlert(const QString& text)
{
    // Notification servers read the body as markup: escaped, a peer's tags show as typed
    // instead of taking effect.
    const QString body = EscapeHTML(text);
    emit AlertPopped(body);
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_trayIcon.showMessage(QString(), body, QSystemTrayIcon::Information, 10000);
}

void MainWindow::OnTrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger)
        return;
    showNormal();
    activateWindow();
}

void SetApplicationIcon(const QString& path)
{
    if (mainWindow)
        mainWindow->SetApplicationIcon(path);
}

void ResetApplicationIcon()
{
    if (mainWindow)
        mainWindow->ResetApplicationIcon();
}

// ---------------------------------------------------------------- connection status

void MainWindow::SetConnectActionText(const QString& text)
{
    if (actionBar)
        actionBar->SetWidgetActionText(ui->loginOptionsTab, "connect_disconnect", text);
}

void MainWindow::OnConnecting()
{
    SetConnectActionText("Connecting...");
}

void MainWindow::OnConnected()
{
    SetConnectActionText("Disconnect");
    SetApplicationIcon(":/icons/online_icon");
    if (mp_server)
        mp_server->GetOwnPrivilegesStatus();
    SetSetting("enable_private_room_add", "no");
}

void MainWindow::OnDisconnected()
{
    SetConnectActionText("Connect");
    SetApplicationIcon(":/icons/offline_icon");
}

void MainWindow::OnConnectionFailed(QString reason)
{
    QString title;
    QString text;
    if (reason == "INVALIDPASS") {
        title = "Login Failure: Wrong Password";
        text = "Login failed. The password you supplied does not match your username. Please change your login "
               "settings in the Options tab and try reconnecting.";
    } else if (reason == "INVALIDUSERNAME") {
        title = "Login Failure: Username is Invalid";
        text = "Login failed. The username you supplied is invalid. Please change your login settings in the "
               "Options tab and try reconnecting.";
    } else if (!mp_server || !mp_server->IsAbruptlyDisconnected()) {
        title = "Login Failure";
        text = QString("Login failed. Reported failure reason: %1. Please change your login settings in the Options "
                       "tab and try reconnecting.")
                   .arg(reason);
    }

    if (!title.isEmpty()) {
        // The reason is the server's text: shown as plain text, never interpreted as markup.
        // The box is modal to the user but does not spin an event loop of its own: this slot
        // runs inside the server connection's message handling, which must not be re-entered.
        auto* box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, this);
        box->setTextFormat(Qt::PlainText);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::ApplicationModal);
        box->show();
    }
    SetConnectActionText("Connect");
}

// ---------------------------------------------------------------- geometry

int MainWindow::SizeProxy::GetX()
{
    return mp_window->geometry().x();
}

int MainWindow::SizeProxy::GetY()
{
    return mp_window->geometry().y();
}

int MainWindow::SizeProxy::GetWidth()
{
    return mp_window->geometry().width();
}

int MainWindow::SizeProxy::GetHeight()
{
    return mp_window->geometry().height();
}

void MainWindow::SizeProxy::SetPosition(int i_x, int i_y)
{
    QRect geometry = mp_window->geometry();
    geometry.moveTo(i_x, i_y);
    mp_window->setGeometry(geometry);
}

void MainWindow::SizeProxy::SetSize(int i_width, int i_height)
{
    QRect geometry = mp_window->geometry();
    geometry.setSize(QSize(i_width, i_height));
    mp_window->setGeometry(geometry);
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    // A maximized window's geometry is not the one to restore next time.
    if (!isMaximized())
        emit m_sizeProxy.WindowMoved(event->pos().x(), event->pos().y());
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (!isMaximized())
        emit m_sizeProxy.WindowResized(event->size().width(), event->size().height());
}

// ---------------------------------------------------------------- timers, focus, version

void MainWindow::EveryHalfMinute()
{
}

void MainWindow::EveryFiveMinutes()
{
    d.RemoveDisconnectedItems();
    const QString path = SaveFilePath();
    Log("Configuration Data", 1, QString("Saving configuration data to %1").arg(path));
    if (dataSaver)
        dataSaver->Save(path);
}

void MainWindow::OnFocusChanged(QWidget* old, QWidget* now)
{
    Q_UNUSED(old);
    Q_UNUSED(now);
}

void MainWindow::OnNewVersion(qint64 version, QString text, QStringList lines)
{
    auto* dialog = new NewVersionDialog(version, text, lines, this);
    dialog->setWindowFlags(dialog->windowFlags() | Qt::WindowStaysOnTopHint);
    dialog->show();
}
