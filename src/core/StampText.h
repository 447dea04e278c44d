#pragma once

#include <string>

namespace quillex {

// A frame stamp (days since 1899-12-30, local time) as "yyyy-mm-ddThh:nn:ss.zzz", the form of
// the time columns of the level table and the limit event log.
std::string IsoStampText(double Stamp);

// Appends Value with Decimals decimals and "." whatever the locale, as the peak table and the
// limit event log write numbers; a value that rounds to zero shows no sign.
void AppendFixed(std::string& Out, double Value, int Decimals);

} // namespace quillex
