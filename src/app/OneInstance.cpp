#include "app/OneInstance.h"

#include "core/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QWidget>

#include <stdexcept>

namespace bv::app {

namespace {

const QByteArray kRaiseRequest = "raise\n";
constexpr int kSocketWaitMs = 2000;

QString failureText(const char* operation, const QString& message)
{
    return QLatin1String(operation) + QStringLiteral(" An Exception was raised ")
           + QStringLiteral("with the message : ") + message;
}

void restoreAndRaise(QWidget* w)
{
    if (w->isMinimized())
        w->setWindowState((w->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    w->show();
    w->raise();
    w->activateWindow();
}

} // namespace

TOneInstance::TOneInstance(Dialogs& dialogs, const QString& guardName, QObject* owner)
    : QObject(owner), m_dialogs(dialogs), m_guardName(guardName),
      m_title(QGuiApplication::applicationDisplayName())
{
    setObjectName(QStringLiteral("OneInstance1"));
    if (owner)
        for (const QObject* sibling : owner->children())
            if (sibling != this && qobject_cast<const TOneInstance*>(sibling))
                throw std::logic_error(("OneInstance component duplicated in " + owner->objectName()).toStdString());
    QString failure;
    if (askPriorInstance(&failure)) {
        m_state = State::Found;
        return;
    }
    if (!failure.isEmpty()) {
        // Unable to tell whether another copy runs: counted as if one did.
        m_dialogs.showError(failureText("Unable to verify that Mutex already exists!", failure));
        m_state = State::Found;
        return;
    }
    listen();
}

TOneInstance::~TOneInstance()
{
    // Closing the server removes its socket: from now on a new copy starts.
    if (m_server)
        m_server->close();
}

QString TOneInstance::executableGuardName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

QString TOneInstance::serverName(const QString& guardName)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return QDir(runtime).filePath(guardName);
    return guardName;
}

bool TOneInstance::askPriorInstance(QString* failure)
{
    QLocalSocket socket;
    socket.connectToServer(serverName(m_guardName));
    if (!socket.waitForConnected(kSocketWaitMs)) {
        const auto error = socket.error();
        if (error != QLocalSocket::ServerNotFoundError && error != QLocalSocket::ConnectionRefusedError)
            *failure = socket.errorString();
        return false;
    }
    socket.write(kRaiseRequest);
    socket.waitForBytesWritten(kSocketWaitMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(kSocketWaitMs);
    return true;
}

void TOneInstance::listen()
{
    const QString name = serverName(m_guardName);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    bool listening = m_server->listen(name);
    if (!listening && m_server->serverError() == QAbstractSocket::AddressInUseError) {
        // Either a copy that started a moment ago, or the socket of a copy
        // that was killed: only the latter refuses a connection.
        QString failure;
        if (askPriorInstance(&failure)) {
            m_state = State::Found;
            delete m_server;
            m_server = nullptr;
            return;
        }
        QLocalServer::removeServer(name);
        listening = m_server->listen(name);
    }
    if (!listening) {
        m_dialogs.showError(failureText("Unable to create Mutex!", m_server->errorString()));
        delete m_server;
        m_server = nullptr;
        m_state = State::Failed;
        return;
    }
    m_state = State::Created;
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = m_server->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (peer->readAll().contains(kRaiseRequest.trimmed()))
                    bringForward();
            });
            if (peer->bytesAvailable() > 0)
                emit peer->readyRead();
        }
    });
}

void TOneInstance::bringForward()
{
    QWidget* main = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (!w->isHidden() && w->windowTitle() == m_title) {
            main = w;
            break;
        }
    if (!main)
        return;
    restoreAndRaise(main);
    // The window the user was last working in, such as this splash.
    QPointer<QWidget> popup = QApplication::activeModalWidget();
    if (popup && popup != main)
        restoreAndRaise(popup);
    emit priorInstanceRaised();
}

} // namespace bv::app
