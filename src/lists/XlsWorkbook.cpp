// Binary workbooks: FreeXL reads the cells. It gives logical cells as the
// numbers 0 and 1, leaves the cells of formulas blank and sizes its cell
// tables by what each sheet claims, so the workbook stream is walked once
// beforehand: for the sheets' claimed sizes (a few hundred bytes can claim
// gigabytes), for the logical cells and for the formulas' last results.
#include "WorkbookReaders.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <freexl.h>

#include <cstring>
#include <memory>

namespace bv::lists::detail {

namespace {

// More sheets than any workbook holds; each is walked for its size.
constexpr qsizetype MaxSheets = 4096;

quint32 u32(const QByteArray& b, qint64 at)
{
    if (at < 0 || at + 4 > b.size())
        return 0xFFFFFFFF;
    const auto* p = reinterpret_cast<const uchar*>(b.constData() + at);
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint16 u16(const QByteArray& b, qint64 at)
{
    if (at < 0 || at + 2 > b.size())
        return 0;
    const auto* p = reinterpret_cast<const uchar*>(b.constData() + at);
    return quint16(p[0] | p[1] << 8);
}

// The workbook stream of a compound file, or nothing where the file's
// structure does not hold together (FreeXL then says what is wrong).
class CompoundFile
{
public:
    explicit CompoundFile(const QByteArray& file) : m_file(file) {}

    QByteArray workbookStream()
    {
        if (m_file.size() < 512)
            return {};
        const int shift = u16(m_file, 0x1E);
        if (shift != 9 && shift != 12)
            return {};
        m_sector = 1 << shift;
        readFat();
        const QByteArray dir = chain(u32(m_file, 0x30), m_fat, -1);
        QByteArray miniStream;
        for (qint64 at = 0; at + 128 <= dir.size(); at += 128) {
            const int type = uchar(dir.at(at + 0x42));
            const int nameBytes = qMin<int>(u16(dir, at + 0x40), 64);
            const QString name =
                QString::fromUtf16(reinterpret_cast<const char16_t*>(dir.constData() + at),
                                   qMax(0, nameBytes / 2 - 1));
            const quint32 start = u32(dir, at + 0x74);
            const qint64 size = u32(dir, at + 0x78);
            if (type == 5)
                miniStream = chain(start, m_fat, size);
            if (type != 2 || (name.compare(QLatin1String("Workbook"), Qt::CaseInsensitive) != 0 &&
                              name.compare(QLatin1String("Book"), Qt::CaseInsensitive) != 0))
                continue;
            if (size >= qint64(u32(m_file, 0x38)))
                return chain(start, m_fat, size);
            const std::vector<quint32> miniFat = toEntries(chain(u32(m_file, 0x3C), m_fat, -1));
            return miniChain(miniStream, start, miniFat, size);
        }
        return {};
    }

private:
    static std::vector<quint32> toEntries(const QByteArray& bytes)
    {
        std::vector<quint32> out(size_t(bytes.size() / 4));
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = u32(bytes, qint64(i) * 4);
        return out;
    }

    QByteArray sector(quint32 n) const
    {
        const qint64 at = (qint64(n) + 1) * m_sector;
        if (at + m_sector > m_file.size())
            return {};
        return m_file.mid(at, m_sector);
    }

    void readFat()
    {
        std::vector<quint32> fatSectors;
        for (int i = 0; i < 109; ++i)
            fatSectors.push_back(u32(m_file, 0x4C + i * 4));
        // A file cannot hold more sectors than its size allows: chains that
        // loop or repeat themselves end there.
        const qint64 maxSectors = m_file.size() / m_sector;
        quint32 difat = u32(m_file, 0x44);
        const int perSector = m_sector / 4 - 1;
        for (qint64 n = qMin<qint64>(u32(m_file, 0x48), maxSectors); n > 0 && difat < 0xFFFFFFFA;
             --n) {
            const QByteArray s = sector(difat);
            if (s.isEmpty())
                break;
            for (int i = 0; i < perSector; ++i)
                fatSectors.push_back(u32(s, i * 4));
            difat = u32(s, perSector * 4);
        }
        QByteArray fat;
        for (size_t i = 0; i < fatSectors.size() && qint64(i) < maxSectors; ++i)
            if (fatSectors[i] < 0xFFFFFFFA)
                fat += sector(fatSectors[i]);
        m_fat = toEntries(fat);
    }

    // The sectors of a chain, cut to size (-1: all); a loop or a sector past
    // the end ends it.
    QByteArray chain(quint32 start, const std::vector<quint32>& fat, qint64 size) const
    {
        QByteArray out;
        for (size_t steps = 0; start < fat.size() && steps <= fat.size(); ++steps) {
            const QByteArray s = sector(start);
            if (s.isEmpty())
                break;
            out += s;
            if ((size >= 0 && out.size() >= size) || out.size() > m_file.size())
                break;
            start = fat[start];
        }
        return size >= 0 ? out.left(size) : out;
    }

    static QByteArray miniChain(const QByteArray& stream, quint32 start,
                                const std::vector<quint32>& fat, qint64 size)
    {
        QByteArray out;
        for (size_t steps = 0; start < fat.size() && steps <= fat.size() && out.size() < size;
             ++steps) {
            if (qint64(start + 1) * 64 > stream.size())
                break;
            out += stream.mid(qint64(start) * 64, 64);
            start = fat[start];
        }
        return out.left(size);
    }

    const QByteArray& m_file;
    int m_sector = 512;
    std::vector<quint32> m_fat;
};

struct SheetFacts
{
    quint64 cells = 0;            // claimed by all sheets together
    QHash<quint32, bool> logical; // (row << 16 | column) of the first sheet -> value
    // The last results of the first sheet's formulas, which FreeXL leaves
    // blank, in the text forms of the other cells.
    QHash<quint32, QString> formulas;
};

// A string of a BIFF8 record (16-bit count, option byte, then 8- or 16-bit
// characters) or of a BIFF5 one (8-bit characters, count of countBytes).
QString biffString(const QByteArray& stream, qint64 at, qint64 end, bool biff8, int countBytes)
{
    if (at + countBytes > end)
        return {};
    const qint64 count = countBytes == 1 ? uchar(stream.at(at)) : u16(stream, at);
    at += countBytes;
    const bool wide = biff8 && at < end && (stream.at(at) & 1);
    if (biff8)
        ++at;
    if (at > end)
        return {};
    if (!wide)
        return QString::fromLatin1(stream.constData() + at, qMax<qint64>(0, qMin(count, end - at)));
    const qint64 chars = qMax<qint64>(0, qMin(count, (end - at) / 2));
    QString out(chars, Qt::Uninitialized);
    for (qint64 i = 0; i < chars; ++i)
        out[i] = QChar(u16(stream, at + i * 2));
    return out;
}

SheetFacts walkWorkbook(const QByteArray& stream)
{
    SheetFacts facts;
    QList<quint32> sheets;
    bool biff8 = true;
    bool date1904 = false;
    QList<int> xfFormats;     // XF index -> number format id
    QHash<int, DateKind> customFormats;
    const auto records = [&](qint64 from, const std::function<bool(int, qint64, int)>& fn) {
        for (qint64 at = from; at + 4 <= stream.size();) {
            const int type = u16(stream, at);
            const int length = u16(stream, at + 2);
            if (at + 4 + length > stream.size() || !fn(type, at + 4, length))
                return;
            at += 4 + length;
        }
    };
    records(0, [&](int type, qint64 data, int length) {
        const qint64 end = data + length;
        if (type == 0x0809 && data == 4) // BOF of the globals
            biff8 = u16(stream, data) >= 0x0600;
        else if (type == 0x0085 && sheets.size() < MaxSheets) // BOUNDSHEET: where a sheet's records start
            sheets << u32(stream, data);
        else if (type == 0x0022 && length >= 2) // DATEMODE
            date1904 = u16(stream, data) == 1;
        else if (type == 0x00E0 && length >= 4 && xfFormats.size() < 65536) // XF
            xfFormats << u16(stream, data + 2);
        else if (type == 0x041E && length >= 3) // FORMAT
            customFormats.insert(u16(stream, data),
                                 formatCodeKind(biffString(stream, data + 2, end, biff8, biff8 ? 2 : 1)));
        return type != 0x000A; // EOF of the globals
    });
    const auto formulaText = [&](int xf, double value) {
        const int format = xf < xfFormats.size() ? xfFormats.at(xf) : 0;
        const DateKind kind = customFormats.contains(format) ? customFormats.value(format)
                                                              : builtinFormatKind(format);
        return serialText(value, kind, date1904);
    };
    for (qsizetype i = 0; i < sheets.size(); ++i) {
        quint32 stringCell = 0; // the formula whose text the next STRING record holds
        bool awaitingString = false;
        records(sheets[i], [&](int type, qint64 data, int length) {
            if (type == 0x0200) { // DIMENSIONS
                const quint64 rows = length >= 14
                                         ? quint64(u32(stream, data + 4)) - u32(stream, data)
                                         : quint64(u16(stream, data + 2)) - u16(stream, data);
                const int at = length >= 14 ? 8 : 4;
                const quint64 columns =
                    quint64(u16(stream, data + at + 2)) - u16(stream, data + at);
                if (rows < (1ull << 32) && columns < (1ull << 16))
                    facts.cells += rows * columns;
            } else if (i == 0 && type == 0x0205 && length >= 8 &&
                       stream.at(data + 7) == 0) { // BOOLERR
                facts.logical.insert(quint32(u16(stream, data)) << 16 | u16(stream, data + 2),
                                     stream.at(data + 6) != 0);
            } else if (i == 0 && type == 0x0006 && length >= 20) { // FORMULA
                const quint32 cell = quint32(u16(stream, data)) << 16 | u16(stream, data + 2);
                awaitingString = false;
                if (u16(stream, data + 12) != 0xFFFF) {
                    double value = 0;
                    std::memcpy(&value, stream.constData() + data + 6, sizeof value);
                    facts.formulas.insert(cell, formulaText(u16(stream, data + 4), value));
                } else if (stream.at(data + 6) == 0) {
                    stringCell = cell;
                    awaitingString = true;
                } else if (stream.at(data + 6) == 1) {
                    facts.formulas.insert(cell, stream.at(data + 8) ? QStringLiteral("True")
                                                                    : QStringLiteral("False"));
                }
            } else if (i == 0 && type == 0x0207 && awaitingString) { // STRING
                facts.formulas.insert(stringCell, biffString(stream, data, data + length, biff8, 2));
                awaitingString = false;
            }
            return type != 0x000A && (i == 0 || type != 0x0200);
        });
    }
    return facts;
}

QString freexlReason(int rc)
{
    switch (rc) {
    case FREEXL_FILE_NOT_FOUND:
        return QStringLiteral("the file is not there.");
    case FREEXL_INSUFFICIENT_MEMORY:
        return QStringLiteral("there is not enough memory for it.");
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return QStringLiteral("it is not an Excel workbook.");
    case FREEXL_BIFF_INVALID_BOF:
        return QStringLiteral(
            "it is a kind of Excel workbook that cannot be read (only Excel 97 and "
            "later, and Excel 5 and 95, can).");
    case FREEXL_CRAFTED_FILE:
        return QStringLiteral("it is badly damaged, or made to do harm.");
    default:
        return QStringLiteral("it is damaged (error %1 while decoding it).").arg(rc);
    }
}

struct XlsCloser
{
    void operator()(const void* handle) const { freexl_close(handle); }
};

// FreeXL's texts of dates and times: yyyy-mm-dd, hh:mm:ss or both.
QString freexlDateText(const char* text, DateKind kind)
{
    const QString s = QString::fromUtf8(text);
    const QDate date = QDate::fromString(s.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(s.right(8), QStringLiteral("HH:mm:ss"));
    if ((kind != DateKind::Time && !date.isValid()) || (kind != DateKind::Date && !time.isValid()))
        return s;
    return dateTimeText(date, time, kind);
}

} // namespace

bool decodeXls(const QString& path, const WorkbookRowFn& onRow, const WorkbookLimits& limits)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw WorkbookError(damagedText(path, file.errorString()));
    if (file.size() > limits.xlsFileBytes)
        throw WorkbookError(damagedText(
            path, QStringLiteral("it is larger than %1 MB.").arg(limits.xlsFileBytes >> 20)));
    const QByteArray bytes = file.readAll();
    file.close();
    const auto tooMany = [&](quint64 cells) {
        return WorkbookError(damagedText(
            path, QStringLiteral("its sheets claim %1 cells, more than the %2 that can be read.")
                      .arg(cells)
                      .arg(limits.xlsCells)));
    };
    const SheetFacts facts = walkWorkbook(CompoundFile(bytes).workbookStream());
    if (facts.cells > limits.xlsCells)
        throw tooMany(facts.cells);

    const void* raw = nullptr;
    const int rc = freexl_open(QFile::encodeName(path).constData(), &raw);
    std::unique_ptr<const void, XlsCloser> handle(raw);
    if (rc != FREEXL_OK)
        throw WorkbookError(damagedText(path, freexlReason(rc)));
    unsigned int password = 0;
    if (freexl_get_info(raw, FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK &&
        password == FREEXL_BIFF_OBFUSCATED)
        throw WorkbookError(damagedText(path, QStringLiteral("it is protected by a password.")));
    unsigned int sheets = 0;
    if (freexl_get_info(raw, FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK || sheets == 0)
        throw WorkbookError(damagedText(path, QStringLiteral("it holds no worksheet.")));
    unsigned int rows = 0;
    unsigned short columns = 0;
    int sheetRc = freexl_select_active_worksheet(raw, 0);
    if (sheetRc == FREEXL_OK)
        sheetRc = freexl_worksheet_dimensions(raw, &rows, &columns);
    if (sheetRc != FREEXL_OK)
        throw WorkbookError(damagedText(path, freexlReason(sheetRc)));
    // The sheet as FreeXL sized it, which a damaged file can make differ from
    // what the walk found; a sheet of billions of rows without columns is
    // still billions of rows.
    const quint64 claimed = quint64(rows) * qMax<quint64>(columns, 1);
    if (claimed > limits.xlsCells)
        throw tooMany(claimed);

    const int used = qMin<int>(columns, WorkbookColumns);
    QStringList cells;
    for (unsigned int row = 0; row < rows; ++row) {
        cells.fill(QString(), WorkbookColumns);
        for (int column = 0; column < used; ++column) {
            FreeXL_CellValue cell;
            const int cellRc = freexl_get_cell_value(raw, row, quint16(column), &cell);
            if (cellRc != FREEXL_OK)
                throw WorkbookError(damagedText(path, freexlReason(cellRc)));
            QString& text = cells[column];
            switch (cell.type) {
            case FREEXL_CELL_INT: {
                const auto logical = facts.logical.constFind(row << 16 | quint32(column));
                if (logical != facts.logical.cend())
                    text = *logical ? QStringLiteral("True") : QStringLiteral("False");
                else
                    text = QString::number(cell.value.int_value);
                break;
            }
            case FREEXL_CELL_DOUBLE:
                text = numberText(cell.value.double_value);
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
                text = QString::fromUtf8(cell.value.text_value);
                break;
            case FREEXL_CELL_DATE:
                text = freexlDateText(cell.value.text_value, DateKind::Date);
                break;
            case FREEXL_CELL_DATETIME:
                text = freexlDateText(cell.value.text_value, DateKind::DateTime);
                break;
            case FREEXL_CELL_TIME:
                text = freexlDateText(cell.value.text_value, DateKind::Time);
                break;
            default: {
                const auto formula = facts.formulas.constFind(row << 16 | quint32(column));
                if (formula != facts.formulas.cend())
                    text = *formula;
                break;
            }
            }
        }
        if (!onRow(cells, int(qint64(row + 1) * 100 / rows)))
            return false;
    }
    return true;
}

} // namespace bv::lists::detail
