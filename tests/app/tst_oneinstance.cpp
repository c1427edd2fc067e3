#include "app/OneInstance.h"

#include "ScriptedDialogs.h"
#include "TempProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QWidget>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using namespace bv;
using namespace bv::app;

namespace {

int g_counter = 0;
// Generous: a sanitizer build on a loaded machine starts slowly.
constexpr int kStartTimeoutMs = 60000;

QString uniqueGuardName()
{
    return QStringLiteral("bv-guard-%1-%2").arg(QCoreApplication::applicationPid()).arg(++g_counter);
}

QString socketPath(const QString& guardName)
{
    const QString name = TOneInstance::serverName(guardName);
    return QDir::isAbsolutePath(name) ? name : QDir::tempPath() + QLatin1Char('/') + name;
}

bool answers(const QString& guardName)
{
    QLocalSocket probe;
    probe.connectToServer(TOneInstance::serverName(guardName));
    return probe.waitForConnected(1000);
}

// The socket file a killed copy leaves behind: there, but nobody listens.
bool makeStaleSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray p = QFile::encodeName(path);
    std::strncpy(addr.sun_path, p.constData(), sizeof(addr.sun_path) - 1);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    ::close(fd);
    return bound;
}

} // namespace

class TestOneInstance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void secondGuard_findsFirstAndBringsItsWindowForward();
    void guardGone_nextCopyStartsNormally();
    void staleSocket_isTakenOver();
    void listenFailure_isReported();
    void secondGuardOnOneOwner_isRefused();

    void program_secondCopyWhileGuardHeld_endsAtOnce();
    void program_copyAfterSplashClosed_startsNormally();
    void program_killedCopy_doesNotBlockNextStart();

private:
    // A copy of the program under a name of its own, so that its guard meets
    // no other copy that happens to run on this machine.
    QString programCopy(const QString& guardName);
    void startProgram(QProcess& process, const QString& program);
    // Starts a copy that must become the first copy: its guard answers.
    void expectNormalStart(const QString& program, const QString& guardName);

    test::TempProgramFolder m_home;
};

void TestOneInstance::initTestCase()
{
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Brevicast"));
}

void TestOneInstance::secondGuard_findsFirstAndBringsItsWindowForward()
{
    test::ScriptedDialogs dialogs;
    const QString name = uniqueGuardName();
    QWidget window;
    window.setWindowTitle(QStringLiteral("Brevicast"));
    window.showMinimized();
    QTRY_VERIFY(window.isMinimized());

    TOneInstance first(dialogs, name);
    QCOMPARE(first.state(), TOneInstance::State::Created);
    QCOMPARE(first.applicationTitle(), QString("Brevicast"));
    QSignalSpy raised(&first, &TOneInstance::priorInstanceRaised);

    TOneInstance second(dialogs, name);
    QVERIFY(second.isSecondCopy());
    QVERIFY(raised.wait());
    QVERIFY(!window.isMinimized());
    QVERIFY(dialogs.shown().isEmpty());
}

void TestOneInstance::guardGone_nextCopyStartsNormally()
{
    test::ScriptedDialogs dialogs;
    const QString name = uniqueGuardName();
    {
        TOneInstance first(dialogs, name);
        QVERIFY(QFile::exists(socketPath(name)));
    }
    QVERIFY(!QFile::exists(socketPath(name)));
    TOneInstance next(dialogs, name);
    QCOMPARE(next.state(), TOneInstance::State::Created);
    QVERIFY(dialogs.shown().isEmpty());
}

void TestOneInstance::staleSocket_isTakenOver()
{
    test::ScriptedDialogs dialogs;
    const QString name = uniqueGuardName();
    QVERIFY(makeStaleSocket(socketPath(name)));
    QVERIFY(!answers(name));

    TOneInstance guard(dialogs, name);
    QCOMPARE(guard.state(), TOneInstance::State::Created);
    QVERIFY(answers(name));
    QVERIFY(dialogs.shown().isEmpty());
}

void TestOneInstance::listenFailure_isReported()
{
    test::ScriptedDialogs dialogs;
    TOneInstance guard(dialogs, QStringLiteral("no-such-folder-%1/brevicast").arg(QCoreApplication::applicationPid()));
    QCOMPARE(guard.state(), TOneInstance::State::Failed);
    QVERIFY(!guard.isSecondCopy());
    QCOMPARE(dialogs.texts("error").size(), 1);
    QVERIFY2(dialogs.lastText().startsWith("Unable to create Mutex! An Exception was raised with the message : "),
             qPrintable(dialogs.lastText()));
}

void TestOneInstance::secondGuardOnOneOwner_isRefused()
{
    test::ScriptedDialogs dialogs;
    QObject owner;
    owner.setObjectName(QStringLiteral("Form_Splash"));
    new TOneInstance(dialogs, uniqueGuardName(), &owner);
    try {
        new TOneInstance(dialogs, uniqueGuardName(), &owner);
        QFAIL("a second guard was accepted");
    } catch (const std::logic_error& e) {
        QCOMPARE(QString::fromStdString(e.what()), QString("OneInstance component duplicated in Form_Splash"));
    }
    QCOMPARE(owner.findChildren<TOneInstance*>().size(), 1);
}

QString TestOneInstance::programCopy(const QString& guardName)
{
    const QString copy = m_home.file(guardName);
    if (!QFile::exists(copy)) {
        if (!QFile::copy(QStringLiteral(BV_BREVICAST_EXE), copy))
            return {};
        QFile::setPermissions(copy, QFile::permissions(copy) | QFile::ExeOwner);
    }
    return copy;
}

void TestOneInstance::startProgram(QProcess& process, const QString& program)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("BREVICAST_HOME"), m_home.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, {});
    QVERIFY(process.waitForStarted());
}

void TestOneInstance::expectNormalStart(const QString& program, const QString& guardName)
{
    QProcess next;
    startProgram(next, program);
    QTRY_VERIFY_WITH_TIMEOUT(answers(guardName), kStartTimeoutMs);
    QCOMPARE(next.state(), QProcess::Running);
    next.kill();
    next.waitForFinished();
}

void TestOneInstance::program_secondCopyWhileGuardHeld_endsAtOnce()
{
    test::ScriptedDialogs dialogs;
    const QString name = uniqueGuardName();
    const QString program = programCopy(name);
    QVERIFY(!program.isEmpty());
    QWidget window;
    window.setWindowTitle(QStringLiteral("Brevicast"));
    window.showMinimized();

    // This process plays the first copy, its splash still open.
    TOneInstance first(dialogs, name);
    QSignalSpy raised(&first, &TOneInstance::priorInstanceRaised);
    QProcess second;
    startProgram(second, program);
    QVERIFY(raised.wait(kStartTimeoutMs));
    QVERIFY(second.waitForFinished(kStartTimeoutMs));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(!window.isMinimized());
    // It ended before restoring anything, so it saves nothing either.
    QVERIFY(!QFile::exists(m_home.file("BrevicastSettings.ini")));
}

void TestOneInstance::program_copyAfterSplashClosed_startsNormally()
{
    const QString name = uniqueGuardName();
    const QString program = programCopy(name);
    QVERIFY(!program.isEmpty());
    const QString socket = socketPath(name);

    QProcess first;
    startProgram(first, program);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), kStartTimeoutMs);
    // The guard goes with the start-up splash, some four seconds later.
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(socket), kStartTimeoutMs);
    QCOMPARE(first.state(), QProcess::Running);

    expectNormalStart(program, name);
    QCOMPARE(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
}

void TestOneInstance::program_killedCopy_doesNotBlockNextStart()
{
    const QString name = uniqueGuardName();
    const QString program = programCopy(name);
    QVERIFY(!program.isEmpty());

    QProcess killed;
    startProgram(killed, program);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socketPath(name)), kStartTimeoutMs);
    killed.kill();
    QVERIFY(killed.waitForFinished());
    QVERIFY(QFile::exists(socketPath(name)));
    expectNormalStart(program, name);
}

QTEST_MAIN(TestOneInstance)
#include "tst_oneinstance.moc"
