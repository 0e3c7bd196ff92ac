#include "ui/transfers/itemlogdialog.h"

#include "model/diagnosticsform.h"
#include "model/log.h"
#include "ui_itemlogdialog.h"

#include <QTextBrowser>

namespace {

QTextBrowser* NewLogView()
{
    auto* view = new QTextBrowser();
    view->setOpenLinks(false);
    view->setUndoRedoEnabled(false);
    return view;
}

}  // namespace

ItemLogDialog::ItemLogDialog(ItemPtr item, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui_ItemLogDialog)
    , m_item(item)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    auto* root = new PathNode(&d, "item_log");
    new PathNode(root, m_item, PathConnectedTrigger);
    auto* handler = new EventHandler<ItemLogDialog, ItemPtr>(this, &ItemLogDialog::OnItemLog);
    AddDataHandler(handler);
    d.AddPathEventHandler(root, handler);

    mp_all = NewLogView();
    ui->logTabWidget->addTab(mp_all, "All");

    Data::Scope scope(&d);
    for (const ItemPtr& entry : m_item.GetItems("item_log").Connected("log_order").SortNumericBy("log_order", true))
        OnItemLog(entry);
}

ItemLogDialog::~ItemLogDialog()
{
    delete ui;
}

void ItemLogDialog::OnItemLog(ItemPtr i_entry)
{
    const QString area = i_entry["log_area"].AsString();
    QTextBrowser* view = nullptr;
    for (int k = 0; k < ui->logTabWidget->count() && !view; ++k)
        if (ui->logTabWidget->tabText(k) == area)
            view = qobject_cast<QTextBrowser*>(ui->logTabWidget->widget(k));
    if (!view) {
        view = NewLogView();
        ui->logTabWidget->addTab(view, area);
    }
    const QString line =
        FormatLogLine(i_entry["log_time"].AsString(), i_entry["log_level"].AsInt(), i_entry["log_text"].AsString());
    AppendPlainLine(view, line);
    AppendPlainLine(mp_all, line);
}
