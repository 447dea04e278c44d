#include "LimitCurve.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace quillex {

namespace {

constexpr double NoLimit = std::numeric_limits<double>::quiet_NaN();

// The curve's level at MHz, given J, the index of the first point at or above MHz.
double LevelBefore(const std::vector<TLimitPoint>& Points, size_t J, double MHz)
{
    if (Points.empty())
        return NoLimit;
    if (J == Points.size())
        return Points.back().Dbm;
    const TLimitPoint& b = Points[J];
    if (b.MHz == MHz || J == 0)
        return b.Dbm;
    const TLimitPoint& a = Points[J - 1];
    if (std::isnan(a.Dbm) || std::isnan(b.Dbm))
        return NoLimit;
    return a.Dbm + (b.Dbm - a.Dbm) * (MHz - a.MHz) / (b.MHz - a.MHz);
}

bool SameLevel(double A, double B)
{
    return (std::isnan(A) && std::isnan(B)) || A == B;
}

bool SameValue(float A, float B)
{
    return (std::isnan(A) && std::isnan(B)) || A == B;
}

} // namespace

TLimitCurve::TLimitCurve(std::vector<TLimitPoint> Points) : FPoints(std::move(Points))
{
    for (size_t i = 0; i < FPoints.size(); ++i) {
        if (!std::isfinite(FPoints[i].MHz))
            throw std::invalid_argument("a limit point's frequency is not a number");
        if (std::isinf(FPoints[i].Dbm))
            throw std::invalid_argument("a limit point's level is infinite");
        if (i > 0 && !(FPoints[i].MHz > FPoints[i - 1].MHz))
            throw std::invalid_argument("the frequencies of a limit curve must rise");
    }
}

bool TLimitCurve::Empty() const
{
    return std::all_of(FPoints.begin(), FPoints.end(),
                       [](const TLimitPoint& p) { return std::isnan(p.Dbm); });
}

double TLimitCurve::LevelAt(double MHz) const
{
    const auto it = std::lower_bound(FPoints.begin(), FPoints.end(), MHz,
                                     [](const TLimitPoint& p, double f) { return p.MHz < f; });
    return LevelBefore(FPoints, static_cast<size_t>(it - FPoints.begin()), MHz);
}

bool TLimitCurve::operator==(const TLimitCurve& Other) const
{
    return std::equal(FPoints.begin(), FPoints.end(), Other.FPoints.begin(), Other.FPoints.end(),
                      [](const TLimitPoint& a, const TLimitPoint& b) {
                          return a.MHz == b.MHz && SameLevel(a.Dbm, b.Dbm);
                      });
}

void ResampleCurve(const TLimitCurve& Curve, const TLimitGrid& Grid, float* Out)
{
    const std::vector<TLimitPoint>& points = Curve.Points();
    size_t j = 0;
    for (int d = 0; d < Grid.N; ++d) {
        const double f = Grid.DisplayedMHz(d);
        while (j < points.size() && points[j].MHz < f)
            ++j;
        Out[d] = static_cast<float>(LevelBefore(points, j, f) - Grid.LevelOffsetDb);
    }
}

TLimitCurve CurveFromTrace(const TLimitGrid& Grid, const float* Levels, int First, int Count,
                           double OffsetDb)
{
    const int begin = std::clamp(First, 0, Grid.N);
    const int end = std::clamp(First + std::max(Count, 0), begin, Grid.N);
    std::vector<TLimitPoint> points;
    points.reserve(static_cast<size_t>(end - begin));
    for (int d = begin; d < end; ++d) {
        const double level = double(Levels[d - First]) + Grid.LevelOffsetDb + OffsetDb;
        points.push_back({Grid.DisplayedMHz(d), std::isfinite(level) ? level : NoLimit});
    }
    return TLimitCurve(std::move(points));
}

TLimitCurve FlatCurve(double Dbm)
{
    return TLimitCurve({{0.0, std::isfinite(Dbm) ? Dbm : NoLimit}});
}

TLimitCurve BendCurve(const TLimitCurve& Curve, const TLimitGrid& Grid, const float* Before,
                      const float* After)
{
    int first = 0;
    while (first < Grid.N && SameValue(Before[first], After[first]))
        ++first;
    if (first == Grid.N)
        return Curve;
    int last = Grid.N - 1;
    while (SameValue(Before[last], After[last]))
        --last;

    // The neighbouring bins keep their levels: a point there, on the curve as it was, keeps
    // the curve's run up to them; the bent bins become points of their own.
    const std::vector<TLimitPoint>& old = Curve.Points();
    const double low = Grid.DisplayedMHz(first);
    const double high = Grid.DisplayedMHz(last);
    const double lowGuard = first > 0 ? Grid.DisplayedMHz(first - 1) : low;
    const double highGuard = last < Grid.N - 1 ? Grid.DisplayedMHz(last + 1) : high;
    std::vector<TLimitPoint> points;
    points.reserve(old.size() + static_cast<size_t>(last - first + 3));
    auto keepOld = [&](double From, double To) {
        for (const TLimitPoint& p : old)
            if (p.MHz > From && p.MHz < To)
                points.push_back(p);
    };
    const double below = -std::numeric_limits<double>::infinity();
    const double above = std::numeric_limits<double>::infinity();
    if (first > 0) {
        keepOld(below, lowGuard);
        points.push_back({lowGuard, Curve.LevelAt(lowGuard)});
        keepOld(lowGuard, low);
    } else {
        keepOld(below, low);
    }
    for (int d = first; d <= last; ++d) {
        const double f = Grid.DisplayedMHz(d);
        const double level = SameValue(Before[d], After[d]) ? Curve.LevelAt(f)
                                                            : double(After[d]) + Grid.LevelOffsetDb;
        points.push_back({f, std::isfinite(level) ? level : NoLimit});
    }
    if (last < Grid.N - 1) {
        keepOld(high, highGuard);
        points.push_back({highGuard, Curve.LevelAt(highGuard)});
        keepOld(highGuard, above);
    } else {
        keepOld(high, above);
    }
    return TLimitCurve(std::move(points));
}

} // namespace quillex
