#pragma once

#include "settings.h"

#include <QDialog>

class QFormLayout;

namespace palvero {

// Help › "Colours": what each colour of the table and the tree means, drawn with the
// colours of the settings in force when it is shown.
class TColourLegend : public QDialog {
    Q_OBJECT
public:
    TColourLegend(const Settings& settings, QWidget* parent = nullptr);

    // Rebuilds the legend from the settings as they are now.
    void refresh();
    // The meaning of each entry with the colour it is drawn in, top to bottom.
    QList<QPair<QString, QColor>> entries() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    const Settings& m_settings;
    QFormLayout* m_form = nullptr;
};

} // namespace palvero
