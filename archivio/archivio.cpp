#include "archivio.h"

#include <QDir>
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

QString processoCorrente()
{
    return QStringLiteral("%1:%2")
        .arg(QSysInfo::machineHostName())
        .arg(QCoreApplication::applicationPid());
}

bool processoVivo(const QString &processo)
{
    const qsizetype duePunti = processo.lastIndexOf(u':');
    if (duePunti < 0 || processo.left(duePunti) != QSysInfo::machineHostName())
        return false;
    bool ok = false;
    const qint64 pid = processo.mid(duePunti + 1).toLongLong(&ok);
    if (!ok || pid <= 0)
        return false;
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
      "p.inizio, p.fine, p.esito";

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
    return p;
}

const char kColonneLettura[] = "n, nome, strumento, memoria, parola, valore, valore_mostrato, "
                               "minimo, massimo, atteso, stato, giudizio, latenza_ms, istante";

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
}

// The station's file; the server's tables are made by archivio/schema-postgresql.sql.
const char *const kSchemaLocale[] = {
    R"(CREATE TABLE prove (
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
    "CREATE INDEX prove_per_unita ON prove (unita, banco, inizio)",
    "CREATE INDEX prove_per_inizio ON prove (inizio)",
    "CREATE INDEX prove_da_inviare ON prove (inviata, id)",
    R"(CREATE TABLE letture (
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

const char kInserisciLettura[]
    = "INSERT INTO letture (prova, n, nome, strumento, memoria, parola, valore, valore_mostrato, "
      "minimo, massimo, atteso, stato, giudizio, latenza_ms, istante) VALUES ";
const char kSegnaposti[] = "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

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
    if (!QDir().mkpath(file.absolutePath()))
        return rifiuta(QStringLiteral("non riesco a creare la cartella dell'archivio %1: "
                                      "controllare i permessi o indicare un altro file con "
                                      "--archivio.")
                           .arg(QDir::toNativeSeparators(file.absolutePath())));
    std::unique_ptr<Archivio> archivio(new Archivio(Tipo::Locale, nuovaConnessione()));
    archivio->m_descrizione = QDir::toNativeSeparators(file.absoluteFilePath());
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), archivio->m_connessione);
        db.setDatabaseName(file.absoluteFilePath());
        // Two programs of one station may share the file: the other's commit is waited for.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
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
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next())
        return fallita(q, QStringLiteral("l'archivio non si apre"));
    if (!esegui(QStringLiteral("PRAGMA synchronous=FULL"))
        || !esegui(QStringLiteral("PRAGMA foreign_keys=ON")))
        return false;
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return fallita(q, QStringLiteral("l'archivio non si legge"));
    const int versione = q.value(0).toInt();
    q.finish();
    if (versione > kVersioneSchema) {
        m_errore = QStringLiteral("l'archivio %1 è della versione %2, più nuova di quella che "
                                  "questo programma conosce (%3): aggiornare Banco Seriale, o "
                                  "indicare un altro file con --archivio.")
                       .arg(m_descrizione)
                       .arg(versione)
                       .arg(kVersioneSchema);
        return false;
    }
    if (versione == kVersioneSchema)
        return true;
    // From the version found to this one, in one transaction: all or nothing.
    QSqlDatabase db = database();
    if (!db.transaction())
        return fallita(q, QStringLiteral("l'archivio non si aggiorna"));
    bool ok = true;
    if (versione < 1) {
        for (const char *istruzione : kSchemaLocale)
            ok = ok && esegui(QString::fromUtf8(istruzione));
    }
    ok = ok && esegui(QStringLiteral("PRAGMA user_version = %1").arg(kVersioneSchema));
    if (!ok || !db.commit()) {
        const QString motivo = m_errore.isEmpty() ? db.lastError().text() : m_errore;
        db.rollback();
        m_errore = QStringLiteral("l'archivio %1 non si prepara: %2").arg(m_descrizione, motivo);
        return false;
    }
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
    const int versione = q.value(0).toInt();
    if (versione != kVersioneSchema)
        return rifiuta(
            QStringLiteral("le tabelle del server %1 sono della versione %2, questo "
                           "programma conosce la %3: %4")
                .arg(server.url)
                .arg(versione)
                .arg(kVersioneSchema)
                .arg(versione > kVersioneSchema
                        ? QStringLiteral("aggiornare Banco Seriale.")
                        : QStringLiteral("aggiornarle con archivio/schema-postgresql.sql.")));
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
    m_errore = QStringLiteral("%1 (%2): %3")
                   .arg(che, m_descrizione,
                       query.lastError().text().trimmed().isEmpty()
                           ? database().lastError().text().trimmed()
                           : query.lastError().text().trimmed());
    return false;
}

bool Archivio::iniziaProva(ProvaArchiviata &prova)
{
    if (prova.uuid.isEmpty())
        prova.uuid = nuovoUuid();
    if (!prova.inizio.isValid())
        prova.inizio = QDateTime::currentDateTimeUtc();
    const auto prima = precedenti(prova.unita, prova.banco);
    if (!prima)
        return false;
    prova.tentativo = prima->first + 1;
    QSqlQuery q(database());
    q.prepare(QStringLiteral(
        "INSERT INTO prove (uuid, stazione, operatore, unita, tentativo, banco, sha_banco, linea, "
        "inizio, processo) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
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
    if (!q.exec())
        return fallita(q, QStringLiteral("la prova non si registra nell'archivio"));
    return true;
}

bool Archivio::registraLettura(const QString &uuid, const LetturaArchiviata &lettura)
{
    QSqlQuery q(database());
    q.prepare(QString::fromUtf8(kInserisciLettura)
        + QStringLiteral(
            "((SELECT id FROM prove WHERE uuid = ?), ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
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

qint64 Archivio::inAttesa()
{
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM prove WHERE inviata = 0 AND fine IS NOT NULL"))
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
                                 "NOT NULL ORDER BY p.id LIMIT ?")
                      .arg(QLatin1String(kColonneProva)));
        q.addBindValue(quante);
        if (!q.exec()) {
            fallita(q, QStringLiteral("l'archivio non si legge"));
            return {};
        }
        while (q.next()) {
            prove.append({leggiProva(q), {}});
            id.append(q.value(11).toLongLong());
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
    QSqlDatabase db = database();
    if (!db.transaction())
        return fallita(QSqlQuery(db), QStringLiteral("l'archivio non si scrive"));
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE prove SET inviata = 1 WHERE uuid = ?"));
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
        "linea, inizio, fine, esito) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
        "ON CONFLICT (uuid) DO NOTHING RETURNING id"));
    for (const ProvaCompleta &c : prove) {
        const ProvaArchiviata &r = c.prova;
        for (const QVariant &v : {QVariant(r.uuid), QVariant(testo(r.stazione)),
                 QVariant(testo(r.operatore)), QVariant(testo(r.unita)), QVariant(r.tentativo),
                 QVariant(testo(r.banco)), QVariant(testo(r.shaBanco)), QVariant(testo(r.linea)),
                 QVariant(testoOra(r.inizio)), QVariant(testoOra(r.fine)), QVariant(r.esito)})
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
        aggiungi("p.sha_banco = ?", filtro.shaBanco);
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

std::optional<QList<Archivio::Punto>> Archivio::valori(
    const FiltroProve &filtro, const QString &sha, int n)
{
    QVariantList valori{sha, n};
    const QString dove = condizioni(filtro, valori);
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT p.inizio, p.unita, l.valore, l.giudizio FROM prove p JOIN "
                             "letture l ON l.prova = p.id WHERE p.sha_banco = ? AND l.n = ? AND "
                             "l.valore IS NOT NULL%1 ORDER BY p.inizio, p.id")
                  .arg(dove.isEmpty() ? QString() : QStringLiteral(" AND ") + dove));
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    QList<Punto> punti;
    while (q.next()) {
        punti.append({comeOra(q.value(0)), q.value(1).toString(), q.value(2).toDouble(),
            q.value(3).toInt() == int(LetturaArchiviata::Giudizio::FuoriDaiLimiti)});
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
    q.prepare(QStringLiteral("SELECT p.sha_banco, MAX(p.banco) FROM prove p%1 GROUP BY p.sha_banco")
                  .arg(dove.isEmpty() ? QString() : QStringLiteral(" WHERE ") + dove));
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
                       "FROM prove p JOIN letture l ON l.prova = p.id WHERE p.sha_banco = ?%1 "
                       "GROUP BY l.n ORDER BY l.n")
            .arg(dove.isEmpty() ? QString() : QStringLiteral(" AND ") + dove));
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
        "SELECT nome, strumento, memoria, minimo, massimo FROM letture WHERE prova = ? AND n = ?"));
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
        if (s.media && s.deviazione)
            s.cpk = ::cpk(*s.media, *s.deviazione, s.minimo, s.massimo);
        r.finish();
    }
    return true;
}

std::optional<QList<ResaBanco>> Archivio::rese(const FiltroProve &filtro)
{
    QVariantList valori;
    const QString dove = condizioni(filtro, valori);
    // A unit's first and last attempt among the runs chosen; a run stopped judged nothing.
    QString sql = QStringLiteral(
        "WITH scelte AS (SELECT p.banco, p.unita, p.esito, "
        "ROW_NUMBER() OVER (PARTITION BY p.banco, p.unita ORDER BY p.inizio, p.id) AS dal_primo, "
        "ROW_NUMBER() OVER (PARTITION BY p.banco, p.unita ORDER BY p.inizio DESC, p.id DESC) "
        "AS dall_ultimo FROM prove p WHERE p.fine IS NOT NULL AND p.esito <> 'interrotta'");
    if (!dove.isEmpty())
        sql += QStringLiteral(" AND ") + dove;
    sql += QStringLiteral(") SELECT banco, COUNT(DISTINCT unita), COUNT(*), "
                          "SUM(CASE WHEN dal_primo = 1 AND esito = 'conforme' THEN 1 ELSE 0 END), "
                          "SUM(CASE WHEN dall_ultimo = 1 AND esito = 'conforme' THEN 1 ELSE 0 END) "
                          "FROM scelte GROUP BY banco ORDER BY banco");
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    QList<ResaBanco> rese;
    while (q.next()) {
        rese.append({q.value(0).toString(), q.value(1).toLongLong(), q.value(2).toLongLong(),
            q.value(3).toLongLong(), q.value(4).toLongLong()});
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
