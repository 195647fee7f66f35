#pragma once

#include <QPointer>
#include <QString>
#include <QTextBrowser>

class QWidget;

// The release-notes window's primary page viewer: a browser for local HTML
// pages with a vertical scroll bar. The window owns it.
class CExplorer1
{
public:
    CExplorer1() = default;
    ~CExplorer1();
    CExplorer1(const CExplorer1 &) = delete;
    CExplorer1 &operator=(const CExplorer1 &) = delete;

    // Creates the viewer as a child of parent; false (with lastError())
    // when that is not possible.
    bool Create(QWidget *parent);
    // Shows a local file path or a file: address.
    void Navigate(const QString &address);
    void EnableWindow(bool enable);

    QWidget *widget() const;
    QTextBrowser *browser() const { return m_browser; }
    QString lastError() const { return m_lastError; }

private:
    QPointer<QTextBrowser> m_browser;
    QString m_lastError;
};
