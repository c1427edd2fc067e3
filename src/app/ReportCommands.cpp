#include "app/ReportCommands.h"

#include "app/ReportPreview.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Services.h"
#include "data/Database.h"

#include <QAction>
#include <QWidget>

namespace bv::app {

ReportCommands::ReportCommands(Services& services, data::Connection& adsConnection1,
                               QWidget* window)
    : QObject(window), m_services(services), m_connection(adsConnection1), m_window(window)
{
    for (const ReportDefinition& report : reportDefinitions()) {
        m_queries.push_back(std::make_unique<data::Query>(m_connection));
        m_queries.back()->setSql(report.sql);
    }
}

ReportCommands::~ReportCommands() = default;

void ReportCommands::connectActions(const Actions& a)
{
    const std::pair<QAction*, ReportKind> reports[] = {
        {a.emailHistory, ReportKind::EmailHistory},
        {a.lastSummary, ReportKind::LastEmailSummary},
        {a.lastAll, ReportKind::LastEmailAll},
        {a.lastErrors, ReportKind::LastEmailErrors},
        {a.lastSuccesses, ReportKind::LastEmailSuccess},
    };
    for (const auto& [action, kind] : reports)
        connect(action, &QAction::triggered, this, [this, kind = kind] { print(kind); });
    connect(a.clearHistory, &QAction::triggered, this, &ReportCommands::clearHistory);
}

void ReportCommands::print(ReportKind kind)
{
    data::Query& query = *m_queries[size_t(kind)];
    query.close();
    try {
        query.open();
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
        return;
    }
    {
        ReportPreview preview(m_services, reportDefinition(kind), query.rows(),
                              m_services.clock.now(), m_window);
        m_services.dialogs.execModal(preview);
    }
    query.close(); // the rows of a big queue are not kept between reports
}

void ReportCommands::clearHistory()
{
    if (m_services.dialogs.ask(clearHistoryQuestion(), Buttons::YesNo) != Answer::Yes)
        return;
    try {
        data::Query query(m_connection);
        query.setSql(QStringLiteral("Delete from EmailHistory"));
        query.execSql();
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
        return;
    }
    m_services.dialogs.message(historyClearedText());
}

} // namespace bv::app
