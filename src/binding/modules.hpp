// Binders that add a module's operations and attributes to a product class.
#pragma once

#include <nanobind/nanobind.h>

#include "zelvo/catalogue/catalogue.hpp"

namespace zelvo::py {

void bindSystemModule(nanobind::handle cls);
void bindDataLogger(nanobind::handle cls);
void bindDIOModule(nanobind::handle cls);
// AIModule, AI24BitStreamingModule (both built on the streaming AI module) and AI24BitModule.
void bindAIModule(nanobind::handle cls);
void bindAI24BitModule(nanobind::handle cls);
// BroadcastModule (DeviceFinder).
void bindBroadcastModule(nanobind::handle cls);
// The queue class the AI modules expose.
void bindSignalQueue(nanobind::module_& m);

}  // namespace zelvo::py
