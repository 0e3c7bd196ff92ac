// Another user's picture decoded in a process of its own: the program started again with
// kChildOption, under hard limits of memory and time, so that whatever a picture makes a decoder
// do, this process neither holds its memory nor waits for it.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

class PictureChild;

class PictureDecoder : public QObject
{
    Q_OBJECT

public:
    // The first argument with which the program decodes one picture and does nothing else. The
    // client adds its own process id and its time limit in ms.
    static const char* const kChildOption;
    // How many decoding children the whole program runs at a time; other pictures wait.
    static constexpr int kMaxChildren = 2;
    // A reply comes in one peer frame, which holds at most 10 MiB: a child reads no more.
    static constexpr qint64 kMaxPictureBytes = 10 * 1024 * 1024;
    // The longest reason for a refusal that is taken from a child.
    static constexpr qint64 kMaxReasonBytes = 200;

    // Whether the program was started as a decoding child.
    static bool IsChildRun(int argc, char** argv);
    // The child's whole run: the picture's bytes on standard input, on standard output its
    // width and height (32-bit little-endian), then its pixels (32-bit ARGB, little-endian,
    // row by row), or a width and height of 0 followed by why it is not shown (UTF-8). Returns
    // the exit code.
    static int RunChild(int argc, char** argv);

    // The program started as the child: the running program's own file unless set.
    static void SetProgram(const QString& i_path);
    // How long a child may take before it is stopped, in ms.
    static void SetTimeLimit(int i_ms);
    static int TimeLimit();
    // How many children the program has started so far.
    static int ChildrenStarted();

    explicit PictureDecoder(QObject* parent = nullptr);
    ~PictureDecoder() override;

    // Takes a copy of the bytes for a child, started once control returns to the event loop and
    // a child's place is free: of several pictures given meanwhile only the last is decoded. A
    // child still at work for an earlier one is stopped and its answer never comes.
    void Start(const char* ip_bytes, int i_length);
    // Stops the child at work and forgets the waiting picture, if any; no answer comes.
    void Stop();

signals:
    // Once per Start that was not overtaken: the picture fitted into 800 by 400, or a null
    // image and why.
    void Decoded(QImage i_image, QString i_refusal);

private:
    friend class PictureChild;

    static void LaunchWaiting();
    void Launch();
    void OnChildEnded(bool i_exitedWell, const QByteArray& i_answer);
    void Fail(const QString& i_why);
    void Answer(const QImage& i_image, const QString& i_refusal);

    // The picture waiting for a child's place.
    QByteArray m_waiting;
    bool m_isWaiting = false;
    PictureChild* m_child = nullptr;
    QTimer m_timer;
};
