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

// The archive object itself: its connection, its failures in words, and what every part of it
// shares.

using namespace ArchivioSql;

namespace ArchivioSql {

// Times travel as UTC text with milliseconds: SQLite orders them as text, PostgreSQL reads them
// into its timestamptz.
QString testoOra(const QDateTime &ora)
{
    return ora.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime comeOra(const QVariant &valore)
{
    if (valore.isNull())
        return {};
    if (valore.metaType().id() == QMetaType::QDateTime)
        return valore.toDateTime();
    return QDateTime::fromString(valore.toString(), Qt::ISODateWithMs);
}

QVariant oNulla(const std::optional<double> &valore)
{
    return valore ? QVariant(*valore) : QVariant(QMetaType::fromType<double>());
}

QVariant oNulla(const std::optional<int> &valore)
{
    return valore ? QVariant(*valore) : QVariant(QMetaType::fromType<int>());
}

// An empty text is stored as one, never as NULL.
QString testo(const QString &t)
{
    return t.isNull() ? QStringLiteral("") : t;
}

std::optional<double> facoltativo(const QVariant &valore)
{
    if (valore.isNull())
        return {};
    return valore.toDouble();
}

ProvaArchiviata leggiProva(const QSqlQuery &q)
{
    ProvaArchiviata p;
    p.uuid = q.value(0).toString();
    p.stazione = q.value(1).toString();
    p.operatore = q.value(2).toString();
    p.unita = q.value(3).toString();
    p.tentativo = q.value(4).toInt();
    p.banco = q.value(5).toString();
    p.shaBanco = q.value(6).toString();
    p.linea = q.value(7).toString();
    p.inizio = comeOra(q.value(8));
    p.fine = comeOra(q.value(9));
    p.esito = q.value(10).toString();
    p.shaRighe = q.value(11).toString();
    p.posto = q.value(12).toString();
    p.impronta = q.value(13).toString();
    p.campione = q.value(14).toString();
    p.senzaCampioni = q.value(15).toBool();
    return p;
}

LetturaArchiviata leggiLettura(const QSqlQuery &q)
{
    LetturaArchiviata l;
    l.n = q.value(0).toInt();
    l.nome = q.value(1).toString();
    l.strumento = q.value(2).toInt();
    l.memoria = q.value(3).toString();
    if (!q.value(4).isNull())
        l.parola = q.value(4).toInt();
    l.valore = facoltativo(q.value(5));
    l.valoreMostrato = q.value(6).toString();
    l.minimo = facoltativo(q.value(7));
    l.massimo = facoltativo(q.value(8));
    l.atteso = q.value(9).toString();
    l.stato = q.value(10).toString();
    l.giudizio = LetturaArchiviata::Giudizio(q.value(11).toInt());
    l.latenzaMs = facoltativo(q.value(12));
    l.istante = comeOra(q.value(13));
    l.unitaMisura = q.value(14).toString();
    return l;
}

void legaLettura(QSqlQuery &q, const LetturaArchiviata &l)
{
    q.addBindValue(l.n);
    q.addBindValue(testo(l.nome));
    q.addBindValue(l.strumento);
    q.addBindValue(testo(l.memoria));
    q.addBindValue(oNulla(l.parola));
    q.addBindValue(oNulla(l.valore));
    q.addBindValue(testo(l.valoreMostrato));
    q.addBindValue(oNulla(l.minimo));
    q.addBindValue(oNulla(l.massimo));
    q.addBindValue(testo(l.atteso));
    q.addBindValue(testo(l.stato));
    q.addBindValue(int(l.giudizio));
    q.addBindValue(oNulla(l.latenzaMs));
    q.addBindValue(testoOra(l.istante));
    q.addBindValue(testo(l.unitaMisura));
}

// The server's message as the operator reads it: its text and its hint, without the severity
// that starts it (in the server's language) or the context of the function that raised it.
QString messaggioDelServer(const QString &testo)
{
    static const QRegularExpression severita(QStringLiteral("^[A-Z]+:\\s+"));
    QStringList parti;
    for (QString riga : testo.split(u'\n', Qt::SkipEmptyParts)) {
        riga = riga.trimmed();
        if (riga.startsWith(QStringLiteral("CONTEXT:")) || riga.startsWith(QStringLiteral("CONTESTO:")))
            continue;
        if (riga.startsWith(QStringLiteral("HINT:")) || riga.startsWith(QStringLiteral("SUGGERIMENTO:")))
            riga = riga.mid(riga.indexOf(u':') + 1).trimmed();
        else
            riga.remove(severita);
        if (!riga.isEmpty() && !(riga.startsWith(u'(') && riga.endsWith(u')')))
            parti << riga;
    }
    return parti.join(u' ');
}

// What SQLite's error code means for the one who reads it, and what to do.
QString spiegaSqlite(const QString &codice)
{
    // The primary code: Qt's driver may report SQLite's extended one (SQLITE_IOERR_WRITE).
    switch (codice.toInt() & 0xff) {
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        return QStringLiteral("l'archivio è occupato da un altro programma da più di 5 secondi: "
                              "attendere che finisca o chiuderlo, e riprovare");
    case 8: // SQLITE_READONLY
        return QStringLiteral("l'archivio è in sola lettura: controllare i permessi del file e "
                              "della sua cartella, o indicare un altro file con --archivio");
    case 10: // SQLITE_IOERR
        return QStringLiteral("errore di lettura o scrittura sul disco: se il disco è pieno "
                              "liberare spazio, altrimenti controllare il disco e che la "
                              "cartella dell'archivio sia ancora raggiungibile");
    case 11: // SQLITE_CORRUPT
    case 26: // SQLITE_NOTADB
        return QStringLiteral("il file è danneggiato o non è un archivio: controllarlo con "
                              "banco-richiesta --controlla-archivio, poi spostarlo altrove "
                              "perché il programma ne crei uno nuovo");
    case 13: // SQLITE_FULL
        return QStringLiteral("disco pieno: liberare spazio sul disco dell'archivio e riprovare");
    case 14: // SQLITE_CANTOPEN
        return QStringLiteral("il file non si apre: controllare che la cartella esista e sia "
                              "scrivibile");
    default:
        return {};
    }
}

} // namespace ArchivioSql

QString nuovoUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString nomeStazione(const QString &dato)
{
    return dato.isEmpty() ? QSysInfo::machineHostName() : dato;
}

Archivio::Archivio(Tipo tipo, const QString &connessione)
    : m_tipo(tipo)
    , m_connessione(connessione)
{ }

Archivio::~Archivio()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connessione, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connessione);
}

void Archivio::caricaDriverServer()
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return;
    const QString nome = QStringLiteral("banco-driver-server");
    QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), nome);
    QSqlDatabase::removeDatabase(nome);
}

QSqlDatabase Archivio::database() const
{
    return QSqlDatabase::database(m_connessione, false);
}

bool Archivio::esegui(const QString &sql)
{
    QSqlQuery q(database());
    if (!q.exec(sql))
        return fallita(q, QStringLiteral("l'archivio non si scrive"));
    return true;
}

bool Archivio::interroga(const QString &sql, const QVariantList &valori,
    const std::function<void(const QSqlQuery &)> &leggi)
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec())
        return fallita(q, QStringLiteral("l'archivio non si legge"));
    while (q.next())
        leggi(q);
    return true;
}

bool Archivio::annulla(bool propria)
{
    const QString motivo = m_errore;
    if (propria)
        esegui(QStringLiteral("ROLLBACK"));
    m_errore = motivo;
    return false;
}

bool Archivio::fallita(const QSqlQuery &query, const QString &che)
{
    const QSqlError errore
        = query.lastError().isValid() ? query.lastError() : database().lastError();
    m_sqlstate = errore.nativeErrorCode();
    const QString testo = m_tipo == Tipo::Server && !errore.databaseText().trimmed().isEmpty()
        ? messaggioDelServer(errore.databaseText())
        : errore.text().trimmed();
    const QString cosaFare = m_tipo == Tipo::Locale ? spiegaSqlite(m_sqlstate) : QString();
    m_errore = cosaFare.isEmpty()
        ? QStringLiteral("%1 (%2): %3").arg(che, m_descrizione, testo)
        : QStringLiteral("%1 (%2): %3 (%4)").arg(che, m_descrizione, cosaFare, testo);
    return false;
}

bool Archivio::raggiungibile()
{
    QSqlQuery q(database());
    return q.exec(QStringLiteral("SELECT 1")) && q.next();
}

bool Archivio::rifiutata() const
{
    // SQLSTATE classes of a statement the server refused for what it carries: data (22),
    // integrity (23), rights (42501 and row security), limits (54, an index row too large).
    // A connection lost (08), a server shutting down (57) or a timeout are not refusals.
    return m_sqlstate.startsWith(QStringLiteral("22")) || m_sqlstate.startsWith(QStringLiteral("23"))
        || m_sqlstate.startsWith(QStringLiteral("42")) || m_sqlstate.startsWith(QStringLiteral("54"))
        || m_sqlstate == QStringLiteral("P0001");
}

std::optional<QStringList> Archivio::controllaIntegrita()
{
    QStringList problemi;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("PRAGMA integrity_check"))) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    while (q.next()) {
        const QString riga = q.value(0).toString();
        if (riga != u"ok")
            problemi << riga;
    }
    if (!q.exec(QStringLiteral("PRAGMA foreign_key_check"))) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    while (q.next()) {
        problemi << QStringLiteral("la tabella %1, riga %2, rimanda a %3 che non c'è")
                        .arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString());
    }
    return problemi;
}
