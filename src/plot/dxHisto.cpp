#include "dxHisto.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>

namespace {

// Grid divisions a span shows at a step: rounded to the nearest integer with ties to even (the
// default rounding mode), at least 1; a step of 0 counts as one division.
int Divisions(long double Span, long double Gap)
{
    if (Gap == 0)
        return 1;
    const long double q = std::nearbyint(Span / Gap);
    if (!(q >= 1))
        return 1;
    return q >= INT_MAX ? INT_MAX : static_cast<int>(q);
}

} // namespace

TDXHistograph::TDXHistograph(QWidget* parent)
    : TDXHistographInt(parent), m_link(std::make_unique<TDXMeasureLink>(this))
{
    m_link->OnConfigChange = [this](TDXMeasureLink* Sender) { ConfigChanged(Sender); };
    m_link->OnSourceEvent = [](TDXMeasureLink*, int) {};
    m_link->OnData = [this](TDXMeasureLink* Sender, const TDXMSDataBlock* Block) {
        DataArrived(Sender, Block);
    };
}

TDXHistograph::~TDXHistograph()
{
    // Detach first, so the source stops delivering into buffers that are about to go.
    m_link.reset();
}

void TDXHistograph::setMeasureSource(TDXMeasureSource* Value)
{
    if (Value == m_link->Source())
        return;
    // Only an assignment may see the exception of an incompatible source; a configuration
    // change the source announces on its own must not throw into the source's code.
    struct Assigning
    {
        bool& flag;
        explicit Assigning(bool& f) : flag(f) { flag = true; }
        ~Assigning() { flag = false; }
    } assigning(m_assigning);
    m_link->SetSource(Value);
}

void TDXHistograph::ConfigChanged(TDXMeasureLink*)
{
    TDXMeasureSource* source = MeasureSource();
    if (!source)
        return;
    TDXMSConfiguration config;
    source->GetConfiguration(config);
    if (config.ChannelCount <= 0 || config.XRange == 0)
        return;
    const std::uint8_t caps = source->Capabilities();
    if (!(caps & TDXMeasureSource::capContinuous) || (caps & TDXMeasureSource::capSingleValues)) {
        m_link->SetSource(nullptr);
        if (m_assigning)
            throw EDXMSIncompatibleSource(IncompatibleSourceMessage);
        return;
    }

    const bool enableUpdate = EnableUpdate();
    setEnableUpdate(false);
    // The number of grid divisions on each axis survives the change of range.
    const int nX =
        Divisions(static_cast<long double>(ViewXNominalMax()) - ViewXNominalMin(), ViewXGap());
    setViewXNominalMin(static_cast<float>(config.XStart));
    setViewXNominalMax(static_cast<float>(config.XStart + config.XRange));
    if (m_autoConfig) {
        setViewXCurrentMin(static_cast<float>(config.XStart));
        setViewXCurrentMax(static_cast<float>(config.XStart + config.XRange));
        setViewXGap(static_cast<float>(
            (static_cast<long double>(ViewXNominalMax()) - ViewXNominalMin()) / nX));
        const int nY = Divisions(static_cast<long double>(ViewYMax()) - ViewYMin(), ViewYGap());
        if (config.YMin != config.YMax) {
            setViewYMin(config.YMin);
            setViewYMax(config.YMax);
            setViewYGap(
                static_cast<float>((static_cast<long double>(ViewYMax()) - ViewYMin()) / nY));
        }
        setSeriesNumber(std::min<int>(config.ChannelCount, MaxSeries));
    }
    setEnableUpdate(enableUpdate);
}

void TDXHistograph::DataArrived(TDXMeasureLink*, const TDXMSDataBlock* Block)
{
    if (!Block)
        return;
    // Size for the channels that are copied; channels beyond the 16th are never shown.
    int longest = 0;
    int filled = 0;
    for (const TDXMSChannel& channel : Block->Channels) {
        if (!channel.Data || channel.Count <= 0)
            continue;
        longest = std::max(longest, static_cast<int>(channel.Count));
        if (++filled == MaxSeries)
            break;
    }
    if (longest > m_bufferLength && !GrowBuffers(longest))
        return;

    int n = 0;
    for (const TDXMSChannel& channel : Block->Channels) {
        if (!channel.Data || channel.Count <= 0)
            continue;
        float* buffer = m_buffers[n].get();
        std::copy_n(channel.Data, channel.Count, buffer);
        ++n;
        AssignSeriesData(buffer, channel.Count, n);
        if (n == MaxSeries)
            break;
    }
    ReleaseUnusedBuffers();
    if (n >= 1) {
        AdjustPointBuffer();
        RefreshData();
    }
}

bool TDXHistograph::GrowBuffers(int Length)
{
    std::array<std::unique_ptr<float[]>, MaxSeries> grown;
    for (auto& buffer : grown) {
        buffer.reset(new (std::nothrow) float[Length]);
        if (!buffer)
            return false; // too large a block: keep what is shown
    }
    // A series not refilled by this block still points at its old buffer; that buffer stays
    // until nothing shows it.
    for (auto& buffer : m_buffers)
        if (buffer)
            m_retired.push_back(std::move(buffer));
    m_buffers = std::move(grown);
    m_bufferLength = Length;
    return true;
}

void TDXHistograph::ReleaseUnusedBuffers()
{
    if (m_retired.empty())
        return;
    std::erase_if(m_retired, [this](const std::unique_ptr<float[]>& buffer) {
        for (int series = 1; series <= MaxSeries; ++series)
            if (SeriesRecord(series).Data == buffer.get())
                return false;
        return true;
    });
}
