// Another user's picture decoded in a process of its own: the program started again with
// kChildOption, under hard limits of memory and time, so that whatever a picture makes a decoder
// do, this process neither holds its memory nor waits for it.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

class QProcess;

class PictureDecoder : public QObject
{
    Q_OBJECT

public:
    // The first argument with which the program decodes one picture and does nothing else.
    static const char* const kChildOption;

    // The child's whole run: the picture's bytes on standard input, on standard output its
    // width and height (32-bit little-endian), then its pixels (32-bit ARGB, little-endian,
    // row by row), or a width and height of 0 followed by why it is not shown (UTF-8). Returns
    // the exit code.
    static int RunChild();

    // The program started as the child: the running program's own file unless set.
    static void SetProgram(const QString& i_path);
    // How long a child may take before it is stopped, in ms.
    static void SetTimeLimit(int i_ms);
    static int TimeLimit();

    explicit PictureDecoder(QObject* parent = nullptr);
    ~PictureDecoder() override;

    // Hands a copy of the bytes to a new child; a child still at work is stopped and its
    // answer never comes.
    void Start(const char* ip_bytes, int i_length);
    // Stops the child at work, if any; its answer never comes.
    void Stop();

signals:
    // Once per Start that was not overtaken: the picture fitted into 800 by 400, or a null
    // image and why.
    void Decoded(QImage i_image, QString i_refusal);

private:
    void OnOutput();
    void OnFinished(int i_exitCode, int i_exitStatus);
    void Fail(const QString& i_why);
    void Answer(const QImage& i_image, const QString& i_refusal);

    QProcess* m_process = nullptr;
    QByteArray m_answer;
    QTimer m_timer;
};
