#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into an orderly quit of the event loop, so the shut-down
// sequence and the final save run as they do when the window is closed. The handler
// itself only writes a byte into a socket pair; the quit happens on the GUI thread.
class QuitOnSignal : public QObject
{
    Q_OBJECT

public:
    explicit QuitOnSignal(QObject* parent = nullptr);
    ~QuitOnSignal() override;

    // False when the socket pair or the handlers could not be set up.
    bool isActive() const { return m_notifier != nullptr; }
    // True once a signal has asked for the quit, also when no event loop was running then.
    bool quitRequested() const { return m_quitRequested; }

signals:
    void signalReceived(int signalNumber);

private slots:
    void onReadable();

private:
    QSocketNotifier* m_notifier = nullptr;
    bool m_quitRequested = false;
};
