#include "zelvo/analog/ai_module.hpp"

namespace zelvo {

AIModule::AIModule(Device& dev, const ProductSpec& spec) : dev_(dev), spec_(spec) {}

AI24BitModule::AI24BitModule(Device& dev, const ProductSpec& spec) : dev_(dev), spec_(spec) {}

}  // namespace zelvo
