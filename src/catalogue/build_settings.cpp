// The only source that reads build_config.h: it is compiled once for each program, with that program's
// configuration, and everything else reads the build through build_settings.h.
#include "catalogue/build_settings.h"

#include "build_config.h"
#include "ca_bundle.h"
#include "catalogue/stored_text.h"

namespace zavr {

static_assert(ZAVR_PARALLEL_TRANSFERS >= 1, "ZAVR_PARALLEL_TRANSFERS must be at least 1");

const BuildSettings kBuildSettings = {ZAVR_AIRCRAFT,           ZAVR_SIM,     ZAVR_MAKER_SITE,
                                      ZAVR_PARALLEL_TRANSFERS, kCaBundlePem, sizeof kCaBundlePem - 1};

unsigned char StoredTextKey() {
    return static_cast<unsigned char>(ZAVR_SCRAMBLE_KEY);
}

namespace {

constexpr unsigned char kKey = static_cast<unsigned char>(ZAVR_SCRAMBLE_KEY);

// A function, not a variable: a variable would be emitted into the binary in plain text.
constexpr auto Server() {
    return Literal(ZAVR_UPDATE_SERVER);
}
static_assert(sizeof Server().bytes >= 2 && Server().bytes[sizeof Server().bytes - 2] == '/',
              "ZAVR_UPDATE_SERVER must end in /");

// Each row's two texts get storage of their own: a user unscrambles a text in place.
#define ZAVR_ROW(name, sim, aircraft, row)                                                \
    constexpr auto name##InfoStored =                                                     \
        Scramble(Server() + Literal("products/" sim "/" aircraft "/" row ".json"), kKey); \
    constexpr auto name##FilesStored =                                                    \
        Scramble(Server() + Literal("files/" sim "/" aircraft "/" row "/"), kKey);        \
    auto name##Info = name##InfoStored;                                                   \
    auto name##Files = name##FilesStored;

ZAVR_ROW(XseKa1, "XSE", "KA1", "1")
ZAVR_ROW(XseKa2, "XSE", "KA2", "1")
ZAVR_ROW(XseKb1, "XSE", "KB1", "1")
ZAVR_ROW(XseKb2, "XSE", "KB2", "1")
ZAVR_ROW(XseKc1, "XSE", "KC1", "1")
ZAVR_ROW(XseKc2, "XSE", "KC2", "1")
ZAVR_ROW(XseKd1, "XSE", "KD1", "1")
ZAVR_ROW(P3dKa1a, "P3D", "KA1", "1")
ZAVR_ROW(P3dKa1b, "P3D", "KA1", "2")
ZAVR_ROW(P3dKa2a, "P3D", "KA2", "1")
ZAVR_ROW(P3dKa2b, "P3D", "KA2", "2")
ZAVR_ROW(P3dKb1a, "P3D", "KB1", "1")
ZAVR_ROW(P3dKb1b, "P3D", "KB1", "2")
ZAVR_ROW(P3dKb2a, "P3D", "KB2", "1")
ZAVR_ROW(P3dKb2b, "P3D", "KB2", "2")
ZAVR_ROW(P3dKc1a, "P3D", "KC1", "1")
ZAVR_ROW(P3dKc1b, "P3D", "KC1", "2")
ZAVR_ROW(P3dKc2a, "P3D", "KC2", "1")
ZAVR_ROW(P3dKc2b, "P3D", "KC2", "2")
ZAVR_ROW(P3dKd1a, "P3D", "KD1", "1")
ZAVR_ROW(P3dKd1b, "P3D", "KD1", "2")

#undef ZAVR_ROW

constexpr auto kTotalsStored = Scramble(Server() + Literal("totals"), kKey);
constexpr auto kFileListStored = Scramble(Server() + Literal("filelist"), kKey);
auto totalsBase = kTotalsStored;
auto fileListBase = kFileListStored;
// Scrambled like the addresses, so that no one edits the key in the binary as plain text.
constexpr auto kReleaseKeyStored = Scramble(Literal(ZAVR_RELEASE_PUBLIC_KEY), kKey);
auto releaseKey = kReleaseKeyStored;

#define ZAVR_UNINSTALL "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
#define ZAVR_ONE(name) {{name##Info.bytes, name##Files.bytes}, {nullptr, nullptr}}, 1
#define ZAVR_TWO(a, b) {{a##Info.bytes, a##Files.bytes}, {b##Info.bytes, b##Files.bytes}}, 2

const CatalogueCell kXseCells[] = {
    {"KA1", ZAVR_UNINSTALL "{B438C012-C4BA-407B-84A8-B3F649A901A6}", ZAVR_ONE(XseKa1)},
    {"KA2", ZAVR_UNINSTALL "{ED28645E-F9BC-451F-AB11-81DA5FE29A0F}", ZAVR_ONE(XseKa2)},
    {"KB1", ZAVR_UNINSTALL "{A364477B-4684-4B76-BDDF-2D848AE06A7D}", ZAVR_ONE(XseKb1)},
    // The XSE KB2 never had a GUID of its own: its installer writes this placeholder, which is kept as
    // it stands so that the updater finds what is installed.
    {"KB2", ZAVR_UNINSTALL "{ ???????? }", ZAVR_ONE(XseKb2)},
    {"KC1", ZAVR_UNINSTALL "{F817E1CA-C508-4629-9D06-B622A2392CA1}", ZAVR_ONE(XseKc1)},
    {"KC2", ZAVR_UNINSTALL "{064AEB27-CB81-4D33-AF20-1CFC54C881C5}", ZAVR_ONE(XseKc2)},
    {"KD1", ZAVR_UNINSTALL "{BE72F496-D82B-4E71-BD80-1A3BC5336CC1}", ZAVR_ONE(XseKd1)},
};

const CatalogueCell kP3dCells[] = {
    {"KA1", ZAVR_UNINSTALL "{3AE92D7F-3118-4AFD-BBD4-190931576585}", ZAVR_TWO(P3dKa1a, P3dKa1b)},
    {"KA2", ZAVR_UNINSTALL "{43640F42-2878-4D4C-BF62-E463E2602D5A}", ZAVR_TWO(P3dKa2a, P3dKa2b)},
    {"KB1", ZAVR_UNINSTALL "{D75261CE-BC35-4B16-AE96-3B37E7D07796}", ZAVR_TWO(P3dKb1a, P3dKb1b)},
    {"KB2", ZAVR_UNINSTALL "{0B4290CB-A0C8-479F-B4D6-C8C36DE84B69}", ZAVR_TWO(P3dKb2a, P3dKb2b)},
    {"KC1", ZAVR_UNINSTALL "{653BBF16-90A2-4D89-A914-F861467E17E2}", ZAVR_TWO(P3dKc1a, P3dKc1b)},
    {"KC2", ZAVR_UNINSTALL "{697FE3DB-403D-4ED6-93DF-18C06FD4B046}", ZAVR_TWO(P3dKc2a, P3dKc2b)},
    {"KD1", ZAVR_UNINSTALL "{6C0AA1DB-3D13-4D7F-ACAD-D3064520CA19}", ZAVR_TWO(P3dKd1a, P3dKd1b)},
};

#undef ZAVR_ONE
#undef ZAVR_TWO
#undef ZAVR_UNINSTALL

static_assert(sizeof kXseCells / sizeof kXseCells[0] == sizeof kP3dCells / sizeof kP3dCells[0],
              "one cell per aircraft in both families");

}  // namespace

CatalogueColumn BuiltInColumn(const std::string& simFamily) {
    if (simFamily == "XSE") return {kXseCells, sizeof kXseCells / sizeof kXseCells[0]};
    if (simFamily == "P3D") return {kP3dCells, sizeof kP3dCells / sizeof kP3dCells[0]};
    return {nullptr, 0};
}

char* StoredTotalsBase() {
    return totalsBase.bytes;
}
char* StoredFileListBase() {
    return fileListBase.bytes;
}
char* StoredReleaseKey() {
    return releaseKey.bytes;
}

}  // namespace zavr
