#include "ImportCommands.h"

#include "core/Dialogs.h"
#include "core/Services.h"
#include "data/Database.h"
#include "DbImport.h"
#include "ValidateEmail.h"

namespace bv::lists {

void LoadMoreCsv(Services& services, const QString& list, data::TableView& view, bool exclusions)
{
    const QString fileName =
        services.dialogs.openFile(csvFileRequest(services.programFolder, exclusions));
    if (fileName.isEmpty())
        return;
    try {
        const CsvImportResult result = ImportCsvFile(list, fileName, view);
        if (result.outcome == CsvImportOutcome::NoCommonFields)
            services.dialogs.message(noCommonFieldsText());
        else if (result.refused > 0)
            services.dialogs.message(refusedRowsText(result.refused, result.firstRefusal));
    } catch (const CsvFileError& e) {
        services.dialogs.showError(e.message());
    } catch (const data::DbError& e) {
        services.dialogs.showError(e.message());
    }
}

} // namespace bv::lists
