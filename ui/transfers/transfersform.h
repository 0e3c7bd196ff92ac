// The transfers view: the downloads and uploads of the client.
#pragma once

#include "model/data.h"
#include "model/datasaver.h"

#include <QWidget>

class Ui_TransfersForm;

class TransfersForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit TransfersForm(QWidget* parent = nullptr);
    ~TransfersForm() override;

    // Start-up step, once the transfer engine, the timers and the context toolbar exist.
    void Init();
    // Runs once the save file is loaded.
    void DataLoaded() override;

    // Applies the transfer colour settings to every row.
    void RecolorEntries();

public slots:
    void EveryHalfMinute();

private:
    Ui_TransfersForm* ui;
};

extern TransfersForm* transfersForm;
