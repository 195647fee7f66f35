#include "webbrowser.h"

#include "pageaddress.h"

#include <QFile>
#include <QTextEdit>

CWebBrowser::~CWebBrowser()
{
    delete m_view.data();
}

bool CWebBrowser::Create(QWidget *parent)
{
    if (m_view)
        return true;
    if (!parent) {
        m_lastError = QStringLiteral("The page viewer needs a parent window.");
        return false;
    }
    m_view = new QTextEdit(parent);
    m_view->setObjectName(QStringLiteral("Explorer"));
    m_view->setReadOnly(true);
    m_view->show();
    return true;
}

void CWebBrowser::Navigate(const QString &address)
{
    if (!m_view)
        return;
    const QUrl url = pageAddress(address);
    if (!url.isLocalFile())
        return;
    QFile page(url.toLocalFile());
    // Release notes are small; a larger file is not a page to show.
    constexpr qint64 kMaxPageBytes = 16 * 1024 * 1024;
    if (page.size() > kMaxPageBytes || !page.open(QIODevice::ReadOnly))
        return;
    m_view->setHtml(QString::fromUtf8(page.readAll()));
}

void CWebBrowser::EnableWindow(bool enable)
{
    if (m_view)
        m_view->setEnabled(enable);
}

QWidget *CWebBrowser::widget() const
{
    return m_view;
}
