#include "archivio.h"

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

namespace {

// How long a program waits for another's hold on the station's file.
constexpr std::chrono::milliseconds kAttesaOccupato{5000};

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

QString processoCorrente()
{
    const qint64 pid = QCoreApplication::applicationPid();
    const QString avvio = avvioDelProcesso(pid);
    QString processo = QSysInfo::machineHostName() + u':' + QString::number(pid);
    if (!avvio.isEmpty())
        processo += u':' + avvio;
    return processo;
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

const char kColonneProva[]
    = "p.uuid, p.stazione, p.operatore, p.unita, p.tentativo, p.banco, p.sha_banco, p.linea, "
      "p.inizio, p.fine, p.esito, p.sha_righe, p.posto";

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
    return p;
}

const char kColonneLettura[]
    = "n, nome, strumento, memoria, parola, valore, valore_mostrato, minimo, massimo, atteso, "
      "stato, giudizio, latenza_ms, istante, unita_misura";

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

const char kInserisciLettura[]
    = "INSERT INTO letture (prova, n, nome, strumento, memoria, parola, valore, valore_mostrato, "
      "minimo, massimo, atteso, stato, giudizio, latenza_ms, istante, unita_misura) VALUES ";
const char kSegnaposti[] = "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// The runs that judged their unit: a round the station could not carry out, or that someone
// stopped, counts in no yield, rate or chart.
const char kGiudicate[] = "p.esito IN ('conforme', 'non conforme', 'senza risposta')";
// A bench's version as figures group it: the digest of its rows; the file's, for runs archived
// before the rows had one.
const char kVersioneBanco[] = "COALESCE(NULLIF(p.sha_righe, ''), p.sha_banco)";

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

} // namespace

std::optional<double> cpk(
    double media, double deviazione, std::optional<double> minimo, std::optional<double> massimo)
{
    if (!(deviazione > 0) || (!minimo && !massimo))
        return {};
    double margine = std::numeric_limits<double>::infinity();
    if (minimo)
        margine = std::min(margine, media - *minimo);
    if (massimo)
        margine = std::min(margine, *massimo - media);
    return margine / (3 * deviazione);
}

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
    bool ok = true;
    if (versione < 1) {
        for (const char *istruzione : kSchemaLocale1)
            ok = ok && esegui(QString::fromUtf8(istruzione));
    }
    if (versione < 2) {
        for (const char *istruzione : kSchemaLocale2)
            ok = ok && esegui(QString::fromUtf8(istruzione));
    }
    if (versione < 3) {
        for (const char *istruzione : kSchemaLocale3)
            ok = ok && esegui(QString::fromUtf8(istruzione));
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
    if (!q.exec(QStringLiteral("SELECT id, processo FROM prove WHERE fine IS NULL")))
        return fallita(q, QStringLiteral("l'archivio non si legge"));
    QList<qint64> abbandonate;
    while (q.next()) {
        if (!processoVivo(q.value(1).toString()))
            abbandonate.append(q.value(0).toLongLong());
    }
    q.finish();
    for (const qint64 id : abbandonate) {
        QSqlQuery chiudi(database());
        chiudi.prepare(QStringLiteral(
            "UPDATE prove SET esito = ?, fine = COALESCE((SELECT MAX(istante) FROM letture WHERE "
            "prova = ?), inizio) WHERE id = ?"));
        chiudi.addBindValue(Esiti::kInterrotta);
        chiudi.addBindValue(id);
        chiudi.addBindValue(id);
        if (!chiudi.exec())
            return fallita(chiudi, QStringLiteral("l'archivio non si scrive"));
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
    return archivio;
}

bool Archivio::esegui(const QString &sql)
{
    QSqlQuery q(database());
    if (!q.exec(sql))
        return fallita(q, QStringLiteral("l'archivio non si scrive"));
    return true;
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

QSet<QString> Archivio::postiFuoriServizio(const QString &stazione, const QString &banco)
{
    QSet<QString> fuori;
    if (const auto elenco = servizi(stazione, banco)) {
        for (const ServizioPosto &s : *elenco) {
            if (s.inServizio)
                fuori.remove(s.posto);
            else
                fuori.insert(s.posto);
        }
    }
    return fuori;
}

bool Archivio::riceviServizi(const QList<ServizioPosto> &servizi)
{
    QSqlDatabase db = database();
    if (!db.transaction())
        return fallita(QSqlQuery(db), QStringLiteral("il server non riceve i posti fuori servizio"));
    QSqlQuery q(db);
    // One already there (sent before, its acknowledgement lost) is left as it is.
    q.prepare(QStringLiteral("INSERT INTO servizio_posti (uuid, stazione, banco, posto, "
                             "in_servizio, operatore, quando, motivo) VALUES (?, ?, ?, ?, ?, ?, ?, "
                             "?) ON CONFLICT (uuid) DO NOTHING"));
    for (const ServizioPosto &s : servizi) {
        for (const QVariant &v : {QVariant(s.uuid), QVariant(testo(s.stazione)),
                 QVariant(testo(s.banco)), QVariant(testo(s.posto)), QVariant(s.inServizio),
                 QVariant(testo(s.operatore)), QVariant(testoOra(s.quando)),
                 QVariant(testo(s.motivo))})
            q.addBindValue(v);
        if (!q.exec()) {
            fallita(q, QStringLiteral("il server non riceve i posti fuori servizio"));
            db.rollback();
            return false;
        }
    }
    if (!db.commit())
        return fallita(q, QStringLiteral("il server non riceve i posti fuori servizio"));
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
            id.append(q.value(13).toLongLong());
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
        "linea, inizio, fine, esito, sha_righe, posto) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
        "?) "
        "ON CONFLICT (uuid) DO NOTHING RETURNING id"));
    for (const ProvaCompleta &c : prove) {
        const ProvaArchiviata &r = c.prova;
        for (const QVariant &v : {QVariant(r.uuid), QVariant(testo(r.stazione)),
                 QVariant(testo(r.operatore)), QVariant(testo(r.unita)), QVariant(r.tentativo),
                 QVariant(testo(r.banco)), QVariant(testo(r.shaBanco)), QVariant(testo(r.linea)),
                 QVariant(testoOra(r.inizio)), QVariant(testoOra(r.fine)), QVariant(r.esito),
                 QVariant(testo(r.shaRighe)), QVariant(testo(r.posto))})
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

QString Archivio::condizioni(const FiltroProve &filtro, QVariantList &valori) const
{
    QStringList dove;
    const auto aggiungi = [&](const char *condizione, const QVariant &valore) {
        dove << QString::fromLatin1(condizione);
        valori << valore;
    };
    if (!filtro.unita.isEmpty()) {
        if (filtro.prefisso) {
            QString modello = filtro.unita;
            modello.replace(u'\\', QStringLiteral("\\\\"))
                .replace(u'%', QStringLiteral("\\%"))
                .replace(u'_', QStringLiteral("\\_"));
            aggiungi("p.unita LIKE ? ESCAPE '\\'", modello + u'%');
        } else {
            aggiungi("p.unita = ?", filtro.unita);
        }
    }
    if (filtro.dal.isValid())
        aggiungi("p.inizio >= ?", testoOra(filtro.dal.startOfDay()));
    if (filtro.al.isValid())
        aggiungi("p.inizio < ?", testoOra(filtro.al.addDays(1).startOfDay()));
    if (!filtro.esito.isEmpty())
        aggiungi("p.esito = ?", filtro.esito);
    if (!filtro.stazione.isEmpty())
        aggiungi("p.stazione = ?", filtro.stazione);
    if (!filtro.operatore.isEmpty())
        aggiungi("p.operatore = ?", filtro.operatore);
    if (!filtro.banco.isEmpty())
        aggiungi("p.banco = ?", filtro.banco);
    if (!filtro.shaBanco.isEmpty())
        aggiungi("COALESCE(NULLIF(p.sha_righe, ''), p.sha_banco) = ?", filtro.shaBanco);
    if (!filtro.posto.isEmpty())
        aggiungi("p.posto = ?", filtro.posto);
    return dove.isEmpty() ? QString() : dove.join(QStringLiteral(" AND "));
}

bool Archivio::perOgniProva(const FiltroProve &filtro, qint64 limite,
    const std::function<void(const ProvaArchiviata &)> &fai, qint64 salta)
{
    QVariantList valori;
    const QString dove = condizioni(filtro, valori);
    QString sql = QStringLiteral("SELECT %1 FROM prove p").arg(QLatin1String(kColonneProva));
    if (!dove.isEmpty())
        sql += QStringLiteral(" WHERE ") + dove;
    sql += QStringLiteral(" ORDER BY p.inizio DESC, p.id DESC");
    if (limite > 0)
        sql += QStringLiteral(" LIMIT %1").arg(limite);
    if (limite > 0 && salta > 0)
        sql += QStringLiteral(" OFFSET %1").arg(salta);
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec())
        return fallita(q, QStringLiteral("l'archivio non si legge"));
    while (q.next())
        fai(leggiProva(q));
    return true;
}

std::optional<qint64> Archivio::conta(const FiltroProve &filtro)
{
    QVariantList valori;
    const QString dove = condizioni(filtro, valori);
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM prove p%1")
                  .arg(dove.isEmpty() ? QString() : QStringLiteral(" WHERE ") + dove));
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec() || !q.next()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    return q.value(0).toLongLong();
}

std::optional<QStringList> Archivio::posti(const FiltroProve &filtro)
{
    QVariantList valori;
    const QString dove = condizioni(filtro, valori);
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT DISTINCT p.posto FROM prove p WHERE p.posto <> ''%1 ORDER BY "
                             "p.posto")
                  .arg(dove.isEmpty() ? QString() : QStringLiteral(" AND ") + dove));
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    QStringList posti;
    while (q.next())
        posti << q.value(0).toString();
    return posti;
}

std::optional<QList<Archivio::Punto>> Archivio::valori(
    const FiltroProve &filtro, const QString &sha, int n)
{
    QVariantList valori{sha, n};
    const QString dove = condizioni(filtro, valori);
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT p.inizio, p.unita, l.valore, l.giudizio, l.unita_misura FROM "
                             "prove p JOIN letture l ON l.prova = p.id WHERE %1 = ? AND l.n = ? "
                             "AND l.valore IS NOT NULL AND %2%3 ORDER BY p.inizio, p.id")
                  .arg(QLatin1String(kVersioneBanco), QLatin1String(kGiudicate),
                      dove.isEmpty() ? QString() : QStringLiteral(" AND ") + dove));
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    QList<Punto> punti;
    while (q.next()) {
        punti.append({comeOra(q.value(0)), q.value(1).toString(), q.value(2).toDouble(),
            q.value(3).toInt() == int(LetturaArchiviata::Giudizio::FuoriDaiLimiti),
            q.value(4).toString()});
    }
    return punti;
}

std::optional<QList<LetturaArchiviata>> Archivio::letture(const QString &uuid)
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM letture WHERE prova = (SELECT id FROM prove WHERE "
                             "uuid = ?) ORDER BY n")
                  .arg(QLatin1String(kColonneLettura)));
    q.addBindValue(uuid);
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    QList<LetturaArchiviata> letture;
    while (q.next())
        letture.append(leggiLettura(q));
    return letture;
}

// Per version of a bench (its SHA-256, so that a row is the same row with the same limits), sums
// in SQL over integers and reals only, the same on both databases; the deviation and Cpk from
// them here. A row's name, address and limits come from its latest reading.
std::optional<QList<StatisticaRiga>> Archivio::statistiche(const FiltroProve &filtro)
{
    QVariantList valori;
    const QString dove = condizioni(filtro, valori);
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1, MAX(p.banco) FROM prove p WHERE %2%3 GROUP BY %1")
                  .arg(QLatin1String(kVersioneBanco), QLatin1String(kGiudicate),
                      dove.isEmpty() ? QString() : QStringLiteral(" AND ") + dove));
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    QList<std::pair<QString, QString>> banchi;
    while (q.next())
        banchi.append({q.value(0).toString(), q.value(1).toString()});
    q.finish();
    QList<StatisticaRiga> righe;
    for (const auto &[sha, banco] : banchi) {
        if (!statisticheDelBanco(sha, banco, filtro, righe))
            return {};
    }
    std::stable_sort(righe.begin(), righe.end(),
        [](const StatisticaRiga &a, const StatisticaRiga &b) { return a.fallite > b.fallite; });
    return righe;
}

bool Archivio::statisticheDelBanco(const QString &sha, const QString &banco,
    const FiltroProve &filtro, QList<StatisticaRiga> &righe)
{
    QVariantList valori{sha};
    const QString dove = condizioni(filtro, valori);
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT l.n, MAX(l.prova), COUNT(*), COUNT(l.valore), SUM(l.valore), "
                       "SUM(l.valore * l.valore), MIN(l.valore), MAX(l.valore), "
                       "SUM(CASE WHEN l.giudizio = 1 THEN 1 ELSE 0 END), "
                       "SUM(CASE WHEN l.giudizio > 0 THEN 1 ELSE 0 END) "
                       "FROM prove p JOIN letture l ON l.prova = p.id WHERE %1 = ? AND %2%3 "
                       "GROUP BY l.n ORDER BY l.n")
            .arg(QLatin1String(kVersioneBanco), QLatin1String(kGiudicate),
                dove.isEmpty() ? QString() : QStringLiteral(" AND ") + dove));
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec())
        return fallita(q, QStringLiteral("l'archivio non si legge"));
    QList<std::pair<qint64, int>> ultime;
    const qsizetype primo = righe.size();
    while (q.next()) {
        StatisticaRiga s;
        s.banco = banco;
        s.shaBanco = sha;
        s.n = q.value(0).toInt();
        ultime.append({q.value(1).toLongLong(), q.value(0).toInt()});
        s.letture = q.value(2).toLongLong();
        s.conValore = q.value(3).toLongLong();
        s.fuoriDaiLimiti = q.value(8).toLongLong();
        s.fallite = q.value(9).toLongLong();
        if (s.conValore > 0) {
            const double n = double(s.conValore);
            const double somma = q.value(4).toDouble();
            s.media = somma / n;
            s.valoreMinimo = q.value(6).toDouble();
            s.valoreMassimo = q.value(7).toDouble();
            if (s.conValore >= 2) {
                const double varianza = (q.value(5).toDouble() - somma * somma / n) / (n - 1);
                s.deviazione = std::sqrt(std::max(0.0, varianza));
                // Rounding leaves a trace of spread in values that are all the same.
                if (*s.valoreMinimo == *s.valoreMassimo)
                    s.deviazione = 0.0;
            }
        }
        righe.append(s);
    }
    q.finish();
    QSqlQuery r(database());
    r.setForwardOnly(true);
    r.prepare(QStringLiteral(
        "SELECT nome, strumento, memoria, minimo, massimo, unita_misura FROM letture WHERE prova = "
        "? AND n = ?"));
    for (qsizetype i = 0; i < ultime.size(); ++i) {
        r.addBindValue(ultime[i].first);
        r.addBindValue(ultime[i].second);
        if (!r.exec() || !r.next())
            return fallita(r, QStringLiteral("l'archivio non si legge"));
        StatisticaRiga &s = righe[primo + i];
        s.nome = r.value(0).toString();
        s.strumento = r.value(1).toInt();
        s.memoria = r.value(2).toString();
        s.minimo = facoltativo(r.value(3));
        s.massimo = facoltativo(r.value(4));
        s.unitaMisura = r.value(5).toString();
        if (s.media && s.deviazione)
            s.cpk = ::cpk(*s.media, *s.deviazione, s.minimo, s.massimo);
        r.finish();
    }
    return true;
}

std::optional<QList<ResaBanco>> Archivio::rese(const FiltroProve &filtro)
{
    // A socket's yields are those of the units first judged there: a unit that failed in a
    // socket with a worn contact and passed when tried again in another is that socket's
    // failure at the first pass, not the other's success. So a unit's runs are numbered in
    // every socket, and the socket is chosen after.
    FiltroProve tutti = filtro;
    tutti.posto.clear();
    QVariantList valori;
    const QString dove = condizioni(tutti, valori);
    // A unit's first and last run among those that judged it: a round that could not be
    // carried out or was stopped judged nothing, and is counted apart, to be read again.
    QString sql = QStringLiteral(
        "WITH scelte AS (SELECT p.banco, p.unita, p.esito, p.posto, "
        "CASE WHEN %1 THEN ROW_NUMBER() OVER (PARTITION BY p.banco, p.unita, %1 "
        "ORDER BY p.inizio, p.id) END AS dal_primo, "
        "CASE WHEN %1 THEN ROW_NUMBER() OVER (PARTITION BY p.banco, p.unita, %1 "
        "ORDER BY p.inizio DESC, p.id DESC) END AS dall_ultimo, "
        "FIRST_VALUE(p.posto) OVER (PARTITION BY p.banco, p.unita, %1 "
        "ORDER BY p.inizio, p.id) AS posto_primo "
        "FROM prove p WHERE p.fine IS NOT NULL")
                      .arg(QLatin1String(kGiudicate));
    if (!dove.isEmpty())
        sql += QStringLiteral(" AND ") + dove;
    // The unit's socket, where one is asked for: where it was first judged; for the runs to
    // be read again, where they ran.
    const bool perPosto = !filtro.posto.isEmpty();
    const QString delPrimo = perPosto ? QStringLiteral(" AND posto_primo = ?") : QString();
    const QString qui = perPosto ? QStringLiteral(" AND posto = ?") : QString();
    sql += QStringLiteral(
        ") SELECT banco, COUNT(DISTINCT CASE WHEN dal_primo IS NOT NULL%1 THEN unita END), "
        "SUM(CASE WHEN dal_primo IS NOT NULL%1 THEN 1 ELSE 0 END), "
        "SUM(CASE WHEN dal_primo = 1 AND esito = 'conforme'%1 THEN 1 ELSE 0 END), "
        "SUM(CASE WHEN dall_ultimo = 1 AND esito = 'conforme'%1 THEN 1 ELSE 0 END), "
        "SUM(CASE WHEN dal_primo IS NULL%2 THEN 1 ELSE 0 END) "
        "FROM scelte GROUP BY banco HAVING COUNT(CASE WHEN 1 = 1%2 THEN 1 END) + "
        "COUNT(CASE WHEN dal_primo IS NOT NULL%1 THEN 1 END) > 0 ORDER BY banco")
               .arg(delPrimo, qui);
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (perPosto) {
        for (int i = 0; i < 4; ++i)
            q.addBindValue(filtro.posto);
        q.addBindValue(filtro.posto);
        q.addBindValue(filtro.posto);
        q.addBindValue(filtro.posto);
    }
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    QList<ResaBanco> rese;
    while (q.next()) {
        rese.append({q.value(0).toString(), q.value(1).toLongLong(), q.value(2).toLongLong(),
            q.value(3).toLongLong(), q.value(4).toLongLong(), q.value(5).toLongLong()});
    }
    return rese;
}

std::optional<std::pair<int, QString>> Archivio::precedenti(
    const QString &unita, const QString &banco)
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT COUNT(*), (SELECT esito FROM prove WHERE unita = ? AND banco "
                             "= ? ORDER BY inizio DESC, id DESC LIMIT 1) FROM prove WHERE unita = "
                             "? AND banco = ?"));
    for (const QString &v : {unita, banco, unita, banco})
        q.addBindValue(testo(v));
    if (!q.exec() || !q.next()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    return std::make_pair(q.value(0).toInt(), q.value(1).toString());
}
