#include "Unit1RadioGroup.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>
#include <algorithm>

TRadioGroup::TRadioGroup(const QString& Caption, const QStringList& Items, int Columns,
                         QWidget* Parent)
    : QGroupBox(Caption, Parent), FGroup(new QButtonGroup(this))
{
    auto* grid = new QGridLayout(this);
    // The settings panel is narrow: two columns must fit in it without clipping.
    grid->setContentsMargins(2, 1, 0, 1);
    grid->setHorizontalSpacing(0);
    grid->setVerticalSpacing(0);
    const int rows = (static_cast<int>(Items.size()) + Columns - 1) / Columns;
    for (int i = 0; i < Items.size(); ++i) {
        auto* button = new QRadioButton(Items[i], this);
        FButtons.append(button);
        FGroup->addButton(button, i);
        // Items fill the first column top to bottom, then the next.
        grid->addWidget(button, i % rows, i / rows);
    }
    connect(FGroup, &QButtonGroup::idClicked, this, &TRadioGroup::setItemIndex);
}

void TRadioGroup::setItemIndex(int Index)
{
    Index = std::clamp(Index, -1, ItemCount() - 1);
    if (Index == FItemIndex)
        return;
    FItemIndex = Index;
    if (Index < 0) {
        // An exclusive group cannot uncheck its last button.
        FGroup->setExclusive(false);
        for (QRadioButton* b : FButtons)
            b->setChecked(false);
        FGroup->setExclusive(true);
    } else {
        FButtons[Index]->setChecked(true);
    }
    emit Click();
}

QString TRadioGroup::ItemText(int Index) const
{
    if (Index < 0 || Index >= ItemCount())
        return {};
    return FButtons[Index]->text();
}
