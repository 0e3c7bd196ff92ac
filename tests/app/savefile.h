// Writes and reads the save file's layout independently of the program's own loader, so the
// tests check the bytes the program produces rather than its own reading of them.
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>
#include <QtEndian>

#include <utility>

namespace savefile {

inline void PutInt(QByteArray& out, qint32 v)
{
    char b[4];
    qToLittleEndian<qint32>(v, b);
    out.append(b, 4);
}

inline void PutString(QByteArray& out, const QByteArray& s)
{
    PutInt(out, s.size());
    out.append(s);
}

// A file holding only settings: the `global` keys and their `global_value` items, linked.
inline QByteArray BuildSettings(const QList<QPair<QString, QString>>& settings)
{
    QList<QByteArray> values;
    for (const auto& s : settings)
        if (!values.contains(s.second.toUtf8()))
            values.append(s.second.toUtf8());

    QByteArray out;
    PutInt(out, 2);
    PutString(out, "global");
    out.append(char(0));
    PutInt(out, settings.size());
    int id = 1;
    for (const auto& s : settings) {
        PutInt(out, id++);
        PutString(out, s.first.toUtf8());
    }
    PutString(out, "global_value");
    out.append(char(0));
    PutInt(out, values.size());
    const int firstValueId = id;
    for (const QByteArray& v : values) {
        PutInt(out, id++);
        PutString(out, v);
    }
    PutInt(out, settings.size());
    for (int k = 0; k < settings.size(); ++k) {
        PutInt(out, k + 1);
        PutInt(out, firstValueId + values.indexOf(settings[k].second.toUtf8()));
    }
    return out;
}

struct Parsed
{
    bool ok = false;
    QMap<QString, QMap<qint32, QString>> items;  // type -> id -> value
    QSet<QPair<qint32, qint32>> links;

    // The value items of `otherType` linked to the item of `type` holding `value`.
    QStringList Linked(const QString& type, const QString& value, const QString& otherType) const
    {
        QStringList result;
        const auto& own = items.value(type);
        const auto& other = items.value(otherType);
        for (auto it = own.begin(); it != own.end(); ++it) {
            if (it.value() != value)
                continue;
            for (auto o = other.begin(); o != other.end(); ++o)
                if (links.contains(qMakePair(qMin(it.key(), o.key()), qMax(it.key(), o.key()))))
                    result.append(o.value());
        }
        return result;
    }

    QMap<QString, QString> Settings() const
    {
        QMap<QString, QString> result;
        for (const QString& key : items.value("global"))
            result.insert(key, Linked("global", key, "global_value").value(0));
        return result;
    }
};

// Refuses counts and lengths beyond the bytes left, so a bad file cannot make it allocate.
inline Parsed Parse(const QByteArray& file)
{
    Parsed p;
    int pos = 0;
    auto readInt = [&](qint32& v) {
        if (file.size() - pos < 4)
            return false;
        v = qFromLittleEndian<qint32>(file.constData() + pos);
        pos += 4;
        return true;
    };
    auto readString = [&](QString& s) {
        qint32 n = 0;
        if (!readInt(n) || n < 0 || n > file.size() - pos)
            return false;
        s = QString::fromUtf8(file.constData() + pos, n);
        pos += n;
        return true;
    };
    qint32 types = 0;
    if (!readInt(types) || types < 0 || types > file.size())
        return p;
    for (qint32 t = 0; t < types; ++t) {
        QString name;
        if (!readString(name) || pos >= file.size())
            return p;
        const bool null = file.at(pos++) != 0;
        qint32 count = 0;
        if (!readInt(count) || count < 0 || count > file.size())
            return p;
        auto& bucket = p.items[name];
        for (qint32 k = 0; k < count; ++k) {
            qint32 id = 0;
            QString value;
            if (!readInt(id) || (!null && !readString(value)))
                return p;
            bucket.insert(id, value);
        }
    }
    qint32 links = 0;
    if (!readInt(links) || links < 0 || links > file.size())
        return p;
    for (qint32 k = 0; k < links; ++k) {
        qint32 a = 0, b = 0;
        if (!readInt(a) || !readInt(b))
            return p;
        p.links.insert(qMakePair(a, b));
    }
    p.ok = true;
    return p;
}

}  // namespace savefile
