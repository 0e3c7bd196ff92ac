// The browse page: one tab per browsed share and per upload browser; turns received share
// lists into items and hands them to their tab.
#pragma once

#include "model/data.h"
#include "model/records.h"

#include <QString>
#include <QWidget>

class ShareForm;
class Ui_SharesForm;
class UploadForm;

class SharesForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit SharesForm(QWidget* parent = nullptr);
    ~SharesForm() override;

    // Start-up step, once the peer messenger and the context toolbar exist.
    void Init();

    // The user's browse tab, made (and the share list asked for) when there is none; brought forward.
    ShareForm* OpenShareBrowse(QString user);
    // The user's upload tab, made from the local share as that user may see it; brought forward.
    UploadForm* OpenUploadBrowse(QString user);
    // A new "user_share" item holding the folders and files of the map.
    ItemPtr CreateUserShareData(FileInfoMap& i_share, AttributeTranslationTable& i_translationTable);


public slots:
    void OnUserShare(QString i_user, FileInfoMap& i_share, AttributeTranslationTable& i_translationTable);
    void OnToolBarActionTriggered(QWidget* ip_widget, QString i_action);
    void OnTabCloseRequested(int i_tabIndex);

private:
    Ui_SharesForm* ui;
};

extern SharesForm* sharesForm;
