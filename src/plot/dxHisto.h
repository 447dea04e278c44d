#pragma once

#include "dxHistoInt.h"

// The plot as placed on forms. A measure source may configure and feed it; until a source is
// linked it is fed through the series data of the core.
class TDXHistograph : public TDXHistographInt
{
    Q_OBJECT
    Q_PROPERTY(bool AutoConfig READ AutoConfig WRITE setAutoConfig)

public:
    explicit TDXHistograph(QWidget* parent = nullptr);

    // A new source configuration also sets the visible view, gaps and series count.
    bool AutoConfig() const { return m_autoConfig; }
    void setAutoConfig(bool Value) { m_autoConfig = Value; }

private:
    bool m_autoConfig = true;
};
