#include "catalogue/catalogue.h"

#include <cstdio>
#include <stdexcept>
#include <string>

#include "catalogue/build_settings.h"
#include "log/log.h"

namespace zavr {

namespace {

const CatalogueCell* FindCell(const CatalogueColumn& column, const std::string& aircraftCode) {
    for (std::size_t i = 0; i < column.count; ++i)
        if (aircraftCode == column.cells[i].aircraft) return &column.cells[i];
    return nullptr;
}

}  // namespace

int CatalogueRowCount(const std::string& aircraftCode, const std::string& simFamily) {
    const CatalogueCell* cell = FindCell(BuiltInColumn(simFamily), aircraftCode);
    return cell == nullptr ? 0 : cell->rowCount;
}

CatalogueSelection SelectCatalogue(const std::string& aircraftCode, const std::string& simFamily) {
    const CatalogueColumn column = BuiltInColumn(simFamily);
    if (column.count == 0)
        throw std::runtime_error("Unable to initialize application, unknown sim " + simFamily);

    const CatalogueCell* cell = FindCell(column, aircraftCode);
    if (cell == nullptr)
        throw std::runtime_error("Unable to initialize application, unknown aircraft " + aircraftCode);

    CatalogueSelection selection;
    selection.uninstallKey = cell->uninstallKey;
    selection.rows.assign(cell->rows, cell->rows + cell->rowCount);

    // The time stamp is the original build's, frozen: users and the maker's support compare banners, and
    // a time stamp of each build would make two builds of the same sources differ.
    char banner[256];
    std::snprintf(banner, sizeof banner, "ZAVR Updater: Version A%i - Build timestamp Sep 12 2017, 23:29:10",
                  kUpdaterVersion);
    WriteLog(1, banner);
    return selection;
}

}  // namespace zavr
