#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace palvero {

// The about box: program name, version, and where the manuals and the README (which says
// where the sources are) lie in the program folder. Hidden, never destroyed, when closed;
// shown centred on the window it was opened over.
class TForm4 : public QDialog {
    Q_OBJECT
public:
    // `programFolder` empty: the folder of the running program.
    explicit TForm4(QWidget* centreOver = nullptr, const QString& programFolder = QString());

    // Shows the box over its window and brings it to the front.
    void showWindow();

    QLabel* Label1 = nullptr; // heading
    QLabel* Label2 = nullptr; // version
    QLabel* Label3 = nullptr; // where the manuals, the README and the sources are
    QPushButton* BitBtn1 = nullptr;

private:
    QWidget* m_centreOver;
};

} // namespace palvero
