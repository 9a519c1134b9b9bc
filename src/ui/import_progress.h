#pragma once

#include "csv_reader.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>
#include <QString>


class QWidget;

namespace palvero {

// The progress of an import that reads a long file: a window with a bar and Cancel comes
// up once the reading has taken `showAfterMs`, and stays until this object goes. Meanwhile
// the program's events are handled, so the windows repaint and the reading of meters goes on.
class ImportProgressWindow {
public:
    ImportProgressWindow(QWidget* parent, QString label, int showAfterMs = 1000);
    ~ImportProgressWindow();
    ImportProgressWindow(const ImportProgressWindow&) = delete;
    ImportProgressWindow& operator=(const ImportProgressWindow&) = delete;

    // What the reader calls; false once the operator has pressed Cancel.
    ImportProgress callback();
    bool tick(std::uint64_t done, std::uint64_t total);

    QProgressDialog* dialog() const { return m_dialog; }

private:
    QWidget* m_parent;
    QString m_label;
    int m_showAfterMs;
    QElapsedTimer m_clock;
    QPointer<QProgressDialog> m_dialog;
};

} // namespace palvero
