#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace bv {

// Text as the program's files hold it: UTF-8, or the 8-bit Windows code page
// 1252 for older files that are not valid UTF-8.
QString decodeText(const QByteArray& bytes);
QString decodeWindows1252(QByteArrayView bytes);

// Splits at CR LF, LF or CR. A final line break does not start another line.
QStringList splitLines(const QString& text);

// Reads a whole text file as lines. Returns false with the system's reason in
// *error when the file cannot be read.
bool readTextLines(const QString& path, QStringList& lines, QString* error = nullptr);

// Writes lines, each ended by CR LF, replacing the file. Returns false with the
// system's reason in *error when the file cannot be written; a file that was
// there before is then left as it was.
bool writeTextLines(const QString& path, const QStringList& lines, QString* error = nullptr);

enum class FileAccess
{
    Default,
    OwnerOnly
};

// Replaces the file's content with bytes, through a temporary file renamed
// over it: on any failure (a full disk included) the old file stays as it was.
// OwnerOnly: only the user may read or write it, from its first byte on (for
// files that hold passwords).
bool replaceFileContents(const QString& path, const QByteArray& bytes, QString* error = nullptr,
                         FileAccess access = FileAccess::Default);

// Joins lines with CR LF, a CR LF after each line.
QByteArray joinCrLf(const QStringList& lines);

} // namespace bv
