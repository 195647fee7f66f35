#include "explorer1.h"

#include "pageaddress.h"
#include "pagelimits.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTextBrowser>
#include <QTextDocument>

namespace {

// An image given inline as "data:[type][;base64],bytes"; null for
// anything else or an image larger than a page would draw.
QImage inlineImage(const QUrl &url)
{
    if (url.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) != 0)
        return QImage();
    const QByteArray text = url.toString(QUrl::FullyEncoded).toLatin1().mid(5);
    const int comma = text.indexOf(',');
    if (comma < 0)
        return QImage();
    const QByteArray meta = text.left(comma);
    const QByteArray payload = QByteArray::fromPercentEncoding(text.mid(comma + 1));
    const QByteArray bytes = meta.endsWith(";base64") ? QByteArray::fromBase64(payload) : payload;
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > PageLimits::kMaxImageSide
        || size.height() > PageLimits::kMaxImageSide)
        return QImage();
    return reader.read();
}

// A document that fetches nothing: every resource but an inline image is
// missing.
class SealedDocument : public QTextDocument
{
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int type, const QUrl &name) override
    {
        if (type == QTextDocument::ImageResource) {
            // Anything but an image of the page itself becomes an empty one,
            // so that nothing tries the address on its own.
            const QImage image = inlineImage(name);
            if (!image.isNull())
                return image;
            QImage empty(1, 1, QImage::Format_ARGB32);
            empty.fill(Qt::transparent);
            return empty;
        }
        return QVariant();
    }
};

} // namespace

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
        browser->setOpenLinks(false);
        QObject::connect(browser, &QTextBrowser::anchorClicked, browser, [](const QUrl &link) {
            if (PageLimits::isOpenableLink(link))
                QDesktopServices::openUrl(link);
        });
        m_view = browser;
    } else {
        m_view = new QTextEdit(parent);
        m_view->setObjectName(QStringLiteral("Explorer"));
        m_view->setReadOnly(true);
    }
    m_view->setDocument(new SealedDocument(m_view));
    m_view->show();
    return true;
}

void CExplorer1::navigate(const QString &address)
{
    if (!m_view)
        return;
    const QUrl url = pageAddress(address);
    if (!url.isLocalFile())
        return;
    QFile page(url.toLocalFile());
    if (!page.open(QIODevice::ReadOnly))
        return;
    const QByteArray html = page.read(kMaxPageBytes + 1);
    if (html.size() > kMaxPageBytes) {
        showText(QStringLiteral("The release notes are larger than %1 bytes and are not shown.")
                     .arg(kMaxPageBytes));
        return;
    }
    showPage(html);
}

void CExplorer1::showPage(const QByteArray &html)
{
    if (!m_view)
        return;
    if (html.size() <= kMaxPageBytes && PageLimits::showableAsHtml(html)) {
        m_view->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        m_view->setHtml(QString::fromUtf8(html));
    } else {
        // Long runs without a blank must not make one endless line, and the
        // text's own layout grows with its length: the head of the page.
        m_view->setWordWrapMode(QTextOption::WrapAnywhere);
        QString text = QString::fromUtf8(html.left(kMaxPlainBytes));
        if (html.size() > kMaxPlainBytes)
            text += QStringLiteral("\n\n[... %1 more bytes not shown]")
                        .arg(html.size() - kMaxPlainBytes);
        m_view->setPlainText(text);
    }
}

void CExplorer1::showText(const QString &text)
{
    if (!m_view)
        return;
    m_view->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_view->setPlainText(text);
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
