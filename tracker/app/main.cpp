// Spelmar: the ORBO service tool. It takes no command-line arguments.

#include "spelmarapp.h"
#include "updatebinding.h"

#include <QApplication>

int main(int argc, char **argv)
{
    CUpdateBinding::preload();
    QApplication application(argc, argv);
    CSpelmarApp spelmar(application);
    return spelmar.InitInstance();
}
