#pragma once

#include <QString>

// The panel's texts turned into what goes on the line. Each throws Errore, naming the field, for a
// text that cannot be used.
namespace Conversioni {

// Decimal text to a signed 16-bit number, a fraction rounded to the nearest, halves to even.
qint16 numeroPorta(const QString &testo);

// Decimal whole number 0 to 65535, surrounding spaces allowed.
quint16 indirizzoStrumento(const QString &testo);

// "Lettura" 0, "Ripetizione ult. lettura" 1, "Scrittura" 2; any case, surrounding spaces allowed.
quint8 codiceComando(const QString &testo);

// One to four hexadecimal digits, either case, surrounding spaces allowed.
quint16 indirizzoMemoria(const QString &testo);

} // namespace Conversioni
