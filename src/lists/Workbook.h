#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

#include <functional>
#include <stdexcept>

namespace bv::lists {

// Spreadsheet columns A to M: the columns of the staging table.
constexpr int WorkbookColumns = 13;

// A workbook that cannot be read: missing, damaged, hostile or of another
// kind. message() says which and why, for the user.
class WorkbookError : public std::runtime_error
{
public:
    explicit WorkbookError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};

// One row of the worksheet: the texts of columns A to M (empty where a cell is
// blank), and how much of the workbook has been read, 0 to 100. Returns false
// to stop reading.
using WorkbookRowFn = std::function<bool(const QStringList& cells, int percent)>;

// Ceilings that keep a damaged or hostile workbook from taking the memory or
// the afternoon; above them reading stops with a WorkbookError.
struct WorkbookLimits
{
    qint64 sheetBytes = 1ll << 30;         // the worksheet's XML, unpacked
    qint64 stringsBytes = 512ll << 20;     // the shared strings' XML, unpacked
    qint64 otherBytes = 32ll << 20;        // any other XML part, unpacked
    qint64 sharedStrings = 16ll << 20;     // entries of the shared string table
    qint64 sharedStringChars = 64ll << 20; // their texts, as far as the staging keeps them
    quint64 xlsCells = 8ull << 20;         // cells all sheets of an .xls claim together
    qint64 xlsFileBytes = 512ll << 20;     // size of an .xls file
};

// Reads the first worksheet of an Excel workbook, binary (.xls) or Office Open
// XML (.xlsx), told apart by their content. Cells come as text: dates as
// month/day/year without leading zeros, times as H:mm:ss, numbers with "."
// and no grouping, logical cells as True and False. Rows come in order; rows
// without any cell may be left out. Returns false when onRow stopped it;
// throws WorkbookError when the file cannot be read.
bool readWorkbook(const QString& path, const WorkbookRowFn& onRow,
                  const WorkbookLimits& limits = {});

// The text forms of cell values.
enum class DateKind
{
    None,
    Date,
    Time,
    DateTime
};
QString numberText(double value);
QString dateTimeText(const QDate& date, const QTime& time, DateKind kind);
// A day number of the workbook's calendar (days since 1899-12-30, or since
// 1904-01-01 in the 1904 system), as the number format shows it.
QString serialText(double serial, DateKind kind, bool date1904);
// What a number format shows of a date: nothing, the date, the time or both.
DateKind builtinFormatKind(int numFmtId);
DateKind formatCodeKind(const QString& code);

} // namespace bv::lists
