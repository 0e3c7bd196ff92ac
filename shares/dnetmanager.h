// The client's place in the distributed search network: its parent and children.
#pragma once

#include "model/data.h"

#include <QObject>

class DNetManager : public QObject, public DataHandler
{
    Q_OBJECT

public:
    DNetManager();
    ~DNetManager() override;
};

extern DNetManager* dnetManager;
