// What a run does with one product, given the version installed: a decision of its own, so that it can be
// read, and tested, apart from the folders and messages around it.
#pragma once

#include <cstdint>

#include "server/product_info.h"

namespace zavr {

enum class UpdateDecision {
    OutDated,  // below the product's MinVersion: only the full installer can update it
    Current,   // at or above its ProdVersion
    Due,       // an update is due, if the product's folder is there (the caller looks only now)
};

// Never fails.
UpdateDecision DecideUpdate(std::int32_t installed, const ProductInfo& product);

}  // namespace zavr
