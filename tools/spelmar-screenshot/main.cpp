// spelmar-screenshot PORT SECONDS [PNG]: shows the main window, connects
// to PORT at an automatic baud rate, starts the trace and keeps running for
// SECONDS; with PNG it also saves the window's own picture at the end.

#include "settingskeys.h"
#include "settingsstore.h"
#include "spelmardlg.h"
#include "tracedlg.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: spelmar-screenshot PORT SECONDS [PNG]\n");
        return 2;
    }
    const QString port = QString::fromLocal8Bit(argv[1]);
    const int seconds = QString::fromLocal8Bit(argv[2]).toInt();
    const QString png = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();

    // A green line on the default black background.
    CSettingsStore store;
    if (store.value(SettingsKeys::kColorLine).empty())
        store.WriteValue(SettingsKeys::kColorLine, "65280");
    CSpelmarDlg window;
    window.move(0, 0);
    window.show();
    QTimer::singleShot(500, &window, [&] {
        window.findChild<QComboBox *>("portCombo")->setEditText(port);
        auto *baud = window.findChild<QComboBox *>("baudCombo");
        baud->setCurrentIndex(baud->findText("auto"));
        window.onConnect();
        window.tracePanel()->OnTraceStartStop();
    });
    QTimer::singleShot(seconds * 1000, &window, [&] {
        if (!png.isEmpty())
            window.grab().save(png);
        window.reject();
    });
    window.exec();
    return 0;
}
