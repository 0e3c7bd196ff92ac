#include "ui/chat/chatlogform.h"

#include "app/actionsettoolbar.h"
#include "model/data.h"

#include "ui_chatlogform.h"

#include <QFile>

ChatLogForm::ChatLogForm(QString path, QWidget* parent)
    : QWidget(parent)
    , mp_ui(new Ui_ChatLogForm)
    , m_path(path)
{
    mp_ui->setupUi(this);
    if (actionBar)
        actionBar->RegisterWidget(this, "chat_log");
    Load();
}

ChatLogForm::~ChatLogForm()
{
    delete mp_ui;
    // The link holds this form's address: opening the log again must make a new viewer.
    Data::Scope scope(&d);
    ItemPtr link = d.GetType("chat_log_form")->HasItem(Value(static_cast<QWidget*>(this)));
    if (link)
        link.Remove();
}

void ChatLogForm::Load()
{
    QFile file(m_path);
    // A log not written yet is an empty log.
    if (!file.open(QIODevice::ReadOnly))
        return;
    const qint64 size = file.size();
    if (size > kMaxShownBytes)
        file.seek(size - kMaxShownBytes);
    const QByteArray bytes = file.read(kMaxShownBytes);
    // The lines hold what others wrote: plain text, never markup.
    mp_ui->logEdit->setPlainText(QString::fromUtf8(bytes));
}
