// Small string and path helpers. Paths come from peers that use either separator, so the path
// helpers treat "\" and "/" alike unless stated.
#pragma once

#include <QString>

#include <string>

class QDateTime;
class QWidget;

// Bit n of the value, n counted from 1 at the least significant end (n - 1 taken modulo 32).
bool GetBit(unsigned int value, int n);
// Every occurrence of find replaced, left to right, never rescanning inserted text. An empty
// find returns the text unchanged.
std::string StringReplace(std::string text, const std::string& find, const std::string& replacement);
// Smallest position at or after start of any character of chars in text; -1 when none (or chars empty).
int findFirstOf(const QString& text, const QString& chars, int start = 0);
// The path's components in reverse order joined by "/".
QString ReversePathname(QString path);
// Decimal digits grouped by three with ","; empty below 1.
QString CommafyNumber(long long n);
// Plain text as HTML: escaped as EscapeHTML does, with every http:// or https:// address wrapped
// in an anchor. Takes the raw text, not escaped text (escaping first would let an address run
// on into an entity).
QString ConvertLinks(const QString& text);
// "&", "<" and ">" escaped, the ampersand first.
QString EscapeHTML(const QString& text);
// A name (user, room, search) as the text of a tab, button or menu entry: "&" doubled, so the
// name shows as it is and no letter of it becomes a keyboard shortcut.
QString LabelText(const QString& name);
// The comparison key of a local path: one trailing separator dropped, lower case.
QString GetAbsoluteFileName(const QString& path);
// Text after the last ".", ASCII lower case; empty when there is no dot.
std::string GetFileExtension(const std::string& name);
// The last component, one trailing separator ignored.
std::string GetFileName(const std::string& path);
// The path without its last component, one trailing separator ignored; a bare name is its own folder.
std::string GetFolder(const std::string& path);
// The folder of a file path from a peer: as GetFolder, but a bare name has no folder (empty), so
// that folder + "\\" + name never names a file the peer does not have.
std::string GetRemoteFolder(const std::string& path);
// GetFolder after dropping all trailing backslashes.
std::string GetParentFolder(const std::string& path);
// A duration with the units d, h, m, s: 59 gives 0m59s, 3661 gives 1h1m1s.
QString FormatSeconds(long seconds);
// A name from the network made safe as one component of a local path: "/", "\" and NUL become
// "_", as does a leading "." (so "." and ".." and hidden names cannot arise); empty gives "_".
QString SafeFileName(const QString& name);
// A time as it is stored and compared: the local date and time in Qt's text date form with the
// English day and month names ("Sat Dec 5 19:31:47 2026"), the bytes an English or C desktop
// has always written, on a desktop in any language. Empty for an invalid time.
QString StoredTimeText(const QDateTime& time);
// StoredTimeText of the current time.
QString CurrentTimeText();
// A stored time read back, on a desktop in any language: the form above, or the text date form
// in the desktop's own language that earlier versions wrote there. Invalid when it is neither.
QDateTime StoredTimeFromText(const QString& text);
// Activates the widget's window, focuses it and makes every enclosing tab page current.
void FocusWidget(QWidget* widget);
