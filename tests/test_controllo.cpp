#include "carta_controllo.h"
#include "sorveglianza.h"

#include <QTest>

using namespace CartaControllo;

class TestControllo : public QObject
{
    Q_OBJECT

private slots:
    void regoleDellaCarta_data();
    void regoleDellaCarta();
    void capacitaSuRampaERumore();
    void sorveglianzaDellaStazione_data();
    void sorveglianzaDellaStazione();
    void valoriSenzaDispersione();
};

// Against a centre of 0 and σ̂ of 1: each rule on a short series that completes it, and one that
// just misses it. The points that complete a rule, as "point:rule".
void TestControllo::regoleDellaCarta_data()
{
    QTest::addColumn<QList<double>>("valori");
    QTest::addColumn<QString>("scatta");

    const auto ripeti = [](QList<double> motivo, int quanti) {
        QList<double> v;
        while (v.size() < quanti)
            v << motivo.at(v.size() % motivo.size());
        return v;
    };
    QTest::newRow("1: oltre 3 sigma") << QList<double>{0, 3.5} << "1:1";
    QTest::newRow("1 mancata: 2.9 sigma") << QList<double>{0, 2.9} << "";
    QTest::newRow("2: 2 su 3 oltre 2 sigma") << QList<double>{0, 2.5, 0.5, 2.5} << "3:2";
    QTest::newRow("2 mancata: dalle due parti") << QList<double>{0, 2.5, 0.5, -2.5} << "";
    QTest::newRow("3: 4 su 5 oltre 1 sigma") << QList<double>{0, 1.5, 1.5, 0.5, 1.5, 1.5} << "5:3";
    QTest::newRow("3 mancata: 3 su 5") << QList<double>{0, 1.5, 1.5, 0.5, 0.5, 1.5} << "";
    QTest::newRow("4: 8 dalla stessa parte") << ripeti({0.5}, 8) << "7:4";
    QTest::newRow("4 mancata: l'ottavo dall'altra")
        << ripeti({0.5}, 7) + QList<double>{-0.5} << "";
    QTest::newRow("5: 6 in salita") << QList<double>{0, 0.1, 0.2, 0.3, 0.4, 0.5} << "5:5";
    QTest::newRow("5 mancata: l'ultimo fermo") << QList<double>{0, 0.1, 0.2, 0.3, 0.4, 0.4} << "";
    QTest::newRow("6: 14 alternati") << ripeti({0.5, -0.5}, 14) << "13:6";
    QTest::newRow("6 mancata: 13 alternati") << ripeti({0.5, -0.5}, 13) << "";
    QTest::newRow("7: 15 entro 1 sigma") << ripeti({0.5, 0.5, -0.5, -0.5}, 15) << "14:7";
    QTest::newRow("7 mancata: 14 entro") << ripeti({0.5, 0.5, -0.5, -0.5}, 14) << "";
    QTest::newRow("8: 8 oltre 1 sigma, dalle due parti") << ripeti({1.5, -1.5}, 8) << "7:8";
    QTest::newRow("8 mancata: uno entro") << ripeti({1.5, -1.5}, 7) + QList<double>{0.5} << "";
}

void TestControllo::regoleDellaCarta()
{
    QFETCH(QList<double>, valori);
    QFETCH(QString, scatta);
    Limiti limiti;
    limiti.sigma = 1;
    limiti.mrMedio = kD2;
    const QList<QList<int>> trovate = regole(valori, limiti, true);
    QStringList dette;
    for (qsizetype i = 0; i < trovate.size(); ++i) {
        for (const int r : trovate.at(i))
            dette << QStringLiteral("%1:%2").arg(i).arg(r);
    }
    QCOMPARE(dette.join(u' '), scatta);
    // Rules 5 to 8 only when asked for.
    for (const QList<int> &punto : regole(valori, limiti, false))
        QVERIFY(std::all_of(punto.cbegin(), punto.cend(), [](int r) { return r <= 4; }));
}

// A ramp moves little from one unit to the next but far overall: Cpk, from the moving range,
// is far above Ppk. On noise they are close. The noise's figures were computed with Python's
// statistics: x̄ 9.869, MR̄ 0.78684, σ̂ = MR̄ / 1.128 = 0.697555, s 0.878857; against 6 … 14:
// Cpk 1.848600, Ppk 1.464910, Cp 1.911438, Pp 1.514706.
void TestControllo::capacitaSuRampaERumore()
{
    QList<double> rampa;
    for (int i = 0; i < 100; ++i)
        rampa << i;
    const Capacita r = capacita(rampa, limiti(rampa)->sigma, -50.0, 150.0);
    QVERIFY(*r.cpk > 10 * *r.ppk);

    const QList<double> rumore{9.74, 10.51, 9.77, 9.68, 9.07, 9.79, 11.11, 10.42, 11.04, 10.25,
        10.39, 10.19, 8.33, 10.86, 10.51, 10.5, 8.31, 8.26, 9.11, 9.53};
    const Capacita c = capacita(rumore, limiti(rumore)->sigma, 6.0, 14.0);
    QCOMPARE(qRound(*c.cpk * 1e6), 1848600);
    QCOMPARE(qRound(*c.ppk * 1e6), 1464910);
    QCOMPARE(qRound(*c.cp * 1e6), 1911438);
    QCOMPARE(qRound(*c.pp * 1e6), 1514706);
    QCOMPARE(giudizio(*c.ppk), QStringLiteral("capace"));
    // One limit: one side, no Cp.
    const Capacita solo = capacita(rumore, limiti(rumore)->sigma, std::nullopt, 14.0);
    QVERIFY(!solo.cp && solo.cpk && *solo.cpk > *c.cpk);
}

// A station's chart seeded with its past, then fed value by value: which rules warn at which new
// value, as "value:rule". Fixed limits: a centre of 0 and σ̂ of 1.
void TestControllo::sorveglianzaDellaStazione_data()
{
    QTest::addColumn<QList<double>>("passato");
    QTest::addColumn<bool>("fissati");
    QTest::addColumn<bool>("ancheDa5A8");
    QTest::addColumn<QList<double>>("nuovi");
    QTest::addColumn<QString>("avvisi");

    const auto volte = [](double valore, int quante) { return QList<double>(quante, valore); };
    // 25 values around 50, their σ̂ 0.887: a reference phase far from the fixed limits.
    QList<double> altrove;
    for (int i = 0; i < 25; ++i)
        altrove << (i % 2 ? 50.5 : 49.5);
    QTest::newRow("un nuovo scatto avvisa")
        << QList<double>() << true << false << QList<double>{0.5, 3.5} << "1:1";
    QTest::newRow("la stessa corsa avvisa una volta")
        << QList<double>() << true << false << volte(0.5, 12) << "7:4";
    QTest::newRow("una nuova corsa dopo un ritorno avvisa di nuovo")
        << QList<double>() << true << false << volte(0.5, 8) + volte(-0.2, 1) + volte(0.5, 8)
        << "7:4 16:4";
    QTest::newRow("una corsa già nel passato non avvisa")
        << volte(0.5, 8) << true << false << volte(0.5, 2) << "";
    QTest::newRow("una corsa completata dal primo valore nuovo")
        << volte(0.5, 7) << true << false << volte(0.5, 2) << "0:4";
    QTest::newRow("limiti fissati usati")
        << altrove << true << false << QList<double>{0.5, 3.5} << "1:1 1:2 1:3";
    QTest::newRow("senza limiti fissati, la fase di riferimento")
        << altrove << false << false << QList<double>{0.5, 3.5} << "0:1 1:2";
    QTest::newRow("fase di riferimento dei primi 25 valori, non degli ultimi")
        << altrove + volte(40, 10) << false << false << QList<double>{50, 50.3} << "";
    QTest::newRow("fase di riferimento completata dai valori nuovi")
        << altrove.first(20) << false << false
        << altrove.mid(20) + volte(40, 10) + QList<double>{50, 50.3} << "5:1 6:2 8:3 11:4";
    QTest::newRow("regole 5-8 se chieste")
        << QList<double>() << true << true << QList<double>{0, 0.1, 0.2, 0.3, 0.4, 0.5} << "5:5";
    QTest::newRow("regole 5-8 non chieste")
        << QList<double>() << true << false << QList<double>{0, 0.1, 0.2, 0.3, 0.4, 0.5} << "";
}

void TestControllo::sorveglianzaDellaStazione()
{
    QFETCH(QList<double>, passato);
    QFETCH(bool, fissati);
    QFETCH(bool, ancheDa5A8);
    QFETCH(QList<double>, nuovi);
    Limiti limiti;
    limiti.sigma = 1;
    limiti.mrMedio = kD2;
    Sorveglianza sorveglianza(ancheDa5A8);
    sorveglianza.semina(
        QStringLiteral("B"), 2, passato, fissati ? std::optional(limiti) : std::nullopt);
    QStringList avvisi;
    for (qsizetype i = 0; i < nuovi.size(); ++i) {
        // Another socket's chart of the same row is its own.
        sorveglianza.aggiungi(QStringLiteral("A"), 2, i % 2 ? 1000 : -1000);
        for (const int regola : sorveglianza.aggiungi(QStringLiteral("B"), 2, nuovi.at(i)))
            avvisi << QStringLiteral("%1:%2").arg(i).arg(regola);
    }
    QTEST(avvisi.join(u' '), "avvisi");
    QCOMPARE(sorveglianza.ultimi(QStringLiteral("B"), 2, 1), nuovi.last(1));
}

// A row that reads 123.45 every time has no spread: nothing breaks a rule (a summed mean of
// 123.45s is 123.44999999999996, and every value stood beyond limits of no width), and no
// capability is claimed; a value that moves from it breaks rule 1, and only that.
void TestControllo::valoriSenzaDispersione()
{
    QList<double> valori(30, 123.45);
    Analisi a = analizza(valori, std::nullopt, true);
    QVERIFY(a.limiti && a.limiti->sigma == 0);
    QCOMPARE(a.fuoriControllo(), 0);
    const Capacita c = capacita(valori, a.limiti->sigma, 100, 150);
    QVERIFY(!c.cpk && !c.ppk);
    valori << 123.46;
    a = analizza(valori, std::nullopt, true);
    QCOMPARE(a.fuoriControllo(), 1);
    QCOMPARE(a.regole.last(), QList<int>{1});
}

QTEST_GUILESS_MAIN(TestControllo)
#include "test_controllo.moc"
