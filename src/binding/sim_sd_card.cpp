// dev.sd: the emulated device's SD card: whether one is inserted, its size, its files and the file
// the device has open.
#include <nanobind/stl/map.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include "binding/sim_group.hpp"
#include "zelvo/sim/sd_card_firmware.hpp"

namespace zelvo::py {
namespace {

using namespace nb::literals;

struct SdGroup : PeripheralGroup<sim::SDCardFirmware> {
  sim::SDCardFirmware& sd() const { return module(); }
};

nb::bytes pyBytes(const Bytes& b) { return nb::bytes(reinterpret_cast<const char*>(b.data()), b.size()); }

nb::dict files(const SdGroup& g) {
  nb::dict out;
  for (const auto& [name, contents] : g.sd().files()) out[nb::str(name.data(), name.size())] = pyBytes(contents);
  return out;
}

nb::object openFile(const SdGroup& g) {
  const auto f = g.sd().openFile();
  if (!f) return nb::none();
  return nb::make_tuple(nb::str(f->name.data(), f->name.size()), static_cast<int>(f->mode), f->position);
}

void putFile(const SdGroup& g, const std::string& name, nb::bytes contents) {
  const auto* data = static_cast<const Byte*>(contents.data());
  g.sd().putFile(name, Bytes(data, data + contents.size()));
}

}  // namespace

void bindSdCardControls(nb::module_& s, nb::handle tcp, nb::handle usb) {
  using G = SdGroup;
  nb::class_<G>(s, "SdCardControls",
                "The SD card of an emulated device (dev.sd): an in-memory file system, nothing on the host's\n"
                "disk.")
      .def_prop_rw("inserted", [](const G& g) { return g.sd().inserted(); },
                   [](const G& g, bool on) { g.sd().setInserted(on); },
                   "Whether a card is in the slot (True); pulling it out unmounts it.")
      .def_prop_rw("capacity", [](const G& g) { return g.sd().capacityMB(); },
                   [](const G& g, std::uint32_t mb) { g.sd().setCapacityMB(mb); },
                   "The card's size in megabytes (16384); writes beyond it fail with status 40.")
      .def_prop_ro("mounted", [](const G& g) { return g.sd().mounted(); }, "Whether the device has mounted the card.")
      .def_prop_ro("files", &files, "{name: contents} of every file on the card.")
      .def("put_file", &putFile, "name"_a, "contents"_a, "Puts a file on the card (replacing one of that name).")
      .def_prop_ro("open_file", &openFile,
                   "(name, mode, position) of the file the device has open (mode 0 write, 1 read); None.");
  addGroupProperty<G>(tcp, usb, "sd", "SD card", "SD card (SdCardControls).");
}

}  // namespace zelvo::py
