// Office Open XML workbooks: a zip of XML parts. Every part is unpacked and
// parsed a piece at a time, with a ceiling on what it may unpack to, so that
// neither a zip bomb nor a giant part can take the memory.
#include "WorkbookReaders.h"

#include <QFile>
#include <QHash>
#include <QXmlStreamReader>

#include <zip.h>

#include <memory>
#include <vector>

namespace bv::lists::detail {

namespace {

// The shared strings are kept only as far as a staging field holds them.
constexpr int KeptChars = 60;
// A cell's text beyond this is of no use to anyone and is not collected.
constexpr int MaxCellChars = 32767;

struct ZipCloser
{
    void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileCloser
{
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};

// One XML part of the package, parsed as it is unpacked.
class Part
{
public:
    Part(zip_t* zip, const QString& path, const QString& name, qint64 limit)
        : m_path(path), m_name(name), m_limit(limit)
    {
        const QByteArray n = name.toUtf8();
        const zip_int64_t index = zip_name_locate(zip, n.constData(), ZIP_FL_NOCASE);
        if (index < 0)
            throw WorkbookError(
                damagedText(path, QStringLiteral("its part %1 is missing.").arg(name)));
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(zip, zip_uint64_t(index), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE))
            m_size = qint64(st.size);
        m_file.reset(zip_fopen_index(zip, zip_uint64_t(index), 0));
        if (!m_file)
            throw WorkbookError(
                damagedText(path, QStringLiteral("its part %1 cannot be unpacked (%2).")
                                      .arg(name, QString::fromUtf8(zip_strerror(zip)))));
    }

    QXmlStreamReader& xml() { return m_xml; }
    int percent() const { return m_size > 0 ? int(qMin<qint64>(100, m_read * 100 / m_size)) : 0; }

    // The next token, unpacking more of the part when the parser needs it.
    QXmlStreamReader::TokenType next()
    {
        for (;;) {
            const QXmlStreamReader::TokenType t = m_xml.readNext();
            if (t != QXmlStreamReader::Invalid)
                return t;
            if (m_xml.error() != QXmlStreamReader::PrematureEndOfDocumentError)
                fail(m_xml.errorString());
            if (m_end)
                fail(QStringLiteral("it ends too early"));
            feed();
        }
    }

    [[noreturn]] void fail(const QString& why) const
    {
        throw WorkbookError(
            damagedText(m_path, QStringLiteral("its part %1 is damaged: %2.").arg(m_name, why)));
    }

private:
    void feed()
    {
        char buffer[1 << 16];
        const zip_int64_t n = zip_fread(m_file.get(), buffer, sizeof buffer);
        if (n < 0)
            throw WorkbookError(damagedText(
                m_path, QStringLiteral("its part %1 cannot be unpacked (%2).")
                            .arg(m_name, QString::fromUtf8(zip_file_strerror(m_file.get())))));
        if (n == 0) {
            m_end = true;
            return;
        }
        m_read += n;
        if (m_read > m_limit)
            throw WorkbookError(
                damagedText(m_path, QStringLiteral("its part %1 unpacks to more than %2 MB; the "
                                                   "file is damaged or made to do harm.")
                                        .arg(m_name)
                                        .arg(m_limit >> 20)));
        m_xml.addData(QByteArray(buffer, int(n)));
    }

    QString m_path;
    QString m_name;
    qint64 m_limit;
    qint64 m_size = 0;
    qint64 m_read = 0;
    bool m_end = false;
    std::unique_ptr<zip_file_t, ZipFileCloser> m_file;
    QXmlStreamReader m_xml;
};

bool isStart(QXmlStreamReader::TokenType t, const QXmlStreamReader& xml, QLatin1String name)
{
    return t == QXmlStreamReader::StartElement && xml.name() == name;
}
bool isEnd(QXmlStreamReader::TokenType t, const QXmlStreamReader& xml, QLatin1String name)
{
    return t == QXmlStreamReader::EndElement && xml.name() == name;
}

bool partExists(zip_t* zip, const QString& name)
{
    return zip_name_locate(zip, name.toUtf8().constData(), ZIP_FL_NOCASE) >= 0;
}

// The folder of a part, with its trailing "/".
QString folderOf(const QString& part)
{
    return part.left(part.lastIndexOf(QLatin1Char('/')) + 1);
}

QString relsOf(const QString& part)
{
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) +
           QStringLiteral(".rels");
}

// A relationship's target as a part name: relative to the source's folder,
// or from the package root with a leading "/"; "." and ".." resolved.
QString resolveTarget(const QString& sourceFolder, const QString& target)
{
    const QString joined =
        target.startsWith(QLatin1Char('/')) ? target.mid(1) : sourceFolder + target;
    QStringList parts;
    for (const QString& p : joined.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (p == QLatin1String(".."))
            parts.removeLast();
        else if (p != QLatin1String("."))
            parts << p;
    }
    return parts.join(QLatin1Char('/'));
}

struct Relationship
{
    QString id;
    QString type; // the last piece of its type, "worksheet", "sharedStrings" ...
    QString target;
};

QList<Relationship> readRels(zip_t* zip, const QString& path, const QString& sourcePart,
                             qint64 limit)
{
    QList<Relationship> out;
    const QString name = sourcePart.isEmpty() ? QStringLiteral("_rels/.rels") : relsOf(sourcePart);
    if (!partExists(zip, name))
        return out;
    Part part(zip, path, name, limit);
    for (auto t = part.next(); t != QXmlStreamReader::EndDocument; t = part.next()) {
        if (!isStart(t, part.xml(), QLatin1String("Relationship")))
            continue;
        const QXmlStreamAttributes a = part.xml().attributes();
        if (a.value(QLatin1String("TargetMode")) == QLatin1String("External"))
            continue;
        const QString type = a.value(QLatin1String("Type")).toString();
        out.append(
            {a.value(QLatin1String("Id")).toString(),
             type.mid(type.lastIndexOf(QLatin1Char('/')) + 1),
             resolveTarget(folderOf(sourcePart), a.value(QLatin1String("Target")).toString())});
    }
    return out;
}

QString targetOfType(const QList<Relationship>& rels, const QString& type)
{
    for (const Relationship& r : rels)
        if (r.type == type)
            return r.target;
    return {};
}

// The shared strings, each cut to what a staging field keeps, in one block.
class SharedStrings
{
public:
    void read(zip_t* zip, const QString& path, const QString& name, const WorkbookLimits& limits)
    {
        Part part(zip, path, name, limits.stringsBytes);
        QString current;
        int phonetic = 0;
        bool inText = false;
        for (auto t = part.next(); t != QXmlStreamReader::EndDocument; t = part.next()) {
            const QXmlStreamReader& x = part.xml();
            if (isStart(t, x, QLatin1String("si"))) {
                current.clear();
            } else if (isStart(t, x, QLatin1String("rPh"))) {
                ++phonetic;
            } else if (isEnd(t, x, QLatin1String("rPh"))) {
                --phonetic;
            } else if (isStart(t, x, QLatin1String("t"))) {
                inText = phonetic == 0;
            } else if (isEnd(t, x, QLatin1String("t"))) {
                inText = false;
            } else if (t == QXmlStreamReader::Characters && inText && current.size() < KeptChars) {
                current += x.text().left(KeptChars - current.size());
            } else if (isEnd(t, x, QLatin1String("si"))) {
                if (qint64(m_starts.size()) >= limits.sharedStrings ||
                    m_pool.size() + current.size() > limits.sharedStringChars)
                    throw WorkbookError(damagedText(
                        path,
                        QStringLiteral("its shared string table is larger than can be read.")));
                m_starts.push_back(quint32(m_pool.size()));
                m_pool += current;
            }
        }
    }

    qint64 size() const { return qint64(m_starts.size()); }
    QString at(qint64 i) const
    {
        const qint64 start = m_starts[size_t(i)];
        const qint64 end =
            size_t(i) + 1 < m_starts.size() ? m_starts[size_t(i) + 1] : m_pool.size();
        return m_pool.mid(start, end - start);
    }

private:
    std::vector<quint32> m_starts;
    QString m_pool;
};

// Cell formats (index of a cell's "s") -> what they show of a date.
std::vector<DateKind> readStyles(zip_t* zip, const QString& path, const QString& name, qint64 limit)
{
    std::vector<DateKind> formats;
    if (name.isEmpty() || !partExists(zip, name))
        return formats;
    Part part(zip, path, name, limit);
    QHash<int, DateKind> custom;
    bool inCellXfs = false;
    for (auto t = part.next(); t != QXmlStreamReader::EndDocument; t = part.next()) {
        const QXmlStreamReader& x = part.xml();
        if (isStart(t, x, QLatin1String("numFmt"))) {
            custom.insert(
                x.attributes().value(QLatin1String("numFmtId")).toInt(),
                formatCodeKind(x.attributes().value(QLatin1String("formatCode")).toString()));
        } else if (isStart(t, x, QLatin1String("cellXfs"))) {
            inCellXfs = true;
        } else if (isEnd(t, x, QLatin1String("cellXfs"))) {
            inCellXfs = false;
        } else if (inCellXfs && isStart(t, x, QLatin1String("xf"))) {
            const int id = x.attributes().value(QLatin1String("numFmtId")).toInt();
            formats.push_back(custom.contains(id) ? custom.value(id) : builtinFormatKind(id));
            if (formats.size() > (1u << 20))
                part.fail(QStringLiteral("it holds too many cell formats"));
        }
    }
    return formats;
}

int columnOf(QStringView ref)
{
    int column = 0;
    for (QChar c : ref) {
        if (c < QLatin1Char('A') || c > QLatin1Char('Z'))
            break;
        column = column * 26 + (c.unicode() - 'A' + 1);
        if (column > 16384)
            return -1;
    }
    return column - 1;
}

class SheetReader
{
public:
    SheetReader(const QString& path, const SharedStrings& strings,
                const std::vector<DateKind>& formats, bool date1904)
        : m_path(path), m_strings(strings), m_formats(formats), m_date1904(date1904)
    {
    }

    bool read(Part& part, const WorkbookRowFn& onRow)
    {
        QStringList cells;
        qint64 row = 0;
        int column = -1;
        QString type;
        int style = 0;
        QString text;
        bool collecting = false;
        int phonetic = 0;
        for (auto t = part.next(); t != QXmlStreamReader::EndDocument; t = part.next()) {
            const QXmlStreamReader& x = part.xml();
            if (t == QXmlStreamReader::Characters) {
                if (collecting && phonetic == 0 && text.size() < MaxCellChars)
                    text += x.text().left(MaxCellChars - text.size());
                continue;
            }
            if (t != QXmlStreamReader::StartElement && t != QXmlStreamReader::EndElement)
                continue;
            const QStringView name = x.name();
            if (t == QXmlStreamReader::StartElement) {
                if (name == QLatin1String("row")) {
                    const qint64 r = x.attributes().value(QLatin1String("r")).toLongLong();
                    row = r > row ? r : row + 1;
                    column = -1;
                    cells.fill(QString(), WorkbookColumns);
                } else if (name == QLatin1String("c")) {
                    const QStringView ref = x.attributes().value(QLatin1String("r"));
                    column = ref.isEmpty() ? column + 1 : columnOf(ref);
                    type = x.attributes().value(QLatin1String("t")).toString();
                    style = x.attributes().value(QLatin1String("s")).toInt();
                    text.clear();
                } else if (name == QLatin1String("v") || name == QLatin1String("t")) {
                    collecting = true;
                } else if (name == QLatin1String("rPh")) {
                    ++phonetic;
                }
            } else if (name == QLatin1String("v") || name == QLatin1String("t")) {
                collecting = false;
            } else if (name == QLatin1String("rPh")) {
                --phonetic;
            } else if (name == QLatin1String("c")) {
                if (column >= 0 && column < WorkbookColumns && cells.size() == WorkbookColumns)
                    cells[column] = cellText(type, style, text);
            } else if (name == QLatin1String("row")) {
                if (!onRow(cells, part.percent()))
                    return false;
            } else if (name == QLatin1String("sheetData")) {
                break;
            }
        }
        return true;
    }

private:
    QString cellText(const QString& type, int style, const QString& text) const
    {
        if (type == QLatin1String("s")) {
            bool ok = false;
            const qint64 i = text.trimmed().toLongLong(&ok);
            if (!ok || i < 0 || i >= m_strings.size())
                throw WorkbookError(damagedText(
                    m_path, QStringLiteral(
                                "a cell names shared string %1, which the workbook does not hold.")
                                .arg(text.trimmed())));
            return m_strings.at(i);
        }
        if (type == QLatin1String("b"))
            return text.trimmed() == QLatin1String("1") ? QStringLiteral("True")
                                                        : QStringLiteral("False");
        if (type == QLatin1String("d")) {
            const QString iso = text.trimmed();
            const QDateTime dt = QDateTime::fromString(iso, Qt::ISODate);
            if (dt.isValid())
                return dateTimeText(dt.date(), dt.time(), DateKind::DateTime);
            const QDate d = QDate::fromString(iso, Qt::ISODate);
            return d.isValid() ? dateTimeText(d, {}, DateKind::Date) : iso;
        }
        if (!type.isEmpty() && type != QLatin1String("n"))
            return text; // strings, inline strings, formula strings, errors
        if (text.isEmpty())
            return text;
        bool ok = false;
        const double value = text.trimmed().toDouble(&ok);
        if (!ok)
            return text;
        const DateKind kind = style >= 0 && size_t(style) < m_formats.size()
                                  ? m_formats[size_t(style)]
                                  : DateKind::None;
        return serialText(value, kind, m_date1904);
    }

    QString m_path;
    const SharedStrings& m_strings;
    const std::vector<DateKind>& m_formats;
    bool m_date1904;
};

} // namespace

bool readXlsx(const QString& path, const WorkbookRowFn& onRow, const WorkbookLimits& limits)
{
    int error = 0;
    std::unique_ptr<zip_t, ZipCloser> zip(
        zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!zip) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        const QString why = QString::fromUtf8(zip_error_strerror(&ze));
        zip_error_fini(&ze);
        throw WorkbookError(
            damagedText(path, QStringLiteral("it is not a complete zip file (%1).").arg(why)));
    }
    zip_t* z = zip.get();

    QString workbook =
        targetOfType(readRels(z, path, {}, limits.otherBytes), QStringLiteral("officeDocument"));
    if (workbook.isEmpty())
        workbook = QStringLiteral("xl/workbook.xml");
    bool date1904 = false;
    QString firstSheetId;
    {
        Part part(z, path, workbook, limits.otherBytes);
        for (auto t = part.next(); t != QXmlStreamReader::EndDocument; t = part.next()) {
            const QXmlStreamReader& x = part.xml();
            if (isStart(t, x, QLatin1String("workbookPr"))) {
                const QStringView v = x.attributes().value(QLatin1String("date1904"));
                date1904 = v == QLatin1String("1") || v == QLatin1String("true");
            } else if (isStart(t, x, QLatin1String("sheet")) && firstSheetId.isEmpty()) {
                for (const QXmlStreamAttribute& a : x.attributes())
                    if (a.name() == QLatin1String("id"))
                        firstSheetId = a.value().toString();
                if (firstSheetId.isEmpty())
                    part.fail(QStringLiteral("its first sheet has no relationship"));
            }
        }
    }
    if (firstSheetId.isEmpty())
        throw WorkbookError(damagedText(path, QStringLiteral("it holds no worksheet.")));
    const QList<Relationship> rels = readRels(z, path, workbook, limits.otherBytes);
    QString sheet;
    for (const Relationship& r : rels)
        if (r.id == firstSheetId)
            sheet = r.target;
    if (sheet.isEmpty())
        throw WorkbookError(
            damagedText(path, QStringLiteral("its first sheet's part is not named.")));

    SharedStrings strings;
    const QString stringsPart = targetOfType(rels, QStringLiteral("sharedStrings"));
    if (!stringsPart.isEmpty())
        strings.read(z, path, stringsPart, limits);
    const std::vector<DateKind> formats =
        readStyles(z, path, targetOfType(rels, QStringLiteral("styles")), limits.otherBytes);
    Part part(z, path, sheet, limits.sheetBytes);
    return SheetReader(path, strings, formats, date1904).read(part, onRow);
}

} // namespace bv::lists::detail
