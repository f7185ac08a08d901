// The history window on a station's file of the test's own, its exports and its chart.

#include "finestra_storico.h"
#include "lettore_storico.h"
#include "modello_storico.h"
#include "testi_storico.h"

#include <QtCharts>
#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

// A run of banco for unit, with the values of row "Tensione" (limits 0 … 20, shown in V).
static void registra(Archivio &archivio, const QString &unita, const QList<double> &valori,
    const QDateTime &inizio, const QString &banco = u"a.banco"_s, const QString &posto = {})
{
    ProvaArchiviata p;
    p.unita = unita;
    p.posto = posto;
    p.banco = p.shaBanco = banco;
    p.inizio = inizio;
    QVERIFY2(archivio.iniziaProva(p), qPrintable(archivio.errore()));
    for (LetturaArchiviata l; l.n < valori.size(); ++l.n) {
        l.nome = u"Tensione"_s;
        l.valore = valori[l.n];
        l.valoreMostrato = u"%1 V"_s.arg(valori[l.n]);
        l.minimo = 0;
        l.massimo = 20;
        l.istante = inizio;
        QVERIFY(archivio.registraLettura(p.uuid, l));
    }
    QVERIFY(archivio.finisciProva(p.uuid, Esiti::kConforme));
}

class TestStorico : public QObject
{
    Q_OBJECT
    QTemporaryDir cartella;

private slots:
    void initTestCase() { qputenv("TZ", "Europe/Rome"); }

    // F5 keeps the run chosen and refreshes the figures' tab; 60 benches' yields fit 1280×1024; the
    // chart tells units and limits; a refused date clears all, and no tab nor F5 asks for figures.
    void finestra()
    {
        const QString file = cartella.filePath(u"finestra.sqlite"_s);
        const std::unique_ptr<Archivio> archivio = Archivio::apriLocale(file, nullptr);
        const QDateTime ora = QDateTime::currentDateTime();
        for (int banco = 0; banco < 59; ++banco)
            registra(*archivio, u"SN"_s, {}, ora.addSecs(-3600), u"%1.banco"_s.arg(banco));
        registra(*archivio, u"SN-10"_s, {10}, ora.addSecs(-60));
        FinestraStorico f(std::make_unique<LettoreStorico>(Destinazione::Scelta{file, {}}));
        f.show();
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        auto *prove = f.findChild<QTableView *>(u"Prove"_s);
        QTRY_COMPARE(prove->model()->rowCount(), 60);
        prove->setCurrentIndex(prove->model()->index(0, 0));
        auto *schede = f.findChild<QTabWidget *>(u"schede"_s);
        schede->setCurrentIndex(1);
        registra(*archivio, u"SN-11"_s, {11}, ora.addSecs(-30));
        registra(*archivio, u"SN-12"_s, {12}, ora);
        QTest::keyClick(&f, Qt::Key_F5);
        QTRY_COMPARE(prove->currentIndex().row(), 2);
        QTRY_COMPARE(f.findChild<QTableView *>(u"Letture della prova"_s)
                         ->model()
                         ->index(0, 4)
                         .data()
                         .toString(),
            u"10 V"_s);
        const auto cifre = [m = f.findChild<QTableView *>(u"Statistiche per riga"_s)->model()] {
            QString campi;
            for (int c = 0; c < m->columnCount(); ++c)
                campi += m->headerData(c, Qt::Horizontal).toString() + u'='
                    + m->index(0, c).data().toString() + u';';
            return campi;
        };
        QTRY_VERIFY2(cifre().contains(u"Cpk=3,38;"_s) && cifre().contains(u"Unità di misura=V;"_s),
            qPrintable(cifre()));
        for (QPushButton *b : f.findChildren<QPushButton *>())
            QVERIFY2(QRect(0, 0, 1280, 1024).contains(QRect(b->mapToGlobal(QPoint()), b->size())),
                qPrintable(b->text()));
        schede->setCurrentIndex(2);
        QChart *chart = f.findChild<QChartView *>()->chart();
        QTRY_COMPARE(chart->axes(Qt::Vertical).value(0)->titleText(), u"Tensione (V)"_s);
        QHash<QString, QXYSeries *> serie;
        for (QAbstractSeries *s : chart->series())
            serie.insert(s->name(), qobject_cast<QXYSeries *>(s));
        QVERIFY(serie.contains(u"limite minimo"_s) && serie.contains(u"limite massimo"_s));
        emit serie.value(u"valore"_s)->hovered(QPointF(3, 12), true);
        QTRY_VERIFY(QToolTip::isVisible());
        for (const QString &parte : {u"SN-12"_s, ora.toString(u"yyyy-MM-dd HH:mm:ss"_s), u"12 V"_s})
            QVERIFY2(QToolTip::text().contains(parte), qPrintable(QToolTip::text()));

        f.findChild<QLineEdit *>(u"filtroDal"_s)->setText(u"2026-13-45"_s);
        QTest::keyClick(f.findChild<QLineEdit *>(u"filtroDal"_s), Qt::Key_Return);
        for (QTableView *tabella : f.findChildren<QTableView *>())
            QVERIFY2(tabella->model()->rowCount() == 0, qPrintable(tabella->objectName()));
        QCOMPARE(f.findChild<QComboBox *>(u"rigaGrafico"_s)->count(), 0);
        const QLabel *stato = f.findChild<QLabel *>(u"statoStatistiche"_s);
        const QString rifiuto = stato->text();
        schede->setCurrentIndex(0);
        schede->setCurrentIndex(1);
        QCOMPARE(stato->text(), rifiuto);
        QTest::keyClick(&f, Qt::Key_F5);
        QCOMPARE(stato->text(), rifiuto);
    }

    // "Per posto" gives each socket's figures, then every socket's; a socket typed in the filter
    // chooses its runs, shown with their socket, and its figures only.
    void perPosto()
    {
        const QString file = cartella.filePath(u"posti.sqlite"_s);
        const std::unique_ptr<Archivio> archivio = Archivio::apriLocale(file, nullptr);
        const QDateTime ora = QDateTime::currentDateTime();
        registra(*archivio, u"SN-1"_s, {10}, ora.addSecs(-3), u"a.banco"_s, u"A"_s);
        registra(*archivio, u"SN-2"_s, {12}, ora.addSecs(-2), u"a.banco"_s, u"B"_s);
        registra(*archivio, u"SN-3"_s, {14}, ora.addSecs(-1));
        FinestraStorico f(std::make_unique<LettoreStorico>(Destinazione::Scelta{file, {}}));
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        const auto colonna = [](const QTableView *t, int c) {
            QStringList celle;
            for (int r = 0; r < t->model()->rowCount(); ++r)
                celle << t->model()->index(r, c).data().toString();
            return celle.join(u',');
        };
        auto *statistiche = f.findChild<QTableView *>(u"Statistiche per riga"_s);
        auto *rese = f.findChild<QTableView *>(u"Rese per banco"_s);
        f.findChild<QTabWidget *>(u"schede"_s)->setCurrentIndex(1);
        QTRY_COMPARE(colonna(statistiche, 10), u"12"_s); // the mean of every run
        QVERIFY(statistiche->isColumnHidden(0));
        f.findChild<QCheckBox *>(u"perPosto"_s)->setChecked(true);
        QTRY_COMPARE(colonna(statistiche, 0), u"A,B,tutti"_s);
        QCOMPARE(colonna(statistiche, 10), u"10,12,12"_s);
        QCOMPARE(colonna(rese, 0) + u';' + colonna(rese, 2), u"A,B,tutti;1,1,3"_s);
        QVERIFY(!statistiche->isColumnHidden(0) && !rese->isColumnHidden(0));

        auto *posto = f.findChild<QLineEdit *>(u"filtroPosto"_s);
        posto->setText(u"B"_s);
        QTest::keyClick(posto, Qt::Key_Return);
        auto *prove = f.findChild<QTableView *>(u"Prove"_s);
        QTRY_COMPARE(colonna(prove, ModelloStorico::Unita), u"SN-2"_s);
        QCOMPARE(colonna(prove, ModelloStorico::Posto), u"B"_s);
        QTRY_COMPARE(colonna(statistiche, 0) + u';' + colonna(statistiche, 10), u"B;12"_s);
    }

    void csv_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<int>("riga");
        QTest::addColumn<QString>("campi");
        const auto archivio = Archivio::apriLocale(cartella.filePath(u"csv.sqlite"_s), nullptr);
        registra(*archivio, u"SN-1"_s, {10, 12.5}, {{2026, 12, 10}, {4, 21, 3, 123}, Qt::UTC});
        registra(*archivio, u"SN-2"_s, {}, {{2026, 7, 1}, {22, 0}, Qt::UTC});
        registra(*archivio, u"SN-3"_s, {}, {{2026, 1, 1}, {8, 0}, Qt::UTC}, u"a.banco"_s, u"B"_s);
        const QByteArray prove = FinestraStorico::csvProve(*archivio, {}).value_or("");
        QTest::newRow("prove: una riga per lettura, ora d'inverno")
            << prove << 2
            << u"inizio=2026-12-10T05:21:03.123+01:00;valore=12,5;unita_di_misura=V"_s;
        QTest::newRow("prove: una prova senza letture, ora d'estate")
            << prove << 3 << u"inizio=2026-07-02T00:00:00.000+02:00;valore=;posto="_s;
        QTest::newRow("prove: il posto della prova")
            << prove << 4 << u"unita_in_prova=SN-3;posto=B"_s;
        const auto resa = [](qint64 unita, qint64 prove, qint64 primo, qint64 ultimo, qint64 ripetere) {
            ResaBanco r;
            r.banco = u"a.banco"_s;
            r.unita = unita;
            r.prove = prove;
            r.conformiAlPrimo = primo;
            r.conformiAllUltimo = ultimo;
            r.daRipetere = ripetere;
            return r;
        };
        StatisticaRiga s;
        s.unitaMisura = u"V"_s;
        s.cpk = 1.3333333;
        const QByteArray cifre = TestiStorico::csvStatistiche({s}, {resa(3, 5, 2, 3, 4)});
        QTest::newRow("statistiche: unità, Cpk intero")
            << cifre << 1 << u"unita_di_misura=V;cpk=1,3333333"_s;
        QTest::newRow("statistiche: rese e prove da ripetere")
            << cifre << 4 << u"resa_al_primo_passaggio_percento=66,7;prove_da_ripetere=4"_s;
        const QByteArray perPosto
            = TestiStorico::csvStatistiche({{u"A"_s, {s}, {resa(1, 1, 1, 1, 0)}},
                {{}, {s}, {resa(3, 5, 2, 3, 4)}}});
        QTest::newRow("statistiche per posto: il posto, poi il totale senza")
            << perPosto << 2 << u"posto=;unita_di_misura=V"_s;
        QTest::newRow("rese per posto") << perPosto << 5 << u"posto=A;unita_provate=1"_s;
    }

    // An export's line has the values its header names (the header after the last blank line).
    void csv()
    {
        QFETCH(QByteArray, csv);
        QFETCH(int, riga);
        QFETCH(QString, campi);
        const QStringList righe = QString::fromUtf8(csv).split(u"\r\n"_s);
        const QStringList nomi = righe.value(righe.lastIndexOf(QString(), riga) + 1).split(u';');
        for (const QString &campo : campi.split(u';')) {
            const QString nome = campo.section(u'=', 0, 0);
            QCOMPARE(
                nome + u'=' + righe[riga].split(u';').value(nomi.indexOf(nome), u"?"_s), campo);
        }
    }
};

QTEST_MAIN(TestStorico)

#include "test_storico.moc"
