#pragma once

#include "app/ActivityReports.h"

#include <QObject>

#include <memory>
#include <vector>

class QAction;
class QWidget;

namespace bv {
struct Services;
}

namespace bv::data {
class Connection;
class Query;
} // namespace bv::data

namespace bv::app {

// The Print menu's five activity reports and Tools > "&Clear History", on
// the data module's connection.
class ReportCommands : public QObject
{
    Q_OBJECT
public:
    struct Actions
    {
        QAction* emailHistory;  // Action30
        QAction* lastSummary;   // Action29
        QAction* lastAll;       // Action31
        QAction* lastErrors;    // Action28
        QAction* lastSuccesses; // Action27
        QAction* clearHistory;  // ClearHistory
    };

    static QString clearHistoryQuestion()
    {
        return QStringLiteral("Clear Email Activity History?");
    }
    static QString historyClearedText() { return QStringLiteral("Email History Cleared."); }

    // window parents the previews.
    ReportCommands(Services& services, data::Connection& adsConnection1, QWidget* window);
    ~ReportCommands() override;

    void connectActions(const Actions& actions);

    // Reopens the report's query, so it shows the tables as they are now, and
    // shows the report in its print preview.
    void print(ReportKind kind);
    void clearHistory();

private:
    Services& m_services;
    data::Connection& m_connection;
    QWidget* m_window;
    std::vector<std::unique_ptr<data::Query>> m_queries; // one per report, by kind
};

} // namespace bv::app
