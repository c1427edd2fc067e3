#pragma once

#include "ParsedMessage.h"

namespace bv::test {

// The message file as GMime parses it.
ParsedMessage readWithGMime(const QByteArray& messageText);

} // namespace bv::test
