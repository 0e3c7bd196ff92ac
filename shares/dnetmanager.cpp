#include "shares/dnetmanager.h"

DNetManager* dnetManager = nullptr;

DNetManager::DNetManager()
{
    dnetManager = this;
}

DNetManager::~DNetManager() = default;
