// The transfers view on a started engine, as the benchmarks of downloads and uploads need it.
#pragma once

#include "app/actionsettoolbar.h"
#include "app/eventtoolbar.h"
#include "bench/benchutil.h"
#include "ui/transfers/transfersform.h"

#include <QTabWidget>

namespace benchutil {

// The engine, its download folder in dir, the toolbars and a transfers page in a tab widget of its
// own (which the caller deletes), initialised but neither shown nor told the save file is loaded.
inline QTabWidget* NewTransfersView(const QTemporaryDir& dir, TransfersForm** op_form)
{
    StartEngine(dir);
    SetSetting("download_folder", Value(dir.filePath("downloads")));
    new ActionSetToolBar(nullptr);
    actionBar->Init();
    new EventToolBar(nullptr);
    auto* tabs = new QTabWidget;
    auto* form = new TransfersForm;
    tabs->addTab(form, "Transfers");
    tabs->resize(1000, 600);
    form->Init();
    *op_form = form;
    return tabs;
}

} // namespace benchutil
