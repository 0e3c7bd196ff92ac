// A viewer of one chat-log file, shown as a tab beside the conversation it records: the file's
// tail (saying so above it when the file is longer), the lines logged while it is open, a find
// row and the erase and open-folder actions.
#pragma once

#include <QString>
#include <QTextCursor>
#include <QTextDocument>
#include <QWidget>

class Ui_ChatLogForm;

class ChatLogForm : public QWidget
{
    Q_OBJECT

public:
    // Logs grow without end; only this much of a file's tail is shown.
    static constexpr qint64 kMaxShownBytes = 8 * 1024 * 1024;
    // A longer line is read, and shown, as several paragraphs.
    static constexpr qint64 kMaxPieceBytes = 65535;

    ChatLogForm(QString path, QWidget* parent = nullptr);
    ~ChatLogForm() override;

    // Appends a logged line as one paragraph of plain text.
    void AddLine(QString line);
    // Marks the match the view's cursor selects and brings it into view.
    void MarkFind();
    // Enables the find buttons by whether another match lies ahead of or behind the current one.
    void MarkSearchButtons();

    // The file this viewer was opened on, whether or not it could be read.
    QString Path() const { return m_path; }

public slots:
    void OnSearchTextChanged(QString i_text);
    void OnSearchBack();
    void OnSearchForward();
    void OnActionTriggered(QWidget* ip_widget, QString i_action);

private:
    bool Load(const QString& path);
    bool Find(const QTextCursor& from, QTextDocument::FindFlags flags);
    void EndFind();
    void ClearLog();

    Ui_ChatLogForm* mp_ui;
    // Empty when the file could not be read at opening: such a viewer offers no actions.
    QString m_logPath;
    QString m_path;
    // The view's empty first paragraph is not a line yet.
    bool m_hasLines = false;
};
