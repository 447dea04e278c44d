#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

class TDXMeasureLink;

// What a source tells its consumers about the blocks it will deliver.
struct TDXMSConfiguration
{
    long double XStart = 0; // X value of the first sample
    long double XRange = 0; // X span of a block
    std::int32_t ChannelCount = 0;
    float YMin = 0.0f; // value range of the samples
    float YMax = 0.0f;
    // For other consumers; the plot does not read it.
    std::int32_t SampleCount = 0; // samples per channel in a block
};

// One channel of a data block: Count samples at Data, or nothing when Data is null or Count <= 0.
struct TDXMSChannel
{
    const float* Data = nullptr;
    std::int32_t Count = 0;
};

// Header of a data block, for consumers that care when and in which order blocks came.
struct TDXMSBlockHeader
{
    double TimeStamp = 0.0; // days since 1899-12-30, local time
    std::uint32_t Sequence = 0;
    std::uint32_t Flags = 0;
};

struct TDXMSDataBlock
{
    static constexpr int ChannelSlots = 65;
    TDXMSBlockHeader Header;
    TDXMSChannel Channels[ChannelSlots];
};

// Raised when a consumer cannot work with the source it was given.
class EDXMSIncompatibleSource : public std::runtime_error
{
public:
    explicit EDXMSIncompatibleSource(const std::string& Message) : std::runtime_error(Message) {}
};

// Producer of measured data. Keeps its consumers' links (not owning them) in attachment order
// with one active mark per link. Concrete sources fill in the configuration and deliver blocks
// through each link's OnData.
class TDXMeasureSource : public QObject
{
    Q_OBJECT

public:
    // Capability bits.
    static constexpr std::uint8_t capContinuous = 1;
    static constexpr std::uint8_t capSingleValues = 32;
    static constexpr std::uintptr_t markActive = ~std::uintptr_t(0);
    static constexpr std::uintptr_t markInactive = 0;

    explicit TDXMeasureSource(QObject* parent = nullptr);
    ~TDXMeasureSource() override;

    virtual void AddLink(TDXMeasureLink* Link);
    // Position the link had, or -1 when it was not attached to this source.
    virtual int RemoveLink(TDXMeasureLink* Link);
    virtual void SetLinkActive(TDXMeasureLink* Link, bool Active);
    virtual bool IsLinkActive(TDXMeasureLink* Link) const;
    virtual void GetConfiguration(TDXMSConfiguration& Config);
    // Hook for source-specific requests; nothing in the base and no caller here.
    virtual void SourceRequest(int Code);

    std::uint8_t Capabilities() const { return m_capabilities; }
    const std::vector<TDXMeasureLink*>& Links() const { return m_links; }
    const std::vector<std::uintptr_t>& ActiveMarks() const { return m_activeMarks; }

protected:
    void setCapabilities(std::uint8_t Value) { m_capabilities = Value; }

private:
    int IndexOf(const TDXMeasureLink* Link) const;

    std::vector<TDXMeasureLink*> m_links;
    std::vector<std::uintptr_t> m_activeMarks;
    std::uint8_t m_capabilities = 0;
};

// A source that itself reads from another source (a filter between producer and consumers).
class TDXMLSBase : public TDXMeasureSource
{
    Q_OBJECT
    Q_PROPERTY(TDXMeasureSource* MeasureSource READ MeasureSource WRITE setMeasureSource)

public:
    using TDXMeasureSource::TDXMeasureSource;

    virtual TDXMeasureSource* MeasureSource() const = 0;
    virtual void setMeasureSource(TDXMeasureSource* Value) = 0;
};

// A consumer's connection to one source. Owned by the consumer; it detaches itself when
// destroyed, and a destroyed source detaches all its links, so neither side keeps a stale
// pointer.
class TDXMeasureLink
{
public:
    explicit TDXMeasureLink(QObject* Owner);
    virtual ~TDXMeasureLink();
    TDXMeasureLink(const TDXMeasureLink&) = delete;
    TDXMeasureLink& operator=(const TDXMeasureLink&) = delete;

    // Tells the consumer about a (new) configuration; only while attached.
    virtual void Notify();

    TDXMeasureSource* Source() const { return m_source; }
    // Attaches to Value (none detaches). A source whose chain of filters already reads from
    // this link's owner would close a loop: the link then stays without a source.
    void SetSource(TDXMeasureSource* Value);
    QObject* Owner() const { return m_owner; }

    std::function<void(TDXMeasureLink* Sender)> OnConfigChange;
    std::function<void(TDXMeasureLink* Sender, int Code)> OnSourceEvent;
    std::function<void(TDXMeasureLink* Sender, const TDXMSDataBlock* Block)> OnData;

private:
    friend class TDXMeasureSource;
    bool WouldCloseLoop(TDXMeasureSource* Value) const;

    TDXMeasureSource* m_source = nullptr;
    QObject* m_owner = nullptr;
};
