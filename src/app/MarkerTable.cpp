#include "MarkerTable.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QToolButton>

TMarkerTable::TMarkerTable(int Markers, QWidget* Parent)
    // A tool window stays above its main window only, never above dialogs or other programs.
    : QWidget(Parent, Qt::Tool)
{
    setObjectName(QStringLiteral("MarkerTable"));
    setWindowTitle(QStringLiteral("Markers"));
    Table = new QTableWidget(Markers, ColumnCount, this);
    Table->setObjectName(QStringLiteral("MarkerTableRows"));
    Table->setHorizontalHeaderLabels({QStringLiteral("MHz"), QStringLiteral("dBm"),
                                      QString::fromUtf8("\u0394 kHz"),
                                      QString::fromUtf8("\u0394 dB")});
    QStringList names;
    for (int i = 1; i <= Markers; ++i)
        names << QStringLiteral("M%1").arg(i);
    Table->setVerticalHeaderLabels(names);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    for (int r = 0; r < Markers; ++r)
        for (int c = 0; c < ColumnCount; ++c) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            Table->setItem(r, c, item);
        }
    Table->selectRow(0);

    CBReference = new QComboBox(this);
    CBReference->setObjectName(QStringLiteral("CBReference"));
    CBReference->addItems(names);
    auto* reference = new QLabel(QStringLiteral("Reference"), this);
    reference->setBuddy(CBReference);

    const auto button = [this](const char* Name, const char* Text, const char* Hint) {
        auto* b = new QToolButton(this);
        b->setObjectName(QLatin1String(Name));
        b->setText(QString::fromUtf8(Text));
        b->setToolTip(QString::fromUtf8(Hint));
        return b;
    };
    BtnPeak = button("BtnMarkerPeak", "Peak", "The highest peak of the span");
    BtnNextLeft = button("BtnMarkerLeft", "\u25c0", "The next peak to the left");
    BtnNextRight = button("BtnMarkerRight", "\u25b6", "The next peak to the right");
    BtnNextLower = button("BtnMarkerLower", "Next", "The next lower peak");
    BtnFrequency = button("BtnMarkerFrequency", "MHz...", "The peak at a frequency typed in");
    BtnOff = button("BtnMarkerOff", "Off", "Remove the marker");

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setSpacing(2);
    grid->addWidget(Table, 0, 0, 1, 6);
    int column = 0;
    for (QToolButton* b : {BtnPeak, BtnNextLeft, BtnNextRight, BtnNextLower, BtnFrequency, BtnOff})
        grid->addWidget(b, 1, column++);
    grid->addWidget(reference, 2, 0, 1, 2);
    grid->addWidget(CBReference, 2, 2, 1, 4);
}

void TMarkerTable::SetRow(int Number, const QStringList& Texts)
{
    for (int c = 0; c < ColumnCount; ++c)
        if (QTableWidgetItem* item = Table->item(Number - 1, c);
            item && item->text() != Texts.value(c))
            item->setText(Texts.value(c));
}

QString TMarkerTable::Text(int Number, TColumn Column) const
{
    const QTableWidgetItem* item = Table->item(Number - 1, Column);
    return item ? item->text() : QString();
}

int TMarkerTable::Selected() const
{
    const int row = Table->currentRow();
    return row >= 0 ? row + 1 : 1;
}

void TMarkerTable::Select(int Number)
{
    Table->selectRow(Number - 1);
}

int TMarkerTable::Reference() const
{
    return CBReference->currentIndex() + 1;
}

void TMarkerTable::SetReference(int Number)
{
    CBReference->setCurrentIndex(Number - 1);
}
