#pragma once

#include <QStringList>
#include <QWidget>

class QComboBox;
class QTableWidget;
class QToolButton;

// The marker table: a small window that stays beside the main window without holding it up.
// A row per marker (frequency, level, and the difference to the reference marker chosen
// below the table); the buttons act on the chosen row. It only shows what it is given.
class TMarkerTable : public QWidget
{
public:
    enum TColumn { colMHz, colDbm, colDeltaKHz, colDeltaDb, ColumnCount };

    TMarkerTable(int Markers, QWidget* Parent);

    // A row's texts by column; an empty list clears the row.
    void SetRow(int Number, const QStringList& Texts);
    QString Text(int Number, TColumn Column) const;
    // The chosen row's marker, 1..Markers.
    int Selected() const;
    void Select(int Number);
    // The reference marker, 1..Markers.
    int Reference() const;
    void SetReference(int Number);

    QTableWidget* Table;
    QComboBox* CBReference;
    QToolButton* BtnPeak;
    QToolButton* BtnNextLeft;
    QToolButton* BtnNextRight;
    QToolButton* BtnNextLower;
    QToolButton* BtnFrequency;
    QToolButton* BtnOff;
};
