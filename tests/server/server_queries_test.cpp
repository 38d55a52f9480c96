// The product-information and totals queries against a real server.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "build_config.h"
#include "catalogue/stored_text.h"
#include "server/manifest.h"
#include "server/product_info.h"
#include "support/http_server.h"
#include "support/sandbox.h"

namespace zavr {
namespace {

using nlohmann::json;
using test::LogEntries;
using test::TestServer;

// A stored text of the test's own, scrambled as the catalogue's are.
std::vector<char> Stored(const std::string& plain) {
    std::vector<char> text(plain.begin(), plain.end());
    text.push_back('\0');
    ScrambleInPlace(text.data());
    return text;
}

json Product(int id, const std::string& name) {
    return {{"ProductID", id},   {"PVDec", "1.2.3"},         {"ProdVersion", 123},
            {"MinVersion", 100}, {"ZAVRFolderValue", "KA2"}, {"RegistryKey", "Software\\Sim"},
            {"ProdName", name},  {"Simulator", "XSE"},       {"Extra", {1, 2}}};
}

class ProductQueryTest : public ::testing::Test {
  protected:
    // Serves body at /info<i>.json and adds a catalogue row for it.
    void Row(const std::string& body) {
        const std::string path = "/info" + std::to_string(texts.size()) + ".json";
        Answer(path, body);
        texts.push_back(Stored(server.Url(path)));
        texts.push_back(Stored(server.Url("/files/") + std::to_string(texts.size()) + "/"));
    }
    void Answer(const std::string& path, const std::string& body) {
        server.Get(path, [body](const httplib::Request&, httplib::Response& r) {
            r.set_content(body, "text/plain");
        });
    }
    // Runs the query; returns its log entries, or throws what it throws after checking the texts.
    std::vector<std::string> Query() {
        server.Start();
        for (std::size_t i = 0; i < texts.size(); i += 2)
            rows.push_back({texts[i].data(), texts[i + 1].data()});
        const auto before = texts;
        ::testing::internal::CaptureStdout();
        try {
            FetchProductInfo(downloader, rows, simFamily, products);
        } catch (...) {
            logged = LogEntries(::testing::internal::GetCapturedStdout());
            EXPECT_EQ(texts, before) << "every text is scrambled back";
            throw;
        }
        logged = LogEntries(::testing::internal::GetCapturedStdout());
        EXPECT_EQ(texts, before) << "every text is scrambled back";
        return logged;
    }

    // Query() fails naming the first row's reply, then the library's error of the given kind.
    void ExpectRefused(const std::string& kind) {
        try {
            Query();
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what())
                          .rfind("The server's reply to " + server.Url("/info0.json") +
                                     " is not what I expected: [json.exception." + kind,
                                 0),
                      0u)
                << error.what();
        }
    }

    TestServer server;
    std::vector<std::vector<char>> texts;
    Downloader downloader;
    std::vector<CatalogueRow> rows;
    std::string simFamily;
    std::vector<ProductInfo> products;
    std::vector<std::string> logged;
};

TEST_F(ProductQueryTest, ArraysObjectsAndNullsYieldRecordsInOrder) {
    Row(json::array({Product(7, "Alpha"), Product(3, "Beta")}).dump());
    Row("null");
    Row("[]");
    Row(json({{"b", Product(9, "FromB")}, {"a", Product(8, "FromA")}}).dump());
    simFamily = "XSE";
    EXPECT_EQ(Query(), (std::vector<std::string>{
                           "[ZAVR 1] Fetching available product information for XSE...",
                           "[ZAVR 1] Retrieved data about ZAVR product 7: Alpha for XSE",
                           "[ZAVR 1] Retrieved data about ZAVR product 3: Beta for XSE",
                           "[ZAVR 1] Retrieved data about ZAVR product 8: FromA for XSE",
                           "[ZAVR 1] Retrieved data about ZAVR product 9: FromB for XSE",
                       }));
    ASSERT_EQ(products.size(), 4u);
    const ProductInfo& first = products[0];
    EXPECT_EQ(first.InfoUrl, server.Url("/info0.json"));
    EXPECT_EQ(first.FilesUrl, server.Url("/files/1/"));
    EXPECT_EQ(products[1].FilesUrl, first.FilesUrl);
    EXPECT_EQ(first.PVDec, "1.2.3");
    EXPECT_EQ(first.ProdVersion, 123);
    EXPECT_EQ(first.MinVersion, 100);
    EXPECT_EQ(first.ZAVRFolderValue, "KA2");
    EXPECT_EQ(first.RegistryKey, "Software\\Sim");
    EXPECT_EQ(first.TotalFiles, 0);
    EXPECT_EQ(products[3].FilesUrl, server.Url("/files/7/"));
}

TEST_F(ProductQueryTest, NumbersConvertAsTheLibraryConvertsWithinThirtyTwoBits) {
    json product = Product(0, "N");
    product["ProductID"] = 12.9;
    product["ProdVersion"] = true;
    product["MinVersion"] = -3.7;
    Row(json::array({product}).dump());
    Query();
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(products[0].ProductID, 12);
    EXPECT_EQ(products[0].ProdVersion, 1);
    EXPECT_EQ(products[0].MinVersion, -3);
}

TEST_F(ProductQueryTest, AMistypedKeyStopsAtThatProduct) {
    json mistyped = Product(2, "Bad");
    mistyped["PVDec"] = 5;
    Row(json::array({Product(1, "Good"), mistyped, Product(4, "Never")}).dump());
    ExpectRefused("type_error");
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(products[0].ProdName, "Good");
    EXPECT_EQ(logged.back(), "[ZAVR 1] Retrieved data about ZAVR product 1: Good for XSE");
}

TEST_F(ProductQueryTest, AMissingKeyIsATypeError) {
    json missing = Product(3, "Gone");
    missing.erase("Simulator");
    Row(json::array({missing}).dump());
    ExpectRefused("type_error");
    EXPECT_TRUE(products.empty());
}

TEST_F(ProductQueryTest, AScalarTopLevelIsATypeError) {
    Row("42");
    ExpectRefused("type_error");
}

class ProductReplyTest : public ProductQueryTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ProductReplyTest, TextThatIsNotOneJsonValueIsAParseError) {
    Row(GetParam());
    ExpectRefused("parse_error");
}

INSTANTIATE_TEST_SUITE_P(Replies, ProductReplyTest, ::testing::Values("<html>404</html>", "", "[] []", "[1"));

class TotalsTest : public ::testing::Test {
  protected:
    void Serve(const std::string& body) {
        server.Get("/totals", [body](const httplib::Request&, httplib::Response& r) {
            r.set_content(body, "text/plain");
        });
        server.Start();
    }

    TestServer server;
    // The totals base is built into the program; the test server stands in as its proxy.
    test::ScopedEnv proxy{"http_proxy", server.ProxyAddress()};
    test::ScopedEnv noProxy{"no_proxy", std::nullopt};
    Downloader downloader;
    ProductInfo product = [] {
        ProductInfo p;
        p.ProductID = 12;
        p.TotalFiles = -1;
        p.TotalFileSize = -1;
        return p;
    }();
};

TEST_F(TotalsTest, ReadsTheFirstElementAndAsksWithProductAndVersion) {
    Serve(R"([{"TotalFiles": 3, "TotalFileSize": 1200, "More": 1}, {"TotalFiles": 9}])");
    FetchManifestTotals(downloader, product, 10500);
    EXPECT_EQ(product.TotalFiles, 3);
    EXPECT_EQ(product.TotalFileSize, 1200);
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0], std::string(ZAVR_UPDATE_SERVER) + "totals?product=12&version=10500");
}

TEST_F(TotalsTest, AMissingOrMistypedSizeCountsAsZero) {
    Serve(R"([{"TotalFiles": 3, "TotalFileSize": "big"}])");
    FetchManifestTotals(downloader, product, -5);
    EXPECT_EQ(product.TotalFiles, 3);
    EXPECT_EQ(product.TotalFileSize, 0);
    EXPECT_EQ(server.Requests()[0], std::string(ZAVR_UPDATE_SERVER) + "totals?product=12&version=-5");
}

class TotalsErrorTest : public TotalsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(TotalsErrorTest, AnUnexpectedReplyRaisesAndKeepsTheTotals) {
    Serve(GetParam());
    EXPECT_THROW(FetchManifestTotals(downloader, product, 1), std::runtime_error);
    EXPECT_EQ(product.TotalFiles, -1);
    EXPECT_EQ(product.TotalFileSize, -1);
}

INSTANTIATE_TEST_SUITE_P(Replies, TotalsErrorTest,
                         ::testing::Values("[]", "null", R"({"TotalFiles": 3})", R"([{"TotalFileSize": 3}])",
                                           R"([{"TotalFiles": "3"}])", "[7]", "<html>500</html>", ""));

}  // namespace
}  // namespace zavr
