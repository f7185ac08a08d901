#pragma once

#include "misure.h"

// The history's control chart of one row over 10,000 runs: from asking the archive for its
// series to both charts drawn, and the window's whole refresh on the chart's tab.
void misuraCarta(Misure::Tabella &tabella);
