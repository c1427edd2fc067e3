#include "core/KeychainSecretStore.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace bv;

// The secret store against the desktop's own secret service: a private
// session bus, with gnome-keyring's daemon on it once the test wants one.
class TestKeychain : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void noSecretService_filesKeepThem();
    void secretService_keepsPasswords_data();
    void secretService_keepsPasswords();

private:
    bool startKeyring();

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_keyring;
    QString m_address;
};

void TestKeychain::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // No service files: nothing is started on the bus but what the test starts.
    QFile conf(m_dir.filePath("bus.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>session</type><listen>unix:dir=" +
               m_dir.path().toUtf8() +
               "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    conf.close();
    m_bus.start("dbus-daemon", {"--config-file=" + conf.fileName(), "--nofork", "--print-address=1"});
    QVERIFY2(m_bus.waitForStarted(), qPrintable(m_bus.errorString()));
    QTRY_VERIFY(m_bus.canReadLine());
    m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
    // Before anything reaches for the session bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
}

void TestKeychain::cleanupTestCase()
{
    for (QProcess* p : {&m_keyring, &m_bus}) {
        if (p->state() != QProcess::NotRunning) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
            p->waitForFinished(5000);
        }
    }
}

bool TestKeychain::startKeyring()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString home = m_dir.filePath("home");
    QDir().mkpath(home + "/run");
    QFile::setPermissions(home + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert("HOME", home);
    env.insert("XDG_DATA_HOME", home + "/.local/share");
    env.insert("XDG_RUNTIME_DIR", home + "/run");
    env.insert("DBUS_SESSION_BUS_ADDRESS", m_address);
    m_keyring.setProcessEnvironment(env);
    // --unlock reads the login keyring's password and makes the keyring.
    m_keyring.start("gnome-keyring-daemon", {"--foreground", "--components=secrets", "--unlock"});
    if (!m_keyring.waitForStarted())
        return false;
    m_keyring.write("test password");
    m_keyring.waitForBytesWritten();
    m_keyring.closeWriteChannel();
    // Up once the bus knows the service's name.
    return QTest::qWaitFor(
        [&] {
            QProcess ask;
            ask.setProcessEnvironment(env);
            ask.start("dbus-send", {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                                    "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets"});
            return ask.waitForFinished(5000) && ask.readAllStandardOutput().contains("boolean true");
        },
        10000);
}

void TestKeychain::noSecretService_filesKeepThem()
{
    KeychainSecretStore store(QStringLiteral("Brevicast test"), 5000);
    QVERIFY(!store.holdsSecrets());
    QVERIFY(!store.write(smtpSecretKey("smtp.x.org", "me"), "s3cret"));
    QVERIFY(!store.read(smtpSecretKey("smtp.x.org", "me")));
}

void TestKeychain::secretService_keepsPasswords_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("secret");
    QTest::newRow("SMTP") << smtpSecretKey("Smtp.X.org:587", "me@x.org") << "s3cret=";
    QTest::newRow("POP, non-ASCII with blanks") << popSecretKey("ann@x.org") << " Grüße, 日本 ";
}

void TestKeychain::secretService_keepsPasswords()
{
    QFETCH(QString, key);
    QFETCH(QString, secret);
    if (m_keyring.state() == QProcess::NotRunning)
        QVERIFY2(startKeyring(), m_keyring.readAllStandardError().constData());

    KeychainSecretStore store(QStringLiteral("Brevicast test"), 10000);
    QVERIFY(store.holdsSecrets());
    QVERIFY(!store.read(key));
    QVERIFY(store.write(key, secret));
    // Another run of the program finds it.
    KeychainSecretStore later(QStringLiteral("Brevicast test"), 10000);
    QCOMPARE(later.read(key).value_or("-"), secret);
    QVERIFY(later.write(key, secret + "2"));
    QCOMPARE(store.read(key).value_or("-"), secret + "2");
    QVERIFY(store.remove(key));
    QVERIFY(!later.read(key));
    QVERIFY(later.remove(key));
    QVERIFY(later.holdsSecrets());
}

QTEST_GUILESS_MAIN(TestKeychain)
#include "tst_keychain.moc"
