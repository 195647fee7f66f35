#pragma once

#include <QPointer>
#include <QString>
#include <QTextEdit>

class QWidget;

// The release-notes window's page viewer. The primary viewer is a browser
// for local HTML pages with a vertical scroll bar; the fallback, used only
// when the primary cannot be made, shows the page read-only and, once the
// window disables it, takes no input. The window owns it.
class CExplorer1
{
public:
    enum class Mode
    {
        Primary,
        Fallback
    };

    explicit CExplorer1(Mode mode = Mode::Primary)
        : m_mode(mode)
    {
    }
    ~CExplorer1();
    CExplorer1(const CExplorer1 &) = delete;
    CExplorer1 &operator=(const CExplorer1 &) = delete;

    // Creates the viewer as a child of parent; false (with lastError())
    // when that is not possible.
    bool create(QWidget *parent);
    // Shows a local file path or a file: address.
    void navigate(const QString &address);
    void EnableWindow(bool enable);

    QWidget *widget() const;
    QString lastError() const { return m_lastError; }

private:
    Mode m_mode;
    QPointer<QTextEdit> m_view;
    QString m_lastError;
};
