#pragma once

#include "app/UpdateSite.h"

#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;

namespace bv::app {

class TfrmBrevicastMain;
class TfrmViewCurrent;

// The main window's commands that reach beyond the mailing: Print > "&Current
// Message", "&Updates?" with the installer download, and "&Check Web" with
// the folding web panel.
class ShellCommands : public QObject
{
    Q_OBJECT
public:
    static constexpr int kWebUnfolded = 394;
    static constexpr int kWebFolded = 1;
    static constexpr int kFoldStepMs = 30;

    // Connects itself to the window's commands.
    ShellCommands(TfrmBrevicastMain& window, UpdateSite site);
    ~ShellCommands() override;

    // Action26: the summary page of the message in the viewer window.
    void printCurrentMessage();
    // Action8: asks the site for its version and offers the newer one.
    void Action8Execute();
    // Downloads source into target in the progress window, then offers to
    // start it.
    void DownloadUpdate(const QUrl& source, const QString& target);
    // CheckWeb: unfolds or folds the web panel and shows the site's news.
    void CheckWebExecute();

    // Starts a downloaded installer the way this system starts one: a package
    // goes to the desktop's package installer, anything else runs as a
    // program. False when it could not be started.
    bool startInstaller(const QString& path);

    TfrmViewCurrent* viewCurrent() const { return m_viewCurrent; }
    QNetworkAccessManager& network() const { return *m_network; }
    const UpdateSite& site() const { return m_site; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeWebPanel();
    void setWebHeight(int height);
    void setSetupHeight(int height);

    TfrmBrevicastMain& w;
    UpdateSite m_site;
    QNetworkAccessManager* m_network;
    TfrmViewCurrent* m_viewCurrent;
};

} // namespace bv::app
