// The titles dialog of the plot tool bar.

#include "dx_Eft.h"

#include <QFontDialog>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TFormTitle::TFormTitle(QWidget* parent) : TPlotDialog(parent)
{
    setObjectName(QStringLiteral("FormTitle"));
    setWindowTitle(QStringLiteral("Labeling"));
    setFixedSize(329, 215);
    auto* box = new QGroupBox(QStringLiteral("Labeling"), this);
    box->setGeometry(8, 8, 313, 169);
    auto row = [&](int top, const char* label, QLineEdit** edit, QPushButton** button,
                   const char* editName, const char* buttonName) {
        auto* l = new QLabel(QString::fromLatin1(label), box);
        l->setGeometry(8, top + 3, 48, 16);
        if (edit) {
            *edit = new QLineEdit(box);
            (*edit)->setObjectName(QLatin1String(editName));
            (*edit)->setGeometry(56, top, 185, 21);
        }
        *button = new QPushButton(QStringLiteral("Font"), box);
        (*button)->setObjectName(QLatin1String(buttonName));
        (*button)->setGeometry(248, top, 57, 21);
        (*button)->setAutoDefault(false);
    };
    row(20, "bottom:", &EBottom, &ButtonBottom, "EBottom", "ButtonBottom");
    row(44, "top:", &ETop, &ButtonTop, "ETop", "ButtonTop");
    row(68, "left:", &ELeft, &ButtonLeft, "ELeft", "ButtonLeft");
    row(92, "right:", &ERight, &ButtonRight, "ERight", "ButtonRight");
    row(116, "X-axis:", nullptr, &ButtonXAxis, "", "ButtonXAxis");
    row(140, "Y-axis:", nullptr, &ButtonYAxis, "", "ButtonYAxis");

    OKButton = CloseButton(QStringLiteral("OK"), QRect(232, 184, 89, 25), true);
    CancelButton = CloseButton(QStringLiteral("Cancel"), QRect(8, 184, 89, 25), false);

    auto title = [this](QLineEdit* edit, void (TDXHistographInt::*setter)(const QString&)) {
        connect(edit, &QLineEdit::textChanged, this, [this, setter](const QString& text) {
            if (m_histo)
                (m_histo->*setter)(text);
        });
    };
    title(EBottom, &TDXHistographInt::setTitleBottom);
    title(ETop, &TDXHistographInt::setTitleTop);
    title(ELeft, &TDXHistographInt::setTitleLeft);
    title(ERight, &TDXHistographInt::setTitleRight);

    auto font = [this](QPushButton* button, FontId id, bool scalableOnly) {
        connect(button, &QPushButton::clicked, this,
                [this, id, scalableOnly] { ChooseFont(id, scalableOnly); });
    };
    font(ButtonBottom, TDXHistographInt::fiTitleBottom, false);
    font(ButtonTop, TDXHistographInt::fiTitleTop, false);
    font(ButtonLeft, TDXHistographInt::fiTitleLeft, true);
    font(ButtonRight, TDXHistographInt::fiTitleRight, true);
    font(ButtonXAxis, TDXHistographInt::fiXAxis, false);
    font(ButtonYAxis, TDXHistographInt::fiYAxis, false);
}

void TFormTitle::Load()
{
    m_savedTitles = {m_histo->TitleBottom(), m_histo->TitleTop(), m_histo->TitleLeft(),
                     m_histo->TitleRight()};
    for (int id = 0; id < 6; ++id) {
        m_savedFonts[id] = FontOf(static_cast<FontId>(id));
        m_savedColors[id] = m_histo->FontColor(static_cast<FontId>(id));
    }
    ELeft->setText(m_histo->TitleLeft());
    ERight->setText(m_histo->TitleRight());
    ETop->setText(m_histo->TitleTop());
    EBottom->setText(m_histo->TitleBottom());
}

QFont TFormTitle::FontOf(FontId Id) const
{
    switch (Id) {
    case TDXHistographInt::fiTitleTop:
        return m_histo->FontTitleTop();
    case TDXHistographInt::fiXAxis:
        return m_histo->FontXAxis();
    case TDXHistographInt::fiYAxis:
        return m_histo->FontYAxis();
    case TDXHistographInt::fiTitleBottom:
        return m_histo->FontTitleBottom();
    case TDXHistographInt::fiTitleLeft:
        return m_histo->FontTitleLeft();
    case TDXHistographInt::fiTitleRight:
        return m_histo->FontTitleRight();
    }
    return QFont();
}

void TFormTitle::SetFont(FontId Id, const QFont& Font)
{
    switch (Id) {
    case TDXHistographInt::fiTitleTop:
        m_histo->setFontTitleTop(Font);
        break;
    case TDXHistographInt::fiXAxis:
        m_histo->setFontXAxis(Font);
        break;
    case TDXHistographInt::fiYAxis:
        m_histo->setFontYAxis(Font);
        break;
    case TDXHistographInt::fiTitleBottom:
        m_histo->setFontTitleBottom(Font);
        break;
    case TDXHistographInt::fiTitleLeft:
        m_histo->setFontTitleLeft(Font);
        break;
    case TDXHistographInt::fiTitleRight:
        m_histo->setFontTitleRight(Font);
        break;
    }
}

void TFormTitle::ChooseFont(FontId Id, bool ScalableOnly)
{
    if (!m_histo)
        return;
    // Starting from the current font, a cancelled font dialog leaves the font as it was.
    QFont font = FontOf(Id);
    bool ok = false;
    if (FontChooser) {
        ok = FontChooser(font, ScalableOnly);
    } else {
        QFontDialog::FontDialogOptions options;
        if (ScalableOnly)
            options |= QFontDialog::ScalableFonts;
        // The dialog lists real families, not aliases such as "Arial": it starts from the
        // face that is drawn, so that OK without a choice keeps the font's look.
        font.setFamily(QFontInfo(font).family());
        font = QFontDialog::getFont(&ok, font, this, QStringLiteral("Font"), options);
    }
    if (ok)
        SetFont(Id, font);
}

void TFormTitle::Restore()
{
    m_histo->setTitleBottom(m_savedTitles[0]);
    m_histo->setTitleTop(m_savedTitles[1]);
    m_histo->setTitleLeft(m_savedTitles[2]);
    m_histo->setTitleRight(m_savedTitles[3]);
    for (FontId id : {TDXHistographInt::fiTitleBottom, TDXHistographInt::fiTitleTop,
                      TDXHistographInt::fiTitleLeft, TDXHistographInt::fiTitleRight,
                      TDXHistographInt::fiXAxis, TDXHistographInt::fiYAxis}) {
        SetFont(id, m_savedFonts[id]);
        m_histo->setFontColor(id, m_savedColors[id]);
    }
}
