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
#include <iterator>
#include <cmath>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#endif

// Opening the archive: the station's file, made or brought up to date version by version, with
// the runs of programs that died closed; the server, checked for the tables this program needs.

using namespace ArchivioSql;

namespace {

// When a process started, as the system counts it; empty where it cannot be told. With the
// host and the PID it names one process: a PID is given again to another (a container's
// program is PID 1 at every start).
QString avvioDelProcesso(qint64 pid)
{
#ifdef Q_OS_WIN
    HANDLE h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!h)
        return {};
    FILETIME creato{}, finito{}, nucleo{}, utente{};
    const bool ok = ::GetProcessTimes(h, &creato, &finito, &nucleo, &utente);
    ::CloseHandle(h);
    if (!ok)
        return {};
    return QString::number((quint64(creato.dwHighDateTime) << 32) | creato.dwLowDateTime);
#else
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray riga = stat.readAll();
    // The command's name, in brackets, may hold spaces; the start is the 22nd field.
    const qsizetype chiusa = riga.lastIndexOf(')');
    if (chiusa < 0)
        return {};
    const QList<QByteArray> campi = riga.mid(chiusa + 2).split(' ');
    return campi.size() > 19 ? QString::fromLatin1(campi[19]) : QString();
#endif
}


// "host:pid:avvio", or "host:pid" as earlier versions wrote it.
bool processoVivo(const QString &processo)
{
    const QStringList parti = processo.split(u':');
    if (parti.size() < 2 || parti.size() > 3 || parti[0] != QSysInfo::machineHostName())
        return false;
    bool ok = false;
    const qint64 pid = parti[1].toLongLong(&ok);
    if (!ok || pid <= 0)
        return false;
    if (parti.size() == 3) {
        const QString avvio = avvioDelProcesso(pid);
        if (!avvio.isEmpty())
            return avvio == parti[2];
    }
#ifdef Q_OS_WIN
    HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!h)
        return false;
    const bool vivo = ::WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    ::CloseHandle(h);
    return vivo;
#else
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
#endif
}

// The station's file, version by version: each step takes a file of the version before to the
// next, so that a file of any earlier version is brought up to date. The server's tables are
// made by archivio/schema-postgresql.sql and brought up to date by its upgrade scripts.
const char *const kSchemaLocale1[] = {
    R"(CREATE TABLE IF NOT EXISTS prove (
        id INTEGER PRIMARY KEY,
        uuid TEXT NOT NULL UNIQUE,
        stazione TEXT NOT NULL,
        operatore TEXT NOT NULL,
        unita TEXT NOT NULL,
        tentativo INTEGER NOT NULL,
        banco TEXT NOT NULL,
        sha_banco TEXT NOT NULL,
        linea TEXT NOT NULL,
        inizio TEXT NOT NULL,
        fine TEXT,
        esito TEXT,
        processo TEXT,
        inviata INTEGER NOT NULL DEFAULT 0))",
    "CREATE INDEX IF NOT EXISTS prove_per_unita ON prove (unita, banco, inizio)",
    "CREATE INDEX IF NOT EXISTS prove_per_inizio ON prove (inizio)",
    "CREATE INDEX IF NOT EXISTS prove_da_inviare ON prove (inviata, id)",
    R"(CREATE TABLE IF NOT EXISTS letture (
        prova INTEGER NOT NULL REFERENCES prove (id),
        n INTEGER NOT NULL,
        nome TEXT NOT NULL,
        strumento INTEGER NOT NULL,
        memoria TEXT NOT NULL,
        parola INTEGER,
        valore REAL,
        valore_mostrato TEXT NOT NULL,
        minimo REAL,
        massimo REAL,
        atteso TEXT NOT NULL,
        stato TEXT NOT NULL,
        giudizio INTEGER NOT NULL,
        latenza_ms REAL,
        istante TEXT NOT NULL,
        PRIMARY KEY (prova, n)))",
};

// The rows' digest, each reading's unit, and the runs the server refused set aside with its
// reason (scarto), so that they no longer hold the others up.
const char *const kSchemaLocale2[] = {
    "ALTER TABLE prove ADD COLUMN sha_righe TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE prove ADD COLUMN scarto TEXT",
    "ALTER TABLE letture ADD COLUMN unita_misura TEXT NOT NULL DEFAULT ''",
    "CREATE INDEX IF NOT EXISTS prove_per_versione ON prove "
    "(COALESCE(NULLIF(sha_righe, ''), sha_banco))",
};

// The fixture's socket each run was read at; '' for a bench without sockets. And each time a
// socket was taken out of service or put back: who, when and why.
const char *const kSchemaLocale3[] = {
    "ALTER TABLE prove ADD COLUMN posto TEXT NOT NULL DEFAULT ''",
    R"(CREATE TABLE IF NOT EXISTS servizio_posti (
        id INTEGER PRIMARY KEY,
        uuid TEXT NOT NULL UNIQUE,
        stazione TEXT NOT NULL,
        banco TEXT NOT NULL,
        posto TEXT NOT NULL,
        in_servizio INTEGER NOT NULL,
        operatore TEXT NOT NULL,
        quando TEXT NOT NULL,
        motivo TEXT NOT NULL,
        inviato INTEGER NOT NULL DEFAULT 0))",
    "CREATE INDEX IF NOT EXISTS servizio_per_posto ON servizio_posti (stazione, banco, posto, quando)",
};

// The control limits an engineer fixed for a chart: added, never changed or removed, so that a
// chart drawn once can always be drawn again as it was. Only whether a set has been sent to the
// server changes.
const char *const kSchemaLocale4[] = {
    R"(CREATE TABLE IF NOT EXISTS limiti_carta (
        id INTEGER PRIMARY KEY,
        uuid TEXT NOT NULL UNIQUE,
        stazione TEXT NOT NULL,
        operatore TEXT NOT NULL,
        quando TEXT NOT NULL,
        banco TEXT NOT NULL,
        versione TEXT NOT NULL,
        posto TEXT NOT NULL,
        n INTEGER NOT NULL,
        nome TEXT NOT NULL,
        centro REAL NOT NULL,
        mr_medio REAL NOT NULL,
        valori INTEGER NOT NULL,
        inviato INTEGER NOT NULL DEFAULT 0))",
    "CREATE INDEX IF NOT EXISTS limiti_per_carta ON limiti_carta (versione, posto, n, quando)",
    R"(CREATE TRIGGER IF NOT EXISTS limiti_carta_restano BEFORE DELETE ON limiti_carta
        BEGIN SELECT RAISE(ABORT, 'i limiti fissati restano: se ne fissano di nuovi'); END)",
    R"(CREATE TRIGGER IF NOT EXISTS limiti_carta_non_cambiano BEFORE UPDATE OF uuid, stazione,
        operatore, quando, banco, versione, posto, n, nome, centro, mr_medio, valori ON limiti_carta
        BEGIN SELECT RAISE(ABORT, 'i limiti fissati restano: se ne fissano di nuovi'); END)",
};

// Each run's digest, stored with its end; whether it read a reference unit, and which outcome
// that unit must give; whether it was read before the references proved the bench. And each
// label printed or tried, kept as sent: added, never changed or removed, but for whether it has
// been sent to the server.
const char *const kSchemaLocale5[] = {
    "ALTER TABLE prove ADD COLUMN impronta TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE prove ADD COLUMN campione TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE prove ADD COLUMN senza_campioni INTEGER NOT NULL DEFAULT 0",
    "CREATE INDEX IF NOT EXISTS prove_dei_campioni ON prove (stazione, posto, inizio) "
    "WHERE campione <> ''",
    R"(CREATE TABLE IF NOT EXISTS stampe (
        id INTEGER PRIMARY KEY,
        uuid TEXT NOT NULL UNIQUE,
        prova TEXT NOT NULL,
        stazione TEXT NOT NULL,
        quando TEXT NOT NULL,
        stampante TEXT NOT NULL,
        riuscita INTEGER NOT NULL,
        motivo TEXT NOT NULL,
        zpl BLOB NOT NULL,
        ristampa INTEGER NOT NULL,
        inviata INTEGER NOT NULL DEFAULT 0))",
    "CREATE INDEX IF NOT EXISTS stampe_per_prova ON stampe (prova, id)",
    R"(CREATE TRIGGER IF NOT EXISTS stampe_restano BEFORE DELETE ON stampe
        BEGIN SELECT RAISE(ABORT, 'le stampe registrate restano'); END)",
    R"(CREATE TRIGGER IF NOT EXISTS stampe_non_cambiano BEFORE UPDATE OF uuid, prova, stazione,
        quando, stampante, riuscita, motivo, zpl, ristampa ON stampe
        BEGIN SELECT RAISE(ABORT, 'le stampe registrate restano'); END)",
};

} // namespace

namespace ArchivioSql {

QString processoCorrente()
{
    const qint64 pid = QCoreApplication::applicationPid();
    const QString avvio = avvioDelProcesso(pid);
    QString processo = QSysInfo::machineHostName() + u':' + QString::number(pid);
    if (!avvio.isEmpty())
        processo += u':' + avvio;
    return processo;
}

} // namespace ArchivioSql

namespace {
QString nuovaConnessione()
{
    static std::atomic<int> contatore{0};
    return QStringLiteral("banco-archivio-%1").arg(++contatore);
}
} // namespace

std::unique_ptr<Archivio> Archivio::apriLocale(const QString &percorso, QString *errore)
{
    const auto rifiuta = [&](const QString &motivo) {
        if (errore)
            *errore = motivo;
        return nullptr;
    };
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return rifiuta(QStringLiteral("manca il driver SQLite di Qt (pacchetto libqt6sql6-sqlite): "
                                      "l'archivio non si apre."));
    const QFileInfo file(percorso);
    // What the station records is its own: a new folder and a new file are its user's alone.
    const bool cartellaNuova = !QFileInfo::exists(file.absolutePath());
    if (!QDir().mkpath(file.absolutePath()))
        return rifiuta(QStringLiteral("non riesco a creare la cartella dell'archivio %1: "
                                      "controllare i permessi o indicare un altro file con "
                                      "--archivio.")
                           .arg(QDir::toNativeSeparators(file.absolutePath())));
    if (cartellaNuova)
        QFile::setPermissions(file.absolutePath(),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!file.exists()) {
        QFile nuovo(file.absoluteFilePath());
        // Made empty by one program only; another that made it first is no fault.
        if (nuovo.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            nuovo.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    std::unique_ptr<Archivio> archivio(new Archivio(Tipo::Locale, nuovaConnessione()));
    archivio->m_descrizione = QDir::toNativeSeparators(file.absoluteFilePath());
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), archivio->m_connessione);
        db.setDatabaseName(file.absoluteFilePath());
        // Two programs of one station may share the file: the other's commit is waited for.
        db.setConnectOptions(
            QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kAttesaOccupato.count()));
        if (!db.open())
            return rifiuta(QStringLiteral("l'archivio %1 non si apre: %2")
                               .arg(archivio->m_descrizione, db.lastError().text()));
    }
    if (!archivio->preparaSchemaLocale() || !archivio->chiudiAbbandonate())
        return rifiuta(archivio->m_errore);
    return archivio;
}

bool Archivio::preparaSchemaLocale()
{
    QSqlQuery q(database());
    // A committed reading survives a power cut; readers do not wait for the writer.
    // The switch to WAL takes the file alone, and SQLite does not wait for it: a program that
    // finds another switching a new file tries again, within the wait for a busy file.
    QDeadlineTimer scadenza(kAttesaOccupato);
    while (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next()) {
        if ((q.lastError().nativeErrorCode().toInt() & 0xff) != 5 || scadenza.hasExpired())
            return fallita(q, QStringLiteral("l'archivio non si apre"));
        QThread::msleep(10);
    }
    // A statement left open would hold a read lock that another program's commit waits on.
    q.finish();
    if (!esegui(QStringLiteral("PRAGMA synchronous=FULL"))
        || !esegui(QStringLiteral("PRAGMA foreign_keys=ON")))
        return false;
    // The version is read under the write lock: two programs opening a new file at once
    // would otherwise both find it empty, and the second would fail to make its tables.
    if (!esegui(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    const auto annulla = [this](const QString &motivo) {
        esegui(QStringLiteral("ROLLBACK"));
        m_errore = motivo;
        return false;
    };
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return annulla(m_errore);
    }
    const int versione = q.value(0).toInt();
    q.finish();
    if (versione > kVersioneSchema) {
        return annulla(QStringLiteral("l'archivio %1 è della versione %2, più nuova di quella che "
                                      "questo programma conosce (%3): aggiornare Banco Seriale, "
                                      "o indicare un altro file con --archivio.")
                           .arg(m_descrizione, QString::number(versione),
                               QString::number(kVersioneSchema)));
    }
    // From the version found to this one, in the same transaction: all or nothing.
    const std::pair<const char *const *, size_t> passi[] = {
        {kSchemaLocale1, std::size(kSchemaLocale1)}, {kSchemaLocale2, std::size(kSchemaLocale2)},
        {kSchemaLocale3, std::size(kSchemaLocale3)}, {kSchemaLocale4, std::size(kSchemaLocale4)},
        {kSchemaLocale5, std::size(kSchemaLocale5)}};
    static_assert(std::size(passi) == kVersioneSchema);
    bool ok = true;
    for (int passo = std::max(versione, 0); passo < kVersioneSchema; ++passo) {
        for (size_t i = 0; i < passi[passo].second; ++i)
            ok = ok && esegui(QString::fromUtf8(passi[passo].first[i]));
    }
    if (versione < kVersioneSchema)
        ok = ok && esegui(QStringLiteral("PRAGMA user_version = %1").arg(kVersioneSchema));
    if (!ok || !esegui(QStringLiteral("COMMIT")))
        return annulla(
            QStringLiteral("l'archivio %1 non si prepara: %2").arg(m_descrizione, m_errore));
    return true;
}

bool Archivio::chiudiAbbandonate()
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, processo, uuid FROM prove WHERE fine IS NULL")))
        return fallita(q, QStringLiteral("l'archivio non si legge"));
    QList<std::pair<qint64, QString>> abbandonate;
    while (q.next()) {
        if (!processoVivo(q.value(1).toString()))
            abbandonate.append({q.value(0).toLongLong(), q.value(2).toString()});
    }
    q.finish();
    for (const auto &[id, uuid] : abbandonate) {
        // Closed with its digest in one transaction, as a run that ends.
        const bool propria = iniziaTransazione();
        if (!propria && !m_errore.isEmpty())
            return false;
        QSqlQuery chiudi(database());
        chiudi.prepare(QStringLiteral(
            "UPDATE prove SET esito = ?, fine = COALESCE((SELECT MAX(istante) FROM letture WHERE "
            "prova = ?), inizio) WHERE id = ?"));
        chiudi.addBindValue(Esiti::kInterrotta);
        chiudi.addBindValue(id);
        chiudi.addBindValue(id);
        if (!chiudi.exec()) {
            fallita(chiudi, QStringLiteral("l'archivio non si scrive"));
            return annulla(propria);
        }
        if (!scriviImpronta(uuid) || (propria && !esegui(QStringLiteral("COMMIT"))))
            return annulla(propria);
    }
    return true;
}

std::unique_ptr<Archivio> Archivio::apriServer(const Destinazione::Server &server, QString *errore)
{
    const auto rifiuta = [&](const QString &motivo) {
        if (errore)
            *errore = motivo;
        return nullptr;
    };
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return rifiuta(QStringLiteral("manca il driver PostgreSQL di Qt (su Debian il pacchetto "
                                      "libqt6sql6-psql; su Windows sqldrivers\\qsqlpsql.dll e "
                                      "libpq.dll accanto al programma): le prove restano "
                                      "nell'archivio locale."));
    std::unique_ptr<Archivio> archivio(new Archivio(Tipo::Server, nuovaConnessione()));
    archivio->m_descrizione = server.url;
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), archivio->m_connessione);
        Destinazione::imposta(db, server);
        if (!db.open()) {
            const QString libpq = db.lastError().text().simplified();
            // The server answered and refused this user: waiting will not mend it.
            static const char *const kRifiuti[] = {"password authentication failed",
                "no pg_hba.conf entry", "does not exist", "no password supplied",
                "authentication failed", "permission denied for database"};
            for (const char *rifiuto : kRifiuti) {
                if (libpq.contains(QLatin1String(rifiuto), Qt::CaseInsensitive))
                    return rifiuta(
                        QStringLiteral("accesso rifiutato dal server %1 (%2): controllare "
                                       "l'utente e il database scritti nell'URL e la password "
                                       "di quell'utente in ~/.pgpass")
                            .arg(server.url, libpq));
            }
            return rifiuta(QStringLiteral("il server %1 non risponde: %2").arg(server.url, libpq));
        }
    }
    QSqlQuery q(archivio->database());
    if (!q.exec(QStringLiteral("SELECT versione FROM banco_schema")) || !q.next())
        return rifiuta(QStringLiteral("il server %1 non ha le tabelle dell'archivio: crearle con "
                                      "archivio/schema-postgresql.sql (%2)")
                           .arg(server.url, q.lastError().text().trimmed()));
    // A newer server takes this program's runs: its new columns have defaults. An older one
    // lacks what they carry, and they wait until it is brought up to date.
    const int versione = q.value(0).toInt();
    if (versione < kVersioneServer)
        return rifiuta(QStringLiteral("il server va aggiornato alla versione %1 (%2 è alla %3): "
                                      "l'amministratore lo aggiorna con gli script "
                                      "aggiorna-postgresql-*.sql in /usr/share/banco-seriale/; "
                                      "intanto le prove aspettano nel file della stazione.")
                           .arg(QString::number(kVersioneServer), server.url,
                               QString::number(versione)));
    q.finish();
    // The statistics read every reading once: compiling that plan costs the server more than
    // it saves (a quarter of a second on a million readings). A server without JIT refuses the
    // setting, and nothing changes.
    q.exec(QStringLiteral("SET jit = off"));
    return archivio;
}
