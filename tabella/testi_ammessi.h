#pragma once

#include <QString>

// The texts a run is recorded under (serial, operator, station, a row's name) are checked where
// they enter: the archive and the line's server keep them, index them and print them.
namespace TestiAmmessi {

constexpr qsizetype kMassimo = 64;

// Empty if the text may be recorded; otherwise why not, naming che ("--unita", "il numero di
// serie") and the limit.
QString controlla(const QString &testo, const QString &che);
// The text as it may be printed: control characters escaped (\n, \x1b), never raw.
QString mostrabile(const QString &testo);

} // namespace TestiAmmessi
