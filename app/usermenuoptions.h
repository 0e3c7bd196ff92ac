// The per-user context menu that every view showing users opens.
#pragma once

#include <QObject>
#include <QString>

class QMenu;

class UserMenuOptions : public QObject
{
    Q_OBJECT

public:
    // Appends the entries for the user to the menu. The object must outlive the menu's run:
    // callers make it on their own stack, with no parent, after the menu.
    UserMenuOptions(QMenu* menu, QString user, QObject* parent = nullptr);
    // The entries' effects for the user without a menu: the main window's toolbar actions of the
    // same names do exactly what the menu does.
    explicit UserMenuOptions(QString user, QObject* parent = nullptr);

public slots:
    void OnMessageUser();
    void OnSetUserGroups();
    void OnAddUser();
    void OnRemoveUser();
    void OnBrowseUser();
    void OnUploadToUser();
    void OnUnshareFilesFromUser();
    void OnReshareFilesWithUser();
    void OnIgnoreUser();
    void OnUnignoreUser();
    void OnAddUserMembership();
    void OnRemoveUserMembership();
    void OnAddUserOperatorship();
    void OnRemoveUserOperatorship();
    void OnUserNote();
    void OnGetUserInfo();

private:
    // The room name carried by the room action that sent the signal.
    QString SenderRoom() const;

    QString m_user;
};
