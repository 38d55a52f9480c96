#include "catalogue/catalogue.h"

#include "build_config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <set>

#include "app/updater.h"
#include "catalogue/stored_text.h"

namespace zavr {
namespace {

const char* const kAircraft[] = {"KA1", "KA2", "KB1", "KB2", "KC1", "KC2", "KD1"};
const std::regex kGuid("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}");
const std::string kUninstall = "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string Plain(char* stored) {
    return UnscrambledText(stored).Copy();
}

Updater SetUpFor(const std::string& aircraft, const std::string& sim) {
    Updater updater;
    updater.aircraftCode = aircraft;
    updater.simFamily = sim;
    ::testing::internal::CaptureStdout();
    try {
        updater.SetUpCatalogue();
    } catch (...) {
        ::testing::internal::GetCapturedStdout();
        throw;
    }
    const std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(console.find("[ZAVR 1] ZAVR Updater: Version A18 - Build timestamp Sep 12 2017, 23:29:10\n"),
              std::string::npos);
    return updater;
}

TEST(CatalogueTest, EveryCellHasItsOwnRowsAndKey) {
    std::set<std::string> keys;
    std::set<const char*> storage;
    for (const std::string sim : {"XSE", "P3D"}) {
        for (const char* aircraft : kAircraft) {
            const Updater updater = SetUpFor(aircraft, sim);
            const std::size_t rows = sim == "XSE" ? 1 : 2;
            ASSERT_EQ(updater.catalogueRows.size(), rows) << sim << " " << aircraft;
            for (std::size_t r = 0; r < rows; ++r) {
                const std::string cell = sim + "/" + aircraft + "/" + std::to_string(r + 1);
                const CatalogueRow& row = updater.catalogueRows[r];
                EXPECT_EQ(Plain(row.infoUrl), ZAVR_UPDATE_SERVER "products/" + cell + ".json");
                EXPECT_EQ(Plain(row.filesUrl), ZAVR_UPDATE_SERVER "files/" + cell + "/");
                EXPECT_TRUE(storage.insert(row.infoUrl).second);
                EXPECT_TRUE(storage.insert(row.filesUrl).second);
            }
            EXPECT_EQ(updater.uninstallKey.rfind(kUninstall, 0), 0u);
            if (sim == "XSE" && std::string(aircraft) == "KB2") {
                EXPECT_EQ(updater.uninstallKey, kUninstall + "{ ???????? }");
            } else {
                EXPECT_TRUE(std::regex_match(updater.uninstallKey.substr(kUninstall.size()), kGuid))
                    << updater.uninstallKey;
                EXPECT_TRUE(keys.insert(updater.uninstallKey).second)
                    << "shared key " << updater.uninstallKey;
            }
        }
    }
    EXPECT_EQ(keys.size(), 13u);
    EXPECT_EQ(storage.size(), 42u);
    EXPECT_TRUE(keys.count(kUninstall + "{ED28645E-F9BC-451F-AB11-81DA5FE29A0F}"));  // KA2 for XSE
}

TEST(CatalogueTest, UnknownCodesAreRefusedBeforeAnythingChanges) {
    const struct {
        const char* aircraft;
        const char* sim;
        const char* message;
    } cases[] = {
        {"KA2", "xse", "Unable to initialize application, unknown sim xse"},
        {"KA2", "XSE ", "Unable to initialize application, unknown sim XSE "},
        {"ka2", "XSE", "Unable to initialize application, unknown aircraft ka2"},
        {"KA9", "P3D", "Unable to initialize application, unknown aircraft KA9"},
        {"KA9", "FSX", "Unable to initialize application, unknown sim FSX"},
    };
    for (const auto& c : cases) {
        Updater updater;
        updater.aircraftCode = c.aircraft;
        updater.simFamily = c.sim;
        ::testing::internal::CaptureStdout();
        try {
            updater.SetUpCatalogue();
            ADD_FAILURE() << "accepted " << c.aircraft << " / " << c.sim;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "no banner after an error";
        EXPECT_TRUE(updater.catalogueRows.empty());
        EXPECT_EQ(updater.uninstallKey, "");
    }
}

TEST(StoredTextTest, IsScrambledBetweenUsesEvenWhenAUseThrows) {
    char* stored = StoredTotalsBase();
    const std::string before(stored);
    EXPECT_EQ(before.find("totals"), std::string::npos) << "the stored form is not the plain text";
    EXPECT_EQ(Plain(stored), ZAVR_UPDATE_SERVER "totals");
    EXPECT_EQ(std::string(stored), before);
    try {
        UnscrambledText plain(stored);
        throw std::runtime_error("failed mid-use");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(std::string(stored), before);
    EXPECT_EQ(Plain(StoredFileListBase()), ZAVR_UPDATE_SERVER "filelist");
}

TEST(StoredTextTest, CompileTimeScrambleMatchesTheRunTimeScheme) {
    constexpr auto stored = Scramble(Literal("http://h/ x~"), ZAVR_SCRAMBLE_KEY);
    char text[sizeof stored.bytes];
    std::memcpy(text, stored.bytes, sizeof text);
    for (std::size_t i = 0; i + 1 < sizeof text; ++i)
        EXPECT_EQ(static_cast<unsigned char>(text[i] + StoredTextKey()),
                  static_cast<unsigned char>("http://h/ x~"[i]));
    UnscrambleInPlace(text);
    EXPECT_STREQ(text, "http://h/ x~");
    ScrambleInPlace(text);
    EXPECT_EQ(std::memcmp(text, stored.bytes, sizeof text), 0);
}

}  // namespace
}  // namespace zavr
