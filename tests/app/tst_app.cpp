#include "ccwbutton.h"
#include "ccwgraph.h"
#include "findchild.h"
#include "linecontrolbutton.h"
#include "orbosim.h"
#include "scriptedprompt.h"
#include "settingskeys.h"
#include "spelmardlg.h"
#include "tracedlg.h"
#include "virtualdisplay.h"
#include "widgetprompt.h"

#include <QAbstractSpinBox>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <csignal>

namespace {

QString text(QWidget *window, const char *name)
{
    return child<QLabel>(window, name)->text();
}

void click(QWidget *window, const char *button)
{
    QTest::mouseClick(child<QPushButton>(window, button), Qt::LeftButton);
}

// A shown main window with its own prompt.
struct Window
{
    ScriptedPrompt prompt;
    CSpelmarDlg dlg{&prompt};
    Window() { dlg.show(); }

    // Clicks Connect and waits until the connect sequence is over.
    void connect(const QString &port, const QString &baud, bool simulated)
    {
        child<QComboBox>(&dlg, "portCombo")->setEditText(port);
        auto *baudCombo = child<QComboBox>(&dlg, "baudCombo");
        baudCombo->setCurrentIndex(baudCombo->findText(baud));
        child<QCheckBox>(&dlg, "simulationCheck")->setChecked(simulated);
        click(&dlg, "connectButton");
        settle();
    }
    // Waits until no exchange of the window runs.
    void settle()
    {
        QVERIFY(QTest::qWaitFor([this] { return !dlg.isBusy(); }, 60000));
    }
};

// The visible controls of a window whose text is cut: wider than the room the
// style gives it, taller than the control, or outside the window.
QStringList clippedControls(QWidget *window)
{
    QStringList clipped;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        QString text;
        QRect room;
        if (!w->isVisibleTo(window))
            continue;
        if (!window->rect().contains(QRect(w->mapTo(window, QPoint()), w->size())))
            clipped << w->objectName() + " lies outside the window";
        if (auto *label = qobject_cast<QLabel *>(w); label && label->wordWrap()) {
            if (!label->text().isEmpty() && label->heightForWidth(label->width()) > label->height())
                clipped << QString("%1 \"%2\" (%3 of %4 px high)")
                               .arg(label->objectName(), label->text())
                               .arg(label->heightForWidth(label->width()))
                               .arg(label->height());
            continue;
        } else if (label) {
            text = label->text();
            room = label->contentsRect().adjusted(label->margin(), 0, -label->margin(), 0);
        } else if (auto *tool = qobject_cast<QToolButton *>(w)) {
            // Its size hint is its text and whatever the style puts around it.
            text = tool->text();
            const int around = tool->sizeHint().width() - QFontMetrics(tool->font()).horizontalAdvance(text);
            room = QRect(0, 0, tool->width() - around, tool->height());
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = text = button->text();
            const auto element = qobject_cast<QPushButton *>(w) ? QStyle::SE_PushButtonContents
                : qobject_cast<QCheckBox *>(w)                  ? QStyle::SE_CheckBoxContents
                                                                : QStyle::SE_RadioButtonContents;
            room = QRect(0, 0, button->style()->subElementRect(element, &option, button).width(),
                         button->height());
        } else if (auto *group = qobject_cast<QGroupBox *>(w)) {
            text = group->title();
            room = QRect(0, 0, group->width() - 16, group->height());
        }
        text = text.trimmed().remove(QLatin1Char('&'));
        const QFontMetrics metrics(w->font());
        if (!text.isEmpty()
            && (metrics.horizontalAdvance(text) > room.width() || metrics.height() > room.height()))
            clipped << QString("%1 \"%2\" (%3 of %4 px)")
                           .arg(w->objectName(), text)
                           .arg(metrics.horizontalAdvance(text))
                           .arg(room.width());
    }
    return clipped;
}

// The interactive controls and indicators below a window that an
// assistive tool cannot name, or cannot tell apart from another one.
QStringList unnamedControls(QWidget *window)
{
    static const QSet<QAccessible::Role> interactive{
        QAccessible::PushButton, QAccessible::Button,       QAccessible::CheckBox, QAccessible::RadioButton,
        QAccessible::ComboBox,   QAccessible::EditableText, QAccessible::SpinBox,  QAccessible::Slider,
        QAccessible::Indicator,  QAccessible::ButtonMenu};
    QStringList faults;
    QHash<QString, QString> names;
    std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
        for (int i = 0; i < node->childCount(); ++i) {
            QAccessibleInterface *control = node->child(i);
            if (!control || !control->isValid() || control->state().invisible)
                continue;
            if (interactive.contains(control->role())) {
                const QString object = control->object() ? control->object()->objectName() : "?";
                const QString name = control->text(QAccessible::Name).trimmed();
                if (name.isEmpty())
                    faults << object + " has no name";
                else if (names.contains(name))
                    faults << object + " is named \"" + name + "\" as " + names[name] + " is";
                names.insert(name, object);
                // A combo box is one control; its parts are its own.
                if (control->role() == QAccessible::ComboBox)
                    continue;
            }
            walk(control);
        }
    };
    walk(QAccessible::queryAccessibleInterface(window));
    return faults;
}

// Fields without a label that leads to them by a mnemonic, and mnemonics
// that two labels share.
QStringList fieldsWithoutMnemonic(QWidget *window)
{
    QStringList faults;
    QHash<QString, QString> keys;
    QSet<QWidget *> led;
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (!label->buddy())
            continue;
        const QString key = QKeySequence::mnemonic(label->text()).toString();
        if (key.isEmpty())
            faults << label->objectName() + " has no mnemonic";
        else if (keys.contains(key))
            faults << label->objectName() + " shares " + key + " with " + keys[key];
        keys.insert(key, label->objectName());
        led.insert(label->buddy());
    }
    for (QWidget *field : window->findChildren<QWidget *>()) {
        auto *edit = qobject_cast<QLineEdit *>(field);
        // A spin box's own line edit is led to through the spin box.
        if (edit && qobject_cast<QAbstractSpinBox *>(edit->parentWidget()))
            field = edit->parentWidget();
        const bool isField = qobject_cast<QComboBox *>(field)
            || (edit && !edit->isReadOnly() && !qobject_cast<QComboBox *>(edit->parentWidget()));
        if (isField && !led.contains(field))
            faults << field->objectName() + " has no label that leads to it";
    }
    return faults;
}

const QString kReady = ">> OK, ready to operate!";
const char *const kBoxChildArgument = "--box-after-click";
const QString kDisconnected = ">> OK! Device disconnected.";

} // namespace

class TestSpelmarDlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    }

    void init()
    {
        QDir(m_config.path()).removeRecursively();
        QDir().mkpath(m_config.path());
    }

    void startupState()
    {
        Window w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.dlg));
        QCOMPARE(child<QComboBox>(&w.dlg, "portCombo")->currentText(), QString());
        // Nothing stored: the prefix search settles on the entry after "auto".
        QCOMPARE(child<QComboBox>(&w.dlg, "baudCombo")->currentText(), QString("9600"));
        QVERIFY(!child(&w.dlg, "commandListCombo")->isEnabled());
        QVERIFY(child(&w.dlg, "simulationCheck")->isVisible());
        QVERIFY(!w.dlg.tracePanel()->isVisible());
        // Sending before any connect only says so.
        w.dlg.onSend();
        QCOMPARE(text(&w.dlg, "answerLabel"), QString(">> not connected to ORBO"));
        // As small as its controls allow, whatever its start-up size: every
        // control stays whole and the graph keeps room; the trace panel
        // follows the window.
        const QSize start = w.dlg.size();
        w.dlg.resize(100, 100);
        QTRY_COMPARE(w.dlg.size(), w.dlg.minimumSizeHint());
        QVERIFY2(w.dlg.height() < start.height() - 30, qPrintable(QString::number(w.dlg.height())));
        for (QWidget *parent : {static_cast<QWidget *>(&w.dlg), static_cast<QWidget *>(w.dlg.tracePanel())}) {
            for (QWidget *control : parent->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
                QVERIFY2(parent->rect().contains(control->geometry()), qPrintable(control->objectName()));
        }
        QVERIFY(child(w.dlg.tracePanel(), "graph")->height() >= 75);
        w.dlg.resize(start + QSize(200, 150));
        QTRY_COMPARE(w.dlg.size(), start + QSize(200, 150));
        QCOMPARE(w.dlg.tracePanel()->geometry().right(), w.dlg.width() - 5);
    }

    void failedConnectKeepsSettings_data()
    {
        QTest::addColumn<bool>("network"); // else orbo-sim in boot state at 38400
        QTest::addColumn<QString>("baud");
        QTest::addColumn<int>("dtr"); // LineControl
        QTest::addColumn<int>("rts");
        QTest::addColumn<QString>("answer"); // how the answer line begins
        QTest::newRow("boot state, lines set")
            << false << "38400" << int(LineControl::Asserted) << int(LineControl::Released)
            << "!! Fail ! No answer from ORBO. Check the device is not in boot state. Else wait one minute";
        // A network port is kept as typed; nothing listens on it.
        QTest::newRow("network port")
            << true << "auto" << int(LineControl::Unchanged) << int(LineControl::Asserted)
            << "!! Can not open comport tcp://127.0.0.1:1!";
    }
    void failedConnectKeepsSettings()
    {
        QFETCH(bool, network);
        QFETCH(QString, baud);
        QFETCH(int, dtr);
        QFETCH(int, rts);
        QFETCH(QString, answer);
        OrboSim sim({"--boot", "--baud", "38400"});
        QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
        const QString port = network ? "tcp://127.0.0.1:1" : sim.path();
        {
            Window w;
            auto *lines = child<CLineControlButton>(&w.dlg, "lineControlButton");
            QCOMPARE(lines->choiceText(), QString("DTR on, RTS on"));
            // Chosen in its menu: DTR keep, on, off, then RTS.
            QList<QAction *> entries = lines->menu()->actions();
            entries.removeIf([](QAction *entry) { return entry->isSeparator(); });
            entries[dtr]->trigger();
            entries[3 + rts]->trigger();
            QCOMPARE(lines->toolTip(), "When the port opens: " + lines->choiceText());
            w.connect(port, baud, false);
            QVERIFY2(text(&w.dlg, "answerLabel").startsWith(answer), qPrintable(text(&w.dlg, "answerLabel")));
            QVERIFY(!w.dlg.session().port().isOpen());
            // The port was opened with the lines as chosen.
            const SerialConfig &opened = w.dlg.session().port().config();
            QVERIFY(network || (int(opened.dtr) == dtr && int(opened.rts) == rts));
            QCOMPARE(child<QPushButton>(&w.dlg, "connectButton")->text(), QString("Connect"));
            QVERIFY(child(&w.dlg, "portCombo")->isEnabled() && lines->isEnabled());
            QVERIFY(!child(&w.dlg, "sendButton")->isEnabled());
            QVERIFY(!w.dlg.tracePanel()->isVisible());
            QCOMPARE(child<QComboBox>(&w.dlg, "portCombo")->currentText(), port);
        }
        // The next start offers what was typed and chosen.
        Window again;
        QCOMPARE(child<QComboBox>(&again.dlg, "portCombo")->currentText(), port);
        QCOMPARE(child<QComboBox>(&again.dlg, "baudCombo")->currentText(), baud);
        auto *lines = child<CLineControlButton>(&again.dlg, "lineControlButton");
        QVERIFY(int(lines->dtr()) == dtr && int(lines->rts()) == rts);
    }

    void connectAndDisconnect_data()
    {
        QTest::addColumn<bool>("simulated");     // else orbo-sim at 19200, found by the search
        QTest::addColumn<QStringList>("fields"); // model, revision, serial, part
        QTest::addColumn<QString>("firstEntry"); // of the command list
        QTest::addColumn<bool>("unwritable");    // the settings cannot be saved
        QTest::newRow("auto search") << false
                                     << QStringList{"1000 mbar", "1.02.21", "4711 042", "ORBO Sim 100"} << ""
                                     << false;
        // A simulated device needs no port.
        QTest::newRow("simulated, settings unwritable")
            << true << QStringList{"100 Torr", "1.02.21", "3428 133", "Simulation Mode"} << "Simulation mode"
            << true;
    }
    void connectAndDisconnect()
    {
        QFETCH(bool, simulated);
        QFETCH(QStringList, fields);
        QFETCH(QString, firstEntry);
        QFETCH(bool, unwritable);
        // The settings folder's place is taken by a file: nothing can be saved.
        QFile blocker(m_config.path() + "/" + SettingsKeys::kOrganisation);
        QVERIFY(!unwritable || blocker.open(QIODevice::WriteOnly));
        blocker.close();
        OrboSim sim({"--baud", "19200"});
        QVERIFY2(!sim.path().isEmpty(), qPrintable(sim.errorString()));
        Window w;
        // A new connection starts a new graph.
        w.dlg.tracePanel()->graph()->appendPoint(1.0, 1.0);
        w.connect(simulated ? "" : sim.path(), "auto", simulated);
        // The rate the search found is told.
        QCOMPARE(text(&w.dlg, "answerLabel"),
                 kReady + (simulated ? "" : " Baud rate found: 19200")
                     + (unwritable ? " (the port and baud settings could not be saved)" : ""));
        QCOMPARE(w.dlg.tracePanel()->graph()->pointCount(), 0);
        QCOMPARE((QStringList{text(&w.dlg, "modelLabel"), text(&w.dlg, "revLabel"),
                              text(&w.dlg, "serialLabel"), text(&w.dlg, "partLabel")}),
                 fields);
        auto *list = child<QComboBox>(&w.dlg, "commandListCombo");
        QVERIFY(list->isEnabled());
        if (!firstEntry.isEmpty())
            QCOMPARE(list->itemText(0), firstEntry);
        QVERIFY(child<CCWButton>(&w.dlg, "connectedLed")->value());
        QVERIFY(w.dlg.tracePanel()->isVisible());
        QVERIFY(!child(&w.dlg, "simulationCheck")->isVisible());
        QVERIFY(!child(&w.dlg, "portCombo")->isEnabled() && !child(&w.dlg, "lineControlButton")->isEnabled());
        // Choosing a list entry fills command and help.
        const int ssv = list->findText("SSV: ", Qt::MatchStartsWith);
        QCOMPARE(ssv >= 0, !simulated);
        if (ssv >= 0) {
            list->setCurrentIndex(ssv);
            emit list->activated(ssv);
            QCOMPARE(child<QComboBox>(&w.dlg, "commandCombo")->currentText(), QString("SSV"));
            QCOMPARE(text(&w.dlg, "helpLabel"), QString("Show software version"));
        }

        click(&w.dlg, "connectButton");
        QCOMPARE(text(&w.dlg, "answerLabel"), kDisconnected);
        QCOMPARE(text(&w.dlg, "modelLabel"), QString());
        QCOMPARE(list->count(), 0);
        QVERIFY(!child<CCWButton>(&w.dlg, "connectedLed")->value());
        QVERIFY(!w.dlg.tracePanel()->isVisible());
        QVERIFY(child(&w.dlg, "simulationCheck")->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!w.dlg.session().port().isSimulated(), 10000);
    }

    void console()
    {
        OrboSim sim;
        QVERIFY(!sim.path().isEmpty());
        Window w;
        w.connect(sim.path(), "9600", false);
        auto *command = child<QComboBox>(&w.dlg, "commandCombo");
        auto *send = child<QPushButton>(&w.dlg, "sendButton");
        command->setEditText("SNU");
        QTest::mouseClick(send, Qt::LeftButton);
        w.settle();
        // Enter in the command field sends, as in a terminal.
        command->setFocus();
        for (const char *sent : {"XYZ", "PAN"}) {
            command->setEditText(sent);
            QTest::keyClick(command, Qt::Key_Return);
            w.settle();
        }
        QCOMPARE(text(&w.dlg, "answerLabel"), QString("ORBO Sim 100"));
        QCOMPARE(command->count(), 3);
        QCOMPARE(command->itemText(0), QString("PAN"));
        // Up recalls older commands, Down newer ones, as in a shell; the
        // history outlives the window.
        for (auto [key, expected] : {std::pair{Qt::Key_Up, "XYZ"},
                                     {Qt::Key_Up, "SNU"},
                                     {Qt::Key_Up, "SNU"},
                                     {Qt::Key_Down, "XYZ"}}) {
            QTest::keyClick(command, key);
            QCOMPARE(command->currentText(), QString(expected));
        }
        {
            Window again;
            auto *recalled = child<QComboBox>(&again.dlg, "commandCombo");
            QCOMPARE(recalled->currentText(), QString());
            QTest::keyClick(recalled, Qt::Key_Up);
            QCOMPARE(recalled->currentText(), QString("PAN"));
        }

        // The help listing is no one-line answer: the line says why.
        command->setEditText("HLP");
        QTest::mouseClick(send, Qt::LeftButton);
        w.settle();
        QVERIFY2(text(&w.dlg, "answerLabel").startsWith("HLP -> no answer! The help listing"),
                 qPrintable(text(&w.dlg, "answerLabel")));

        // Continuous sending: the answer line fills without any further click.
        command->setEditText("UPT");
        child<QCheckBox>(&w.dlg, "continuousCheck")->setChecked(true);
        child<QLabel>(&w.dlg, "answerLabel")->clear();
        QTest::mouseClick(send, Qt::LeftButton);
        QCOMPARE(send->text(), QString("Stop"));
        QVERIFY(!command->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!text(&w.dlg, "answerLabel").isEmpty(), 20000);
        bool ok = false;
        text(&w.dlg, "answerLabel").toInt(&ok);
        QVERIFY(ok);
        QTest::mouseClick(send, Qt::LeftButton);
        QCOMPARE(send->text(), QString("Send"));
        QVERIFY(command->isEnabled());
        QVERIFY(!w.dlg.isContinuousSending());
        w.settle();
        QVERIFY(send->isEnabled());
        // Disconnect also ends continuous sending.
        QTest::mouseClick(send, Qt::LeftButton);
        QVERIFY(w.dlg.isContinuousSending());
        click(&w.dlg, "connectButton");
        QVERIFY(!w.dlg.isContinuousSending());
        QCOMPARE(send->text(), QString("Send"));
        QCOMPARE(text(&w.dlg, "answerLabel"), kDisconnected);
    }

    // The device dies, or falls silent for a while, while the window works
    // with it. The window keeps answering; a Send that waits refuses a
    // second one. A silent device gives failed polls that the message line
    // counts, and the next good sample hides it. A hang-up is told in the
    // answer line, the message line and the LED, and puts the console back
    // into its disconnected state, continuous sending included; a device
    // that comes back behind the same link is reopened and the trace goes
    // on. Disconnect is at once, whatever the device does, and Simulation
    // connects afterwards.
    void deviceDies_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("how"); // unplugged, frozen (SIGSTOP) or silent
        QTest::addColumn<bool>("tracing");
        QTest::addColumn<bool>("continuous");
        QTest::addColumn<bool>("returns");
        QTest::newRow("unplugged while tracing, and back")
            << QStringList{} << "unplugged" << true << false << true;
        QTest::newRow("unplugged while sending continuously")
            << QStringList{} << "unplugged" << false << true << false;
        QTest::newRow("frozen while a Send waits") << QStringList{} << "frozen" << false << false << false;
        // Connecting takes 7 commands; then one good poll.
        QTest::newRow("silent for a while while tracing")
            << QStringList{"--silent-after", "8", "--silent-ms", "4500"} << "silent" << true << false
            << false;
    }
    void deviceDies()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, how);
        QFETCH(bool, tracing);
        QFETCH(bool, continuous);
        QFETCH(bool, returns);
        QTemporaryDir dir;
        const QString link = dir.filePath("orbo");
        auto sim = std::make_unique<OrboSim>(simArgs + QStringList{"--link", link});
        QVERIFY(!sim->path().isEmpty());
        const pid_t simPid = pid_t(sim->processId());
        Window w;
        w.connect(link, "9600", false);
        QCOMPARE(text(&w.dlg, "answerLabel"), kReady);
        auto *led = child<CCWButton>(&w.dlg, "connectedLed");
        auto *send = child<QPushButton>(&w.dlg, "sendButton");
        CTraceDlg *trace = w.dlg.tracePanel();
        auto *message = child<QLineEdit>(trace, "messageLine");
        QSignalSpy samples(trace, &CTraceDlg::sampleShown);
        if (tracing) {
            child<QLineEdit>(trace, "intervalEdit")->setText("50");
            trace->OnTraceSettingsChanged();
            trace->OnTraceStartStop();
            QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 1, 30000);
        }
        child<QComboBox>(&w.dlg, "commandCombo")->setEditText("PRE");
        if (continuous) {
            child<QCheckBox>(&w.dlg, "continuousCheck")->setChecked(true);
            QTest::mouseClick(send, Qt::LeftButton);
            QVERIFY(w.dlg.isContinuousSending());
            QTRY_VERIFY_WITH_TIMEOUT(text(&w.dlg, "answerLabel").endsWith("E-3"), 10000);
        }
        if (how == "silent") {
            QTRY_VERIFY_WITH_TIMEOUT(message->isVisible()
                                         && message->text().startsWith("PRE -> Timeout! (failing since ")
                                         && message->text().endsWith(", 2 polls)"),
                                     30000);
            // The counts follow the failures, though no point is drawn.
            QVERIFY(text(trace, "summaryLabel").contains(QRegularExpression(", [2-9] failed")));
            QTRY_VERIFY_WITH_TIMEOUT(!message->isVisible(), 30000);
            QVERIFY(trace->isTracing() && !led->isAlarm());
        } else if (how == "unplugged") {
            sim.reset();
            const QString lost = "!! ORBO lost: the line hung up (unplugged or switched off)";
            QTRY_VERIFY_WITH_TIMEOUT(text(&w.dlg, "answerLabel").startsWith(lost), 30000);
            QVERIFY(led->isAlarm() && !led->value());
            // The console is as when disconnected, continuous sending ended.
            QTRY_VERIFY_WITH_TIMEOUT(!send->isEnabled(), 10000);
            QVERIFY(!w.dlg.isContinuousSending() && send->text() == "Send");
            QVERIFY(!child(&w.dlg, "commandCombo")->isEnabled());
            if (tracing) {
                QTRY_COMPARE_WITH_TIMEOUT(message->text(), "PRE -> " + lost.mid(3), 10000);
                QVERIFY(trace->isTracing());
            }
        } else {
            ::kill(simPid, SIGSTOP);
            QTest::mouseClick(send, Qt::LeftButton);
            QCOMPARE(text(&w.dlg, "answerLabel"), QString("> wait ..."));
            QVERIFY(!send->isEnabled()); // a second Send is refused
            // The window goes on handling events while the Send waits.
            QTest::qWait(300);
            QVERIFY(w.dlg.isBusy());
        }
        if (returns) {
            QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(link), 10000);
            sim = std::make_unique<OrboSim>(QStringList{"--link", link});
            QTRY_COMPARE_WITH_TIMEOUT(text(&w.dlg, "answerLabel"),
                                      ">> ORBO is back on comport " + link + "! The connection goes on.",
                                      10000);
            QVERIFY(!led->isAlarm() && led->value() && send->isEnabled());
            const int before = samples.count();
            QTRY_VERIFY_WITH_TIMEOUT(samples.count() > before + 2 && samples.last().at(0).toBool(), 10000);
            QVERIFY(!message->isVisible());
        }
        // Disconnect resets the window at once and the port closes as soon
        // as the exchange under way has let go of it.
        click(&w.dlg, "connectButton");
        QCOMPARE(text(&w.dlg, "answerLabel"), kDisconnected);
        QVERIFY(!send->isEnabled() && !led->value() && !led->isAlarm());
        QVERIFY(child(&w.dlg, "portCombo")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!w.dlg.session().port().isOpen(), 10000);
        w.settle();
        QCOMPARE(text(&w.dlg, "answerLabel"), kDisconnected); // no late answer
        if (how == "frozen")
            ::kill(simPid, SIGCONT);
        // Nothing of the link outlives it.
        w.connect(link, "9600", true);
        QCOMPARE(text(&w.dlg, "answerLabel"), kReady);
        click(&w.dlg, "connectButton");
    }

    // With the fonts a stock desktop has (the install script's), every text of
    // the main window and the trace panel shows whole, and so does a device path.
    void textFits()
    {
        OrboSim sim;
        QVERIFY(!sim.path().isEmpty());
        Window w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.dlg));
        QVERIFY2(clippedControls(&w.dlg).isEmpty(), qPrintable(clippedControls(&w.dlg).join("; ")));
        w.connect(sim.path(), "9600", false);
        QCOMPARE(text(&w.dlg, "answerLabel"), kReady);
        // The figures of a running trace too.
        CTraceDlg *trace = w.dlg.tracePanel();
        QSignalSpy samples(trace, &CTraceDlg::sampleShown);
        trace->OnTraceStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(samples.count() >= 3, 30000);
        trace->StopTrace();
        trace->redrawNow();
        child<QLabel>(trace, "valueDisplay")->setText("-1.23457e-05");
        QVERIFY2(clippedControls(&w.dlg).isEmpty(), qPrintable(clippedControls(&w.dlg).join("; ")));
        click(&w.dlg, "connectButton");
        // A device path and the network ports' URLs show whole.
        auto *portCombo = child<QComboBox>(&w.dlg, "portCombo");
        for (const QString port : {"/dev/ttyUSB0", "tcp://127.0.0.1:57225", "rfc2217://127.0.0.1:57225"}) {
            portCombo->setEditText(port);
            QVERIFY2(QFontMetrics(portCombo->font()).horizontalAdvance(port) + 6
                         <= portCombo->lineEdit()->width(),
                     qPrintable(port));
        }
    }

    // Keyboard and screen reader: every control and indicator of the main
    // window and the trace panel has a name of its own, each field a label
    // with a mnemonic, and the flat buttons show the focus.
    void keyboardAndScreenReader()
    {
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(&w.dlg));
        w.connect("1", "9600", true);
        QVERIFY(w.dlg.tracePanel()->isVisible());
        QVERIFY2(unnamedControls(&w.dlg).isEmpty(), qPrintable(unnamedControls(&w.dlg).join("; ")));
        QVERIFY2(fieldsWithoutMnemonic(&w.dlg).isEmpty(),
                 qPrintable(fieldsWithoutMnemonic(&w.dlg).join("; ")));
        // The names say what the two Start buttons start, and follow them.
        auto *fileButton = child<QPushButton>(w.dlg.tracePanel(), "fileButton");
        QCOMPARE(fileButton->accessibleName(), QString("Start writing file"));
        w.dlg.tracePanel()->OnTraceStartStop();
        QCOMPARE(child(w.dlg.tracePanel(), "traceButton")->accessibleName(), QString("Stop trace"));
        w.dlg.tracePanel()->StopTrace();
        for (QPushButton *button : w.dlg.findChildren<QPushButton *>()) {
            if (!button->isFlat() || !button->isEnabled())
                continue;
            w.dlg.setFocus();
            const QImage without = button->grab().toImage();
            button->setFocus(Qt::TabFocusReason);
            QVERIFY(button->hasFocus());
            QVERIFY2(button->grab().toImage() != without,
                     qPrintable(button->objectName() + " shows no focus"));
        }
    }

    // Under a window manager a box that comes up after a click on the
    // main window takes the keyboard: Enter answers it.
    void boxTakesKeyboard()
    {
        if (const QStringList missing = VirtualDisplay::missingPrograms({"xdotool"}); !missing.isEmpty())
            QSKIP(qPrintable(missing.join(", ") + " not installed: the focus of boxes is not checked"));
        VirtualDisplay display;
        QString why;
        if (!display.start("1024x768", &why))
            QSKIP(qPrintable("no window manager could be started here, focus is not checked: " + why));
        display.environment().insert("XDG_CONFIG_HOME", m_config.path());
        QProcess child;
        child.setProcessEnvironment(display.environment());
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {kBoxChildArgument});
        QVERIFY(child.waitForFinished(60000));
        QVERIFY2(child.exitCode() == 0, child.readAll().constData());
    }

    void keysWhileTracing_data()
    {
        QTest::addColumn<int>("key");        // 0: the close box
        QTest::addColumn<QString>("target"); // the focused control; empty: the window
        QTest::addColumn<bool>("closes");
        QTest::newRow("Esc") << int(Qt::Key_Escape) << "" << true;
        QTest::newRow("close box") << 0 << "" << true;
        QTest::newRow("Return in the command field") << int(Qt::Key_Return) << "commandCombo" << false;
        // No button of the trace panel takes a stray Enter.
        QTest::newRow("Enter in the interval field") << int(Qt::Key_Enter) << "intervalEdit" << false;
    }
    void keysWhileTracing()
    {
        QFETCH(int, key);
        QFETCH(QString, target);
        QFETCH(bool, closes);
        OrboSim sim;
        QVERIFY(!sim.path().isEmpty());
        Window w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.dlg));
        w.connect(sim.path(), "9600", false);
        CTraceDlg *trace = w.dlg.tracePanel();
        QSignalSpy samples(trace, &CTraceDlg::sampleShown);
        trace->OnTraceStartStop();
        QTRY_VERIFY_WITH_TIMEOUT(samples.count() > 0, 30000);
        QWidget *focused = target.isEmpty() ? &w.dlg : child(&w.dlg, qPrintable(target));
        focused->setFocus();
        if (key)
            QTest::keyClick(focused, Qt::Key(key));
        else
            w.dlg.close();
        QCOMPARE(w.dlg.isVisible(), !closes);
        QCOMPARE(trace->isTracing(), !closes);
        QTRY_COMPARE_WITH_TIMEOUT(w.dlg.session().port().isOpen(), !closes, 10000);
        if (closes)
            QCOMPARE(w.dlg.result(), int(QDialog::Accepted));
    }

    void continueLoggingQuestion_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("stillLogging");
        QTest::newRow("yes") << int(IPrompt::Answer::Yes) << true;
        QTest::newRow("no") << int(IPrompt::Answer::No) << false;
    }
    void continueLoggingQuestion()
    {
        QFETCH(int, answer);
        QFETCH(bool, stillLogging);
        QTemporaryDir files;
        const std::string path = (files.path() + "/trace.csv").toStdString();
        Window w;
        w.connect("4", "9600", true);
        CTraceDlg *trace = w.dlg.tracePanel();
        trace->setFileChooser([path](const std::string &, const std::string &) { return path; });
        trace->ToggleFileLog();
        QVERIFY(trace->isLogging());
        QVERIFY(w.prompt.boxes().empty());
        click(&w.dlg, "connectButton");
        QVERIFY(trace->isLogging()); // a disconnect keeps the log
        w.prompt.queueAnswer(static_cast<IPrompt::Answer>(answer));
        child<QCheckBox>(&w.dlg, "simulationCheck")->setChecked(true);
        click(&w.dlg, "connectButton");
        w.settle();
        const std::vector<ScriptedPrompt::Box> boxes = w.prompt.boxes();
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, "Do you want to continue logging data into the file \n" + path + " ?");
        QCOMPARE(trace->isLogging(), stillLogging);
        // The report's header names the port as typed.
        if (stillLogging)
            trace->ToggleFileLog();
        QFile csv(QString::fromStdString(path));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QByteArray content = csv.readAll();
        QVERIFY(content.startsWith("Report for;Simulation Mode\r\nSerial;3428 133\r\n"));
        QVERIFY(content.contains("\r\nComport;4\r\n"));
    }

private:
    QTemporaryDir m_config;
};

// On a display with a window manager: the main window, connected, and a
// real click on the trace panel's file Start, whose file cannot be opened;
// the box that says so must take a real Enter. 0 when Enter closed it.
int boxAfterClickChild(int argc, char **argv)
{
    QApplication app(argc, argv);
    CSpelmarDlg dlg;
    dlg.show();
    if (!QTest::qWaitForWindowExposed(&dlg))
        return 2;
    child<QComboBox>(&dlg, "portCombo")->setEditText("1");
    child<QCheckBox>(&dlg, "simulationCheck")->setChecked(true);
    dlg.onConnect();
    dlg.tracePanel()->setFileChooser(
        [](const std::string &, const std::string &) { return "/proc/no/trace.csv"; });
    const auto xdotool = [](const QStringList &arguments) {
        return QProcess::execute("xdotool", arguments) == 0;
    };
    // Enter once the box is up; a box that did not take it is closed
    // later by other means.
    bool seen = false;
    bool closedByWatcher = false;
    QTimer watcher;
    watcher.setInterval(100);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (seen || !box || !box->isVisible() || !box->windowHandle()->isExposed())
            return;
        seen = true;
        QTest::qWait(300); // the window manager's own handling of the new window
        xdotool({"key", "Return"});
        QTimer::singleShot(5000, box, [&closedByWatcher, box] {
            closedByWatcher = true;
            box->reject();
        });
    });
    watcher.start();
    // The pointer moves onto the button first, as a hand does.
    QWidget *button = child(dlg.tracePanel(), "fileButton");
    const QPoint at = button->mapTo(&dlg, button->rect().center());
    if (!xdotool({"mousemove", "--window", QString::number(dlg.winId()), QString::number(at.x()),
                  QString::number(at.y())}))
        return 3;
    QTest::qWait(300);
    xdotool({"click", "1"});
    const bool answered = QTest::qWaitFor([&] { return seen && !QApplication::activeModalWidget(); }, 20000);
    std::printf("box %s\n", !seen ? "never shown" : closedByWatcher ? "did not take Enter" : "took Enter");
    return answered && !closedByWatcher ? 0 : 1;
}

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], kBoxChildArgument) == 0)
        return boxAfterClickChild(argc, argv);
    QApplication app(argc, argv);
    TestSpelmarDlg test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_app.moc"
