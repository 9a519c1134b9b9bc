#pragma once

#include <QPushButton>

#include <cstdint>

namespace palvero {

// A swatch button for one colour setting. It shows the colour; what a click does (open a
// colour dialog, store the choice) is up to its window.
class ColourButton : public QPushButton {
    Q_OBJECT
public:
    explicit ColourButton(QWidget* parent = nullptr);

    // A platform colour value: red in the lowest byte, then green, then blue. The top
    // byte is kept as it is, so a value the file holds survives being shown.
    void setColour(uint32_t value);
    uint32_t colour() const { return m_value; }

    static QColor toQColor(uint32_t value);
    static uint32_t fromQColor(const QColor& colour);

private:
    uint32_t m_value = 0;
};

} // namespace palvero
