#include "Pop3Peers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bv::test {

namespace {

constexpr uid_t kNobody = 65534;

bool writeFile(const QString& path, const QByteArray& text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

bool run(const QString& program, const QStringList& args, const QString& folder, QString* error)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) + QStringLiteral(": ") +
                 QString::fromLocal8Bit(p.readAllStandardError()) + p.errorString();
        return false;
    }
    return true;
}

bool waitForListener(const QString& host, int port, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QTcpSocket probe;
        probe.connectToHost(host, quint16(port));
        if (probe.waitForConnected(200)) {
            probe.abort();
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

int freePort(const QString& host)
{
    QTcpServer s;
    if (!s.listen(QHostAddress(host), 0))
        return 0;
    return s.serverPort();
}

// A loopback address of its own, so that several servers may hold port 995.
QString freeLoopbackFor995()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const QString address = QStringLiteral("127.%1.%2.%3")
                                    .arg(QRandomGenerator::global()->bounded(10, 250))
                                    .arg(QRandomGenerator::global()->bounded(1, 250))
                                    .arg(QRandomGenerator::global()->bounded(2, 250));
        QTcpServer s;
        if (s.listen(QHostAddress(address), 995))
            return address;
    }
    return QString();
}

} // namespace

QList<QSslCertificate> TestAuthority::ca() const
{
    return QSslCertificate::fromPath(caFile);
}

bool makeTestAuthority(const QString& folder, const QString& address, TestAuthority& out,
                       QString* error)
{
    out.caFile = folder + QStringLiteral("/ca.pem");
    out.certFile = folder + QStringLiteral("/server.pem");
    out.keyFile = folder + QStringLiteral("/server.key");
    const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"),
                         QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                         QStringLiteral("-nodes")};
    if (!writeFile(
            folder + QStringLiteral("/ext.cnf"),
            "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=DNS:localhost,"
            "IP:127.0.0.1,IP:" +
                address.toLatin1() + "\n"))
        return false;
    return run(QStringLiteral("openssl"),
               QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec +
                   QStringList{
                       QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                       QStringLiteral("ca.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                       QStringLiteral("-subj"), QStringLiteral("/CN=Brevicast Test Authority")},
               folder, error) &&
           run(QStringLiteral("openssl"),
               QStringList{QStringLiteral("req")} + ec +
                   QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"),
                               QStringLiteral("-out"), QStringLiteral("server.csr"),
                               QStringLiteral("-subj"), QStringLiteral("/CN=localhost")},
               folder, error) &&
           run(QStringLiteral("openssl"),
               {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"),
                QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                QStringLiteral("-CAcreateserial"), QStringLiteral("-out"),
                QStringLiteral("server.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                QStringLiteral("-extfile"), QStringLiteral("ext.cnf")},
               folder, error);
}

Dovecot::Dovecot(Tls tls) : m_tls(tls)
{
    // dovecot's users must reach the configuration and the mail.
    ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
    QDir(m_dir.path()).mkpath(QStringLiteral("mail/cur"));
    QDir(m_dir.path()).mkpath(QStringLiteral("mail/new"));
    QDir(m_dir.path()).mkpath(QStringLiteral("mail/tmp"));
    for (const char* d : {"mail", "mail/cur", "mail/new", "mail/tmp"})
        ::chown(QFile::encodeName(m_dir.filePath(QLatin1String(d))).constData(), kNobody, kNobody);
}

Dovecot::~Dovecot()
{
    stop();
}

void Dovecot::addMessage(const QByteArray& text)
{
    ++m_added;
    // Names that sort in the order of adding: dovecot numbers new mail so.
    const QString path = m_dir.filePath(QStringLiteral("mail/cur/%1.M%2P1.test:2,")
                                            .arg(1700000000 + m_added)
                                            .arg(m_added, 4, 10, QLatin1Char('0')));
    writeFile(path, text);
    ::chown(QFile::encodeName(path).constData(), kNobody, kNobody);
}

QString Dovecot::server() const
{
    return m_host + QLatin1Char(':') + QString::number(m_port);
}

bool Dovecot::start(QString* error)
{
    const QString dir = m_dir.path();
    if (m_tls == Tls::Implicit) {
        m_host = freeLoopbackFor995();
        m_port = 995;
    } else {
        m_port = freePort(m_host);
    }
    if (m_host.isEmpty() || m_port == 0) {
        *error = QStringLiteral("no free loopback port");
        return false;
    }
    if (m_tls != Tls::None && !makeTestAuthority(dir, m_host, m_authority, error))
        return false;

    const QString passwd = dir + QStringLiteral("/passwd");
    writeFile(passwd, (user() + QStringLiteral(":{PLAIN}") + password() +
                       QStringLiteral(":65534:65534::") + dir + QStringLiteral("::\n"))
                          .toUtf8());
    // Readable by group dovecot: its auth process reads it.
    if (const group* g = ::getgrnam("dovecot"))
        ::chown(QFile::encodeName(passwd).constData(), 0, g->gr_gid);
    ::chmod(QFile::encodeName(passwd).constData(), 0640);

    QString ssl = QStringLiteral("ssl = no\n");
    QString listener =
        QStringLiteral("  inet_listener pop3 {\n    address = %1\n    port = %2\n  }\n"
                       "  inet_listener pop3s {\n    port = 0\n  }\n")
            .arg(m_host)
            .arg(m_port);
    if (m_tls != Tls::None)
        ssl = QStringLiteral("ssl = yes\nssl_cert = <%1\nssl_key = <%2\n")
                  .arg(m_authority.certFile, m_authority.keyFile);
    if (m_tls == Tls::Implicit)
        listener =
            QStringLiteral(
                "  inet_listener pop3 {\n    port = 0\n  }\n"
                "  inet_listener pop3s {\n    address = %1\n    port = 995\n    ssl = yes\n  }\n")
                .arg(m_host);
    const QString conf =
        QStringLiteral(
            "base_dir = %1/run\nstate_dir = %1/state\nlog_path = %1/dovecot.log\n"
            "protocols = pop3\nlisten = 127.0.0.1\n%2"
            "disable_plaintext_auth = no\nauth_mechanisms = plain\n"
            "passdb {\n  driver = passwd-file\n  args = %3\n}\n"
            "userdb {\n  driver = passwd-file\n  args = %3\n}\n"
            "mail_location = maildir:%1/mail\nfirst_valid_uid = 1\n"
            "service pop3-login {\n%4}\n"
            "service anvil {\n  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n}\n")
            .arg(dir, ssl, passwd, listener);
    writeFile(dir + QStringLiteral("/dovecot.conf"), conf.toUtf8());

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral("dovecot"), {QStringLiteral("-F"), QStringLiteral("-c"),
                                                dir + QStringLiteral("/dovecot.conf")});
    if (!m_process.waitForStarted(10000)) {
        *error = QStringLiteral("dovecot did not start: ") + m_process.errorString();
        return false;
    }
    if (!waitForListener(m_host, m_port, 10000)) {
        *error = QStringLiteral("dovecot does not listen: ") +
                 QString::fromLocal8Bit(m_process.readAll()) + log();
        return false;
    }
    return true;
}

void Dovecot::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

int Dovecot::messagesOnServer() const
{
    const QDir mail(m_dir.filePath(QStringLiteral("mail")));
    return int(QDir(mail.filePath(QStringLiteral("cur"))).entryList(QDir::Files).size() +
               QDir(mail.filePath(QStringLiteral("new"))).entryList(QDir::Files).size());
}

QString Dovecot::log() const
{
    QFile f(m_dir.filePath(QStringLiteral("dovecot.log")));
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}

QStringList Dovecot::logouts() const
{
    QStringList out;
    static const QRegularExpression re(
        QStringLiteral("Logged out (top=[^,]*, retr=[^,]*, del=[^,]*)"));
    for (auto it = re.globalMatch(log()); it.hasNext();)
        out << it.next().captured(1);
    return out;
}

ScriptedPop3::ScriptedPop3(const QString& fault, int messages)
    : m_fault(fault), m_messages(messages)
{
}

ScriptedPop3::~ScriptedPop3()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

bool ScriptedPop3::start(QString* error)
{
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral("-I"),
                     QStringLiteral(BV_SOURCE_DIR "/tests/returned/pop3_script.py"), m_fault,
                     m_dir.filePath(QStringLiteral("transcript")), QString::number(m_messages)});
    if (!m_process.waitForStarted(10000)) {
        *error = m_process.errorString();
        return false;
    }
    QDeadlineTimer deadline(10000);
    while (!m_process.canReadLine() && !deadline.hasExpired())
        m_process.waitForReadyRead(200);
    const QByteArray line = m_process.readLine().trimmed();
    if (!line.startsWith("PORT ")) {
        *error = QStringLiteral("pop3_script.py: ") +
                 QString::fromLocal8Bit(line + m_process.readAllStandardError());
        return false;
    }
    m_port = line.mid(5).toInt();
    return true;
}

QStringList ScriptedPop3::transcript() const
{
    QFile f(m_dir.filePath(QStringLiteral("transcript")));
    f.open(QIODevice::ReadOnly);
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace bv::test
