#include "ui/settings/typenavigatordialog.h"

#include "model/data.h"

#include "ui_typenavigatordialog.h"

#include <QTextCursor>

#include <algorithm>
#include <map>
#include <vector>

namespace {

// The longest walk, in relation steps, that either search follows.
constexpr int kMaxSteps = 6;

}  // namespace

TypeNavigatorDialog::TypeNavigatorDialog(QWidget* parent)
    : QDialog(parent)
    , mp_ui(new Ui_TypeNavigatorDialog)
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    connect(mp_ui->fromTypeBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int) { onFromTypeSelectionChanged(mp_ui->fromTypeBox->currentText().toStdString()); });
    connect(mp_ui->toTypeBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int) { onToTypeSelectionChanged(mp_ui->toTypeBox->currentText().toStdString()); });
}

TypeNavigatorDialog::~TypeNavigatorDialog()
{
    delete mp_ui;
}

void TypeNavigatorDialog::Init()
{
    std::map<std::string, Type*> types;
    d.GetTypes(types);
    // The first entry becomes current and fills the target box, which runs the first search.
    for (const auto& entry : types)
        mp_ui->fromTypeBox->addItem(QString::fromStdString(entry.first));
}

void TypeNavigatorDialog::onFromTypeSelectionChanged(std::string i_type)
{
    mp_ui->toTypeBox->clear();
    std::set<std::string> related{i_type};
    GetRelatedTypes(i_type, related, 1);
    related.erase(i_type);
    for (const std::string& name : related)
        mp_ui->toTypeBox->addItem(QString::fromStdString(name));
}

void TypeNavigatorDialog::GetRelatedTypes(std::string i_type, std::set<std::string>& io_types, int i_depth)
{
    Type* start = d.HasType(i_type);
    if (!start || i_depth > kMaxSteps)
        return;
    // Breadth first, each type expanded once at the fewest steps it takes to reach: a type
    // reached later in more steps can reach nothing more. Following every walk instead takes
    // exponential time on a schema with hub types.
    std::set<Type*> expanded{start};
    std::vector<Type*> frontier{start};
    for (int depth = i_depth; depth <= kMaxSteps && !frontier.empty(); ++depth) {
        std::vector<Type*> next;
        for (Type* type : frontier)
            for (const auto& relation : type->Relations()) {
                io_types.insert(relation.first->Name());
                if (expanded.insert(relation.first).second)
                    next.push_back(relation.first);
            }
        frontier.swap(next);
    }
}

void TypeNavigatorDialog::onToTypeSelectionChanged(std::string)
{
    const std::string from = mp_ui->fromTypeBox->currentText().toStdString();
    const std::string to = mp_ui->toTypeBox->currentText().toStdString();
    m_paths.clear();
    mp_ui->chartEdit->clear();
    std::list<std::string> path;
    FindPath(from, to, path);

    // One edit block lays the chart out once, not once per path.
    QTextCursor cursor(mp_ui->chartEdit->document());
    cursor.beginEditBlock();
    bool first = true;
    for (const auto& found : m_paths) {
        if (!first)
            cursor.insertBlock();
        first = false;
        cursor.insertHtml(ChartLine(found));
    }
    cursor.endEditBlock();
}

void TypeNavigatorDialog::FindPath(std::string i_type, std::string i_target, std::list<std::string>& io_path)
{
    if (io_path.size() > static_cast<size_t>(kMaxSteps))
        return;
    Type* type = d.HasType(i_type);
    if (!type)
        return;
    io_path.push_back(i_type);
    if (i_type == i_target) {
        // Behind every path of the same or fewer types, in front of the first longer one.
        auto before = std::find_if(m_paths.begin(), m_paths.end(),
                                   [&](const std::list<std::string>& p) { return p.size() > io_path.size(); });
        m_paths.insert(before, io_path);
        io_path.pop_back();
        return;
    }
    for (const auto& relation : type->Relations()) {
        const std::string& name = relation.first->Name();
        if (std::find(io_path.begin(), io_path.end(), name) == io_path.end())
            FindPath(name, i_target, io_path);
    }
    io_path.pop_back();
}

QString TypeNavigatorDialog::ChartLine(const std::list<std::string>& i_path)
{
    QString steps;
    bool allToOne = true;
    Type* previous = nullptr;
    for (const std::string& name : i_path) {
        Type* type = d.GetType(name);
        if (previous) {
            // How many items of this type one item of the previous type may be connected to.
            const bool toMany = previous->GetRelation(type).yPerX == Many;
            allToOne = allToOne && !toMany;
            steps += toMany ? " => " : " -> ";
        }
        steps += "<b>" + QString::fromStdString(name).toHtmlEscaped() + "</b>";
        if (type->IsNull())
            steps += " [null]";
        previous = type;
    }
    const QString count = QString::number(static_cast<qulonglong>(i_path.size()));
    if (allToOne)
        return "<font color=green><b>[" + count + "]</b></font> " + steps;
    return "[" + count + "] " + steps;
}
