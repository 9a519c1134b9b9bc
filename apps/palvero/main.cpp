#include "program.h"

#include <QApplication>

#include <clocale>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Time, date and decimal separator follow the operator's locale.
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "");
    palvero::Program program(QCoreApplication::applicationFilePath().toStdString());
    program.show();
    return app.exec();
}
