#pragma once

#include <QIcon>

// The pictures of the display buttons beside the plot.
enum class TDisplayIcon { Clear, Copy, Grid };

// Drawn in code (the plot's vector icons) at whatever pixel size Qt asks for, so they stay sharp
// at every scale.
QIcon DisplayIcon(TDisplayIcon Kind);
