// The main window in-process, in a temporary home, pointed at a fake central server (logged in
// or not); helpers to reach its widgets, answer its boxes and start the real program.
#pragma once

#include "app/actionsettoolbar.h"
#include "app/mainwindow.h"
#include "common/childprocess.h"
#include "common/fakepeer.h"
#include "common/fakeserver.h"
#include "common/serverfixture.h"
#include "common/toolbaraction.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "server/portforwarder.h"
#include "server/server.h"

#include "savefile.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidgetAction>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>

inline quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A widget of the main window's form (or of a view inside it) by its object name.
template <typename T>
T* Child(const char* name, QObject* root = nullptr)
{
    T* w = (root ? root : mainWindow)->findChild<T*>(name);
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

// The visible top-level windows of one kind.
template <typename T>
QList<T*> Visible()
{
    QList<T*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w))
            if (t->isVisible())
                found << t;
    return found;
}

// Starts the built program; it inherits this process's HOME and TMPDIR.
inline bool StartProgram(QProcess& program)
{
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(qEnvironmentVariable("TAVRINEL_BINARY"), QStringList());
    return program.waitForStarted();
}

// SIGTERM, then a normal exit with code 0.
inline bool TerminateProgram(QProcess& program)
{
    return ::kill(static_cast<pid_t>(program.processId()), SIGTERM) == 0 && program.waitForFinished(30000) &&
           program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0;
}

// Answers the modal dialogs that open while it lives, recording what they showed: message boxes
// with the given buttons in order (without answers every box is accepted and every other dialog
// rejected, as for the nested loops of start-up).
class BoxAnswerer
{
public:
    struct Seen
    {
        QString title, text;
        Qt::TextFormat format;
        QMessageBox::StandardButton defaultButton;
    };

    explicit BoxAnswerer(QList<QMessageBox::StandardButton> answers = {})
        : m_answers(answers), m_answerAll(answers.isEmpty())
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start();
    }

    QStringList Titles() const
    {
        QStringList titles;
        for (const Seen& s : seen)
            titles << s.title;
        return titles;
    }

    QList<Seen> seen;

private:
    void Poll()
    {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        auto* box = qobject_cast<QMessageBox*>(dialog);
        if (!dialog || !dialog->isVisible() || (!m_answerAll && (!box || m_answers.isEmpty())))
            return;
        seen << Seen{dialog->windowTitle(), box ? box->text() : QString(), box ? box->textFormat() : Qt::AutoText,
                     box && box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton};
        if (!m_answerAll && box)
            box->button(m_answers.takeFirst())->click();
        else if (box)
            box->accept();
        else
            dialog->reject();
    }

    QList<QMessageBox::StandardButton> m_answers;
    const bool m_answerAll;
    QTimer m_timer;
};

class MainWindowFixture
{
public:
    // Makes the temporary home (HOME and TMPDIR of this process) and writes a save file holding
    // `settings` after the ones that point everything at this machine.
    bool WriteHome(const QList<QPair<QString, QString>>& settings = {})
    {
        if (!root.isValid() || !QDir(root.path()).mkpath("home") || !QDir(root.path()).mkpath("tmp"))
            return false;
        qputenv("HOME", root.filePath("home").toLocal8Bit());
        qputenv("TMPDIR", root.filePath("tmp").toLocal8Bit());
        if (!server.Listen())
            return false;
        webPort = FreePort();
        listeningPort = FreePort();
        const QList<QPair<QString, QString>> all{
            {"use_upnp", "no"}, {"server_host", "127.0.0.1"}, {"server_port", QString::number(server.Port())},
            {"web_host", QString("127.0.0.1:%1").arg(webPort)}, {"listening_port", QString::number(listeningPort)}};
        QFile file(MainWindow::SaveFilePath());
        return file.open(QIODevice::WriteOnly) && file.write(buildSave(all + settings)) > 0;
    }

    // WriteHome, then the window. Without a user name start-up runs the first-run dialog, which
    // is cancelled; the titles of the dialogs it ran are kept.
    bool Open(const QList<QPair<QString, QString>>& settings = {})
    {
        if (!WriteHome(settings))
            return false;
        // A gateway that only records: real discovery must never run here.
        new PortForwarder(std::make_unique<RecordingGateway>());
        BoxAnswerer watcher;
        auto* window = new MainWindow;
        window->setVisible(true);
        window->Init();
        firstRunTitles = watcher.Titles();
        // The port was free when chosen; under a parallel run another test may have taken it
        // since. The messenger then listens on another pair, as a second load of the settings lets it.
        for (int attempt = 0; peerMessenger && !peerMessenger->ListeningPort(false) && attempt < 20; ++attempt) {
            listeningPort = FakePeer::FreePortPair();
            SetSetting("listening_port", Value(static_cast<int>(listeningPort)));
            SetSetting("obfuscated_listening_port", Value(static_cast<int>(listeningPort) + 1));
            peerMessenger->DataLoaded();
        }
        return mainWindow == window;
    }

    // Opens the window with a login and lets start-up log in. False when any step fails.
    bool Start()
    {
        if (!Open({{"username", "alice"}, {"password", "secret"}}))
            return false;
        if (!server.WaitForConnection() || !server.WaitForFrames(1) || server.Frames().first().code != 1)
            return false;
        server.SendRaw(FakeServer::LoginAccepted());
        return QTest::qWaitFor([] { return gp_server->IsConnected(); }) && Sync();
    }

    // Waits until everything the client wrote so far has arrived, then forgets it.
    bool Sync()
    {
        if (!WaitForAll())
            return false;
        server.ClearFrames();
        return true;
    }

    // The frames of one code that arrived, after making sure all did.
    QList<FakeServer::Frame> FramesOf(quint32 code)
    {
        WaitForAll();
        QList<FakeServer::Frame> result;
        for (const FakeServer::Frame& frame : server.Frames())
            if (frame.code == code)
                result << frame;
        return result;
    }

    // Shows the widget's action set as a focus change into it does, and triggers the action
    // with that text. False when the set shows no such action.
    static bool Trigger(QWidget* widget, const QString& text)
    {
        return TriggerToolbarAction(widget, text);
    }

    // Makes the save file from the settings; a test may put more items beside them.
    std::function<QByteArray(const QList<QPair<QString, QString>>&)> buildSave = savefile::BuildSettings;
    QTemporaryDir root;
    FakeServer server;
    quint16 webPort = 0;
    quint16 listeningPort = 0;
    QStringList firstRunTitles;

private:
    // A status request with a fresh marker, answered by nothing: once the fake has it, it has
    // everything written before.
    bool WaitForAll()
    {
        static int serial = 0;
        const QString marker = QString("sync-%1").arg(++serial);
        gp_server->GetUserStatus(marker);
        const QByteArray fields = FakeServer::Str(marker);
        for (int k = 0; k < 500; ++k) {
            for (const FakeServer::Frame& frame : server.Frames())
                if (frame.code == 7 && frame.fields == fields)
                    return true;
            QTest::qWait(10);
        }
        return false;
    }
};
