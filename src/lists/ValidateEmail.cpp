#include "ValidateEmail.h"

namespace bv::lists {

namespace {

bool isBlankOrControl(QChar c)
{
    return c.unicode() <= 32 || c.unicode() == 127;
}

QStringView trimmedView(QStringView s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlankOrControl(s.at(b)))
        ++b;
    while (e > b && isBlankOrControl(s.at(e - 1)))
        --e;
    return s.sliced(b, e - b);
}

bool isBlank(QStringView s)
{
    return trimmedView(s).isEmpty();
}

} // namespace

bool hasControlCharacter(QStringView text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
            return true;
    }
    return false;
}

QString addressRefusal(const QString& address)
{
    if (!hasControlCharacter(address))
        return {};
    QString shown;
    for (const QChar c : address) {
        if (hasControlCharacter(QStringView(&c, 1)))
            shown += QStringLiteral("\\x") + QString::number(c.unicode(), 16).rightJustified(2, u'0').toUpper();
        else
            shown += c;
    }
    return QStringLiteral("The address \"%1\" holds a line break or another control character.").arg(shown);
}

QString refusedRowsText(int count, const QString& firstRefusal)
{
    return QStringLiteral("%1 %2 not imported. %3")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("row was") : QStringLiteral("rows were"), firstRefusal);
}

bool IsValidEmail(const QString& text)
{
    // Blanks around an address are of no account; control characters,
    // wherever they stand, make it one that cannot be sent.
    if (hasControlCharacter(text))
        return false;
    const QStringView t = trimmedView(text);
    if (t.isEmpty())
        return false;
    static const QString forbidden = QStringLiteral(" (/,\\'\"){}[]");
    for (QChar c : t)
        if (forbidden.contains(c))
            return false;

    // The "@" is looked for in the text as given, not in the trimmed one.
    const qsizetype at = text.indexOf(QLatin1Char('@'));
    if (at < 0)
        return false;
    if (isBlank(QStringView(text).first(at)))
        return false;
    const QStringView after = QStringView(text).sliced(at + 1).left(100);
    return !isBlank(after) && !after.contains(QLatin1Char('@')) && after.contains(QLatin1Char('.'));
}

} // namespace bv::lists
