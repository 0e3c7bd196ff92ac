// Tab widgets of the shell: the common one focuses the page's designated widget.
#pragma once

#include <QTabWidget>

class TabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit TabWidget(QWidget* parent = nullptr);

    // Colours blue the titles of the tabs, not current, that hold the widget.
    static void MarkTabActivity(QWidget* widget);

public slots:
    void OnTabChanged(int i_tab);
};

// The private-chat tabs: a plain tab widget that leaves the focus alone on tab changes.
class RoomTabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit RoomTabWidget(QWidget* parent = nullptr);
};
