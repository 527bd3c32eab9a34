// Entry points of the binding's parts; module.cpp calls each once.
#pragma once

#include <nanobind/nanobind.h>

namespace zelvo::py {

void bindErrors(nanobind::module_& m);
void bindHelpers(nanobind::module_& m);
void bindClients(nanobind::module_& m);
void bindDevices(nanobind::module_& m);
void bindProducts(nanobind::module_& m);
void bindSim(nanobind::module_& m);
void bindUsbLibrarySearch(nanobind::module_& m);

}  // namespace zelvo::py
