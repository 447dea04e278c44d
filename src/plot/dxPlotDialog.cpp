#include "dxPlotDialog.h"

#include <QPushButton>

void TPlotDialog::showEvent(QShowEvent* event)
{
    m_rejected = false;
    if (m_histo)
        Load();
    QDialog::showEvent(event);
}

void TPlotDialog::done(int Result)
{
    m_rejected = Result == QDialog::Rejected;
    if (m_rejected && m_histo)
        Restore();
    QDialog::done(Result);
}

QPushButton* TPlotDialog::CloseButton(const QString& Text, const QRect& Geometry, bool Accepts)
{
    auto* button = new QPushButton(Text, this);
    button->setGeometry(Geometry);
    connect(button, &QPushButton::clicked, this, Accepts ? &QDialog::accept : &QDialog::reject);
    return button;
}
