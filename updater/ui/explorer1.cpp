#include "explorer1.h"

#include "pageaddress.h"

#include <QTextBrowser>

CExplorer1::~CExplorer1()
{
    delete m_browser.data(); // null once its parent window has taken it down
}

bool CExplorer1::Create(QWidget *parent)
{
    if (m_browser)
        return true;
    if (!parent) {
        m_lastError = QStringLiteral("The page viewer needs a parent window.");
        return false;
    }
    m_browser = new QTextBrowser(parent);
    m_browser->setObjectName(QStringLiteral("WebBrowser"));
    m_browser->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_browser->setOpenExternalLinks(false);
    m_browser->show();
    return true;
}

void CExplorer1::Navigate(const QString &address)
{
    if (m_browser)
        m_browser->setSource(pageAddress(address));
}

void CExplorer1::EnableWindow(bool enable)
{
    if (m_browser)
        m_browser->setEnabled(enable);
}

QWidget *CExplorer1::widget() const
{
    return m_browser;
}
