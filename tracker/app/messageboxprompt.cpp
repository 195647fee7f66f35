#include "messageboxprompt.h"

#include "testanswers.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>

CMessageBoxPrompt::CMessageBoxPrompt(QWidget *parent)
    : m_parent(parent)
{
}

IPrompt::Answer CMessageBoxPrompt::message(const std::string &text, const std::string &caption,
                                           Buttons buttons, Icon icon)
{
    Answer scripted = Answer::Ok;
    if (CTestAnswers::answer(text, buttons, scripted))
        return scripted;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        return show(text, caption, buttons, icon);

    Answer answer = buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    QMetaObject::invokeMethod(
        app, [&] { answer = show(text, caption, buttons, icon); }, Qt::BlockingQueuedConnection);
    return answer;
}

IPrompt::Answer CMessageBoxPrompt::show(const std::string &text, const std::string &caption,
                                        Buttons buttons, Icon icon)
{
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    switch (icon) {
    case Icon::None: boxIcon = QMessageBox::NoIcon; break;
    case Icon::Information: boxIcon = QMessageBox::Information; break;
    case Icon::Question: boxIcon = QMessageBox::Question; break;
    case Icon::Warning: boxIcon = QMessageBox::Warning; break;
    case Icon::Stop: boxIcon = QMessageBox::Critical; break;
    }
    QMessageBox::StandardButtons standard = QMessageBox::Ok;
    if (buttons == Buttons::YesNo)
        standard = QMessageBox::Yes | QMessageBox::No;
    else if (buttons == Buttons::OkCancel)
        standard = QMessageBox::Ok | QMessageBox::Cancel;

    const QString title =
        caption.empty() ? QStringLiteral("Spelmar") : QString::fromStdString(caption);
    QMessageBox box(boxIcon, title, QString::fromStdString(text), standard, m_parent.data());
    switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Ok: return Answer::Ok;
    default: return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
}
