#pragma once

#include "compose/Dkim.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// The signing keys in the program folder: DKIM/<domain>/<selector>.pem, the
// domain in lower-case ASCII form.
namespace bv::compose {

// The key folder of a domain (any form; it is normalised), ending with a
// separator; empty when the domain is no host name.
QString DkimFolder(const QString& programFolder, const QString& domain);

// One .pem file of a key folder: the key, or why it cannot be used.
struct DkimKeyFile
{
    QString path;
    QString selector;
    std::shared_ptr<const DkimKey> key; // null when error is set
    QString error;
};

// Every .pem file of the domain's folder, newest first.
QList<DkimKeyFile> ListDkimKeys(const QString& programFolder, const QString& domain);

// The signer of a domain: the newest key of each kind. Null when the folder
// holds no key file. Any key file that cannot be used throws DkimError: a key
// meant to sign must never be passed over in silence.
std::shared_ptr<const DkimSigner> LoadDkimSigner(const QString& programFolder,
                                                 const QString& domain);
// The same for the domain of the address in a From text.
std::shared_ptr<const DkimSigner> DkimSignerForSender(const QString& programFolder,
                                                      const QString& sender);

// "bv" + year and month: a selector that changes with each new key.
QString DefaultDkimSelector(const QDate& date);

// Makes an RSA key of 2048 bits for the domain under selector, readable by
// its owner only. Refuses an invalid selector or one already taken. Throws
// DkimError.
DkimKeyFile CreateDkimKey(const QString& programFolder, const QString& domain,
                          const QString& selector);

// The domains of the sender accounts and of the key folders, in lower-case
// ASCII form, sorted, each once.
QStringList SenderDomains(const QString& programFolder);

// "<selector>._domainkey.<domain>": where the key's TXT record goes.
QString DkimRecordName(const QString& selector, const QString& domain);
// A TXT value cut into strings of at most 255 bytes, as zone files and DNS
// servers need them.
QList<QByteArray> SplitTxtStrings(const QByteArray& value);
// The strings quoted and joined by blanks: the zone-file form.
QByteArray ZoneFileTxt(const QByteArray& value);

} // namespace bv::compose
