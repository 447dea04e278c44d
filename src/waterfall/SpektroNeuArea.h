#pragma once

#include <QWidget>

class TSpektroImage;
class TSpektroNeu;

// One of the waterfall control's three areas: it shows its image 1:1 from the top-left corner.
// The waterfall area also hands its mouse actions to the control's events.
class TSpektroArea : public QWidget
{
public:
    TSpektroArea(TSpektroNeu* Owner, const TSpektroImage& Image, bool RoutesMouse);

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;

private:
    TSpektroNeu* Control;
    const TSpektroImage& Image;
    bool RoutesMouse;
};
