// The line's PostgreSQL server and what a station may write there, logged in as a member of
// banco_stazione: on a server of the test's own, in a database made with schema-postgresql.sql
// and in one made with version 4 of it and upgraded with aggiorna-postgresql-5.sql.

#include "server_postgres.h"

#include "archivio.h"
#include "inoltro.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUuid>

#include <tuple>

namespace {

// The databases: "nuovo" made at the current version, "aggiornato" made at version 4 and upgraded.
const QStringList kDatabase = {QStringLiteral("nuovo"), QStringLiteral("aggiornato")};

// A connection of its own, as a login, removed with the object.
class Connessione
{
public:
    Connessione(const QString &login, const QString &database, const QString &socket)
        : m_nome(QUuid::createUuid().toString())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_nome);
        db.setDatabaseName(database);
        db.setUserName(login);
        db.setConnectOptions(QStringLiteral("host=") + socket);
        db.open();
    }
    ~Connessione() { QSqlDatabase::removeDatabase(m_nome); }
    QSqlDatabase db() const { return QSqlDatabase::database(m_nome, false); }

private:
    QString m_nome;
};

// A run as a station sends it, with one more column when given as "colonna=valore"; the id the
// server gives back, if any. A refusal rolls the transaction back, before the statement is let go
// as a station does.
bool inserisciProva(QSqlDatabase db, const QString &stazione, const QString &uuid,
    const QString &aggiunta, QList<qint64> &id, QSqlError &errore)
{
    const QString colonna = aggiunta.section(u'=', 0, 0);
    const QString valore = aggiunta.section(u'=', 1);
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "INSERT INTO prove (uuid, stazione, operatore, unita, tentativo, banco, sha_banco, linea, "
        "inizio, fine, esito%1) VALUES (?, ?, 'Anna', 'SN-1', 1, 'linea.banco', 'ab', '1', now(), "
        "now(), 'conforme'%2) ON CONFLICT (uuid) DO NOTHING RETURNING id")
                  .arg(aggiunta.isEmpty() ? QString() : QStringLiteral(", ") + colonna,
                      aggiunta.isEmpty() ? QString() : QStringLiteral(", ") + valore));
    q.addBindValue(uuid);
    q.addBindValue(stazione);
    if (!q.exec()) {
        errore = q.lastError();
        db.rollback();
        return false;
    }
    while (q.next())
        id << q.value(0).toLongLong();
    return true;
}

bool inserisciLettura(QSqlDatabase db, qint64 prova, QSqlError &errore)
{
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "INSERT INTO letture (prova, n, nome, strumento, memoria, parola, valore, valore_mostrato, "
        "minimo, massimo, atteso, stato, giudizio, latenza_ms, istante) VALUES (?, "
        "(SELECT count(*) + 1 FROM letture WHERE prova = ?), 'Temperatura', 0, '0008', 215, "
        "21.5, '21.5 °C', 20, 120, '', 'ok', 1, 12, now())"));
    q.addBindValue(prova);
    q.addBindValue(prova);
    if (!q.exec()) {
        errore = q.lastError();
        db.rollback();
        return false;
    }
    return true;
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void scrittura_data();
    void scrittura();
    void nomeConsentito();
    void aggiornamento_data();
    void aggiornamento();
    void stazionePiuNuovaDelServer();
    void postiFuoriServizio();

private:
    // psql as the administrator on a database, stopping at the first error; its messages.
    bool psql(const QString &database, const QStringList &argomenti, QString *messaggi = nullptr);
    QString valore(const QString &database, const QString &sql);
    // A run of the login's own name with a reading, committed: its uuid.
    QString provaCompleta(const QString &login, const QString &database);
    QString schema(const QString &database);

    ServerPostgres m_server;
};

bool TestServer::psql(const QString &database, const QStringList &argomenti, QString *messaggi)
{
    QProcess p;
    p.start(m_server.programma(QStringLiteral("psql")),
        QStringList{QStringLiteral("-qAt"), QStringLiteral("-h"), m_server.cartella(),
            QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-d"), database,
            QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1")}
            + argomenti);
    const bool finito = p.waitForFinished(60000);
    if (messaggi)
        *messaggi = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    return finito && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString TestServer::valore(const QString &database, const QString &sql)
{
    QString uscita;
    psql(database, {QStringLiteral("-c"), sql}, &uscita);
    return uscita.trimmed();
}

QString TestServer::provaCompleta(const QString &login, const QString &database)
{
    const Connessione c(login, database, m_server.cartella());
    QSqlDatabase db = c.db();
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QList<qint64> id;
    QSqlError errore;
    if (!db.transaction() || !inserisciProva(db, login, uuid, {}, id, errore) || id.size() != 1
        || !inserisciLettura(db, id.first(), errore) || !db.commit())
        return {};
    return uuid;
}

QString TestServer::schema(const QString &database)
{
    QProcess p;
    p.start(m_server.programma(QStringLiteral("pg_dump")),
        {QStringLiteral("-s"), QStringLiteral("-h"), m_server.cartella(), QStringLiteral("-U"),
            QStringLiteral("postgres"), database});
    p.waitForFinished(60000);
    // Without the dump's random guard lines.
    QStringList righe = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n');
    righe.removeIf([](const QString &r) { return r.contains(QLatin1String("restrict ")); });
    return righe.join(u'\n');
}

void TestServer::initTestCase()
{
    QString motivo;
    QVERIFY2(m_server.avvia(&motivo), qPrintable(motivo));
    QVERIFY2(
        psql(QStringLiteral("banco"),
            {QStringLiteral("-c"), QStringLiteral("CREATE DATABASE nuovo"), QStringLiteral("-c"),
                QStringLiteral("CREATE DATABASE aggiornato"), QStringLiteral("-c"),
                QStringLiteral("CREATE DATABASE dalla1"), QStringLiteral("-c"),
                QStringLiteral("CREATE ROLE stazione1 LOGIN IN ROLE banco_stazione"),
                QStringLiteral("-c"),
                QStringLiteral("CREATE ROLE stazione2 LOGIN IN ROLE banco_stazione")},
            &motivo),
        qPrintable(motivo));
    QVERIFY2(psql(QStringLiteral("nuovo"),
                 {QStringLiteral("-f"), QStringLiteral(BANCO_SCHEMA_POSTGRESQL)}, &motivo),
        qPrintable(motivo));
    QVERIFY2(psql(QStringLiteral("aggiornato"),
                 {QStringLiteral("-f"), QStringLiteral(BANCO_SCHEMA_POSTGRESQL_4)}, &motivo),
        qPrintable(motivo));
    QVERIFY2(psql(QStringLiteral("dalla1"),
                 {QStringLiteral("-f"), QStringLiteral(BANCO_SCHEMA_POSTGRESQL_1)}, &motivo),
        qPrintable(motivo));
    // Each station's earlier run: in the upgraded databases, from before the upgrade.
    for (const QString &database : kDatabase + QStringList{QStringLiteral("dalla1")}) {
        for (const QString &login : {QStringLiteral("stazione1"), QStringLiteral("stazione2")})
            QVERIFY(!provaCompleta(login, database).isEmpty());
    }
    for (const auto &[database, script] : {std::pair{"aggiornato", BANCO_AGGIORNA_POSTGRESQL_5},
             std::pair{"dalla1", BANCO_AGGIORNA_POSTGRESQL_2},
             std::pair{"dalla1", BANCO_AGGIORNA_POSTGRESQL_3},
             std::pair{"dalla1", BANCO_AGGIORNA_POSTGRESQL_4},
             std::pair{"dalla1", BANCO_AGGIORNA_POSTGRESQL_5}})
        QVERIFY2(psql(QString::fromLatin1(database),
                     {QStringLiteral("-f"), QString::fromUtf8(script)}, &motivo),
            qPrintable(motivo));
}

void TestServer::scrittura_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("stazione"); // the name on a new run; none if empty
    QTest::addColumn<QString>("letture"); // "nuova", or the login whose earlier run they go to
    QTest::addColumn<QString>("aggiunta"); // one more column of the run, "colonna=valore"
    QTest::addColumn<bool>("ripetuta"); // the new run has the uuid of the earlier own one
    QTest::addColumn<int>("ricevute"); // runs the server takes; -1: it refuses

    for (const QString &d : kDatabase) {
        const auto riga = [&](const char *nome) -> QTestData & {
            return QTest::addRow("%s: %s", qPrintable(d), nome) << d;
        };
        riga("la prova propria con le sue letture") << "stazione1"
                                                    << "nuova" << QString() << false << 1;
        riga("a nome di un'altra stazione") << "stazione2" << QString() << QString() << false << -1;
        riga("a nome non consentito") << "linea3-inizio" << QString() << QString() << false << -1;
        riga("letture a una prova già registrata di un'altra stazione")
            << QString() << "stazione2" << QString() << false << -1;
        riga("letture alla propria prova già registrata")
            << QString() << "stazione1" << QString() << false << -1;
        riga("letture alla propria prova già registrata, con una nuova")
            << "stazione1"
            << "stazione1" << QString() << false << -1;
        riga("ora di ricezione nel passato")
            << "stazione1" << QString() << "ricevuta=now() - interval '1 day'" << false << -1;
        riga("la prova propria con il suo posto") << "stazione1"
                                                  << "nuova"
                                                  << "posto='A'" << false << 1;
        riga("la prova propria già arrivata") << "stazione1" << QString() << QString() << true << 0;
    }
}

void TestServer::scrittura()
{
    QFETCH(QString, database);
    QFETCH(QString, stazione);
    QFETCH(QString, letture);
    QFETCH(QString, aggiunta);
    QFETCH(bool, ripetuta);
    QFETCH(int, ricevute);

    const auto prima = [&](const QString &login, const char *colonna) {
        return valore(database,
            QStringLiteral("SELECT %1 FROM prove WHERE stazione = '%2' ORDER BY id LIMIT 1")
                .arg(QLatin1String(colonna), login));
    };
    const QString conteggio
        = QStringLiteral("SELECT (SELECT count(*) FROM prove) + (SELECT count(*) FROM letture)");
    const int righePrima = valore(database, conteggio).toInt();

    const Connessione c(QStringLiteral("stazione1"), database, m_server.cartella());
    QSqlDatabase db = c.db();
    QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
    // Every run is there for the history, the other stations' too.
    QSqlQuery tutte(QStringLiteral("SELECT count(*) FROM prove"), db);
    QVERIFY(tutte.next());
    QCOMPARE(
        tutte.value(0).toString(), valore(database, QStringLiteral("SELECT count(*) FROM prove")));

    QVERIFY(db.transaction());
    QList<qint64> id;
    QSqlError errore;
    bool ok = true;
    if (!stazione.isEmpty()) {
        const QString uuid = ripetuta ? prima(QStringLiteral("stazione1"), "uuid")
                                      : QUuid::createUuid().toString(QUuid::WithoutBraces);
        ok = inserisciProva(db, stazione, uuid, aggiunta, id, errore);
    }
    if (ok && letture == QLatin1String("nuova"))
        ok = inserisciLettura(db, id.value(0), errore) && inserisciLettura(db, id.value(0), errore);
    else if (ok && !letture.isEmpty())
        ok = inserisciLettura(db, prima(letture, "id").toLongLong(), errore);
    ok = ok && db.commit();

    QVERIFY2(ok == (ricevute >= 0), qPrintable(errore.text()));
    if (ok) {
        QCOMPARE(id.size(), ricevute);
        // The column given is kept as sent.
        if (!aggiunta.isEmpty())
            QCOMPARE(valore(database,
                         QStringLiteral("SELECT count(*) FROM prove WHERE id = %1 AND %2")
                             .arg(QString::number(id.value(0)), aggiunta)),
                QStringLiteral("1"));
    } else {
        // A refusal, not a fault of the connection, with the reason for the operator.
        QCOMPARE(errore.nativeErrorCode(), QStringLiteral("42501"));
        QVERIFY2(errore.databaseText()
                     .section(u'\n', 0, 0)
                     .contains(QStringLiteral("la stazione «stazione1»")),
            qPrintable(errore.databaseText()));
        QCOMPARE(valore(database, conteggio).toInt(), righePrima);
    }
}

// The administrator lets stazione1 write runs under a name of another station.
void TestServer::nomeConsentito()
{
    for (const QString &database : kDatabase) {
        const auto scrive = [&](const QString &login) {
            const Connessione c(login, database, m_server.cartella());
            QSqlDatabase db = c.db();
            QList<qint64> id;
            QSqlError errore;
            return db.transaction()
                && inserisciProva(db, QStringLiteral("linea2-fine"),
                    QUuid::createUuid().toString(QUuid::WithoutBraces), {}, id, errore)
                && inserisciLettura(db, id.value(0), errore) && db.commit();
        };
        QVERIFY(!scrive(QStringLiteral("stazione1")));
        QVERIFY(psql(database,
            {QStringLiteral("-c"),
                QStringLiteral(
                    "INSERT INTO stazioni_consentite VALUES ('stazione1', 'linea2-fine')")}));
        QVERIFY(scrive(QStringLiteral("stazione1")));
        QVERIFY(!scrive(QStringLiteral("stazione2")));
    }
}

void TestServer::aggiornamento_data()
{
    QTest::addColumn<QString>("database");
    QTest::newRow("dalla versione 4") << "aggiornato";
    QTest::newRow("dalla versione 1, con un aggiornamento dopo l'altro") << "dalla1";
}

// An upgraded server has what a new one has, its runs of before, and a second upgrade changes
// nothing.
void TestServer::aggiornamento()
{
    QFETCH(QString, database);
    const QString nuovo = schema(QStringLiteral("nuovo"));
    QVERIFY(nuovo.contains(QLatin1String("CREATE POLICY")));
    QCOMPARE(schema(database), nuovo);
    QString messaggi;
    QVERIFY2(psql(database, {QStringLiteral("-f"), QStringLiteral(BANCO_AGGIORNA_POSTGRESQL_5)},
                 &messaggi),
        qPrintable(messaggi));
    QCOMPARE(schema(database), nuovo);
    QCOMPARE(valore(database,
                 QStringLiteral("SELECT string_agg(p.stazione || ':' || l.nome || ':' "
                                "|| p.sha_righe || p.posto || l.unita_misura, ',' ORDER BY p.id) "
                                "FROM prove p JOIN letture l ON l.prova = p.id WHERE p.id <= 2")),
        QStringLiteral("stazione1:Temperatura:,stazione2:Temperatura:"));
    QCOMPARE(valore(database, QStringLiteral("SELECT versione FROM banco_schema")),
        QString::number(Archivio::kVersioneServer));
}

// A station that knows a newer schema than its server's keeps its runs waiting, and says why:
// its runs carry what the server cannot keep yet.
void TestServer::stazionePiuNuovaDelServer()
{
    QVERIFY(psql(QStringLiteral("banco"),
        {QStringLiteral("-c"), QStringLiteral("CREATE DATABASE vecchio")}));
    QVERIFY(psql(QStringLiteral("vecchio"),
        {QStringLiteral("-f"), QStringLiteral(BANCO_SCHEMA_POSTGRESQL_2)}));
    QTemporaryDir dati;
    const QString file = dati.filePath(QStringLiteral("archivio.sqlite"));
    {
        std::unique_ptr<Archivio> locale = Archivio::apriLocale(file, nullptr);
        ProvaArchiviata p;
        p.stazione = QStringLiteral("stazione");
        QVERIFY(locale->iniziaProva(p) && locale->finisciProva(p.uuid, Esiti::kConforme));
    }
    const auto server = Destinazione::leggiUrl(
        QStringLiteral("postgresql://stazione@/vecchio?host=%1").arg(m_server.cartella()), nullptr);
    Inoltro inoltro(file, *server);
    QSignalSpy stati(&inoltro, &Inoltro::statoCambiato);
    inoltro.inviaOra();
    QVERIFY(inoltro.attendi(30000));
    const StatoInoltro stato = stati.last().at(0).value<StatoInoltro>();
    QCOMPARE(stato.inAttesa, 1);
    QCOMPARE(stato.messeDaParte, 0);
    QVERIFY2(stato.errore.contains(QStringLiteral("il server va aggiornato alla versione %1")
                                       .arg(Archivio::kVersioneServer)),
        qPrintable(stato.errore));
}

// A socket taken out of service and put back is kept in the station's file with who and when,
// and reaches the server after the runs; a change in the name of a station the login may not
// write for stays waiting, with the server's reason.
void TestServer::postiFuoriServizio()
{
    QTemporaryDir dati;
    const QString file = dati.filePath(QStringLiteral("archivio.sqlite"));
    {
        std::unique_ptr<Archivio> locale = Archivio::apriLocale(file, nullptr);
        const QDateTime ora = QDateTime::currentDateTimeUtc();
        for (const auto &[posto, inServizio, secondi] :
            {std::tuple{"B", false, 0}, std::tuple{"A", false, 1}, std::tuple{"B", true, 2}}) {
            QVERIFY(locale->registraServizio({QString(), QStringLiteral("stazione1"),
                QStringLiteral("quattro.banco"), QString::fromLatin1(posto), inServizio,
                QStringLiteral("mario"), ora.addSecs(secondi), QStringLiteral("contatto consumato")}));
        }
        QCOMPARE(locale->postiFuoriServizio(QStringLiteral("stazione1"), QStringLiteral("quattro.banco")),
            QSet<QString>{QStringLiteral("A")});
    }
    const auto invia = [&] {
        const auto server = Destinazione::leggiUrl(
            QStringLiteral("postgresql://stazione1@/nuovo?host=%1").arg(m_server.cartella()), nullptr);
        Inoltro inoltro(file, *server);
        QSignalSpy stati(&inoltro, &Inoltro::statoCambiato);
        inoltro.inviaOra();
        inoltro.attendi(30000);
        return stati.isEmpty() ? StatoInoltro() : stati.last().at(0).value<StatoInoltro>();
    };
    QVERIFY(invia().errore.isEmpty());
    QCOMPARE(valore(QStringLiteral("nuovo"),
                 QStringLiteral("SELECT string_agg(posto || ':' || in_servizio || ':' || operatore, "
                                "',' ORDER BY quando) FROM servizio_posti")),
        QStringLiteral("B:false:mario,A:false:mario,B:true:mario"));

    std::unique_ptr<Archivio>(Archivio::apriLocale(file, nullptr))
        ->registraServizio({QString(), QStringLiteral("stazione2"), QStringLiteral("quattro.banco"),
            QStringLiteral("C"), false, QStringLiteral("mario"), QDateTime::currentDateTimeUtc(), {}});
    const QString rifiuto = invia().errore;
    QVERIFY2(rifiuto.contains(QStringLiteral("a nome di «stazione2»")), qPrintable(rifiuto));
    QCOMPARE(std::unique_ptr<Archivio>(Archivio::apriLocale(file, nullptr))
                 ->servizi({}, {}, true)
                 ->size(),
        1);
}

QTEST_GUILESS_MAIN(TestServer)
#include "test_server.moc"
