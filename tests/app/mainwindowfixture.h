// The main window in-process, logged in to a fake central server, in a temporary home; and a
// helper that answers the message boxes an action runs modally, recording what they showed.
#pragma once

#include "app/actionsettoolbar.h"
#include "app/mainwindow.h"
#include "common/fakeserver.h"
#include "server/server.h"

#include "savefile.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidgetAction>
#include <QtTest>

inline quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class MainWindowFixture
{
public:
    // Writes a save file with a login and everything pointing at this machine, makes the
    // window and lets start-up log in. False when any step fails.
    bool Start()
    {
        if (!root.isValid() || !QDir(root.path()).mkpath("home") || !QDir(root.path()).mkpath("tmp"))
            return false;
        qputenv("HOME", root.filePath("home").toLocal8Bit());
        qputenv("TMPDIR", root.filePath("tmp").toLocal8Bit());
        if (!server.Listen())
            return false;
        QFile file(MainWindow::SaveFilePath());
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(savefile::BuildSettings({
            {"username", "alice"},
            {"password", "secret"},
            {"use_upnp", "no"},
            {"server_host", "127.0.0.1"},
            {"server_port", QString::number(server.Port())},
            {"web_host", QString("127.0.0.1:%1").arg(FreePort())},
            {"listening_port", QString::number(FreePort())},
        }));
        file.close();

        auto* window = new MainWindow;
        window->setVisible(true);
        window->Init();
        if (!server.WaitForConnection() || !server.WaitForFrames(1) || server.Frames().first().code != 1)
            return false;
        server.SendRaw(FakeServer::LoginAccepted());
        for (int k = 0; k < 500 && !gp_server->IsConnected(); ++k)
            QTest::qWait(10);
        return gp_server->IsConnected() && Sync();
    }

    // Waits until everything the client wrote so far has arrived, then forgets it.
    bool Sync()
    {
        static int serial = 0;
        const QString marker = QString("sync-%1").arg(++serial);
        gp_server->GetUserStatus(marker);
        const QByteArray fields = FakeServer::Str(marker);
        for (int k = 0; k < 500; ++k) {
            for (const FakeServer::Frame& frame : server.Frames())
                if (frame.code == 7 && frame.fields == fields) {
                    server.ClearFrames();
                    return true;
                }
            QTest::qWait(10);
        }
        return false;
    }

    // The frames of one code that arrived, after a sync has made sure all did.
    QList<FakeServer::Frame> FramesOf(quint32 code)
    {
        QList<FakeServer::Frame> result;
        static int serial = 0;
        const QString marker = QString("frames-%1").arg(++serial);
        gp_server->GetUserStatus(marker);
        const QByteArray fields = FakeServer::Str(marker);
        for (int k = 0; k < 500; ++k) {
            bool seen = false;
            for (const FakeServer::Frame& frame : server.Frames())
                seen = seen || (frame.code == 7 && frame.fields == fields);
            if (seen)
                break;
            QTest::qWait(10);
        }
        for (const FakeServer::Frame& frame : server.Frames())
            if (frame.code == code)
                result << frame;
        return result;
    }

    // Shows the widget's action set as a focus change into it does, and triggers the action
    // with that text. False when the set shows no such action.
    static bool Trigger(QWidget* widget, const QString& text)
    {
        actionBar->OnApplicationFocusChanged(nullptr, widget);
        for (QAction* action : actionBar->actions())
            if (!qobject_cast<QWidgetAction*>(action) && action->text() == text) {
                action->trigger();
                return true;
            }
        return false;
    }

    static QStringList ActionTexts(QWidget* widget)
    {
        actionBar->OnApplicationFocusChanged(nullptr, widget);
        QStringList texts;
        for (QAction* action : actionBar->actions())
            // The toolbar's own buttons and its blank gap are not actions of the set.
            if (!qobject_cast<QWidgetAction*>(action) && !action->text().isEmpty() && action->isVisible())
                texts << action->text();
        return texts;
    }

    template <typename T>
    static T* Child(const char* name)
    {
        T* w = mainWindow->findChild<T*>(name);
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }

    QTemporaryDir root;
    FakeServer server;
};

// Answers the next message boxes, in order, with the given buttons.
class BoxAnswerer
{
public:
    struct Seen
    {
        QString title;
        QString text;
        Qt::TextFormat format = Qt::AutoText;
        QWidget* parent = nullptr;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    };

    explicit BoxAnswerer(QList<QMessageBox::StandardButton> answers) : m_answers(answers)
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start();
    }

    QList<Seen> seen;

private:
    void Poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || m_answers.isEmpty())
            return;
        Seen s;
        s.title = box->windowTitle();
        s.text = box->text();
        s.format = box->textFormat();
        s.parent = box->parentWidget();
        s.buttons = box->standardButtons();
        s.defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
        seen << s;
        box->button(m_answers.takeFirst())->click();
    }

    QList<QMessageBox::StandardButton> m_answers;
    QTimer m_timer;
};
