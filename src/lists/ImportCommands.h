#pragma once

#include <QString>

namespace bv {
struct Services;
}
namespace bv::data {
class TableView;
}

namespace bv::lists {

// "Load More (CSV)" of either page of the recipient list window: asks for the
// file and appends its rows to the page's view for list. Refusals and errors
// are shown through the dialogs service; success is silent.
void LoadMoreCsv(Services& services, const QString& list, data::TableView& view, bool exclusions);

} // namespace bv::lists
