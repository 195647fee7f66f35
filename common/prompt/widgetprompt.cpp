#include "widgetprompt.h"

#include "testanswers.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

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

// Questions of workers that wait for the user-interface thread's answer.
// Never destroyed: workers may still ask while the process ends.
struct WaitingWorkers
{
    std::mutex mutex;
    std::condition_variable answered;
    bool closing = false;
};

WaitingWorkers &waitingWorkers()
{
    static WaitingWorkers *waiting = new WaitingWorkers;
    return *waiting;
}

struct Question
{
    IPrompt::Answer answer;
    bool finished = false;
};

// Rides along with a question handed to the user-interface thread and ends
// the worker's wait when that call is done with, answered or dropped unrun.
struct Handover
{
    std::shared_ptr<Question> question;
    ~Handover()
    {
        WaitingWorkers &waiting = waitingWorkers();
        std::lock_guard<std::mutex> lock(waiting.mutex);
        question->finished = true;
        waiting.answered.notify_all();
    }
};

} // namespace

CWidgetPrompt::CWidgetPrompt(QWidget *owner, const QString &defaultCaption)
    : m_owner(owner)
    , m_defaultCaption(defaultCaption)
{
}

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
    const QString title = caption.empty() ? m_defaultCaption : QString::fromStdString(caption);
    if (QThread::currentThread() == app->thread())
        return show(m_owner.data(), title, text, buttons, icon);

    // Handed over without blocking the queue's owner: the wait ends with
    // the answer or when the library closes down, whichever comes first.
    WaitingWorkers &waiting = waitingWorkers();
    auto question = std::make_shared<Question>();
    question->answer = negativeAnswer(buttons);
    {
        std::lock_guard<std::mutex> lock(waiting.mutex);
        if (waiting.closing)
            return question->answer;
    }
    auto handover = std::make_shared<Handover>();
    handover->question = question;
    QMetaObject::invokeMethod(
        app,
        [handover, owner = m_owner, title, text, buttons, icon] {
            {
                std::lock_guard<std::mutex> lock(waitingWorkers().mutex);
                if (waitingWorkers().closing)
                    return;
            }
            const Answer answer = show(owner.data(), title, text, buttons, icon);
            std::lock_guard<std::mutex> lock(waitingWorkers().mutex);
            handover->question->answer = answer;
        },
        Qt::QueuedConnection);
    handover.reset(); // the queued call holds the only reference now
    std::unique_lock<std::mutex> lock(waiting.mutex);
    waiting.answered.wait(lock, [&] { return question->finished || waiting.closing; });
    return question->finished ? question->answer : negativeAnswer(buttons);
}

void CWidgetPrompt::closeDown()
{
    WaitingWorkers &waiting = waitingWorkers();
    std::lock_guard<std::mutex> lock(waiting.mutex);
    waiting.closing = true;
    waiting.answered.notify_all();
}

IPrompt::Answer CWidgetPrompt::show(QWidget *owner, const QString &caption, const std::string &text,
                                    Buttons buttons, Icon icon)
{
    // Without an owner the box belongs to the window that asks: the modal
    // window on top of the stack (a progress, restore or release-notes
    // window, which may stay on top of everything), else the active
    // window. A window manager then keeps the box above it.
    if (!owner)
        owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    QMessageBox box(owner);
    box.setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
    box.setIcon(boxIcon(icon));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    if (!caption.isEmpty())
        box.setWindowTitle(caption);
    switch (buttons) {
    case Buttons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    }
    // The window that was clicked last may keep the keyboard under a window
    // manager: the box asks for it once it is up, so Enter and Esc answer it.
    QTimer::singleShot(0, &box, [&box] {
        box.raise();
        box.activateWindow();
    });
    switch (box.exec()) {
    case QMessageBox::Ok: return Answer::Ok;
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Cancel: return Answer::Cancel;
    default: break;
    }
    return negativeAnswer(buttons);
}
