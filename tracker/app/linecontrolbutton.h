#pragma once

#include "serialconfig.h"

#include <QToolButton>

#include <vector>

class QAction;

// The choice of what opening the port does with DTR and with RTS: a small
// button whose menu offers each line kept as it is, on or off. The button
// names the current choice in its tooltip and accessible description.
class CLineControlButton : public QToolButton
{
    Q_OBJECT

public:
    explicit CLineControlButton(QWidget *parent = nullptr);

    LineControl dtr() const;
    LineControl rts() const;
    void setChoice(LineControl dtr, LineControl rts);
    // "DTR keep, RTS on": the choice in the words of the settings.
    QString choiceText() const;

protected:
    // Drawn without the menu arrow, which would cover the text in the
    // little room beside the baud list; the menu still opens on a click.
    void paintEvent(QPaintEvent *event) override;

private:
    // One entry per line and choice, in the order of the menu.
    struct Entry
    {
        bool rts;
        LineControl control;
        QAction *action;
    };
    LineControl chosen(bool rts) const;
    void showChoice();

    std::vector<Entry> m_entries;
};
