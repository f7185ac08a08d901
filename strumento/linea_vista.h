#pragma once

#include "strumento.h"

#include <optional>

// The line of a pseudo-terminal as the far end sees it now: the rate the program set, and
// whether it asked for odd parity. Nothing if the settings cannot be read.
//
// Measured on Linux: the pseudo-terminal driver clears PARENB and forces CS8 on every change of
// settings, but keeps the rate (a custom one as well, read here as a number) and PARODD. So odd
// parity can be told from even or none; even from none cannot, and strace on the program is
// where that is checked.
std::optional<Strumento::Linea> lineaVista(int descrittore);
