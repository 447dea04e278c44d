#include "ScreenshotU.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QPixmap>
#include <QWidget>

namespace {

// Window texts are read the way the capture always did: at most 31 characters.
constexpr qsizetype MaxTextLength = 31;

bool Matches(const QWidget* W, const QString& Text)
{
    for (const QString& own : {W->objectName(), W->windowTitle()}) {
        const QString head = own.left(MaxTextLength);
        if (!head.isEmpty() && head.contains(Text))
            return true;
    }
    return false;
}

void Visit(QWidget* W, const QString& Text, QWidget*& Found)
{
    if (Matches(W, Text))
        Found = W;
    for (QObject* child : W->children())
        if (auto* cw = qobject_cast<QWidget*>(child))
            Visit(cw, Text, Found);
}

} // namespace

QWidget* FindWindowByText(const QString& Text)
{
    QWidget* found = nullptr;
    if (Text.isEmpty())
        return nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        Visit(top, Text, found);
    return found;
}

QImage GrabWindowByText(const QString& Text, const std::function<void(int)>& WaitMs)
{
    QWidget* target = FindWindowByText(Text);
    if (target == nullptr)
        return {};
    target->window()->raise();
    if (WaitMs)
        WaitMs(100);
    return target->grab().toImage();
}

bool CopyWindowToClipboard(const QString& Text, const std::function<void(int)>& WaitMs)
{
    const QImage image = GrabWindowByText(Text, WaitMs);
    if (image.isNull())
        return false;
    QGuiApplication::clipboard()->setImage(image);
    return true;
}
