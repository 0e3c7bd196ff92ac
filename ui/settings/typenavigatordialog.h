// The developer's navigator over the item graph's types and their relations: the types reachable
// from a start type, and every relation path of up to six steps to a chosen target.
#pragma once

#include <QDialog>

#include <list>
#include <set>
#include <string>

class Ui_TypeNavigatorDialog;

class TypeNavigatorDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TypeNavigatorDialog(QWidget* parent = nullptr);
    ~TypeNavigatorDialog() override;

    // Runs once, after construction.
    void Init();
    // Adds to the set every type reachable from the type in at most 7 - i_depth steps.
    void GetRelatedTypes(std::string i_type, std::set<std::string>& io_types, int i_depth);
    // Collects into m_paths every path from the current type to the target that passes no type
    // twice and has at most six steps; io_path is the walk so far.
    void FindPath(std::string i_type, std::string i_target, std::list<std::string>& io_path);

    // One path's line of the chart, as rich text.
    static QString ChartLine(const std::list<std::string>& i_path);

public slots:
    void onFromTypeSelectionChanged(std::string i_type);
    void onToTypeSelectionChanged(std::string i_type);

private:
    Ui_TypeNavigatorDialog* mp_ui;
    std::list<std::list<std::string>> m_paths;
};
