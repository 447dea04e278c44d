#pragma once

#include "dxHistoInt.h"

#include <QDialog>

class QPushButton;

// A dialog of the plot tool bar that edits its plot live: showing it keeps what the plot has, and
// Cancel or the close box write that back.
class TPlotDialog : public QDialog
{
public:
    void SetHisto(TDXHistographInt* Histo) { m_histo = Histo; }

    void done(int Result) override;

protected:
    explicit TPlotDialog(QWidget* parent) : QDialog(parent) {}

    // Called on showing with a plot set: fill the fields from it and keep what Restore needs.
    virtual void Load() = 0;
    // Called when the dialog is rejected with a plot set: write back what Load kept.
    virtual void Restore() = 0;

    void showEvent(QShowEvent* event) override;

    // A button at Geometry that closes the dialog, accepted or rejected.
    QPushButton* CloseButton(const QString& Text, const QRect& Geometry, bool Accepts);

    TDXHistographInt* m_histo = nullptr;
    // Rejected and not shown again since: closing takes the focus from an edit, and what it
    // applies then would land after the restore.
    bool m_rejected = false;
};
