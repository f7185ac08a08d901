#include "form3.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Form3 finestra;
    finestra.show();
    return app.exec();
}
