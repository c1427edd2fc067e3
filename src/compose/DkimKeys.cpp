#include "DkimKeys.h"

#include "core/SenderAccounts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace bv::compose {

namespace {

QString keyFolderRoot(const QString& programFolder)
{
    return programFolder + QStringLiteral("DKIM/");
}

QFileInfoList keyFiles(const QString& folder)
{
    QDir dir(folder);
    // Files the program cannot read are listed too: they must be reported.
    QFileInfoList files =
        dir.entryInfoList({QStringLiteral("*.pem")}, QDir::Files | QDir::Hidden | QDir::System);
    std::sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
        if (a.lastModified() != b.lastModified())
            return a.lastModified() > b.lastModified();
        return a.fileName() > b.fileName();
    });
    return files;
}

} // namespace

QString DkimFolder(const QString& programFolder, const QString& domain)
{
    const QString ace = DkimDomain(domain);
    if (ace.isEmpty())
        return {};
    return keyFolderRoot(programFolder) + ace + u'/';
}

QList<DkimKeyFile> ListDkimKeys(const QString& programFolder, const QString& domain)
{
    QList<DkimKeyFile> out;
    const QString folder = DkimFolder(programFolder, domain);
    if (folder.isEmpty())
        return out;
    for (const QFileInfo& info : keyFiles(folder)) {
        DkimKeyFile file;
        file.path = info.filePath();
        file.selector = info.completeBaseName();
        try {
            file.key = DkimKey::load(file.path);
        } catch (const DkimError& e) {
            file.error = e.message();
        }
        out << file;
    }
    return out;
}

std::shared_ptr<const DkimSigner> LoadDkimSigner(const QString& programFolder,
                                                 const QString& domain)
{
    const QString ace = DkimDomain(domain);
    const QList<DkimKeyFile> files = ListDkimKeys(programFolder, ace);
    if (files.isEmpty())
        return nullptr;
    std::vector<std::shared_ptr<const DkimKey>> keys;
    bool haveRsa = false;
    bool haveEd = false;
    for (const DkimKeyFile& file : files) {
        if (!file.error.isEmpty())
            throw DkimError(file.error);
        // Newest first: the first of each kind signs.
        bool& have = file.key->kind() == DkimKeyKind::Rsa ? haveRsa : haveEd;
        if (!have)
            keys.push_back(file.key);
        have = true;
    }
    // RSA first: a receiver that stops at the first signature knows RSA.
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
        return a->kind() == DkimKeyKind::Rsa && b->kind() != DkimKeyKind::Rsa;
    });
    return std::make_shared<DkimSigner>(ace, std::move(keys));
}

std::shared_ptr<const DkimSigner> DkimSignerForSender(const QString& programFolder,
                                                      const QString& sender)
{
    const QString domain = DkimDomainOfSender(sender);
    if (domain.isEmpty())
        return nullptr;
    return LoadDkimSigner(programFolder, domain);
}

QString DefaultDkimSelector(const QDate& date)
{
    return QStringLiteral("bv%1%2").arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(date.month(), 2, 10, QLatin1Char('0'));
}

DkimKeyFile CreateDkimKey(const QString& programFolder, const QString& domain,
                          const QString& selector)
{
    const QString folder = DkimFolder(programFolder, domain);
    if (folder.isEmpty())
        throw DkimError(QStringLiteral("\"%1\" is no domain name a key can be made for.").arg(domain));
    if (!IsValidSelector(selector))
        throw DkimError(QStringLiteral("\"%1\" is no valid selector: use letters, digits and "
                                       "hyphens, in labels separated by dots.")
                            .arg(selector));
    const QString path = folder + selector + QStringLiteral(".pem");
    for (const QFileInfo& existing : keyFiles(folder))
        if (existing.completeBaseName().compare(selector, Qt::CaseInsensitive) == 0)
            throw DkimError(QStringLiteral("The selector \"%1\" is taken by \"%2\"; choose another.")
                                .arg(selector, QDir::toNativeSeparators(existing.filePath())));
    if (!QDir().mkpath(folder))
        throw DkimError(QStringLiteral("The folder \"%1\" cannot be made.")
                            .arg(QDir::toNativeSeparators(folder)));
    QFile::setPermissions(keyFolderRoot(programFolder), QFileDevice::ReadOwner |
                                                            QFileDevice::WriteOwner |
                                                            QFileDevice::ExeOwner);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ExeOwner);

    const auto key = DkimKey::generateRsa(DkimKey::kMinRsaBits, selector);
    const QByteArray pem = key->privatePem();
    // Made owner-only before the key is in it, and never replacing a file.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw DkimError(QStringLiteral("The key file \"%1\" cannot be written: %2.")
                            .arg(QDir::toNativeSeparators(path), file.errorString()));
    if (file.write(pem) != pem.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.close();
        file.remove();
        throw DkimError(QStringLiteral("The key file \"%1\" cannot be written: %2.")
                            .arg(QDir::toNativeSeparators(path), reason));
    }
    file.close();
    DkimKeyFile made;
    made.path = path;
    made.selector = selector;
    made.key = DkimKey::load(path);
    return made;
}

QStringList SenderDomains(const QString& programFolder)
{
    QSet<QString> domains;
    try {
        for (const QString& address : LoadSenderAddresses(programFolder)) {
            const QString domain = DkimDomainOfSender(address);
            if (!domain.isEmpty())
                domains.insert(domain);
        }
    } catch (const AccountsError&) {
        // Unreadable accounts: the key folders still show.
    }
    const QDir root(keyFolderRoot(programFolder));
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString domain = DkimDomain(name);
        if (domain == name)
            domains.insert(domain);
    }
    QStringList sorted(domains.cbegin(), domains.cend());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

QString DkimRecordName(const QString& selector, const QString& domain)
{
    return selector + QStringLiteral("._domainkey.") + DkimDomain(domain);
}

QList<QByteArray> SplitTxtStrings(const QByteArray& value)
{
    QList<QByteArray> out;
    for (qsizetype pos = 0; pos < value.size(); pos += 255)
        out << value.mid(pos, 255);
    if (out.isEmpty())
        out << QByteArray();
    return out;
}

QByteArray ZoneFileTxt(const QByteArray& value)
{
    QByteArray out;
    for (const QByteArray& piece : SplitTxtStrings(value)) {
        if (!out.isEmpty())
            out += ' ';
        QByteArray escaped = piece;
        escaped.replace('\\', "\\\\").replace('"', "\\\"");
        out += '"' + escaped + '"';
    }
    return out;
}

} // namespace bv::compose
