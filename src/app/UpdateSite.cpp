#include "app/UpdateSite.h"

#include "core/TextFile.h"

#include <QEventLoop>
#include <QFile>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <cmath>

namespace bv::app {

namespace {

// A version or a file name is a line; anything bigger is not what the site
// is meant to serve.
constexpr qint64 kMaxTextFile = 64 * 1024;

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

QNetworkRequest siteRequest(const QUrl& url, int timeoutMs)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent());
    request.setRawHeader("Accept", "text/html, */*");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(timeoutMs);
    return request;
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

UpdateTexts::UpdateTexts(QNetworkAccessManager& network, const UpdateSite& site,
                         const QString& programFolder)
    : m_network(network), m_site(site), m_programFolder(programFolder)
{
}

QString UpdateTexts::FetchText(const QString& fileName)
{
    QNetworkReply* reply =
        m_network.get(siteRequest(m_site.fileUrl(fileName), m_site.fetchTimeoutMs));

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
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool ok =
        reply->error() == QNetworkReply::NoError && !tooBig && status >= 200 && status < 300;
    reply->deleteLater();
    if (!ok)
        return {};

    // The text passes through the scratch file, which stays for whoever
    // wants to see what the site said last.
    const QString scratch = m_programFolder + scratchFileName();
    if (!replaceFileContents(scratch, body))
        return {};
    QFile file(scratch);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return decodeText(file.readAll()).trimmed();
}

double UpdateTexts::RemoteVersion()
{
    return parseVersion(FetchText(versionFileName()));
}

} // namespace bv::app
