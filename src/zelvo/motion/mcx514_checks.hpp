// The argument checks of the four-axis motion module. Each accepts a small set of values and
// raises its own warning class (MotionAxisError, MotionStopModeError, ...) for anything else;
// all of them run before anything is sent.
#pragma once

#include <cstdint>

#include "zelvo/catalogue/catalogue.hpp"
#include "zelvo/core/errors.hpp"

namespace zelvo::mcx514 {

// Raises `error` unless 0 <= value <= highest.
bool checkChoice(std::int64_t value, std::int64_t highest, Err error);

inline bool checkAxis(std::int64_t axis) { return checkChoice(axis, 3, Err::MotionAxisError); }
inline bool checkStopMode(std::int64_t mode) { return checkChoice(mode, 1, Err::MotionStopModeError); }
inline bool checkSearchType(std::int64_t type) { return checkChoice(type, 2, Err::MotionSearchTypeError); }
inline bool checkSearchDirection(std::int64_t dir) { return checkChoice(dir, 1, Err::MotionSearchDirectionError); }
inline bool checkEnable(std::int64_t status) { return checkChoice(status, 1, Err::MotionEnableError); }
inline bool checkStepperOutput(std::int64_t status) { return checkChoice(status, 1, Err::MotionStepperOutputError); }
inline bool checkDirection(std::int64_t dir) { return checkChoice(dir, 1, Err::MotionDirectionError); }
inline bool checkPolarity(std::int64_t status) { return checkChoice(status, 1, Err::MotionPolarityError); }
inline bool checkCaptureType(std::int64_t status) { return checkChoice(status, 1, Err::MotionCaptureTypeError); }
inline bool checkCaptureMode(std::int64_t status) { return checkChoice(status, 1, Err::MotionCaptureModeError); }
inline bool checkBreakPointMode(std::int64_t status) { return checkChoice(status, 1, Err::MotionBreakPointModeError); }
inline bool checkOperationMode(std::int64_t status) { return checkChoice(status, 2, Err::MotionOperationModeError); }
inline bool checkAccelerationMode(std::int64_t status) {
  return checkChoice(status, 2, Err::MotionAccelerationModeError);
}

// Values that end in fixed-width register fields: InputDataNotInRangeError naming `what` unless
// the value fits (and, for speeds and accelerations, is at least 1).
std::int64_t checkI32(std::int64_t v, const char* what);
std::int64_t checkU32(std::int64_t v, const char* what);
std::int64_t checkU16(std::int64_t v, const char* what);
// A speed or an acceleration: 1 .. 2^32 - 1 (its magnitude, for a signed velocity).
std::int64_t checkRate(std::int64_t v, const char* what);
// A percentage: finite and not negative.
double checkPercent(double v, const char* what);

}  // namespace zelvo::mcx514
