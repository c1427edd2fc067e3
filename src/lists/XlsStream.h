#pragma once

#include <QDataStream>

// What brevicast-xls writes on its standard output: one frame per row, then
// either the end or the reason reading stopped.
namespace bv::lists::detail::xls {

constexpr quint8 RowFrame = 'R';   // qint32 percent, QStringList cells
constexpr quint8 ErrorFrame = 'E'; // QString message for the user
constexpr quint8 EndFrame = 'D';   // every row was written
constexpr QDataStream::Version StreamVersion = QDataStream::Qt_6_0;

} // namespace bv::lists::detail::xls
