#include "BandStats.h"

#include "FrameProcessor.h"
#include "WindowSpectrum.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <numbers>

namespace quillex {

namespace {

constexpr double SpectrumMHz = 40.0;
constexpr double MagnitudeReference = 16384.0;
// The level scale's floor, -180 dBm, as a power.
constexpr double PowerFloor = 1e-18;

// Cells below Truncation times the estimate enter the next one; the mean of an exponential
// truncated there is TruncatedMean times its own.
constexpr double Truncation = 2.5;
const double TruncatedMean =
    1.0 - Truncation * std::exp(-Truncation) / (1.0 - std::exp(-Truncation));
constexpr int MaxIterations = 100;
// The estimate starts from this quantile of the cells, that of an exponential being
// -ln(1 - StartShare) times its mean.
constexpr double StartShare = 0.1;
constexpr double Settled = 1e-6;

// Share of the band's power cut from each side for the occupied bandwidth.
constexpr double ObwCut = 0.005;

// Bins beyond a band that the peak rules and the interpolation read (floor 3..18 bins away,
// excursion within 32, the fit within 4).
constexpr int PeakMargin = 40;

// A frame's powers are summed in float over a block of this many frames (within 2e-5 of the
// exact sum), then in double.
constexpr int BlockFrames = 256;

// Histogram classes: a float's bit pattern shifted right by ClassShift, 16 per octave, every
// float (NaN and infinity included) in one of them.
constexpr int ClassShift = 19;
constexpr int16_t Classes = 1 << (32 - 1 - ClassShift);
// Cells below the floor in squared magnitude (a bin of nothing at all, as a block of zeros
// gives) are no noise: the noise estimate leaves out the histogram classes below this one.
const int FloorClass =
    int(std::bit_cast<uint32_t>(float(PowerFloor * MagnitudeReference * MagnitudeReference)) >>
        ClassShift);

// Adds each bin's power to Block and files its class into Class: no logarithm, only the
// power's bits.
inline void PowersLoop(const float* M, float* Block, int16_t* Class, int First, int Last)
{
    for (int k = First; k <= Last; ++k) {
        const float p = M[k] * M[k];
        Block[k] += p;
        Class[k] = int16_t((std::bit_cast<uint32_t>(p) >> ClassShift) & uint32_t(Classes - 1));
    }
}

void PowersPortable(const float* M, float* Block, int16_t* Class, int First, int Last)
{
    PowersLoop(M, Block, Class, First, Last);
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("arch=x86-64-v3")))
#endif
void PowersWide(const float* M, float* Block, int16_t* Class, int First, int Last)
{
    PowersLoop(M, Block, Class, First, Last);
}

// Four sums side by side: the additions need not wait for each other.
double Sum(const double* V, int Count)
{
    double a = 0, b = 0, c = 0, d = 0;
    int i = 0;
    for (; i + 4 <= Count; i += 4) {
        a += V[i];
        b += V[i + 1];
        c += V[i + 2];
        d += V[i + 3];
    }
    for (; i < Count; ++i)
        a += V[i];
    return (a + b) + (c + d);
}

double DbOf(double PowerMw)
{
    return 10.0 * std::log10(PowerMw + PowerFloor);
}

} // namespace

TBinRange BandBins(const TBand& Band, const TBandSpectrum& Spectrum)
{
    const double low = std::min(Band.LowMHz, Band.HighMHz) - Spectrum.FreqOffsetMHz;
    const double high = std::max(Band.LowMHz, Band.HighMHz) - Spectrum.FreqOffsetMHz;
    return PhysicalBinsInView(low * 1000.0, high * 1000.0, Spectrum.N, Spectrum.Inverted);
}

double NoiseBandwidthBins(const TDXFFT& FFT)
{
    return ResolutionBandwidthKHz(FFT) / (SpectrumMHz * 1000.0 / double(FFT.Size()));
}

void TBandStats::Configure(const TBandSpectrum& Spectrum, std::span<const TBand> Bands)
{
    FSpectrum = Spectrum;
    const int n = std::max(Spectrum.N, 0);
    FBands.resize(Bands.size());
    FResults.resize(Bands.size());
    FCounts.assign(Bands.size() * size_t(Classes), 0);
    FCumCounts.resize(size_t(Classes));
    FCumSums.resize(size_t(Classes));
    FPower.assign(size_t(n), 0.0);
    FBlock.assign(size_t(n), 0.0f);
    FClass.assign(size_t(n), 0);
    FBlockFrames = 0;
    FMagnitudes.assign(size_t(n), 0.0f);
    FHull = {};
    for (size_t b = 0; b < Bands.size(); ++b) {
        TBandState& s = FBands[b];
        s = {};
        s.Bins = BandBins(Bands[b], Spectrum);
        s.Counts = b * size_t(Classes);
        if (s.Bins.Last < s.Bins.First)
            continue;
        const TBinRange wide{std::max(0, s.Bins.First - PeakMargin),
                             std::min(n - 1, s.Bins.Last + PeakMargin)};
        FHull = FHull.Last < FHull.First
                    ? wide
                    : TBinRange{std::min(FHull.First, wide.First), std::max(FHull.Last, wide.Last)};
    }
    FFrames = 0;
}

void TBandStats::Clear()
{
    for (TBandState& s : FBands) {
        if (s.Highest >= s.Lowest)
            std::fill(FCounts.begin() + ptrdiff_t(s.Counts + size_t(s.Lowest)),
                      FCounts.begin() + ptrdiff_t(s.Counts + size_t(s.Highest) + 1), uint64_t(0));
        s.Lowest = INT_MAX;
        s.Highest = -1;
    }
    if (FHull.Last >= FHull.First) {
        std::fill(&FPower[size_t(FHull.First)], &FPower[size_t(FHull.Last)] + 1, 0.0);
        if (FBlockFrames > 0) // else Flush left it cleared
            std::fill(&FBlock[size_t(FHull.First)], &FBlock[size_t(FHull.Last)] + 1, 0.0f);
    }
    FBlockFrames = 0;
    FFrames = 0;
}

bool TBandStats::Add(std::span<const float> Magnitudes)
{
    if (FSpectrum.N <= 0 || Magnitudes.size() != size_t(FSpectrum.N))
        return false;
    if (FHull.Last >= FHull.First)
        (WideLoopsSupported() ? PowersWide : PowersPortable)(
            Magnitudes.data(), FBlock.data(), FClass.data(), FHull.First, FHull.Last);
    const int16_t* classes = FClass.data();
    for (TBandState& s : FBands) {
        if (s.Bins.Last < s.Bins.First)
            continue;
        int16_t lowest = Classes, highest = 0;
        for (int k = s.Bins.First; k <= s.Bins.Last; ++k) {
            lowest = std::min(lowest, classes[k]);
            highest = std::max(highest, classes[k]);
        }
        s.Lowest = std::min(s.Lowest, int(lowest));
        s.Highest = std::max(s.Highest, int(highest));
        uint64_t* counts = FCounts.data() + s.Counts;
        for (int k = s.Bins.First; k <= s.Bins.Last; ++k)
            ++counts[classes[k]];
    }
    ++FFrames;
    if (++FBlockFrames == BlockFrames)
        Flush();
    return true;
}

void TBandStats::Flush()
{
    for (int k = FHull.First; k <= FHull.Last; ++k) {
        FPower[size_t(k)] += FBlock[size_t(k)];
        FBlock[size_t(k)] = 0;
    }
    FBlockFrames = 0;
}

// mu of the band's cells by the truncated mean (see the header), and how many cells stand
// OccupancyThresholdDb above it.
TBandStats::TNoise TBandStats::Noise(const TBandState& Band, int64_t Cells)
{
    const uint64_t* counts = FCounts.data() + Band.Counts;
    // Empty bins at the floor would drag the estimate down to nothing: they do not count.
    const int lo = std::max(Band.Lowest, FloorClass), hi = Band.Highest;
    for (int c = Band.Lowest; c < lo && c <= hi; ++c)
        Cells -= int64_t(counts[c]);
    if (hi < lo || Cells <= 0)
        return {TBandResult::None, 0.0};
    const auto edge = [](int c) { return double(std::bit_cast<float>(uint32_t(c) << ClassShift)); };
    // Cumulative cells and powers from class lo on, formed only as far as they are read (a
    // frame's carriers may reach far above the classes that matter).
    int built = lo - 1;
    double n = 0, sum = 0;
    const auto extend = [&](int c) {
        for (c = std::min(c, hi); built < c;) {
            ++built;
            n += counts[built];
            // The mid-point of a class is its cells' mean: the class is narrow and linear.
            sum += counts[built] * double(std::bit_cast<float>((uint32_t(built) << ClassShift) +
                                                               (1u << (ClassShift - 1))));
            FCumCounts[size_t(built - lo)] = n;
            FCumSums[size_t(built - lo)] = sum;
        }
    };
    const auto cumCount = [&](int c) {
        extend(c);
        return c < lo ? 0.0 : FCumCounts[size_t(std::min(c, hi) - lo)];
    };
    const auto cumSum = [&](int c) {
        extend(c);
        return c < lo ? 0.0 : FCumSums[size_t(std::min(c, hi) - lo)];
    };
    // Cells below V, and the sum of their powers into Sum.
    const auto countBelow = [&](double V, double& Sum) {
        const uint32_t bits = std::bit_cast<uint32_t>(float(V));
        const int c = int(bits >> ClassShift);
        if (!(V > 0) || c < lo) {
            Sum = 0;
            return 0.0;
        }
        if (c > hi) {
            Sum = cumSum(hi);
            return cumCount(hi);
        }
        const double part =
            counts[c] * double(bits & ((1u << ClassShift) - 1)) / double(1u << ClassShift);
        Sum = cumSum(c - 1) + part * 0.5 * (edge(c) + V);
        return cumCount(c - 1) + part;
    };
    // The start: the lowest tenth of the cells, which carriers on most of them leave to the
    // noise, found by class and then linearly inside it.
    const double tenth = StartShare * double(Cells);
    while (built < hi && n < tenth)
        extend(built + 1);
    const int c = built;
    const double inside = counts[c] ? (tenth - cumCount(c - 1)) / counts[c] : 0.0;
    double mu = std::bit_cast<float>((uint32_t(c) << ClassShift) +
                                     uint32_t(inside * double(1u << ClassShift))) /
                -std::log1p(-StartShare);
    for (int i = 0; i < MaxIterations; ++i) {
        double below;
        const double kept = countBelow(Truncation * mu, below);
        if (!(kept > 0))
            break;
        const double next = below / kept / TruncatedMean;
        const bool settled = std::fabs(next - mu) <= Settled * mu;
        mu = next;
        if (settled)
            break;
    }
    double unused;
    const double quiet = countBelow(mu * std::pow(10.0, OccupancyThresholdDb / 10.0), unused);
    return {mu, mu > 0 ? double(Cells) - quiet : 0.0};
}

// Width in bins of the middle 99 % of the group's power in Bins, each bin's power spread evenly
// over it.
double TBandStats::OccupiedBins(const TBinRange& Bins, double Total) const
{
    const double* p = FPower.data();
    if (!(Total > 0) || !std::isfinite(Total))
        return TBandResult::None;
    const double cut = ObwCut * Total;
    double below = 0;
    int k = Bins.First;
    while (k < Bins.Last && below + p[k] < cut)
        below += p[k++];
    const double low = k - 0.5 + (cut - below) / p[k];
    double above = 0;
    k = Bins.Last;
    while (k > Bins.First && above + p[k] < cut)
        above += p[k--];
    const double high = k + 0.5 - (cut - above) / p[k];
    return high - low;
}

void TBandStats::FindPeak(const TBinRange& Bins, TBandResult& Result)
{
    TPeak peak;
    if (FSearch.Strongest(FMagnitudes.data(), FSpectrum.N, FSpectrum.Window, Bins.First, Bins.Last,
                          0.0, 1, &peak) != 1)
        return;
    Result.HasPeak = true;
    Result.PeakMHz = DisplayedMHz(DisplayedBin(peak.Bin, FSpectrum.N, FSpectrum.Inverted),
                                  FSpectrum.N, FSpectrum.FreqOffsetMHz);
    Result.PeakDbm = LevelFromMagnitude(peak.Magnitude);
}

std::span<const TBandResult> TBandStats::Compute()
{
    Flush();
    const double frames = double(FFrames);
    if (FFrames > 0 && FindPeaks) {
        const double perFrame = 1.0 / frames;
        for (int k = FHull.First; k <= FHull.Last; ++k)
            FMagnitudes[size_t(k)] = std::sqrt(float(FPower[size_t(k)] * perFrame));
    }
    const double scale = 1.0 / (MagnitudeReference * MagnitudeReference);
    const double enbw = FSpectrum.NoiseBandwidthBins;
    const double binHz = SpectrumMHz * 1e6 / double(std::max(FSpectrum.N, 1));
    for (size_t b = 0; b < FBands.size(); ++b) {
        const TBandState& s = FBands[b];
        TBandResult& r = FResults[b];
        r = {};
        r.Bins = s.Bins;
        r.Frames = FFrames;
        const int bins = s.Bins.Last - s.Bins.First + 1;
        if (FFrames == 0 || bins <= 0)
            continue;
        const double sum = Sum(FPower.data() + s.Bins.First, bins);
        r.PowerDbm = DbOf(sum / frames / enbw * scale);
        const int64_t cells = FFrames * bins;
        const TNoise noise = Noise(s, cells);
        r.NoiseDbmHz = DbOf(noise.Mu * scale) - 10.0 * std::log10(enbw * binHz);
        r.OccupancyPct = 100.0 * noise.Occupied / double(cells);
        r.ObwKHz = OccupiedBins(s.Bins, sum) * binHz / 1000.0;
        if (FindPeaks)
            FindPeak(s.Bins, r);
    }
    return FResults;
}

} // namespace quillex
