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
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QSysInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kUnitaOstile = QStringLiteral("SN-1'; DROP TABLE prove; --\"ü%1\x1b");
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
    QString testo; // the standard output whole, blank lines and all
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
    void testiRifiutatiAllIngresso_data();
    void testiRifiutatiAllIngresso();
    void provaRifiutataMessaDaParte_data();
    void provaRifiutataMessaDaParte();
    void primaAperturaInsieme();
    void serverCheNonRisponde();
    void scrittoreRiconosciuto_data();
    void scrittoreRiconosciuto();
    void formaCanonica();
    void controlloDellArchivio_data();
    void controlloDellArchivio();
    void storicoAPagine_data();
    void storicoAPagine();
    void postiDellAttrezzatura_data();
    void postiDellAttrezzatura();
    void limitiFissatiDelleCarte();
    void storicoConServerBloccato();
    void storicoConAccessoRifiutato();
    void limitiFissatiDaiValoriDelServer();

private:
    QString banco(const QByteArray &righe, const QString &porta, const QByteArray &prima = {});
    Esito richiesta(const QStringList &argomenti, const QString &dati);
    QProcess *avviaRichiesta(const QStringList &argomenti, const QString &dati);
    QString archivioConPosti();
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

QString TestArchivio::banco(const QByteArray &righe, const QString &porta, const QByteArray &prima)
{
    const QString file = m_cartella.filePath(QStringLiteral("prova.banco"));
    QFile f(file);
    f.open(QIODevice::WriteOnly);
    f.write(R"({"formato": "banco-seriale", "versione": 1, "linea": {"porta": ")" + porta.toUtf8()
        + R"("}, )" + prima + R"("righe": [)" + righe + "]}");
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
    e.testo = QString::fromUtf8(p->readAllStandardOutput());
    e.righe = e.testo.split(u'\n', Qt::SkipEmptyParts);
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
    QTest::newRow("porta sbagliata prima della password fra i parametri")
        << "postgresql://db:70000/banco?password=segreta"
        << "rifiuto:porta";
    QTest::newRow("parametro sconosciuto prima della password")
        << "postgresql://linea@db/banco?colore=blu&password=segreta"
        << "rifiuto:«colore»";
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
        QVERIFY2(!motivo.contains(u"segreta"), qPrintable(motivo));
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
// back, and counted: Cpk and Ppk against the row's limits, first-pass and final yield over units. On the
// server, after the sending, and a second sending of the same runs doubles nothing.
void TestArchivio::provaRiletta()
{
    QFETCH(bool, server);
    QTemporaryDir dati;
    const QString file = dati.filePath(QStringLiteral("stazione.sqlite"));
    std::unique_ptr<Archivio> locale = Archivio::apriLocale(file, nullptr);
    QVERIFY(locale);
    // Unit B's first round could not be carried out (its port went away): it judged nothing.
    // Then unit A fails, then passes; unit B passes. The values of T that count: 10, 12, 14.
    const QList<std::tuple<QString, QString, double>> prove{{QStringLiteral("B"), Esiti::kErrore, 1000},
        {kUnitaOstile, Esiti::kNonConforme, 10}, {kUnitaOstile, Esiti::kConforme, 12},
        {QStringLiteral("B"), Esiti::kConforme, 14}};
    for (const auto &[unita, esito, valore] : prove) {
        ProvaArchiviata p;
        p.unita = unita;
        p.operatore = kOperatoreOstile;
        p.stazione = QStringLiteral("S1");
        p.posto = QStringLiteral("B");
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
        if (esito == Esiti::kNonConforme)
            l.giudizio = LetturaArchiviata::Giudizio::FuoriDaiLimiti;
        if (esito == Esiti::kErrore)
            l.giudizio = LetturaArchiviata::Giudizio::Errore;
        l.istante = QDateTime::currentDateTimeUtc();
        QVERIFY(locale->registraLettura(p.uuid, l));
        QVERIFY(locale->finisciProva(p.uuid, esito));
        if (esito == Esiti::kConforme && unita == u"B") {
            StampaEtichetta etichetta;
            etichetta.prova = p.uuid;
            etichetta.stazione = p.stazione;
            etichetta.stampante = QStringLiteral("127.0.0.1:9100");
            etichetta.riuscita = true;
            etichetta.zpl = "^XA^FDB^FS^XZ";
            QVERIFY2(locale->registraStampa(etichetta), qPrintable(locale->errore()));
        }
    }
    QCOMPARE(locale->inAttesa(), 4);
    // A label printed stays as it was sent.
    QSqlQuery cambia(locale->database());
    QVERIFY(!cambia.exec(QStringLiteral("UPDATE stampe SET zpl = 'altro'")));
    QVERIFY(!cambia.exec(QStringLiteral("DELETE FROM stampe")));

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
        QCOMPARE(inviate.last().at(0).toLongLong(), 4);
        QCOMPARE(inviate.last().at(1).toLongLong(), 0);
        QVERIFY(archivio->ricevi(tutte)); // as a send whose acknowledgement was lost
        QCOMPARE(proveSulServer(), prima + 4);
    } else {
        // Printed as typed, but for the control character, escaped.
        const Esito e = richiesta({"--storico", "--archivio", file}, dati.path());
        QCOMPARE(e.uscita, 0);
        QVERIFY2(e.righe.join(u'\n').contains(QStringLiteral("unità SN-1'; DROP TABLE prove; "
                                                             "--\"ü%1\\x1b; tentativo 2")),
            qPrintable(e.righe.join(u'\n')));
        archivio = std::move(locale);
    }

    FiltroProve filtro;
    filtro.stazione = QStringLiteral("S1");
    filtro.unita = kUnitaOstile;
    QStringList lette;
    QVERIFY(archivio->perOgniProva(filtro, 0, [&](const ProvaArchiviata &p) {
        lette << p.unita + u' ' + p.operatore + u' ' + QString::number(p.tentativo) + u' ' + p.esito
                + u' ' + p.posto;
    }));
    QCOMPARE(lette,
        QStringList({kUnitaOstile + u' ' + kOperatoreOstile + QStringLiteral(" 2 conforme B"),
            kUnitaOstile + u' ' + kOperatoreOstile + QStringLiteral(" 1 non conforme B")}));
    // Each copy of a run gives back the digest stored with its end: its canonical form comes
    // through the server's types (uuid, timestamptz, double precision) and the hostile texts.
    filtro.unita.clear();
    QStringList uuid;
    QVERIFY(archivio->perOgniProva(filtro, 0, [&](const ProvaArchiviata &p) { uuid << p.uuid; }));
    QCOMPARE(uuid.size(), 4);
    int etichette = 0;
    for (const QString &u : std::as_const(uuid)) {
        const std::optional<ProvaCompleta> copia = archivio->provaCompleta(u);
        QVERIFY(copia && copia->prova.impronta.size() == 64);
        QCOMPARE(improntaDellaProva(*copia), copia->prova.impronta);
        etichette += int(archivio->stampe(u)->size());
    }
    QCOMPARE(etichette, 1);

    filtro.unita.clear();
    const auto statistiche = archivio->statistiche(filtro);
    QVERIFY(statistiche && statistiche->size() == 1);
    const StatisticaRiga &s = statistiche->first();
    QCOMPARE(s.letture, 3);
    QCOMPARE(s.memoria, QStringLiteral("0008"));
    QCOMPARE(*s.media, 12.0);
    QCOMPARE(*s.deviazione, 2.0);
    // Ppk from s: min(30 - 12, 12 - 0) / (3 × 2); Cpk from σ̂ = MR̄ / 1.128 = 2 / 1.128.
    QCOMPARE(*s.ppk, 2.0);
    QCOMPARE(*s.cpk, 12 * 1.128 / 6);
    QCOMPARE(s.fuoriDaiLimiti, 1);
    const auto rese = archivio->rese(filtro);
    QVERIFY(rese && rese->size() == 1);
    QCOMPARE(rese->first().unita, 2);
    QCOMPARE(rese->first().conformiAlPrimo, 1);
    QCOMPARE(rese->first().conformiAllUltimo, 2);
    QCOMPARE(rese->first().daRipetere, 1);
    // The row's part, the same from one pass for statistics and yields: the units' first
    // judged runs read T twice and passed it once (B's), and one judged run failed it.
    const auto cifre = archivio->statisticheERese(filtro);
    QVERIFY(cifre && cifre->rese.size() == 1 && cifre->rese.first().righe.size() == 1);
    const ResaRiga &t = cifre->rese.first().righe.first();
    QCOMPARE(std::tuple(t.nome, t.unita, t.conformiAlPrimo, t.fallite),
        std::tuple(QStringLiteral("T"), 2, 1, 1));
    QCOMPARE(archivio->rese(filtro, true)->first().righe.first().conformiAlPrimo, 1);
    if (server) {
        // The server's copy verified from the command line, then changed behind the stations.
        const QStringList verifica{"--verifica", uuid.first(), "--archivio", m_server.url()};
        QCOMPARE(richiesta(verifica, dati.path()).uscita, 0);
        m_server.interroga(QStringLiteral("UPDATE letture SET valore = valore + 1 WHERE prova = "
                                          "(SELECT id FROM prove WHERE uuid = '%1')")
                               .arg(uuid.first()));
        const Esito cambiata = richiesta(verifica, dati.path());
        QCOMPARE(cambiata.uscita, 8);
        QVERIFY2(cambiata.righe.join(u'\n').contains(QStringLiteral("server: ")),
            qPrintable(cambiata.righe.join(u'\n')));
    }
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
    QTest::newRow("Ctrl+C a metà prova: la prova è interrotta, uscita 6") << "Ctrl+C";
}

void TestArchivio::guastiDellaStazione()
{
    QFETCH(QString, guasto);
    const QString porta = m_cartella.filePath(QStringLiteral("porta-g"));
    StrumentoInProva strumento;
    QVERIFY(strumento.avvia(porta, {}));
    QTemporaryDir dati;
    if (guasto != u"disco pieno") {
        // The third row's instrument is away: its wait leaves time to kill the program.
        // Ctrl+C lets the request in flight end, and stops the round well before its tenth row.
        const QString file = guasto == u"uccisione"
            ? banco(kRighe + R"(, {"nome": "Assente", "strumento": 9, "memoria": "0008"})", porta)
            : banco(QByteArray(kRighe + ", ").repeated(4) + kRighe, porta);
        std::unique_ptr<QProcess> p(
            avviaRichiesta({"--banco", file, "--unita", "K1"}, dati.path()));
        QByteArray uscita;
        const int attese = guasto == u"uccisione" ? 2 : 1;
        while (uscita.count('\n') < attese && p->waitForReadyRead(10000))
            uscita += p->readAllStandardOutput();
        QCOMPARE(uscita.count('\n'), attese);
        ::kill(pid_t(p->processId()), guasto == u"uccisione" ? SIGKILL : SIGINT);
        QVERIFY(p->waitForFinished(10000));
        if (guasto == u"Ctrl+C")
            QCOMPARE(p->exitCode(), 6);
        const Esito e = richiesta({"--storico", "--letture", "--formato", "json"}, dati.path());
        QCOMPARE(e.uscita, 0);
        QCOMPARE(e.righe.size(), 1);
        const QJsonObject prova = QJsonDocument::fromJson(e.righe.first().toUtf8()).object();
        QCOMPARE(prova.value("esito").toString(), Esiti::kInterrotta);
        const qsizetype lette = prova.value("letture").toArray().size();
        QVERIFY(guasto == u"uccisione" ? lette == 2 : lette < 10);
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
    QVERIFY2(errori.contains(u"non") && errori.contains(u"pieno"), qPrintable(errori));
}

void TestArchivio::testiRifiutatiAllIngresso_data()
{
    QTest::addColumn<QStringList>("argomenti");
    QTest::addColumn<QString>("motivo");
    QTest::addColumn<int>("uscita");
    QTest::newRow("numero di serie di 3 kB")
        << QStringList{"--unita", QString(3000, u'7')} << "al massimo 64" << 2;
    QTest::newRow("operatore con un a capo")
        << QStringList{"--unita", "SN-1", "--operatore", "Anna\nRossi"} << "\\n" << 2;
    QTest::newRow("stazione con un escape")
        << QStringList{"--unita", "SN-1", "--stazione", "linea\x1b[2J"} << "\\x1b" << 2;
    QTest::newRow("il codice a barre di un'altra cosa")
        << QStringList{"--unita", "4006381333931"} << "non è un numero di serie di questo banco"
        << 9;
}

// Refused before the line is opened: nothing sent, printed or recorded, the limit named.
void TestArchivio::testiRifiutatiAllIngresso()
{
    QFETCH(QStringList, argomenti);
    QFETCH(QString, motivo);
    QFETCH(int, uscita);
    QTemporaryDir dati;
    const QString file = banco(
        kRighe, m_cartella.filePath("nessuna-porta"), R"("modello_unita": "^SN-[0-9]+$", )");
    const Esito e = richiesta(QStringList{"--banco", file} + argomenti, dati.path());
    QCOMPARE(e.uscita, uscita);
    QVERIFY2(e.errori.contains(motivo) && e.righe.isEmpty(), qPrintable(e.errori));
    QVERIFY(!QFile::exists(dati.filePath("banco-seriale/archivio.sqlite")));
}

namespace {

void registra(Archivio &archivio, const QString &unita, const QString &esito,
    const QString &stazione = QStringLiteral("stazione"))
{
    ProvaArchiviata p;
    p.unita = unita;
    p.stazione = stazione;
    QVERIFY2(archivio.iniziaProva(p), qPrintable(archivio.errore()));
    QVERIFY(archivio.finisciProva(p.uuid, esito));
}

} // namespace

void TestArchivio::provaRifiutataMessaDaParte_data()
{
    QTest::addColumn<QString>("unita"); // of the run the server refuses
    QTest::addColumn<QString>("stazione");
    QTest::addColumn<QString>("motivo");
    QTest::addColumn<QString>("altre"); // the first letter of the other runs' serials
    QRandomGenerator casuale(7);
    QString enorme;
    for (int i = 0; i < 3000; ++i)
        enorme += QChar(char16_t(0x4e00 + casuale.bounded(0x5000)));
    QTest::newRow("numero di serie oltre l'indice") << enorme << "stazione" << "index" << "K";
    QTest::newRow("a nome di un'altra stazione")
        << "X1" << "altra-linea" << "non può scrivere prove a nome di «altra-linea»" << "Q";
}

// A run the server refuses is set aside with its reason; the runs beside and after it arrive,
// and --invia (--riprova) says so with status 7.
void TestArchivio::provaRifiutataMessaDaParte()
{
    QFETCH(QString, unita);
    QFETCH(QString, stazione);
    QFETCH(QString, motivo);
    QFETCH(QString, altre);
    QTemporaryDir dati;
    const QString file = dati.filePath("banco-seriale/archivio.sqlite");
    std::unique_ptr<Archivio> locale = Archivio::apriLocale(file, nullptr);
    for (const auto &[u, s] : {std::pair{altre + "1", QStringLiteral("stazione")},
             std::pair{unita, stazione}, std::pair{altre + "2", QStringLiteral("stazione")}})
        registra(*locale, u, Esiti::kConforme, s);
    Inoltro inoltro(file, *Destinazione::leggiUrl(m_server.url(), nullptr));
    QSignalSpy stati(&inoltro, &Inoltro::statoCambiato);
    for (const QString &dopo : {altre + "3", QString()}) {
        inoltro.inviaOra();
        QVERIFY(inoltro.attendi(30000));
        const auto stato = stati.last().at(0).value<StatoInoltro>();
        QCOMPARE(stato.messeDaParte, 1);
        QVERIFY2(stato.motivoScarto.contains(motivo), qPrintable(stato.motivoScarto));
        if (!dopo.isEmpty())
            registra(*locale, dopo, Esiti::kConforme);
    }
    QCOMPARE(m_server.interroga(QStringLiteral("SELECT string_agg(unita, ' ' ORDER BY id) FROM "
                                               "prove WHERE unita LIKE '%1_'")
                                    .arg(altre)),
        altre + "1 " + altre + "2 " + altre + "3");
    for (const QStringList &invio : {QStringList{"--invia"}, QStringList{"--invia", "--riprova"}}) {
        const Esito e = richiesta(invio + QStringList{"--archivio", m_server.url()}, dati.path());
        QCOMPARE(e.uscita, 7);
        QVERIFY2(e.errori.contains(motivo), qPrintable(e.errori));
    }
}

// Programs opening a new station file at once: each records its run, each with an attempt of its
// own; the file and its new folder are the user's alone.
void TestArchivio::primaAperturaInsieme()
{
    for (int giro = 0; giro < 10; ++giro) {
        QTemporaryDir dati;
        const QString file = dati.filePath(QStringLiteral("nuova/archivio.sqlite"));
        std::atomic<int> pronti{0};
        QList<int> tentativi(4, 0);
        std::vector<std::thread> fili;
        for (int &tentativo : tentativi) {
            fili.emplace_back([&] {
                for (++pronti; pronti.load() < 4;) { }
                ProvaArchiviata p;
                std::unique_ptr<Archivio> a = Archivio::apriLocale(file, nullptr);
                if (a && a->iniziaProva(p) && a->finisciProva(p.uuid, Esiti::kConforme))
                    tentativo = p.tentativo;
            });
        }
        for (std::thread &f : fili)
            f.join();
        std::sort(tentativi.begin(), tentativi.end());
        QCOMPARE(tentativi, QList<int>({1, 2, 3, 4}));
        QCOMPARE(QFile::permissions(file) & 0x0077, QFileDevice::Permissions());
        QCOMPARE(QFile::permissions(QFileInfo(file).path()) & 0x0077, QFileDevice::Permissions());
    }
}

// A server that accepts and never answers: the one-run command ends without it, its run waits.
void TestArchivio::serverCheNonRisponde()
{
    const int muto = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in indirizzo{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t lunghezza = sizeof indirizzo;
    QVERIFY(::bind(muto, reinterpret_cast<sockaddr *>(&indirizzo), lunghezza) == 0
        && ::listen(muto, 8) == 0
        && ::getsockname(muto, reinterpret_cast<sockaddr *>(&indirizzo), &lunghezza) == 0);
    const QString porta = m_cartella.filePath(QStringLiteral("porta-m"));
    StrumentoInProva strumento;
    QVERIFY(strumento.avvia(porta, {}));
    QTemporaryDir dati;
    const Esito e = richiesta({"--banco", banco(kRighe, porta), "--unita", "M1", "--archivio",
                                  QStringLiteral("postgresql://s@127.0.0.1:%1/b?connect_timeout=60")
                                      .arg(ntohs(indirizzo.sin_port))},
        dati.path());
    QCOMPARE(e.uscita, 0);
    QVERIFY2(e.errori.contains(u"entro mezzo secondo: 1 prova aspetta"), qPrintable(e.errori));
    // The sender had reached the stand-in and spoken to it.
    const int accettata = ::accept4(muto, nullptr, nullptr, SOCK_NONBLOCK);
    char niente = 0;
    QVERIFY(accettata >= 0 && ::recv(accettata, &niente, 1, 0) > 0);
    ::close(accettata);
    ::close(muto);
}

void TestArchivio::scrittoreRiconosciuto_data()
{
    QTest::addColumn<QString>("processo"); // %1 the host, %2 this PID; empty: as written
    QTest::addColumn<QString>("esito");
    QTest::newRow("questo processo") << "" << "";
    QTest::newRow("questo PID avviato un'altra volta (PID 1 di un contenitore)") << "%1:%2:1"
                                                                                  << "interrotta";
    QTest::newRow("questo processo, scritto come prima") << "%1:%2" << "";
}

// A run without an end is closed as interrotta at the next opening only if its writer is gone.
void TestArchivio::scrittoreRiconosciuto()
{
    QFETCH(QString, processo);
    QFETCH(QString, esito);
    QTemporaryDir dati;
    std::unique_ptr<Archivio> a = Archivio::apriLocale(dati.filePath("archivio.sqlite"), nullptr);
    ProvaArchiviata p;
    QVERIFY(a->iniziaProva(p));
    if (!processo.isEmpty()) {
        QSqlQuery(a->database())
            .exec(QStringLiteral("UPDATE prove SET processo = '%1'")
                      .arg(processo.arg(QSysInfo::machineHostName(),
                          QString::number(QCoreApplication::applicationPid()))));
    }
    a = Archivio::apriLocale(dati.filePath("archivio.sqlite"), nullptr);
    QVERIFY(a->perOgniProva({}, 0, [&](const ProvaArchiviata &p) { QCOMPARE(p.esito, esito); }));
    // Closed, it carries its digest as a run that ended does.
    const std::optional<ProvaCompleta> chiusa = a->provaCompleta(p.uuid);
    QVERIFY(chiusa);
    QCOMPARE(chiusa->prova.impronta,
        esito.isEmpty() ? QString() : improntaDellaProva(*chiusa));
}

// The canonical form a run's digest is computed over, as the README writes it down for anyone
// who computes it again: a change here is a new version of the form, never an edit of this one.
void TestArchivio::formaCanonica()
{
    ProvaCompleta c;
    ProvaArchiviata &p = c.prova;
    p.uuid = QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");
    p.stazione = QStringLiteral("linea\\3");
    p.operatore = QStringLiteral("Anna\nRossi\x01");
    p.unita = QStringLiteral("SN-è");
    p.tentativo = 2;
    p.banco = QStringLiteral("linea3.banco");
    p.shaBanco = QStringLiteral("ab");
    p.shaRighe = QStringLiteral("cd");
    p.linea = QStringLiteral("1, 9600");
    p.inizio = QDateTime(QDate(2026, 12, 10), QTime(9, 30, 0, 5), Qt::UTC);
    p.fine = QDateTime(QDate(2026, 12, 10), QTime(9, 30, 1, 250), Qt::UTC);
    p.esito = Esiti::kNonConforme;
    p.campione = Esiti::kNonConforme;
    LetturaArchiviata l;
    l.n = 0;
    l.nome = QStringLiteral("T\tA");
    l.strumento = 3;
    l.memoria = QStringLiteral("0008");
    l.unitaMisura = QStringLiteral("°C");
    l.parola = 1003;
    l.valore = 100.3;
    l.valoreMostrato = QStringLiteral("100.3 °C");
    l.massimo = 1e21;
    l.stato = QStringLiteral("fuori dai limiti");
    l.giudizio = LetturaArchiviata::Giudizio::FuoriDaiLimiti;
    l.latenzaMs = 0.25;
    l.istante = p.inizio;
    c.letture = {l};
    QCOMPARE(QString::fromUtf8(::formaCanonica(c)),
        QStringLiteral("banco-prova 1\n"
                       "uuid=0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0\n"
                       "stazione=linea\\\\3\n"
                       "operatore=Anna\\nRossi\\x01\n"
                       "unita=SN-è\n"
                       "tentativo=2\n"
                       "banco=linea3.banco\n"
                       "sha_banco=ab\n"
                       "sha_righe=cd\n"
                       "linea=1, 9600\n"
                       "posto=\n"
                       "inizio=2026-12-10T09:30:00.005Z\n"
                       "fine=2026-12-10T09:30:01.250Z\n"
                       "esito=non conforme\n"
                       "campione=non conforme\n"
                       "senza_campioni=0\n"
                       "letture=1\n"
                       "n=0\n"
                       "nome=T\\tA\n"
                       "strumento=3\n"
                       "memoria=0008\n"
                       "unita_misura=°C\n"
                       "parola=1003\n"
                       "valore=100.3\n"
                       "valore_mostrato=100.3 °C\n"
                       "minimo=\n"
                       "massimo=1e+21\n"
                       "atteso=\n"
                       "stato=fuori dai limiti\n"
                       "giudizio=1\n"
                       "latenza_ms=0.25\n"
                       "istante=2026-12-10T09:30:00.005Z\n"));
}

void TestArchivio::controlloDellArchivio_data()
{
    QTest::addColumn<bool>("guasto");
    QTest::newRow("integro") << false;
    QTest::newRow("pagine dell'albero guastate") << true;
}

void TestArchivio::controlloDellArchivio()
{
    QFETCH(bool, guasto);
    QTemporaryDir dati;
    const QString file = dati.filePath("archivio.sqlite");
    {
        std::unique_ptr<Archivio> a = Archivio::apriLocale(file, nullptr);
        a->database().transaction();
        for (int i = 0; i < 300; ++i)
            registra(*a, QStringLiteral("U%1").arg(i), Esiti::kConforme);
        QVERIFY(a->database().commit());
    }
    QFile f(file);
    for (int pagina = 2; guasto && pagina < 8 && f.open(QIODevice::ReadWrite); ++pagina) {
        f.seek(4096 * pagina);
        f.write(QByteArray(8, '\xff'));
        f.close();
    }
    const Esito e = richiesta({"--controlla-archivio", "--archivio", file}, dati.path());
    QCOMPARE(e.uscita, guasto ? 8 : 0);
    QVERIFY2((guasto ? e.errori : e.righe.join(u' ')).contains(guasto ? "danneggiato" : "integro"),
        qPrintable(e.errori));
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

// A station file of version 2 with unit U3's run, brought to the current version, then units read
// at the fixture's sockets: U1 at A (non conforme), then at B (conforme), U2 at A (conforme).
QString TestArchivio::archivioConPosti()
{
    const QString file = m_cartella.filePath(QStringLiteral("posti/archivio.sqlite"));
    if (QFile::exists(file))
        return file;
    const auto registra = [](Archivio &a, const QString &unita, const QString &posto,
                              const QString &esito, double valore) {
        ProvaArchiviata p;
        p.unita = unita;
        p.posto = posto;
        p.banco = p.shaBanco = QStringLiteral("b.banco");
        if (!a.iniziaProva(p))
            return false;
        LetturaArchiviata l;
        l.nome = QStringLiteral("T");
        l.valore = valore;
        l.istante = p.inizio;
        return a.registraLettura(p.uuid, l) && a.finisciProva(p.uuid, esito);
    };
    {
        std::unique_ptr<Archivio> a = Archivio::apriLocale(file, nullptr);
        if (!a || !registra(*a, QStringLiteral("U3"), {}, Esiti::kConforme, 13))
            return {};
        // As version 2 wrote it: without the socket's column, nor what came after it.
        QSqlQuery q(a->database());
        for (const char *sql : {"DROP INDEX prove_dei_campioni",
                 "ALTER TABLE prove DROP COLUMN posto", "ALTER TABLE prove DROP COLUMN impronta",
                 "ALTER TABLE prove DROP COLUMN campione",
                 "ALTER TABLE prove DROP COLUMN senza_campioni", "DROP TABLE stampe",
                 "PRAGMA user_version = 2"}) {
            if (!q.exec(QString::fromLatin1(sql)))
                return {};
        }
    }
    QString motivo;
    std::unique_ptr<Archivio> a = Archivio::apriLocale(file, &motivo);
    if (!a) {
        qWarning("%s", qPrintable(motivo));
        return {};
    }
    for (const auto &[unita, posto, esito, valore] :
        {std::tuple{"U1", "A", Esiti::kNonConforme, 30.0},
            std::tuple{"U1", "B", Esiti::kConforme, 11.0},
            std::tuple{"U2", "A", Esiti::kConforme, 12.0}}) {
        if (!registra(*a, QString::fromLatin1(unita), QString::fromLatin1(posto), esito, valore)) {
            qWarning("%s", qPrintable(a->errore()));
            return {};
        }
    }
    return file;
}

void TestArchivio::postiDellAttrezzatura_data()
{
    QTest::addColumn<QStringList>("argomenti");
    QTest::addColumn<QStringList>("colonne"); // of the CSV printed, by name; a blank line starts
                                              // a table with a header of its own
    QTest::addColumn<QStringList>("atteso"); // those columns, line by line; or the refusal
    const QStringList csv{"--formato", "csv"};
    QTest::newRow("U1 a B dopo A: il tentativo 2")
        << QStringList{"--storico", "--unita", "U1"} + csv
        << QStringList{"posto", "tentativo", "esito"}
        << QStringList{"posto,tentativo,esito", "B,2,conforme", "A,1,non conforme"};
    QTest::newRow("--posto: le prove di quel posto") << QStringList{"--storico", "--posto", "A"}
            + csv << QStringList{"unita", "posto"} << QStringList{"unita,posto", "U2,A", "U1,A"};
    QTest::newRow("la prova di prima dell'aggiornamento, senza la colonna del posto")
        << QStringList{"--storico", "--unita", "U3"} + csv << QStringList{"unita", "esito", "posto"}
        << QStringList{"unita,esito", "U3,conforme"};
    // U1 failed first in A and passed when tried again in B: a unit of A, failed at its first
    // pass, conforming at its last; B judged no unit first.
    QTest::newRow("--statistiche --posto: cifre di quel posto, rese delle unità provate lì prima")
        << QStringList{"--statistiche", "--posto", "B"} + csv
        << QStringList{"posto", "media", "unita", "conformi_al_primo_passaggio"}
        << QStringList{
               "posto,media", "B,11", "", "posto,unita,conformi_al_primo_passaggio", "B,0,0"};
    QTest::newRow("--per posto: un blocco per posto, poi il totale")
        << QStringList{"--statistiche", "--per", "posto"} + csv
        << QStringList{"posto", "media", "unita", "conformi_al_primo_passaggio",
               "conformi_all_ultimo"}
        << QStringList{"posto,media", "A,21", "B,11", ",16.5", "",
               "posto,unita,conformi_al_primo_passaggio,conformi_all_ultimo", "A,2,1,2", "B,0,0,0",
               ",3,2,3"};
    QTest::newRow("--per un'altra cosa: rifiutato, con quel che si accetta")
        << QStringList{"--statistiche", "--per", "colore"} << QStringList()
        << QStringList{"rifiuto", "si accetta stazione, operatore, giorno o posto"};
}

// The fixture's sockets in the station's file: attempts counted across them, --posto choosing
// one, --per posto giving each its figures, and a file of version 2 brought up to date.
void TestArchivio::postiDellAttrezzatura()
{
    QFETCH(QStringList, argomenti);
    QFETCH(QStringList, colonne);
    QFETCH(QStringList, atteso);
    const QString file = archivioConPosti();
    QVERIFY(!file.isEmpty());
    const Esito e = richiesta(argomenti + QStringList{"--archivio", file}, m_cartella.path());
    if (atteso.first() == u"rifiuto") {
        QCOMPARE(e.uscita, 2);
        QVERIFY2(e.errori.contains(atteso.last()) && e.righe.isEmpty(), qPrintable(e.errori));
        return;
    }
    QCOMPARE(e.uscita, 0);
    QStringList lette;
    QStringList intestazione;
    for (const QString &riga : e.testo.trimmed().split(u'\n')) {
        if (riga.isEmpty()) {
            intestazione.clear();
            lette << QString();
            continue;
        }
        const QStringList campi = riga.split(u',');
        QStringList scelti;
        for (const QString &colonna : colonne) {
            const qsizetype i = (intestazione.isEmpty() ? campi : intestazione).indexOf(colonna);
            if (i >= 0)
                scelti << campi.value(i);
        }
        if (intestazione.isEmpty())
            intestazione = campi;
        lette << scelti.join(u',');
    }
    // The tables named; those after them (the rows' yields, the Pareto) are others' to check.
    QCOMPARE(lette.mid(0, atteso.size()), atteso);
}

// A server that stops answering holds the history's reader in a query: closing the history does
// Limits an engineer fixed stay the chart's when new values come, until a newer set; the file
// keeps every set as it was written, and the server receives them with the runs.
void TestArchivio::limitiFissatiDelleCarte()
{
    QTemporaryDir dati;
    const QString file = dati.filePath(QStringLiteral("stazione.sqlite"));
    std::unique_ptr<Archivio> locale = Archivio::apriLocale(file, nullptr);
    QVERIFY(locale);
    const auto registra = [&](const QList<double> &valori, const QDateTime &inizio = {}) {
        for (const double valore : valori) {
            ProvaArchiviata p;
            p.inizio = inizio;
            p.stazione = QStringLiteral("S1");
            p.unita = QStringLiteral("U");
            p.posto = QStringLiteral("A");
            p.banco = QStringLiteral("carta.banco");
            p.shaRighe = QStringLiteral("v1");
            LetturaArchiviata l;
            l.nome = QStringLiteral("T");
            l.valore = valore;
            l.massimo = 100;
            l.istante = QDateTime::currentDateTimeUtc();
            QVERIFY(locale->iniziaProva(p) && locale->registraLettura(p.uuid, l)
                && locale->finisciProva(p.uuid, Esiti::kConforme));
        }
    };
    const auto carta = [&] {
        const auto serie = locale->serieCarta({}, QStringLiteral("T"));
        return serie && serie->size() == 1 ? serie->first() : SerieCarta{};
    };
    // x̄ = 11, MR̄ = (2 + 2 + 2 + 1) / 4 = 1.75: limits 11 ± 4.655.
    registra({10, 12, 10, 12, 11});
    std::optional<LimitiCarta> fissati
        = limitiDellaSerie(carta(), QStringLiteral("S1"), QStringLiteral("Ing. Rossi"));
    QVERIFY(fissati && locale->fissaLimiti(*fissati));
    // New values move the mean and the spread the limits of a reference phase would have.
    registra({30, 40});
    SerieCarta s = carta();
    QCOMPARE(s.valori.size(), 7);
    QVERIFY(s.fissati && s.fissati->operatore == QStringLiteral("Ing. Rossi"));
    CartaControllo::Analisi a = analizza(s, false);
    QVERIFY(a.fissati);
    QCOMPARE(a.limiti->centro, 11.0);
    QCOMPARE(a.limiti->superiore(), 11 + 2.66 * 1.75);
    QCOMPARE(a.regole.at(5), QList<int>{1});
    // A newer set is the chart's; the first stays in the file.
    fissati = limitiDellaSerie(s, QStringLiteral("S1"), QStringLiteral("Ing. Bianchi"));
    QVERIFY(fissati && locale->fissaLimiti(*fissati));
    QCOMPARE(carta().fissati->operatore, QStringLiteral("Ing. Bianchi"));
    QCOMPARE(locale->limitiFissati()->size(), 2);
    // A run recorded late with its earlier start takes its place in the chart.
    registra({5}, QDateTime(QDate(2020, 1, 1), QTime(8, 0), Qt::UTC));
    QCOMPARE(carta().valori, QList<double>({5, 10, 12, 10, 12, 11, 30, 40}));
    // Fixed limits are never changed or removed.
    QSqlQuery q(locale->database());
    QVERIFY(!q.exec(QStringLiteral("UPDATE limiti_carta SET centro = 0")));
    QVERIFY(!q.exec(QStringLiteral("DELETE FROM limiti_carta")));
    QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM limiti_carta WHERE centro = 11")) && q.next()
        && q.value(0).toInt() == 1);
    q.finish();

    QString motivo;
    const auto destinazione = Destinazione::leggiUrl(m_server.url(), &motivo);
    QVERIFY2(destinazione, qPrintable(motivo));
    Inoltro inoltro(file, *destinazione);
    inoltro.inviaOra();
    QVERIFY(inoltro.attendi(30000));
    QCOMPARE(locale->limitiDaInviare(10)->size(), 0);
    QCOMPARE(m_server.interroga("SELECT string_agg(operatore, ',' ORDER BY quando) FROM limiti_carta "
                                "WHERE banco = 'carta.banco'"),
        QStringLiteral("Ing. Rossi,Ing. Bianchi"));
}

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
    QString motivo;
    QVERIFY(!Archivio::apriServer(
        *Destinazione::leggiUrl(m_server.url().replace("stazione@", "nessuno@"), nullptr), &motivo));
    QVERIFY2(motivo.startsWith(u"accesso rifiutato") && motivo.contains(u"~/.pgpass"),
        qPrintable(motivo));
}

// --carta --fissa on the line's server: the values are read there, the limits are fixed in the
// station's own file, which forwards them later; nothing is written on the server.
void TestArchivio::limitiFissatiDaiValoriDelServer()
{
    QTemporaryDir altra;
    const QString file = altra.filePath("banco-seriale/archivio.sqlite");
    {
        std::unique_ptr<Archivio> a = Archivio::apriLocale(file, nullptr);
        QVERIFY(a);
        for (const double valore : {10.0, 12.0, 11.0}) {
            ProvaArchiviata p;
            p.stazione = QStringLiteral("S1");
            p.unita = QStringLiteral("U");
            p.banco = QStringLiteral("dal-server.banco");
            p.shaRighe = QStringLiteral("vs");
            LetturaArchiviata l;
            l.nome = QStringLiteral("T");
            l.valore = valore;
            l.istante = QDateTime::currentDateTimeUtc();
            QVERIFY(a->iniziaProva(p) && a->registraLettura(p.uuid, l)
                && a->finisciProva(p.uuid, Esiti::kConforme));
        }
    }
    Inoltro inoltro(file, *Destinazione::leggiUrl(m_server.url(), nullptr));
    inoltro.inviaOra();
    QVERIFY(inoltro.attendi(30000));
    // This station's file has none of those values: they can come from the server only.
    QTemporaryDir dati;
    const Esito e
        = richiesta({"--carta", "T", "--nome-banco", "dal-server.banco", "--fissa", "--operatore",
                        "Ing. Verdi", "--formato", "json", "--archivio", m_server.url()},
            dati.path());
    QCOMPARE(e.uscita, 0);
    QCOMPARE(e.righe.size(), 1);
    QCOMPARE(QJsonDocument::fromJson(e.righe.first().toUtf8()).object().value("centro"),
        QJsonValue(11.0));
    QCOMPARE(m_server
                 .interroga("SELECT count(*) FROM limiti_carta WHERE banco = "
                            "'dal-server.banco'")
                 .toLongLong(),
        0);
    std::unique_ptr<Archivio> stazione
        = Archivio::apriLocale(dati.filePath("banco-seriale/archivio.sqlite"), nullptr);
    QVERIFY(stazione);
    const auto daInviare = stazione->limitiDaInviare(10);
    QVERIFY(daInviare && daInviare->size() == 1);
    QCOMPARE(daInviare->first().operatore, QStringLiteral("Ing. Verdi"));
}

#include "test_archivio.moc"
