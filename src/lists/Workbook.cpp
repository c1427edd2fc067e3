#include "Workbook.h"

#include "WorkbookReaders.h"

#include <QFile>

namespace bv::lists {

bool readWorkbook(const QString& path, const WorkbookRowFn& onRow, const WorkbookLimits& limits)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw WorkbookError(detail::damagedText(path, file.errorString()));
    const QByteArray magic = file.read(8);
    file.close();
    if (magic.startsWith("PK\x03\x04"))
        return detail::readXlsx(path, onRow, limits);
    if (magic == QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
        return detail::readXls(path, onRow, limits);
    throw WorkbookError(
        detail::damagedText(path, QStringLiteral("it is not an Excel workbook (.xls or .xlsx).")));
}

} // namespace bv::lists
