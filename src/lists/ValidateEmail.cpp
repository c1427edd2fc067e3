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

bool IsValidEmail(const QString& text)
{
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
