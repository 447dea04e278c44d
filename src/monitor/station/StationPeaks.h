#pragma once

#include "PeakSearch.h"
#include "Station.h"

#include <string>

namespace quillex::station {

// The API's peaks: the Count strongest interpolated peaks of a frame's magnitudes within the
// monitored span, strongest first, each with its frequency and level as displayed and the
// window's read-out text ("14.2504 MHz  -73.42 dBm"). Frames of N = 0 give no peaks.
std::string PeaksJson(TPeakSearch& Search, const float* Magnitudes, int N, double Time,
                      const TDisplayMapping& Mapping, int Count);

} // namespace quillex::station
