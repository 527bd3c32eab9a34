#include "zelvo/analog/data_logger.hpp"

namespace zelvo {

DataLogger::DataLogger(Device& dev) : dev_(dev) {}

}  // namespace zelvo
