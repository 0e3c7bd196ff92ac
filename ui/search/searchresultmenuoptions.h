// The download and browse entries of a result row's context menu.
#pragma once

#include <QObject>
#include <QString>

class QMenu;
class QTreeWidgetItem;

class SearchResultMenuOptions : public QObject
{
    Q_OBJECT

public:
    // Adds the entries for the row to the menu. The object must outlive the menu's run.
    SearchResultMenuOptions(QMenu* menu, QTreeWidgetItem* row, QObject* parent = nullptr);

public slots:
    void OnDownloadFile();
    void OnDownloadFolder();
    void OnBrowseFolder();

private:
    QTreeWidgetItem* mp_row;
    QString m_searchText;
    QString m_user;
    QString m_folder;
};
