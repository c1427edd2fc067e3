// The text forms of cell values, shared by both workbook readers and by the
// .xls reader's own process.
#include "Workbook.h"

#include "WorkbookReaders.h"

#include <QFileInfo>

#include <cmath>

namespace bv::lists {

namespace detail {

QString damagedText(const QString& path, const QString& reason)
{
    return QStringLiteral("The workbook %1 cannot be read: %2")
        .arg(QFileInfo(path).fileName(), reason);
}

} // namespace detail

QString numberText(double value)
{
    if (!std::isfinite(value))
        return QString::number(value);
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    // Fifteen digits, as much as a spreadsheet shows of a number.
    return QString::number(value, 'g', 15);
}

QString dateTimeText(const QDate& date, const QTime& time, DateKind kind)
{
    const QString d = date.toString(QStringLiteral("M/d/yyyy"));
    const QString t = time.toString(QStringLiteral("H:mm:ss"));
    switch (kind) {
    case DateKind::Date:
        return d;
    case DateKind::Time:
        return t;
    case DateKind::DateTime:
        return d + QLatin1Char(' ') + t;
    case DateKind::None:
        break;
    }
    return {};
}

QString serialText(double serial, DateKind kind, bool date1904)
{
    // Up to the last day a workbook can hold, 12/31/9999.
    if (kind == DateKind::None || !std::isfinite(serial) || serial < 0 || serial >= 2958466)
        return numberText(serial);
    qint64 seconds = std::llround(serial * 86400.0);
    qint64 days = seconds / 86400;
    seconds %= 86400;
    QDate base = date1904 ? QDate(1904, 1, 1) : QDate(1899, 12, 30);
    // The 1900 calendar counts a 29 February 1900 that never was: the days
    // before it start a day later.
    if (!date1904 && days < 61)
        base = QDate(1899, 12, 31);
    return dateTimeText(base.addDays(days), QTime(0, 0).addSecs(int(seconds)), kind);
}

DateKind builtinFormatKind(int id)
{
    if ((id >= 14 && id <= 17) || (id >= 27 && id <= 31) || (id >= 34 && id <= 36) ||
        (id >= 50 && id <= 58))
        return DateKind::Date;
    if ((id >= 18 && id <= 21) || (id >= 32 && id <= 33) || (id >= 45 && id <= 47))
        return DateKind::Time;
    if (id == 22)
        return DateKind::DateTime;
    return DateKind::None;
}

DateKind formatCodeKind(const QString& code)
{
    bool date = false;
    bool time = false;
    bool month = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code.at(i).toLower();
        if (c == QLatin1Char(';'))
            break; // the first section decides
        if (c == QLatin1Char('"')) {
            const qsizetype end = code.indexOf(QLatin1Char('"'), i + 1);
            i = end < 0 ? code.size() : end;
        } else if (c == QLatin1Char('\\') || c == QLatin1Char('_') || c == QLatin1Char('*')) {
            ++i;
        } else if (c == QLatin1Char('[')) {
            const qsizetype end = code.indexOf(QLatin1Char(']'), i + 1);
            const QString inside = code.mid(i + 1, (end < 0 ? code.size() : end) - i - 1).toLower();
            // Elapsed hours, minutes or seconds; colours, conditions and
            // locales say nothing.
            if (!inside.isEmpty() && inside.count(inside.at(0)) == inside.size() &&
                QStringLiteral("hms").contains(inside.at(0)))
                time = true;
            i = end < 0 ? code.size() : end;
        } else if (code.mid(i, 5).compare(QLatin1String("am/pm"), Qt::CaseInsensitive) == 0) {
            time = true;
            i += 4;
        } else if (code.mid(i, 3).compare(QLatin1String("a/p"), Qt::CaseInsensitive) == 0) {
            time = true;
            i += 2;
        } else if (c == QLatin1Char('y') || c == QLatin1Char('d')) {
            date = true;
        } else if (c == QLatin1Char('h') || c == QLatin1Char('s')) {
            time = true;
        } else if (c == QLatin1Char('m')) {
            month = true;
        }
    }
    // "m" is the month unless hours or seconds make it the minutes.
    if (month && !time)
        date = true;
    if (date && time)
        return DateKind::DateTime;
    return date ? DateKind::Date : time ? DateKind::Time : DateKind::None;
}

} // namespace bv::lists
