#include "zelvo/dio/dio_module.hpp"

namespace zelvo {

DIOModule::DIOModule(Device& dev, const ProductSpec& spec) : dev_(dev), spec_(spec) {}

}  // namespace zelvo
