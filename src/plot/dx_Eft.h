#pragma once

#include "dxPlotDialog.h"

#include <array>
#include <functional>

class QLineEdit;
class QPushButton;

// Titles and fonts of a plot. Every edit reaches the plot at once.
class TFormTitle : public TPlotDialog
{
    Q_OBJECT

public:
    explicit TFormTitle(QWidget* parent = nullptr);

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

protected:
    void Load() override;
    void Restore() override;

private:
    using FontId = TDXHistographInt::TDXFontId;
    void ChooseFont(FontId Id, bool ScalableOnly);
    QFont FontOf(FontId Id) const;
    void SetFont(FontId Id, const QFont& Font);

    std::array<QString, 4> m_savedTitles; // bottom, top, left, right
    std::array<QFont, 6> m_savedFonts;    // by font id
    std::array<TColor, 6> m_savedColors;
};
