#include "FrequencySpan.h"

#include "FrameProcessor.h"

#include <algorithm>
#include <cmath>

namespace quillex {

namespace {

constexpr double NarrowestButtonKHz = 5000.0;
constexpr double GridSteps = 20.0;

} // namespace

double LeastSpanKHz(int N)
{
    return std::min(LeastSpanBins * SpanSpectrumKHz / std::max(N, 1), NarrowestButtonKHz);
}

double ClampSpanKHz(double SpanKHz, int N)
{
    if (std::isnan(SpanKHz))
        return SpanSpectrumKHz;
    return std::clamp(SpanKHz, LeastSpanKHz(N), SpanSpectrumKHz);
}

double ClampCentreKHz(double CentreKHz, double SpanKHz)
{
    const double half = std::clamp(SpanKHz, 0.0, SpanSpectrumKHz) / 2.0;
    if (std::isnan(CentreKHz))
        return SpanSpectrumKHz / 2.0;
    return std::clamp(CentreKHz, half, SpanSpectrumKHz - half);
}

TSpanBins SpanBins(double CentreKHz, double SpanKHz, int N)
{
    if (N < 1)
        return {};
    const double binKHz = SpanSpectrumKHz / N;
    const int length = std::clamp(RoundHalfEven(SpanKHz / binKHz), 1, N);
    const int start = RoundHalfEven((CentreKHz - SpanKHz / 2.0) / binKHz);
    return {std::clamp(start, 0, N - length), length};
}

double SpanGridStepKHz(double SpanKHz)
{
    if (!(SpanKHz > 0.0) || !std::isfinite(SpanKHz))
        return 1.0;
    const double least = SpanKHz / GridSteps;
    double decade = std::pow(10.0, std::floor(std::log10(least)));
    for (;; decade *= 10.0)
        for (const double m : {1.0, 2.0, 2.5, 5.0})
            if (m * decade >= least * (1.0 - 1e-12))
                return m * decade;
}

} // namespace quillex
