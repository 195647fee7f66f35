#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QTextEdit>

class QWidget;

// The release-notes window's page viewer. The primary viewer is a browser
// with a vertical scroll bar; the fallback, used only when the primary
// cannot be made, shows the page read-only and, once the window disables
// it, takes no input. The window owns it.
//
// A page comes from a server, so the viewer trusts none of it: it loads no
// resource (no file, no relative path, no network) but images embedded in
// the page as data: addresses; a link opens only http, https and mailto
// addresses, in the user's own browser, never inside the viewer; a page
// past the limits of PageLimits, or larger than kMaxPageBytes, is shown as
// plain text (its first kMaxPlainBytes).
class CExplorer1
{
public:
    enum class Mode
    {
        Primary,
        Fallback
    };

    static constexpr qint64 kMaxPageBytes = 1024 * 1024;
    // Of a page shown as plain text, the head that is shown.
    static constexpr int kMaxPlainBytes = 64 * 1024;

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
    // Shows a local file path or a file: address (nothing else).
    void navigate(const QString &address);
    // Shows a page's bytes (HTML).
    void showPage(const QByteArray &html);
    // Shows one line of text instead of a page.
    void showText(const QString &text);
    void EnableWindow(bool enable);

    QWidget *widget() const;
    QString lastError() const { return m_lastError; }

private:
    Mode m_mode;
    QPointer<QTextEdit> m_view;
    QString m_lastError;
};
