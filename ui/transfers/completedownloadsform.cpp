#include "ui/transfers/completedownloadsform.h"

#include "model/helpers.h"
#include "transfers/transferqueuemanager.h"
#include "ui_completedownloadsform.h"

#include <QHeaderView>

CompleteDownloadsForm* completeDownloadsForm = nullptr;

bool CompleteDownloadItem::operator<(const QTreeWidgetItem& other) const
{
    const auto& row = static_cast<const CompleteDownloadItem&>(other);
    return m_completed != row.m_completed ? m_completed < row.m_completed : m_added < row.m_added;
}

CompleteDownloadsForm::CompleteDownloadsForm(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_CompleteDownloadsForm)
{
    completeDownloadsForm = this;
    ui->setupUi(this);
    QTreeWidget* list = ui->downloadList;
    list->setColumnCount(5);
    list->setHeaderLabels({"File", "Folder", "User", "Size", "Completion time"});
    const int widths[] = {250, 250, 100, 100, 150};
    for (int column = 0; column < 5; ++column)
        list->setColumnWidth(column, widths[column]);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionsMovable(false);
    // A flat list: no room kept for branches.
    list->setRootIsDecorated(false);
}

CompleteDownloadsForm::~CompleteDownloadsForm()
{
    if (completeDownloadsForm == this)
        completeDownloadsForm = nullptr;
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    // The rows die with the list: their records must not outlive them.
    if (d.HasType("complete_download_node")) {
        Data::Scope scope(&d);
        g("complete_download_node").Remove();
    }
    delete ui;
}

void CompleteDownloadsForm::Init()
{
    if (!d.HasType("complete_download_node"))
        d.NewType("complete_download_node", PrimacyRoot, false, true)
            ->RelateToType(d.GetType("complete_download"), One, One, false);
    connect(transferQueueManager, &TransferQueueManager::CompleteDownloadAdded, this,
            &CompleteDownloadsForm::OnCompleteDownloadAdded);
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
    // The list is made on first use, long after the save file's load notice went out: the saved
    // records are shown now, or a restart would show none of them.
    DataLoaded();
}

CompleteDownloadItem* CompleteDownloadsForm::AddRow(ItemPtr i_download)
{
    auto* row = new CompleteDownloadItem(ui->downloadList);
    const char* const columns[] = {"complete_download_filename", "complete_download_relative_folder", "user",
                                   "complete_download_file_size", "complete_download_completion_time"};
    for (int column = 0; column < 5; ++column)
        row->setText(column, i_download[columns[column]].AsString());
    static quint64 s_added = 0;
    row->m_completed = StoredTimeFromText(row->text(4));
    row->m_added = ++s_added;
    d.GetType("complete_download_node")->GetItem(Value(row)) += i_download;
    return row;
}

void CompleteDownloadsForm::SortNewestFirst()
{
    ui->downloadList->sortItems(0, Qt::DescendingOrder);
}

void CompleteDownloadsForm::OnCompleteDownloadAdded(ItemPtr i_download)
{
    if (!i_download)
        return;
    AddRow(i_download);
    SortNewestFirst();
}

void CompleteDownloadsForm::DataLoaded()
{
    QTreeWidget* list = ui->downloadList;
    list->setUpdatesEnabled(false);
    Data::Scope scope(&d);
    for (const ItemPtr& record : g("complete_download"))
        if (!record["complete_download_node"])
            AddRow(record);
    SortNewestFirst();
    list->setUpdatesEnabled(true);
}
