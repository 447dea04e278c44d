#include "WheelGuard.h"

#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QScrollBar>

namespace {

class TWheelGuard : public QObject
{
public:
    explicit TWheelGuard(QAbstractScrollArea* Area) : QObject(Area), FArea(Area) {}

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (Event->type() != QEvent::Wheel)
            return false;
        const auto* widget = static_cast<QWidget*>(Watched);
        if (widget->hasFocus())
            return false;
        QCoreApplication::sendEvent(FArea->verticalScrollBar(), Event);
        return true;
    }

private:
    QAbstractScrollArea* FArea;
};

} // namespace

void KeepWheelForScrolling(QWidget* Panel, QAbstractScrollArea* Area)
{
    auto* guard = new TWheelGuard(Area);
    const auto watch = [guard](QWidget* Box) {
        // The wheel must not hand them the focus first (their default).
        Box->setFocusPolicy(Qt::StrongFocus);
        Box->installEventFilter(guard);
    };
    for (QAbstractSpinBox* box : Panel->findChildren<QAbstractSpinBox*>())
        watch(box);
    for (QComboBox* box : Panel->findChildren<QComboBox*>())
        watch(box);
}
