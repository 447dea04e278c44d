#include "test_window_support.h"

#include "dxHisto.h"

#include <QMouseEvent>
#include <cmath>

namespace {

void MovePointer(QWidget& w, int x, int y)
{
    const QPointF p(x, y);
    QMouseEvent e(QEvent::MouseMove, p, w.mapToGlobal(p), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}

} // namespace

// With the pointer resting on the plot, every frame re-places the cross and rewrites the cursor
// read-out (with the frequency offset); once the pointer has left, frames no longer touch it.
TEST_F(WindowTest, CursorReadoutFollowsLiveDataUnderARestingPointer)
{
    Start();
    Form->show();
    Form->FreqOffset = 0.5f;
    int events = 0;
    float lastX = 0;
    const auto handler = Form->Histo->OnCrossMove;
    Form->Histo->OnCrossMove = [&](QObject* Sender, float X, float Y, int Serie, int Index) {
        ++events;
        lastX = X;
        handler(Sender, X, Y, Serie, Index);
    };
    const auto cursorText = [&] {
        return QString::asprintf("Cursor: %0.3f MHz", (0.5 * 1000.0 + lastX) / 1000.0);
    };
    TDXHistograph& h = *Form->Histo;
    // Before the first frame there is nothing to snap to.
    MovePointer(h, h.width() / 2, h.height() / 2);
    EXPECT_EQ(events, 0);
    Form->Timer1Timer();
    const int x = h.GapLeft() + (h.width() - h.GapLeft() - h.GapRight()) * 3 / 4;
    MovePointer(h, x, h.height() / 2);
    ASSERT_EQ(events, 1);
    EXPECT_EQ(Form->StatusText(1), cursorText());
    // The frequency under the pointer, to the nearest bin.
    const auto underPointer = [&] {
        const int plotW = h.width() - h.GapLeft() - h.GapRight();
        return h.ViewXCurrentMin() +
               (h.ViewXCurrentMax() - h.ViewXCurrentMin()) * double(x - h.GapLeft()) / plotW;
    };
    // Bin k lies at k * 40000 / N kHz, so the cursor reads a carrier on a bin at its own
    // frequency (the last bin is 40000 / N below 40000, not at it).
    const double binKHz = 40000.0 / Form->FFT->Size();
    const auto onABin = [&] {
        const double k = lastX / binKHz;
        EXPECT_NEAR(k, std::nearbyint(k), 1e-3) << lastX;
    };
    const double halfBin = binKHz / 2 + 1e-3;
    EXPECT_NEAR(lastX, underPointer(), halfBin);
    onABin();
    for (int frame = 1; frame <= 5; ++frame) {
        Form->Timer1Timer();
        EXPECT_EQ(events, 1 + frame);
    }
    EXPECT_EQ(Form->StatusText(1), cursorText());
    // A narrower span moves other frequencies under the resting pointer; the next frame shows it.
    Form->RGBW->setItemIndex(0);
    EXPECT_TRUE(Form->StatusText(1).startsWith("Center:"));
    Form->Timer1Timer();
    QApplication::processEvents();
    EXPECT_EQ(Form->StatusText(1), cursorText());
    EXPECT_NEAR(lastX, underPointer(), halfBin);
    onABin();
    // The right edge of the whole spectrum snaps to the last bin.
    Form->RGBW->setItemIndex(3);
    MovePointer(h, h.width() - h.GapRight(), h.height() / 2);
    EXPECT_FLOAT_EQ(lastX, float(40000.0 - binKHz));
    // Leaving the plot erases the cross; frames leave the read-out alone from then on.
    const int before = events;
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&h, &leave);
    const QString last = Form->StatusText(1);
    for (int frame = 0; frame < 3; ++frame)
        Form->Timer1Timer();
    EXPECT_EQ(events, before);
    EXPECT_EQ(Form->StatusText(1), last);
}
