// The application's one main window: the tabs, the Options page, the tray icon, and the
// start-up and shut-down of every long-lived component.
#pragma once

#include "model/data.h"
#include "model/sizemanager.h"

#include <QMainWindow>
#include <QPalette>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>

#include <ctime>

class ChatForm;
class QDialog;
class QMoveEvent;
class QResizeEvent;
class QTreeWidgetItem;
class Server;
class Ui_MainWindow;
class UpdateChecker;

// This build's date, yyyymmdd.
extern const qint64 g_currentVersion;
// The application palette as Qt gave it at start-up, before the colour settings apply.
extern QPalette defaultPalette;

class MainWindow : public QMainWindow, public DataHandler
{
    Q_OBJECT

public:
    // Lends the main window's geometry to the size manager.
    class SizeProxy : public ResizableWindow
    {
    public:
        explicit SizeProxy(MainWindow* window) : mp_window(window) {}

        int GetX() override;
        int GetY() override;
        int GetWidth() override;
        int GetHeight() override;
        void SetPosition(int i_x, int i_y) override;
        void SetSize(int i_width, int i_height) override;

    private:
        friend class MainWindow;
        MainWindow* mp_window;
    };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Creates every component, writes the defaults, loads the save file and connects.
    // Called once, after the window is shown and before the event loop runs.
    void Init();

    void SetApplicationIcon(const QString& path);
    void ResetApplicationIcon();
    // A tray balloon announcing an event; nothing when there is no system tray. The text is
    // plain text (it may hold what a peer wrote) and shows as such.
    void PopupAlert(const QString& text);

    // Private conversations.
    ChatForm* GetChatForm(const QString& user);
    void OpenChatForm(const QString& user);

    // The save file's path (in the home folder).
    static QString SaveFilePath();

    // For tests and start-up code that must reach the form.
    Ui_MainWindow* Form() const { return ui; }
    QSystemTrayIcon* TrayIcon() { return &m_trayIcon; }
    SizeProxy* GetSizeProxy() { return &m_sizeProxy; }

signals:
    // The body of each tray balloon as the notification gets it; given also without a system
    // tray, where nothing shows.
    void AlertPopped(QString body);

public slots:
    // Connection status.
    void OnConnecting();
    void OnConnected();
    void OnDisconnected();
    void OnConnectionFailed(QString reason);

    // Rooms.
    void OnRoomListItemDoubleClicked(QTreeWidgetItem* item, int column);
    void OnRoomListItemSelectionChanged();
    void OnRoomListContextMenuRequested(QPoint pos);
    void OnEnterRoom();
    void OnRoomTabClosed(int index);
    void OnPrivateRoomAddEnabled(bool enabled);

    // Private chats.
    void OnPrivateChat(QString user, QString text, time_t time, bool spontaneous);
    void OnChatTabClosed(int index);

    // Shared folders.
    void OnSharedFoldersListContextMenuRequested(QPoint pos);
    void OnUnshareFolder();
    void OnSetFolderPermissions();
    void OnSharedFilesRescanned(int added, int removed);
    void OnOptionsTabSelectionChanged(int index);

    // The Options page.
    void OnUPnPCheckboxToggled(bool checked);
    void OnMinimizeToTrayCheckboxToggled(bool checked);
    void OnExpandNewSharesCheckboxToggled(bool checked);
    void OnChatTimestampsBoxIndexChanged(int index);
    void OnSelectColors();
    void OnAcceptUserlistUploadsCheckboxToggled(bool checked);
    void OnSelectPictureClicked();
    void OnUserInfoTextChanged();
    void OnClearPictureClicked();
    void OnCheckPortsClicked();
    void OnShowAwayStatusClicked(bool checked);
    void OnLogRoomChatCheckBoxClicked(bool checked);
    void OnLogPrivateChatCheckBoxClicked(bool checked);
    void OnEmptyShareWarningMessageCheckBoxClicked(bool checked);
    void OnEmptyShareWarningEditEdited(QString text);
    void OnSaveEmptyShareWarningMessageButtonClicked();
    void OnMaxUploadsPerUserSpinBoxValueChanged(int value);
    void OnCodePageSelected(int index);

    // Toolbar actions and dialogs.
    void OnToolBarActionTriggered(QWidget* widget, QString id);
    void OnShowData();
    void OnTypeNavigator();
    void OnChangeUsernamePasswordClicked();
    void OnDisconnectClicked();

    // Timers, focus, tray and the version check.
    void EveryHalfMinute();
    void EveryFiveMinutes();
    void OnFocusChanged(QWidget* old, QWidget* now);
    void OnTrayIconActivated(QSystemTrayIcon::ActivationReason reason);
    void OnNewVersion(qint64 version, QString text, QStringList lines);

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Item-graph handlers.
    void OnRoomAdded(ItemPtr room);
    void OnRoomUserCountChanged(ItemPtr room);
    void OnBecomingRoomOwner(ItemPtr room);
    void OnBecomingRoomOperator(ItemPtr room);
    void OnBecomingRoomMember(ItemPtr room);
    void OnLosingRoomRole(ItemPtr room);
    void OnEnteredRoom(ConnectionInfo& info);
    void OnSharedFolderAdded(ItemPtr folder);
    void OnSharedFolderRemoved(ItemPtr folder);
    void OnSharedFolderChange(ConnectionInfo info);
    void OnUsernameChanged(ItemPtr key);
    void OnObfuscatedPortSet(ItemPtr key);
    void OnNewListeningPortChanged(ItemPtr key);
    void OnUserOnline(ItemPtr user);
    void OnUserOffline(ItemPtr user);

    // Steps of Init.
    void DeclareMainWindowTypes();
    void DeclareActionSets();
    void DeclareLateActionSets();
    void WriteDefaultSettings();
    void WriteColorDefaults();
    void LoadSaveFile();
    void ApplyLoadedSettings();
    void FirstRunAndConnect();
    void ApplyOptionsFirstState();
    void ApplyLateOptionsFirstState();
    void RegisterGeometry();

    void SubscribePath(const char* rootType, const char* childType, PathNodeRelation relation,
                       void (MainWindow::*handler)(ItemPtr));
    void SubscribeSettingPath(const char* key, PathNodeRelation relation, void (MainWindow::*handler)(ItemPtr));
    void SetConnectActionText(const QString& text);
    // Unshares the folders of these rows of the shared-folder list.
    void UnshareFolders(const QList<QTreeWidgetItem*>& rows);

    Ui_MainWindow* ui;
    // The developer windows delete themselves when closed.
    QPointer<QDialog> mp_dataDialog;
    QPointer<QDialog> mp_typeNavigatorDialog;
    Server* mp_server = nullptr;
    SizeProxy m_sizeProxy;
    QSystemTrayIcon m_trayIcon;
    // The icon path last given to the application, window and tray.
    QString m_applicationIcon;
    UpdateChecker* mp_updateChecker;
};

// Null until the main window exists.
extern MainWindow* mainWindow;

// Forward to the main window; do nothing while there is none.
void SetApplicationIcon(const QString& path);
void ResetApplicationIcon();
