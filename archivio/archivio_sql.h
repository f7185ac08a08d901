#pragma once

// What the archive's files share: the texts of its statements and the conversions between its
// columns and the records, for the archive's own code only.

#include "archivio.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QVariant>

#include <chrono>
#include <optional>

namespace ArchivioSql {

// How long a program waits for another's hold on the station's file.
inline constexpr std::chrono::milliseconds kAttesaOccupato{5000};

// A run's judgement of a row it did not read, where a run's judgements are kept by row.
inline constexpr int kSenzaGiudizio = 0x7f;

inline constexpr char kColonneProva[]
    = "p.uuid, p.stazione, p.operatore, p.unita, p.tentativo, p.banco, p.sha_banco, p.linea, "
      "p.inizio, p.fine, p.esito, p.sha_righe, p.posto, p.impronta, p.campione, p.senza_campioni";
// The columns kColonneProva reads: a column read after them is at this index.
constexpr int contaColonne(const char *colonne)
{
    int quante = 1;
    for (; *colonne; ++colonne)
        quante += *colonne == ',';
    return quante;
}
inline constexpr int kNumeroColonneProva = contaColonne(kColonneProva);

inline constexpr char kColonneLettura[]
    = "n, nome, strumento, memoria, parola, valore, valore_mostrato, minimo, massimo, atteso, "
      "stato, giudizio, latenza_ms, istante, unita_misura";

inline constexpr char kInserisciLettura[]
    = "INSERT INTO letture (prova, n, nome, strumento, memoria, parola, valore, valore_mostrato, "
      "minimo, massimo, atteso, stato, giudizio, latenza_ms, istante, unita_misura) VALUES ";
inline constexpr char kSegnaposti[] = "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// The runs that judged their unit: a round the station could not carry out, or that someone
// stopped, counts in no yield, rate or chart.
inline constexpr char kGiudicate[] = "p.esito IN ('conforme', 'non conforme', 'senza risposta')";

// A bench's version as figures group it: the digest of its rows; the file's, for runs archived
// before the rows had one.
inline constexpr char kVersioneBanco[] = "COALESCE(NULLIF(p.sha_righe, ''), p.sha_banco)";

QString testoOra(const QDateTime &ora);
QDateTime comeOra(const QVariant &valore);
QVariant oNulla(const std::optional<double> &valore);
QVariant oNulla(const std::optional<int> &valore);
// The text as the database keeps it: never null.
QString testo(const QString &t);
std::optional<double> facoltativo(const QVariant &valore);
// A run read with kColonneProva, a reading with kColonneLettura.
ProvaArchiviata leggiProva(const QSqlQuery &q);
LetturaArchiviata leggiLettura(const QSqlQuery &q);
// A reading's values bound in kInserisciLettura's order.
void legaLettura(QSqlQuery &q, const LetturaArchiviata &l);
// This process, as runs record who is reading them: its pid and when it started.
QString processoCorrente();
QString messaggioDelServer(const QString &testo);
QString spiegaSqlite(const QString &codice);

} // namespace ArchivioSql
