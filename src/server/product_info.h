// One product as the update server describes it.
#pragma once

#include <cstdint>
#include <string>

namespace zavr {

// Field names are the server's JSON keys.
struct ProductInfo {
    std::string InfoUrl;   // the query that produced the record
    std::string FilesUrl;  // base address of the product's files
    std::int32_t ProductID = 0;
    std::string ProdName;
    std::string Simulator;
    std::int32_t ProdVersion = 0;
    std::int32_t MinVersion = 0;
    std::string PVDec;               // display text of ProdVersion, written to the registry
    std::string ZAVRFolderValue;     // the product's folder inside the simulator's folder
    std::string RegistryKey;         // under HKEY_CURRENT_USER, holding "AppPath"
    std::int32_t TotalFileSize = 0;  // kilobytes, from the manifest totals
    std::int32_t TotalFiles = 0;
};

}  // namespace zavr
