#include "core/SingleLine.h"

#include <algorithm>

namespace bv {

namespace {

bool breaksLine(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0);
}

} // namespace

bool isSingleLine(const QString& text)
{
    return std::none_of(text.cbegin(), text.cend(), breaksLine);
}

QString singleLine(const QString& text)
{
    if (isSingleLine(text))
        return text;
    QString out = text;
    out.removeIf(breaksLine);
    return out;
}

QValidator::State SingleLineValidator::validate(QString& input, int& pos) const
{
    if (!isSingleLine(input)) {
        // The cursor stays behind the same character it followed.
        pos -= int(std::count_if(input.cbegin(), input.cbegin() + qBound(0, pos, int(input.size())),
                                 breaksLine));
        input = singleLine(input);
    }
    return Acceptable;
}

void SingleLineValidator::fixup(QString& input) const
{
    input = singleLine(input);
}

} // namespace bv
