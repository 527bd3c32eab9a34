// The two parts the catalogue is made of (used by catalogue.cpp only).
#pragma once

#include <vector>

#include "zelvo/catalogue/catalogue.hpp"

namespace zelvo::catalogue {

// One entry per product class with its modules and construction data (product_table.cpp).
std::vector<ProductSpec> productTable();

// Sets the model-difference fields of an entry from its class name or model text
// (model_rules.cpp).
void applyModelRules(ProductSpec& p);

}  // namespace zelvo::catalogue
