// Spelmar: the ORBO service tool. It takes no command-line arguments.

#include "spelmarapp.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    CSpelmarApp spelmar(application);
    return spelmar.InitInstance();
}
