#include "app/update_decision.h"

namespace zavr {

UpdateDecision DecideUpdate(std::int32_t installed, const ProductInfo& product) {
    if (installed < product.MinVersion) return UpdateDecision::OutDated;
    if (installed >= product.ProdVersion) return UpdateDecision::Current;
    return UpdateDecision::Due;
}

}  // namespace zavr
