#pragma once

#include "dxMeasIntf.h"

#include <vector>

// A producer that a test configures and feeds by hand.
class TestSource : public TDXMeasureSource
{
public:
    explicit TestSource(std::uint8_t caps = capContinuous) { setCapabilities(caps); }
    void SetCaps(std::uint8_t caps) { setCapabilities(caps); }
    void GetConfiguration(TDXMSConfiguration& c) override { c = Config; }
    // Announces a new configuration to every attached consumer, as a source does on its own.
    void Reconfigure()
    {
        const auto links = Links();
        for (TDXMeasureLink* link : links)
            link->Notify();
    }
    void Deliver(const TDXMSDataBlock& block)
    {
        const auto links = Links();
        for (TDXMeasureLink* link : links)
            if (link->OnData)
                link->OnData(link, &block);
    }

    TDXMSConfiguration Config{0, 1000, 1, -100, 0};
};

// A filter reading from another source. Its link's owner is normally the filter itself;
// another owner lets a test build a cycle the owner check cannot see.
class TestFilter : public TDXMLSBase
{
public:
    explicit TestFilter(QObject* linkOwner = nullptr) : m_in(linkOwner ? linkOwner : this) {}
    TDXMeasureSource* MeasureSource() const override { return m_in.Source(); }
    void setMeasureSource(TDXMeasureSource* v) override { m_in.SetSource(v); }

private:
    TDXMeasureLink m_in;
};

// A data block whose channels are the given arrays; an empty array leaves its entry empty.
struct TestBlock
{
    std::vector<std::vector<float>> channels;
    TDXMSDataBlock block{};
    explicit TestBlock(std::vector<std::vector<float>> c) : channels(std::move(c))
    {
        for (std::size_t i = 0; i < channels.size(); ++i)
            if (!channels[i].empty())
                block.Channels[i] = {channels[i].data(), int(channels[i].size())};
    }
};
