#pragma once

#include <QString>

namespace bv::lists {

// The test applied to a single address that is typed or about to be sent.
// Deliberately lenient: it is not the invalid-address query of the recipient
// tables, and the two must not be merged.
bool IsValidEmail(const QString& text);

} // namespace bv::lists
