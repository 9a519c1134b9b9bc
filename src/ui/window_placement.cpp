#include "window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace palvero {

namespace {

// The frame the window system puts around the window; before the window is shown, room
// for a title bar and thin borders.
QMargins frameOf(const QWidget* window)
{
    if (window->isVisible()) {
        const QRect frame = window->frameGeometry();
        const QRect inner = window->geometry();
        return QMargins(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                        frame.bottom() - inner.bottom());
    }
    const QWindow* handle = window->windowHandle();
    const QMargins known = handle ? handle->frameMargins() : QMargins();
    if (!known.isNull())
        return known;
    const int border = 4;
    return QMargins(border, window->style()->pixelMetric(QStyle::PM_TitleBarHeight) + border, border, border);
}

void place(QWidget* window, QSize wanted, const QWidget* over, bool centre)
{
    const QRect area = availableAreaFor(window, over);
    if (!area.isValid())
        return;
    const QMargins frame = frameOf(window);
    const QSize room(std::max(1, area.width() - frame.left() - frame.right()),
                     std::max(1, area.height() - frame.top() - frame.bottom()));
    if (!wanted.isValid())
        wanted = window->size();
    // A minimum larger than the room would push the window off the screen: the layouts
    // scroll what does not fit, so the room wins.
    const QSize minimum = window->minimumSize();
    if (minimum.width() > room.width() || minimum.height() > room.height())
        window->setMinimumSize(minimum.boundedTo(room));
    const QSize size = wanted.boundedTo(room).expandedTo(window->minimumSize());
    if (size != window->size())
        window->resize(size);

    QRect outer(QPoint(0, 0), size.grownBy(frame));
    if (centre) {
        const QRect target = over && over->isVisible() ? over->frameGeometry() : area;
        outer.moveCenter(target.center());
    } else {
        outer.moveTopLeft(window->frameGeometry().topLeft());
    }
    outer.moveLeft(std::clamp(outer.left(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())));
    outer.moveTop(std::clamp(outer.top(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
    window->move(outer.topLeft());
}

} // namespace

QRect availableAreaFor(const QWidget* window, const QWidget* over)
{
    QScreen* screen = nullptr;
    if (over && over->isVisible())
        screen = over->screen();
    if (!screen && window->isVisible())
        screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void fitOnScreen(QWidget* window, QSize wanted, const QWidget* over)
{
    place(window, wanted, over, false);
}

void showCentredOver(QWidget* window, const QWidget* over)
{
    if (window->isVisible()) {
        window->raise(); // already shown, perhaps behind another window
    } else {
        place(window, QSize(), over, true);
        window->show();
        // The real frame is known once the window system has framed the window.
        QTimer::singleShot(0, window, [window] { fitOnScreen(window); });
    }
    window->activateWindow();
}

} // namespace palvero
