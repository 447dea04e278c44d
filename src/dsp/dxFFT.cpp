#include "dxFFT.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

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

// One block of radix-2 butterflies: (r0, i0) and (r1, i1) are its lower and upper halves.
void Butterflies(float* __restrict r0, float* __restrict i0, float* __restrict r1,
                 float* __restrict i1, const float* __restrict c, const float* __restrict s,
                 int32_t h)
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

} // namespace

TDXFFT::TDXFFT()
{
    FWindow = std::make_unique<TDXVector>(0);
    setExponent(10);
    SelectWindow(wnRectangle, FSize);
}

TDXFFT::~TDXFFT() = default;

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
    for (uint32_t i = 0; i < uint32_t(n); ++i) {
        uint32_t r = 0;
        for (int b = 0; b < FExponent; ++b)
            r |= ((i >> b) & 1u) << (FExponent - 1 - b);
        BitReverse[i] = r;
    }
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
    if (Kind == wnHanning || Kind == wnHamming || Kind == wnBlackman) {
        const int32_t len = FWindow->Count;
        const float step = len > 1 ? float(2.0 * std::numbers::pi / double(len - 1)) : 0.0f;
        for (int32_t n = 0; n < len; ++n) {
            const double x = float(double(n) * double(step));
            double w;
            if (Kind == wnHanning)
                w = 0.5 - 0.5 * std::cos(x);
            else if (Kind == wnHamming)
                w = 0.54 - 0.46 * std::cos(x);
            else
                w = 0.42 - 0.5 * std::cos(x) + 0.08 * std::cos(2.0 * x);
            FWindow->Values[n] = float(w);
        }
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
    float* __restrict x = Data.Values;
    const float* __restrict w = FWindow->Values;
    for (int32_t i = 0; i < Data.Count; ++i)
        x[i] *= w[i];
}

bool TDXFFT::Ready() const
{
    return FExponent <= MaxWorkingExponent && HoldsElements(FCosTable.get(), FSize) &&
           HoldsElements(FSinTable.get(), FSize) && BitReverse.size() == size_t(FSize);
}

// Unscaled in-place transform with the positive exponent on bit-reversed input. The first two
// radix-2 stages have the twiddles 1 and i, so they are done together without multiplies;
// every later stage walks its contiguous twiddles in the inner loop, which vectorises.
void TDXFFT::Transform(float* Re, float* Im) const
{
    const int32_t n = int32_t(FSize);
    if (n == 2) {
        const float r0 = Re[0], i0 = Im[0];
        Re[0] = r0 + Re[1];
        Im[0] = i0 + Im[1];
        Re[1] = r0 - Re[1];
        Im[1] = i0 - Im[1];
        return;
    }
    for (int32_t b = 0; b < n; b += 4) {
        const float ar = Re[b] + Re[b + 1], ai = Im[b] + Im[b + 1];
        const float br = Re[b] - Re[b + 1], bi = Im[b] - Im[b + 1];
        const float cr = Re[b + 2] + Re[b + 3], ci = Im[b + 2] + Im[b + 3];
        const float dr = Re[b + 2] - Re[b + 3], di = Im[b + 2] - Im[b + 3];
        Re[b] = ar + cr;
        Im[b] = ai + ci;
        Re[b + 2] = ar - cr;
        Im[b + 2] = ai - ci;
        // d * i = (-di, dr)
        Re[b + 1] = br - di;
        Im[b + 1] = bi + dr;
        Re[b + 3] = br + di;
        Im[b + 3] = bi - dr;
    }
    for (int32_t h = 4; h < n; h *= 2) {
        const float* c = StageCos.data() + (h - 1);
        const float* s = StageSin.data() + (h - 1);
        for (int32_t b = 0; b < n; b += 2 * h)
            Butterflies(Re + b, Im + b, Re + b + h, Im + b + h, c, s, h);
    }
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
    if (!Ready() || !HoldsElements(Input, 2 * FSize) || !HoldsElements(Output, FSize))
        return;
    SelectWindow(FLeakFunction, Input->Count);
    if (WindowProc)
        WindowProc(*Input);
    // Pack sample pairs as complex values straight into bit-reversed order.
    float* __restrict re = Output->Real->Values;
    float* __restrict im = Output->Imag->Values;
    const float* __restrict x = Input->Values;
    const uint32_t* __restrict rev = BitReverse.data();
    for (int32_t i = 0; i < int32_t(FSize); ++i) {
        re[i] = x[2 * rev[i]];
        im[i] = x[2 * rev[i] + 1];
    }
    Transform(re, im);
    Separate(re, im, Phase);
}

namespace {

inline float Magnitude(float re, float im)
{
    const double r = re, i = im;
    return float(std::sqrt(r * r + i * i));
}

// Writes bin (re, im) as its magnitude and either its imaginary part or its angle.
template <bool Phase> inline void StoreBin(float& OutRe, float& OutIm, float re, float im)
{
    OutIm = Phase ? float(std::atan2(double(im), double(re))) : im;
    OutRe = Magnitude(re, im);
}

// Splits the half-length complex spectrum Z into bins 0..N-1 of the 2N-point real spectrum
// and turns them into magnitudes. The forward 1/N scaling is a power of two, so folding it
// into the final halving gives the same floats as scaling first.
template <bool Phase>
void SeparateBins(float* Re, float* Im, int32_t n, const float* __restrict c,
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
        StoreBin<Phase>(lowRe[k], lowIm[k], (a - t1) * scale, (e - t2) * scale);
        StoreBin<Phase>(highRe[-k], highIm[-k], (a + t1) * scale, (-e - t2) * scale);
    }
    // At k = N/2 both halves meet (b = e = 0); the second pair of results is the one that
    // stays.
    const float a = Re[half] + Re[half], d = Im[half] + Im[half];
    const float t1 = -(d * c[half]);
    const float t2 = d * -sn[half];
    StoreBin<Phase>(Re[half], Im[half], (a + t1) * scale, -t2 * scale);
}

} // namespace

void TDXFFT::Separate(float* Re, float* Im, bool Phase) const
{
    if (Phase)
        SeparateBins<true>(Re, Im, int32_t(FSize), FCosTable->Values, FSinTable->Values);
    else
        SeparateBins<false>(Re, Im, int32_t(FSize), FCosTable->Values, FSinTable->Values);
}
