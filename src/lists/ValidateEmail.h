#pragma once

#include <QString>

namespace bv::lists {

// The test applied to a single address that is typed or about to be sent.
// Deliberately lenient: it is not the invalid-address query of the recipient
// tables, and the two must not be merged.
bool IsValidEmail(const QString& text);

// Whether text holds a control character (C0 with NUL, DEL, C1): no address
// may, since it would end or bend the line it travels in.
bool hasControlCharacter(QStringView text);

// Why an address cannot be stored for sending, its control characters shown
// as \xNN; empty when it can.
QString addressRefusal(const QString& address);
// What an import says about the rows it left out: how many, and why the
// first was.
QString refusedRowsText(int count, const QString& firstRefusal);

} // namespace bv::lists
