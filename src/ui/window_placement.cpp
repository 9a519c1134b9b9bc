#include "window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace palvero {

void showCentredOver(QWidget* window, const QWidget* over)
{
    if (!window->isVisible()) {
        QRect area;
        if (over && over->isVisible())
            area = over->frameGeometry();
        else if (QScreen* screen = QGuiApplication::primaryScreen())
            area = screen->availableGeometry();
        if (area.isValid()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(area.center());
            window->move(frame.topLeft());
        }
    }
    if (window->isVisible())
        window->raise(); // already shown, perhaps behind another window
    else
        window->show();
    window->activateWindow();
}

} // namespace palvero
