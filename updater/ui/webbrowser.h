#pragma once

#include <QPointer>
#include <QString>
#include <QTextEdit>

class QWidget;

// The release-notes window's fallback page viewer: shows the page read-only
// and, once the window disables it, takes no input. Used only when the
// primary viewer cannot be made.
class CWebBrowser
{
public:
    CWebBrowser() = default;
    ~CWebBrowser();
    CWebBrowser(const CWebBrowser &) = delete;
    CWebBrowser &operator=(const CWebBrowser &) = delete;

    bool Create(QWidget *parent);
    void Navigate(const QString &address);
    void EnableWindow(bool enable);

    QWidget *widget() const;
    QString lastError() const { return m_lastError; }

private:
    QPointer<QTextEdit> m_view;
    QString m_lastError;
};
