#pragma once

#include "data/Database.h"

#include <QObject>

namespace bv::data {

class TableView;

// The data module: holds AdsConnection1, which every table view and fixed query
// of the windows uses.
class TdmBrevicastData : public QObject
{
    Q_OBJECT
public:
    // Opens AdsConnection1 on the program folder; throws DbError.
    explicit TdmBrevicastData(const QString& programFolder, QObject* parent = nullptr);

    Connection AdsConnection1{QStringLiteral("AdsConnection1")};
};

// Start-up table maintenance over the recipient and exclusion views: reopen
// both exclusively, rebuild indexes and pack, then reopen them shared. Every
// error is swallowed; tables held by another program are waited for briefly.
constexpr int MaintenanceBusyTimeoutMs = 250;
void runStartupMaintenance(TableView& recipients, TableView& exclusions);

} // namespace bv::data
