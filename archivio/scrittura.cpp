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
    const auto annulla = [this, propria] {
        const QString motivo = m_errore;
        if (propria)
            esegui(QStringLiteral("ROLLBACK"));
        m_errore = motivo;
        return false;
    };
    const auto prima = precedenti(prova.unita, prova.banco);
    if (!prima)
        return annulla();
    prova.tentativo = prima->first + 1;
    QSqlQuery q(database());
    q.prepare(QStringLiteral(
        "INSERT INTO prove (uuid, stazione, operatore, unita, tentativo, banco, sha_banco, linea, "
        "inizio, processo, sha_righe, posto) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
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
    if (!q.exec()) {
        fallita(q, QStringLiteral("la prova non si registra nell'archivio"));
        return annulla();
    }
    q.finish();
    if (propria && !esegui(QStringLiteral("COMMIT")))
        return annulla();
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
    QSqlQuery q(database());
    q.prepare(QStringLiteral("UPDATE prove SET fine = ?, esito = ? WHERE uuid = ?"));
    q.addBindValue(testoOra(QDateTime::currentDateTimeUtc()));
    q.addBindValue(esito);
    q.addBindValue(uuid);
    if (!q.exec())
        return fallita(q, QStringLiteral("la fine della prova non si registra nell'archivio"));
    return true;
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
