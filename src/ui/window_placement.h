#pragma once

class QWidget;

namespace palvero {

// Shows a secondary window centred over `over` (the screen when null), raised and active.
void showCentredOver(QWidget* window, const QWidget* over);

} // namespace palvero
