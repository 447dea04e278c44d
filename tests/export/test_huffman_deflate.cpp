// The literal-only deflate encoder against zlib's own inflate: every kind of input comes
// back whole, the code length limit holds where plain Huffman coding would exceed it, and
// the output is as small as zlib's own Huffman-only coding of the same bytes. (Strips
// joined into one stream are decoded in the PNG writer's tests.)
#ifdef QUILLEX_WITH_ZLIB
#include "HuffmanDeflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
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
    TBytes in = Deflated;
    z.next_in = in.data();
    z.avail_in = uInt(in.size());
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

// The literal/length code lengths of the stream's first block, read by the format's rules.
std::vector<int> FirstBlockLiteralLengths(const TBytes& Deflated)
{
    size_t bit = 0;
    auto get = [&](int N) {
        unsigned v = 0;
        for (int i = 0; i < N; ++i, ++bit)
            v |= unsigned(Deflated.at(bit / 8) >> (bit % 8) & 1) << i;
        return v;
    };
    get(1);
    EXPECT_EQ(get(2), 2u) << "not a dynamic Huffman block";
    const unsigned literals = get(5) + 257, distances = get(5) + 1, sent = get(4) + 4;
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int length[19] = {};
    for (unsigned i = 0; i < sent; ++i)
        length[order[i]] = int(get(3));
    // The canonical code: by length, then by symbol.
    unsigned code[19] = {};
    for (int l = 1, next = 0; l <= 7; ++l, next <<= 1)
        for (int s = 0; s < 19; ++s)
            if (length[s] == l)
                code[s] = unsigned(next++);
    auto symbol = [&] {
        unsigned c = 0;
        for (int l = 1; l <= 7; ++l) {
            c = c << 1 | get(1);
            for (int s = 0; s < 19; ++s)
                if (length[s] == l && code[s] == c)
                    return s;
        }
        ADD_FAILURE() << "no code-length code matches";
        return 0;
    };
    std::vector<int> lengths;
    while (lengths.size() < literals + distances) {
        const int s = symbol();
        if (s < 16)
            lengths.push_back(s);
        else if (s == 16 && !lengths.empty())
            lengths.insert(lengths.end(), 3 + get(2), lengths.back());
        else
            lengths.insert(lengths.end(), s == 17 ? 3 + get(3) : 11 + get(7), 0);
    }
    EXPECT_EQ(lengths.size(), literals + distances);
    lengths.resize(literals);
    return lengths;
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

TEST(HuffmanDeflateTest, LimitsCodesToFifteenBits)
{
    // Counts 1, 2, 3, 5, ... (Fibonacci's) for 21 byte values, and 1 for the end of block:
    // each sum of the rarest is below the next count but one, so Huffman's tree is a chain
    // 21 deep (ties, which would allow a flatter tree, do not occur) and must be cut to 15.
    TBytes input;
    for (int i = 0, a = 1, b = 2; i < 21; ++i, b += a, a = b - a)
        input.insert(input.end(), size_t(a), uint8_t(3 * i));
    ASSERT_LE(input.size(), HuffmanBlockBytes);
    std::shuffle(input.begin(), input.end(), std::mt19937(5));
    const TBytes deflated = Deflate(input, true);
    EXPECT_EQ(Inflate(deflated, input.size()), input);

    const std::vector<int> lengths = FirstBlockLiteralLengths(deflated);
    ASSERT_EQ(lengths.size(), 257u);
    EXPECT_EQ(*std::max_element(lengths.begin(), lengths.end()), 15);
    double kraft = 0;
    for (int l : lengths)
        kraft += l > 0 ? std::ldexp(1.0, -l) : 0;
    EXPECT_EQ(kraft, 1.0) << "the code is not complete";
    // Commoner values never get longer codes.
    for (int i = 1; i < 21; ++i)
        EXPECT_LE(lengths[size_t(3 * i)], lengths[size_t(3 * (i - 1))]) << "value " << 3 * i;
}

TEST(HuffmanDeflateTest, CompressesAsWellAsZlibHuffmanOnly)
{
    // Rows whose spread changes along them, as the columns of a waterfall do.
    TBytes input;
    for (int row = 0; row < 40; ++row)
        for (double spread : {0.5, 4.0, 1.5, 20.0}) {
            const TBytes part = Skewed(3000, spread, unsigned(row * 10 + spread));
            input.insert(input.end(), part.begin(), part.end());
        }
    TBytes zlibOut(compressBound(uLong(input.size())) + 64);
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_HUFFMAN_ONLY), Z_OK);
    z.next_in = input.data();
    z.avail_in = uInt(input.size());
    z.next_out = zlibOut.data();
    z.avail_out = uInt(zlibOut.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    const double zlibSize = double(z.total_out);
    deflateEnd(&z);

    const TBytes ours = Deflate(input, true);
    EXPECT_EQ(Inflate(ours, input.size()), input);
    EXPECT_LT(double(ours.size()), 1.03 * zlibSize);
    EXPECT_LT(double(ours.size()), 0.6 * double(input.size()));
}

#endif
