#include "archivio_sql.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QCoreApplication>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSysInfo>
#include <QUuid>

#include <atomic>
#include <cmath>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#endif

// Store and forward: what the station's file holds for the server, and the server's side of
// receiving it.

using namespace ArchivioSql;

std::optional<QList<ServizioPosto>> Archivio::servizi(
    const QString &stazione, const QString &banco, bool soloDaInviare, int quanti)
{
    QString sql = QStringLiteral("SELECT uuid, stazione, banco, posto, in_servizio, operatore, "
                                 "quando, motivo FROM servizio_posti WHERE 1 = 1");
    QVariantList valori;
    if (!stazione.isEmpty()) {
        sql += QStringLiteral(" AND stazione = ?");
        valori << stazione;
    }
    if (!banco.isEmpty()) {
        sql += QStringLiteral(" AND banco = ?");
        valori << banco;
    }
    if (soloDaInviare)
        sql += QStringLiteral(" AND inviato = 0");
    sql += QStringLiteral(" ORDER BY quando, id");
    if (quanti > 0)
        sql += QStringLiteral(" LIMIT %1").arg(quanti);
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant &v : std::as_const(valori))
        q.addBindValue(v);
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return std::nullopt;
    }
    QList<ServizioPosto> elenco;
    while (q.next()) {
        elenco.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
            q.value(3).toString(), q.value(4).toInt() != 0, q.value(5).toString(),
            comeOra(q.value(6)), q.value(7).toString()});
    }
    return elenco;
}

bool Archivio::riceviServizi(const QList<ServizioPosto> &servizi)
{
    return riceviInUnaTransazione(
        QStringLiteral("INSERT INTO servizio_posti (uuid, stazione, banco, posto, in_servizio, "
                       "operatore, quando, motivo) VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT "
                       "(uuid) DO NOTHING"),
        QStringLiteral("il server non riceve i posti fuori servizio"), servizi.size(),
        [&servizi](QSqlQuery &q, qsizetype i) {
            const ServizioPosto &s = servizi[i];
            for (const QVariant &v : {QVariant(s.uuid), QVariant(testo(s.stazione)),
                     QVariant(testo(s.banco)), QVariant(testo(s.posto)), QVariant(s.inServizio),
                     QVariant(testo(s.operatore)), QVariant(testoOra(s.quando)),
                     QVariant(testo(s.motivo))})
                q.addBindValue(v);
        });
}

// What a station sends after its runs: one already there (sent before, its acknowledgement
// lost) is left as it is, by the statement's ON CONFLICT.
bool Archivio::riceviInUnaTransazione(const QString &sql, const QString &che, qsizetype quante,
    const std::function<void(QSqlQuery &, qsizetype)> &lega)
{
    QSqlDatabase db = database();
    if (!db.transaction())
        return fallita(QSqlQuery(db), che);
    QSqlQuery q(db);
    q.prepare(sql);
    for (qsizetype i = 0; i < quante; ++i) {
        lega(q, i);
        if (!q.exec()) {
            fallita(q, che);
            db.rollback();
            return false;
        }
    }
    if (!db.commit())
        return fallita(q, che);
    return true;
}

bool Archivio::segnaServiziInviati(const QStringList &uuid)
{
    return segnaInviati("UPDATE servizio_posti SET inviato = 1 WHERE uuid = ?", uuid);
}

qint64 Archivio::inAttesa()
{
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM prove WHERE inviata = 0 AND fine IS NOT NULL "
                               "AND scarto IS NULL"))
        || !q.next()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return -1;
    }
    return q.value(0).toLongLong();
}

QList<ProvaCompleta> Archivio::daInviare(int quante)
{
    QList<ProvaCompleta> prove;
    QList<qint64> id;
    {
        QSqlQuery q(database());
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("SELECT %1, p.id FROM prove p WHERE p.inviata = 0 AND p.fine IS "
                                 "NOT NULL AND p.scarto IS NULL ORDER BY p.id LIMIT ?")
                      .arg(QLatin1String(kColonneProva)));
        q.addBindValue(quante);
        if (!q.exec()) {
            fallita(q, QStringLiteral("l'archivio non si legge"));
            return {};
        }
        while (q.next()) {
            prove.append({leggiProva(q), {}});
            id.append(q.value(kNumeroColonneProva).toLongLong());
        }
    }
    QSqlQuery l(database());
    l.setForwardOnly(true);
    l.prepare(QStringLiteral("SELECT %1 FROM letture WHERE prova = ? ORDER BY n")
                  .arg(QLatin1String(kColonneLettura)));
    for (qsizetype i = 0; i < prove.size(); ++i) {
        l.addBindValue(id[i]);
        if (!l.exec()) {
            fallita(l, QStringLiteral("l'archivio non si legge"));
            return {};
        }
        while (l.next())
            prove[i].letture.append(leggiLettura(l));
    }
    return prove;
}

bool Archivio::segnaInviate(const QStringList &uuid)
{
    return segnaInviati("UPDATE prove SET inviata = 1 WHERE uuid = ?", uuid);
}

// The server took them: one statement per uuid, all in one transaction.
bool Archivio::segnaInviati(const char *sql, const QStringList &uuid)
{
    QSqlDatabase db = database();
    if (!db.transaction())
        return fallita(QSqlQuery(db), QStringLiteral("l'archivio non si scrive"));
    QSqlQuery q(db);
    q.prepare(QString::fromLatin1(sql));
    for (const QString &u : uuid) {
        q.addBindValue(u);
        if (!q.exec()) {
            fallita(q, QStringLiteral("l'archivio non si scrive"));
            db.rollback();
            return false;
        }
    }
    if (!db.commit())
        return fallita(q, QStringLiteral("l'archivio non si scrive"));
    return true;
}

bool Archivio::mettiDaParte(const QString &uuid, const QString &motivo)
{
    QSqlQuery q(database());
    q.prepare(QStringLiteral("UPDATE prove SET scarto = ? WHERE uuid = ?"));
    q.addBindValue(motivo.isEmpty() ? QStringLiteral("rifiutata dal server") : motivo);
    q.addBindValue(uuid);
    if (!q.exec())
        return fallita(q, QStringLiteral("l'archivio non si scrive"));
    return true;
}

std::optional<QList<Archivio::Scartata>> Archivio::scartate()
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT uuid, unita, scarto FROM prove WHERE inviata = 0 AND "
                               "scarto IS NOT NULL ORDER BY id"))) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    QList<Scartata> scartate;
    while (q.next())
        scartate.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
    return scartate;
}

std::optional<qint64> Archivio::riprendiScartate()
{
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("UPDATE prove SET scarto = NULL WHERE inviata = 0 AND scarto IS "
                               "NOT NULL"))) {
        fallita(q, QStringLiteral("l'archivio non si scrive"));
        return {};
    }
    return q.numRowsAffected();
}

bool Archivio::ricevi(const QList<ProvaCompleta> &prove)
{
    QSqlDatabase db = database();
    if (!db.transaction())
        return fallita(QSqlQuery(db), QStringLiteral("il server non riceve le prove"));
    const auto annulla = [&](const QSqlQuery &q) {
        fallita(q, QStringLiteral("il server non riceve le prove"));
        db.rollback();
        return false;
    };
    QSqlQuery p(db);
    // A run already there (sent before, its acknowledgement lost) is left as it is.
    p.prepare(QStringLiteral(
        "INSERT INTO prove (uuid, stazione, operatore, unita, tentativo, banco, sha_banco, "
        "linea, inizio, fine, esito, sha_righe, posto, impronta, campione, senza_campioni) VALUES "
        "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
        "ON CONFLICT (uuid) DO NOTHING RETURNING id"));
    for (const ProvaCompleta &c : prove) {
        const ProvaArchiviata &r = c.prova;
        for (const QVariant &v : {QVariant(r.uuid), QVariant(testo(r.stazione)),
                 QVariant(testo(r.operatore)), QVariant(testo(r.unita)), QVariant(r.tentativo),
                 QVariant(testo(r.banco)), QVariant(testo(r.shaBanco)), QVariant(testo(r.linea)),
                 QVariant(testoOra(r.inizio)), QVariant(testoOra(r.fine)), QVariant(r.esito),
                 QVariant(testo(r.shaRighe)), QVariant(testo(r.posto)),
                 QVariant(testo(r.impronta)), QVariant(testo(r.campione)),
                 QVariant(r.senzaCampioni)})
            p.addBindValue(v);
        if (!p.exec())
            return annulla(p);
        if (!p.next())
            continue;
        const qint64 id = p.value(0).toLongLong();
        p.finish();
        // The readings of a run in statements of up to 500 rows.
        constexpr qsizetype kRighe = 500;
        for (qsizetype da = 0; da < c.letture.size(); da += kRighe) {
            const qsizetype quante = std::min(kRighe, c.letture.size() - da);
            QStringList segnaposti;
            for (qsizetype i = 0; i < quante; ++i)
                segnaposti << QString::fromLatin1(kSegnaposti);
            QSqlQuery l(db);
            l.prepare(QString::fromUtf8(kInserisciLettura) + segnaposti.join(QStringLiteral(", ")));
            for (qsizetype i = da; i < da + quante; ++i) {
                l.addBindValue(id);
                legaLettura(l, c.letture[i]);
            }
            if (!l.exec())
                return annulla(l);
        }
    }
    if (!db.commit())
        return annulla(p);
    return true;
}
