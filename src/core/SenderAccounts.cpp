#include "core/SenderAccounts.h"

#include "core/SingleLine.h"
#include "core/TextFile.h"

#include <QFileInfo>

namespace bv {

AccountsError::AccountsError(const QString& message)
    : std::runtime_error(message.toStdString()), m_message(message)
{
}

QString accountsFilePath(const QString& programFolder)
{
    QString folder = programFolder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + QStringLiteral("Accounts.txt");
}

namespace {

struct Halves
{
    QStringList names;
    QStringList addresses;
};

Halves readAccounts(const QString& programFolder)
{
    const QString path = accountsFilePath(programFolder);
    Halves h;
    if (!QFileInfo::exists(path))
        return h;
    QStringList lines;
    QString error;
    if (!readTextLines(path, lines, &error))
        throw AccountsError(QStringLiteral("Cannot read file \"%1\". %2").arg(path, error));
    const qsizetype split = lines.size() / 2;
    h.names = lines.mid(0, split);
    h.addresses = lines.mid(split);
    return h;
}

QString upperAscii(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    return out;
}

} // namespace

QStringList LoadSenderNames(const QString& programFolder)
{
    return readAccounts(programFolder).names;
}

QStringList LoadSenderAddresses(const QString& programFolder)
{
    return readAccounts(programFolder).addresses;
}

QStringList LoadSenderAddressesUpper(const QString& programFolder)
{
    QStringList upper = readAccounts(programFolder).addresses;
    for (QString& address : upper)
        address = upperAscii(address);
    return upper;
}

QList<SenderAccount> LoadSenderAccounts(const QString& programFolder)
{
    const Halves h = readAccounts(programFolder);
    QList<SenderAccount> accounts;
    for (qsizetype i = 0; i < h.names.size(); ++i)
        accounts.append({h.names[i], h.addresses[i]});
    return accounts;
}

QString FormatSender(const QString& programFolder, const QString& name)
{
    const Halves h = readAccounts(programFolder);
    for (qsizetype i = 0; i < h.names.size(); ++i)
        if (h.names[i].compare(name, Qt::CaseInsensitive) == 0)
            return h.names[i].trimmed() + QStringLiteral(" <") + h.addresses[i].trimmed()
                   + QLatin1Char('>');
    return QString();
}

bool WriteSenderAccounts(const QString& programFolder, const QList<SenderAccount>& accounts,
                         QString* error)
{
    QStringList lines;
    lines.reserve(accounts.size() * 2);
    // A line break inside a value would shift every later value by a line
    // and pair the names with other accounts' addresses.
    for (const SenderAccount& a : accounts)
        lines << singleLine(a.name);
    for (const SenderAccount& a : accounts)
        lines << singleLine(a.address);
    return writeTextLines(accountsFilePath(programFolder), lines, error);
}

} // namespace bv
