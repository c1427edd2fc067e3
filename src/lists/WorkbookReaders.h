#pragma once

#include "Workbook.h"

// The two workbook formats behind readWorkbook.
namespace bv::lists::detail {

bool readXls(const QString& path, const WorkbookRowFn& onRow, const WorkbookLimits& limits);
bool readXlsx(const QString& path, const WorkbookRowFn& onRow, const WorkbookLimits& limits);

QString damagedText(const QString& path, const QString& reason);

} // namespace bv::lists::detail
