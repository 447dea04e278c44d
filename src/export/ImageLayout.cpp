#include "ImageLayout.h"

#include "DateTimeU.h"
#include "FrameProcessor.h"

#include <algorithm>
#include <charconv>

namespace quillex {

namespace {

constexpr int SpectrumKHz = 40000;
constexpr int TickSteps[] = {10,   20,   25,   50,   100,   200,   250,  500,
                             1000, 2000, 2500, 5000, 10000, 20000, 40000};

std::string Fixed(double Value, int Decimals)
{
    char text[48];
    const auto [end, ec] =
        std::to_chars(text, text + sizeof text, Value, std::chars_format::fixed, Decimals);
    return ec == std::errc() ? std::string(text, end) : std::string();
}

int64_t DayOf(double Stamp)
{
    int y, m, d, h, n, s, z;
    DecodeDateTime(Stamp, y, m, d, h, n, s, z);
    return (int64_t(y) * 16 + m) * 32 + d;
}

} // namespace

int FrequencyDecimals(double FreqOffsetMHz, int StepKHz)
{
    int decimals = 3;
    if (RoundHalfEven(FreqOffsetMHz * 10.0) % 10 == 0)
        decimals = 1;
    else if (RoundHalfEven(FreqOffsetMHz * 100.0) % 10 == 0)
        decimals = 2;
    const int stepDecimals = StepKHz % 100 == 0 ? 1 : StepKHz % 10 == 0 ? 2 : 3;
    return std::max(decimals, stepDecimals);
}

std::vector<TFrequencyTick> FrequencyTicks(const TSpan& Span, double FreqOffsetMHz,
                                           const TTextWidth& TextWidth, int MinGap)
{
    // Bin b lies at b * 40000 / N kHz; the ticks stay within the span's bins.
    const int64_t firstKHz = (int64_t(Span.StartBin) * SpectrumKHz + Span.N - 1) / Span.N;
    const int64_t lastKHz = int64_t(Span.StartBin + Span.Length - 1) * SpectrumKHz / Span.N;
    std::vector<TFrequencyTick> ticks;
    for (const int step : TickSteps) {
        ticks.clear();
        const int decimals = FrequencyDecimals(FreqOffsetMHz, step);
        for (int64_t f = (firstKHz + step - 1) / step * step; f <= lastKHz; f += step) {
            TFrequencyTick tick;
            tick.X =
                static_cast<int>((f * Span.N - int64_t(Span.StartBin) * SpectrumKHz) / SpectrumKHz);
            tick.Text = Fixed((FreqOffsetMHz * 1000.0 + double(f)) / 1000.0, decimals);
            ticks.push_back(std::move(tick));
        }
        // A step fits when its widest label and the gap do; measuring stops at the first
        // label that does not, since text measurement is slow and the smallest steps of a
        // wide span have thousands of labels.
        const int64_t spacing = int64_t(step) * Span.N / SpectrumKHz;
        if (ticks.size() < 2 ||
            std::all_of(ticks.begin(), ticks.end(), [&](const TFrequencyTick& T) {
                return TextWidth(T.Text) + MinGap <= spacing;
            }))
            return ticks;
    }
    return ticks;
}

int64_t TimeLabelTop(int64_t Row, int LineHeight)
{
    return Row - LineHeight / 2;
}

std::vector<TTimeLabel> PlaceTimeLabels(const std::vector<std::pair<int64_t, double>>& Stamps,
                                        int LineHeight, int Gap, int64_t Bottom)
{
    std::vector<TTimeLabel> labels;
    int64_t freeFrom = INT64_MIN / 2;
    int64_t shownDay = -1;
    for (const auto& [row, stamp] : Stamps) {
        const int64_t day = DayOf(stamp);
        const bool showDate = day != shownDay;
        const int64_t height = LineHeight * (showDate ? 2 : 1);
        const int64_t top = std::min(TimeLabelTop(row, LineHeight), Bottom - height);
        if (top < freeFrom)
            continue;
        labels.push_back({row, top, stamp, showDate});
        shownDay = day;
        freeFrom = top + height + Gap;
    }
    return labels;
}

} // namespace quillex
