#include "widgetprompt.h"

#include "testanswers.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace {

IPrompt::Answer negativeAnswer(IPrompt::Buttons buttons)
{
    switch (buttons) {
    case IPrompt::Buttons::Ok: return IPrompt::Answer::Ok;
    case IPrompt::Buttons::YesNo: return IPrompt::Answer::No;
    case IPrompt::Buttons::OkCancel: break;
    }
    return IPrompt::Answer::Cancel;
}

QMessageBox::Icon boxIcon(IPrompt::Icon icon)
{
    switch (icon) {
    case IPrompt::Icon::None: return QMessageBox::NoIcon;
    case IPrompt::Icon::Information: return QMessageBox::Information;
    case IPrompt::Icon::Question: return QMessageBox::Question;
    case IPrompt::Icon::Warning: return QMessageBox::Warning;
    case IPrompt::Icon::Stop: return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

} // namespace

CWidgetPrompt &CWidgetPrompt::instance()
{
    static CWidgetPrompt prompt;
    return prompt;
}

IPrompt::Answer CWidgetPrompt::message(const std::string &text, const std::string &caption,
                                       Buttons buttons, Icon icon)
{
    Answer scripted = Answer::Ok;
    if (CTestAnswers::answer(text, buttons, scripted))
        return scripted;
    QCoreApplication *app = QCoreApplication::instance();
    if (!qobject_cast<QApplication *>(app) || QCoreApplication::closingDown())
        return negativeAnswer(buttons);
    if (QThread::currentThread() == app->thread())
        return show(text, caption, buttons, icon);

    Answer answer = negativeAnswer(buttons);
    QMetaObject::invokeMethod(
        app, [&] { answer = show(text, caption, buttons, icon); },
        Qt::BlockingQueuedConnection);
    return answer;
}

IPrompt::Answer CWidgetPrompt::show(const std::string &text, const std::string &caption,
                                    Buttons buttons, Icon icon)
{
    // The box belongs to the window that asks: the modal window on top of
    // the stack (a progress, restore or release-notes window, which may
    // stay on top of everything), else the active window. A window
    // manager then keeps the box above it.
    QWidget *owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    QMessageBox box(owner);
    box.setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
    box.setIcon(boxIcon(icon));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    if (!caption.empty())
        box.setWindowTitle(QString::fromStdString(caption));
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return Answer::Ok;
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Cancel: return Answer::Cancel;
    default: break;
    }
    return negativeAnswer(buttons);
}
