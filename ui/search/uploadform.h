// The upload browser of one user: the local share as that user may see it, from which the
// local user picks files to send.
#pragma once

#include "model/data.h"

#include <QString>
#include <QWidget>

class QTreeWidgetItem;
class Ui_UploadForm;

class UploadForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    UploadForm(QString user, QWidget* parent);
    ~UploadForm() override;

    // Keeps the share (owned by this form from now on) and fills the folder tree from it.
    void SetShare(ItemPtr share);
    // Removes the form's tab item and share and deletes the form later; the tab is already gone.
    void Delete();
    void ExpandLevel();
    void CollapseAll();
    void ExpandAll();
    // Queues the folder's files for the user, then those of each sub-folder, depth first.
    void UploadFolder(ItemPtr folder);

    QString User() const { return m_user; }

public slots:
    void OnCurrentItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem* ip_previous);
    void OnFilterTextChanged(QString i_text);
    void OnFilterHelpClicked();
    void OnActionBarTriggered(QWidget* ip_widget, QString i_action);

private:
    Ui_UploadForm* m_ui;
    ItemPtr m_userShare;
    QString m_user;
    qint32 m_maxLevel = 0;
    qint32 m_expandLevel = 0;
};
