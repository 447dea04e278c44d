// The frame recipe on frames made here: a tone's averages and levels, a marker that follows
// it, episodes whose hold-off runs on the steady time while their times are the wall's, and a
// recording on alarm named by the wall clock. The window's tests cover seeks and six markers.

#include "DateTimeU.h"
#include "FrameRecipe.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <unistd.h>

namespace {

constexpr int N = 4096;
constexpr double Day = 1.0 / 86400;

// A tone of amplitude A (samples) at fractional bin Bin.
std::array<int16_t, 8192> Tone(double Bin, double A)
{
    std::array<int16_t, 8192> block{};
    for (int i = 0; i < 2 * N; ++i)
        block[size_t(i)] = int16_t(std::lrint(A * std::cos(M_PI * Bin * i / N)));
    return block;
}

} // namespace

TEST(FrameRecipe, ToneMarkerAndEpisodesWithWallTimes)
{
    quillex::TFrameRecipe recipe;
    recipe.Configure({12, wnHanning, 1, true, 0, 0});
    const auto tone = Tone(728, 2000);
    ASSERT_TRUE(recipe.Process(tone.data(), 0, {}));
    // Hann on a bin reads the amplitude; the levels are mirrored.
    EXPECT_NEAR(recipe.Averages()[728], 2000, 2);
    EXPECT_NEAR(recipe.Levels()[N - 1 - 728], 20 * std::log10(2000.0 / 16384), 0.01);

    // A max hold keeps the louder frame, the markers may sit on it; another averaging starts
    // it anew.
    recipe.SetHolds({true, false, false, 10});
    recipe.Process(tone.data(), 0, {});
    const auto quieter = Tone(728, 1000);
    recipe.Process(quieter.data(), 0, {});
    recipe.PlaceMarker(1, {728, 0});
    recipe.SetMarkerTrace(quillex::TMarkerTrace::Max); // the marker moves onto it at once
    EXPECT_NEAR(recipe.Marker(1).Magnitude, 2000, 2);
    recipe.Configure({12, wnHanning, 2, true, 0, 0});
    EXPECT_EQ(recipe.Holds().Frames(), 0);
    recipe.Process(tone.data(), 0, {}); // (1000 + 2000) / 2
    EXPECT_NEAR(recipe.Averages()[728], 1500, 2);
    recipe.Configure({12, wnHanning, 1, true, 0, 0});
    recipe.SetHolds({});

    recipe.PlaceMarker(1, {728, 2000});
    const auto moved = Tone(729.5, 1000);
    recipe.Process(moved.data(), 1, {});
    EXPECT_NEAR(recipe.Marker(1).Bin, 729.5, 0.01);
    EXPECT_NEAR(20 * std::log10(recipe.Marker(1).Magnitude / 1000), 0, 0.01);

    // Frames 3..7 beyond a limit at -30 dBm, a tenth of a second apart; the wall clock steps
    // an hour ahead right after frame 7. A hold-off of 0.3 s ends the episode at frame 10.
    quillex::TLimits limits;
    limits.Upper = quillex::FlatCurve(-30);
    recipe.SetLimits(limits);
    recipe.SetHoldOffSeconds(0.3);
    const auto quiet = Tone(728, 10);
    const double base = 46000;
    int endedAt = -1;
    quillex::TLimitEpisode episode;
    for (int f = 0; f < 14 && endedAt < 0; ++f) {
        const double steady = base + 0.1 * f * Day;
        const double wall = steady + (f >= 8 ? 3600 * Day : 0);
        const bool beyond = f >= 3 && f <= 7;
        recipe.Process((beyond ? tone : quiet).data(), f, {wall, steady});
        EXPECT_EQ(recipe.Beyond(), beyond);
        if (recipe.LimitStep().EndedCount > 0) {
            endedAt = f;
            episode = recipe.LimitStep().Ended[0];
        }
    }
    EXPECT_EQ(endedAt, 10);
    EXPECT_EQ(episode.FirstFrame, 3);
    EXPECT_EQ(episode.LastFrame, 7);
    EXPECT_DOUBLE_EQ(episode.Start, base + 0.3 * Day);
    EXPECT_DOUBLE_EQ(episode.End, base + 0.7 * Day);

    // Half the FFT size: a marker keeps its frequency, one on the last bin stays on the last.
    recipe.PlaceMarker(2, {N - 1, 1});
    recipe.Configure({11, wnHanning, 1, true, 0, 0});
    EXPECT_NEAR(recipe.Marker(1).Bin, 728 / 2, 0.01); // it followed the tone back to 728
    EXPECT_EQ(recipe.Marker(2).Bin, N / 2 - 1);
}

// An alarm's recording has the seconds before it although the wall clock jumped an hour ahead
// on the way (the ring's length follows the pace on the steady time), and it is named by the
// wall clock while the seconds after it run on the steady time.
TEST(FrameRecipe, RecordingOnAlarmNamedByTheWallClock)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("recipe_alarm_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    quillex::TFrameRecording recording;
    recording.StartAlarms({dir.string(), 4.45, 0.15});
    const std::array<int16_t, 8192> block{};
    const double base = quillex::EncodeDateTime(2026, 12, 6, 10, 0, 0);
    for (int f = 0; f < 62; ++f) {
        const double steady = base + 0.1 * f * Day;
        recording.Frame(
            {double(f), {steady + (f >= 30 ? 3600 * Day : 0), steady}, block.data(), f == 60});
    }
    // The header, frames 16 to 59 before the alarm, 60, and 61 within 0.15 s after it.
    const std::filesystem::path file = dir / "limit_2026-12-06_11-00-06.000.spk";
    ASSERT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(std::filesystem::file_size(file), 47u * quillex::FrameRecordSize);
    std::filesystem::remove_all(dir);
}
