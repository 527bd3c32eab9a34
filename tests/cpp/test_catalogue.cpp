// The catalogue's entries against its module list and its own model fields: a row that lists a
// module without the data the module is built from (or data without a module to use it), or a
// model field that contradicts the row, fails here instead of at construction on one product.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "zelvo/catalogue/catalogue.hpp"

namespace {

using zelvo::AIRateLimit;
using zelvo::ModuleId;
using zelvo::ProductSpec;

// Whether an entry holds an optional slice (the system slice and no_data are not optional).
template <class T>
bool holds(const std::optional<T>& slice) {
  return slice.has_value();
}
bool holds(std::nullopt_t) { return false; }
bool holds(const zelvo::SystemData&) { return false; }
// Whether a module built from the slice can be: an optional slice must be there.
template <class T>
bool suffices(const std::optional<T>& slice) {
  return slice.has_value();
}
bool suffices(std::nullopt_t) { return true; }
bool suffices(const zelvo::SystemData&) { return true; }

class CatalogueEntry : public ::testing::TestWithParam<ProductSpec> {};

TEST_P(CatalogueEntry, EveryListedModuleHasItsDataAndAllDataHasAModule) {
  const ProductSpec& p = GetParam();
  std::vector<std::string> used;  // the slices of the modules the entry lists
#define ZELVO_MODULE(Id, Name, Data, Library, Binder, Firmware) \
  if (p.has(ModuleId::Id)) {                                    \
    EXPECT_TRUE(suffices(p.Data)) << Name << " without " #Data; \
    used.push_back(#Data);                                      \
  }
#include "zelvo/catalogue/module_list.def"
#undef ZELVO_MODULE
  auto listed = [&](const char* slice) { return std::find(used.begin(), used.end(), slice) != used.end(); };
#define ZELVO_MODULE(Id, Name, Data, Library, Binder, Firmware) \
  EXPECT_TRUE(!holds(p.Data) || listed(#Data)) << #Data << " without a module";
#include "zelvo/catalogue/module_list.def"
#undef ZELVO_MODULE
}

TEST_P(CatalogueEntry, ModelFieldsAgreeWithTheRow) {
  const ProductSpec& p = GetParam();
  if (!p.ai) return;
  const zelvo::AIData& ai = *p.ai;
  EXPECT_EQ(ai.samples_24bit, p.has(ModuleId::AI24BitStreaming)) << "the 24-bit stream is that module's";
  EXPECT_EQ(ai.chip_selects, p.system.slots) << "chip selects come with the modular controller's slots";
  EXPECT_EQ(ai.slot_ports, p.system.slots);
  // Every analog input model has a sampling-rate limit; the highest is ai_max_rate.
  EXPECT_NE(ai.rate_limit, AIRateLimit::None);
  const bool per_count = ai.rate_limit == AIRateLimit::PerChannelCount || ai.rate_limit == AIRateLimit::PerChipSelectCount;
  EXPECT_EQ(per_count, !ai.rate_by_count.empty());
  if (per_count) {
    EXPECT_EQ(*std::max_element(ai.rate_by_count.begin(), ai.rate_by_count.end()), ai.ai_max_rate);
  }
}

INSTANTIATE_TEST_SUITE_P(Products, CatalogueEntry, ::testing::ValuesIn(zelvo::products()),
                         [](const auto& p) { return p.param.class_name; });

}  // namespace
