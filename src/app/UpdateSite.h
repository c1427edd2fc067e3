#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

namespace bv::app {

// The program's own version, which the site's version file is compared with.
inline constexpr double kProgramVersion = 1.0;

// The web site that tells the current version, names the installer and serves
// it, and the news page beside them.
struct UpdateSite
{
    QUrl base; // ends with "/"
    QUrl newsPage;
    // A text file must arrive whole within this time.
    int fetchTimeoutMs = 20000;
    // The installer download gives up when no data arrives for this long.
    int stallTimeoutMs = 30000;
    // The installer download stops beyond this, whatever size the site
    // announces: installers of the program are a few megabytes, and a site
    // sending more than this is not sending one but filling the user's disk.
    qint64 maxInstallerBytes = 512LL * 1024 * 1024;

    // The address built into the program.
    static QString defaultAddress();
    // BREVICAST_UPDATE_SITE when it is set, so that whoever hosts the files
    // (and the tests) can point the program at their own server.
    static UpdateSite fromEnvironment();
    static UpdateSite at(const QString& address);

    // The base address as the messages name it.
    QString address() const;
    // A file under the base address.
    QUrl fileUrl(const QString& name) const;
    // The address is on the site: its scheme, host and port are the base's.
    bool owns(const QUrl& url) const;
};

QString versionFileName(); // "APP_VERSION.TXT"
QString nameFileName();    // "APP_NAME.TXT"
QString scratchFileName(); // "Brevicast.tmp"
QString newsPageName();    // the news page under the base address
QString userAgent();
// An address the program fetches from: https, or plain http from a loopback
// host (a site on this computer, as tests run one). Anything else could be
// read and changed on its way.
bool isSecureAddress(const QUrl& url);
// A GET of the program's own: its headers, no cache, a time-out when no data
// arrives for timeoutMs, and redirections followed only to secure addresses.
// Null when url itself is not secure.
QNetworkReply* siteGet(QNetworkAccessManager& network, const QUrl& url, int timeoutMs);
// The address a reply of siteGet was redirected to and refused; empty when
// none was.
QUrl refusedRedirection(const QNetworkReply* reply);
// The sum of a "<file>.sha256" file: 64 hex digits leading its first line, as
// sha256sum writes them; empty when it holds none.
QByteArray parseSha256(const QByteArray& text);

// The version file's text as a number; 0 when it holds no number.
double parseVersion(const QString& text);
// An installer name the site may give: one line without control characters.
bool isUsableInstallerName(const QString& name);

// The texts of the update check.
QString connectionDifficultiesText(const QString& site);
QString siteDifficultiesText(const QString& site);
QString upToDateText();
QString newerVersionQuestion();
QString overwriteQuestion(const QString& target);
QString notOverwrittenText();
QString targetNotWrittenText(const QString& target, const QString& reason);
QString downloadCancelledText();
QString installQuestion();
QString installerFailedText();
QString updateSavedText(const QString& target);
QString insecureAddressText(const QString& address);
QString tooLargeText(qint64 maxBytes);
QString sumUnreadableText(const QUrl& sumFile);
QString sumMismatchText(const QString& target);

// FetchText and RemoteVersion: small text files of the site, each fetched
// whole into the scratch file of the program folder. User input waits while a
// fetch runs; network events go on.
class UpdateTexts
{
public:
    UpdateTexts(QNetworkAccessManager& network, const UpdateSite& site,
                const QString& programFolder);

    // The file's text without leading and trailing blanks and line breaks;
    // empty on any failure (no connection, a missing file, a server error, a
    // time-out, a scratch file that cannot be written).
    QString FetchText(const QString& fileName);
    // The version file fetched anew, read as a number; 0 on failure.
    double RemoteVersion();

    // The SHA-256 sum the site publishes beside a file as "<file>.sha256":
    // empty when the site has no such file; failed when it has one that
    // cannot be fetched or holds no sum.
    struct PublishedSum
    {
        bool failed = false;
        QByteArray sha256;
        QUrl file;
    };
    PublishedSum FetchSum(const QUrl& file);

private:
    // The body of a 2xx answer as it passed through the scratch file; nothing
    // on any failure, with the HTTP status, if one came, in *status.
    std::optional<QByteArray> fetch(const QUrl& url, int* status = nullptr);

    QNetworkAccessManager& m_network;
    const UpdateSite& m_site;
    QString m_programFolder;
};

} // namespace bv::app
