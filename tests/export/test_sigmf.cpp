#include "test_export_support.h"

#include "ExportRun.h"
#include "LocalTimeToUtc.h"
#include "SigmfExport.h"

#include <map>
#include <regex>

using namespace quillex;

namespace {

// Berlin's rules, written out so that no zone database is needed.
constexpr const char* Berlin = "CET-1CEST,M3.5.0,M10.5.0/3";

// TZ for the life of the object.
struct TZone
{
    explicit TZone(const char* Zone)
    {
        qputenv("TZ", Zone);
        ::tzset();
    }
    ~TZone()
    {
        Had ? qputenv("TZ", Old) : qunsetenv("TZ");
        ::tzset();
    }
    const bool Had = qEnvironmentVariableIsSet("TZ");
    const QByteArray Old = qgetenv("TZ");
};

std::string Utc(double Local, TLocalToUtc& Converter)
{
    return UtcIsoText(Converter.Convert(Local));
}

QJsonObject ReadJson(const QString& Path)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(FileBytes(Path), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    return doc.object();
}

} // namespace

// Berlin is UTC+1 in winter and UTC+2 in summer. The hour skipped in March takes the
// winter offset; the hour repeated in October is the summer one at first, the winter one
// once the clock has gone back, judged by the time before.
TEST(SigmfTime, LocalStampsBecomeUtcByTheZone)
{
    const TZone zone(Berlin);
    TLocalToUtc c;
    EXPECT_EQ(Utc(EncodeDateTime(2026, 7, 1, 14, 0, 0, 250), c), "2026-07-01T12:00:00.250Z");
    EXPECT_EQ(Utc(EncodeDateTime(2026, 1, 10, 0, 30, 5), c), "2026-01-09T23:30:05.000Z");
    EXPECT_EQ(Utc(EncodeDateTime(2026, 3, 29, 2, 30, 0), c), "2026-03-29T01:30:00.000Z");
    EXPECT_EQ(Utc(EncodeDateTime(2026, 3, 29, 3, 0, 0), c), "2026-03-29T01:00:00.000Z");

    TLocalToUtc night;
    EXPECT_EQ(Utc(EncodeDateTime(2026, 10, 25, 1, 59, 59), night), "2026-10-24T23:59:59.000Z");
    EXPECT_EQ(Utc(EncodeDateTime(2026, 10, 25, 2, 0, 0), night), "2026-10-25T00:00:00.000Z");
    EXPECT_EQ(Utc(EncodeDateTime(2026, 10, 25, 2, 59, 59), night), "2026-10-25T00:59:59.000Z");
    EXPECT_EQ(Utc(EncodeDateTime(2026, 10, 25, 2, 0, 0, 500), night), "2026-10-25T01:00:00.500Z");
    EXPECT_EQ(Utc(EncodeDateTime(2026, 10, 25, 2, 45, 0), night), "2026-10-25T01:45:00.000Z");
    EXPECT_EQ(Utc(EncodeDateTime(2026, 10, 25, 3, 0, 0), night), "2026-10-25T02:00:00.000Z");
    TLocalToUtc fresh; // nothing before: the first of the two
    EXPECT_EQ(Utc(EncodeDateTime(2026, 10, 25, 2, 45, 0), fresh), "2026-10-25T00:45:00.000Z");
    // A clock set back by its time service, up to a minute, stays in the summer hour;
    // further back, the hour has been repeated.
    TLocalToUtc stepped;
    EXPECT_EQ(Utc(EncodeDateTime(2026, 10, 25, 2, 30, 0), stepped), "2026-10-25T00:30:00.000Z");
    EXPECT_EQ(Utc(EncodeDateTime(2026, 10, 25, 2, 29, 0), stepped), "2026-10-25T00:29:00.000Z");
    EXPECT_EQ(Utc(EncodeDateTime(2026, 10, 25, 2, 27, 59, 999), stepped),
              "2026-10-25T01:27:59.999Z");
}

// Whatever a file name holds, the metadata stays valid JSON and reads back as the name,
// bytes that are no UTF-8 as U+FFFD.
TEST(SigmfText, JsonStringsReadBack)
{
    const std::vector<std::pair<std::string, QString>> cases = {
        {"a \"b\" \\c\n\t\x01", QString::fromUtf8("a \"b\" \\c\n\t\x01")},
        {"Fr\xc3\xa9quence \xe2\x82\xac \xf0\x9f\x93\xbb", QString::fromUtf8("Fréquence € 📻")},
        {"x\xff\xc3(\xe2\x82 \xed\xa0\x80\xc0\xaf",
         QString::fromUtf8("x\uFFFD\uFFFD(\uFFFD\uFFFD "
                           "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD")},
    };
    for (const auto& [text, expected] : cases) {
        const std::string json = "{\"k\": " + JsonString(text) + "}";
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << json;
        EXPECT_EQ(doc.object()["k"].toString(), expected) << json;
    }
    // Every lead byte of a sequence and continuation bytes at the edges of their ranges: a
    // sequence is kept when its bits decode to a scalar value that needs all its bytes (no
    // surrogate, at most U+10FFFF); any other byte becomes U+FFFD.
    const auto expected = [](const std::string& Text) {
        std::string out = "\"";
        for (size_t i = 0; i < Text.size();) {
            const auto b = [&](size_t K) { return unsigned(uint8_t(Text[i + K])); };
            const size_t length = b(0) < 0x80       ? 1
                                  : b(0) >> 5 == 6  ? 2
                                  : b(0) >> 4 == 14 ? 3
                                  : b(0) >> 3 == 30 ? 4
                                                    : 0;
            bool valid = length > 0 && i + length <= Text.size();
            unsigned cp = length == 1 ? b(0) : b(0) & (0x7F >> length);
            for (size_t k = 1; valid && k < length; ++k) {
                valid = b(k) >> 6 == 2;
                cp = cp << 6 | (b(k) & 0x3F);
            }
            const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
            valid = valid && cp >= least[length] && (cp < 0xD800 || cp > 0xDFFF) && cp <= 0x10FFFF;
            out += valid ? Text.substr(i, length) : "\\ufffd";
            i += valid ? length : 1;
        }
        return out + '"';
    };
    for (const unsigned lead :
         {0x80, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xED, 0xEF, 0xF0, 0xF3, 0xF4, 0xF5, 0xFF})
        for (const unsigned second : {0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0})
            for (const unsigned rest : {0x7F, 0x80, 0xBF, 0xC0}) {
                const std::string text{char(lead), char(second), char(rest), char(rest)};
                for (size_t n = 1; n <= text.size(); ++n) // and cut short
                    ASSERT_EQ(JsonString(text.substr(0, n)), expected(text.substr(0, n)))
                        << std::hex << lead << " " << second << " " << rest << " " << n;
            }
}

class SigmfProgramTest : public ExportFolderTest
{
protected:
    void SetUp() override
    {
        ExportFolderTest::SetUp();
        // Inverted (negated offset), level offset -3; a summer and a winter stamp in batches
        // of their own, and one on the first frame exported.
        Bytes = MakeRecordingBytes({.N = 256,
                                    .Frames = 150,
                                    .Stamp = [](int64_t f) { return StampOf(f); },
                                    .Header = "Offsets:      -0.500    -3.0"});
        WriteBytes(Path("rec.spk"), Bytes);
    }
    static double StampOf(int64_t Frame)
    {
        return Frame == 3     ? EncodeDateTime(2026, 7, 1, 14, 0, 0, 250)
               : Frame == 70  ? EncodeDateTime(2026, 7, 1, 14, 0, 1, 5)
               : Frame == 140 ? EncodeDateTime(2026, 1, 10, 8, 30, 5)
                              : 0.0;
    }

    std::string Bytes;
};

// The data file holds the chosen frames' samples as recorded; the metadata holds the
// header's offsets, a capture per frame 8192 samples apart and the stamps in UTC. A table
// of the same run shares --first and --last. A recording read without a mapping gives the
// same files.
TEST_F(SigmfProgramTest, RoundTripAgainstTheRecording)
{
    const TZone zone(Berlin);
    RunOk({Path("rec.spk"), "--sigmf", Path("out"), "--csv", Path("t.csv"), "--first", "3",
           "--last", "145"});
    EXPECT_EQ(ReadCsv(Path("t.csv")).size(), 1u + 143u);

    const QByteArray data = FileBytes(Path("out.sigmf-data"));
    ASSERT_EQ(data.size(), 143 * 16384);
    for (int64_t f = 3; f <= 145; ++f)
        ASSERT_EQ(data.mid((f - 3) * 16384, 16384),
                  QByteArray::fromStdString(Bytes.substr(size_t(f) * 16392 + 8, 16384)))
            << "frame " << f;

    const QJsonObject meta = ReadJson(Path("out.sigmf-meta"));
    const QJsonObject global = meta["global"].toObject();
    EXPECT_EQ(global["core:datatype"].toString(), "ri16_le");
    EXPECT_EQ(global["core:sample_rate"].toDouble(), 80e6);
    EXPECT_TRUE(global["core:version"].toString().startsWith("1."));
    // The recording by its name alone, without the folder it lay in.
    EXPECT_TRUE(global["core:description"].toString().startsWith("Frames 3 .. 145 of rec.spk: "));
    EXPECT_EQ(global["core:recorder"].toString(), "Quillex");
    EXPECT_EQ(global["core:extensions"].toArray()[0].toObject()["name"].toString(), "quillex");
    EXPECT_EQ(global["quillex:frequency_offset"].toDouble(), 500000.0);
    EXPECT_EQ(global["quillex:level_offset"].toDouble(), -3.0);
    EXPECT_EQ(global["quillex:inverted"], QJsonValue(true));
    EXPECT_EQ(global["quillex:first_record"].toInteger(), 3);
    EXPECT_EQ(meta["annotations"].toArray().size(), 0);
    const QJsonArray captures = meta["captures"].toArray();
    ASSERT_EQ(captures.size(), 143);
    const std::map<int64_t, QString> times = {{3, "2026-07-01T12:00:00.250Z"},
                                              {70, "2026-07-01T12:00:01.005Z"},
                                              {140, "2026-01-10T07:30:05.000Z"}};
    for (int i = 0; i < captures.size(); ++i) {
        const QJsonObject capture = captures[i].toObject();
        EXPECT_EQ(capture["core:sample_start"].toInteger(), int64_t(i) * 8192);
        const auto time = times.find(3 + i);
        EXPECT_EQ(capture["core:datetime"].toString(), time == times.end() ? "" : time->second)
            << "frame " << 3 + i;
    }

    // A recording read without a mapping gives the same files.
    TSpkRecordFile file;
    file.Open(Path("rec.spk").toStdString(), false);
    ASSERT_FALSE(file.Mapped());
    TSigmfExport sigmf(Path("read").toStdString());
    const auto header = ParseOffsetsHeader(reinterpret_cast<const uint8_t*>(Bytes.data()), 16392);
    sigmf.Write({file, Path("rec.spk").toStdString(), header, 3, 145}, {}, {});
    sigmf.Commit();
    for (const char* part : {".sigmf-data", ".sigmf-meta"})
        EXPECT_EQ(FileBytes(Path("read") + part), FileBytes(Path("out") + part)) << part;

    // Without a header, record 0 is the first frame and there are no offsets.
    WriteBytes(Path("bare.spk"), Bytes.substr(16392));
    RunOk({Path("bare.spk"), "--sigmf", Path("bare.sigmf-meta")});
    EXPECT_EQ(FileBytes(Path("bare.sigmf-data")).left(16384),
              QByteArray::fromStdString(Bytes.substr(16392 + 8, 16384)));
    const QJsonObject bare = ReadJson(Path("bare.sigmf-meta"));
    EXPECT_EQ(bare["captures"].toArray().size(), 150);
    EXPECT_EQ(bare["global"]["quillex:frequency_offset"].toDouble(-1), 0.0);
    EXPECT_EQ(bare["global"]["quillex:inverted"], QJsonValue(false));
    EXPECT_EQ(bare["global"]["quillex:first_record"].toInteger(-1), 0);
}

// Progress counts the table's pass and the copy's as one run: the percentages shown never
// go back, and the last says the whole run is done.
TEST_F(SigmfProgramTest, ProgressCoversTheTableAndTheCopy)
{
    for (const std::vector<std::string>& more :
         {std::vector<std::string>{"--csv", Path("p.csv").toStdString(), "--first", "20"},
          {"--first", "140"}}) { // the copy alone, of a few frames
        std::vector<std::string> args{Path("rec.spk").toStdString(), "--sigmf",
                                      Path("p").toStdString()};
        args.insert(args.end(), more.begin(), more.end());
        std::ostringstream err;
        ASSERT_EQ(quillex::RunExport(ParseExportArguments(args), err, true), 0) << err.str();
        std::vector<int> shown;
        std::istringstream lines(err.str());
        // "45%  52013 frames/s  0:12 left", each over the one before; nothing is left at the end.
        const std::regex line(R"( {0,2}\d{1,3}%  +\d+ frames/s  \d+:[0-5]\d left   \n?)");
        for (std::string part; std::getline(lines, part, '\r');) {
            if (part.empty())
                continue;
            EXPECT_TRUE(std::regex_match(part, line)) << part;
            shown.push_back(std::stoi(part));
        }
        ASSERT_FALSE(shown.empty()) << err.str();
        EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end())) << err.str();
        EXPECT_EQ(shown.back(), 100) << err.str();
        EXPECT_TRUE(err.str().ends_with(" 0:00 left   \n")) << err.str();
    }
    // Also at the end of a run long enough to take a second or so: frames of a sparse file.
    std::filesystem::resize_file(Path("rec.spk").toStdString(), 20000 * int64_t{16392});
    std::ostringstream err;
    ASSERT_EQ(quillex::RunExport(ParseExportArguments({Path("rec.spk").toStdString(), "--png",
                                                       Path("p.png").toStdString(), "--fold",
                                                       "1000", "--fft-exponent", "12"}),
                                 err, true),
              0);
    EXPECT_TRUE(err.str().ends_with(" 0:00 left   \n")) << err.str();
}
