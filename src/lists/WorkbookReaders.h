#pragma once

#include "Workbook.h"

// The two workbook formats behind readWorkbook.
namespace bv::lists::detail {

// Binary workbooks are decoded in a process of their own, brevicast-xls, that
// runs decodeXls: a workbook the decoder trips over ends that process rather
// than the program, and becomes a WorkbookError here.
bool readXls(const QString& path, const WorkbookRowFn& onRow, const WorkbookLimits& limits);
bool decodeXls(const QString& path, const WorkbookRowFn& onRow, const WorkbookLimits& limits);
bool readXlsx(const QString& path, const WorkbookRowFn& onRow, const WorkbookLimits& limits);

QString damagedText(const QString& path, const QString& reason);

} // namespace bv::lists::detail
