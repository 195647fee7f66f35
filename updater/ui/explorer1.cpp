#include "explorer1.h"

#include "pageaddress.h"

#include <QFile>
#include <QTextBrowser>

CExplorer1::~CExplorer1()
{
    delete m_view.data(); // null once its parent window has taken it down
}

bool CExplorer1::create(QWidget *parent)
{
    if (m_view)
        return true;
    if (!parent) {
        m_lastError = QStringLiteral("The page viewer needs a parent window.");
        return false;
    }
    if (m_mode == Mode::Primary) {
        auto *browser = new QTextBrowser(parent);
        browser->setObjectName(QStringLiteral("WebBrowser"));
        browser->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        browser->setOpenExternalLinks(false);
        m_view = browser;
    } else {
        m_view = new QTextEdit(parent);
        m_view->setObjectName(QStringLiteral("Explorer"));
        m_view->setReadOnly(true);
    }
    m_view->show();
    return true;
}

void CExplorer1::navigate(const QString &address)
{
    if (!m_view)
        return;
    const QUrl url = pageAddress(address);
    if (auto *browser = qobject_cast<QTextBrowser *>(m_view.data())) {
        browser->setSource(url);
        return;
    }
    if (!url.isLocalFile())
        return;
    QFile page(url.toLocalFile());
    // Release notes are small; a larger file is not a page to show.
    constexpr qint64 kMaxPageBytes = 16 * 1024 * 1024;
    if (page.size() > kMaxPageBytes || !page.open(QIODevice::ReadOnly))
        return;
    m_view->setHtml(QString::fromUtf8(page.readAll()));
}

void CExplorer1::EnableWindow(bool enable)
{
    if (m_view)
        m_view->setEnabled(enable);
}

QWidget *CExplorer1::widget() const
{
    return m_view;
}
