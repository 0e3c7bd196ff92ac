#include "model/settings.h"

void DeclareSettingTypes()
{
    if (d.HasType("global"))
        return;
    Type* global = d.NewType("global", PrimacyRoot, false, true);
    Type* vglobal = d.NewType("vglobal", PrimacyRoot, false, true);
    Type* value = d.NewType("global_value", PrimacyLeaf, false, true);
    global->RelateToType(value, Many, One, false);
    vglobal->RelateToType(value, Many, One, false);
}

namespace {

ItemPtr Write(const char* type, const QString& key, const Value& value)
{
    ItemPtr k = d.GetType(type)->GetItem(key);
    k += d.GetType("global_value")->GetItem(value);
    return k;
}

ItemPtr ValueOf(const char* type, const QString& key)
{
    return d.GetType(type)->GetItem(key)["global_value"];
}

} // namespace

ItemPtr SetSetting(const QString& key, const Value& value)
{
    return Write("global", key, value);
}

QString GetSetting(const QString& key)
{
    return ValueOf("global", key).AsString();
}

int GetSettingInt(const QString& key)
{
    return ValueOf("global", key).AsInt();
}

bool IsSettingOn(const QString& key)
{
    return ValueOf("global", key).AsStdString() == "yes";
}

bool HasSetting(const QString& key)
{
    return d.GetType("global")->GetItem(key).IsConnected("global_value");
}

ItemPtr SetVSetting(const QString& key, const Value& value)
{
    return Write("vglobal", key, value);
}

QString GetVSetting(const QString& key)
{
    return ValueOf("vglobal", key).AsString();
}
