#include "app/WebBrowserWithUI.h"

#include "app/UpdateSite.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPrinter>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTextDocument>

namespace bv::app {

namespace {

const QString kFlatScrollBars = QStringLiteral(
    "QScrollBar { border: none; background: palette(base); }"
    "QScrollBar::handle { background: palette(mid); border: none; min-height: 16px; min-width: "
    "16px; }"
    "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; border: none; }");

bool isWeb(const QUrl& url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

QString cleanLocalPath(const QUrl& url)
{
    return QDir::cleanPath(url.toLocalFile());
}

// A regular file no larger than a page may be; null otherwise (a device such
// as /dev/zero never ends).
QByteArray readBounded(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > TWebBrowserWithUI::kMaxPageBytes)
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.read(TWebBrowserWithUI::kMaxPageBytes + 1);
    if (bytes.size() > TWebBrowserWithUI::kMaxPageBytes)
        return {};
    return bytes.isNull() ? QByteArray("") : bytes;
}

// An answer the document takes as final: given nothing, it reads a local file
// itself.
QVariant refused()
{
    return QByteArray("");
}

} // namespace

TWebBrowserWithUI::TWebBrowserWithUI(QWidget* parent) : QTextBrowser(parent)
{
    setUISettings(m_settings);
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, &TWebBrowserWithUI::anchorActivated);
}

void TWebBrowserWithUI::setUISettings(const TUISettings& settings)
{
    m_settings = settings;
    const Qt::ScrollBarPolicy policy =
        settings.EnableScrollBars ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    setHorizontalScrollBarPolicy(policy);
    setVerticalScrollBarPolicy(policy);
    const QString flat = settings.EnableFlatScrollBars ? kFlatScrollBars : QString();
    horizontalScrollBar()->setStyleSheet(flat);
    verticalScrollBar()->setStyleSheet(flat);
    if (settings.Enable3DBorder) {
        setFrameShape(QFrame::StyledPanel);
        setFrameShadow(settings.EnableFlatScrollBars ? QFrame::Plain : QFrame::Sunken);
    } else {
        setFrameShape(QFrame::NoFrame);
    }
}

void TWebBrowserWithUI::setNetworkAccess(QNetworkAccessManager* network, const UpdateSite& site)
{
    m_network = network;
    m_site = site;
}

void TWebBrowserWithUI::setLocalImages(const QStringList& addresses)
{
    m_localImages.clear();
    for (const QString& address : addresses) {
        const QUrl url(address);
        if (url.isLocalFile())
            m_localImages.insert(cleanLocalPath(url));
    }
}

void TWebBrowserWithUI::anchorActivated(const QUrl& link)
{
    if (link.isRelative() && link.path().isEmpty() && link.hasFragment()) {
        scrollToAnchor(link.fragment());
        return;
    }
    const QUrl base = isWeb(m_location) ? document()->baseUrl() : m_location;
    emit linkClicked(base.resolved(link));
}

void TWebBrowserWithUI::contextMenuEvent(QContextMenuEvent* event)
{
    if (!m_settings.EnableContextMenu) {
        event->accept();
        return;
    }
    QTextBrowser::contextMenuEvent(event);
}

void TWebBrowserWithUI::Navigate(const QUrl& url)
{
    if (m_page) {
        // A page asked for earlier must not replace this one when it arrives.
        m_page->disconnect(this);
        m_page->abort();
        m_page->deleteLater();
        m_page = nullptr;
    }
    m_location = url;
    if (url.toString() == QLatin1String("about:blank")) {
        clear();
        emit navigateComplete(url, true);
        return;
    }
    if (url.isLocalFile()) {
        const bool readable = QFileInfo(url.toLocalFile()).isReadable();
        // The view keeps a page it already shows; the file may have changed.
        if (source() == url)
            reload();
        else
            setSource(url);
        emit navigateComplete(url, readable && source() == url);
        return;
    }
    QNetworkReply* reply = isWeb(url) && m_network && m_site.owns(url)
                               ? siteGet(*m_network, url, m_site.fetchTimeoutMs)
                               : nullptr;
    if (!reply) {
        setPlainText(QStringLiteral("%1 cannot be shown here.").arg(url.toString()));
        emit navigateComplete(url, false);
        return;
    }
    setPlainText(QStringLiteral("Opening %1...").arg(url.toString()));
    m_page = reply;
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > kMaxPageBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, url] { pageArrived(reply, url); });
}

void TWebBrowserWithUI::pageArrived(QNetworkReply* reply, const QUrl& url)
{
    reply->deleteLater();
    if (reply != m_page)
        return;
    m_page = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status < 200 || status >= 300) {
        setPlainText(
            QStringLiteral("%1 cannot be shown: %2").arg(url.toString(), reply->errorString()));
        emit navigateComplete(url, false);
        return;
    }
    const QByteArray body = reply->readAll();
    QStringDecoder decoder = QStringDecoder::decoderForHtml(body);
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringDecoder::Utf8);
    const QString html = decoder.decode(body);
    m_images.clear();
    m_imagesAsked.clear();
    // Relative addresses of the page resolve against where it came from.
    const QUrl base = reply->url();
    document()->setMetaInformation(QTextDocument::DocumentUrl, base.toString());
    document()->setBaseUrl(base);
    setHtml(html);
    emit navigateComplete(url, true);
}

QVariant TWebBrowserWithUI::loadResource(int type, const QUrl& name)
{
    const QUrl url = document()->baseUrl().resolved(name);
    // What the page holds in itself, the document decodes.
    if (url.scheme() == QLatin1String("data"))
        return {};
    if (url.isLocalFile()) {
        const bool page = type == QTextDocument::HtmlResource && m_location.isLocalFile() &&
                          cleanLocalPath(url) == cleanLocalPath(m_location);
        const bool image = type == QTextDocument::ImageResource &&
                           m_localImages.contains(cleanLocalPath(url));
        if (page || image) {
            const QByteArray bytes = readBounded(url.toLocalFile());
            if (!bytes.isNull())
                return bytes;
        }
        return refused();
    }
    if (type == QTextDocument::ImageResource && isWeb(url) && m_site.owns(url)) {
        if (m_images.contains(url))
            return m_images.value(url);
        // Nothing yet: asked again once it has arrived.
        fetchImage(url);
        return {};
    }
    return refused();
}

void TWebBrowserWithUI::fetchImage(const QUrl& url)
{
    if (!m_network || m_imagesAsked.contains(url))
        return;
    m_imagesAsked.insert(url);
    QNetworkReply* reply = siteGet(*m_network, url, m_site.fetchTimeoutMs);
    if (!reply)
        return;
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > kMaxPageBytes)
            reply->abort();
    });
    const QUrl page = m_location;
    connect(reply, &QNetworkReply::finished, this, [this, reply, url, page] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError || page != m_location)
            return;
        m_images.insert(url, reply->readAll());
        // The layout asks again for what it could not show before.
        document()->markContentsDirty(0, document()->characterCount());
    });
}

bool TWebBrowserWithUI::printPage(QPrinter& printer, QString* error)
{
    if (printer.outputFormat() == QPrinter::PdfFormat) {
        // The PDF writer gives no reason when it cannot open its file.
        QFile file(printer.outputFileName());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            if (error)
                *error = file.errorString();
            return false;
        }
    }
    print(&printer);
    if (printer.printerState() == QPrinter::Error) {
        if (error)
            *error = QStringLiteral("The printer reported an error.");
        return false;
    }
    return true;
}

} // namespace bv::app
