// Answers the modal dialogs that start-up runs in nested event loops, recording what they showed.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

class ModalWatcher
{
public:
    ModalWatcher()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start();
    }

    QStringList titles;
    QStringList texts;

private:
    void Poll()
    {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        titles << dialog->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
            texts << box->text();
            box->accept();
        } else {
            texts << QString();
            dialog->reject();
        }
    }

    QTimer m_timer;
};
