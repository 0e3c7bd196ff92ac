// The transfer engine: download and upload queues and their worker threads.
#pragma once

#include "model/data.h"
#include "model/datasaver.h"

#include <QObject>

class TransferQueueManager : public QObject, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    TransferQueueManager();
    ~TransferQueueManager() override;

    // Runs once the save file is loaded.
    void DataLoaded() override;

public slots:
    void EveryHalfMinute();
    void PeriodicCheck();
};

extern TransferQueueManager* transferQueueManager;
