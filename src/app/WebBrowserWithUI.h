#pragma once

#include "app/UpdateSite.h"

#include <QHash>
#include <QSet>
#include <QTextBrowser>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QPrinter;

namespace bv::app {

// The program's HTML view: shows a local file or a page of a web site, can
// print, and takes its frame, scroll bars and context menu from its settings.
// A page loads nothing but itself, the local images it is given and the
// images of its own site: its markup is the message's or the site's, and an
// image element can name any file of this computer. Links are never followed
// in the view; linkClicked hands them to the owner.
class TWebBrowserWithUI : public QTextBrowser
{
    Q_OBJECT
public:
    struct TUISettings
    {
        bool EnableScrollBars = true;
        bool EnableFlatScrollBars = false;
        bool Enable3DBorder = true;
        bool EnableContextMenu = true;
    };

    // A page or image larger than this is not shown.
    static constexpr qint64 kMaxPageBytes = 8 * 1024 * 1024;

    explicit TWebBrowserWithUI(QWidget* parent = nullptr);

    const TUISettings& UISettings() const { return m_settings; }
    void setUISettings(const TUISettings& settings);

    // Pages and images of the site are fetched through network; without it
    // only local files are shown.
    void setNetworkAccess(QNetworkAccessManager* network, const UpdateSite& site);
    // The files the local page shown next may show as images, by their file
    // addresses: those its message names.
    void setLocalImages(const QStringList& addresses);

    // "about:blank" empties the view; a local file is shown at once; a web
    // page when it has arrived (navigateComplete tells).
    void Navigate(const QUrl& url);
    QUrl location() const { return m_location; }

    // Prints the page on printer as set up; false, with the reason in
    // *error, when the printer could not start.
    bool printPage(QPrinter& printer, QString* error = nullptr);

    QVariant loadResource(int type, const QUrl& name) override;

signals:
    void navigateComplete(const QUrl& url, bool ok);
    // A link of the page was clicked: its address, made absolute.
    void linkClicked(const QUrl& url);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void pageArrived(QNetworkReply* reply, const QUrl& url);
    void fetchImage(const QUrl& url);
    void anchorActivated(const QUrl& link);

    TUISettings m_settings;
    QNetworkAccessManager* m_network = nullptr;
    UpdateSite m_site;
    QSet<QString> m_localImages; // clean absolute paths
    QUrl m_location;
    QNetworkReply* m_page = nullptr;
    QHash<QUrl, QByteArray> m_images;
    QSet<QUrl> m_imagesAsked;
};

} // namespace bv::app
