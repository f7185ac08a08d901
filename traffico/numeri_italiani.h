#pragma once

#include <QString>

#include <optional>

// Numbers as an Italian reader writes them, for the windows: a decimal comma, a point between
// thousands ("2.104 eventi", "123,4 °C"). Files and the command line keep the machine form
// (a decimal point, no separators), which is what QString::number writes.
namespace NumeriItaliani {

// 2104 -> "2.104".
QString intero(qint64 valore);
// 1234.5, 2 -> "1.234,50".
QString decimale(double valore, int decimali);
// A number already written in the machine form, "-123.4" or "1000", as a window shows it:
// "-123,4", "1.000". Any other text is returned as it is.
QString daMacchina(const QString &testo);
// A number typed into a window or a spreadsheet: a decimal comma or a point, no thousands
// separator. Nothing if the text is not one finite number.
std::optional<double> leggi(const QString &testo);
// A count with its noun agreeing: 1, "prova", "prove" -> "1 prova"; 2104 -> "2.104 prove".
QString conta(qint64 n, const QString &uno, const QString &tanti);
// A duration for a person: "m:ss" under an hour, "h:mm:ss" from an hour up.
QString durata(double secondi);

} // namespace NumeriItaliani
