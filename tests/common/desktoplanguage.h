// Puts a whole test program on a desktop in another language, as a user there starts the client:
// the environment the toolkit reads its system locale from when the application object is made
// (LANG, LC_ALL), and the default locale. The system locale is read once, so this has to happen
// before main: define one object at namespace scope.
#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>

class DesktopLanguage
{
public:
    // name: a locale as the environment gives it, "de_DE.UTF-8".
    explicit DesktopLanguage(const char* name)
        : m_name(QString::fromLatin1(name).section(QLatin1Char('.'), 0, 0))
    {
        qputenv("LANG", name);
        qputenv("LC_ALL", name);
        QLocale::setDefault(QLocale(m_name));
    }

    // "de_DE": what QLocale::system() and QLocale() name once the program runs in it.
    QString Name() const { return m_name; }

private:
    QString m_name;
};
