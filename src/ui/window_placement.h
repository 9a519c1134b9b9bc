#pragma once

#include <QRect>
#include <QSize>

class QWidget;

namespace palvero {

// The part of the screen a window may use: the available area of the screen it is on, or
// of the screen of `over`, or of the primary screen.
QRect availableAreaFor(const QWidget* window, const QWidget* over = nullptr);

// Brings the window onto the available area: no larger than the area leaves for it with
// its frame (its minimum size follows when that is larger), and moved so that its frame
// lies wholly on the area. A valid `wanted` is the size the window would like.
void fitOnScreen(QWidget* window, QSize wanted = QSize(), const QWidget* over = nullptr);

// Shows a secondary window centred over `over` (the screen when null), raised and active,
// and wholly on the screen.
void showCentredOver(QWidget* window, const QWidget* over);

} // namespace palvero
