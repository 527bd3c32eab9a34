// Binders that add a module's operations and attributes to a product class, one per row of
// module_list.def.
#pragma once

#include <nanobind/nanobind.h>

namespace zelvo::py {

#define ZELVO_MODULE(Id, Name, Data, Library, Binder, Firmware) void Binder(nanobind::handle cls);
#include "zelvo/catalogue/module_list.def"
#undef ZELVO_MODULE

// The queue class the AI modules expose.
void bindSignalQueue(nanobind::module_& m);
// The record classes and register constants of the motion modules.
void bindMotionShared(nanobind::module_& m);

}  // namespace zelvo::py
