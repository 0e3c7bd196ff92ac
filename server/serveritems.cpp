#include "server/serveritems.h"

namespace serveritems {

ItemPtr User(const QString& name)
{
    return d.GetType("user")->GetItem(Value(name));
}

ItemPtr Room(const QString& name)
{
    return d.GetType("room")->GetItem(Value(name));
}

void SetValue(ItemPtr item, const char* typeName, const Value& value)
{
    item.Connect(d.GetType(typeName)->GetItem(value));
}

void SetAddress(ItemPtr user, uint32_t address, int32_t port, int32_t obfuscatedPort)
{
    SetValue(user, "user_address", Value(static_cast<unsigned int>(address)));
    SetValue(user, "user_port", Value(static_cast<int>(port)));
    SetValue(user, "user_obfuscated_port", Value(static_cast<int>(obfuscatedPort)));
}

void SetFlag(ItemPtr item, const char* flagType)
{
    item.NewItem(flagType);
}

void ClearFlag(ItemPtr item, const char* flagType)
{
    item.Disconnect(flagType);
}

void Unlink(ItemPtr a, ItemPtr b)
{
    // The graph reports every disconnection it is asked for; one that changes nothing must not
    // reach the views.
    if (a.IsConnected(b))
        a.Disconnect(b);
}

}  // namespace serveritems
