#include "status_lamp.h"

#include <QPainter>

namespace palvero {

StatusLamp::StatusLamp(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(sizeHint());
}

void StatusLamp::setColour(const QColor& colour)
{
    if (colour == m_colour)
        return;
    m_colour = colour;
    update();
}

void StatusLamp::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette().color(QPalette::Shadow), 1));
    p.setBrush(m_colour);
    p.drawEllipse(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
}

} // namespace palvero
