#pragma once

#include "dxHistoInt.h"
#include "dxMeasIntf.h"

#include <array>
#include <memory>
#include <vector>

// The plot as placed on forms: the core, fed either directly through its series data or by a
// measure source through the link it owns.
class TDXHistograph : public TDXHistographInt
{
    Q_OBJECT
    Q_PROPERTY(bool AutoConfig READ AutoConfig WRITE setAutoConfig)
    Q_PROPERTY(TDXMeasureSource* MeasureSource READ MeasureSource WRITE setMeasureSource)

public:
    static constexpr const char* IncompatibleSourceMessage =
        "Histograph needs continuous operation and no individual values.";

    explicit TDXHistograph(QWidget* parent = nullptr);
    ~TDXHistograph() override;

    // True: a new source configuration also sets the visible view, gaps and series count.
    bool AutoConfig() const { return m_autoConfig; }
    void setAutoConfig(bool Value) { m_autoConfig = Value; }

    TDXMeasureSource* MeasureSource() const { return m_link->Source(); }
    // Throws EDXMSIncompatibleSource (after detaching it again) for a source that does not
    // deliver continuous blocks; callers running inside Qt's event loop must catch it.
    void setMeasureSource(TDXMeasureSource* Value);

    TDXMeasureLink* Link() const { return m_link.get(); }
    // Samples each channel buffer holds; 0 until the first block.
    int BufferLength() const { return m_bufferLength; }
    const float* ChannelBuffer(int Index) const { return m_buffers[Index].get(); }

    // Link handlers.
    void ConfigChanged(TDXMeasureLink* Sender);
    void DataArrived(TDXMeasureLink* Sender, const TDXMSDataBlock* Block);

private:
    bool GrowBuffers(int Length);
    void ReleaseUnusedBuffers();

    std::unique_ptr<TDXMeasureLink> m_link;
    bool m_autoConfig = true;
    bool m_assigning = false;
    std::array<std::unique_ptr<float[]>, MaxSeries> m_buffers;
    int m_bufferLength = 0;
    // Buffers replaced by larger ones while a series still shows them; freed once no series
    // points there any more.
    std::vector<std::unique_ptr<float[]>> m_retired;
};
