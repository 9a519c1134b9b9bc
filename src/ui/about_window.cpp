#include "about_window.h"

#include "window_placement.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace palvero {

TForm4::TForm4(QWidget* centreOver, const QString& programFolder)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint)
    , m_centreOver(centreOver)
{
    setObjectName("TForm4");
    setWindowTitle("Palvero ->About");
    setModal(false);

    Label1 = new QLabel("About this program", this);
    Label1->setObjectName("Label1");
    QFont heading = Label1->font();
    heading.setPointSize(heading.pointSize() + 4);
    heading.setBold(true);
    Label1->setFont(heading);
    Label2 = new QLabel("wMbus reader version  1.1.1.74", this);
    Label2->setObjectName("Label2");
    const QString folder =
        QDir::toNativeSeparators(programFolder.isEmpty() ? QCoreApplication::applicationDirPath() : programFolder);
    Label3 = new QLabel(QString::fromUtf8("The manuals UsrManEn.pdf and UsrManBg.pdf (Help \xE2\x80\xBA User Manual) "
                                          "and README.txt lie in the program folder\n%1\n"
                                          "README.txt says what the folder holds and how Palvero is built from "
                                          "its sources.")
                            .arg(folder),
                        this);
    Label3->setObjectName("Label3");
    Label3->setAlignment(Qt::AlignHCenter);
    Label3->setTextFormat(Qt::PlainText);
    Label3->setTextInteractionFlags(Qt::TextSelectableByMouse);
    BitBtn1 = new QPushButton("Close", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QWidget::hide);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 14);
    layout->setSpacing(10);
    layout->addWidget(Label1, 0, Qt::AlignHCenter);
    layout->addWidget(Label2, 0, Qt::AlignHCenter);
    layout->addWidget(Label3, 0, Qt::AlignHCenter);
    layout->addSpacing(6);
    layout->addWidget(BitBtn1, 0, Qt::AlignHCenter);
    // Moved and resized as any window.
    setMinimumSize(minimumSizeHint());
    resize(sizeHint().expandedTo(QSize(380, 0)));
}

void TForm4::showWindow()
{
    showCentredOver(this, m_centreOver);
}

} // namespace palvero
