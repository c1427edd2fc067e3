#include "SmtpPeers.h"

#include "core/Clock.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

namespace bv::test {

namespace {

const QString python = QStringLiteral("/usr/bin/python3");

QString supportFile(const QString& name)
{
    return QStringLiteral(BV_SUPPORT_DIR "/") + name;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

PythonPeer::PythonPeer()
{
    m_process.setProgram(python);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { readLines(); });
}

PythonPeer::~PythonPeer()
{
    stop();
}

void PythonPeer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // SIGTERM to the script's own process id, SIGKILL if it does not go.
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool PythonPeer::startScript(const QString& script, const QString& bindAddress,
                             const QStringList& args)
{
    m_bindAddress = bindAddress;
    m_process.setArguments(QStringList{"-I", supportFile(script), "--bind", bindAddress} + args);
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        m_error = python + ": " + m_process.errorString();
        return false;
    }
    const bool ready = waitUntil([this] { return m_ready || !isRunning(); }, 20000) && m_ready;
    if (!ready) {
        m_error = script + " did not start: " + QString::fromUtf8(m_process.readAllStandardError());
        stop();
    }
    return ready;
}

void PythonPeer::readLines()
{
    while (m_process.canReadLine()) {
        const QByteArray line = m_process.readLine().chopped(1);
        if (!m_ready && line.startsWith("READY ")) {
            m_port = quint16(line.mid(6).toUInt());
            m_ready = true;
        } else {
            handleLine(line);
        }
    }
}

bool PythonPeer::waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        waitForRealEvents(int(qMin<qint64>(deadline.remainingTime(), 100)));
    }
    return true;
}

bool TestAuthority::openssl(const QStringList& args)
{
    QProcess p;
    p.setWorkingDirectory(m_folder);
    p.start(QStringLiteral("openssl"), args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = "openssl " + args.join(' ') + ": " + QString::fromUtf8(p.readAllStandardError()) +
                  p.errorString();
        return false;
    }
    return true;
}

bool TestAuthority::create(const QString& folder)
{
    m_folder = folder;
    return openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj",
                    "/CN=Brevicast Test Authority"});
}

bool TestAuthority::issue(const QStringList& names, QString& certificateFile, QString& keyFile)
{
    static const QRegularExpression ip(QStringLiteral("^[0-9.]+$|:"));
    QStringList alt;
    for (const QString& name : names)
        alt << (ip.match(name).hasMatch() ? "IP:" : "DNS:") + name;
    const QString base = QStringLiteral("server%1").arg(++m_issued);
    QFile ext(m_folder + '/' + base + ".ext");
    if (!ext.open(QIODevice::WriteOnly)) {
        m_error = ext.fileName() + ": " + ext.errorString();
        return false;
    }
    ext.write(("subjectAltName=" + alt.join(',') +
               "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
                  .toUtf8());
    ext.close();
    const QString cn = names.value(0, QStringLiteral("server"));
    if (!openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                  "-keyout", base + ".key", "-out", base + ".csr", "-subj", "/CN=" + cn}) ||
        !openssl({"x509", "-req", "-in", base + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                  "-CAcreateserial", "-out", base + ".pem", "-days", "2", "-extfile",
                  base + ".ext"}))
        return false;
    certificateFile = m_folder + '/' + base + ".pem";
    keyFile = m_folder + '/' + base + ".key";
    return true;
}

QList<QSslCertificate> TestAuthority::certificates() const
{
    return m_folder.isEmpty() ? QList<QSslCertificate>()
                              : QSslCertificate::fromPath(certificateFile());
}

AiosmtpdServer::AiosmtpdServer() : AiosmtpdServer(Options()) {}

AiosmtpdServer::AiosmtpdServer(const Options& options) : m_options(options) {}

bool AiosmtpdServer::start()
{
    const Options& o = m_options;
    QStringList args{"--port", QString::number(o.port), "--folder", folder()};
    args << "--auth"
         << (o.auth == Auth::None            ? "none"
             : o.auth == Auth::LoginAndPlain ? "login-plain"
                                             : "plain")
         << "--user" << o.user << "--password" << o.password;
    if (o.tls != Tls::None) {
        QString cert, key;
        if (!m_authority.create(folder()) || !m_authority.issue(o.certificateNames, cert, key)) {
            setError(m_authority.error());
            return false;
        }
        args << "--tls" << (o.tls == Tls::StartTls ? "starttls" : "implicit") << "--cert" << cert
             << "--key" << key;
    }
    if (o.refuseEhlo)
        args << "--refuse-ehlo";
    for (const QString& r : o.refusedRecipients)
        args << "--refuse-rcpt" << r;
    if (!o.dataReply.isEmpty())
        args << "--data-reply" << o.dataReply;
    for (const QString& r : o.dropInDataRecipients)
        args << "--drop-in-data" << r;
    return startScript(QStringLiteral("smtp_server.py"), o.bindAddress, args);
}

void AiosmtpdServer::handleLine(const QByteArray& line)
{
    if (line.startsWith("MESSAGE "))
        m_messages = line.mid(8).toInt();
}

bool AiosmtpdServer::waitForMessages(int count, int timeoutMs)
{
    return waitUntil([&] { return m_messages >= count; }, timeoutMs);
}

QList<ReceivedMail> AiosmtpdServer::messages() const
{
    QList<ReceivedMail> mails;
    const QDir dir(folder());
    for (const QString& name : dir.entryList({"*.json"}, QDir::Files, QDir::Name)) {
        const QString base = dir.filePath(name.chopped(5));
        const QJsonObject o = QJsonDocument::fromJson(readAll(base + ".json")).object();
        ReceivedMail m;
        m.mailFrom = o.value("mail_from").toString();
        for (const QJsonValue& r : o.value("rcpt_tos").toArray())
            m.rcptTos << r.toString();
        m.data = readAll(base + ".eml");
        m.helo = o.value("helo").toString();
        m.tls = o.value("tls").toBool();
        m.login = o.value("login").toString();
        mails << m;
    }
    return mails;
}

QList<AuthAttempt> AiosmtpdServer::authAttempts() const
{
    QList<AuthAttempt> attempts;
    for (const QByteArray& line : readAll(folder() + "/auth.jsonl").split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        attempts << AuthAttempt{o.value("mechanism").toString(), o.value("login").toString(),
                                o.value("password").toString(), o.value("accepted").toBool(),
                                o.value("tls").toBool()};
    }
    return attempts;
}

ScriptedSmtpServer::Step ScriptedSmtpServer::send(const QString& text)
{
    return {QJsonObject{{"send", text}}};
}

ScriptedSmtpServer::Step ScriptedSmtpServer::readLine()
{
    return {QJsonObject{{"read", "line"}}};
}

ScriptedSmtpServer::Step ScriptedSmtpServer::readData()
{
    return {QJsonObject{{"read", "data"}}};
}

ScriptedSmtpServer::Step ScriptedSmtpServer::readBytes(int count)
{
    return {QJsonObject{{"readBytes", count}}};
}

ScriptedSmtpServer::Step ScriptedSmtpServer::stall()
{
    return {QJsonObject{{"stall", true}}};
}

ScriptedSmtpServer::Step ScriptedSmtpServer::close()
{
    return {QJsonObject{{"close", true}}};
}

ScriptedSmtpServer::Step ScriptedSmtpServer::endlessLine(const QString& prefix)
{
    return {QJsonObject{{"endless", prefix}, {"lines", false}}};
}

ScriptedSmtpServer::Step ScriptedSmtpServer::endlessLines(const QString& line)
{
    return {QJsonObject{{"endless", line}, {"lines", true}}};
}

QList<ScriptedSmtpServer::Step> ScriptedSmtpServer::conversation(const QList<Reply>& replies)
{
    QList<Step> steps;
    bool data = false;
    for (const Reply& r : replies) {
        if (!steps.isEmpty())
            steps << (data ? readData() : readLine());
        const QString sent = r.step.json.value("send").toString();
        data = sent.startsWith("354");
        steps << r.step;
    }
    return steps;
}

ScriptedSmtpServer::ScriptedSmtpServer(QList<Step> script) : m_script(std::move(script)) {}

bool ScriptedSmtpServer::start(const QString& bindAddress, quint16 port)
{
    QJsonArray steps;
    for (const Step& s : std::as_const(m_script))
        steps << s.json;
    return startScript(QStringLiteral("scripted_smtp.py"), bindAddress,
                       {"--port", QString::number(port), "--script",
                        QString::fromUtf8(QJsonDocument(steps).toJson(QJsonDocument::Compact))});
}

void ScriptedSmtpServer::handleLine(const QByteArray& line)
{
    const QList<QByteArray> words = line.split(' ');
    const int n = words.value(1).toInt();
    if (words[0] == "OPEN")
        m_received[n];
    else if (words[0] == "C")
        m_received[n] += QByteArray::fromBase64(words.value(2));
    else if (words[0] == "CLOSED")
        m_closed[n] = true;
}

QByteArray ScriptedSmtpServer::receivedBytes(int connection) const
{
    const auto it = m_received.find(connection);
    return it == m_received.end() ? QByteArray() : it->second;
}

QList<QByteArray> ScriptedSmtpServer::received(int connection) const
{
    const QByteArray bytes = receivedBytes(connection);
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        const qsizetype end = bytes.indexOf("\r\n", start);
        const qsizetype next = end < 0 ? bytes.size() : end + 2;
        lines << bytes.mid(start, next - start);
        start = next;
    }
    return lines;
}

bool ScriptedSmtpServer::isClosed(int connection) const
{
    const auto it = m_closed.find(connection);
    return it != m_closed.end() && it->second;
}

bool ScriptedSmtpServer::waitForClosed(int connection, int timeoutMs)
{
    return waitUntil([&] { return isClosed(connection); }, timeoutMs);
}

bool ScriptedSmtpServer::waitForLines(int count, int connection, int timeoutMs)
{
    return waitUntil([&] { return received(connection).size() >= count; }, timeoutMs);
}

} // namespace bv::test
