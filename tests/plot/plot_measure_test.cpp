#include "dxHisto.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

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

} // namespace

using Links = std::vector<TDXMeasureLink*>;

TEST(MeasureLink, LoopsThroughFiltersLeaveTheConsumerWithoutASourceAndRaiseNothing)
{
    TestSource src;
    TestFilter f1, f2, f3;
    f1.setMeasureSource(&src);
    f2.setMeasureSource(&f1);
    f3.setMeasureSource(&f2);
    f1.setMeasureSource(&f3); // f3 reads from f2, which reads from f1
    EXPECT_EQ(f1.MeasureSource(), nullptr);
    EXPECT_TRUE(src.Links().empty());
    EXPECT_TRUE(f3.Links().empty());
    f2.setMeasureSource(&f2);
    EXPECT_EQ(f2.MeasureSource(), nullptr);

    // Two filters reading from each other (their links belong to other objects), then a plot
    // given one of them: the chain never ends, so it is refused like a loop.
    QObject x, y;
    TestFilter p(&x), q(&y);
    p.setMeasureSource(&q);
    q.setMeasureSource(&p);
    ASSERT_EQ(q.MeasureSource(), &p);
    TDXHistograph h;
    EXPECT_NO_THROW(h.setMeasureSource(&p));
    EXPECT_EQ(h.MeasureSource(), nullptr);
    EXPECT_EQ(p.Links().size(), 1u);
    f3.setMeasureSource(&src);
    h.setMeasureSource(&f3);
    EXPECT_EQ(h.MeasureSource(), &f3);
}

TEST(MeasureLink, DestructionInEitherOrderLeavesNoPointerBehind)
{
    TestBlock data({{1, 2, 3}});
    {
        auto* s = new TestSource;
        TDXHistograph h;
        h.setMeasureSource(s);
        delete s;
        EXPECT_EQ(h.MeasureSource(), nullptr);
    }
    {
        TestSource s;
        TDXMeasureLink other(nullptr);
        auto* h = new TDXHistograph;
        h->setMeasureSource(&s);
        other.SetSource(&s);
        delete h;
        EXPECT_EQ(s.Links(), (Links{&other}));
        s.Deliver(data.block);
    }
    {
        TestSource s;
        auto* f = new TestFilter;
        f->setMeasureSource(&s);
        TDXHistograph h;
        h.setMeasureSource(f);
        delete f;
        EXPECT_TRUE(s.Links().empty());
        EXPECT_EQ(h.MeasureSource(), nullptr);
    }
}

TEST(PlotSource, IncompatibleSourceIsDetachedBeforeTheAssignerGetsTheException)
{
    TDXHistograph h;
    TestSource good;
    const std::uint8_t caps[] = {0, TDXMeasureSource::capSingleValues,
                                 TDXMeasureSource::capContinuous |
                                     TDXMeasureSource::capSingleValues};
    for (std::uint8_t c : caps) {
        EXPECT_TRUE(h.setProperty("MeasureSource", QVariant::fromValue<TDXMeasureSource*>(&good)));
        TestSource bad(c);
        bad.Config = {5, 5, 1, 0, 1};
        try {
            h.setMeasureSource(&bad);
            ADD_FAILURE() << "no exception for capabilities " << int(c);
        } catch (const EDXMSIncompatibleSource& e) {
            EXPECT_STREQ(e.what(),
                         "Histograph needs continuous operation and no individual values.");
        }
        EXPECT_EQ(h.MeasureSource(), nullptr);
        EXPECT_TRUE(bad.Links().empty());
        EXPECT_TRUE(good.Links().empty());
        EXPECT_EQ(h.ViewXNominalMin(), 0);
    }
    // A source that turns incompatible by itself has no assigner to catch anything.
    h.setMeasureSource(&good);
    good.SetCaps(TDXMeasureSource::capContinuous | TDXMeasureSource::capSingleValues);
    EXPECT_NO_THROW(good.Reconfigure());
    EXPECT_EQ(h.MeasureSource(), nullptr);
}

TEST(PlotSource, BlocksFillAtMostSixteenSeriesSkipEmptyEntriesAndNeverShrinkTheBuffers)
{
    TDXHistograph h;
    h.resize(400, 300);
    TestSource s;
    s.Config.ChannelCount = 20;
    h.setMeasureSource(&s);
    h.setAutoScale(true);
    std::vector<std::vector<float>> twenty(20);
    for (int i = 0; i < 20; ++i)
        twenty[i].assign(10 + i, -100.0f + i);
    TestBlock b20(twenty);
    twenty[0][0] = -120; // -120 .. -81 from the channels that count (the 20th would add -81)
    TestBlock b20low(twenty);
    s.Deliver(b20low.block);
    b20low.channels[0][0] = 0; // copied, so later changes are not shown
    for (int series = 1; series <= 16; ++series) {
        const auto& r = h.SeriesRecord(series);
        ASSERT_EQ(r.Count, 10 + series - 1);
        EXPECT_EQ(r.Data[r.Count - 1], -100.0f + series - 1);
    }
    EXPECT_EQ(h.SeriesRecord(1).Data[0], -120);
    EXPECT_EQ(h.PointBufferCapacity(), 25);
    EXPECT_EQ(h.BufferLength(), 25); // sized for the channels shown, not the 20th
    // The data spans -120 .. -85 (range 35): span 50 centred, step 12.5.
    EXPECT_FLOAT_EQ(h.ViewYMin(), (-120 - 85) / 2.0f - 25);
    EXPECT_FLOAT_EQ(h.ViewYGap(), 12.5f);

    const int length = h.BufferLength();
    const float* buffer1 = h.ChannelBuffer(0);
    TestBlock sparse({{1}, {}, {}, {}, {2, 2, 2}});
    sparse.block.Channels[1] = {nullptr, 50};
    sparse.block.Channels[2] = {sparse.channels[0].data(), 0};
    s.Deliver(sparse.block);
    EXPECT_EQ(h.SeriesRecord(1).Count, 1);
    EXPECT_EQ(h.SeriesRecord(2).Count, 3);
    EXPECT_EQ(h.SeriesRecord(2).Data[0], 2);
    EXPECT_EQ(h.SeriesRecord(3).Count, 12); // from the earlier block
    EXPECT_EQ(h.BufferLength(), length);
    EXPECT_EQ(h.ChannelBuffer(0), buffer1);

    // A longer block grows the buffers and its one channel reaches the screen; series it does
    // not refill keep showing their data.
    h.RenderNow();
    const QImage before = h.Surface().copy();
    const float level = (h.ViewYMin() + h.ViewYMax()) / 2;
    s.Deliver(TestBlock({std::vector<float>(100, level)}).block);
    EXPECT_TRUE(h.RepaintPending() || h.Surface() != before);
    EXPECT_EQ(h.BufferLength(), 100);
    EXPECT_EQ(h.SeriesRecord(1).Count, 100);
    EXPECT_EQ(h.SeriesRecord(2).Data[2], 2);
    const auto& last = h.SeriesRecord(16);
    EXPECT_EQ(std::count(last.Data, last.Data + last.Count, -85.0f), 25);
    s.Deliver(b20.block);

    // A block without a filled channel changes nothing.
    const float yMin = h.ViewYMin();
    s.Deliver(TestBlock({{}, {}}).block);
    EXPECT_EQ(h.SeriesRecord(1).Count, 10);
    EXPECT_EQ(h.ViewYMin(), yMin);
}
