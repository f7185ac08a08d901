#pragma once

#include "registro_traffico.h"

#include <QIODevice>
#include <QString>
#include <QStringList>

// The record's events as people read them: in the traffic window and in the CSV file.
namespace TestiTraffico {

// "TX", "RX", "aperta", "risultato", ...
QString tipo(TipoEvento tipo);
// "fase 2", "pausa 2", "fuori richiesta"; empty for the record's own rows.
QString fase(const RegistroTraffico::Evento &evento);
// Two hex digits, with the name of an ASCII control code: "06 ACK", "15 NAK", "55".
QString byte(quint8 valore);
// "55 00 00 00"
QString esadecimale(const QByteArray &dati);
// Who reads the texts: the command line's standard error (a decimal point), or a window (an
// Italian reader's decimal comma).
enum class Lettore { Macchina, Finestra };
// The result of a request on one line: outcome, value, latency, length, bytes.
QString riassunto(const RisultatoRichiesta &risultato, Lettore lettore = Lettore::Macchina);

// The columns the traffic is shown in, a row per event.
enum Colonna { Tempo, Direzione, Fase, Linea, Byte, Nota, NumeroColonne };
QString titoloColonna(int colonna);
QString colonna(const RegistroTraffico &registro, const RegistroTraffico::Evento &evento,
    int colonna, Lettore lettore = Lettore::Macchina);

// CSV as RFC 4180 has it, UTF-8, one header row: every column of every event, times in
// microseconds, the result's fields filled on result rows only.
QStringList intestazioneCsv();
QStringList rigaCsv(const RegistroTraffico &registro, qsizetype riga);
// One row per request: its number, device and the result's fields, with the same names.
QStringList intestazioneCsvRisultati();
QStringList rigaCsvRisultato(const RisultatoRichiesta &risultato);

// Who reads a CSV file. Scripts, and banco-richiesta's output: a comma between fields, a
// decimal point. A spreadsheet set to Italian, which is who opens what the windows write: a
// semicolon between fields, a decimal comma, and a byte-order mark that says UTF-8.
enum class FormaCsv { Macchina, Foglio };
// The bytes a file of that form starts with.
QByteArray inizioCsv(FormaCsv forma);
// A number in the machine form ("-12.5") as a field of that form ("-12,5"); other texts stay.
QString numeroCsv(const QString &numero, FormaCsv forma);
QByteArray lineaCsv(const QStringList &campi, FormaCsv forma = FormaCsv::Macchina);
// Writes the whole record, from the start of the file; false with the system's reason in errore.
bool scriviCsv(const RegistroTraffico &registro, QIODevice &file, QString *errore,
    FormaCsv forma = FormaCsv::Macchina);

} // namespace TestiTraffico
