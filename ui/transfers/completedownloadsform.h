// The list of finished downloads, newest first: one row per completed-download record.
#pragma once

#include "model/data.h"
#include "model/datasaver.h"

#include <QDateTime>
#include <QTreeWidgetItem>
#include <QWidget>

class Ui_CompleteDownloadsForm;

// A row, ordered by the completion time of its record whatever the sort column.
class CompleteDownloadItem : public QTreeWidgetItem
{
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override;

private:
    friend class CompleteDownloadsForm;
    // The record's completion time, read once when the row is filled: a sort compares every
    // row many times. Times are whole seconds; of two in the same second the row added later
    // counts as the newer.
    QDateTime m_completed;
    quint64 m_added = 0;
};

class CompleteDownloadsForm : public QWidget, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit CompleteDownloadsForm(QWidget* parent = nullptr);
    ~CompleteDownloadsForm() override;

    // Declares the row records, shows the stored ones and starts listening for completions;
    // once, right after construction.
    void Init();
    // Fills the list with every stored record.
    void DataLoaded() override;

public slots:
    void OnCompleteDownloadAdded(ItemPtr i_download);

private:
    CompleteDownloadItem* AddRow(ItemPtr i_download);
    void SortNewestFirst();

    Ui_CompleteDownloadsForm* ui;
};

extern CompleteDownloadsForm* completeDownloadsForm;
