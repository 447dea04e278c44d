// The monitor's outputs on the stand-in receiver, against the signal the stand-in makes.

#include "monitor_test_support.h"

#include <cmath>
#include <ctime>
#include <png.h>

namespace {

struct TImage
{
    int Width = 0, Height = 0;
    std::vector<uint8_t> Pixels;
    uint32_t At(int X, int Y) const
    {
        const uint8_t* p = &Pixels[(size_t(Y) * size_t(Width) + size_t(X)) * 3];
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
};

TImage ReadImage(const fs::path& File)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    TImage image;
    if (png_image_begin_read_from_file(&png, File.c_str()) == 0)
        return image;
    png.format = PNG_FORMAT_RGB;
    image.Pixels.resize(PNG_IMAGE_SIZE(png));
    if (png_image_finish_read(&png, nullptr, image.Pixels.data(), 0, nullptr) != 0) {
        image.Width = int(png.width);
        image.Height = int(png.height);
    }
    return image;
}

// Rows with data: neither background, axis nor grey in the middle of the spectrum.
std::vector<int> DataRows(const TImage& Image)
{
    std::vector<int> rows;
    for (int y = 0; y < Image.Height; ++y)
        if (const uint32_t c = Image.At(Image.Width / 2, y);
            c != 0xC0C0C0 && c != 0xFFFFFF && c != 0)
            rows.push_back(y);
    return rows;
}

constexpr int N = 4096;

// The columns of row Y in the palette's top colour (red), counted from the waterfall's left
// edge, which is where the frequency axis's line begins below the rows.
std::vector<int> RedColumns(const TImage& Image, int Y)
{
    const int middle = Image.Width / 2;
    int axis = Y;
    while (Image.At(middle, axis) != 0)
        ++axis;
    int left = 0;
    while (Image.At(left, axis) != 0)
        ++left;
    std::vector<int> red;
    for (int x = left; x < left + N && x < Image.Width; ++x)
        if (Image.At(x, Y) == 0xFF0000)
            red.push_back(x - left);
    return red;
}
constexpr double BinMHz = 40.0 / N;
constexpr double ToneMHz = 728 * BinMHz; // exactly on a bin
constexpr double ToneAmplitude = 2000;
constexpr double Sigma = 20;
constexpr double BurstMHz = 1540 * BinMHz;
constexpr double BurstAmplitude = 4000;

// A tone of amplitude A (in samples) exactly on a bin reads A there: the level's scale is
// 20 log10(m / 16384), so its power is (A / 16384)^2 mW. Noise of variance s^2 has twice its
// mean square on that scale (as the tone's A^2 / 2 reads A^2), spread over 0..40 MHz.
double ToneDbm(double A)
{
    return 20 * std::log10(A / 16384);
}
double NoiseDensity(double S)
{
    return 2 * S * S / (16384.0 * 16384.0) / 40e6;
}
double Dbm(double Milliwatts)
{
    return 10 * std::log10(Milliwatts);
}
// Bins whose centres lie in Low..High.
int BinsIn(double Low, double High)
{
    return int(std::floor(High / BinMHz + 1e-9) - std::ceil(Low / BinMHz - 1e-9)) + 1;
}

double Number(const std::string& Text)
{
    return Text.empty() ? NAN : std::stod(Text);
}

std::string Tone()
{
    return std::to_string(ToneMHz) + ":" + std::to_string(ToneAmplitude);
}

} // namespace

TEST_F(MonitorTest, BandStatisticsOfAToneOverNoiseAndTheDayImage)
{
    ASSERT_EQ(Run({"--out", Out.string(), "--fft-exponent", "12", "--frame-rate", "0",
                   "--stats-interval-s", "1", "--duration-s", "4.5", "--max-dbm", "-40", "--band",
                   "tone=7.0:7.3", "--band", "quiet=12.0:12.5"},
                  StandIn(Tone(), std::to_string(Sigma))),
              0);
    const auto rows = StatsRows();
    ASSERT_GE(rows.size(), 8u);
    // A file per local day, named after it, as the lines' times are.
    const std::time_t now = std::time(nullptr);
    char today[16];
    std::strftime(today, sizeof today, "%Y-%m-%d", std::localtime(&now));
    EXPECT_TRUE(fs::exists(Out / "stats" / (std::string(today) + ".csv")));
    EXPECT_EQ(rows.back()[0].substr(0, 10), today);
    const double density = NoiseDensity(Sigma);
    const double binHz = BinMHz * 1e6;
    std::vector<std::pair<double, int64_t>> starts; // (seconds of the day, first frame)
    for (size_t r = 0; r + 1 < rows.size(); r += 2) {
        const auto& tone = rows[r];
        const auto& quiet = rows[r + 1];
        ASSERT_EQ(tone.size(), 12u);
        // A line per band and interval, both with the interval's time and first frame.
        EXPECT_EQ(tone[3], "tone");
        EXPECT_EQ(quiet[3], "quiet");
        EXPECT_EQ(tone[0], quiet[0]);
        EXPECT_EQ(tone[2], quiet[2]);
        EXPECT_EQ(tone[1], "1");
        const double noiseInBand = density * binHz * BinsIn(7.0, 7.3);
        EXPECT_NEAR(Number(tone[6]), Dbm(std::pow(10, ToneDbm(ToneAmplitude) / 10) + noiseInBand),
                    0.1);
        EXPECT_NEAR(Number(tone[10]), ToneMHz, 1e-4);
        EXPECT_NEAR(Number(tone[11]), ToneDbm(ToneAmplitude), 0.05);
        EXPECT_NEAR(Number(tone[7]), Dbm(density), 1.0);
        if (r == 0 || r + 2 >= rows.size())
            continue; // the first and last intervals are cut short
        EXPECT_NEAR(Number(quiet[6]), Dbm(density * binHz * BinsIn(12.0, 12.5)), 0.2);
        EXPECT_NEAR(Number(quiet[7]), Dbm(density), 0.5);
        EXPECT_LT(Number(quiet[8]), 0.1);
        const std::string& t = tone[0]; // yyyy-mm-ddThh:nn:ss.zzz
        starts.emplace_back(std::stod(t.substr(11, 2)) * 3600 + std::stod(t.substr(14, 2)) * 60 +
                                std::stod(t.substr(17)),
                            std::stoll(tone[2]));
    }
    // Whole intervals a second apart, on the second (a second divides the day), each of a
    // second's frames.
    for (size_t i = 1; i < starts.size(); ++i) {
        EXPECT_NEAR(starts[i].first, std::round(starts[i].first), 0.002);
        EXPECT_NEAR(starts[i].first - starts[i - 1].first, 1.0, 0.02);
        // A loaded machine may move a few frames into the next interval.
        EXPECT_NEAR(double(starts[i].second - starts[i - 1].second), 140, 25);
    }

    // The day's image: the interval's row coloured, the tone's bins in the top colour (red),
    // the hour before without data (grey).
    const TImage image = ReadImage(*fs::directory_iterator(Out / "waterfall"));
    ASSERT_GT(image.Width, 0);
    const auto at = [&](int x, int y) { return image.At(x, y); };
    const std::vector<int> data = DataRows(image);
    const int middle = image.Width / 2;
    ASSERT_FALSE(data.empty());
    EXPECT_LE(data.size(), 2u); // a row per minute: the run may cross into the next
    const int y = data.front();
    EXPECT_EQ(at(middle, y - 60), 0xC0C0C0u);
    const std::vector<int> red = RedColumns(image, y);
    ASSERT_FALSE(red.empty());
    EXPECT_GE(red.front(), 726);
    EXPECT_LE(red.back(), 730);
    EXPECT_TRUE(std::find(red.begin(), red.end(), 728) != red.end());
}

// A run later the same day keeps the rows of the one before (two minutes earlier here, by
// the clock seam) in the day's image.
TEST_F(MonitorTest, TheDayImageKeepsTheRowsOfAnEarlierRunThatDay)
{
    const fs::path clock = Dir / "clock";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // Two minutes off, towards the middle of the day.
    WriteFile(clock, local.tm_hour < 12 ? "120" : "-120");
    Env env = StandIn(Tone(), std::to_string(Sigma));
    env.emplace_back("QX_TEST_CLOCK_FILE", clock.string());
    const std::vector<std::string> args = {"--out",        Out.string(), "--stats-interval-s", "1",
                                           "--duration-s", "1.5",        "--fft-exponent",     "12",
                                           "--max-dbm",    "-40"};
    ASSERT_EQ(Run(args, env), 0);
    WriteFile(clock, "0");
    ASSERT_EQ(Run(args, env), 0);
    const TImage image = ReadImage(*fs::directory_iterator(Out / "waterfall"));
    const std::vector<int> rows = DataRows(image);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_GE(rows.back() - rows.front(), 1);
    EXPECT_LE(rows.back() - rows.front(), 3);
    for (const int y : {rows.front(), rows.back()}) {
        const std::vector<int> red = RedColumns(image, y);
        EXPECT_TRUE(std::find(red.begin(), red.end(), 728) != red.end()) << y;
    }
}

// Bursts above a flat upper limit: an episode each, logged when it ends and recorded with the
// seconds around it; SIGTERM in the middle of one ends it, logs it and closes its recording.
TEST_F(MonitorTest, EpisodesAndRecordingsOnAlarmAndAnEndInTheMiddleOfOne)
{
    WriteFile(Dir / "limits.csv", "MHz,upper_dBm,lower_dBm\n1,-15,\n39,-15,\n");
    Env env = StandIn(Tone(), std::to_string(Sigma));
    const double period = 1.5, length = 0.4;
    env.emplace_back("QX_STANDIN_BURST", std::to_string(BurstMHz) + ":" +
                                             std::to_string(BurstAmplitude) + ":" +
                                             std::to_string(period) + ":" + std::to_string(length));
    Start({"--out", Out.string(), "--fft-exponent", "12", "--frame-rate", "0", "--limits",
           (Dir / "limits.csv").string(), "--hold-off-s", "0.3", "--record-on-alarm", "--pre-s",
           "0.5", "--post-s", "0.3", "--band", "b=14:16"},
          env);
    // The stand-in's bursts follow the monotonic clock, which this process reads alike.
    const auto phase = [&] {
        return std::fmod(
            std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
                .count(),
            period);
    };
    Sleep(4.0);
    while (std::fabs(phase() - length / 2) > 0.02)
        Sleep(0.005);
    Signal(SIGTERM);
    const auto stop = std::chrono::steady_clock::now();
    ASSERT_EQ(Wait(5), 0);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - stop).count(), 2.0);

    const auto lines = ReadLines(Out / "events.csv");
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "start,end,first_frame,last_frame,kind,MHz,dBm,excess_dB");
    const double burstDbm = ToneDbm(BurstAmplitude);
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto f = Fields(lines[i]);
        ASSERT_EQ(f.size(), 8u) << lines[i];
        EXPECT_EQ(f[4], "upper");
        EXPECT_NEAR(Number(f[5]), BurstMHz, 1e-3);
        EXPECT_NEAR(Number(f[6]), burstDbm, 0.1);
        EXPECT_NEAR(Number(f[7]), burstDbm + 15, 0.1);
        // Whole bursts last their length; the one SIGTERM cut, half of it. The first may have
        // begun before the receiver delivered.
        if (i == 1)
            continue;
        const double frames = double(std::stoll(f[3]) - std::stoll(f[2]) + 1);
        const double expected = (i + 1 == lines.size() ? length / 2 : length) * 150;
        EXPECT_NEAR(frames, expected, 0.2 * expected) << lines[i];
    }
    // A recording per episode, whole, with the offsets header, the seconds before and after.
    std::vector<fs::path> recordings;
    for (const auto& e : fs::directory_iterator(Out / "alarms"))
        recordings.push_back(e.path());
    std::sort(recordings.begin(), recordings.end());
    ASSERT_EQ(recordings.size(), lines.size() - 1);
    for (size_t i = 0; i < recordings.size(); ++i) {
        const auto bytes = fs::file_size(recordings[i]);
        EXPECT_EQ(bytes % 16392, 0u);
        std::ifstream in(recordings[i], std::ios::binary);
        std::string head(8, '\0');
        in.read(head.data(), 8);
        EXPECT_EQ(head, "Offsets:");
        const double seconds = double(bytes / 16392 - 1) / 150;
        const double expected = i + 1 == recordings.size() ? 0.5 + length / 2 : 0.5 + length + 0.3;
        if (i > 0) {
            EXPECT_NEAR(seconds, expected, 0.15) << recordings[i];
        }
    }
}
