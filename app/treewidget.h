// A list that lets its owner see key presses before the list acts on them.
#pragma once

#include <QTreeWidget>

class QKeyEvent;

class TreeWidget : public QTreeWidget
{
    Q_OBJECT

public:
    explicit TreeWidget(QWidget* parent = nullptr);

signals:
    void KeyPressed(QKeyEvent* ip_event);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
