#include "app/UpdateSite.h"

#include "core/TextFile.h"

#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <cctype>
#include <cmath>

namespace bv::app {

namespace {

// A version or a file name is a line; anything bigger is not what the site
// is meant to serve.
constexpr qint64 kMaxTextFile = 64 * 1024;

const char* const kRefusedProperty = "bvRefusedRedirection";

QNetworkRequest siteRequest(const QUrl& url, int timeoutMs)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setRawHeader("Accept", "text/html, */*");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setTransferTimeout(timeoutMs);
    return request;
}

} // namespace

QString UpdateSite::defaultAddress()
{
    // A reserved name: until the program has a site of its own it must never
    // fetch an installer from somebody else's.
    return QStringLiteral("https://updates.brevicast.example/");
}

UpdateSite UpdateSite::fromEnvironment()
{
    const QString address = qEnvironmentVariable("BREVICAST_UPDATE_SITE").trimmed();
    return at(address.isEmpty() ? defaultAddress() : address);
}

UpdateSite UpdateSite::at(const QString& address)
{
    UpdateSite site;
    QString text = address.trimmed();
    if (!text.endsWith(QLatin1Char('/')))
        text += QLatin1Char('/');
    site.base = QUrl(text);
    site.newsPage = site.fileUrl(newsPageName());
    return site;
}

QString UpdateSite::address() const
{
    return base.toString();
}

QUrl UpdateSite::fileUrl(const QString& name) const
{
    // Joined as text, as the site's layout is given: the name may hold a
    // folder of the site, never another site.
    return QUrl(base.toString() + name);
}

bool UpdateSite::owns(const QUrl& url) const
{
    return base.isValid() && url.scheme() == base.scheme() &&
           url.host().compare(base.host(), Qt::CaseInsensitive) == 0 &&
           url.port(-1) == base.port(-1);
}

QString versionFileName()
{
    return QStringLiteral("APP_VERSION.TXT");
}

QString nameFileName()
{
    return QStringLiteral("APP_NAME.TXT");
}

QString scratchFileName()
{
    return QStringLiteral("Brevicast.tmp");
}

QString newsPageName()
{
    return QStringLiteral("news.html");
}

QString userAgent()
{
    return QStringLiteral("Brevicast/1.0");
}

bool isSecureAddress(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme != QLatin1String("http"))
        return false;
    const QString host = url.host().toLower();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

QNetworkReply* siteGet(QNetworkAccessManager& network, const QUrl& url, int timeoutMs)
{
    if (!isSecureAddress(url))
        return nullptr;
    QNetworkReply* reply = network.get(siteRequest(url, timeoutMs));
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply](const QUrl& to) {
        const QUrl target = reply->url().resolved(to);
        if (isSecureAddress(target)) {
            emit reply->redirectAllowed();
            return;
        }
        reply->setProperty(kRefusedProperty, target);
        reply->abort();
    });
    return reply;
}

QUrl refusedRedirection(const QNetworkReply* reply)
{
    return reply->property(kRefusedProperty).toUrl();
}

QByteArray parseSha256(const QByteArray& text)
{
    const QByteArray first = text.trimmed().split('\n').value(0).simplified();
    const QByteArray hex = first.split(' ').value(0);
    if (hex.size() != 64)
        return {};
    for (const char c : hex)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return {};
    return QByteArray::fromHex(hex);
}

double parseVersion(const QString& text)
{
    bool ok = false;
    const double value = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

bool isUsableInstallerName(const QString& name)
{
    if (name.trimmed().isEmpty())
        return false;
    for (const QChar c : name)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            return false;
    return true;
}

QString connectionDifficultiesText(const QString& site)
{
    return QStringLiteral("Your internet connection or ") + site +
           QStringLiteral(" is having Technical Difficulties.  Please check back later.");
}

QString siteDifficultiesText(const QString& site)
{
    return site + QStringLiteral(" is having Technical Difficulties.  Please check back later.");
}

QString upToDateText()
{
    return QStringLiteral(
        "Congratulations.  You are using the most up to date version of Brevicast.");
}

QString newerVersionQuestion()
{
    return QStringLiteral(
        "A newer version of Brevicast is available.  Would you like to download it now?");
}

QString overwriteQuestion(const QString& target)
{
    return target + QStringLiteral(" already exists.  Overwrite?");
}

QString notOverwrittenText()
{
    return QStringLiteral(
        "File could not be overwritten.  Another application may have the file locked.");
}

QString targetNotWrittenText(const QString& target, const QString& reason)
{
    return QStringLiteral("The update could not be saved as %1: %2").arg(target, reason);
}

QString downloadCancelledText()
{
    return QStringLiteral("Download Cancelled.");
}

QString installQuestion()
{
    return QStringLiteral("Download Complete. Install Now?");
}

QString installerFailedText()
{
    return QStringLiteral(
        "The Brevicast setup program failed to start.  Please download the program again.");
}

QString updateSavedText(const QString& target)
{
    return QStringLiteral("Brevicast update saved to: ") + target;
}

QString insecureAddressText(const QString& address)
{
    return address + QStringLiteral(
                         " is not a secure (https) address.  Nothing was fetched from it.");
}

QString tooLargeText(qint64 maxBytes)
{
    return QStringLiteral("The update is larger than %1 and was not downloaded.")
        .arg(QLocale::c().formattedDataSize(maxBytes, 0, QLocale::DataSizeTraditionalFormat));
}

QString sumUnreadableText(const QUrl& sumFile)
{
    return QStringLiteral("The checksum %1 of the update could not be read.  The update was not "
                          "downloaded.")
        .arg(sumFile.toString());
}

QString sumMismatchText(const QString& target)
{
    return QStringLiteral("The download does not match the checksum the update site publishes "
                          "and was deleted: %1")
        .arg(target);
}

UpdateTexts::UpdateTexts(QNetworkAccessManager& network, const UpdateSite& site,
                         const QString& programFolder)
    : m_network(network), m_site(site), m_programFolder(programFolder)
{
}

std::optional<QByteArray> UpdateTexts::fetch(const QUrl& url, int* status)
{
    if (status)
        *status = 0;
    QNetworkReply* reply = siteGet(m_network, url, m_site.fetchTimeoutMs);
    if (!reply)
        return std::nullopt;

    QByteArray body;
    bool tooBig = false;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, reply, &QNetworkReply::abort);
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        body += reply->readAll();
        if (body.size() > kMaxTextFile) {
            tooBig = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    limit.start(m_site.fetchTimeoutMs);
    if (!reply->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    body += reply->readAll();
    const int code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status)
        *status = code;
    const bool ok =
        reply->error() == QNetworkReply::NoError && !tooBig && code >= 200 && code < 300;
    reply->deleteLater();
    if (!ok)
        return std::nullopt;

    // The text passes through the scratch file, which stays for whoever
    // wants to see what the site said last.
    const QString scratch = m_programFolder + scratchFileName();
    if (!replaceFileContents(scratch, body))
        return std::nullopt;
    QFile file(scratch);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

QString UpdateTexts::FetchText(const QString& fileName)
{
    const std::optional<QByteArray> bytes = fetch(m_site.fileUrl(fileName));
    return bytes ? decodeText(*bytes).trimmed() : QString();
}

UpdateTexts::PublishedSum UpdateTexts::FetchSum(const QUrl& file)
{
    PublishedSum sum;
    sum.file = file;
    sum.file.setPath(file.path() + QStringLiteral(".sha256"));
    int status = 0;
    const std::optional<QByteArray> bytes = fetch(sum.file, &status);
    if (!bytes) {
        // Not there is no sum; anything else is a sum that cannot be read.
        sum.failed = status != 404 && status != 410;
        return sum;
    }
    sum.sha256 = parseSha256(*bytes);
    sum.failed = sum.sha256.isEmpty();
    return sum;
}

double UpdateTexts::RemoteVersion()
{
    return parseVersion(FetchText(versionFileName()));
}

} // namespace bv::app
