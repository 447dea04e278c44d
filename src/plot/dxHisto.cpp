#include "dxHisto.h"

TDXHistograph::TDXHistograph(QWidget* parent) : TDXHistographInt(parent) {}
