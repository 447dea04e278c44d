#include "LimitEpisodes.h"

#include "DXVector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using namespace quillex;

namespace {

const double None = std::numeric_limits<double>::quiet_NaN();

double Level(double m)
{
    return 20 * std::log10(m / 16384 + 1e-9);
}
float Magnitude(double level)
{
    return static_cast<float>(16384 * (std::pow(10.0, level / 20) - 1e-9));
}

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

// A frame beyond neither limit, or beyond the upper (a carrier at -40 dBm at bin 100) or the
// lower one (bin 300, a carrier of -90 dBm, dips to -130 dBm), or both.
std::vector<float> Frame(bool Upper, bool Lower)
{
    std::vector<float> m(512, Magnitude(-110));
    m[300] = Magnitude(Lower ? -130 : -90);
    if (Upper)
        m[100] = Magnitude(-40);
    return m;
}

double TimeOf(int i)
{
    return 46000.0 + i * 0.1 / 86400.0;
}

struct TEnded
{
    int AtFrame;
    TLimitEpisode Episode;
};

// Runs frames 0 .. Count-1 (Upper(i), Lower(i)) and Finish, collecting the episodes ended.
template <class TUpper, class TLower>
std::vector<TEnded> RunFrames(TLimitEpisodes& episodes, int Count, TUpper Upper, TLower Lower)
{
    TLimits limits;
    limits.Upper = FlatCurve(-60);
    // Only around the carrier at bin 300 (23.4375 MHz): none elsewhere.
    limits.Lower = TLimitCurve({{23, None}, {23.2, -120}, {23.6, -120}, {23.8, None}});
    TLimitCheck check;
    check.Set(limits, {512, 0, 0, false});
    std::vector<TEnded> ended;
    for (int i = 0; i < Count; ++i) {
        const std::vector<float> m = Frame(Upper(i), Lower(i));
        const TLimitStep& step =
            episodes.Frame(check, check.Check(m.data()), m.data(), 1000 + i, TimeOf(i));
        for (int e = 0; e < step.EndedCount; ++e)
            ended.push_back({i, step.Ended[e]});
    }
    const TLimitStep& last = episodes.Finish();
    for (int e = 0; e < last.EndedCount; ++e)
        ended.push_back({Count, last.Ended[e]});
    return ended;
}

void ExpectEpisode(const TEnded& got, int atFrame, TLimitKind kind, int first, int last)
{
    EXPECT_EQ(got.AtFrame, atFrame);
    EXPECT_EQ(got.Episode.Kind, kind);
    EXPECT_EQ(got.Episode.FirstFrame, 1000 + first);
    EXPECT_EQ(got.Episode.LastFrame, 1000 + last);
    EXPECT_EQ(got.Episode.Start, TimeOf(first));
    EXPECT_EQ(got.Episode.End, TimeOf(last));
}

} // namespace

TEST(LimitEpisodes, EachKindStartsAndEndsOnItsOwnAfterTheHoldOff)
{
    // Frames every 0.1 s. Upper: 10 .. 12, a gap of 0.6 s, 18 .. 19, then 35. Lower: 15 .. 16.
    auto upper = [](int i) { return (i >= 10 && i <= 12) || i == 18 || i == 19 || i == 35; };
    auto lower = [](int i) { return i == 15 || i == 16; };
    TLimitEpisodes episodes;
    const std::vector<TEnded> ended = RunFrames(episodes, 50, upper, lower);
    ASSERT_EQ(ended.size(), 3u);
    // An episode ends at the first frame a whole second after its last frame beyond.
    ExpectEpisode(ended[0], 26, TLimitKind::Lower, 15, 16);
    ExpectEpisode(ended[1], 29, TLimitKind::Upper, 10, 19);
    ExpectEpisode(ended[2], 45, TLimitKind::Upper, 35, 35);

    // A shorter hold-off splits the first upper episode; the end of the run ends an open one.
    ASSERT_TRUE(episodes.SetHoldOffSeconds(0.5));
    const std::vector<TEnded> split = RunFrames(episodes, 38, upper, lower);
    ASSERT_EQ(split.size(), 4u);
    ExpectEpisode(split[0], 17, TLimitKind::Upper, 10, 12);
    ExpectEpisode(split[1], 21, TLimitKind::Lower, 15, 16);
    ExpectEpisode(split[2], 24, TLimitKind::Upper, 18, 19);
    ExpectEpisode(split[3], 38, TLimitKind::Upper, 35, 35);
    EXPECT_FALSE(episodes.IsOpen(TLimitKind::Upper));

    // Frames beyond in a row are one episode however far apart; no hold-off ends an
    // episode at the next frame that is not beyond.
    ASSERT_TRUE(episodes.SetHoldOffSeconds(0));
    const std::vector<TEnded> tight = RunFrames(
        episodes, 10, [](int i) { return i == 3 || i == 4 || i == 6; }, [](int) { return false; });
    ASSERT_EQ(tight.size(), 2u);
    ExpectEpisode(tight[0], 5, TLimitKind::Upper, 3, 4);
    ExpectEpisode(tight[1], 7, TLimitKind::Upper, 6, 6);

    // The end of a run ends both kinds' episodes.
    const std::vector<TEnded> both = RunFrames(
        episodes, 3, [](int i) { return i == 2; }, [](int i) { return i >= 1; });
    ASSERT_EQ(both.size(), 2u);
    ExpectEpisode(both[0], 3, TLimitKind::Upper, 2, 2);
    ExpectEpisode(both[1], 3, TLimitKind::Lower, 1, 2);

    EXPECT_FALSE(episodes.SetHoldOffSeconds(-1));
    EXPECT_FALSE(episodes.SetHoldOffSeconds(std::numeric_limits<double>::quiet_NaN()));
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
            TLimits limits;
            limits.Upper = TLimitCurve({{5.0, -40}, {45.0, -20}});
            TLimitCheck check;
            check.Set(limits, grid);
            const TLimitFrame& r = check.Check(m.data());
            ASSERT_TRUE(r[TLimitKind::Upper].Beyond);
            const TLimitWorst worst =
                LimitWorstPoint(check, r, TLimitKind::Upper, m.data(), window);
            EXPECT_NEAR(worst.MHz, mhz, 0.01 * binWidth);
            EXPECT_NEAR(worst.Dbm, level, 0.02);
            EXPECT_NEAR(worst.ExcessDb, level - (-40 + 0.5 * (mhz - 5.0)), 0.02 + 0.01 * binWidth);

            // With the limit only on the tone's strongest bin's side of the interpolated
            // frequency, that frequency has no limit, and the bin itself is the worst point.
            if (offset == 0.0)
                continue; // the tone on the bin: the interpolation lands on it
            const int k = static_cast<int>(std::lround(bin));
            const double binMHz = 5.0 + (n - 1 - k) * binWidth;
            if (mhz > binMHz)
                limits.Upper = TLimitCurve({{5.0, -40}, {binMHz, -40}, {binMHz + 1e-6, None}});
            else
                limits.Upper = TLimitCurve({{binMHz - 1e-6, None}, {binMHz, -40}, {45.0, -40}});
            check.Set(limits, grid);
            const TLimitWorst edge =
                LimitWorstPoint(check, check.Check(m.data()), TLimitKind::Upper, m.data(), window);
            EXPECT_DOUBLE_EQ(edge.MHz, binMHz);
            EXPECT_NEAR(edge.Dbm, Level(m[k]) + 2.0, 1e-6);
            EXPECT_NEAR(edge.ExcessDb, Level(m[k]) + 2.0 + 40, 1e-4);

            // A limit that climbs steeply from the bin towards the interpolated frequency
            // puts the tone under it there: the bin again, which is beyond the limit.
            const double climb = mhz > binMHz ? 1e-6 : -1e-6;
            limits.Upper = TLimitCurve(
                climb > 0 ? std::vector<TLimitPoint>{{binMHz, -40}, {binMHz + climb, 40}}
                          : std::vector<TLimitPoint>{{binMHz + climb, 40}, {binMHz, -40}});
            check.Set(limits, grid);
            const TLimitWorst steep =
                LimitWorstPoint(check, check.Check(m.data()), TLimitKind::Upper, m.data(), window);
            EXPECT_DOUBLE_EQ(steep.MHz, binMHz);
            EXPECT_NEAR(steep.ExcessDb, Level(m[k]) + 2.0 + 40, 1e-4);
        }
}

TEST(LimitEpisodes, AToneJustAboveTheLimitAndToneHalfwayBetweenTwoBins)
{
    const int n = 1024;
    const double binWidth = 40.0 / n;
    const TLimitGrid grid{n, 0.0, 0.0, false};
    TLimitCheck check;
    TLimits limits;

    // Half a dB above the limit: interpolated, although the bin itself is less than that.
    const std::vector<float> m = ToneMagnitudes(10, wnHanning, 400.1, 3000);
    const double level = Level(ToneMagnitudes(10, wnHanning, 400, 3000)[400]);
    limits.Upper = FlatCurve(level - 0.5);
    check.Set(limits, grid);
    const TLimitWorst just =
        LimitWorstPoint(check, check.Check(m.data()), TLimitKind::Upper, m.data(), wnHanning);
    EXPECT_NEAR(just.MHz, 400.1 * binWidth, 0.01 * binWidth);
    EXPECT_NEAR(just.ExcessDb, 0.5, 0.02);

    // Two equal bins 200 and 201, as a tone halfway between them shows: under a flat limit
    // the lower is the worst bin and the tone's peak; under a limit falling with frequency
    // the upper one is worst, which is no peak, so it is the worst point itself.
    std::vector<float> pair(n, 0.0f);
    pair[199] = pair[202] = 1000.0f;
    pair[200] = pair[201] = 3000.0f;
    limits.Upper = FlatCurve(-40);
    check.Set(limits, grid);
    const TLimitWorst halfway =
        LimitWorstPoint(check, check.Check(pair.data()), TLimitKind::Upper, pair.data(), wnHanning);
    EXPECT_NEAR(halfway.MHz, 200.5 * binWidth, 0.01 * binWidth);
    EXPECT_GT(halfway.Dbm, Level(3000));
    limits.Upper = TLimitCurve({{0, -40}, {40, -80}});
    check.Set(limits, grid);
    const TLimitWorst falling =
        LimitWorstPoint(check, check.Check(pair.data()), TLimitKind::Upper, pair.data(), wnHanning);
    EXPECT_DOUBLE_EQ(falling.MHz, 201 * binWidth);
    EXPECT_NEAR(falling.Dbm, Level(3000), 1e-6);
}

TEST(LimitEpisodes, TheWorstPointOfALowerLimitIsTheDeepestBin)
{
    const int n = 1024;
    TLimits limits;
    TLimitCheck check;
    std::vector<float> dip(n, Magnitude(-100));
    dip[700] = Magnitude(-131.5);
    dip[701] = Magnitude(-125);
    limits.Lower = FlatCurve(-120 - 4.0);
    check.Set(limits, {n, 3.0, -4.0, true});
    const TLimitFrame& low = check.Check(dip.data());
    ASSERT_TRUE(low[TLimitKind::Lower].Beyond);
    const TLimitWorst worst = LimitWorstPoint(check, low, TLimitKind::Lower, dip.data(), wnHanning);
    EXPECT_DOUBLE_EQ(worst.MHz, 3.0 + (n - 1 - 700) * 40.0 / n);
    EXPECT_NEAR(worst.Dbm, -131.5 - 4.0, 1e-4);
    EXPECT_NEAR(worst.ExcessDb, 11.5, 1e-4);
}

TEST(LimitEpisodes, AnEpisodesWorstPointIsItsFramesLargestExcessTheEarliestOnATie)
{
    const int n = 1024;
    TLimits limits;
    limits.Upper = FlatCurve(-40);
    TLimitCheck check;
    check.Set(limits, {n, 0.0, 0.0, false});
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
