#include "HuffmanDeflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace quillex {

namespace {

static_assert(std::endian::native == std::endian::little,
              "the bit writer stores its accumulator as little-endian bytes");

constexpr int EndOfBlock = 256;
constexpr int LiteralCodes = 257; // the bytes and the end of block; no match lengths
constexpr int DistanceCodes = 2;  // unused, but strict decoders want a complete code
constexpr int CodeLengths = LiteralCodes + DistanceCodes;
constexpr int MaxBits = 15;
constexpr int LengthCodes = 19;
constexpr int MaxLengthBits = 7;
// The order in which the code-length code's lengths are sent.
constexpr uint8_t LengthCodeOrder[LengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                  11, 4,  12, 3, 13, 2, 14, 1, 15};
constexpr size_t MaxStored = 65535;
// A stored block's header, its padding to a byte and its length and complement, at most.
constexpr size_t StoredOverheadBits = 3 + 7 + 32;

// Bits go out least significant first, whole bytes at a time: the accumulator is stored as
// eight bytes and the pointer advances by the complete ones, so Out needs 8 bytes of room
// beyond what is written.
struct TBitWriter
{
    uint8_t* Out;
    uint64_t Acc = 0;
    unsigned Count = 0; // bits in Acc, at most 7 between calls

    void Store()
    {
        std::memcpy(Out, &Acc, sizeof Acc);
        Out += Count >> 3;
        Acc >>= Count & ~7u;
        Count &= 7;
    }
    // N at most 16.
    void Put(uint32_t Value, unsigned N)
    {
        Acc |= uint64_t(Value) << Count;
        Count += N;
        Store();
    }
    void AlignToByte()
    {
        Count = (Count + 7) & ~7u;
        Store();
    }
};

// Lengths of a Huffman code for the Symbols counts of Freq, none longer than Limit bits;
// unused symbols get 0. A single used symbol is paired with an unused one so that the
// code is complete (decoders reject a lone one-bit code in some places).
void BuildLengths(const uint32_t* Freq, int Symbols, int Limit, uint8_t* Lengths)
{
    std::array<uint16_t, LiteralCodes> sorted; // used symbols, rarest first
    int used = 0;
    for (int s = 0; s < Symbols; ++s) {
        Lengths[s] = 0;
        if (Freq[s] != 0)
            sorted[size_t(used++)] = uint16_t(s);
    }
    if (used < 2) {
        const int only = used == 1 ? sorted[0] : 0;
        Lengths[only] = 1;
        Lengths[only == 0 ? 1 : 0] = 1;
        return;
    }
    std::sort(sorted.begin(), sorted.begin() + used, [Freq](uint16_t A, uint16_t B) {
        return Freq[A] != Freq[B] ? Freq[A] < Freq[B] : A < B;
    });

    // Huffman's tree by two queues: the leaves in sorted order and the inner nodes, which
    // are made in order of weight. Nodes 0 .. used-1 are the leaves.
    std::array<uint64_t, 2 * LiteralCodes> weight;
    std::array<uint16_t, 2 * LiteralCodes> parent;
    for (int i = 0; i < used; ++i)
        weight[size_t(i)] = Freq[sorted[size_t(i)]];
    int leaf = 0, inner = used, next = used;
    auto smallest = [&] {
        if (leaf < used && (inner == next || weight[size_t(leaf)] <= weight[size_t(inner)]))
            return leaf++;
        return inner++;
    };
    for (; next < 2 * used - 1; ++next) {
        const int a = smallest();
        const int b = smallest();
        weight[size_t(next)] = weight[size_t(a)] + weight[size_t(b)];
        parent[size_t(a)] = parent[size_t(b)] = uint16_t(next);
    }
    // Depths from the root down (a parent is always made after its children); the weight
    // array is reused for them.
    auto& depth = weight;
    depth[size_t(next - 1)] = 0;
    std::array<int, LiteralCodes + 1> count{}; // leaves per depth; deeper ones at the end
    for (int n = next - 2; n >= 0; --n) {
        depth[size_t(n)] = depth[parent[size_t(n)]] + 1;
        if (n < used)
            ++count[std::min<size_t>(depth[size_t(n)], LiteralCodes)];
    }

    // Leaves deeper than the limit move up to it, which over-fills the code (its Kraft sum
    // exceeds one). Each step then takes a leaf from the deepest level and splits a leaf of
    // a shallower level into two one level deeper: the leaf count stays, the Kraft sum
    // falls by one unit of 2^-Limit, until the code is exactly full again.
    for (int d = Limit + 1; d <= LiteralCodes; ++d) {
        count[size_t(Limit)] += count[size_t(d)];
        count[size_t(d)] = 0;
    }
    uint64_t kraft = 0; // in units of 2^-Limit
    for (int d = 1; d <= Limit; ++d)
        kraft += uint64_t(count[size_t(d)]) << (Limit - d);
    for (; kraft > (uint64_t(1) << Limit); --kraft) {
        --count[size_t(Limit)];
        for (int d = Limit - 1; d > 0; --d) {
            if (count[size_t(d)] != 0) {
                --count[size_t(d)];
                count[size_t(d + 1)] += 2;
                break;
            }
        }
    }
    // The longest lengths to the rarest symbols.
    int s = 0;
    for (int d = Limit; d > 0; --d)
        for (int k = 0; k < count[size_t(d)]; ++k)
            Lengths[sorted[size_t(s++)]] = uint8_t(d);
}

// The canonical code of Lengths, each code bit-reversed because deflate sends a Huffman
// code's first bit first while everything else goes out least significant bit first.
void CanonicalCodes(const uint8_t* Lengths, int Symbols, uint16_t* Codes)
{
    std::array<unsigned, MaxBits + 1> count{};
    for (int s = 0; s < Symbols; ++s)
        ++count[Lengths[s]];
    count[0] = 0;
    std::array<unsigned, MaxBits + 1> next{};
    for (int d = 1, code = 0; d <= MaxBits; ++d) {
        code = (code + int(count[size_t(d - 1)])) << 1;
        next[size_t(d)] = unsigned(code);
    }
    for (int s = 0; s < Symbols; ++s) {
        const unsigned length = Lengths[s];
        unsigned code = length != 0 ? next[length]++ : 0;
        unsigned reversed = 0;
        for (unsigned b = 0; b < length; ++b, code >>= 1)
            reversed = reversed << 1 | (code & 1);
        Codes[s] = uint16_t(reversed);
    }
}

// The code lengths as sent: runs of zeros (17: 3..10, 18: 11..138) and repeats of the
// length before (16: 3..6) shorten them.
struct TLengthRuns
{
    std::array<uint8_t, CodeLengths> Symbol;
    std::array<uint8_t, CodeLengths> Extra;
    int Count = 0;

    void Add(int S, int E = 0)
    {
        Symbol[size_t(Count)] = uint8_t(S);
        Extra[size_t(Count++)] = uint8_t(E);
    }
};

constexpr unsigned ExtraBits(int Symbol)
{
    return Symbol == 16 ? 2 : Symbol == 17 ? 3 : Symbol == 18 ? 7 : 0;
}

TLengthRuns RunsOf(const uint8_t* Lengths, int Count)
{
    TLengthRuns runs;
    for (int i = 0; i < Count;) {
        const int length = Lengths[i];
        int run = 1;
        while (i + run < Count && Lengths[i + run] == length)
            ++run;
        i += run;
        if (length == 0) {
            for (; run >= 11; run -= std::min(run, 138))
                runs.Add(18, std::min(run, 138) - 11);
            if (run >= 3) {
                runs.Add(17, run - 3);
                run = 0;
            }
        } else {
            runs.Add(length);
            for (--run; run >= 3; run -= std::min(run, 6))
                runs.Add(16, std::min(run, 6) - 3);
        }
        for (; run > 0; --run)
            runs.Add(length);
    }
    return runs;
}

void PutStored(TBitWriter& W, const uint8_t* In, size_t Size, bool Final)
{
    do {
        const size_t n = std::min(Size, MaxStored);
        W.Put(Final && n == Size ? 1 : 0, 3);
        W.AlignToByte();
        const uint8_t lengths[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)};
        std::memcpy(W.Out, lengths, 4);
        if (n > 0)
            std::memcpy(W.Out + 4, In, n);
        W.Out += 4 + n;
        In += n;
        Size -= n;
    } while (Size > 0);
}

// The bytes coded with Entry (code in the low 16 bits, length above). Three codes of at
// most 15 bits fit beside the at most 7 bits left over, so the bytes are stored after every
// third: no test of the fill level per byte.
void PutLiterals(TBitWriter& W, const uint8_t* In, size_t Size, const uint32_t* Entry)
{
    static_assert(7 + 3 * MaxBits <= 64);
    uint64_t acc = W.Acc;
    unsigned count = W.Count;
    uint8_t* out = W.Out;
    const uint8_t* end3 = In + Size / 3 * 3;
    for (; In != end3; In += 3) {
        const uint32_t a = Entry[In[0]], b = Entry[In[1]], c = Entry[In[2]];
        acc |= uint64_t(a & 0xffff) << count;
        count += a >> 16;
        acc |= uint64_t(b & 0xffff) << count;
        count += b >> 16;
        acc |= uint64_t(c & 0xffff) << count;
        count += c >> 16;
        std::memcpy(out, &acc, sizeof acc);
        out += count >> 3;
        acc >>= count & ~7u;
        count &= 7;
    }
    W.Acc = acc;
    W.Count = count;
    W.Out = out;
    for (size_t i = 0; i < Size % 3; ++i)
        W.Put(Entry[In[i]] & 0xffff, Entry[In[i]] >> 16);
}

// One block of In[0 .. Size): a dynamic Huffman code of the bytes, or stored where that is
// shorter (noise that no code compresses).
void PutBlock(TBitWriter& W, const uint8_t* In, size_t Size, bool Final)
{
    // Four counts per byte value, so that runs of one value do not wait on one counter.
    std::array<std::array<uint32_t, 256>, 4> partial{};
    size_t i = 0;
    for (; i + 4 <= Size; i += 4) {
        ++partial[0][In[i]];
        ++partial[1][In[i + 1]];
        ++partial[2][In[i + 2]];
        ++partial[3][In[i + 3]];
    }
    for (; i < Size; ++i)
        ++partial[0][In[i]];
    std::array<uint32_t, LiteralCodes> freq;
    for (int b = 0; b < 256; ++b)
        freq[size_t(b)] = partial[0][size_t(b)] + partial[1][size_t(b)] + partial[2][size_t(b)] +
                          partial[3][size_t(b)];
    freq[EndOfBlock] = 1;

    std::array<uint8_t, CodeLengths> lengths;
    BuildLengths(freq.data(), LiteralCodes, MaxBits, lengths.data());
    lengths[LiteralCodes] = lengths[LiteralCodes + 1] = 1;
    const TLengthRuns runs = RunsOf(lengths.data(), CodeLengths);
    std::array<uint32_t, LengthCodes> runFreq{};
    for (int r = 0; r < runs.Count; ++r)
        ++runFreq[runs.Symbol[size_t(r)]];
    std::array<uint8_t, LengthCodes> runLengths;
    BuildLengths(runFreq.data(), LengthCodes, MaxLengthBits, runLengths.data());
    std::array<uint16_t, LengthCodes> runCodes;
    CanonicalCodes(runLengths.data(), LengthCodes, runCodes.data());
    int sent = LengthCodes; // code-length code lengths sent, trailing zeros dropped
    while (sent > 4 && runLengths[LengthCodeOrder[sent - 1]] == 0)
        --sent;

    uint64_t bits = 3 + 5 + 5 + 4 + 3 * uint64_t(sent);
    for (int r = 0; r < runs.Count; ++r)
        bits += runLengths[runs.Symbol[size_t(r)]] + ExtraBits(runs.Symbol[size_t(r)]);
    for (int s = 0; s < LiteralCodes; ++s)
        bits += uint64_t(freq[size_t(s)]) * lengths[size_t(s)];
    const uint64_t chunks = std::max<uint64_t>(1, (Size + MaxStored - 1) / MaxStored);
    if (bits > 8 * uint64_t(Size) + chunks * StoredOverheadBits) {
        PutStored(W, In, Size, Final);
        return;
    }

    W.Put((Final ? 1 : 0) | 2 << 1, 3); // dynamic Huffman codes
    W.Put(LiteralCodes - 257, 5);
    W.Put(DistanceCodes - 1, 5);
    W.Put(unsigned(sent - 4), 4);
    for (int k = 0; k < sent; ++k)
        W.Put(runLengths[LengthCodeOrder[k]], 3);
    for (int r = 0; r < runs.Count; ++r) {
        const int symbol = runs.Symbol[size_t(r)];
        W.Put(runCodes[size_t(symbol)], runLengths[size_t(symbol)]);
        if (ExtraBits(symbol) != 0)
            W.Put(runs.Extra[size_t(r)], ExtraBits(symbol));
    }
    std::array<uint16_t, LiteralCodes> codes;
    CanonicalCodes(lengths.data(), LiteralCodes, codes.data());
    std::array<uint32_t, 256> entry;
    for (int b = 0; b < 256; ++b)
        entry[size_t(b)] = codes[size_t(b)] | uint32_t(lengths[size_t(b)]) << 16;
    PutLiterals(W, In, Size, entry.data());
    W.Put(codes[EndOfBlock], lengths[EndOfBlock]);
}

} // namespace

size_t HuffmanDeflateBound(size_t Size)
{
    // Every block costs at most its stored form; six bytes cover a stored header (or the
    // closing empty block), and eight the bit writer's last store.
    return Size + 6 * (Size / MaxStored + Size / HuffmanBlockBytes + 3) + 8;
}

size_t HuffmanDeflate(const uint8_t* In, size_t Size, bool Last, uint8_t* Out)
{
    TBitWriter w{Out};
    // Blocks of equal size, so that the last is not a short one with a poor code.
    const size_t blocks =
        Size == 0 ? (Last ? 1 : 0) : (Size + HuffmanBlockBytes - 1) / HuffmanBlockBytes;
    for (size_t b = 0, done = 0; b < blocks; ++b) {
        const size_t end = Size * (b + 1) / blocks;
        PutBlock(w, In + done, end - done, Last && b + 1 == blocks);
        done = end;
    }
    if (!Last) {
        w.Put(0, 3); // an empty stored block, as zlib's sync flush ends
        w.AlignToByte();
        static constexpr uint8_t Marker[4] = {0x00, 0x00, 0xff, 0xff};
        std::memcpy(w.Out, Marker, 4);
        w.Out += 4;
    } else {
        w.AlignToByte();
    }
    return size_t(w.Out - Out);
}

} // namespace quillex
