#pragma once

#include "dxHistoInt.h"

#include <QDialog>
#include <array>
#include <functional>

class QLineEdit;
class QPushButton;

// Titles and fonts of a plot. Every edit reaches the plot at once; Cancel or the close box
// write back what the plot had when the dialog was shown.
class TFormTitle : public QDialog
{
    Q_OBJECT

public:
    explicit TFormTitle(QWidget* parent = nullptr);

    void SetHisto(TDXHistographInt* Histo) { m_histo = Histo; }

    // Lets the user pick a font starting from `Font`; false when cancelled. ScalableOnly offers
    // only scalable fonts (the rotated side titles). Empty: the platform's font dialog.
    std::function<bool(QFont& Font, bool ScalableOnly)> FontChooser;

    QLineEdit* EBottom;
    QLineEdit* ETop;
    QLineEdit* ELeft;
    QLineEdit* ERight;
    QPushButton* ButtonBottom;
    QPushButton* ButtonTop;
    QPushButton* ButtonLeft;
    QPushButton* ButtonRight;
    QPushButton* ButtonXAxis;
    QPushButton* ButtonYAxis;
    QPushButton* OKButton;
    QPushButton* CancelButton;

    void done(int Result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    using FontId = TDXHistographInt::TDXFontId;
    void ChooseFont(FontId Id, bool ScalableOnly);
    QFont FontOf(FontId Id) const;
    void SetFont(FontId Id, const QFont& Font);

    TDXHistographInt* m_histo = nullptr;
    std::array<QString, 4> m_savedTitles; // bottom, top, left, right
    std::array<QFont, 6> m_savedFonts;    // by font id
    std::array<TColor, 6> m_savedColors;
};
