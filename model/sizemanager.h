// Remembers window geometry, splitter panes and tree column widths under string keys, in
// saved item types, and gives them back to widgets registered under the same key.
#pragma once

#include "model/data.h"

#include <QList>
#include <QObject>
#include <QString>

#include <map>

class QSplitter;
class QTreeWidget;

// What a window lends the size manager: it reports its moves and resizes and takes the
// stored geometry back.
class ResizableWindow : public QObject
{
    Q_OBJECT

public:
    explicit ResizableWindow(QObject* parent = nullptr) : QObject(parent) {}

    virtual int GetX() = 0;
    virtual int GetY() = 0;
    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
    virtual void SetPosition(int i_x, int i_y) = 0;
    virtual void SetSize(int i_width, int i_height) = 0;

signals:
    void WindowResized(int i_width, int i_height);
    void WindowMoved(int i_x, int i_y);
};

class SizeManager : public QObject
{
    Q_OBJECT

public:
    explicit SizeManager(QObject* parent = nullptr);
    ~SizeManager() override;

    // Each is called once per widget, after the widget is built and the save file loaded.
    void RegisterResizableWindow(const QString& i_key, ResizableWindow* ip_window);
    void RegisterSplitter(const QString& i_key, QSplitter* ip_splitter, QList<int> i_defaultSizes);
    void RegisterTreeWidget(const QString& i_key, QTreeWidget* ip_tree);

public slots:
    void OnWindowMoved(int i_x, int i_y);
    void OnWindowResized(int i_width, int i_height);
    void OnSplitterMoved(int i_position, int i_index);
    void OnSplitterDestroyed(QObject* ip_object);
    void OnTreeColumnResizedMoved(int i_index, int i_newSize, int i_oldSize);
    void OnTreeDestroyed(QObject* ip_object);

private:
    void ReplaceNumber(ItemPtr i_owner, const char* i_type, int i_number);
    ItemPtr Entry(ItemPtr i_key, const char* i_entryType, const char* i_numberType, int i_number);
    // Records a move or resize of the sending window: its two numbers replace the stored ones.
    void RecordWindow(const char* i_firstType, int i_first, const char* i_secondType, int i_second);
    void ForgetWidget(QObject* ip_object, const char* i_widgetType);

    // Set while the manager resizes sibling widgets itself, so the signals those resizes
    // cause are neither recorded nor spread a second time.
    bool m_propagating = false;
    // Registered trees and splitters by address, until they are destroyed: an address read
    // back from an item is used only when it is found here.
    std::map<unsigned long long, QObject*> m_liveWidgets;
};

extern SizeManager* sizeManager;
