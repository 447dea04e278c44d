// The literal-only deflate encoder against zlib's own inflate: every kind of input comes
// back whole (zlib refuses a code that is incomplete, over-full or longer than 15 bits), and
// the output is as small as zlib's own Huffman-only coding of the same bytes. (Strips
// joined into one stream are decoded in the PNG writer's tests.)
#ifdef QUILLEX_WITH_ZLIB
#include "HuffmanDeflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace quillex;

namespace {

using TBytes = std::vector<uint8_t>;

// The encoder's output, which must stay within the bound: the bytes behind it are checked.
TBytes Deflate(const TBytes& In, bool Last)
{
    const size_t bound = HuffmanDeflateBound(In.size());
    constexpr size_t guard = 8192;
    TBytes out(bound + guard, 0xa5);
    const size_t n = HuffmanDeflate(In.data(), In.size(), Last, out.data());
    EXPECT_LE(n, bound);
    EXPECT_EQ(size_t(std::count(out.begin() + ptrdiff_t(bound), out.end(), 0xa5)), guard)
        << "written past the bound";
    out.resize(std::min(n, bound));
    return out;
}

// Raw inflate of a whole stream, which must end exactly at the data's end.
TBytes Inflate(const TBytes& Deflated, size_t Expected)
{
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    TBytes out(Expected + 1); // one more: must stay unused
    z.next_in = const_cast<uint8_t*>(Deflated.data());
    z.avail_in = uInt(Deflated.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << (z.msg ? z.msg : "");
    EXPECT_EQ(z.avail_in, 0u) << "bytes behind the final block";
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// Bytes drawn from a two-sided geometric law around 0, as a waterfall's filtered rows are.
TBytes Skewed(size_t Size, double Spread, unsigned Seed)
{
    std::mt19937 random(Seed);
    std::geometric_distribution<int> magnitude(1 / (1 + Spread));
    TBytes bytes(Size);
    for (uint8_t& b : bytes)
        b = uint8_t(random() & 1 ? magnitude(random) : -magnitude(random));
    return bytes;
}

} // namespace

TEST(HuffmanDeflateTest, RoundTripsThroughZlib)
{
    std::mt19937 random(7);
    TBytes uniform(300000);
    for (uint8_t& b : uniform)
        b = uint8_t(random());
    // Every byte value, a few common ones, so that a code pays and all 256 are in it.
    TBytes all;
    for (int i = 0; i < 256; ++i)
        all.insert(all.end(), i % 16 == 0 ? 500 : 1, uint8_t(i));
    std::shuffle(all.begin(), all.end(), random);
    // Several blocks whose statistics differ.
    TBytes changing = Skewed(2 * HuffmanBlockBytes, 3, 1);
    const TBytes wide = Skewed(3 * HuffmanBlockBytes + 17, 40, 2);
    changing.insert(changing.end(), wide.begin(), wide.end());
    const std::vector<std::pair<std::string, TBytes>> cases = {
        {"empty", {}},
        {"one byte", {42}},
        {"one value repeated", TBytes(100000, 0xff)},
        {"every value", all},
        {"uniform noise", uniform},
        {"skewed", Skewed(70000, 2, 3)},
        {"changing over blocks", changing},
    };
    for (const auto& [name, input] : cases) {
        SCOPED_TRACE(name);
        const TBytes deflated = Deflate(input, true);
        EXPECT_EQ(Inflate(deflated, input.size()), input);
        // Noise is stored rather than coded, so nothing grows by more than its headers.
        EXPECT_LE(deflated.size(), input.size() + 5 * (input.size() / 65535 + 2));
    }
    // Near noise, where coding gains about what its code costs, a block never takes more
    // than storing it would: 5 bytes of header, and a byte that its bits may not fill.
    for (int spread = 20; spread <= 400; spread += 4) {
        const TBytes input = Skewed(3000, spread, unsigned(spread));
        EXPECT_LE(Deflate(input, true).size(), input.size() + 6) << "spread " << spread;
    }
}

// As small as zlib's Huffman-only coding: rows whose spread changes along them, as the
// columns of a waterfall do, and counts 1, 2, 3, 5, ... (Fibonacci's) for 21 byte values,
// whose Huffman tree is a chain 21 deep (no ties allow a flatter one) that must be cut to
// the format's 15 bits, the commonest values keeping the shortest codes.
TEST(HuffmanDeflateTest, CompressesAsWellAsZlibHuffmanOnly)
{
    TBytes rows;
    for (int row = 0; row < 40; ++row)
        for (double spread : {0.5, 4.0, 1.5, 20.0}) {
            const TBytes part = Skewed(3000, spread, unsigned(row * 10 + spread));
            rows.insert(rows.end(), part.begin(), part.end());
        }
    TBytes chain;
    for (int i = 0, a = 1, b = 2; i < 21; ++i, b += a, a = b - a)
        chain.insert(chain.end(), size_t(a), uint8_t(3 * i));
    ASSERT_LE(chain.size(), HuffmanBlockBytes);
    std::shuffle(chain.begin(), chain.end(), std::mt19937(5));
    for (const TBytes& input : {rows, chain}) {
        TBytes zlibOut(compressBound(uLong(input.size())) + 64);
        z_stream z{};
        ASSERT_EQ(deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_HUFFMAN_ONLY), Z_OK);
        z.next_in = const_cast<uint8_t*>(input.data());
        z.avail_in = uInt(input.size());
        z.next_out = zlibOut.data();
        z.avail_out = uInt(zlibOut.size());
        ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
        const double zlibSize = double(z.total_out);
        deflateEnd(&z);

        const TBytes ours = Deflate(input, true);
        EXPECT_EQ(Inflate(ours, input.size()), input);
        EXPECT_LT(double(ours.size()), 1.03 * zlibSize) << input.size() << " bytes";
    }
}

#endif
