// Settings live in the item graph: a `global` key item linked to one shared `global_value` item.
#pragma once

#include "model/data.h"

#include <QString>

void DeclareSettingTypes();

ItemPtr SetSetting(const QString& key, const Value& value);
QString GetSetting(const QString& key);
int GetSettingInt(const QString& key);
bool IsSettingOn(const QString& key);
bool HasSetting(const QString& key);

// Settings that live until the program ends and are never saved.
ItemPtr SetVSetting(const QString& key, const Value& value);
QString GetVSetting(const QString& key);
