// The DIO peripheral's firmware side: per port three 16-bit words (enabled, direction, state), the
// levels applied to the pins from outside (what a test drives), the output latch, and a start-up
// configuration per port.
//
// Model of the device:
// - A port's DIO pins are those the product's DI and DO maps name; a pin can be an input when the
//   DI map names it and an output when the DO map does. A mask of 0xFFFF addresses the whole port;
//   any other mask must name DIO pins of the port only (status 11 otherwise, also for a port the
//   product does not have).
// - Configuring pins (SET_DIO_CURRENT, TOGGLE_DIO_DIR, SET_SLOT_*) needs them free for DIO: pin
//   mode Idle, DI or DO. Enabled inputs become DI, enabled outputs DO, disabled pins Idle. A pin
//   busy with another function, or asked for a direction it cannot take, fails the whole command
//   with status 50; the whole-port mask leaves busy pins alone instead.
// - Inputs are sampled into the state word by READ_DI / READ_AND_GET_DI; outputs are driven from
//   the state word by WRITE_DO / SET_AND_WRITE_DO / TOGGLE_AND_WRITE_DO, and when configured.
// - Products whose directions are wired in hardware start with every DIO pin enabled (outputs
//   where only the DO map names a pin, inputs otherwise) and their pin modes as the pin-mode table
//   starts (Idle); the others start with every pin disabled.
//
// Replies: [port, status] for commands that report a status; [port, word hi, word lo, ...] for
// those that return words, or [port, status] when they fail.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <variant>
#include <vector>

#include "zelvo/sim/firmware.hpp"

namespace zelvo::sim {

// Command codes, under the names the library gives them.
namespace diocmd {
inline constexpr int LOAD_DIO_STARTUP = 224;
inline constexpr int SAVE_DIO_STARTUP = 225;
inline constexpr int GET_DIO_CURRENT = 226;
inline constexpr int SET_DIO_CURRENT = 227;
inline constexpr int TOGGLE_DIO_DIR = 228;
inline constexpr int GET_DIO_STATE = 229;
inline constexpr int SET_DIO_STATE = 230;
inline constexpr int READ_DI = 231;
inline constexpr int WRITE_DO = 232;
inline constexpr int READ_AND_GET_DI = 233;
inline constexpr int SET_AND_WRITE_DO = 234;
inline constexpr int SET_SLOT_DI = 235;
inline constexpr int SET_SLOT_DO = 236;
inline constexpr int SET_SLOT_IDLE = 237;
inline constexpr int TOGGLE_AND_WRITE_DO = 238;
}  // namespace diocmd

// Configuration words of a port, one bit per pin.
struct DioWords {
  std::uint16_t enabled = 0, direction = 0, state = 0;
  friend bool operator==(const DioWords&, const DioWords&) = default;
};

class DioFirmware final : public FirmwareModule {
 public:
  void install(Firmware& fw) override;

  // Controls and views for tests and the Python API; safe from any thread. A port the product
  // does not have, or a pin that is not a DIO pin of the port, throws std::invalid_argument.
  std::vector<int> ports() const;
  void setInput(int port, int pin, bool level);
  void setInputs(int port, std::uint16_t levels);
  std::uint16_t inputs(int port) const;
  // The levels the port drives: enabled outputs only.
  std::uint16_t outputs(int port) const;
  DioWords words(int port) const;
  DioWords startup(int port) const;

  // Called (with the firmware's lock held) after a command changed the levels a port drives.
  using OutputWatcher = std::function<void(int port, std::uint16_t before, std::uint16_t after)>;
  void watchOutputs(OutputWatcher w);

 private:
  struct Port {
    std::uint16_t pins = 0;  // DIO pins of the port
    std::uint16_t can_input = 0, can_output = 0;
    DioWords now, boot;
    std::uint16_t latch = 0;   // last levels written to the outputs
    std::uint16_t levels = 0;  // levels applied to the pins from outside
    std::uint16_t driven() const { return latch & now.enabled & now.direction; }
  };
  static constexpr std::size_t kMaxWords = 4;
  using Words = std::array<std::uint16_t, kMaxWords>;
  // What a command answers after the port: a status byte, or words.
  using Outcome = std::variant<Byte, std::vector<std::uint16_t>>;
  // Whether a command's first word is a mask of the pins it addresses, or it addresses the port.
  enum class Addressing { Mask, Port };
  // A command on an existing port: `sel` holds the pins it addresses, `w` the words it carries.
  using Body = std::function<Outcome(int number, Port& p, std::uint16_t sel, const Words& w)>;

  // Registers a command that carries `words` 16-bit words after the port byte. Too short a
  // request is answered [port, 80]; a port the product lacks, or a mask naming pins the port
  // lacks, [port, 11].
  void route(int code, std::size_t words, Addressing addressing, Body body);
  Port* find(int number);
  const Port& known(int number) const;
  // Sets the words of the addressed pins (all checks first); returns the status.
  Byte configure(int number, Port& p, std::uint16_t mask, const DioWords& w);
  // Whether the enabled pins can take the directions asked of them.
  static bool directionsFit(const Port& p, std::uint16_t enabled, std::uint16_t direction);
  // Pins of `sel` whose mode is neither Idle, DI nor DO.
  std::uint16_t busyPins(int number, std::uint16_t sel) const;
  // Enabled inputs among `sel` take the outside levels into the state word.
  static void sample(Port& p, std::uint16_t sel);
  // Enabled outputs among `sel` drive their state.
  static void write(Port& p, std::uint16_t sel);

  Firmware* fw_ = nullptr;
  std::map<int, Port> ports_;
  std::vector<OutputWatcher> output_watchers_;
};

}  // namespace zelvo::sim
