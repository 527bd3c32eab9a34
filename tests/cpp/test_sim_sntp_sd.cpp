// The emulated SNTP client and SD card, command by command in the order a host uses them. (A
// synchronisation is checked through the driver in tests/python/test_network_services.py.)
#include <gtest/gtest.h>

#include "support/firmware_steps.hpp"
#include "zelvo/sim/firmware.hpp"
#include "zelvo/sim/sd_card_firmware.hpp"
#include "zelvo/sim/sntp_firmware.hpp"

namespace {

using zelvo::Byte;
using zelvo::Bytes;
namespace sim = zelvo::sim;

using ztest::runSteps;

Bytes text(const std::string& t, Bytes lead = {}) {
  lead.insert(lead.end(), t.begin(), t.end());
  return lead;
}

TEST(SimSntp, ServerPeriodAndTheServerInUse) {
  sim::Firmware fw(zelvo::product("Kinora"));
  runSteps(fw, {
              {"searching at first", 2626, {0}, {0, 255, 255, 255, 255}},
              {"found on its network", 2625, {}, text("192.168.1.1", {0})},
              {"hourly", 2628, {}, {0x45, 0x61, 0, 0}},
              {"set a server", 2627, {0, 10, 0, 0, 7}, {0}},
              {"shown", 2626, {0}, {0, 10, 0, 0, 7}},
              {"in use", 2625, {}, text("10.0.0.7", {0})},
              {"too short", 2627, {0, 10, 0}, {80}},
              {"every minute", 2629, {0x42, 0x70, 0, 0}, {0}},
              {"period", 2628, {}, {0x42, 0x70, 0, 0}},
              {"negative period", 2629, {0xC2, 0x70, 0, 0}, {80}},
              {"not a number", 2629, {0x7F, 0xC0, 0, 0}, {80}},
          });
  EXPECT_EQ(fw.findModule<sim::SNTPFirmware>()->period(), 60.0F);
}

TEST(SimSdCard, AFileWrittenAndReadBack) {
  sim::Firmware fw(zelvo::product("AerisR3AH"));
  const Bytes name = {'l', 'o', 'g'};
  auto open = [&](Byte mode) {
    Bytes p{mode, Byte(name.size())};
    p.insert(p.end(), name.begin(), name.end());
    return p;
  };
  runSteps(fw, {
              {"open a file before mounting", 2244, open(0), {10}},
              {"capacity while unmounted", 2242, {}, {0, 0, 0, 0}},
              {"mount", 2240, {}, {0}},
              {"capacity", 2242, {}, {0, 0, 0x40, 0}},
              {"read a file that is not there", 2244, open(1), {40}},
              {"unknown mode", 2244, open(2), {80}},
              {"name longer than the payload", 2244, {0, 9, 'a'}, {80}},
              {"create", 2244, open(0), {0}},
              {"a second file at once", 2244, open(0), {10}},
              {"read while writing", 2246, {3}, {10}},
              {"write", 2245, {3, 'a', 'b', 'c'}, {0}},
              {"append", 2245, {2, 'd', 'e'}, {0}},
              {"length beyond the data", 2245, {4, 'x'}, {80}},
              {"close", 2247, {}, {0}},
              {"close again", 2247, {}, {10}},
              {"open to read", 2244, open(1), {0}},
              {"write while reading", 2245, {1, 'x'}, {10}},
              {"read two (sent as 3)", 2246, {3}, {0, 'a', 'b'}},
              {"read the rest", 2246, {10}, {0, 'c', 'd', 'e'}},
              {"at the end", 2246, {5}, {0}},
              {"a count of 0 cannot be n + 1", 2246, {0}, {80}},
              {"unmount closes the file", 2241, {}, {0}},
              {"unmount again", 2241, {}, {10}},
          });
  EXPECT_EQ(fw.findModule<sim::SDCardFirmware>()->files().at("log"), (Bytes{'a', 'b', 'c', 'd', 'e'}));
}

TEST(SimSdCard, NoCardAndAFullCard) {
  sim::Firmware fw(zelvo::product("AerisR3AOD"));
  auto& sd = *fw.findModule<sim::SDCardFirmware>();
  sd.setInserted(false);
  runSteps(fw, {{"no card", 2240, {}, {40}}});
  sd.setInserted(true);
  sd.setCapacityMB(0);
  runSteps(fw, {{"mount", 2240, {}, {0}}, {"create", 2244, {0, 1, 'f'}, {0}}, {"full", 2245, {1, 'x'}, {40}}});
  sd.setInserted(false);  // pulled out: unmounted, the file closed
  EXPECT_FALSE(sd.mounted());
  EXPECT_FALSE(sd.openFile().has_value());
}

}  // namespace
