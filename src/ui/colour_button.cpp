#include "colour_button.h"

#include <QPainter>
#include <QPixmap>

namespace palvero {

namespace {

const QSize kSwatch(44, 14);

} // namespace

ColourButton::ColourButton(QWidget* parent)
    : QPushButton(parent)
{
    setIconSize(kSwatch);
    setAutoDefault(false);
    setColour(0);
}

void ColourButton::setColour(uint32_t value)
{
    m_value = value;
    QPixmap swatch(kSwatch);
    swatch.fill(toQColor(value));
    QPainter frame(&swatch);
    frame.setPen(palette().color(QPalette::Dark));
    frame.drawRect(swatch.rect().adjusted(0, 0, -1, -1));
    frame.end();
    setIcon(QIcon(swatch));
    setToolTip(QString("Red %1, green %2, blue %3 - click to choose another colour")
                   .arg(value & 0xFF)
                   .arg((value >> 8) & 0xFF)
                   .arg((value >> 16) & 0xFF));
}

QColor ColourButton::toQColor(uint32_t value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

uint32_t ColourButton::fromQColor(const QColor& colour)
{
    return uint32_t(colour.red()) | uint32_t(colour.green()) << 8 | uint32_t(colour.blue()) << 16;
}

} // namespace palvero
