// A bench's traceability through banco-richiesta, against virtual instruments: reference units
// that must prove the bench before production, labels sent to a printer stand-in on a local TCP
// port, and a run's digest and PDF report checked against its archived copy.

#include "archivio.h"
#include "processo.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Esito
{
    int uscita = -1;
    QString testo;
    QString errori;
};

// Temperatura reads 100.0 °C from a good unit's instrument, 200.0 °C from a defective one's.
constexpr char kBanco[] = R"({
    "formato": "banco-seriale",
    "versione": 1,
    "linea": { "porta": "1", "baud": 9600 },
    %1
    "righe": [
        { "nome": "Temperatura", "strumento": 0, "memoria": "0008", "decimali": 1, "unita": "°C",
          "minimo": 20.0, "massimo": 120.0 }
    ]
})";

} // namespace

class TestTracciabilita : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void campioni_data();
    void campioni();
    void etichette_data();
    void etichette();
    void verificaERapporto();

private:
    QString banco(const QString &nome, const QString &chiavi);
    // banco-richiesta on the bench for the unit, on the good or the defective unit's line;
    // the event loop runs meanwhile, for a printer stand-in in this process.
    Esito leggi(const QString &banco, const QString &unita, bool difettosa = false,
        const QStringList &altre = {});
    Esito richiesta(const QStringList &argomenti);

    QTemporaryDir m_cartella;
    QString m_archivio;
    StrumentoInProva m_buona;
    StrumentoInProva m_difettosa;
};

void TestTracciabilita::initTestCase()
{
    QVERIFY(m_cartella.isValid());
    m_archivio = m_cartella.filePath(QStringLiteral("archivio.sqlite"));
    QVERIFY(m_buona.avvia(m_cartella.filePath(QStringLiteral("buona")), {}));
    QVERIFY(m_difettosa.avvia(
        m_cartella.filePath(QStringLiteral("difettosa")), {"--memoria", "0008=2000"}));
}

QString TestTracciabilita::banco(const QString &nome, const QString &chiavi)
{
    const QString percorso = m_cartella.filePath(nome);
    QFile file(percorso);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(QString::fromUtf8(kBanco).arg(chiavi).toUtf8());
    return percorso;
}

Esito TestTracciabilita::richiesta(const QStringList &argomenti)
{
    QProcess p;
    QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
    ambiente.insert(QStringLiteral("XDG_DATA_HOME"), m_cartella.path());
    ambiente.remove(QStringLiteral("BANCO_ARCHIVIO"));
    p.setProcessEnvironment(ambiente);
    QSignalSpy finito(&p, &QProcess::finished);
    p.start(QStringLiteral(BANCO_RICHIESTA),
        argomenti + QStringList{"--archivio", m_archivio});
    Esito e;
    if (!finito.wait(60000))
        return e;
    e.uscita = p.exitCode();
    e.testo = QString::fromUtf8(p.readAllStandardOutput());
    e.errori = QString::fromUtf8(p.readAllStandardError());
    return e;
}

Esito TestTracciabilita::leggi(
    const QString &banco, const QString &unita, bool difettosa, const QStringList &altre)
{
    const QString linea = m_cartella.filePath(difettosa ? "difettosa" : "buona");
    return richiesta(
        QStringList{"--banco", banco, "--unita", unita, "--porta", linea, "--formato", "csv",
            "--stazione", "linea3"}
            + altre);
}

void TestTracciabilita::campioni_data()
{
    QTest::addColumn<double>("ore"); // campioni_ogni_ore
    // Each step "UNITÀ" on a good unit's line or "UNITÀ!" on a defective one's, "+" for
    // --senza-campioni, with the exit status and a text standard error must hold.
    QTest::addColumn<QStringList>("passi");
    QTest::addColumn<QList<int>>("uscite");
    QTest::addColumn<QStringList>("detti");
    QTest::addColumn<QString>("resa"); // the production units --statistiche counts: "unita,prove"

    QTest::newRow("la produzione aspetta i campioni, poi passa")
        << 8.0 << QStringList{"SN-1", "OK-01", "SN-1", "KO-01!", "SN-1"}
        << QList<int>{9, 0, 9, 0, 0}
        << QStringList{"vanno provati i campioni OK-01, KO-01", "", "i campioni KO-01",
               "", "conforme"}
        << "1,1";
    QTest::newRow("un campione difettoso risultato conforme ferma la produzione")
        << 8.0 << QStringList{"OK-01", "KO-01", "SN-1", "SN-1+"} << QList<int>{0, 4, 9, 0}
        << QStringList{"", "", "il banco non riconosce più un'unità difettosa", "conforme"}
        << "1,1";
    QTest::newRow("un campione sbagliato, provato di nuovo e giusto: la produzione riparte")
        << 8.0 << QStringList{"OK-01", "KO-01", "KO-01!", "SN-2!"} << QList<int>{0, 4, 0, 4}
        << QStringList{"", "", "", "non conforme"} << "1,1";
    // A period shorter than a run: the references proved the bench, and the period is over.
    QTest::newRow("dopo il periodo i campioni vanno provati di nuovo")
        << 0.0000001 << QStringList{"OK-01", "KO-01!", "SN-1"} << QList<int>{0, 0, 9}
        << QStringList{"", "", "vanno provati i campioni OK-01, KO-01"} << "0,0";
}

void TestTracciabilita::campioni()
{
    QFETCH(double, ore);
    QFETCH(QStringList, passi);
    QFETCH(QList<int>, uscite);
    QFETCH(QStringList, detti);
    QFETCH(QString, resa);
    QFile::remove(m_archivio);
    const QString file = banco(QStringLiteral("campioni.banco"),
        QStringLiteral(R"("campioni": [{"unita": "OK-01", "esito": "conforme"},
            {"unita": "KO-01", "esito": "non conforme"}], "campioni_ogni_ore": %1,)")
            .arg(ore, 0, 'g', 17));
    for (qsizetype i = 0; i < passi.size(); ++i) {
        QString unita = passi[i];
        const bool senza = unita.endsWith(u'+');
        const bool difettosa = unita.endsWith(u'!');
        unita.remove(QRegularExpression(QStringLiteral("[!+]$")));
        const Esito e = leggi(file, unita, difettosa,
            senza ? QStringList{"--senza-campioni"} : QStringList());
        QVERIFY2(e.uscita == uscite[i] && e.errori.contains(detti[i]),
            qPrintable(QStringLiteral("%1: uscita %2\n%3").arg(passi[i]).arg(e.uscita).arg(e.errori)));
        // A refused unit is not read: nothing went on the line, nothing was recorded.
        if (e.uscita == 9)
            QVERIFY2(e.testo.isEmpty() && e.errori.contains(u"Nulla è stato inviato"),
                qPrintable(e.testo));
    }
    // The reference runs prove the bench and count in no yield.
    const Esito statistiche
        = richiesta({"--statistiche", "--nome-banco", "campioni.banco", "--formato", "csv"});
    QCOMPARE(statistiche.uscita, 0);
    const QStringList righe = statistiche.testo.split(u'\n');
    const auto intestazione = std::find_if(righe.cbegin(), righe.cend(), [](const QString &r) {
        return r.startsWith(QLatin1String("banco,versione,unita,prove,"));
    });
    QVERIFY2(intestazione != righe.cend(), qPrintable(statistiche.testo));
    const QStringList colonne = intestazione->split(u',');
    const QStringList valori = (intestazione + 1)->split(u',');
    const QString lette = valori.value(colonne.indexOf(QStringLiteral("unita"))) + u','
        + valori.value(colonne.indexOf(QStringLiteral("prove")));
    QCOMPARE(lette == u"," ? QStringLiteral("0,0") : lette, resa);
    // Overridden, and said so in the archive: the run read without references.
    std::unique_ptr<Archivio> a = Archivio::apriLocale(m_archivio, nullptr);
    QVERIFY(a);
    QSqlQuery q(a->database());
    QVERIFY(q.exec(QStringLiteral("SELECT group_concat(unita || ':' || campione || ':' || "
                                  "senza_campioni, ' ') FROM (SELECT * FROM prove ORDER BY id)")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString().contains(QLatin1String("SN-1::1")), passi.contains(u"SN-1+"));
}

void TestTracciabilita::etichette_data()
{
    QTest::addColumn<QString>("unita");
    QTest::addColumn<bool>("difettosa");
    QTest::addColumn<bool>("stampante"); // the printer stand-in listens
    QTest::addColumn<int>("uscita");
    QTest::addColumn<QByteArray>("etichetta"); // what it received; empty: nothing
    QTest::addColumn<QString>("detto");

    QTest::newRow("un'unità conforme: un'etichetta, il numero di serie protetto")
        << "SN^XZ~JA_1" << false << true << 0
        << QByteArray("^FO10,10^FH^FDSN_5EXZ_7EJA_5F1 conforme^FS") << QString();
    QTest::newRow("un'unità non conforme: nessuna etichetta")
        << "SN-2" << true << true << 4 << QByteArray() << QString();
    QTest::newRow("la stampante ferma: la prova resta, lo stato non cambia")
        << "SN-3" << false << false << 0 << QByteArray()
        << "etichetta non stampata: la stampante 127.0.0.1:";
}

void TestTracciabilita::etichette()
{
    QFETCH(QString, unita);
    QFETCH(bool, difettosa);
    QFETCH(bool, stampante);
    QFETCH(int, uscita);
    QFETCH(QByteArray, etichetta);
    QFETCH(QString, detto);

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 porta = server.serverPort();
    QByteArray ricevuto;
    QList<QTcpSocket *> collegate;
    connect(&server, &QTcpServer::newConnection, &server, [&] {
        while (QTcpSocket *s = server.nextPendingConnection()) {
            collegate << s;
            connect(s, &QTcpSocket::readyRead, s, [&ricevuto, s] { ricevuto += s->readAll(); });
        }
    });
    if (!stampante)
        server.close();
    QFile modello(m_cartella.filePath(QStringLiteral("etichetta.zpl")));
    QVERIFY(modello.open(QIODevice::WriteOnly));
    modello.write("^XA\n^FO10,10^FD{unita} {esito}^FS\n^XZ\n");
    modello.close();
    QFile::remove(m_archivio);
    const QString file = banco(QStringLiteral("etichetta.banco"),
        QStringLiteral(R"("etichetta": {"modello": "etichetta.zpl", "stampante": "127.0.0.1:%1"},)")
            .arg(porta));
    const Esito e = leggi(file, unita, difettosa);
    QVERIFY2(e.uscita == uscita && e.errori.contains(detto), qPrintable(e.errori));
    // Every byte the program sent has come: it closes the connection after the last.
    QTRY_VERIFY(std::all_of(collegate.cbegin(), collegate.cend(),
        [](QTcpSocket *s) { return s->state() == QAbstractSocket::UnconnectedState; }));
    if (etichetta.isEmpty()) {
        QVERIFY(ricevuto.isEmpty());
    } else {
        QCOMPARE(ricevuto, "^XA^CI28\n" + etichetta + "\n^XZ");
        QCOMPARE(collegate.size(), 1);
    }
    // Each print is recorded with what it sent, for a reprint of the same label.
    std::unique_ptr<Archivio> a = Archivio::apriLocale(m_archivio, nullptr);
    QVERIFY(a);
    QSqlQuery q(a->database());
    QVERIFY(q.exec(QStringLiteral("SELECT riuscita, zpl FROM stampe")));
    QCOMPARE(q.next(), !etichetta.isEmpty() || !stampante);
    if (q.isValid()) {
        QCOMPARE(q.value(0).toBool(), stampante);
        if (stampante)
            QCOMPARE(q.value(1).toByteArray(), ricevuto);
    }
    qDeleteAll(collegate);
}

// The digest --verifica prints is the one the report carries; a reading changed afterwards is
// found, and no report is written for it.
void TestTracciabilita::verificaERapporto()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext (poppler-utils) manca: scripts/dipendenze lo installa.");
    QFile::remove(m_archivio);
    const QString file = banco(QStringLiteral("rapporti.banco"), QString());
    QCOMPARE(leggi(file, QStringLiteral("SN-ff01")).uscita, 0);
    std::unique_ptr<Archivio> a = Archivio::apriLocale(m_archivio, nullptr);
    QVERIFY(a);
    QString uuid;
    QVERIFY(a->perOgniProva({}, 1, [&](const ProvaArchiviata &p) { uuid = p.uuid; }));

    const Esito verifica = richiesta({"--verifica", uuid});
    QCOMPARE(verifica.uscita, 0);
    const QString impronta = verifica.testo.section(u'\n', 0, 0);
    QCOMPARE(impronta.size(), 64);
    const QString pdf = m_cartella.filePath(QStringLiteral("rapporto.pdf"));
    QCOMPARE(richiesta({"--pdf", uuid, "--uscita", pdf}).uscita, 0);
    QProcess testo;
    testo.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QVERIFY(testo.waitForFinished(30000));
    const QString letto = QString::fromUtf8(testo.readAllStandardOutput());
    for (const QString &atteso : {QStringLiteral("SN-ff01"), QStringLiteral("100,0 °C"),
             QStringLiteral("CONFORME"), impronta, uuid})
        QVERIFY2(letto.contains(atteso), qPrintable(atteso + u'\n' + letto));

    QSqlQuery q(a->database());
    QVERIFY(q.exec(QStringLiteral("UPDATE letture SET valore = 99.9")));
    const Esito cambiata = richiesta({"--verifica", uuid});
    QCOMPARE(cambiata.uscita, 8);
    QVERIFY2(cambiata.testo.contains(QStringLiteral("DIVERSA dall'impronta registrata")),
        qPrintable(cambiata.testo));
    QFile::remove(pdf);
    QCOMPARE(richiesta({"--pdf", uuid, "--uscita", pdf}).uscita, 8);
    QVERIFY(!QFile::exists(pdf));
}

QTEST_GUILESS_MAIN(TestTracciabilita)
#include "test_tracciabilita.moc"
