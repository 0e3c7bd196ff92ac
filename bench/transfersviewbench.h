// The transfers view on a started engine, as the benchmarks of downloads and uploads need it.
#pragma once

#include "app/actionsettoolbar.h"
#include "app/eventtoolbar.h"
#include "bench/benchutil.h"
#include "model/diagnosticsform.h"
#include "model/itemlog.h"
#include "model/log.h"
#include "ui/transfers/transfersform.h"

#include <QTabWidget>
#include <QTextBrowser>

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

// Where the program's log lines go: the entries kept on their user and the Diagnostics page, a
// page of the same tab widget as the transfers page, so hidden while that one is shown.
inline void AddLogSinks(QTabWidget* tabs)
{
    DeclareItemLogTypes();
    tabs->addTab(new DiagnosticsForm, "Diagnostics");
}

// The user has looked at the Diagnostics pages of these categories once and gone back to the
// transfers page: a page once shown has a width to lay its lines out in, whether shown or not.
inline void LookAtLogPagesOnce(QTabWidget* tabs, const QStringList& categories)
{
    tabs->setCurrentIndex(tabs->indexOf(diagnosticsForm));
    for (const QString& category : categories) {
        Log(category, 1, "Looked at");
        diagnosticsForm->LogTabWidget()->setCurrentWidget(diagnosticsForm->LogView(category));
        QCoreApplication::processEvents();
    }
    tabs->setCurrentIndex(0);
    QCoreApplication::processEvents();
}

// A user whose log holds as many entries as it keeps, as a heavy user's has long before a burst.
inline ItemPtr UserWithFullLog(const QString& name)
{
    ItemPtr user = d.GetType("user")->GetItem(Value(name));
    for (size_t k = user.GetItems("item_log").size(); k < static_cast<size_t>(kMaxItemLogEntries); ++k)
        Log("Transfer Queue", 2, QString("Earlier line %1").arg(k), user);
    return user;
}

} // namespace benchutil
