// Properties on classes the binding builds member by member.
#pragma once

#include <nanobind/nanobind.h>

namespace zelvo::py {

// Sets `cls.name` to property(fget, fset, None, doc); fset None makes it read-only, doc None takes
// the getter's.
inline void setProperty(nanobind::handle cls, const char* name, nanobind::handle fget, nanobind::handle fset,
                        const char* doc) {
  namespace nb = nanobind;
  nb::object d = doc ? nb::object(nb::str(doc)) : nb::none();
  nb::setattr(cls, name, nb::module_::import_("builtins").attr("property")(fget, fset, nb::none(), d));
}

}  // namespace zelvo::py
