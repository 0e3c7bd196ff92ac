// The save file: the persistent part of the item graph in one binary file.
//
// Layout (all integers 32-bit signed little-endian; a string is an int byte count and the bytes;
// a flag is one byte 0 or 1; no magic, version or checksum):
//   int type count
//   per type, in ascending byte order of the names:
//       string name, flag null, int item count,
//       per item: int id, then string value unless the type is null
//   int link count
//   per link: int id, int id (lower first), sorted, each connection once
// Ids run 1, 2, 3 ... across the whole file in the order the items are written.
#pragma once

#include "model/data.h"

#include <QString>

#include <map>
#include <set>
#include <string>

class QFile;

class DataLoadFailure
{
};
class DataSaveFailure
{
};

// A component that must act once the saved state is in the graph.
class DataLoadedEventHandler
{
public:
    virtual void DataLoaded() = 0;

protected:
    ~DataLoadedEventHandler() = default;
};

class DataSaver
{
public:
    enum class LoadResult {
        Loaded,   // the file was read into the graph
        NoFile,   // there was no file (or it could not be opened): a fresh start
        Damaged,  // the file could not be read; the graph is as it was, the file kept aside
    };

    // Sets the global dataSaver. The path defaults to ".Tavrinel" in the home directory.
    explicit DataSaver(Data* data = &d, const QString& path = QString());
    ~DataSaver();
    DataSaver(const DataSaver&) = delete;
    DataSaver& operator=(const DataSaver&) = delete;

    static QString DefaultPath();
    void SetPath(const QString& path) { m_path = path; }
    const QString& Path() const { return m_path; }

    // Every item of the type is saved. Unknown type: TypeNotFoundException (thrown as a pointer).
    void AddSavedType(std::string type);
    // The items of type that are connected to an item of other are saved; several others widen
    // the choice.
    void AddSavedByConnectionType(std::string type, std::string other);
    // Registering twice has no effect. A handler that goes away before the load must remove itself.
    void AddDataLoadedEventHandler(DataLoadedEventHandler* handler);
    void RemoveDataLoadedEventHandler(DataLoadedEventHandler* handler);

    // Writes the file through a temporary file that replaces the old one only once it is complete
    // and on disk. Never throws; a failure is logged under "Configuration Data", the old file is
    // kept and the temporary file removed. A successful save also removes the numbered temporary
    // files (path.1, path.2, ...) that earlier saves killed midway left behind. Returns whether the
    // file was replaced.
    bool Save(const QString& path);
    bool Save() { return Save(m_path); }

    // Reads the file into the graph, then calls every data-loaded handler once.
    // Failure is reported by the result, not by an exception: on Damaged nothing was created or
    // connected (the whole file is checked before the graph is touched), a line is logged under
    // "Configuration Data", the file is moved to its name + ".damaged" so the next save cannot
    // overwrite the evidence, and the handlers are still notified, as for a missing file.
    // The caller tells the user about a Damaged result.
    [[nodiscard]] LoadResult Load(const QString& path);
    [[nodiscard]] LoadResult Load() { return Load(m_path); }

    void EmitDataLoaded();

    const std::set<Type*>& SavedTypes() const { return m_savedTypes; }
    const std::map<Type*, std::set<Type*>>& SavedByConnectionTypes() const { return m_savedByConnectionTypes; }

private:
    Data* mp_data;
    QString m_path;
    std::set<Type*> m_savedTypes;
    std::map<Type*, std::set<Type*>> m_savedByConnectionTypes;
    std::set<DataLoadedEventHandler*> m_dataLoadedHandlers;
};

extern DataSaver* dataSaver;

// Field writers and readers over an open file. Writers throw DataSaveFailure on a short write;
// readers throw DataLoadFailure on a short read, and ReadString also on a negative length or one
// larger than what is left in the file. ReadString keeps the bytes up to the first NUL.
template <typename T>
void WriteType(QFile& file, T value);
template <>
void WriteType<bool>(QFile& file, bool value);
template <>
void WriteType<int>(QFile& file, int value);
template <typename T>
void ReadType(QFile& file, T& value);
template <>
void ReadType<int>(QFile& file, int& value);
void WriteString(QFile& file, const std::string& value);
void ReadString(QFile& file, std::string& value);
