#include "about_window.h"

#include "window_placement.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace palvero {

namespace {

constexpr char kProjectLine[] = "Palvero project: sources, manuals and contact in its README";

} // namespace

TForm4::TForm4(QWidget* centreOver)
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
    Label3 = new QLabel(kProjectLine, this);
    Label3->setObjectName("Label3");
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
    setFixedSize(sizeHint().expandedTo(QSize(380, 0)));
}

void TForm4::showWindow()
{
    showCentredOver(this, m_centreOver);
}

} // namespace palvero
