// Writes and reads the save file's layout independently of the program's own loader, so the
// tests check the bytes the program produces rather than its own reading of them.
#pragma once

#include <QByteArray>
#include <QDataStream>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>
#include <QtEndian>

#include <utility>

namespace savefile {

// For other tests that write whole files by hand.
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

// Items of a further type for a hand-made file; their ids are the caller's, 1000 and above.
struct ExtraType
{
    QByteArray name;
    bool null = false;
    QList<QPair<qint32, QByteArray>> items;  // id, value (ignored for a null type)
};

// Settings (the `global` keys and their `global_value` items, linked), then the further types
// and links between their ids.
inline QByteArray BuildSave(const QList<QPair<QString, QString>>& settings, const QList<ExtraType>& extra,
                            const QList<QPair<qint32, qint32>>& extraLinks)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    const auto str = [&](const QByteArray& text) {
        s << qint32(text.size());
        s.writeRawData(text.constData(), text.size());
    };
    QList<QByteArray> values;
    for (const auto& setting : settings)
        if (!values.contains(setting.second.toUtf8()))
            values.append(setting.second.toUtf8());
    s << qint32(2 + extra.size());
    str("global");
    s << quint8(0) << qint32(settings.size());
    for (int k = 0; k < settings.size(); ++k) {
        s << qint32(k + 1);
        str(settings[k].first.toUtf8());
    }
    str("global_value");
    s << quint8(0) << qint32(values.size());
    for (int k = 0; k < values.size(); ++k) {
        s << qint32(settings.size() + 1 + k);
        str(values[k]);
    }
    for (const ExtraType& type : extra) {
        str(type.name);
        s << quint8(type.null ? 1 : 0) << qint32(type.items.size());
        for (const auto& item : type.items) {
            s << item.first;
            if (!type.null)
                str(item.second);
        }
    }
    s << qint32(settings.size() + extraLinks.size());
    for (int k = 0; k < settings.size(); ++k)
        s << qint32(k + 1) << qint32(settings.size() + 1 + values.indexOf(settings[k].second.toUtf8()));
    for (const auto& link : extraLinks)
        s << link.first << link.second;
    return out;
}

// A file holding only settings.
inline QByteArray BuildSettings(const QList<QPair<QString, QString>>& settings)
{
    return BuildSave(settings, {}, {});
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

// Stops at the first short read, and sizes nothing from a count, so a bad file cannot make it allocate.
inline Parsed Parse(const QByteArray& file)
{
    Parsed p;
    QDataStream in(file);
    in.setByteOrder(QDataStream::LittleEndian);
    const auto good = [&] { return in.status() == QDataStream::Ok; };
    const auto readString = [&] {
        qint32 n = -1;
        in >> n;
        QByteArray bytes(n >= 0 && n <= file.size() ? n : 0, '\0');
        if (bytes.size() != n || in.readRawData(bytes.data(), n) != n)
            in.setStatus(QDataStream::ReadCorruptData);
        return QString::fromUtf8(bytes);
    };
    qint32 types = 0;
    in >> types;
    for (qint32 t = 0; t < types && good(); ++t) {
        const QString name = readString();
        quint8 null = 0;
        qint32 count = 0;
        in >> null >> count;
        for (qint32 k = 0; k < count && good(); ++k) {
            qint32 id = 0;
            in >> id;
            p.items[name].insert(id, null ? QString() : readString());
        }
    }
    qint32 links = 0;
    in >> links;
    for (qint32 k = 0; k < links && good(); ++k) {
        qint32 a = 0, b = 0;
        in >> a >> b;
        p.links.insert(qMakePair(a, b));
    }
    p.ok = good();
    return p;
}

}  // namespace savefile
