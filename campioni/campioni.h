#pragma once

#include "archivio.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// A bench's reference units: units whose outcome is known ("OK-01" conforme, "KO-01" non
// conforme), tested like any unit before production and again every period, so that a bench that
// no longer tells a good unit from a bad one is found before it passes products.
//
// "campioni": [{"unita": "OK-01", "esito": "conforme"}, …] and "campioni_ogni_ore": 8 (decimal
// hours; 0: once when the station starts, once a day from the command line).
struct Campione
{
    QString unita;
    QString esito; // conforme, non conforme or senza risposta
};

struct RegolaCampioni
{
    QList<Campione> campioni;
    double ogniOre = 8;

    bool attiva() const { return !campioni.isEmpty(); }
    // The reference unit of this serial, or nothing for a production unit.
    std::optional<Campione> campione(const QString &unita) const;
    // Since when a reference's run proves the bench: the period back from adesso; with 0 hours,
    // the station's start, or the start of the day where there is none.
    QDateTime inizioPeriodo(const QDateTime &adesso, const QDateTime &avvio = {}) const;
};

namespace Campioni {

inline constexpr char kChiave[] = "campioni";
inline constexpr char kChiaveOre[] = "campioni_ogni_ore";

// The bench's keys (kept among its other keys); the reason, naming the file, when they cannot
// be used.
std::optional<RegolaCampioni> leggi(const QJsonObject &chiavi, const QString &file, QString *errore);

// Where the references stand at a socket, from their runs there in the period, oldest first.
struct Stato
{
    QStringList mancanti; // references with no judged run in the period
    // References whose latest judged run gave another outcome, with that outcome.
    QList<std::pair<Campione, QString>> sbagliati;
    bool pronto() const { return mancanti.isEmpty() && sbagliati.isEmpty(); }
};
Stato stato(const RegolaCampioni &regola, const QList<ProvaArchiviata> &prove);
// The same from the archive: the references' runs at a station's socket on a bench version (the
// rows' digest) since the period began; nothing, with the archive's errore(), if it cannot be read.
std::optional<Stato> statoNellArchivio(Archivio &archivio, const RegolaCampioni &regola,
    const QString &stazione, const QString &versione, const QString &posto,
    const QDateTime &avvio = {});

// What a wrong outcome of a reference means, in the operator's words: "il campione KO-01 è
// risultato conforme: il banco non riconosce più un'unità difettosa".
QString testoSbagliato(const Campione &campione, const QString &esitoDato);
// Why production waits, with what is to be done; empty when the bench is proved.
QString testoAttesa(const Stato &stato, const QString &posto = {});

} // namespace Campioni
