#pragma once

#include "data/Database.h"

#include <QMetaType>
#include <QString>

#include <optional>

namespace bv {
class Dialogs;
}

namespace bv::data {
class TableView;
}

namespace bv::lists {

// What the search controls of the recipient list window hold.
struct SearchRequest
{
    QString text;  // txtSearchFor
    QString field; // cbSearchField: "Salutation", "First Name", "Last Name", "Email" or "All"
    QString table; // cbSearchTable: "RecipientList", "ExclusionList" or "Both"
    QString list;  // the current list (the picker's text)
};

// "Search Active List": finds the recipients and exclusions of the list whose
// fields contain a text, ignoring letter case, and moves the record view to
// one match per press. The search query lives from one "Find" to the next,
// or until its matches run out.
class SearchActiveList
{
public:
    enum class Button { Find, Next };

    // Position 0 is tbRecipients (page "Recipients"), 1 tbExclusions.
    SearchActiveList(data::Connection& data, data::TableView& tbRecipients, data::TableView& tbExclusions,
                     Dialogs& dialogs);

    // Returns the page to show (0 or 1), or -1 when there was no match or an
    // engine error (both shown through the dialogs service).
    int press(Button button, const SearchRequest& request);
    // Drops the kept query, as opening the window does.
    void forget();
    bool hasQuery() const { return m_query.has_value(); }
    // "Next" is enabled after a match; editing the search text disables it.
    bool nextEnabled() const { return m_nextEnabled; }
    void searchTextEdited() { m_nextEnabled = false; }

    // The search statement for a request; also gives the exclusions view the
    // recipients' sort order when both tables are searched.
    QString buildQuery(const SearchRequest& request);

private:
    struct View
    {
        QString name;
        data::TableView* view;
    };
    // Moves view to its first row whose four fields equal the match's,
    // ignoring letter case.
    bool moveTo(data::TableView& view, const QString& list, const data::Query& match);

    data::Connection& m_data;
    View m_views[2];
    Dialogs& m_dialogs;
    std::optional<data::Query> m_query;
    QString m_queryList;
    bool m_nextEnabled = false;
};

// Upper case the way the engine's Upper() does it: ASCII letters only, so
// that the search text and the fields compare alike.
QString engineUpper(const QString& text);

} // namespace bv::lists

Q_DECLARE_METATYPE(bv::lists::SearchRequest)
