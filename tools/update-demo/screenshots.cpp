// update-screenshots FOLDER OUTDIR: loads FOLDER/libMoravel.so as Spelmar
// does, starts the reminder for FOLDER/Spelmar (due, with the update server
// of MORAVEL_FTP_HOST) and saves, with ImageMagick's import, the newer-files
// box (update-newer-files.png), the release notes (update-release-notes.png)
// and, after UpdateFiles has run, the progress window
// (update-progress.png). It answers the windows itself: Yes, Exit, No.

#include "moravel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <functional>

#include <dlfcn.h>

namespace {

const char *const kServerPath = "Spelmar/Updates";

void snapshot(QWidget *window, const QString &path)
{
    const QRect frame = window->frameGeometry();
    const QString crop = QStringLiteral("%1x%2+%3+%4")
                             .arg(frame.width())
                             .arg(frame.height())
                             .arg(frame.x())
                             .arg(frame.y());
    QProcess::execute(
        QStringLiteral("import"),
        {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"), crop, path});
    std::printf("saved %s\n", qPrintable(path));
}

template <typename T>
T *shownWindow(const std::function<bool(T *)> &wanted)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        T *window = qobject_cast<T *>(widget);
        if (window && window->isVisible() && wanted(window))
            return window;
    }
    return nullptr;
}

QPushButton *buttonWithText(QWidget *window, const QString &text)
{
    for (QPushButton *button : window->findChildren<QPushButton *>())
        if (button->text() == text)
            return button;
    return nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    if (argc != 3) {
        std::fprintf(stderr, "usage: update-screenshots FOLDER OUTDIR\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    const QByteArray programPath = (folder + QStringLiteral("/Spelmar")).toLocal8Bit();

    void *library = dlopen((folder + QStringLiteral("/libMoravel.so")).toLocal8Bit().constData(),
                           RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "update-screenshots: %s\n", dlerror());
        return 1;
    }
    auto start =
        reinterpret_cast<UpdateStartScheduleFunction>(dlsym(library, "UpdateStartSchedule"));
    auto update = reinterpret_cast<UpdateFilesFunction>(dlsym(library, "UpdateFiles"));
    if (!start || !update)
        return 1;

    enum class Step
    {
        NewerFiles,
        ReleaseNotes,
        Progress,
        Done
    };
    Step step = Step::NewerFiles;
    int settle = 0; // polls to wait before a picture, so the window is drawn
    QTimer poll;
    poll.setInterval(250);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        switch (step) {
        case Step::NewerFiles:
            if (auto *box = shownWindow<QMessageBox>([](QMessageBox *b) {
                    return b->text().contains(QLatin1String("newer files"));
                })) {
                if (++settle < 4)
                    return;
                settle = 0;
                snapshot(box, out + QStringLiteral("/update-newer-files.png"));
                step = Step::ReleaseNotes;
                box->button(QMessageBox::Yes)->click();
            }
            return;
        case Step::ReleaseNotes:
            if (auto *notes = shownWindow<QDialog>([](QDialog *d) {
                    return d->windowTitle().contains(QLatin1String("Release Notes"));
                })) {
                if (++settle < 6)
                    return;
                settle = 0;
                snapshot(notes, out + QStringLiteral("/update-release-notes.png"));
                step = Step::Progress;
                buttonWithText(notes, QStringLiteral("Exit"))->click();
                // The download with backup, as the installer runs it.
                QTimer::singleShot(0, [&] {
                    update(kServerPath, programPath.constData(), 0);
                    step = Step::Done;
                    application.quit();
                });
            }
            return;
        case Step::Progress:
            if (auto *box = shownWindow<QMessageBox>([](QMessageBox *b) {
                    return b->text().contains(QLatin1String("End of software update"));
                })) {
                box->button(QMessageBox::No)->click();
                settle = 1;
                return;
            }
            if (settle > 0 && ++settle > 4) {
                settle = 0;
                if (auto *progress = QApplication::activeModalWidget()) {
                    snapshot(progress, out + QStringLiteral("/update-progress.png"));
                    progress->close();
                }
            }
            return;
        case Step::Done: return;
        }
    });
    poll.start();
    start(kServerPath, programPath.constData());
    return application.exec();
}
