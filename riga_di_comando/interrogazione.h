#pragma once

#include "opzioni.h"

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class Archivio;

// What the archive's questions share: how figures, times and records are written in each format,
// and the capability's judgement as the statistics and the charts say it.
namespace RigaDiComando {

// A figure, empty where there is none.
QString numero(const std::optional<double> &valore, int cifre = 6);
QJsonValue numeroJson(const std::optional<double> &valore);
// "-" for an empty figure in a text line.
QString oTrattino(const QString &testo);
// A CSV line; control characters in a serial or a name are printed escaped, never raw.
QString csv(QStringList campi);
QString json(const QJsonObject &oggetto);
// Local time with its offset, to the millisecond.
QString ora(const QDateTime &t);
// One decimal; empty when the whole is none.
QString percentuale(qint64 parte, qint64 tutto);
// "1 punto", "3 punti": the count and the noun in the singular or the plural.
QString conteggio(qint64 n, const char *uno, const char *tanti);

// "banco linea3.banco (versione 1a2b3c4d5e6f)": the version's first 12 digits, where it has one.
QString bancoEVersione(const QString &banco, const QString &versione);

// The capability's judgement from Cpk, in words; a process whose chart breaks a rule is not
// judged, since its capability says nothing of tomorrow. Empty without Cpk.
QString giudizioCapacita(const std::optional<double> &cpk, qint64 fuoriControllo);
// The rules, by number: "1 4"; in JSON an array.
QString numeriRegole(const QList<int> &regole, const QString &separatore = QStringLiteral(" "));
QJsonValue regoleJson(const QList<int> &regole);

// --carta: each chart of the row, its points and summary; or, with --fissa, its limits fixed on
// the station's file. The exit status.
int cartaDiControllo(Archivio &archivio, const Opzioni &opzioni);

} // namespace RigaDiComando
