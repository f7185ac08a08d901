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
// The result of a request on one line: outcome, value, latency, length, bytes.
QString riassunto(const RisultatoRichiesta &risultato);

// The columns the traffic is shown in, a row per event.
enum Colonna { Tempo, Direzione, Fase, Linea, Byte, Nota, NumeroColonne };
QString titoloColonna(int colonna);
QString colonna(const RegistroTraffico &registro, const RegistroTraffico::Evento &evento,
    int colonna);

// CSV as RFC 4180 has it, UTF-8, one header row: every column of every event, times in
// microseconds, the result's fields filled on result rows only.
QStringList intestazioneCsv();
QStringList rigaCsv(const RegistroTraffico &registro, qsizetype riga);
// One row per request: its number, device and the result's fields, with the same names.
QStringList intestazioneCsvRisultati();
QStringList rigaCsvRisultato(const RisultatoRichiesta &risultato);
QByteArray lineaCsv(const QStringList &campi);
// Writes the whole record; false with the system's reason in errore.
bool scriviCsv(const RegistroTraffico &registro, QIODevice &file, QString *errore);

} // namespace TestiTraffico
