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

// Recording on the station's file: a run, its readings and its end, each committed at once; the
// sockets taken out of service and put back.

using namespace ArchivioSql;

bool Archivio::iniziaProva(ProvaArchiviata &prova)
{
    if (prova.uuid.isEmpty())
        prova.uuid = nuovoUuid();
    if (!prova.inizio.isValid())
        prova.inizio = QDateTime::currentDateTimeUtc();
    // The attempt is counted under the write lock of the insert that takes it: two programs
    // recording the same unit at once give it two attempts, never one twice. Within a
    // transaction of the caller's (many runs recorded at once), that transaction holds it.
    const bool propria = iniziaTransazione();
    if (!propria && !m_errore.isEmpty())
        return false;
    const auto prima = precedenti(prova.unita, prova.banco);
    if (!prima)
        return annulla(propria);
    prova.tentativo = prima->first + 1;
    QSqlQuery q(database());
    q.prepare(QStringLiteral(
        "INSERT INTO prove (uuid, stazione, operatore, unita, tentativo, banco, sha_banco, linea, "
        "inizio, processo, sha_righe, posto, campione, senza_campioni) VALUES (?, ?, ?, ?, ?, ?, ?, "
        "?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(prova.uuid);
    q.addBindValue(testo(prova.stazione));
    q.addBindValue(testo(prova.operatore));
    q.addBindValue(testo(prova.unita));
    q.addBindValue(prova.tentativo);
    q.addBindValue(testo(prova.banco));
    q.addBindValue(testo(prova.shaBanco));
    q.addBindValue(testo(prova.linea));
    q.addBindValue(testoOra(prova.inizio));
    q.addBindValue(processoCorrente());
    q.addBindValue(testo(prova.shaRighe));
    q.addBindValue(testo(prova.posto));
    q.addBindValue(testo(prova.campione));
    q.addBindValue(prova.senzaCampioni ? 1 : 0);
    if (!q.exec()) {
        fallita(q, QStringLiteral("la prova non si registra nell'archivio"));
        return annulla(propria);
    }
    q.finish();
    if (propria && !esegui(QStringLiteral("COMMIT")))
        return annulla(propria);
    return true;
}

bool Archivio::iniziaTransazione()
{
    m_errore.clear();
    QSqlQuery q(database());
    if (q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return true;
    if (!q.lastError().text().contains(QStringLiteral("within a transaction")))
        fallita(q, QStringLiteral("l'archivio non si scrive"));
    return false;
}

bool Archivio::registraLettura(const QString &uuid, const LetturaArchiviata &lettura)
{
    QSqlQuery q(database());
    q.prepare(QString::fromUtf8(kInserisciLettura)
        + QStringLiteral(
            "((SELECT id FROM prove WHERE uuid = ?), ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(uuid);
    legaLettura(q, lettura);
    if (!q.exec())
        return fallita(q, QStringLiteral("la lettura non si registra nell'archivio"));
    return true;
}

bool Archivio::finisciProva(const QString &uuid, const QString &esito)
{
    const bool propria = iniziaTransazione();
    if (!propria && !m_errore.isEmpty())
        return false;
    QSqlQuery q(database());
    q.prepare(QStringLiteral("UPDATE prove SET fine = ?, esito = ? WHERE uuid = ?"));
    q.addBindValue(testoOra(QDateTime::currentDateTimeUtc()));
    q.addBindValue(esito);
    q.addBindValue(uuid);
    if (!q.exec()) {
        fallita(q, QStringLiteral("la fine della prova non si registra nell'archivio"));
        return annulla(propria);
    }
    q.finish();
    if (!scriviImpronta(uuid) || (propria && !esegui(QStringLiteral("COMMIT"))))
        return annulla(propria);
    return true;
}

bool Archivio::scriviImpronta(const QString &uuid)
{
    const std::optional<ProvaCompleta> prova = provaCompleta(uuid);
    if (!prova)
        return false;
    if (prova->prova.uuid.isEmpty()) {
        m_errore = QStringLiteral("la prova %1 non è nell'archivio").arg(uuid);
        return false;
    }
    QSqlQuery q(database());
    q.prepare(QStringLiteral("UPDATE prove SET impronta = ? WHERE uuid = ?"));
    q.addBindValue(improntaDellaProva(*prova));
    q.addBindValue(uuid);
    if (!q.exec())
        return fallita(q, QStringLiteral("l'impronta della prova non si registra nell'archivio"));
    return true;
}

std::optional<ProvaCompleta> Archivio::provaCompleta(const QString &uuid)
{
    ProvaCompleta completa;
    qint64 id = 0;
    {
        QSqlQuery q(database());
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("SELECT %1, p.id FROM prove p WHERE p.uuid = ?")
                      .arg(QLatin1String(kColonneProva)));
        q.addBindValue(uuid);
        if (!q.exec()) {
            fallita(q, QStringLiteral("l'archivio non si legge"));
            return std::nullopt;
        }
        if (!q.next())
            return completa;
        completa.prova = leggiProva(q);
        id = q.value(kNumeroColonneProva).toLongLong();
    }
    QSqlQuery l(database());
    l.setForwardOnly(true);
    l.prepare(QStringLiteral("SELECT %1 FROM letture WHERE prova = ? ORDER BY n")
                  .arg(QLatin1String(kColonneLettura)));
    l.addBindValue(id);
    if (!l.exec()) {
        fallita(l, QStringLiteral("l'archivio non si legge"));
        return std::nullopt;
    }
    while (l.next())
        completa.letture.append(leggiLettura(l));
    return completa;
}

std::optional<QList<ProvaArchiviata>> Archivio::proveDeiCampioni(const QString &stazione,
    const QString &versione, const QString &posto, const QDateTime &dal)
{
    QList<ProvaArchiviata> prove;
    if (!interroga(QStringLiteral("SELECT %1 FROM prove p WHERE p.campione <> '' AND p.stazione = ? "
                                  "AND p.posto = ? AND %2 = ? AND p.inizio >= ? AND p.fine IS NOT "
                                  "NULL ORDER BY p.inizio, p.id")
                       .arg(QLatin1String(kColonneProva), QLatin1String(kVersioneBanco)),
            {testo(stazione), testo(posto), testo(versione), testoOra(dal)},
            [&prove](const QSqlQuery &q) { prove.append(leggiProva(q)); }))
        return std::nullopt;
    return prove;
}

bool Archivio::registraServizio(const ServizioPosto &servizio)
{
    QSqlQuery q(database());
    q.prepare(QStringLiteral("INSERT INTO servizio_posti (uuid, stazione, banco, posto, "
                             "in_servizio, operatore, quando, motivo) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
    const QString uuid = servizio.uuid.isEmpty()
        ? QUuid::createUuid().toString(QUuid::WithoutBraces)
        : servizio.uuid;
    for (const QVariant &v : {QVariant(uuid), QVariant(testo(servizio.stazione)),
             QVariant(testo(servizio.banco)), QVariant(testo(servizio.posto)),
             QVariant(servizio.inServizio ? 1 : 0), QVariant(testo(servizio.operatore)),
             QVariant(testoOra(servizio.quando)), QVariant(testo(servizio.motivo))})
        q.addBindValue(v);
    if (!q.exec())
        return fallita(q, QStringLiteral("l'archivio non si scrive"));
    return true;
}
