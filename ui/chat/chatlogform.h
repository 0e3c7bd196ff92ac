// A viewer of one chat-log file, shown as a tab beside the conversation it records.
#pragma once

#include <QString>
#include <QWidget>

class Ui_ChatLogForm;

class ChatLogForm : public QWidget
{
    Q_OBJECT

public:
    // Logs grow without end; only this much of a file's tail is shown.
    static constexpr qint64 kMaxShownBytes = 8 * 1024 * 1024;

    ChatLogForm(QString path, QWidget* parent = nullptr);
    ~ChatLogForm() override;

    QString Path() const { return m_path; }

private:
    void Load();

    Ui_ChatLogForm* mp_ui;
    QString m_path;
};
