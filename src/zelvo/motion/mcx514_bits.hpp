// Bit positions and words of the motion chip that the module writes.
#pragma once

namespace zelvo::mcx514 {

// WR2: input signals of an axis (levels: 1 active high).
namespace wr2 {
inline constexpr int kHomeLevel = 2;
inline constexpr int kHomeEnable = 3;
inline constexpr int kZLevel = 4;
inline constexpr int kInpositionLevel = 6;
inline constexpr int kInpositionEnable = 7;
inline constexpr int kAlarmLevel = 8;
inline constexpr int kAlarmEnable = 9;
inline constexpr int kLimitLevel = 10;
inline constexpr int kLimitEnable = 11;
inline constexpr int kLimitInstantStop = 12;
}  // namespace wr2

// WR3: ramp form and pulse output of an axis.
namespace wr3 {
inline constexpr int kManualDeceleration = 0;
inline constexpr int kAsymmetric = 1;
inline constexpr int kSCurve = 2;
inline constexpr int kPulseMode0 = 3;
inline constexpr int kPulseMode1 = 4;
inline constexpr int kPulseLevel = 5;
inline constexpr int kOnePulseDirection = 6;
inline constexpr int kTwoPulseDirection = 7;
inline constexpr int kEncoderInverse = 11;
}  // namespace wr3

// P2M and MRM bits the break-point output sets.
inline constexpr int kP2MPulseLowActive = 10;
inline constexpr int kP2MSplitPulseOut = 11;
inline constexpr int kMRMCompareBits = 3;  // bits 0..2: the comparison
inline constexpr int kMRMCompareMR0 = 3;

// H1M: the home search steps; H2M: counter resets at its end.
namespace h1m {
inline constexpr int kStep1 = 0;
inline constexpr int kStep1Direction = 1;
inline constexpr int kStep2 = 2;
inline constexpr int kStep2Direction = 3;
inline constexpr int kStep3 = 4;
inline constexpr int kStep3Direction = 5;
inline constexpr int kStep1Limit = 6;
inline constexpr int kOffset = 15;
}  // namespace h1m
namespace h2m {
inline constexpr int kResetLogical = 1;
inline constexpr int kResetReal = 2;
}  // namespace h2m

// IPM: the interpolation's axes (bits 0..3) and form.
namespace ipm {
inline constexpr int kTwoAxes = 6;
inline constexpr int kThreeAxes = 7;
inline constexpr int kSwapped = 4;  // circular: the x axis is the higher one
inline constexpr int kHelical = 8;
}  // namespace ipm

// SYNC action words.
inline constexpr int kBreakPointAction = 369;          // SYNC0: split pulses at the comparison position
inline constexpr int kReverseToForwardAction = 214;    // SYNC1: after the stop, drive forward
inline constexpr int kReverseToBackwardAction = 230;   // SYNC1: after the stop, drive backward
inline constexpr int kCaptureAction[2][2] = {{90, 91}, {106, 107}};  // SYNC3 [mode][type]

// Motion_open: the PIO signal setting of all four axes.
inline constexpr int kAllAxes = 15;
inline constexpr int kPIOState = 5;
// GPIO: the servo-on line.
inline constexpr int kServoLineMask = 1;

// The initial speed of a ramp: int(sqrt(acceleration) * 1.1).
inline constexpr double kInitialSpeedFactor = 1.1;

}  // namespace zelvo::mcx514
