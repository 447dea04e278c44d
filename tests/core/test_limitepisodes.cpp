#include "LimitEpisodes.h"

#include "DXVector.h"
#include "test_limit_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

using namespace quillex;

namespace {

// The program's magnitudes of a cosine of Amplitude at physical bin position Bin (the
// frame's first 2N samples), through the FFT and window the window uses.
std::vector<float> ToneMagnitudes(int Exponent, TDXLeakType Window, double Bin, double Amplitude)
{
    const int n = 1 << Exponent;
    TDXFFT fft;
    fft.setExponent(Exponent);
    fft.setLeakFunction(Window);
    TDXComplexVector* out = fft.CreateComplexVector(n);
    std::vector<int16_t> samples(8192, 0);
    for (int i = 0; i < 2 * n; ++i)
        samples[i] = static_cast<int16_t>(std::lround(Amplitude * std::cos(M_PI * Bin * i / n)));
    EXPECT_TRUE(fft.RealFFTOfSamples(samples.data(), out, false));
    std::vector<float> m(out->Real->Values, out->Real->Values + n);
    for (float& v : m)
        v = std::fabs(v);
    return m;
}

// The worst point of a frame beyond the limit of Kind.
TLimitWorst Worst(const TLimits& Limits, const TLimitGrid& Grid, const std::vector<float>& M,
                  TDXLeakType Window, TLimitKind Kind = TLimitKind::Upper)
{
    TLimitCheck check;
    check.Set(Limits, Grid);
    const TLimitFrame& r = check.Check(M.data());
    EXPECT_TRUE(r[Kind].Beyond);
    return LimitWorstPoint(check, r, Kind, M.data(), Window);
}

TLimits UpperOnly(const TLimitCurve& Curve)
{
    TLimits limits;
    limits.Upper = Curve;
    return limits;
}

double TimeOf(int i)
{
    return 46000.0 + i * 0.1 / 86400.0;
}

// Frame at which an episode ended, its kind, first and last frame beyond the limit.
using TEnded = std::tuple<int, TLimitKind, int64_t, int64_t>;

// Runs frames 0 .. Count-1 and Finish, and checks the episodes ended against Want. A frame is
// beyond the upper limit (a carrier at -40 dBm at bin 100) where Upper(i), and the lower one
// (the carrier at bin 300 dips from -90 to -130 dBm) where Lower(i).
template <class TUpper, class TLower>
void ExpectEpisodes(TLimitEpisodes& Episodes, int Count, TUpper Upper, TLower Lower,
                    const std::vector<TEnded>& Want)
{
    TLimits limits = UpperOnly(FlatCurve(-60));
    // Only around the carrier at bin 300 (23.4375 MHz): none elsewhere.
    limits.Lower = TLimitCurve({{23, None}, {23.2, -120}, {23.6, -120}, {23.8, None}});
    TLimitCheck check;
    check.Set(limits, {512, 0, 0, false});
    std::vector<TEnded> got;
    const auto collect = [&](const TLimitStep& Step, int At) {
        for (int e = 0; e < Step.EndedCount; ++e) {
            const TLimitEpisode& episode = Step.Ended[size_t(e)];
            got.emplace_back(At, episode.Kind, episode.FirstFrame - 1000, episode.LastFrame - 1000);
            EXPECT_TRUE(episode.Start == TimeOf(int(episode.FirstFrame - 1000)) &&
                        episode.End == TimeOf(int(episode.LastFrame - 1000)))
                << "times of the episode ended at " << At;
        }
    };
    for (int i = 0; i < Count; ++i) {
        std::vector<float> m(512, Magnitude(-110));
        m[300] = Magnitude(Lower(i) ? -130 : -90);
        if (Upper(i))
            m[100] = Magnitude(-40);
        collect(Episodes.Frame(check, check.Check(m.data()), m.data(), 1000 + i, TimeOf(i)), i);
    }
    collect(Episodes.Finish(), Count);
    EXPECT_EQ(got, Want);
}

} // namespace

TEST(LimitEpisodes, EachKindStartsAndEndsOnItsOwnAfterTheHoldOff)
{
    using enum TLimitKind;
    // Frames every 0.1 s. Upper: 10 .. 12, a gap of 0.6 s, 18 .. 19, then 35. Lower: 15 .. 16.
    auto upper = [](int i) { return (i >= 10 && i <= 12) || i == 18 || i == 19 || i == 35; };
    auto lower = [](int i) { return i == 15 || i == 16; };
    const auto never = [](int) { return false; };
    TLimitEpisodes episodes;
    // An episode ends at the first frame a whole second after its last frame beyond.
    ExpectEpisodes(episodes, 50, upper, lower,
                   {{26, Lower, 15, 16}, {29, Upper, 10, 19}, {45, Upper, 35, 35}});

    // A shorter hold-off splits the first upper episode; the end of the run ends an open one.
    ASSERT_TRUE(episodes.SetHoldOffSeconds(0.5));
    ExpectEpisodes(
        episodes, 38, upper, lower,
        {{17, Upper, 10, 12}, {21, Lower, 15, 16}, {24, Upper, 18, 19}, {38, Upper, 35, 35}});
    EXPECT_FALSE(episodes.IsOpen(Upper));

    // Frames beyond in a row are one episode however far apart; no hold-off ends an
    // episode at the next frame that is not beyond.
    ASSERT_TRUE(episodes.SetHoldOffSeconds(0));
    ExpectEpisodes(episodes, 10, [](int i) { return i == 3 || i == 4 || i == 6; }, never,
                   {{5, Upper, 3, 4}, {7, Upper, 6, 6}});
    // The end of a run ends both kinds' episodes.
    ExpectEpisodes(
        episodes, 3, [](int i) { return i == 2; }, [](int i) { return i >= 1; },
        {{3, Upper, 2, 2}, {3, Lower, 1, 2}});

    EXPECT_FALSE(episodes.SetHoldOffSeconds(-1));
    EXPECT_FALSE(episodes.SetHoldOffSeconds(None));
    EXPECT_EQ(episodes.HoldOffSeconds(), 0);
}

TEST(LimitEpisodes, TheWorstPointOfAnUpperLimitIsTheInterpolatedTone)
{
    const int exponent = 10;
    const int n = 1 << exponent;
    const double binWidth = 40.0 / n;
    const TLimitGrid grid{n, 5.0, 2.0, true};
    for (const TDXLeakType window : {wnHanning, wnBlackman, wnRectangle})
        for (const double offset : {-0.43, 0.0, 0.37}) {
            SCOPED_TRACE("window " + std::to_string(int(window)) + ", offset " +
                         std::to_string(offset));
            const double bin = 300 + offset;
            const std::vector<float> m = ToneMagnitudes(exponent, window, bin, 3000);
            // What the program shows for the same tone on a bin, and where the tone is shown.
            const double level = Level(ToneMagnitudes(exponent, window, 300, 3000)[300]) + 2.0;
            const double mhz = 5.0 + (n - 1 - bin) * binWidth;
            // A limit rising by 0.5 dB per MHz over the whole spectrum.
            const TLimitWorst worst =
                Worst(UpperOnly(TLimitCurve({{5.0, -40}, {45.0, -20}})), grid, m, window);
            EXPECT_NEAR(worst.MHz, mhz, 0.01 * binWidth);
            EXPECT_NEAR(worst.Dbm, level, 0.02);
            EXPECT_NEAR(worst.ExcessDb, level - (-40 + 0.5 * (mhz - 5.0)), 0.02 + 0.01 * binWidth);

            // With the limit only on the tone's strongest bin's side of the interpolated
            // frequency, that frequency has no limit, and the bin itself is the worst point.
            if (offset == 0.0)
                continue; // the tone on the bin: the interpolation lands on it
            const int k = static_cast<int>(std::lround(bin));
            const double binMHz = 5.0 + (n - 1 - k) * binWidth;
            const TLimitWorst edge = Worst(
                UpperOnly(mhz > binMHz
                              ? TLimitCurve({{5.0, -40}, {binMHz, -40}, {binMHz + 1e-6, None}})
                              : TLimitCurve({{binMHz - 1e-6, None}, {binMHz, -40}, {45.0, -40}})),
                grid, m, window);
            EXPECT_DOUBLE_EQ(edge.MHz, binMHz);
            EXPECT_NEAR(edge.Dbm, Level(m[k]) + 2.0, 1e-6);
            EXPECT_NEAR(edge.ExcessDb, Level(m[k]) + 2.0 + 40, 1e-4);

            // A limit that climbs steeply from the bin towards the interpolated frequency
            // puts the tone under it there: the bin again, which is beyond the limit.
            const TLimitWorst steep =
                Worst(UpperOnly(mhz > binMHz ? TLimitCurve({{binMHz, -40}, {binMHz + 1e-6, 40}})
                                             : TLimitCurve({{binMHz - 1e-6, 40}, {binMHz, -40}})),
                      grid, m, window);
            EXPECT_DOUBLE_EQ(steep.MHz, binMHz);
            EXPECT_NEAR(steep.ExcessDb, Level(m[k]) + 2.0 + 40, 1e-4);
        }
}

TEST(LimitEpisodes, AToneJustAboveTheLimitAndToneHalfwayBetweenTwoBins)
{
    const int n = 1024;
    const double binWidth = 40.0 / n;
    const TLimitGrid grid{n, 0.0, 0.0, false};

    // Half a dB above the limit: interpolated, although the bin itself is less than that.
    const double level = Level(ToneMagnitudes(10, wnHanning, 400, 3000)[400]);
    const TLimitWorst just = Worst(UpperOnly(FlatCurve(level - 0.5)), grid,
                                   ToneMagnitudes(10, wnHanning, 400.1, 3000), wnHanning);
    EXPECT_NEAR(just.MHz, 400.1 * binWidth, 0.01 * binWidth);
    EXPECT_NEAR(just.ExcessDb, 0.5, 0.02);

    // Two equal bins 200 and 201, as a tone halfway between them shows: under a flat limit
    // the lower is the worst bin and the tone's peak; under a limit falling with frequency
    // the upper one is worst, which is no peak, so it is the worst point itself.
    std::vector<float> pair(n, 0.0f);
    pair[199] = pair[202] = 1000.0f;
    pair[200] = pair[201] = 3000.0f;
    const TLimitWorst halfway = Worst(UpperOnly(FlatCurve(-40)), grid, pair, wnHanning);
    EXPECT_NEAR(halfway.MHz, 200.5 * binWidth, 0.01 * binWidth);
    EXPECT_GT(halfway.Dbm, Level(3000));
    const TLimitWorst falling =
        Worst(UpperOnly(TLimitCurve({{0, -40}, {40, -80}})), grid, pair, wnHanning);
    EXPECT_DOUBLE_EQ(falling.MHz, 201 * binWidth);
    EXPECT_NEAR(falling.Dbm, Level(3000), 1e-6);

    // A lower limit's worst point is its deepest bin, not interpolated.
    std::vector<float> dip(n, Magnitude(-100));
    dip[700] = Magnitude(-131.5);
    dip[701] = Magnitude(-125);
    TLimits lower;
    lower.Lower = FlatCurve(-120 - 4.0);
    const TLimitWorst deepest =
        Worst(lower, {n, 3.0, -4.0, true}, dip, wnHanning, TLimitKind::Lower);
    EXPECT_DOUBLE_EQ(deepest.MHz, 3.0 + (n - 1 - 700) * 40.0 / n);
    EXPECT_NEAR(deepest.Dbm, -131.5 - 4.0, 1e-4);
    EXPECT_NEAR(deepest.ExcessDb, 11.5, 1e-4);
}

TEST(LimitEpisodes, AnEpisodesWorstPointIsItsFramesLargestExcessTheEarliestOnATie)
{
    const int n = 1024;
    TLimitCheck check;
    check.Set(UpperOnly(FlatCurve(-40)), {n, 0.0, 0.0, false});
    TLimitEpisodes episodes;
    // Frame 3 is frame 1 moved up by 200 bins: the same excess at another frequency.
    std::vector<std::vector<float>> frames;
    const double amplitudes[] = {3000, 6000, 2000, 0, 4000};
    const double bins[] = {100.3, 200.1, 300.4, 0, 500.0};
    for (int i = 0; i < 5; ++i)
        frames.push_back(ToneMagnitudes(10, wnHanning, bins[i], amplitudes[i]));
    frames[3] = frames[1];
    std::rotate(frames[3].begin(), frames[3].end() - 200, frames[3].end());
    for (int i = 0; i < 5; ++i) {
        const float* m = frames[i].data();
        const TLimitStep& step = episodes.Frame(check, check.Check(m), m, i, TimeOf(i));
        EXPECT_EQ(step.Started[0], i == 0);
        EXPECT_EQ(step.EndedCount, 0);
    }
    ASSERT_TRUE(episodes.IsOpen(TLimitKind::Upper));
    const TLimitWorst worst = episodes.Current(TLimitKind::Upper).Worst;
    const double level = Level(ToneMagnitudes(10, wnHanning, 200, 6000)[200]);
    EXPECT_NEAR(worst.MHz, 200.1 * 40.0 / n, 0.01 * 40.0 / n);
    EXPECT_NEAR(worst.Dbm, level, 0.02);
    EXPECT_NEAR(worst.ExcessDb, level + 40, 0.02);
    const TLimitStep& step = episodes.Finish();
    ASSERT_EQ(step.EndedCount, 1);
    EXPECT_EQ(step.Ended[0].Worst.MHz, worst.MHz);
}
