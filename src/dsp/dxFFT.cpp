#include "dxFFT.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>
#include <numbers>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

// The hot loops have one source, inlined into three builds: baseline x86-64, AVX2 with FMA,
// and AVX-512, the latter two compiled by a function attribute and chosen at run time so that
// the program still runs on any x86-64. A component keeps its choice, so one machine always
// gives the same floats (the live window and the exporter run the same code).
#if defined(__x86_64__) && defined(__GNUC__)
#define QX_LOOP_BODY __attribute__((always_inline)) inline
#define QX_WIDE_TARGET __attribute__((target("arch=x86-64-v3")))
// gcc keeps to 256-bit vectors for x86-64-v4 unless told otherwise; clang takes no vector
// width in the attribute (it would ignore the whole attribute) and picks its own.
#if defined(__clang__)
#define QX_AVX512_TARGET __attribute__((target("arch=x86-64-v4")))
#else
#define QX_AVX512_TARGET __attribute__((target("arch=x86-64-v4,prefer-vector-width=512")))
#endif
#define QX_HAS_WIDE_BUILD 1
#else
#define QX_LOOP_BODY inline
#define QX_WIDE_TARGET
#define QX_AVX512_TARGET
#define QX_HAS_WIDE_BUILD 0
#endif

// What the transform loops read besides the data: the component's tables for Size bins.
struct TDXFFTTables
{
    const uint32_t* BitReverse;
    const float* StageCos;
    const float* StageSin;
    const float* Cos;
    const float* Sin;
    int32_t Size;
};

namespace {

template <typename T> T* Append(std::vector<std::unique_ptr<T>>& List, int64_t Size)
{
    const int32_t n = (Size < 0 || Size > DXVectorMaxCount) ? -1 : int32_t(Size);
    std::unique_ptr<T> v(new (std::nothrow) T(n));
    if (!v)
        return nullptr;
    try {
        List.push_back(std::move(v));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return List.back().get();
}

template <typename T> void Remove(std::vector<std::unique_ptr<T>>& List, T* V)
{
    auto it = std::find_if(List.begin(), List.end(), [V](const auto& p) { return p.get() == V; });
    if (it != List.end())
        List.erase(it);
}

bool HoldsElements(const TDXVector* V, int64_t N)
{
    return V != nullptr && V->Values != nullptr && V->Count == N;
}

bool HoldsElements(const TDXComplexVector* V, int64_t N)
{
    return V != nullptr && HoldsElements(V->Real, N) && HoldsElements(V->Imag, N);
}

// A window vector holds 2 * Size coefficients at most; longer ones are never used.
constexpr int64_t MaxWindowLength = int64_t(2) << TDXFFT::MaxWorkingExponent;

bool IsRaisedCosine(TDXLeakType Kind)
{
    return Kind == wnHanning || Kind == wnHamming || Kind == wnBlackman;
}

// The angle step of a symmetric window of Length coefficients, as the window vector uses it.
float WindowStep(int64_t Length)
{
    return Length > 1 ? float(2.0 * std::numbers::pi / double(Length - 1)) : 0.0f;
}

// Coefficient n of a raised-cosine window, as the window vector holds it.
float WindowCoefficient(TDXLeakType Kind, int64_t n, float Step)
{
    const double x = float(double(n) * double(Step));
    if (Kind == wnHanning)
        return float(0.5 - 0.5 * std::cos(x));
    if (Kind == wnHamming)
        return float(0.54 - 0.46 * std::cos(x));
    return float(0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2.0 * x));
}

// The sum of a window's Length coefficients as the window vector holds them; the rectangle's
// are all 1.
double CoefficientSum(TDXLeakType Kind, int64_t Length)
{
    if (!IsRaisedCosine(Kind))
        return double(Length);
    const float step = WindowStep(Length);
    double sum = 0;
    for (int64_t n = 0; n < Length; ++n)
        sum += WindowCoefficient(Kind, n, step);
    return sum;
}

// One block of radix-2 butterflies: (r0, i0) and (r1, i1) are its lower and upper halves.
QX_LOOP_BODY void Butterflies(float* __restrict r0, float* __restrict i0, float* __restrict r1,
                              float* __restrict i1, const float* __restrict c,
                              const float* __restrict s, int32_t h)
{
    for (int32_t k = 0; k < h; ++k) {
        const float tr = c[k] * r1[k] - s[k] * i1[k];
        const float ti = c[k] * i1[k] + s[k] * r1[k];
        r1[k] = r0[k] - tr;
        i1[k] = i0[k] - ti;
        r0[k] = r0[k] + tr;
        i0[k] = i0[k] + ti;
    }
}

// Two radix-2 stages (half-widths h and 2h) over one block of 4h points: quarter q of the
// block is (rq, iq). The points stay in registers between the stages; the arithmetic is that
// of the two stages done one after the other. (c1, s1) are the twiddles of stage h, (c2, s2)
// those of stage 2h, whose upper half (c2 + h, s2 + h) serves the second pair.
QX_LOOP_BODY void ButterflyPairs(float* __restrict r0, float* __restrict i0, float* __restrict r1,
                                 float* __restrict i1, float* __restrict r2, float* __restrict i2,
                                 float* __restrict r3, float* __restrict i3,
                                 const float* __restrict c1, const float* __restrict s1,
                                 const float* __restrict c2, const float* __restrict s2, int32_t h)
{
    for (int32_t k = 0; k < h; ++k) {
        float tr = c1[k] * r1[k] - s1[k] * i1[k];
        float ti = c1[k] * i1[k] + s1[k] * r1[k];
        const float a1r = r0[k] - tr, a1i = i0[k] - ti;
        const float a0r = r0[k] + tr, a0i = i0[k] + ti;
        tr = c1[k] * r3[k] - s1[k] * i3[k];
        ti = c1[k] * i3[k] + s1[k] * r3[k];
        const float a3r = r2[k] - tr, a3i = i2[k] - ti;
        const float a2r = r2[k] + tr, a2i = i2[k] + ti;

        tr = c2[k] * a2r - s2[k] * a2i;
        ti = c2[k] * a2i + s2[k] * a2r;
        r2[k] = a0r - tr;
        i2[k] = a0i - ti;
        r0[k] = a0r + tr;
        i0[k] = a0i + ti;
        tr = c2[k + h] * a3r - s2[k + h] * a3i;
        ti = c2[k + h] * a3i + s2[k + h] * a3r;
        r3[k] = a1r - tr;
        i3[k] = a1i - ti;
        r1[k] = a1r + tr;
        i1[k] = a1i + ti;
    }
}

// The first two radix-2 stages on four consecutive bit-reversed points: their twiddles are
// 1 and i, so no multiplies are needed.
QX_LOOP_BODY void FirstTwoStages(float r0, float i0, float r1, float i1, float r2, float i2,
                                 float r3, float i3, float* __restrict Re, float* __restrict Im)
{
    const float ar = r0 + r1, ai = i0 + i1;
    const float br = r0 - r1, bi = i0 - i1;
    const float cr = r2 + r3, ci = i2 + i3;
    const float dr = r2 - r3, di = i2 - i3;
    Re[0] = ar + cr;
    Im[0] = ai + ci;
    Re[2] = ar - cr;
    Im[2] = ai - ci;
    // d * i = (-di, dr)
    Re[1] = br - di;
    Im[1] = bi + dr;
    Re[3] = br + di;
    Im[3] = bi - dr;
}

// Keeps a product from being fused into a following addition, so a windowed sample is rounded
// on its own exactly as when the window is applied to a stored vector first.
template <typename T> QX_LOOP_BODY T Rounded(T v)
{
#if defined(__GNUC__) && defined(__SSE2__)
    asm("" : "+x"(v));
#endif
    return v;
}

// Where PackFirstTwoStages reads its real input from: At(i) is sample i as a float and, with
// SSE2, Load8(i, lo, hi) gives samples i..i+3 and i+4..i+7.
struct FloatSamples
{
    const float* x;
    QX_LOOP_BODY float At(int64_t i) const { return x[i]; }
#if defined(__SSE2__)
    QX_LOOP_BODY void Load8(int64_t i, __m128& lo, __m128& hi) const
    {
        lo = _mm_loadu_ps(x + i);
        hi = _mm_loadu_ps(x + i + 4);
    }
#endif
};

// Raw 16-bit samples s, read as float(2 * s) (exact).
struct ScaledSamples
{
    const int16_t* s;
    QX_LOOP_BODY float At(int64_t i) const { return float(2 * int(s[i])); }
#if defined(__SSE2__)
    QX_LOOP_BODY void Load8(int64_t i, __m128& lo, __m128& hi) const
    {
        // Each sample lands in the upper half of a 32-bit lane over a zero lower half; the
        // arithmetic shift by 15 then leaves 2 * s with its sign.
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i zero = _mm_setzero_si128();
        lo = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(zero, v), 15));
        hi = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(zero, v), 15));
    }
#endif
};

// Raw samples, scaled, then multiplied by the window coefficients w.
struct WindowedSamples
{
    const int16_t* s;
    const float* w;
    QX_LOOP_BODY float At(int64_t i) const { return Rounded(float(2 * int(s[i])) * w[i]); }
#if defined(__SSE2__)
    QX_LOOP_BODY void Load8(int64_t i, __m128& lo, __m128& hi) const
    {
        ScaledSamples{s}.Load8(i, lo, hi);
        lo = Rounded(_mm_mul_ps(lo, _mm_loadu_ps(w + i)));
        hi = Rounded(_mm_mul_ps(hi, _mm_loadu_ps(w + i + 4)));
    }
#endif
};

// Packs the 4q real samples x as complex pairs in bit-reversed order and runs the first two
// stages on them. Group r reads z[r], z[r + 2q], z[r + q] and z[r + 3q] and writes the four
// points at rev(r).
template <typename Source>
QX_LOOP_BODY void PackFirstTwoStages(const Source& x, float* Re, float* Im, const uint32_t* rev,
                                     int64_t q)
{
    const int64_t x0 = 0;
    const int64_t x1 = 4 * q;
    const int64_t x2 = 2 * q;
    const int64_t x3 = 6 * q;
    int64_t r = 0;
#if defined(__SSE2__)
    // Four groups at a time: split pairs into real and imaginary vectors, do the butterflies
    // across the groups, then transpose so each group's four points are stored together.
    const auto load = [&x](int64_t i, __m128& re, __m128& im) {
        __m128 lo, hi;
        x.Load8(i, lo, hi);
        re = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
        im = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
    };
    for (; r + 4 <= q; r += 4) {
        __m128 r0, i0, r1, i1, r2, i2, r3, i3;
        load(x0 + 2 * r, r0, i0);
        load(x1 + 2 * r, r1, i1);
        load(x2 + 2 * r, r2, i2);
        load(x3 + 2 * r, r3, i3);
        const __m128 ar = _mm_add_ps(r0, r1), ai = _mm_add_ps(i0, i1);
        const __m128 br = _mm_sub_ps(r0, r1), bi = _mm_sub_ps(i0, i1);
        const __m128 cr = _mm_add_ps(r2, r3), ci = _mm_add_ps(i2, i3);
        const __m128 dr = _mm_sub_ps(r2, r3), di = _mm_sub_ps(i2, i3);
        __m128 o0r = _mm_add_ps(ar, cr), o0i = _mm_add_ps(ai, ci);
        __m128 o2r = _mm_sub_ps(ar, cr), o2i = _mm_sub_ps(ai, ci);
        __m128 o1r = _mm_sub_ps(br, di), o1i = _mm_add_ps(bi, dr);
        __m128 o3r = _mm_add_ps(br, di), o3i = _mm_sub_ps(bi, dr);
        _MM_TRANSPOSE4_PS(o0r, o1r, o2r, o3r);
        _MM_TRANSPOSE4_PS(o0i, o1i, o2i, o3i);
        _mm_storeu_ps(Re + rev[r], o0r);
        _mm_storeu_ps(Im + rev[r], o0i);
        _mm_storeu_ps(Re + rev[r + 1], o1r);
        _mm_storeu_ps(Im + rev[r + 1], o1i);
        _mm_storeu_ps(Re + rev[r + 2], o2r);
        _mm_storeu_ps(Im + rev[r + 2], o2i);
        _mm_storeu_ps(Re + rev[r + 3], o3r);
        _mm_storeu_ps(Im + rev[r + 3], o3i);
    }
#endif
    for (; r < q; ++r)
        FirstTwoStages(x.At(x0 + 2 * r), x.At(x0 + 2 * r + 1), x.At(x1 + 2 * r),
                       x.At(x1 + 2 * r + 1), x.At(x2 + 2 * r), x.At(x2 + 2 * r + 1),
                       x.At(x3 + 2 * r), x.At(x3 + 2 * r + 1), Re + rev[r], Im + rev[r]);
}

// Splits the half-length complex spectrum Z into bins 0..N-1 of the 2N-point real spectrum,
// in place. The forward 1/N scaling is a power of two, so folding it into the final halving
// gives the same floats as scaling first.
QX_LOOP_BODY void SeparateBins(float* Re, float* Im, int32_t n, const float* __restrict c,
                               const float* __restrict sn)
{
    const int32_t half = n / 2;
    const float scale = float(0.5 / double(n));

    Re[0] = (Re[0] + Im[0]) * scale;
    Im[0] = 0.0f;

    // Bins k and N - k are computed together; the two halves do not overlap below N/2.
    float* __restrict lowRe = Re;
    float* __restrict lowIm = Im;
    float* __restrict highRe = Re + n;
    float* __restrict highIm = Im + n;
    for (int32_t k = 1; k < half; ++k) {
        const float rk = lowRe[k], rm = highRe[-k];
        const float ik = lowIm[k], im = highIm[-k];
        const float s = -sn[k];
        const float a = rk + rm, b = rk - rm, d = ik + im, e = ik - im;
        const float t1 = b * s - d * c[k];
        const float t2 = b * c[k] + d * s;
        lowRe[k] = (a - t1) * scale;
        highRe[-k] = (a + t1) * scale;
        lowIm[k] = (e - t2) * scale;
        highIm[-k] = (-e - t2) * scale;
    }
    // At k = N/2 both halves meet (b = e = 0); the second pair of results is the one that
    // stays.
    const float a = Re[half] + Re[half], d = Im[half] + Im[half];
    const float t1 = -(d * c[half]);
    const float t2 = d * -sn[half];
    Re[half] = (a + t1) * scale;
    Im[half] = -t2 * scale;
}

float ExactMagnitude(float re, float im)
{
    const double r = re, i = im;
    return float(std::sqrt(r * r + i * i));
}

// Re[k] := |Re[k] + i Im[k]|. Single precision is within an ulp of the exact value while the
// squared magnitude stays a normal float; blocks with any square outside that range (tiny,
// huge, zero or NaN) are done in double precision instead. Each block is checked first and
// then written in place: the block is still in the L1 cache for the second pass, which is
// cheaper than keeping the results aside and copying them back.
QX_LOOP_BODY void Magnitudes(float* __restrict Re, const float* __restrict Im, int32_t count)
{
    constexpr int32_t Block = 256;
    // Non-negative floats order like their bit patterns, which compare without branches.
    constexpr uint32_t Lowest = std::bit_cast<uint32_t>(1e-36f);
    constexpr uint32_t Range = std::bit_cast<uint32_t>(1e37f) - Lowest;
    for (int32_t start = 0; start < count; start += Block) {
        const int32_t len = std::min(Block, count - start);
        float* __restrict re = Re + start;
        const float* __restrict im = Im + start;
        uint32_t outside = 0;
        for (int32_t k = 0; k < len; ++k) {
            const float sq = re[k] * re[k] + im[k] * im[k];
            outside |= uint32_t(std::bit_cast<uint32_t>(sq) - Lowest > Range);
        }
        if (outside == 0) {
            for (int32_t k = 0; k < len; ++k)
                re[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]);
        } else {
            for (int32_t k = 0; k < len; ++k)
                re[k] = ExactMagnitude(re[k], im[k]);
        }
    }
}

#if QX_HAS_WIDE_BUILD
// _mm512_permutexvar_ps with every lane written, spelled with a mask because gcc 12 warns
// about the undefined source inside the unmasked one.
QX_AVX512_TARGET inline __m512 PermuteLanes(__m512i Index, __m512 X)
{
    return _mm512_mask_permutexvar_ps(X, __mmask16(0xFFFF), Index, X);
}

// The stages of half-widths 4 and 8 with one 16-point block per 512-bit vector: each quarter
// of the vector meets its partner by a lane permutation, and a sign vector turns r0 + t and
// r0 - t into one multiply-add. Same arithmetic as ButterflyPairs with h = 4, four times as
// wide.
QX_AVX512_TARGET void FirstPairAvx512(float* Re, float* Im, const float* c1, const float* s1,
                                      const float* c2, const float* s2, int32_t n)
{
    // Twiddles per lane: stage 4 repeats its four for each pair of quarters, stage 8 its
    // eight.
    float w[4][16];
    for (int i = 0; i < 16; ++i) {
        w[0][i] = c1[i % 4];
        w[1][i] = s1[i % 4];
        w[2][i] = c2[i % 8];
        w[3][i] = s2[i % 8];
    }
    const __m512 tc1 = _mm512_loadu_ps(w[0]), ts1 = _mm512_loadu_ps(w[1]);
    const __m512 tc2 = _mm512_loadu_ps(w[2]), ts2 = _mm512_loadu_ps(w[3]);
    // Quarters 0..3 of a block: + - + - for stage 4, + + - - for stage 8.
    const __m512 sign1 = _mm512_setr_ps(1, 1, 1, 1, -1, -1, -1, -1, 1, 1, 1, 1, -1, -1, -1, -1);
    const __m512 sign2 = _mm512_setr_ps(1, 1, 1, 1, 1, 1, 1, 1, -1, -1, -1, -1, -1, -1, -1, -1);
    // Lower and upper partner of each quarter: (0, 1) and (2, 3), then (0, 2) and (1, 3).
    const __m512i low1 = _mm512_setr_epi32(0, 1, 2, 3, 0, 1, 2, 3, 8, 9, 10, 11, 8, 9, 10, 11);
    const __m512i high1 = _mm512_setr_epi32(4, 5, 6, 7, 4, 5, 6, 7, 12, 13, 14, 15, 12, 13, 14, 15);
    const __m512i low2 = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7);
    const __m512i high2 =
        _mm512_setr_epi32(8, 9, 10, 11, 12, 13, 14, 15, 8, 9, 10, 11, 12, 13, 14, 15);
    for (int32_t b = 0; b < n; b += 16) {
        const __m512 xr = _mm512_loadu_ps(Re + b), xi = _mm512_loadu_ps(Im + b);
        __m512 ar = PermuteLanes(low1, xr), ai = PermuteLanes(low1, xi);
        __m512 br = PermuteLanes(high1, xr), bi = PermuteLanes(high1, xi);
        __m512 tr = _mm512_fmsub_ps(tc1, br, _mm512_mul_ps(ts1, bi));
        __m512 ti = _mm512_fmadd_ps(tc1, bi, _mm512_mul_ps(ts1, br));
        const __m512 yr = _mm512_fmadd_ps(sign1, tr, ar);
        const __m512 yi = _mm512_fmadd_ps(sign1, ti, ai);
        ar = PermuteLanes(low2, yr);
        ai = PermuteLanes(low2, yi);
        br = PermuteLanes(high2, yr);
        bi = PermuteLanes(high2, yi);
        tr = _mm512_fmsub_ps(tc2, br, _mm512_mul_ps(ts2, bi));
        ti = _mm512_fmadd_ps(tc2, bi, _mm512_mul_ps(ts2, br));
        _mm512_storeu_ps(Re + b, _mm512_fmadd_ps(sign2, tr, ar));
        _mm512_storeu_ps(Im + b, _mm512_fmadd_ps(sign2, ti, ai));
    }
}
#endif

// Every stage from half-width 4 on walks its contiguous twiddles in the inner loop, which
// vectorises; stages go in pairs to halve the passes over the data.
template <bool Avx512>
QX_LOOP_BODY void LaterStagesBody(float* Re, float* Im, const float* StageCos,
                                  const float* StageSin, int32_t n)
{
    int32_t h = 4;
    for (; 2 * h < n; h *= 4) {
        const float* c1 = StageCos + (h - 1);
        const float* s1 = StageSin + (h - 1);
        const float* c2 = StageCos + (2 * h - 1);
        const float* s2 = StageSin + (2 * h - 1);
        // The first pair's blocks are a single vector of four wide; a constant width lets the
        // compiler drop the loop and its remainder handling there.
        if (h == 4) {
#if QX_HAS_WIDE_BUILD
            if constexpr (Avx512) {
                FirstPairAvx512(Re, Im, c1, s1, c2, s2, n);
                continue;
            }
#endif
            for (int32_t b = 0; b < n; b += 16)
                ButterflyPairs(Re + b, Im + b, Re + b + 4, Im + b + 4, Re + b + 8, Im + b + 8,
                               Re + b + 12, Im + b + 12, c1, s1, c2, s2, 4);
            continue;
        }
        for (int32_t b = 0; b < n; b += 4 * h)
            ButterflyPairs(Re + b, Im + b, Re + b + h, Im + b + h, Re + b + 2 * h, Im + b + 2 * h,
                           Re + b + 3 * h, Im + b + 3 * h, c1, s1, c2, s2, h);
    }
    if (h < n) {
        const float* c = StageCos + (h - 1);
        const float* s = StageSin + (h - 1);
        for (int32_t b = 0; b < n; b += 2 * h)
            Butterflies(Re + b, Im + b, Re + b + h, Im + b + h, c, s, h);
    }
}

QX_LOOP_BODY void WindowBody(float* __restrict x, const float* __restrict w, int32_t count)
{
    for (int32_t i = 0; i < count; ++i)
        x[i] *= w[i];
}

// RealFFT after the packing and first two stages (n >= 4 bins): the later stages, the
// separated bins and, unless the caller wants phases, the magnitudes.
template <bool Avx512>
QX_LOOP_BODY void AfterPackBody(const TDXFFTTables& t, float* Re, float* Im, bool magnitudes)
{
    LaterStagesBody<Avx512>(Re, Im, t.StageCos, t.StageSin, t.Size);
    SeparateBins(Re, Im, t.Size, t.Cos, t.Sin);
    if (magnitudes)
        Magnitudes(Re + 1, Im + 1, t.Size - 1);
}

// RealFFT from the packing of the windowed samples x.
template <bool Avx512>
QX_LOOP_BODY void SpectrumBody(const TDXFFTTables& t, const float* x, float* Re, float* Im,
                               bool magnitudes)
{
    PackFirstTwoStages(FloatSamples{x}, Re, Im, t.BitReverse, t.Size / 4);
    AfterPackBody<Avx512>(t, Re, Im, magnitudes);
}

// RealFFT of the raw samples s, scaled and (unless w is null) windowed while they are packed.
template <bool Avx512>
QX_LOOP_BODY void SampleSpectrumBody(const TDXFFTTables& t, const int16_t* s, const float* w,
                                     float* Re, float* Im, bool magnitudes)
{
    if (w != nullptr)
        PackFirstTwoStages(WindowedSamples{s, w}, Re, Im, t.BitReverse, t.Size / 4);
    else
        PackFirstTwoStages(ScaledSamples{s}, Re, Im, t.BitReverse, t.Size / 4);
    AfterPackBody<Avx512>(t, Re, Im, magnitudes);
}

// One build of the loops: the bodies above inlined into functions compiled for TARGET;
// AVX512 selects the kernels written for that build.
#define QX_LOOP_BUILD(NAME, TARGET, AVX512)                                                        \
    TARGET void Window##NAME(float* x, const float* w, int32_t count)                              \
    {                                                                                              \
        WindowBody(x, w, count);                                                                   \
    }                                                                                              \
    TARGET void LaterStages##NAME(float* Re, float* Im, const float* c, const float* s, int32_t n) \
    {                                                                                              \
        LaterStagesBody<AVX512>(Re, Im, c, s, n);                                                  \
    }                                                                                              \
    TARGET void Spectrum##NAME(const TDXFFTTables& t, const float* x, float* Re, float* Im,        \
                               bool mags)                                                          \
    {                                                                                              \
        SpectrumBody<AVX512>(t, x, Re, Im, mags);                                                  \
    }                                                                                              \
    TARGET void SampleSpectrum##NAME(const TDXFFTTables& t, const int16_t* s, const float* w,      \
                                     float* Re, float* Im, bool mags)                              \
    {                                                                                              \
        SampleSpectrumBody<AVX512>(t, s, w, Re, Im, mags);                                         \
    }

QX_LOOP_BUILD(Baseline, , false)
#if QX_HAS_WIDE_BUILD
QX_LOOP_BUILD(Wide, QX_WIDE_TARGET, false)
QX_LOOP_BUILD(Avx512, QX_AVX512_TARGET, true)
#endif

} // namespace

struct TDXFFTLoops
{
    void (*Window)(float* x, const float* w, int32_t count);
    void (*LaterStages)(float* Re, float* Im, const float* c, const float* s, int32_t n);
    void (*Spectrum)(const TDXFFTTables& t, const float* x, float* Re, float* Im, bool mags);
    void (*SampleSpectrum)(const TDXFFTTables& t, const int16_t* s, const float* w, float* Re,
                           float* Im, bool mags);
};

namespace {

constexpr TDXFFTLoops BaselineLoops{WindowBaseline, LaterStagesBaseline, SpectrumBaseline,
                                    SampleSpectrumBaseline};
#if QX_HAS_WIDE_BUILD
constexpr TDXFFTLoops WideLoopSet{WindowWide, LaterStagesWide, SpectrumWide, SampleSpectrumWide};
constexpr TDXFFTLoops Avx512LoopSet{WindowAvx512, LaterStagesAvx512, SpectrumAvx512,
                                    SampleSpectrumAvx512};
#endif

const TDXFFTLoops& LoopsOf(TDXLoopBuild Build)
{
#if QX_HAS_WIDE_BUILD
    if (Build == TDXLoopBuild::Avx512)
        return Avx512LoopSet;
    if (Build == TDXLoopBuild::Wide)
        return WideLoopSet;
#endif
    return BaselineLoops;
}

} // namespace

bool TDXFFT::LoopBuildSupported(TDXLoopBuild Build)
{
#if QX_HAS_WIDE_BUILD
    static const bool wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    static const bool avx512 =
        wide && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
    switch (Build) {
    case TDXLoopBuild::Baseline:
        return true;
    case TDXLoopBuild::Wide:
        return wide;
    case TDXLoopBuild::Avx512:
        return avx512;
    }
    return false;
#else
    return Build == TDXLoopBuild::Baseline;
#endif
}

TDXLoopBuild TDXFFT::FastestLoopBuild()
{
    for (TDXLoopBuild b : {TDXLoopBuild::Avx512, TDXLoopBuild::Wide})
        if (LoopBuildSupported(b))
            return b;
    return TDXLoopBuild::Baseline;
}

bool TDXFFT::WideLoopsSupported()
{
    return LoopBuildSupported(TDXLoopBuild::Wide);
}

TDXFFT::TDXFFT() : FLoopBuild(FastestLoopBuild()), FLoops(&LoopsOf(FLoopBuild))
{
    // Exponent 10 builds the tables and the rectangular window for 1024 points.
    FWindow = std::make_unique<TDXVector>(0);
    setExponent(10);
}

TDXFFT::~TDXFFT() = default;

bool TDXFFT::WideLoops() const
{
    return FLoopBuild != TDXLoopBuild::Baseline;
}

void TDXFFT::setWideLoops(bool Enabled)
{
    setLoopBuild(Enabled ? FastestLoopBuild() : TDXLoopBuild::Baseline);
}

void TDXFFT::setLoopBuild(TDXLoopBuild Build)
{
    while (!LoopBuildSupported(Build))
        Build = TDXLoopBuild(uint8_t(Build) - 1);
    FLoopBuild = Build;
    FLoops = &LoopsOf(Build);
}

void TDXFFT::setExponent(int Value)
{
    if (Value < 1 || Value > 31 || Value == FExponent)
        return;
    FExponent = Value;
    FSize = int64_t(1) << Value;
    BuildTwiddles(FSize);
    SelectWindow(FLeakFunction, FSize);
}

void TDXFFT::setLeakFunction(TDXLeakType Value)
{
    if (Value != FLeakFunction)
        SelectWindow(Value, FWindow->Count);
}

TDXVector* TDXFFT::CreateVector(int64_t Size)
{
    return Append(VectorList, Size);
}

void TDXFFT::FreeVector(TDXVector* V)
{
    Remove(VectorList, V);
}

TDXComplexVector* TDXFFT::CreateComplexVector(int64_t Size)
{
    return Append(ComplexVectorList, Size);
}

void TDXFFT::FreeComplexVector(TDXComplexVector* V)
{
    Remove(ComplexVectorList, V);
}

void TDXFFT::BuildTwiddles(int64_t N)
{
    BitReverse.clear();
    StageCos.clear();
    StageSin.clear();
    // Beyond the working range no input vector can exist, so tables of up to a gigabyte
    // would only cost memory and time.
    const bool working = FExponent <= MaxWorkingExponent;
    const int32_t n = working ? int32_t(N) : 0;
    FCosTable = std::make_unique<TDXVector>(n);
    FSinTable = std::make_unique<TDXVector>(n);
    if (!working || FCosTable->Count != n || FSinTable->Count != n)
        return;
    for (int32_t i = 0; i < n; ++i) {
        const double a = double(i) * std::numbers::pi / double(n);
        FCosTable->Values[i] = float(std::cos(a));
        FSinTable->Values[i] = float(std::sin(a));
    }
    try {
        BitReverse.resize(size_t(n));
        StageCos.resize(size_t(n));
        StageSin.resize(size_t(n));
    } catch (const std::bad_alloc&) {
        BitReverse = {};
        StageCos = {};
        StageSin = {};
        return;
    }
    BitReverse[0] = 0;
    for (uint32_t i = 1; i < uint32_t(n); ++i)
        BitReverse[i] = (BitReverse[i >> 1] >> 1) | ((i & 1u) << (FExponent - 1));
    for (int32_t h = 1; h < n; h *= 2) {
        const int32_t stride = n / h;
        for (int32_t k = 0; k < h; ++k) {
            StageCos[size_t(h - 1 + k)] = FCosTable->Values[k * stride];
            StageSin[size_t(h - 1 + k)] = FSinTable->Values[k * stride];
        }
    }
}

void TDXFFT::SelectWindow(TDXLeakType Kind, int64_t L)
{
    if (FWindow && Kind == FLeakFunction && L == FWindow->Count)
        return;
    const bool usable = FExponent <= MaxWorkingExponent && L <= MaxWindowLength;
    FWindow = std::make_unique<TDXVector>(usable ? int32_t(L) : -1);
    if (IsRaisedCosine(Kind)) {
        const int32_t len = FWindow->Count;
        const float step = WindowStep(len);
        for (int32_t n = 0; n < len; ++n)
            FWindow->Values[n] = WindowCoefficient(Kind, n, step);
        WindowProc = [this](TDXVector& Data) { ApplyWindow(Data); };
        FLeakFunction = Kind;
    } else if (Kind == wnOwn && FOwnerLeakFunction) {
        WindowProc = FOwnerLeakFunction;
        FLeakFunction = wnOwn;
    } else {
        WindowProc = nullptr;
        FLeakFunction = wnRectangle;
    }
}

void TDXFFT::ApplyWindow(TDXVector& Data) const
{
    if (Data.Values == nullptr || FWindow->Values == nullptr || FWindow->Count < Data.Count)
        return;
    FLoops->Window(Data.Values, FWindow->Values, Data.Count);
}

bool TDXFFT::Ready() const
{
    return FExponent <= MaxWorkingExponent && HoldsElements(FCosTable.get(), FSize) &&
           HoldsElements(FSinTable.get(), FSize) && BitReverse.size() == size_t(FSize);
}

// Unscaled in-place transform with the positive exponent on bit-reversed input.
void TDXFFT::Transform(float* Re, float* Im) const
{
    if (FSize == 2) {
        const float r0 = Re[0], i0 = Im[0];
        Re[0] = r0 + Re[1];
        Im[0] = i0 + Im[1];
        Re[1] = r0 - Re[1];
        Im[1] = i0 - Im[1];
        return;
    }
    for (int64_t b = 0; b < FSize; b += 4)
        FirstTwoStages(Re[b], Im[b], Re[b + 1], Im[b + 1], Re[b + 2], Im[b + 2], Re[b + 3],
                       Im[b + 3], Re + b, Im + b);
    LaterStages(Re, Im);
}

void TDXFFT::LaterStages(float* Re, float* Im) const
{
    FLoops->LaterStages(Re, Im, StageCos.data(), StageSin.data(), int32_t(FSize));
}

void TDXFFT::ComplexFFT(TDXComplexVector* V, bool Inverse)
{
    if (!Ready() || !HoldsElements(V, FSize))
        return;
    float* re = V->Real->Values;
    float* im = V->Imag->Values;
    const uint32_t* rev = BitReverse.data();
    for (uint32_t i = 0; i < uint32_t(FSize); ++i) {
        if (rev[i] > i) {
            std::swap(re[i], re[rev[i]]);
            std::swap(im[i], im[rev[i]]);
        }
    }
    if (Inverse) {
        // The negative-exponent transform is the positive one with real and imaginary
        // parts exchanged on the way in and out.
        Transform(im, re);
        return;
    }
    Transform(re, im);
    const float f = float(1.0 / double(FSize));
    for (int64_t i = 0; i < FSize; ++i) {
        re[i] *= f;
        im[i] *= f;
    }
}

void TDXFFT::RealFFT(TDXVector* Input, TDXComplexVector* Output, bool Phase)
{
    WindowedRealFFT(Input, Output, Phase);
}

bool TDXFFT::WindowedRealFFT(TDXVector* Input, TDXComplexVector* Output, bool Phase)
{
    if (!Ready() || !HoldsElements(Input, 2 * FSize) || !HoldsElements(Output, FSize))
        return false;
    SelectWindow(FLeakFunction, Input->Count);
    if (WindowProc) {
        WindowProc(*Input);
        // An owner's window procedure is foreign code: it may have replaced the vector's
        // storage or reconfigured this component.
        if (!Ready() || !HoldsElements(Input, 2 * FSize) || !HoldsElements(Output, FSize))
            return false;
    }
    float* re = Output->Real->Values;
    float* im = Output->Imag->Values;
    const float* x = Input->Values;
    if (FSize == 2) {
        for (int i = 0; i < 2; ++i) {
            re[i] = x[2 * BitReverse[size_t(i)]];
            im[i] = x[2 * BitReverse[size_t(i)] + 1];
        }
        Transform(re, im);
        SeparateBins(re, im, 2, FCosTable->Values, FSinTable->Values);
        if (!Phase)
            Magnitudes(re + 1, im + 1, 1);
    } else {
        // Sample pairs are packed as complex values z[j] = x[2j] + i x[2j+1]. The first two
        // stages combine z[r], z[r + N/2], z[r + N/4] and z[r + 3N/4], which bit reversal
        // places at p .. p + 3 with p = rev(r); reading them in the order of r keeps the
        // reads sequential instead of jumping across the block.
        FLoops->Spectrum(Tables(), x, re, im, !Phase);
    }
    if (Phase)
        Phases(re, im);
    return true;
}

bool TDXFFT::RealFFTOfSamples(const int16_t* Samples, TDXComplexVector* Output, bool Phase,
                              std::optional<TDXLeakType> GainReference)
{
    if (Samples == nullptr || !Ready() || !HoldsElements(Output, FSize))
        return false;
    const int64_t count = 2 * FSize;
    SelectWindow(FLeakFunction, count);
    // The built-in windows are applied while packing, as ApplyWindow would have done; a
    // window vector that could not be had is skipped there as well, and so is the gain.
    const bool builtIn = IsRaisedCosine(FLeakFunction);
    const bool windowed = builtIn && FWindow->Values != nullptr && FWindow->Count >= count;
    // An owner's procedure has no coefficients to take a gain from.
    const bool known = windowed || !WindowProc;
    const TDXLeakType reference = known && GainReference ? *GainReference : FLeakFunction;
    if (FSize > 2 && (builtIn || !WindowProc)) {
        const float* w = windowed ? FWindow->Values : nullptr;
        if (reference != FLeakFunction) {
            w = GainedWindow(reference, count);
            if (w == nullptr)
                return false;
        }
        FLoops->SampleSpectrum(Tables(), Samples, w, Output->Real->Values, Output->Imag->Values,
                               !Phase);
        if (Phase)
            Phases(Output->Real->Values, Output->Imag->Values);
        return true;
    }
    // An owner's window procedure needs the samples in a vector, and two bins take the
    // special path; both go the ordinary way through the scratch vector.
    if (!HoldsElements(FSampleScratch.get(), count)) {
        FSampleScratch = std::make_unique<TDXVector>(int32_t(count));
        if (!HoldsElements(FSampleScratch.get(), count))
            return false;
    }
    float* x = FSampleScratch->Values;
    const double gain = reference != FLeakFunction ? CoefficientSum(reference, count) /
                                                         CoefficientSum(FLeakFunction, count)
                                                   : 1.0;
    for (int64_t i = 0; i < count; ++i)
        x[i] = float(2 * int(Samples[i]) * gain);
    return WindowedRealFFT(FSampleScratch.get(), Output, Phase);
}

const float* TDXFFT::GainedWindow(TDXLeakType Reference, int64_t Count)
{
    if (FGainedWindow && FGainedWindow->Count == Count && FGainedKind == FLeakFunction &&
        FGainedReference == Reference)
        return FGainedWindow->Values;
    FGainedWindow = std::make_unique<TDXVector>(int32_t(Count));
    if (!HoldsElements(FGainedWindow.get(), Count)) {
        FGainedWindow.reset();
        return nullptr;
    }
    // The same length for both, so the ratio of the sums is that of the means.
    const double gain = CoefficientSum(Reference, Count) / CoefficientSum(FLeakFunction, Count);
    for (int64_t i = 0; i < Count; ++i)
        FGainedWindow->Values[i] =
            float(gain * (IsRaisedCosine(FLeakFunction) ? double(FWindow->Values[i]) : 1.0));
    FGainedKind = FLeakFunction;
    FGainedReference = Reference;
    return FGainedWindow->Values;
}

TDXFFTTables TDXFFT::Tables() const
{
    return TDXFFTTables{BitReverse.data(), StageCos.data(),   StageSin.data(),
                        FCosTable->Values, FSinTable->Values, int32_t(FSize)};
}

void TDXFFT::Phases(float* Re, float* Im) const
{
    for (int32_t k = 1; k < int32_t(FSize); ++k) {
        const float magnitude = ExactMagnitude(Re[k], Im[k]);
        Im[k] = float(std::atan2(double(Im[k]), double(Re[k])));
        Re[k] = magnitude;
    }
}
