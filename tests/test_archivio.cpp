// The archive against real databases: the station's SQLite file and a PostgreSQL server of the
// test's own, with banco-richiesta and the virtual instrument as processes of their own.

#include "archivio.h"
#include "destinazione.h"
#include "filo_del_server.h"
#include "inoltro.h"
#include "lettore_storico.h"
#include "modello_storico.h"
#include "processo.h"
#include "server_postgres.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString kUnitaOstile = QStringLiteral("SN-1'; DROP TABLE prove; --\"ü");
const QString kOperatoreOstile = QStringLiteral("O'Brien; \"Robert'); --");

// Two rows the virtual instrument answers within their limits.
const QByteArray kRighe = R"({"nome": "Temperatura", "strumento": 0, "memoria": "0008",
    "decimali": 1, "unita": "°C", "minimo": 20, "massimo": 120},
    {"nome": "Codice", "strumento": 0, "memoria": "0034", "tipo": "esadecimale"})";

struct Esito
{
    int uscita = -1;
    QStringList righe;
    QString errori;
};

} // namespace

class TestArchivio : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void indirizzoDelServer_data();
    void indirizzoDelServer();
    void provaRiletta_data();
    void provaRiletta();
    void dueStazioniSulloStessoServer();
    void serverFermatoDuranteIlBanco();
    void guastiDellaStazione_data();
    void guastiDellaStazione();
    void storicoAPagine_data();
    void storicoAPagine();
    void storicoConServerBloccato();
    void storicoConAccessoRifiutato();

private:
    QString banco(const QByteArray &righe, const QString &porta);
    Esito richiesta(const QStringList &argomenti, const QString &dati);
    QProcess *avviaRichiesta(const QStringList &argomenti, const QString &dati);
    qint64 proveSulServer()
    {
        return m_server.interroga("SELECT count(*) FROM prove").toLongLong();
    }

    QTemporaryDir m_cartella;
    ServerPostgres m_server;
};

void TestArchivio::initTestCase()
{
    QVERIFY(m_cartella.isValid());
    QString motivo;
    QVERIFY2(m_server.avvia(&motivo), qPrintable(motivo));
}

QString TestArchivio::banco(const QByteArray &righe, const QString &porta)
{
    const QString file = m_cartella.filePath(QStringLiteral("prova.banco"));
    QFile f(file);
    f.open(QIODevice::WriteOnly);
    f.write(R"({"formato": "banco-seriale", "versione": 1, "linea": {"porta": ")" + porta.toUtf8()
        + R"("}, "righe": [)" + righe + "]}");
    return file;
}

QProcess *TestArchivio::avviaRichiesta(const QStringList &argomenti, const QString &dati)
{
    auto *p = new QProcess(this);
    QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
    ambiente.insert(QStringLiteral("XDG_DATA_HOME"), dati);
    ambiente.remove(QStringLiteral("BANCO_ARCHIVIO"));
    p->setProcessEnvironment(ambiente);
    p->start(QStringLiteral(BANCO_RICHIESTA), argomenti);
    return p;
}

Esito TestArchivio::richiesta(const QStringList &argomenti, const QString &dati)
{
    std::unique_ptr<QProcess> p(avviaRichiesta(argomenti, dati));
    Esito e;
    if (!p->waitForFinished(60000))
        return e;
    e.uscita = p->exitCode();
    e.righe = QString::fromUtf8(p->readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    e.errori = QString::fromUtf8(p->readAllStandardError());
    return e;
}

void TestArchivio::indirizzoDelServer_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("atteso"); // host|porta|database|utente|opzioni, or the refusal

    QTest::newRow("utente, server, porta e ssl")
        << "postgresql://linea@db.fabbrica:5433/banco?sslmode=require"
        << "db.fabbrica|5433|banco|linea|sslmode=require";
    QTest::newRow("socket locale") << "postgresql:///banco?host=/run/postgresql"
                                   << "/run/postgresql|-1|banco||";
    QTest::newRow("socket scritto nel server, codificato") << "postgres://%2Ftmp%2Fs/banco"
                                                           << "/tmp/s|-1|banco||";
    QTest::newRow("IPv6 e servizio") << "postgresql://[::1]:5432/banco?service=linea2"
                                     << "::1|5432|banco||service=linea2";
    QTest::newRow("password nell'utente: rifiutata") << "postgresql://linea:segreta@db/banco"
                                                     << "rifiuto:contiene una password";
    QTest::newRow("password fra i parametri: rifiutata") << "postgresql://db/banco?password=x"
                                                         << "rifiuto:password=";
    QTest::newRow("sslmode sconosciuto") << "postgresql://db/banco?sslmode=sempre"
                                         << "rifiuto:sslmode=sempre";
    QTest::newRow("parametro che il driver non passa intero")
        << "postgresql://db/banco?application_name=a%20b"
        << "rifiuto:spazi";
    QTest::newRow("parametro sconosciuto") << "postgresql://db/banco?colore=blu"
                                           << "rifiuto:«colore»";
    QTest::newRow("porta fuori misura") << "postgresql://db:70000/banco"
                                        << "rifiuto:porta";
    QTest::newRow("due server") << "postgresql://a,b/banco"
                                << "rifiuto:un server solo";
}

// A URL in libpq's form becomes the driver's settings; one with a password is refused, also by
// banco-richiesta, before anything is read.
void TestArchivio::indirizzoDelServer()
{
    QFETCH(QString, url);
    QFETCH(QString, atteso);
    QString motivo;
    const auto server = Destinazione::leggiUrl(url, &motivo);
    if (atteso.startsWith(u"rifiuto:")) {
        QVERIFY(!server);
        QVERIFY2(motivo.contains(atteso.mid(8)), qPrintable(motivo));
        if (atteso.contains(u"password")) {
            const Esito e = richiesta({"--storico", "--archivio", url}, m_cartella.path());
            QCOMPARE(e.uscita, 2);
            QVERIFY2(e.errori.contains(u"password") && !e.errori.contains(u"segreta"),
                qPrintable(e.errori));
        }
        return;
    }
    QVERIFY2(server, qPrintable(motivo));
    QCOMPARE(QStringList({server->host, QString::number(server->porta), server->database,
                             server->utente, server->opzioni.join(u';')})
                 .join(u'|'),
        atteso);
}

void TestArchivio::provaRiletta_data()
{
    QTest::addColumn<bool>("server");
    QTest::newRow("il file della stazione") << false;
    QTest::newRow("il server della linea, dopo l'invio") << true;
}

// Runs recorded as typed (quotes, semicolons and SQL in the serial number and the operator), read
// back, and counted: a Cpk against the row's limits, first-pass and final yield over units. On the
// server, after the sending, and a second sending of the same runs doubles nothing.
void TestArchivio::provaRiletta()
{
    QFETCH(bool, server);
    QTemporaryDir dati;
    const QString file = dati.filePath(QStringLiteral("stazione.sqlite"));
    std::unique_ptr<Archivio> locale = Archivio::apriLocale(file, nullptr);
    QVERIFY(locale);
    // Unit A fails, then passes; unit B passes at once. The values of T: 10, 12, 14.
    const QList<std::tuple<QString, QString, double>> prove{{kUnitaOstile, Esiti::kNonConforme, 10},
        {kUnitaOstile, Esiti::kConforme, 12}, {QStringLiteral("B"), Esiti::kConforme, 14}};
    for (const auto &[unita, esito, valore] : prove) {
        ProvaArchiviata p;
        p.unita = unita;
        p.operatore = kOperatoreOstile;
        p.stazione = QStringLiteral("S1");
        p.banco = QStringLiteral("linea.banco");
        QVERIFY2(locale->iniziaProva(p), qPrintable(locale->errore()));
        LetturaArchiviata l;
        l.nome = QStringLiteral("T");
        l.memoria = QStringLiteral("0008");
        l.valore = valore;
        l.minimo = 0;
        l.massimo = 30;
        l.stato = esito == Esiti::kConforme ? QStringLiteral("entro i limiti")
                                            : QStringLiteral("fuori dai limiti");
        if (esito != Esiti::kConforme)
            l.giudizio = LetturaArchiviata::Giudizio::FuoriDaiLimiti;
        l.istante = QDateTime::currentDateTimeUtc();
        QVERIFY(locale->registraLettura(p.uuid, l));
        QVERIFY(locale->finisciProva(p.uuid, esito));
    }
    QCOMPARE(locale->inAttesa(), 3);

    std::unique_ptr<Archivio> archivio;
    if (server) {
        QString motivo;
        const auto destinazione = Destinazione::leggiUrl(m_server.url(), &motivo);
        QVERIFY2(destinazione, qPrintable(motivo));
        const QList<ProvaCompleta> tutte = locale->daInviare(10);
        archivio = Archivio::apriServer(*destinazione, &motivo);
        QVERIFY2(archivio, qPrintable(motivo));
        const qint64 prima = proveSulServer();
        Inoltro inoltro(file, *destinazione);
        QSignalSpy inviate(&inoltro, &Inoltro::inviate);
        inoltro.inviaOra();
        QVERIFY(inoltro.attendi(30000));
        QCOMPARE(inviate.last().at(0).toLongLong(), 3);
        QCOMPARE(inviate.last().at(1).toLongLong(), 0);
        QVERIFY(archivio->ricevi(tutte)); // as a send whose acknowledgement was lost
        QCOMPARE(proveSulServer(), prima + 3);
    } else {
        archivio = std::move(locale);
    }

    FiltroProve filtro;
    filtro.stazione = QStringLiteral("S1");
    filtro.unita = kUnitaOstile;
    QStringList lette;
    QVERIFY(archivio->perOgniProva(filtro, 0, [&](const ProvaArchiviata &p) {
        lette << QStringLiteral("%1 %2 %3 %4")
                     .arg(p.unita, p.operatore)
                     .arg(p.tentativo)
                     .arg(p.esito);
    }));
    QCOMPARE(lette,
        QStringList({kUnitaOstile + u' ' + kOperatoreOstile + QStringLiteral(" 2 conforme"),
            kUnitaOstile + u' ' + kOperatoreOstile + QStringLiteral(" 1 non conforme")}));

    filtro.unita.clear();
    const auto statistiche = archivio->statistiche(filtro);
    QVERIFY(statistiche && statistiche->size() == 1);
    const StatisticaRiga &s = statistiche->first();
    QCOMPARE(s.letture, 3);
    QCOMPARE(*s.media, 12.0);
    QCOMPARE(*s.deviazione, 2.0);
    QCOMPARE(*s.cpk, 2.0); // min(30 - 12, 12 - 0) / (3 × 2)
    QCOMPARE(s.fuoriDaiLimiti, 1);
    const auto rese = archivio->rese(filtro);
    QVERIFY(rese && rese->size() == 1);
    QCOMPARE(rese->first().unita, 2);
    QCOMPARE(rese->first().conformiAlPrimo, 1);
    QCOMPARE(rese->first().conformiAllUltimo, 2);
}

// Two stations read their benches at once and send to one server: every run there, none doubled.
void TestArchivio::dueStazioniSulloStessoServer()
{
    const qint64 prima = proveSulServer();
    QList<QProcess *> processi;
    std::vector<std::unique_ptr<StrumentoInProva>> strumenti;
    for (int stazione = 0; stazione < 2; ++stazione) {
        const QString porta = m_cartella.filePath(QStringLiteral("porta-s%1").arg(stazione));
        strumenti.push_back(std::make_unique<StrumentoInProva>());
        QVERIFY(strumenti.back()->avvia(porta, {}));
        const QString file = m_cartella.filePath(QStringLiteral("s%1.banco").arg(stazione));
        QFile::copy(banco(kRighe, porta), file);
        processi << avviaRichiesta({"--banco", file, "--unita", QStringLiteral("U%1").arg(stazione),
                                       "--ripeti", "5", "--archivio", m_server.url(), "--stazione",
                                       QStringLiteral("stazione-%1").arg(stazione)},
            m_cartella.filePath(QStringLiteral("dati-s%1").arg(stazione)));
    }
    for (QProcess *p : processi) {
        QVERIFY(p->waitForFinished(60000));
        QCOMPARE(p->exitCode(), 0);
        QVERIFY2(p->readAllStandardError().contains("0 in attesa"), "a run left waiting");
    }
    QCOMPARE(proveSulServer(), prima + 10);
    QCOMPARE(m_server.interroga("SELECT count(DISTINCT uuid) FROM prove"),
        m_server.interroga("SELECT count(*) FROM prove"));
    QCOMPARE(m_server.interroga("SELECT count(*) FROM letture l JOIN prove p ON p.id = l.prova "
                                "WHERE p.stazione LIKE 'stazione-_'"),
        QStringLiteral("20"));
}

// A continuous bench whose server stops in the middle and comes back: the runs made meanwhile wait
// in the station's file and go when it answers again; in the end each is on the server once.
void TestArchivio::serverFermatoDuranteIlBanco()
{
    const QString porta = m_cartella.filePath(QStringLiteral("porta-c"));
    StrumentoInProva strumento;
    QVERIFY(strumento.avvia(porta, {}));
    const QString dati = m_cartella.filePath(QStringLiteral("dati-c"));
    std::unique_ptr<QProcess> p(
        avviaRichiesta({"--banco", banco(kRighe, porta), "--unita", "CONTINUA", "--ripeti", "0",
                           "--intervallo", "100", "--archivio", m_server.url()},
            dati));
    const auto sulServer = [&] {
        return m_server.interroga("SELECT count(*) FROM prove WHERE unita = 'CONTINUA'").toInt();
    };
    QTRY_VERIFY_WITH_TIMEOUT(sulServer() >= 1, 30000);
    QVERIFY(m_server.ferma());
    qint64 righe = 0;
    while (righe < 10 && p->waitForReadyRead(10000))
        righe += p->readAllStandardOutput().count('\n');
    QString motivo;
    QVERIFY2(m_server.riavvia(&motivo), qPrintable(motivo));
    const int dopo = sulServer();
    QTRY_VERIFY_WITH_TIMEOUT(sulServer() > dopo, 30000);
    ::kill(pid_t(p->processId()), SIGINT);
    QVERIFY(p->waitForFinished(60000));
    QCOMPARE(richiesta({"--invia", "--archivio", m_server.url()}, dati).uscita, 0);
    const Esito storico = richiesta({"--storico", "--unita", "CONTINUA", "--formato", "csv",
                                        "--archivio", dati + "/banco-seriale/archivio.sqlite"},
        dati);
    QStringList uuid;
    for (const QString &riga : storico.righe.mid(1))
        uuid << riga.section(u',', 0, 0);
    QVERIFY(uuid.size() >= 3);
    QCOMPARE(m_server.interroga("SELECT count(*) FROM prove WHERE unita = 'CONTINUA'").toInt(),
        uuid.size());
    QCOMPARE(m_server.interroga("SELECT count(DISTINCT uuid) FROM prove WHERE unita = 'CONTINUA'")
                 .toInt(),
        uuid.size());
}

void TestArchivio::guastiDellaStazione_data()
{
    QTest::addColumn<QString>("guasto");
    QTest::newRow("ucciso con SIGKILL a metà prova: la prova è interrotta, le letture restano")
        << "uccisione";
    QTest::newRow("disco pieno: le letture stampate, uscita 5") << "disco pieno";
}

void TestArchivio::guastiDellaStazione()
{
    QFETCH(QString, guasto);
    const QString porta = m_cartella.filePath(QStringLiteral("porta-g"));
    StrumentoInProva strumento;
    QVERIFY(strumento.avvia(porta, {}));
    QTemporaryDir dati;
    if (guasto == u"uccisione") {
        // The third row's instrument is away: its wait leaves time to kill the program.
        const QString file
            = banco(kRighe + R"(, {"nome": "Assente", "strumento": 9, "memoria": "0008"})", porta);
        std::unique_ptr<QProcess> p(
            avviaRichiesta({"--banco", file, "--unita", "K1"}, dati.path()));
        QByteArray uscita;
        while (uscita.count('\n') < 2 && p->waitForReadyRead(10000))
            uscita += p->readAllStandardOutput();
        QCOMPARE(uscita.count('\n'), 2);
        ::kill(pid_t(p->processId()), SIGKILL);
        QVERIFY(p->waitForFinished(10000));
        const Esito e = richiesta({"--storico", "--letture", "--formato", "json"}, dati.path());
        QCOMPARE(e.uscita, 0);
        QCOMPARE(e.righe.size(), 1);
        const QJsonObject prova = QJsonDocument::fromJson(e.righe.first().toUtf8()).object();
        QCOMPARE(prova.value("esito").toString(), Esiti::kInterrotta);
        QCOMPARE(prova.value("letture").toArray().size(), 2);
        return;
    }
    // A small file system of its own, in a mount namespace of the program's: filled after a
    // first run, so that the second cannot write its readings.
    const QString script = QStringLiteral(
        "set -e; mount -t tmpfs -o size=512k tmpfs \"$1\"; shift; export XDG_DATA_HOME=\"$1\"; "
        "shift; "
        "\"$@\" >/dev/null 2>&1; dd if=/dev/zero of=\"$XDG_DATA_HOME/pieno\" bs=4k 2>/dev/null || "
        "true; exec \"$@\"");
    QProcess p;
    const QStringList spazio = ::geteuid() == 0
        ? QStringList{"--mount", "--propagation", "private"}
        : QStringList{"--map-root-user", "--mount", "--propagation", "private"};
    p.start("unshare",
        spazio
            + QStringList{"sh", "-c", script, "sh", dati.path(), dati.path(), BANCO_RICHIESTA,
                "--banco", banco(kRighe, porta), "--unita", "D1"});
    QVERIFY(p.waitForFinished(60000));
    const QString errori = QString::fromUtf8(p.readAllStandardError());
    if (errori.contains(u"unshare") || errori.contains(u"mount:"))
        QSKIP(qPrintable("no mount namespace here: " + errori));
    QCOMPARE(p.exitCode(), 5);
    QCOMPARE(p.readAllStandardOutput().count('\n'), 2);
    QVERIFY2(errori.contains(u"non registrate") || errori.contains(u"non si"), qPrintable(errori));
}

QTEST_GUILESS_MAIN(TestArchivio)

void TestArchivio::storicoAPagine_data()
{
    QTest::addColumn<bool>("serverFermo");
    QTest::newRow("file della stazione") << false;
    QTest::newRow("server fermo: il file della stazione, detto") << true;
}

// The history reads the runs a page at a time, newest first, each once; a filter changed before
// the last answer came shows only its own runs.
void TestArchivio::storicoAPagine()
{
    QFETCH(bool, serverFermo);
    QTemporaryDir cartella;
    Destinazione::Scelta dove{cartella.filePath("archivio.sqlite"), std::nullopt};
    {
        std::unique_ptr<Archivio> archivio = Archivio::apriLocale(dove.file, nullptr);
        QSqlDatabase db = archivio->database();
        db.transaction();
        for (int i = 0; i < 2 * ModelloStorico::kPagina + 50; ++i) {
            ProvaArchiviata p;
            p.unita = QStringLiteral("U%1").arg(i % 3);
            p.inizio = QDateTime::currentDateTime().addSecs(-i);
            QVERIFY(archivio->iniziaProva(p));
            QVERIFY(archivio->finisciProva(p.uuid, Esiti::kConforme));
        }
        QVERIFY(db.commit());
    }
    if (serverFermo)
        dove.server = Destinazione::leggiUrl(
            QStringLiteral("postgresql://stazione@127.0.0.1:1/banco"), nullptr);
    LettoreStorico lettore(dove);
    QSignalSpy aperto(&lettore, &LettoreStorico::aperto);
    ModelloStorico modello(lettore);
    QSignalSpy caricate(&modello, &ModelloStorico::caricate);
    modello.imposta({});
    QTRY_COMPARE(caricate.size(), 1);
    QCOMPARE(modello.rowCount(), ModelloStorico::kPagina);
    QVERIFY(!aperto.isEmpty());
    QCOMPARE(aperto.at(0).at(1).toString().contains(QStringLiteral("non risponde")), serverFermo);
    for (int i = 0; i < 5 && modello.canFetchMore({}); ++i) {
        const qsizetype pagine = caricate.size();
        modello.fetchMore({});
        QTRY_COMPARE(caricate.size(), pagine + 1);
    }
    QCOMPARE(modello.rowCount(), 2 * ModelloStorico::kPagina + 50);
    QSet<QString> viste;
    for (int i = 0; i < modello.rowCount(); ++i) {
        viste.insert(modello.prova(i).uuid);
        QVERIFY(i == 0 || modello.prova(i).inizio <= modello.prova(i - 1).inizio);
    }
    QCOMPARE(viste.size(), modello.rowCount());

    FiltroProve u1;
    u1.unita = QStringLiteral("U1");
    FiltroProve u2 = u1;
    u2.unita = QStringLiteral("U2");
    modello.imposta(u1);
    modello.imposta(u2);
    QTRY_COMPARE(modello.totale().value_or(-1), 150);
    QTRY_COMPARE(modello.rowCount(), 150);
    for (int i = 0; i < modello.rowCount(); ++i)
        QCOMPARE(modello.prova(i).unita, QStringLiteral("U2"));
}

// A server that stops answering holds the history's reader in a query: closing the history does
// not wait for it, and the answer, when it comes, goes nowhere.
void TestArchivio::storicoConServerBloccato()
{
    ServerPostgres server;
    QString motivo;
    QVERIFY2(server.avvia(&motivo), qPrintable(motivo));
    QTemporaryDir cartella;
    const Destinazione::Scelta dove{
        cartella.filePath("archivio.sqlite"), Destinazione::leggiUrl(server.url(), nullptr)};
    auto lettore = std::make_unique<LettoreStorico>(dove);
    QSignalSpy aperto(lettore.get(), &LettoreStorico::aperto);
    QTRY_COMPARE(aperto.size(), 1);
    QCOMPARE(aperto.at(0).at(1).toString(), QString());
    const int processo
        = server.interroga("SELECT pid FROM pg_stat_activity WHERE usename = 'stazione'").toInt();
    QVERIFY(processo > 0);
    QCOMPARE(::kill(processo, SIGSTOP), 0);
    bool risposto = false;
    lettore->chiedi<qint64>([](Archivio &a) { return a.conta({}); },
        [&risposto](const std::optional<qint64> &, const QString &) { risposto = true; });
    QTest::qWait(300); // the question reaches the stopped server
    lettore.reset();
    QCOMPARE(::kill(processo, SIGCONT), 0);
    QTRY_VERIFY(!FiloDelServer::qualcunoSospeso());
    QCoreApplication::processEvents();
    QVERIFY(!risposto);
}

// A server that answers and refuses the user is told as a refused login, with what to check, not
// as a server that does not answer; the station's file is read meanwhile.
void TestArchivio::storicoConAccessoRifiutato()
{
    ServerPostgres server;
    QString motivo;
    QVERIFY2(server.avvia(&motivo), qPrintable(motivo));
    QTemporaryDir cartella;
    const QString url
        = server.url().replace(QStringLiteral("stazione@"), QStringLiteral("nessuno@"));
    LettoreStorico lettore(Destinazione::Scelta{
        cartella.filePath("archivio.sqlite"), Destinazione::leggiUrl(url, nullptr)});
    QSignalSpy aperto(&lettore, &LettoreStorico::aperto);
    QTRY_COMPARE(aperto.size(), 1);
    const QString avviso = aperto.at(0).at(1).toString();
    QVERIFY2(avviso.startsWith(QStringLiteral("Accesso rifiutato")) && avviso.contains(u"~/.pgpass")
            && !avviso.contains(QStringLiteral("non risponde")),
        qPrintable(avviso));
    QVERIFY(avviso.contains(QStringLiteral("Si legge il file della stazione")));
    QVERIFY(!aperto.at(0).at(0).toString().isEmpty());
}

#include "test_archivio.moc"
