#include "TextFile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace bv {

QString decodeText(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return decodeWindows1252(bytes);
}

QString decodeWindows1252(QByteArrayView bytes)
{
    // 0x80-0x9F differ from Latin-1; the five codes the code page leaves
    // unassigned map to the control characters of the same number.
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char b : bytes) {
        const auto c = static_cast<unsigned char>(b);
        *out++ = QChar(c >= 0x80 && c < 0xA0 ? high[c - 0x80] : char16_t(c));
    }
    return text;
}

QStringList splitLines(const QString& text)
{
    QStringList lines;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines.append(text.mid(start, i - start));
            if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

bool readTextLines(const QString& path, QStringList& lines, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    lines = splitLines(decodeText(bytes));
    return true;
}

QByteArray joinCrLf(const QStringList& lines)
{
    QByteArray out;
    qsizetype size = 0;
    for (const QString& line : lines)
        size += line.size() + 2;
    out.reserve(size);
    for (const QString& line : lines) {
        out += line.toUtf8();
        out += "\r\n";
    }
    return out;
}

bool replaceFileContents(const QString& path, const QByteArray& bytes, QString* error,
                         FileAccess access)
{
    // Unbuffered, so that a short write shows in write()'s count; a buffered
    // flush at commit() can let it pass unnoticed.
    QSaveFile file(path);
    const bool opened = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    // The temporary file is narrowed before anything is written to it, and
    // the rename keeps its permissions.
    const bool narrowed = !opened || access == FileAccess::Default ||
                          file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!opened || !narrowed || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

bool writeTextLines(const QString& path, const QStringList& lines, QString* error)
{
    return replaceFileContents(path, joinCrLf(lines), error);
}

} // namespace bv
