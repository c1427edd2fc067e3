#include "app/ShellCommands.h"

#include "app/BrevicastMain.h"
#include "app/CurrentMessage.h"
#include "app/DownloadProgress.h"
#include "app/viewCurrent.h"
#include "app/WebBrowserWithUI.h"
#include "compose/MergeFields.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Shell.h"
#include "core/SenderAccounts.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFrame>
#include <QNetworkAccessManager>
#include <QSplitter>

#include <cstdlib>

namespace bv::app {

namespace {

// Above this the panel counts as open.
constexpr int kOpenAbove = 10;
// The set-up area makes room for an open panel and the strip above it.
constexpr int kSetupTallAbove = 265;
constexpr int kSetupOverPanel = 30;
constexpr int kSetupHeight = 305;
constexpr int kFoldSteps = 45;

} // namespace

ShellCommands::ShellCommands(TfrmBrevicastMain& window, UpdateSite site)
    : QObject(&window), w(window), m_site(std::move(site)),
      m_network(new QNetworkAccessManager(this)),
      m_viewCurrent(new TfrmViewCurrent(window.services().dialogs, &window))
{
    connect(w.Action26, &QAction::triggered, this, &ShellCommands::printCurrentMessage);
    connect(w.Action8, &QAction::triggered, this, &ShellCommands::Action8Execute);
    connect(w.CheckWeb, &QAction::triggered, this, &ShellCommands::CheckWebExecute);

    TWebBrowserWithUI::TUISettings web;
    web.EnableScrollBars = false;
    w.WebBrowser1->setUISettings(web);
    w.WebBrowser1->setNetworkAccess(m_network, m_site);
    // Links of the news and of the printed message open in the user's browser.
    for (TWebBrowserWithUI* view : {w.WebBrowser1, m_viewCurrent->WebBrowserWithUI1})
        connect(view, &TWebBrowserWithUI::linkClicked, this,
                [this](const QUrl& url) { openOutsideLink(w.services().shell, url); });

    // The panel unfolds over the lower part of the set-up area.
    w.Panel2->installEventFilter(this);
    w.panWeb->installEventFilter(this);
    w.panWeb->raise();
    placeWebPanel();
}

ShellCommands::~ShellCommands() = default;

bool ShellCommands::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && (watched == w.Panel2 || watched == w.panWeb))
        placeWebPanel();
    return QObject::eventFilter(watched, event);
}

void ShellCommands::placeWebPanel()
{
    const int height = w.panWeb->height();
    w.panWeb->setGeometry(0, w.Panel2->height() - height, w.Panel2->width(), height);
}

void ShellCommands::setWebHeight(int height)
{
    w.panWeb->setFixedHeight(height);
    placeWebPanel();
}

void ShellCommands::setSetupHeight(int height)
{
    auto* split = qobject_cast<QSplitter*>(w.Panel2->parentWidget());
    if (!split)
        return;
    const QList<int> sizes = split->sizes();
    int total = 0;
    for (int s : sizes)
        total += s;
    split->setSizes({total - height, height});
}

void ShellCommands::printCurrentMessage()
{
    Dialogs& dialogs = w.services().dialogs;
    compose::ComposeInput input;
    try {
        input = w.composeInput();
    } catch (const AccountsError& e) {
        dialogs.showError(e.message());
        return;
    }
    QStringList images;
    const QString page =
        currentMessagePage({input.sender, input.subject, input.plainBody, input.htmlBody},
                           w.services().clock.now().date(), &images);
    QString error;
    const QString path = writeCurrentMessagePage(w.services().programFolder, page, &error);
    if (path.isEmpty()) {
        dialogs.showError(error);
        return;
    }
    m_viewCurrent->setFileAddress(path);
    m_viewCurrent->WebBrowserWithUI1->setLocalImages(images);
    dialogs.execModal(*m_viewCurrent);
}

void ShellCommands::Action8Execute()
{
    Dialogs& dialogs = w.services().dialogs;
    const QString programFolder = w.services().programFolder;
    UpdateTexts texts(*m_network, m_site, programFolder);
    const QString site = m_site.address();
    if (!isSecureAddress(m_site.base)) {
        dialogs.message(insecureAddressText(site), Severity::Error);
        return;
    }

    const QString name = texts.FetchText(nameFileName());
    if (!isUsableInstallerName(name) || texts.RemoteVersion() == 0) {
        dialogs.message(connectionDifficultiesText(site));
        return;
    }
    if (texts.RemoteVersion() <= kProgramVersion) {
        dialogs.message(upToDateText());
        return;
    }
    if (dialogs.ask(newerVersionQuestion(), Buttons::YesNoCancel) != Answer::Yes)
        return;

    const QString current = texts.FetchText(nameFileName());
    if (!isUsableInstallerName(current)) {
        dialogs.message(connectionDifficultiesText(site));
        return;
    }
    FileRequest sdSaveNewBuild;
    sdSaveNewBuild.filter = QStringLiteral("All Files (*.*)|*.*");
    sdSaveNewBuild.initialDir = programFolder;
    // The site names a file, not where on this computer it goes.
    sdSaveNewBuild.fileName = compose::fileNamePart(current);
    const QString target = dialogs.saveFile(sdSaveNewBuild);
    if (target.isEmpty())
        return;
    DownloadUpdate(m_site.fileUrl(current), target);
}

void ShellCommands::DownloadUpdate(const QUrl& source, const QString& target)
{
    Dialogs& dialogs = w.services().dialogs;
    const QString path = QDir::toNativeSeparators(target);
    // A sum the site publishes beside the installer must match it.
    const UpdateTexts::PublishedSum sum =
        UpdateTexts(*m_network, m_site, w.services().programFolder).FetchSum(source);
    bool completed = false;
    if (sum.failed) {
        dialogs.message(sumUnreadableText(sum.file), Severity::Error);
    } else {
        TfrmDownloadProgress window(w.services(), *m_network, m_site.address(),
                                    m_site.stallTimeoutMs, &w);
        window.source = source;
        window.target = path;
        window.checks = {m_site.maxInstallerBytes, sum.sha256};
        completed = dialogs.execModal(window) == QDialog::Accepted;
    }
    if (!completed) {
        dialogs.message(downloadCancelledText());
        return;
    }
    if (dialogs.ask(installQuestion(), Buttons::YesNo) != Answer::Yes) {
        dialogs.message(updateSavedText(path));
        return;
    }
    if (!startInstaller(path)) {
        dialogs.message(installerFailedText(), Severity::Error);
        return;
    }
    // The installer replaces the program: it ends as the Exit command ends it.
    w.close();
}

bool ShellCommands::startInstaller(const QString& path)
{
    Shell& shell = w.services().shell;
    if (path.endsWith(QLatin1String(".deb"), Qt::CaseInsensitive))
        return shell.openUrl(QUrl::fromLocalFile(path));
    QFile file(path);
    if (!file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser))
        return false;
    return shell.startProgram(path, {});
}

void ShellCommands::CheckWebExecute()
{
    TWebBrowserWithUI* browser = w.WebBrowser1;
    browser->Navigate(QUrl(QStringLiteral("about:blank")));

    int height = w.panWeb->height();
    const int target = height <= kWebFolded ? kWebUnfolded : kWebFolded;
    const bool open = target > kOpenAbove;
    w.CheckWeb->setText(open ? QStringLiteral("Collapse Web") : QStringLiteral("&Check Web"));
    w.cbxErrorsByEmail->setVisible(!open);
    setSetupHeight(target > kSetupTallAbove ? target + kSetupOverPanel : kSetupHeight);

    const int step = (target - height) / kFoldSteps;
    if (step != 0) {
        Clock& clock = w.services().clock;
        do {
            height += step;
            setWebHeight(height);
            clock.sleep(kFoldStepMs);
            w.repaint();
            clock.processEvents();
            clock.processEvents();
        } while (std::abs(target - height) > std::abs(step));
    }
    setWebHeight(target);
    browser->Navigate(m_site.newsPage);
}

} // namespace bv::app
