// The upload browser of one user: the local share as that user may see it, from which the
// local user picks files to send.
#pragma once

#include "model/data.h"

#include <QString>
#include <QWidget>

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


private:
    Ui_UploadForm* m_ui;
    ItemPtr m_userShare;
    QString m_user;
    qint32 m_maxLevel = 0;
    qint32 m_expandLevel = 0;
};
