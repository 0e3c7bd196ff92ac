// Tab widgets of the shell: the common one focuses the page's designated widget.
#pragma once

#include <QHash>
#include <QPointer>
#include <QTabBar>
#include <QTabWidget>
#include <QVector>

class ChatTabBar;

// The shell's tab widget. Closable ones draw their close marks with a ChatTabBar, so that many
// tabs (rooms entered at login, searches) open cheaply. Pages not shown have their screen
// updates off: switching tabs then costs the two pages involved, not every widget of every page
// (the page stack turns updates off and on for all its widgets that have them on).
class TabWidget : public QTabWidget
{
    Q_OBJECT
    Q_PROPERTY(bool tabsClosable READ tabsClosable WRITE setTabsClosable)

public:
    explicit TabWidget(QWidget* parent = nullptr);

    // Colours blue the titles of the tabs, not current, that hold the widget.
    static void MarkTabActivity(QWidget* widget);

    // The tab row drawing the close marks; null while the tabs are not closable.
    ChatTabBar* ChatTabs() const;
    // These hide QTabWidget's own, which would give every tab a close button widget.
    void setTabsClosable(bool closable);
    bool tabsClosable() const;

public slots:
    void OnTabChanged(int i_tab);

protected:
    void tabInserted(int index) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetPageShown(QWidget* page, bool shown);

    QPointer<QWidget> mp_shownPage;  // the page left with its updates on
};

// A tab row that draws each tab's close mark itself. QTabBar's own close buttons are one widget
// per tab, and every tab added lays out all tabs and moves every button, so a burst of new tabs
// grows with the square of the tabs already open. Here a tab costs no widget: the mark is drawn
// in the space the style keeps for a tab button, hit-tested on press and release, and a click on
// it emits tabCloseRequested(index) as the button would. Tab sizes are remembered by text, so a
// layout of many tabs measures each text once. Tabs added through InsertTab while the row is on
// screen are laid out together, once the event loop runs again.
class ChatTabBar : public QTabBar
{
    Q_OBJECT

public:
    explicit ChatTabBar(QWidget* parent = nullptr);
    // A bar to take the place of `old` in its tab widget, with its settings.
    static ChatTabBar* Replacing(const QTabBar* old, QWidget* parent);

    void SetCloseMarks(bool shown);
    bool CloseMarks() const { return m_closeMarks; }
    // A tab that cannot be closed shows no mark (the mark goes with the tab when it moves).
    void SetTabClosable(int index, bool closable);
    bool HasCloseMark(int index) const;
    // Where the tab's close mark is drawn; empty when it has none.
    QRect CloseMarkRect(int index) const;

    // Adds a page to `tabs`, the tab widget this row belongs to, as QTabWidget::insertTab does. A
    // row on screen lays out every tab for each tab added, and its tab widget then places the row
    // and the pages again, so a burst of new tabs would grow with the square of the tabs open;
    // here the row and the tab widget are laid out once for all the tabs added before the event
    // loop runs again. Until then the row keeps its place and the pages their size; a tab's place
    // asked for meanwhile (drawing, a click) is worked out then.
    int InsertTab(QTabWidget* tabs, int index, QWidget* page, const QIcon& icon, const QString& text);

    // Used by the drawing: the mark's size and state for the tab drawn with `option`.
    QSize MarkSize() const;
    bool MarkOnLeft() const;
    bool MarkHovered(const QRect& markRect) const;
    bool MarkPressed(int index, const QRect& markRect) const;

protected:
    QSize tabSizeHint(int index) const override;
    void tabInserted(int index) override;
    void tabRemoved(int index) override;
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void LayOutAddedTabs();
    void OnTabMoved(int from, int to);
    int MarkAt(const QPoint& pos) const;
    void SetHoverPos(const QPoint& pos);

    bool m_closeMarks = false;
    QVector<bool> m_fixed;   // per tab: no close mark
    int m_pressed = -1;      // tab whose mark the left button went down on
    QPoint m_mousePos{-1, -1};
    int m_hovered = -1;
    bool m_layoutPending = false;  // tabs were added on screen and wait for LayOutAddedTabs
    // Size hints by text, one table per (has icon, has mark); valid for one font, style and icon size.
    mutable QHash<QString, QSize> m_hints[4];
    mutable QSize m_hintIconSize;
    mutable int m_hintShape = -1;
    mutable bool m_hintDocumentMode = false;
};

// The private-chat tabs: a plain tab widget that leaves the focus alone on tab changes, whose
// close marks are drawn by its tab row (see ChatTabBar) so that many chats open cheaply.
class RoomTabWidget : public QTabWidget
{
    Q_OBJECT

public:
    explicit RoomTabWidget(QWidget* parent = nullptr);

    ChatTabBar* ChatTabs() const { return mp_bar; }
    // These hide QTabWidget's own, which would give every tab a close button widget.
    void setTabsClosable(bool closable) { mp_bar->SetCloseMarks(closable); }
    bool tabsClosable() const { return mp_bar->CloseMarks(); }
    void SetTabClosable(int index, bool closable) { mp_bar->SetTabClosable(index, closable); }

private:
    ChatTabBar* mp_bar;
};
