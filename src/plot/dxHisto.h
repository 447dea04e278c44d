#pragma once

#include "dxHistoInt.h"

// The plot as placed on forms: the core, fed through its series data, plus the setting that
// decides how far a measure source's configuration may reshape the view.
class TDXHistograph : public TDXHistographInt
{
    Q_OBJECT
    Q_PROPERTY(bool AutoConfig READ AutoConfig WRITE setAutoConfig)

public:
    explicit TDXHistograph(QWidget* parent = nullptr);

    // True: a new source configuration also sets the visible view, gaps and series count.
    bool AutoConfig() const { return m_autoConfig; }
    void setAutoConfig(bool Value) { m_autoConfig = Value; }

private:
    bool m_autoConfig = true;
};
