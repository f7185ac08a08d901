// banco-richiesta's control charts, capability and grouped statistics, asked of a station file
// made by hand: each figure below is worked out in a comment.

#include "archivio.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Esito
{
    int uscita = -1;
    QStringList righe;
    QString errori;
    QByteArray testo; // the standard output whole, blank lines and all
};

// One run of a unit with one reading per row, rows named in order from 0; the rows named in
// fuori out of their limits, and the run non conforme then.
bool registra(Archivio &a, const QString &banco, const QString &unita, const QDateTime &inizio,
    const QList<std::pair<QString, double>> &letture, const QStringList &fuori = {})
{
    ProvaArchiviata p;
    p.unita = unita;
    p.stazione = QStringLiteral("stazione");
    p.banco = p.shaBanco = banco;
    p.inizio = inizio;
    if (!a.iniziaProva(p))
        return false;
    for (qsizetype i = 0; i < letture.size(); ++i) {
        LetturaArchiviata l;
        l.n = int(i);
        l.nome = letture.at(i).first;
        l.valore = letture.at(i).second;
        l.minimo = 0;
        l.massimo = l.nome == u"Rampa" ? 21 : 100;
        l.stato = QStringLiteral("entro i limiti");
        if (fuori.contains(l.nome)) {
            l.stato = QStringLiteral("fuori dai limiti");
            l.giudizio = LetturaArchiviata::Giudizio::FuoriDaiLimiti;
        }
        l.istante = inizio;
        if (!a.registraLettura(p.uuid, l))
            return false;
    }
    return a.finisciProva(p.uuid, fuori.isEmpty() ? Esiti::kConforme : Esiti::kNonConforme);
}

QDateTime alle(int giorno, int minuto)
{
    return QDateTime(QDate(2026, 12, giorno), QTime(10, 0).addSecs(60 * minuto));
}

} // namespace

class TestCarta : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cartaInJson();
    void domandeRifiutate_data();
    void domandeRifiutate();
    void limitiFissatiRestano();
    void statistiche_data();
    void statistiche();

private:
    Esito richiesta(const QStringList &argomenti, const QString &file);

    QTemporaryDir m_cartella;
    QString m_file;
};

// uno.banco: Temperatura 9, 11, 9, 11 … (24 values), 10, then 20; Pressione 5 each time.
// due.banco: Temperatura too, two runs on 2 December and one on 4 December.
// rampa.banco: Rampa 1, 2, … 20 within 0 … 21. tre.banco: a single run.
// resa.banco: unit A fails row Y, then passes; B passes; C fails X and Y.
void TestCarta::initTestCase()
{
    QVERIFY(m_cartella.isValid());
    m_file = m_cartella.filePath(QStringLiteral("archivio.sqlite"));
    QString motivo;
    std::unique_ptr<Archivio> a = Archivio::apriLocale(m_file, &motivo);
    QVERIFY2(a, qPrintable(motivo));
    for (int i = 0; i < 26; ++i) {
        const double t = i < 24 ? (i % 2 ? 11 : 9) : (i == 24 ? 10 : 20);
        QVERIFY2(registra(*a, "uno.banco", QStringLiteral("U%1").arg(i), alle(1, i),
                     {{"Temperatura", t}, {"Pressione", 5}}),
            qPrintable(a->errore()));
    }
    for (const auto &[giorno, minuto] : {std::pair{2, 0}, std::pair{2, 1}, std::pair{4, 0}})
        QVERIFY(registra(*a, "due.banco", QStringLiteral("D%1%2").arg(giorno).arg(minuto),
            alle(giorno, minuto), {{"Temperatura", 30}}));
    for (int i = 1; i <= 20; ++i)
        QVERIFY(registra(
            *a, "rampa.banco", QStringLiteral("R%1").arg(i), alle(3, i), {{"Rampa", double(i)}}));
    QVERIFY(registra(*a, "tre.banco", "T1", alle(3, 0), {{"Temperatura", 1}}));
    int minuto = 0;
    for (const auto &[unita, fuori] :
        {std::pair{"A", QStringList{"Y"}}, std::pair{"A", QStringList()},
            std::pair{"B", QStringList()}, std::pair{"C", QStringList{"X", "Y"}}})
        QVERIFY(registra(*a, "resa.banco", unita, alle(6, minuto++), {{"X", 1}, {"Y", 2}}, fuori));
}

Esito TestCarta::richiesta(const QStringList &argomenti, const QString &file)
{
    QProcess p;
    QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
    ambiente.insert(QStringLiteral("XDG_DATA_HOME"), m_cartella.path());
    ambiente.remove(QStringLiteral("BANCO_ARCHIVIO"));
    p.setProcessEnvironment(ambiente);
    p.start(QStringLiteral(BANCO_RICHIESTA), argomenti + QStringList{"--archivio", file});
    Esito e;
    if (!p.waitForFinished(60000))
        return e;
    e.uscita = p.exitCode();
    e.testo = p.readAllStandardOutput();
    e.righe = QString::fromUtf8(e.testo).split(u'\n', Qt::SkipEmptyParts);
    e.errori = QString::fromUtf8(p.readAllStandardError());
    return e;
}

// The reference phase is the first 25 values of uno.banco: x̄ = 250 / 25 = 10; the moving ranges
// are 23 of 2 and one of 1, MR̄ = 47 / 24 = 1.958333, so the limits are 10 ± 2.66 MR̄ = 15.209167
// and 4.790833, σ̂ = 1.736111. The 26th value, 20, is beyond 3σ̂ (rule 1); the others alternate
// within 1σ̂ of the centre and complete no rule. due.banco's Temperatura is another row: it is
// left out by --nome-banco.
void TestCarta::cartaInJson()
{
    const Esito e = richiesta(
        {"--carta", "Temperatura", "--nome-banco", "uno.banco", "--formato", "json"}, m_file);
    QCOMPARE(e.uscita, 0);
    QCOMPARE(e.righe.size(), 27);
    for (qsizetype i = 0; i < 26; ++i) {
        const QJsonObject o = QJsonDocument::fromJson(e.righe.at(i).toUtf8()).object();
        QCOMPARE(o.value("unita").toString(), QStringLiteral("U%1").arg(i));
        QCOMPARE(o.value("regole").toArray(), i == 25 ? QJsonArray{1} : QJsonArray());
        QCOMPARE(o.value("centro").toDouble(), 10.0);
        QVERIFY(qAbs(o.value("lcs").toDouble() - 15.209167) < 1e-5);
        QVERIFY(qAbs(o.value("lci").toDouble() - 4.790833) < 1e-5);
    }
    const QJsonObject riassunto = QJsonDocument::fromJson(e.righe.last().toUtf8()).object();
    QCOMPARE(riassunto.value("limiti").toString(), QStringLiteral("fase di riferimento"));
    QCOMPARE(riassunto.value("fuori_controllo").toInt(), 1);
}

void TestCarta::domandeRifiutate_data()
{
    QTest::addColumn<QStringList>("argomenti");
    QTest::addColumn<int>("uscita");
    QTest::addColumn<QString>("motivo"); // in the error stream; nothing on standard output

    QTest::newRow("riga in due banchi senza --nome-banco") << QStringList{
        "--carta", "Temperatura"} << 2 << "più banchi: due.banco, tre.banco, uno.banco";
    QTest::newRow("riga sconosciuta: con le righe che ci sono") << QStringList{"--carta", "Umidità",
        "--nome-banco", "uno.banco"} << 2 << "le righe sono: Temperatura, Pressione";
    QTest::newRow("nessun valore nei giorni scelti")
        << QStringList{"--carta", "Rampa", "--dal", "2027-01-01"} << 0 << "nessun valore";
    QTest::newRow("--fissa senza chi fissa")
        << QStringList{"--carta", "Rampa", "--fissa"} << 2 << "--operatore";
    QTest::newRow("--fissa su una carta di un valore solo") << QStringList{"--carta", "Temperatura",
        "--nome-banco", "tre.banco", "--fissa", "--operatore", "Anna"}
                                                            << 2 << "servono almeno 2 valori";
}

void TestCarta::domandeRifiutate()
{
    QFETCH(QStringList, argomenti);
    QFETCH(int, uscita);
    QFETCH(QString, motivo);
    const Esito e = richiesta(argomenti, m_file);
    QCOMPARE(e.uscita, uscita);
    QVERIFY2(e.errori.contains(motivo), qPrintable(e.errori));
    QCOMPARE(e.righe, QStringList());
}

// Ten values 9, 11, … fixed by the program: x̄ = 10, MR̄ = 2, limits 10 ± 5.32. Ten values of 13
// follow: a reference phase would now be all twenty (x̄ = 11.5), the fixed limits stay.
void TestCarta::limitiFissatiRestano()
{
    const QString file = m_cartella.filePath(QStringLiteral("fissati.sqlite"));
    {
        std::unique_ptr<Archivio> a = Archivio::apriLocale(file, nullptr);
        for (int i = 0; i < 10; ++i)
            QVERIFY(registra(*a, "b.banco", QStringLiteral("F%1").arg(i), alle(5, i),
                {{"Temperatura", i % 2 ? 11.0 : 9.0}}));
    }
    const Esito fissati = richiesta(
        {"--carta", "Temperatura", "--fissa", "--operatore", "Anna Rossi", "--formato", "json"},
        file);
    QCOMPARE(fissati.uscita, 0);
    QCOMPARE(fissati.righe.size(), 1);
    const QJsonObject l = QJsonDocument::fromJson(fissati.righe.first().toUtf8()).object();
    QCOMPARE(l.value("centro").toDouble(), 10.0);
    QVERIFY(qAbs(l.value("lcs").toDouble() - 15.32) < 1e-9);
    {
        std::unique_ptr<Archivio> a = Archivio::apriLocale(file, nullptr);
        for (int i = 10; i < 20; ++i)
            QVERIFY(registra(
                *a, "b.banco", QStringLiteral("F%1").arg(i), alle(5, i), {{"Temperatura", 13}}));
    }
    const Esito carta = richiesta({"--carta", "Temperatura", "--formato", "json"}, file);
    QCOMPARE(carta.uscita, 0);
    QCOMPARE(carta.righe.size(), 21);
    for (const QString &riga : carta.righe) {
        const QJsonObject o = QJsonDocument::fromJson(riga.toUtf8()).object();
        QCOMPARE(o.value("centro").toDouble(), 10.0);
        QVERIFY(qAbs(o.value("lcs").toDouble() - 15.32) < 1e-9);
    }
    QCOMPARE(QJsonDocument::fromJson(carta.righe.last().toUtf8()).object().value("limiti"),
        QJsonValue("fissati"));
}

void TestCarta::statistiche_data()
{
    QTest::addColumn<QStringList>("argomenti");
    QTest::addColumn<QStringList>("colonne"); // of the first CSV table that has them all
    QTest::addColumn<QStringList>("atteso"); // those columns, its header first

    QTest::newRow("--per giorno: un blocco per giorno, poi il totale")
        << QStringList{"--nome-banco", "due.banco", "--per", "giorno"}
        << QStringList{"giorno", "letture"}
        << QStringList{"giorno,letture", "2026-12-02,2", "2026-12-04,1", ",3"};
    // The ramp 1 … 20 within 0 … 21: x̄ = 10.5, MR̄ = 1, σ̂ within = 1 / 1.128, so
    // Cp = Cpk = 10.5 · 1.128 / 3 = 3.948; s = √(665 / 19) = √35 = 5.91608, so
    // Pp = Ppk = 10.5 / 17.74824 = 0.5916. The chart sees the drift: rules fire.
    QTest::newRow("rampa: Cpk dalla sigma entro, molto sopra Ppk")
        << QStringList{"--nome-banco", "rampa.banco"}
        << QStringList{"cp", "cpk", "pp", "ppk", "giudizio"}
        << QStringList{"cp,cpk,pp,ppk,giudizio",
               "3.948,3.948,0.5916,0.5916,processo non sotto controllo: la capacità non è "
               "affidabile"};
    // 3 units in 4 runs: (4 - 3) / 3 = 33.3% retested. Y failed twice, X once: Y comes first
    // though it is the second row, with 2 of the 3 failures (66.7%).
    QTest::newRow("resa: tasso di ripetizione")
        << QStringList{"--nome-banco", "resa.banco"}
        << QStringList{"unita", "prove", "tasso_di_ripetizione_percento"}
        << QStringList{"unita,prove,tasso_di_ripetizione_percento", "3,4,33.3"};
    QTest::newRow("resa: Pareto delle righe fallite")
        << QStringList{"--nome-banco", "resa.banco"}
        << QStringList{"nome", "fallite", "cumulata_percento"}
        << QStringList{"nome,fallite,cumulata_percento", "Y,2,66.7", "X,1,100.0"};
}

void TestCarta::statistiche()
{
    QFETCH(QStringList, argomenti);
    QFETCH(QStringList, colonne);
    QFETCH(QStringList, atteso);
    const Esito e = richiesta(QStringList{"--statistiche", "--formato", "csv"} + argomenti, m_file);
    QCOMPARE(e.uscita, 0);
    QStringList intestazione;
    QStringList lette;
    for (const QString &riga : QString::fromUtf8(e.testo).split(u'\n')) {
        const QStringList campi = riga.split(u',');
        if (intestazione.isEmpty()) {
            if (std::all_of(colonne.cbegin(), colonne.cend(),
                    [&](const QString &c) { return campi.contains(c); }))
                intestazione = campi;
            else
                continue;
        } else if (riga.isEmpty()) {
            break;
        }
        QStringList scelti;
        for (const QString &colonna : std::as_const(colonne))
            scelti << campi.value(intestazione.indexOf(colonna));
        lette << scelti.join(u',');
    }
    QCOMPARE(lette, atteso);
}

QTEST_GUILESS_MAIN(TestCarta)
#include "test_carta.moc"
