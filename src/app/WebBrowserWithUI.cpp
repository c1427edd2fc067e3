#include "app/WebBrowserWithUI.h"

#include "app/UpdateSite.h"

#include <QContextMenuEvent>
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

} // namespace

TWebBrowserWithUI::TWebBrowserWithUI(QWidget* parent) : QTextBrowser(parent)
{
    setUISettings(m_settings);
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

void TWebBrowserWithUI::setNetworkAccess(QNetworkAccessManager* network, int timeoutMs)
{
    m_network = network;
    m_timeoutMs = timeoutMs;
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
    if (!isWeb(url) || !m_network) {
        setPlainText(QStringLiteral("%1 cannot be shown here.").arg(url.toString()));
        emit navigateComplete(url, false);
        return;
    }
    setPlainText(QStringLiteral("Opening %1...").arg(url.toString()));
    m_page = m_network->get(siteRequest(url, m_timeoutMs));
    QNetworkReply* reply = m_page;
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
    if (type == QTextDocument::ImageResource && isWeb(url)) {
        if (m_images.contains(url))
            return m_images.value(url);
        fetchImage(url);
        return {};
    }
    if (isWeb(url))
        return {};
    return QTextBrowser::loadResource(type, name);
}

void TWebBrowserWithUI::fetchImage(const QUrl& url)
{
    if (!m_network || m_imagesAsked.contains(url))
        return;
    m_imagesAsked.insert(url);
    QNetworkReply* reply = m_network->get(siteRequest(url, m_timeoutMs));
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
