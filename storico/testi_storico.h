#pragma once

#include "archivio.h"
#include "carta_controllo.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The history's words and files: counts that agree with their number, the yields of a bench as a
// sentence, and the CSV files it exports (the spreadsheet form: a decimal comma, times in local
// time with their offset from UTC, a header that names what each column holds and in what unit).
namespace TestiStorico {

// parte of tutto as a window shows it, "66,7 %"; a dash when tutto is 0.
QString percento(qint64 parte, qint64 tutto);
// Cpk as the window shows it, to two decimals; empty where there is none.
QString cpk(const std::optional<double> &valore);
// Runs beyond each unit's first, over the units, as a window shows it: "12,5 %".
QString ripetizioni(const ResaBanco &resa);
// A row's judgement in the statistics: of its Cpk, or that its chart has points out of control
// and so its capability is not to be trusted; empty without a Cpk.
QString giudizio(const StatisticaRiga &riga);
// A bench version as a window names it: its digest's first eight digits.
QString versioneBreve(const QString &versione);
// The line under the control chart: whence its limits (fixed by whom and when, or the first 25
// values), Cpk and Ppk with their judgement, or that the process is not in control and its
// capability not to be trusted; and how many values complete a rule of those tried (1-4, or 1-8
// with ancheDa5A8).
QString riassuntoCarta(
    const SerieCarta &serie, const CartaControllo::Analisi &analisi, bool ancheDa5A8);
// Each value that completes a rule, in words, in the series' order: "Valore 31 di 40, unità
// SN-31, 2026-12-10 11:20:03: regola 1, un valore oltre 3 sigma dalla media".
QStringList violazioni(const SerieCarta &serie, const CartaControllo::Analisi &analisi);
// "2026-12-10T05:21:03.123+01:00": the instant in local time, with the offset it had then.
QString istante(const QDateTime &quando);
// The unit a reading is in: the row's, or else the last word of its shown value ("25.3 °C").
QString unitaDellaLettura(const LetturaArchiviata &lettura);
// "Tensione (V)", or the name alone without a unit.
QString conUnita(const QString &nome, const QString &unita);
// A run's outcome as the list shows it: "in corso" before its end; a reference unit's run tells
// what the unit must give, "conforme (campione: deve risultare non conforme)", and a production
// run read before the references proved the bench says "(senza campioni)".
QString esitoMostrato(const ProvaArchiviata &prova);
// A server that could not be read: what happened, and that the station's file is read instead.
QString avvisoServer(const QString &motivo);

// The runs' export: a line per reading, the run's columns first; a run without readings has one
// line with the reading's columns empty.
QStringList intestazioneProve();
QStringList campiProva(const ProvaArchiviata &prova, const LetturaArchiviata *lettura);
// The figures of the runs of one socket, or of all the runs chosen (posto empty).
struct CifrePosto
{
    QString posto;
    QList<StatisticaRiga> righe;
    QList<ResaBanco> rese;
};
// The statistics' export: the rows' figures, an empty line, then the yields of each bench; with
// a first column for the socket where a block has one (empty for the total of every socket).
QByteArray csvStatistiche(const QList<CifrePosto> &blocchi);
inline QByteArray csvStatistiche(const QList<StatisticaRiga> &righe, const QList<ResaBanco> &rese)
{
    return csvStatistiche(QList<CifrePosto>{{QString(), righe, rese}});
}
// The chart's export: its values in order, each with its run, the row's unit, its moving range,
// the chart's limits and the rules it completes.
QByteArray csvCarta(const SerieCarta &serie, const CartaControllo::Analisi &analisi);

} // namespace TestiStorico
