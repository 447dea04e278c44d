// The strip-parallel PNG writer against the format's own rules: every chunk's CRC, the
// IDAT bytes as one zlib stream (its checksum included) of the image's size, and Qt's
// reader giving back exactly the pixels written.
#ifdef QUILLEX_WITH_ZLIB // the writer exists only with zlib
#include "PngWriter.h"
#include "Workers.h"

#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace quillex;

namespace {

uint32_t BigEndian(const uint8_t* P)
{
    return uint32_t(P[0]) << 24 | uint32_t(P[1]) << 16 | uint32_t(P[2]) << 8 | P[3];
}

// Noise, with runs and flat stretches unless Pure, so that both literals and run matches occur.
QImage TestImage(int Width, int Height, unsigned Seed, bool Pure = false)
{
    QImage image(Width, Height, QImage::Format_RGB888);
    std::mt19937 random(Seed);
    for (int y = 0; y < Height; ++y) {
        uchar* line = image.scanLine(y);
        for (int i = 0; i < 3 * Width; ++i)
            line[i] = !Pure && (i / 30 + y) % 3 == 0 ? uchar(y) : uchar(random());
    }
    return image;
}

// A PNG file checked by the format's rules: its signature, every chunk's CRC, the chunks
// IHDR (8-bit RGB), IDAT ... and IEND in that order, and the IDAT data one zlib stream (its
// header and Adler-32 checked by inflating it) of exactly a filter byte and the pixels for
// each row. Returns the number of IDAT chunks.
int CheckByHand(const std::vector<uint8_t>& File)
{
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (File.size() < 8 || !std::equal(signature, signature + 8, File.begin())) {
        ADD_FAILURE() << "no PNG signature";
        return 0;
    }
    std::vector<std::string> types;
    std::vector<uint8_t> idat;
    size_t rowBytes = 0, height = 0;
    int chunks = 0;
    for (size_t p = 8; p + 12 <= File.size();) {
        const uint32_t length = BigEndian(&File[p]);
        const std::string type(File.begin() + ptrdiff_t(p) + 4, File.begin() + ptrdiff_t(p) + 8);
        if (p + 12 + length > File.size()) {
            ADD_FAILURE() << "chunk " << type << " runs past the file's end";
            return 0;
        }
        const uint8_t* data = &File[p + 8];
        const uLong crc = crc32(crc32(0, &File[p + 4], 4), data, length);
        EXPECT_EQ(crc, BigEndian(data + length)) << "CRC of chunk " << types.size() << " " << type;
        if (type == "IHDR") {
            EXPECT_EQ(length, 13u);
            rowBytes = 1 + 3 * size_t(BigEndian(data));
            height = BigEndian(data + 4);
            EXPECT_EQ(std::vector<uint8_t>(data + 8, data + 13),
                      (std::vector<uint8_t>{8, 2, 0, 0, 0}));
        } else if (type == "IDAT") {
            idat.insert(idat.end(), data, data + length);
            ++chunks;
        }
        if (types.empty() || types.back() != type)
            types.push_back(type);
        p += 12 + length;
    }
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    std::vector<uint8_t> raw(rowBytes * height + 1); // one more: must stay unused
    uLongf rawLength = uLongf(raw.size());
    EXPECT_EQ(uncompress(raw.data(), &rawLength, idat.data(), uLong(idat.size())), Z_OK);
    EXPECT_EQ(rawLength, rowBytes * height);
    return chunks;
}

} // namespace

// One pixel, one row, more strips than rows, strips that do not divide the rows, more strips
// than a round holds (4 per thread), and the writer's own choice on a tall image that needs
// several strips, and on rows wider than its strips (256 KiB); widths whose rows Qt pads to
// whole words. One colour (rows of nearly one
// filtered byte value: the smallest codes) and pure noise (which no code shortens, so it is
// stored) over several blocks per strip: literals alone cost at least a bit a byte, stored
// blocks a few bytes each.
TEST(PngWriterTest, DecodesToTheImageForSizesStripsAndThreads)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath(QStringLiteral("p.png")).toStdString();
    QImage flat(700, 60, QImage::Format_RGB888);
    flat.fill(QColor(10, 200, 30));
    const QImage noise = TestImage(700, 60, 9, true);
    struct TCase
    {
        int Width, Height, Strips, Threads;
        QImage Image = {};
        size_t Most = SIZE_MAX; // bytes of the file
    };
    for (const TCase& c : {TCase{1, 1, 1, 1}, TCase{257, 1, 4, 2}, TCase{5, 3, 10, 2},
                           TCase{101, 50, 7, 2}, TCase{64, 40, 13, 1}, TCase{33, 29, 29, 3},
                           TCase{1000, 300, 0, 2}, TCase{1000, 300, 1, 2}, TCase{87382, 2, 0, 2},
                           TCase{700, 60, 2, 2, flat, 700 * 60 * 3 / 7},
                           TCase{700, 60, 2, 2, noise, 700 * 60 * 3 + 500}}) {
        SCOPED_TRACE(std::to_string(c.Width) + " x " + std::to_string(c.Height) + ", " +
                     std::to_string(c.Strips) + " strips, " + std::to_string(c.Threads) +
                     " threads");
        const QImage image = c.Image.isNull()
                                 ? TestImage(c.Width, c.Height, unsigned(c.Width * 7 + c.Height))
                                 : c.Image;
        TWorkers workers(c.Threads);
        std::FILE* out = std::fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        const bool written =
            WritePngStrips({image.constBits(), image.width(), image.height(), image.bytesPerLine()},
                           workers, out, c.Strips);
        EXPECT_EQ(std::fclose(out), 0);
        ASSERT_TRUE(written);

        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
        const int chunks = CheckByHand(file);
        EXPECT_LT(file.size(), c.Most);
        // A chunk per strip: strips of equal rows (the last may have fewer), as many as
        // asked for where the rows allow; the writer's choice cuts a tall image too.
        if (const int rows = (c.Height + c.Strips - 1) / std::max(c.Strips, 1); c.Strips > 0)
            EXPECT_EQ(chunks, (c.Height + rows - 1) / rows);
        else
            EXPECT_GT(chunks, 1);
        QImage loaded;
        ASSERT_TRUE(loaded.load(QString::fromStdString(path), "png"));
        EXPECT_EQ(loaded.convertToFormat(QImage::Format_RGB888), image);
    }
}

TEST(PngWriterTest, ReportsWriteErrorsAndEmptyImages)
{
    const QImage image = TestImage(300, 200, 1);
    TWorkers workers(2);
    // A large image fails while it is written; a small one only when the stream's buffer is
    // flushed at the end.
    for (const QImage& written : {image, TestImage(1, 1, 2)})
        if (std::FILE* full = std::fopen("/dev/full", "wb")) {
            errno = 0;
            EXPECT_FALSE(WritePngStrips(
                {written.constBits(), written.width(), written.height(), written.bytesPerLine()},
                workers, full));
            EXPECT_EQ(errno, ENOSPC);
            std::fclose(full);
        }
    std::FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    EXPECT_FALSE(WritePngStrips({image.constBits(), 0, 10, image.bytesPerLine()}, workers, sink));
    EXPECT_FALSE(WritePngStrips({image.constBits(), 10, 0, image.bytesPerLine()}, workers, sink));
    std::fclose(sink);
}

#endif
