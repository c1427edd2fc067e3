#include "BrevicastData.h"

#include "TableView.h"

namespace bv::data {

TdmBrevicastData::TdmBrevicastData(const QString& programFolder, QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("dmBrevicastData"));
    AdsConnection1.close();
    AdsConnection1.open(programFolder);
}

void runStartupMaintenance(TableView& recipients, TableView& exclusions)
{
    // When another program holds the tables the maintenance gives up at
    // once rather than hold the start for the whole busy timeout.
    Connection& connection = recipients.connection();
    const int busyTimeout = connection.busyTimeout();
    connection.setBusyTimeout(MaintenanceBusyTimeoutMs);
    try {
        recipients.close();
        exclusions.close();
        recipients.open(OpenMode::Exclusive);
        exclusions.open(OpenMode::Exclusive);
        recipients.rebuildIndexes();
        recipients.pack();
        exclusions.rebuildIndexes();
        exclusions.pack();
    } catch (const std::exception&) {
        // Maintenance is a courtesy; the program goes on with the tables as they are.
    }
    connection.setBusyTimeout(busyTimeout);
    for (TableView* v : {&recipients, &exclusions}) {
        try {
            v->close();
            v->open(OpenMode::Shared);
        } catch (const std::exception&) {
        }
    }
}

} // namespace bv::data
