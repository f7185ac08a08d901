#include "archivio_sql.h"

#include <QSqlError>
#include <QSqlQuery>

// The labels printed or tried for the runs: recorded in the station's file as they were sent,
// forwarded after their run.

using namespace ArchivioSql;

namespace {

constexpr char kColonneStampa[]
    = "uuid, prova, stazione, quando, stampante, riuscita, motivo, zpl, ristampa";

StampaEtichetta leggiStampa(const QSqlQuery &q)
{
    StampaEtichetta s;
    s.uuid = q.value(0).toString();
    s.prova = q.value(1).toString();
    s.stazione = q.value(2).toString();
    s.quando = comeOra(q.value(3));
    s.stampante = q.value(4).toString();
    s.riuscita = q.value(5).toBool();
    s.motivo = q.value(6).toString();
    s.zpl = q.value(7).toByteArray();
    s.ristampa = q.value(8).toBool();
    return s;
}

void legaStampa(QSqlQuery &q, const StampaEtichetta &s, bool comeNumeri)
{
    q.addBindValue(s.uuid);
    q.addBindValue(s.prova);
    q.addBindValue(testo(s.stazione));
    q.addBindValue(testoOra(s.quando));
    q.addBindValue(testo(s.stampante));
    q.addBindValue(comeNumeri ? QVariant(s.riuscita ? 1 : 0) : QVariant(s.riuscita));
    q.addBindValue(testo(s.motivo));
    q.addBindValue(s.zpl.isNull() ? QByteArray("") : s.zpl);
    q.addBindValue(comeNumeri ? QVariant(s.ristampa ? 1 : 0) : QVariant(s.ristampa));
}

} // namespace

bool Archivio::registraStampa(StampaEtichetta &stampa)
{
    if (stampa.uuid.isEmpty())
        stampa.uuid = nuovoUuid();
    if (!stampa.quando.isValid())
        stampa.quando = QDateTime::currentDateTimeUtc();
    QSqlQuery q(database());
    q.prepare(QStringLiteral("INSERT INTO stampe (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")
                  .arg(QLatin1String(kColonneStampa)));
    legaStampa(q, stampa, true);
    if (!q.exec())
        return fallita(q, QStringLiteral("la stampa dell'etichetta non si registra nell'archivio"));
    return true;
}

std::optional<QList<StampaEtichetta>> Archivio::stampe(const QString &prova)
{
    QList<StampaEtichetta> elenco;
    if (!interroga(QStringLiteral("SELECT %1 FROM stampe WHERE prova = ? ORDER BY quando, id")
                       .arg(QLatin1String(kColonneStampa)),
            {prova}, [&elenco](const QSqlQuery &q) { elenco.append(leggiStampa(q)); }))
        return std::nullopt;
    return elenco;
}

std::optional<QList<StampaEtichetta>> Archivio::stampeDaInviare(int quante)
{
    // A label follows its run: the server takes it only once the run is there.
    QList<StampaEtichetta> elenco;
    if (!interroga(QStringLiteral("SELECT %1 FROM stampe s WHERE s.inviata = 0 AND EXISTS (SELECT "
                                  "1 FROM prove p WHERE p.uuid = s.prova AND p.inviata = 1) ORDER "
                                  "BY s.id LIMIT ?")
                       .arg(QLatin1String(kColonneStampa)),
            {quante}, [&elenco](const QSqlQuery &q) { elenco.append(leggiStampa(q)); }))
        return std::nullopt;
    return elenco;
}

bool Archivio::riceviStampe(const QList<StampaEtichetta> &stampe)
{
    return riceviInUnaTransazione(QStringLiteral("INSERT INTO stampe (%1) VALUES (?, ?, ?, ?, ?, "
                                                 "?, ?, ?, ?) ON CONFLICT (uuid) DO NOTHING")
                                      .arg(QLatin1String(kColonneStampa)),
        QStringLiteral("il server non riceve le stampe delle etichette"), stampe.size(),
        [&stampe](QSqlQuery &q, qsizetype i) { legaStampa(q, stampe[i], false); });
}

bool Archivio::segnaStampeInviate(const QStringList &uuid)
{
    return segnaInviati("UPDATE stampe SET inviata = 1 WHERE uuid = ?", uuid);
}
