// The window at a Qt scale factor of 2 (set by the program's own main before the application
// starts): it fits a 1920 x 1080 screen, every control stays reachable, and the display panel's
// copy and saved picture hold the device pixels.

#include "test_window_support.h"

#include <QTest>

namespace {

// The tallest window a 1080-line screen at scale 2 holds with a title bar and a panel, and
// the widest a 1920-pixel screen holds.
constexpr int ScreenFitHeight = 520;
constexpr int ScreenFitWidth = 1920 / 2;

bool IsControl(const QWidget* w)
{
    // A spin box's own edit is part of the spin box.
    if (qobject_cast<const QAbstractSpinBox*>(w->parentWidget()))
        return false;
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QLineEdit*>(w) || qobject_cast<const QGroupBox*>(w) ||
           qobject_cast<const QLabel*>(w);
}

} // namespace

TEST_F(WindowTest, FitsAFullHdScreenAtScaleTwoWithEveryControlReachable)
{
    ASSERT_EQ(qApp->devicePixelRatio(), 2.0);
    StartShown();
    EXPECT_LE(Form->minimumSizeHint().height(), ScreenFitHeight);
    EXPECT_LE(Form->minimumSize().height(), ScreenFitHeight);
    // With the simulator's notice beside the status panels.
    ASSERT_TRUE(Form->LblSimulatedReceiver->isVisible());
    EXPECT_LE(Form->minimumSizeHint().width(), ScreenFitWidth);
    const int tallWidth = Form->PnlSettings->width();

    Form->resize(Form->width(), ScreenFitHeight);
    QApplication::processEvents();
    ASSERT_EQ(Form->height(), ScreenFitHeight);
    // The parts keep their designed sizes: only the settings panel scrolls.
    EXPECT_EQ(Form->Histo->height(), 248);
    EXPECT_EQ(Form->PnlScrollBarAbout->height(), 22);
    EXPECT_EQ(Form->BtnStartStop->height(), 30);
    EXPECT_EQ(Form->GBOffsets->height(), 91);
    for (QToolButton* b : {Form->BtnClearDisplay, Form->BtnCopy2ClpBrd, Form->BtnGrid})
        EXPECT_EQ(b->size(), QSize(33, 33)) << b->objectName();
    EXPECT_GE(Form->StatusBar->height(), Form->StatusBar->minimumSizeHint().height());
    EXPECT_TRUE(Form->ScrollSettings->verticalScrollBar()->isVisible());
    // The scroll bar has room of its own: the controls keep their full width beside it.
    EXPECT_GE(Form->ScrollSettings->viewport()->width(),
              Form->Splitter1->minimumSizeHint().width());
    EXPECT_EQ(Form->PnlSettings->width(),
              tallWidth + Form->ScrollSettings->verticalScrollBar()->sizeHint().width());

    // Each control of the settings panel can be scrolled into full view, at its full size.
    QWidget* viewport = Form->ScrollSettings->viewport();
    int controls = 0;
    for (QWidget* w : Form->Splitter1->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(Form.get()) || !IsControl(w))
            continue;
        ++controls;
        Form->ScrollSettings->ensureWidgetVisible(w, 0, 0);
        QApplication::processEvents();
        const QRect shown(w->mapTo(viewport, QPoint(0, 0)), w->size());
        EXPECT_TRUE(viewport->rect().contains(shown)) << w->objectName();
        EXPECT_GE(w->height(), w->minimumSizeHint().height()) << w->objectName();
    }
    EXPECT_GE(controls, 20);

    // Tall enough again: no scroll bar, the designed width.
    Form->resize(Form->width(), 790);
    QApplication::processEvents();
    EXPECT_FALSE(Form->ScrollSettings->verticalScrollBar()->isVisible());
    EXPECT_EQ(Form->PnlSettings->width(), tallWidth);
}

// The copy of the display panel and the picture Ctrl+S saves hold the screen's device pixels;
// where the plot stands they are the plot's own surface.
TEST_F(WindowTest, DisplayCopyHoldsTheDevicePixels)
{
    Start();
    Form->show();
    Form->Timer1Timer();
    QApplication::processEvents();
    QApplication::clipboard()->clear();
    Form->BtnCopy2ClpBrd->click();
    const QImage copied = QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
    // The panel, 4 pixels and the level legend to its right, in device pixels.
    EXPECT_EQ(copied.size(), QSize(Form->PnlHistoSpektro->width() + 4 + Form->Legend->width(),
                                   Form->PnlHistoSpektro->height()) *
                                 2);
    const QImage& plot = Form->Histo->Surface();
    ASSERT_EQ(plot.size(), Form->Histo->size() * 2);
    const QPoint at = Form->Histo->mapTo(Form->PnlHistoSpektro, QPoint(0, 0)) * 2;
    EXPECT_TRUE(copied.copy(QRect(at, plot.size())) == plot.convertToFormat(QImage::Format_RGB32));

    Form->activateWindow();
    Prompts.Names.push_back(Dir.filePath("display.png"));
    QTest::keyClick(Form.get(), Qt::Key_S, Qt::ControlModifier);
    const QImage saved = QImage(Dir.filePath("display.png")).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(saved.size(), copied.size());
    EXPECT_TRUE(saved.copy(QRect(at, plot.size())) == plot.convertToFormat(QImage::Format_RGB32));
}
