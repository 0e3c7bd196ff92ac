// The entries logged for one item of the graph (a user): a tab with all of them and a tab per
// area, each line "[time] text" indented by level, growing while the window is open.
#pragma once

#include "model/data.h"

#include <QDialog>

class QTextBrowser;
class Ui_ItemLogDialog;

class ItemLogDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    // Builds and fills the window; the caller shows it. It deletes itself when closed.
    ItemLogDialog(ItemPtr item, QWidget* parent = nullptr);
    ~ItemLogDialog() override;

    // Adds one "item_log" entry to its area's tab and to "All".
    void OnItemLog(ItemPtr i_entry);

private:
    Ui_ItemLogDialog* ui;
    ItemPtr m_item;
    QTextBrowser* mp_all;
};
