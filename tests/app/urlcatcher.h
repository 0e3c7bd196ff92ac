// Stands in for the browser: records the pages the program asks the desktop to open.
// A test using it includes "moc_urlcatcher.cpp" once.
#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void Open(const QUrl& url) { urls << url; }
};
