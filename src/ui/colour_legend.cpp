#include "colour_legend.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

namespace palvero {

namespace {

QColor platformColour(uint32_t v)
{
    return QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
}

QLabel* swatch(const QColor& colour, QWidget* parent)
{
    auto* l = new QLabel(parent);
    l->setFixedSize(36, 16);
    l->setAutoFillBackground(true);
    QPalette p = l->palette();
    p.setColor(QPalette::Window, colour);
    l->setPalette(p);
    l->setFrameShape(QFrame::Box);
    return l;
}

} // namespace

TColourLegend::TColourLegend(const Settings& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint)
    , m_settings(settings)
{
    setObjectName("TColourLegend");
    setWindowTitle("Colours");
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel("Rows are coloured in this order; a later colour wins over an earlier one.", this);
    note->setWordWrap(true);
    layout->addWidget(note);
    m_form = new QFormLayout;
    layout->addLayout(m_form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setToolTip("Close the legend (Esc)");
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    layout->addWidget(buttons);
    refresh();
}

QList<QPair<QString, QColor>> TColourLegend::entries() const
{
    const Settings& s = m_settings;
    const QString coloring = s.ColorMrv ? QString() : QStringLiteral(" (only with \"Enable coloring\")");
    const QString repeaters = s.ShowRepeaters ? QString() : QStringLiteral(" (only when repeaters are shown)");
    return {
        {"The meter read last", platformColour(s.ColorRow)},
        {"The selected row", QApplication::palette().color(QPalette::Highlight)},
        {"Other rows", Qt::white},
        {"Heard through a repeater" + repeaters, platformColour(s.FromRepeater)},
        {"Low battery", platformColour(s.LowBattery)},
        {"Test state" + coloring, platformColour(s.ColorTest)},
        {"In process" + coloring, platformColour(s.ColorProcess)},
        {"Done" + coloring, platformColour(s.ColorDone)},
        {"Tree: meter read (value, time, date, decrypted)", QColor(0, 128, 0)},
        {"Tree: meter not read yet", QColor(255, 0, 0)},
    };
}

void TColourLegend::refresh()
{
    while (m_form->rowCount() > 0)
        m_form->removeRow(0);
    for (const auto& [meaning, colour] : entries())
        m_form->addRow(swatch(colour, this), new QLabel(meaning, this));
}

void TColourLegend::showEvent(QShowEvent* event)
{
    refresh();
    QDialog::showEvent(event);
}

} // namespace palvero
