#include "app/tabwidget.h"

#include "app/focus.h"

#include <QEvent>
#include <QHelpEvent>
#include <QHoverEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionTab>
#include <QToolTip>

TabWidget::TabWidget(QWidget* parent)
    : QTabWidget(parent)
{
    connect(this, &QTabWidget::currentChanged, this, &TabWidget::OnTabChanged);
}

void TabWidget::MarkTabActivity(QWidget* widget)
{
    ::MarkTabActivity(widget);
}

ChatTabBar* TabWidget::ChatTabs() const
{
    return qobject_cast<ChatTabBar*>(tabBar());
}

void TabWidget::setTabsClosable(bool closable)
{
    ChatTabBar* bar = ChatTabs();
    if (!bar && closable) {
        // A new tab row would lose the tabs already there; those get Qt's close buttons.
        if (count() > 0) {
            QTabWidget::setTabsClosable(true);
            return;
        }
        bar = ChatTabBar::Replacing(tabBar(), this);
        setTabBar(bar);
        connect(bar, &QTabBar::tabCloseRequested, this, &QTabWidget::tabCloseRequested);
    }
    if (bar)
        bar->SetCloseMarks(closable);
    else
        QTabWidget::setTabsClosable(closable);
}

bool TabWidget::tabsClosable() const
{
    const ChatTabBar* bar = ChatTabs();
    return bar ? bar->CloseMarks() : QTabWidget::tabsClosable();
}

void TabWidget::OnTabChanged(int i_tab)
{
    if (i_tab == -1)
        return;
    QWidget* page = widget(i_tab);
    if (page != mp_shownPage) {
        // Updates on before the focus search: what it focuses is drawn at once.
        if (mp_shownPage && indexOf(mp_shownPage) >= 0)
            SetPageShown(mp_shownPage, false);
        SetPageShown(page, true);
        mp_shownPage = page;
    }
    FindWidgetFocusProperty(page, 0);
    tabBar()->setTabTextColor(i_tab, Qt::black);
}

void TabWidget::tabInserted(int index)
{
    QWidget* page = widget(index);
    if (page) {
        page->installEventFilter(this);
        if (page != currentWidget())
            SetPageShown(page, false);
    }
    QTabWidget::tabInserted(index);
}

bool TabWidget::eventFilter(QObject* watched, QEvent* event)
{
    // A page taken out of this tab widget and put elsewhere must draw there.
    if (event->type() == QEvent::ParentChange && watched->isWidgetType()) {
        auto* page = static_cast<QWidget*>(watched);
        if (indexOf(page) < 0) {
            page->removeEventFilter(this);
            page->setUpdatesEnabled(true);
            if (page == mp_shownPage)
                mp_shownPage = nullptr;
        }
    }
    return QTabWidget::eventFilter(watched, event);
}

void TabWidget::SetPageShown(QWidget* page, bool shown)
{
    if (page && page->updatesEnabled() != shown)
        page->setUpdatesEnabled(shown);
}

namespace {

// Tab data of a tab that shows no close mark; kept in the tab so that it moves with it.
const char* const kNoCloseMark = "no-close-mark";

// Gives a tab with a close mark the room of a tab button (so the style places the label beside
// it) and returns where the mark goes, in the bar's coordinates.
QRect MakeMarkRoom(const ChatTabBar* bar, QStyleOptionTab* io_tab)
{
    const bool left = bar->MarkOnLeft();
    (left ? io_tab->leftButtonSize : io_tab->rightButtonSize) = bar->MarkSize();
    return bar->style()->subElementRect(left ? QStyle::SE_TabBarTabLeftButton : QStyle::SE_TabBarTabRightButton,
                                        io_tab, bar);
}

// The tab an option draws. Options without the index are the picture of a tab being dragged,
// which is the current one.
int TabIndex(const ChatTabBar* bar, const QStyleOptionTab* tab)
{
    if (const auto* indexed = qstyleoption_cast<const QStyleOptionTabV4*>(tab))
        return indexed->tabIndex;
    return tab->state & QStyle::State_Selected ? bar->currentIndex() : -1;
}

// The chat tab row's style: the platform's, with the close mark drawn on each tab that has one,
// in the states a close button would show.
class CloseMarkStyle : public QProxyStyle
{
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        const auto* bar = qobject_cast<const ChatTabBar*>(widget);
        const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option);
        const int index = element == CE_TabBarTab && bar && tab ? TabIndex(bar, tab) : -1;
        if (!bar || !tab || !bar->HasCloseMark(index)) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        QStyleOptionTabV4 withRoom;
        static_cast<QStyleOptionTab&>(withRoom) = *tab;
        withRoom.tabIndex = index;
        const QRect markRect = MakeMarkRoom(bar, &withRoom);
        QProxyStyle::drawControl(element, &withRoom, painter, widget);

        QStyleOption mark;
        mark.initFrom(bar);
        mark.rect = markRect;
        mark.state = (tab->state & (State_Enabled | State_Active)) | State_AutoRaise;
        if (tab->state & State_Selected)
            mark.state |= State_Selected;
        if (bar->MarkPressed(index, markRect))
            mark.state |= State_Sunken;
        else if (bar->isEnabled() && bar->MarkHovered(markRect))
            mark.state |= State_Raised;
        proxy()->drawPrimitive(PE_IndicatorTabClose, &mark, painter, widget);
    }
};

}  // namespace

ChatTabBar::ChatTabBar(QWidget* parent)
    : QTabBar(parent)
{
    auto* style = new CloseMarkStyle;
    style->setParent(this);
    setStyle(style);
    setAttribute(Qt::WA_Hover, true);
    connect(this, &QTabBar::tabMoved, this, &ChatTabBar::OnTabMoved);
}

ChatTabBar* ChatTabBar::Replacing(const QTabBar* old, QWidget* parent)
{
    auto* bar = new ChatTabBar(parent);
    // As QTabWidget's own tab row.
    bar->setObjectName(QStringLiteral("qt_tabwidget_tabbar"));
    bar->setDrawBase(false);
    if (old) {
        bar->setShape(old->shape());
        bar->setIconSize(old->iconSize());
        bar->setMovable(old->isMovable());
        bar->setElideMode(old->elideMode());
        bar->setUsesScrollButtons(old->usesScrollButtons());
        bar->setDocumentMode(old->documentMode());
        bar->setSelectionBehaviorOnRemove(old->selectionBehaviorOnRemove());
    }
    return bar;
}

void ChatTabBar::SetCloseMarks(bool shown)
{
    if (shown == m_closeMarks)
        return;
    m_closeMarks = shown;
    // Every tab's width changes.
    for (QHash<QString, QSize>& table : m_hints)
        table.clear();
    if (count())
        setTabText(0, tabText(0));
    update();
}

void ChatTabBar::SetTabClosable(int index, bool closable)
{
    if (index < 0 || index >= count() || HasCloseMark(index) == closable)
        return;
    setTabData(index, closable ? QVariant() : QVariant(QString::fromLatin1(kNoCloseMark)));
    // Setting the text again lays the row out with the tab's new width.
    setTabText(index, tabText(index));
}

int ChatTabBar::InsertTab(QTabWidget* tabs, int index, QWidget* page, const QIcon& icon, const QString& text)
{
    if (tabs->tabBar() != this || !isVisible() || !tabs->isVisible())
        return tabs->insertTab(index, page, icon, text);
    // QTabBar and QTabWidget lay out at once only while they are visible; otherwise they mark
    // the layout as due and do it when shown or asked for a tab's place or a size. The state flag
    // they read is cleared for this one call alone and set again before anything else runs: no
    // event is handled in between, so nothing is drawn or clicked while it is off, and neither
    // widget is really hidden (which would move the focus and resize the pages).
    tabs->setAttribute(Qt::WA_WState_Visible, false);
    setAttribute(Qt::WA_WState_Visible, false);
    const int at = tabs->insertTab(index, page, icon, text);
    setAttribute(Qt::WA_WState_Visible, true);
    tabs->setAttribute(Qt::WA_WState_Visible, true);
    if (!m_layoutPending) {
        m_layoutPending = true;
        QMetaObject::invokeMethod(this, &ChatTabBar::LayOutAddedTabs, Qt::QueuedConnection);
    }
    return at;
}

void ChatTabBar::LayOutAddedTabs()
{
    if (!m_layoutPending)
        return;
    m_layoutPending = false;
    if (count() == 0)
        return;
    // Setting a text again does what adding a tab on screen would have: every tab laid out, the
    // current one kept in view, the row drawn, and the row and the pages placed for the row's
    // new size.
    auto* tabs = qobject_cast<QTabWidget*>(parentWidget());
    if (tabs && tabs->tabBar() == this)
        tabs->setTabText(0, tabs->tabText(0));
    else
        setTabText(0, tabText(0));
}

bool ChatTabBar::HasCloseMark(int index) const
{
    return m_closeMarks && index >= 0 && index < count() && tabData(index).toString() != QLatin1String(kNoCloseMark);
}

QRect ChatTabBar::CloseMarkRect(int index) const
{
    if (!HasCloseMark(index))
        return QRect();
    // Where the mark is depends on where the row is.
    const_cast<ChatTabBar*>(this)->LayOutAddedTabs();
    QStyleOptionTab tab;
    initStyleOption(&tab, index);
    return MakeMarkRoom(this, &tab);
}

QSize ChatTabBar::MarkSize() const
{
    return QSize(style()->pixelMetric(QStyle::PM_TabCloseIndicatorWidth, nullptr, this),
                 style()->pixelMetric(QStyle::PM_TabCloseIndicatorHeight, nullptr, this));
}

bool ChatTabBar::MarkOnLeft() const
{
    return style()->styleHint(QStyle::SH_TabBar_CloseButtonPosition, nullptr, this) == QTabBar::LeftSide;
}

bool ChatTabBar::MarkHovered(const QRect& markRect) const
{
    return m_pressed < 0 && markRect.contains(m_mousePos);
}

bool ChatTabBar::MarkPressed(int index, const QRect& markRect) const
{
    return m_pressed >= 0 && m_pressed == index && markRect.contains(m_mousePos);
}

QSize ChatTabBar::tabSizeHint(int index) const
{
    if (iconSize() != m_hintIconSize || shape() != m_hintShape || documentMode() != m_hintDocumentMode) {
        for (QHash<QString, QSize>& table : m_hints)
            table.clear();
        m_hintIconSize = iconSize();
        m_hintShape = shape();
        m_hintDocumentMode = documentMode();
    }
    const bool mark = HasCloseMark(index);
    QHash<QString, QSize>& table = m_hints[(tabIcon(index).isNull() ? 0 : 1) + (mark ? 2 : 0)];
    // Texts of tabs long closed need not stay.
    if (table.size() > 4 * count() + 64)
        table.clear();
    const QString text = tabText(index);
    const auto known = table.constFind(text);
    if (known != table.constEnd())
        return *known;

    QSize size = QTabBar::tabSizeHint(index);
    if (mark) {
        // As QTabBar counts a tab button: its extent and 4 pixels of padding.
        const QSize markSize = MarkSize();
        const bool vertical = shape() == RoundedWest || shape() == RoundedEast || shape() == TriangularWest ||
                              shape() == TriangularEast;
        if (vertical)
            size.rheight() += markSize.height() + 4;
        else
            size.rwidth() += markSize.width() + 4;
    }
    table.insert(text, size);
    return size;
}

void ChatTabBar::tabInserted(int index)
{
    if (m_pressed >= index)
        ++m_pressed;
    QTabBar::tabInserted(index);
}

void ChatTabBar::tabRemoved(int index)
{
    if (m_pressed == index)
        m_pressed = -1;
    else if (m_pressed > index)
        --m_pressed;
    QTabBar::tabRemoved(index);
}

void ChatTabBar::OnTabMoved(int from, int to)
{
    if (m_pressed < 0)
        return;
    if (m_pressed == from)
        m_pressed = to;
    else if (from < m_pressed && m_pressed <= to)
        --m_pressed;
    else if (to <= m_pressed && m_pressed < from)
        ++m_pressed;
}

int ChatTabBar::MarkAt(const QPoint& pos) const
{
    const int index = tabAt(pos);
    return index >= 0 && CloseMarkRect(index).contains(pos) ? index : -1;
}

void ChatTabBar::SetHoverPos(const QPoint& pos)
{
    m_mousePos = pos;
    const int hovered = MarkAt(pos);
    if (hovered != m_hovered) {
        m_hovered = hovered;
        update();
    }
}

bool ChatTabBar::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
        SetHoverPos(static_cast<QHoverEvent*>(event)->pos());
        break;
    case QEvent::HoverLeave:
        SetHoverPos(QPoint(-1, -1));
        break;
    case QEvent::ToolTip: {
        const auto* help = static_cast<QHelpEvent*>(event);
        const int mark = MarkAt(help->pos());
        if (mark >= 0) {
            QToolTip::showText(help->globalPos(), tr("Close Tab"), this, CloseMarkRect(mark));
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QTabBar::event(event);
}

void ChatTabBar::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange ||
        event->type() == QEvent::LayoutDirectionChange)
        for (QHash<QString, QSize>& table : m_hints)
            table.clear();
    QTabBar::changeEvent(event);
}

void ChatTabBar::mousePressEvent(QMouseEvent* event)
{
    // As on a close button: the press selects no tab and starts no drag.
    if (event->button() == Qt::LeftButton) {
        const int mark = MarkAt(event->pos());
        if (mark >= 0) {
            m_pressed = mark;
            m_mousePos = event->pos();
            update();
            event->accept();
            return;
        }
    }
    QTabBar::mousePressEvent(event);
}

void ChatTabBar::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A close button takes the second press of a double click as a press.
    if (event->button() == Qt::LeftButton && MarkAt(event->pos()) >= 0) {
        mousePressEvent(event);
        return;
    }
    QTabBar::mouseDoubleClickEvent(event);
}

void ChatTabBar::mouseMoveEvent(QMouseEvent* event)
{
    if (m_pressed >= 0) {
        m_mousePos = event->pos();
        update();
        event->accept();
        return;
    }
    QTabBar::mouseMoveEvent(event);
}

void ChatTabBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_pressed >= 0 && event->button() == Qt::LeftButton) {
        const int index = m_pressed;
        m_pressed = -1;
        m_mousePos = event->pos();
        update();
        event->accept();
        // Released off the mark (or the tab moved away under it): no click, as on a button.
        if (CloseMarkRect(index).contains(event->pos()))
            emit tabCloseRequested(index);
        return;
    }
    QTabBar::mouseReleaseEvent(event);
}

RoomTabWidget::RoomTabWidget(QWidget* parent)
    : QTabWidget(parent)
    , mp_bar(ChatTabBar::Replacing(tabBar(), this))
{
    setTabBar(mp_bar);
    connect(mp_bar, &QTabBar::tabCloseRequested, this, &QTabWidget::tabCloseRequested);
}
