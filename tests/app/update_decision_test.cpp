#include "app/update_decision.h"

#include <gtest/gtest.h>

namespace zavr {
namespace {

TEST(UpdateDecisionTest, TheInstalledVersionAgainstTheProductsRange) {
    ProductInfo product;
    product.MinVersion = 100;
    product.ProdVersion = 123;
    const struct {
        std::int32_t installed;
        UpdateDecision decision;
    } cases[] = {
        {0, UpdateDecision::OutDated},  {99, UpdateDecision::OutDated}, {100, UpdateDecision::Due},
        {122, UpdateDecision::Due},     {123, UpdateDecision::Current}, {124, UpdateDecision::Current},
        {-5, UpdateDecision::OutDated},
    };
    for (const auto& c : cases) EXPECT_EQ(DecideUpdate(c.installed, product), c.decision) << c.installed;
    product.MinVersion = 130;  // a range that holds nothing: out-dated wins, as the run always reported
    EXPECT_EQ(DecideUpdate(125, product), UpdateDecision::OutDated);
}

}  // namespace
}  // namespace zavr
