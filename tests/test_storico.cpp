// The history window on a station's file of the test's own, its exports and its chart.

#include "finestra_storico.h"
#include "grafico_storico.h"
#include "lettore_storico.h"
#include "modello_storico.h"
#include "rapporto.h"
#include "testi_storico.h"

#include <QSqlQuery>
#include <QtCharts>
#include <QtTest>
#include <QtWidgets>

using namespace Qt::StringLiterals;

// A run of banco for unit, with the values of its rows "Tensione", "Riga 2", … (limits 0 … 20,
// shown in V), judged against them; a reference unit's with the outcome it must give.
static void registra(Archivio &archivio, const QString &unita, const QList<double> &valori,
    const QDateTime &inizio, const QString &banco = u"a.banco"_s, const QString &posto = {},
    const QString &campione = {}, bool senzaCampioni = false)
{
    ProvaArchiviata p;
    p.unita = unita;
    p.posto = posto;
    p.campione = campione;
    p.senzaCampioni = senzaCampioni;
    p.banco = p.shaBanco = banco;
    p.inizio = inizio;
    QVERIFY2(archivio.iniziaProva(p), qPrintable(archivio.errore()));
    bool conforme = true;
    for (LetturaArchiviata l; l.n < valori.size(); ++l.n) {
        l.nome = l.n == 0 ? u"Tensione"_s : u"Riga %1"_s.arg(l.n + 1);
        l.valore = valori[l.n];
        l.valoreMostrato = u"%1 V"_s.arg(valori[l.n]);
        l.minimo = 0;
        l.massimo = 20;
        const bool entro = valori[l.n] >= 0 && valori[l.n] <= 20;
        l.stato = entro ? u"entro i limiti"_s : u"fuori dai limiti"_s;
        l.giudizio = entro ? LetturaArchiviata::Giudizio::Buona
                           : LetturaArchiviata::Giudizio::FuoriDaiLimiti;
        conforme = conforme && entro;
        l.istante = inizio;
        QVERIFY(archivio.registraLettura(p.uuid, l));
    }
    QVERIFY2(archivio.finisciProva(p.uuid, conforme ? Esiti::kConforme : Esiti::kNonConforme),
        qPrintable(archivio.errore()));
}

// The control chart's series by their legend's names.
static QHash<QString, QXYSeries *> serieDelGrafico(const QWidget &finestra)
{
    QHash<QString, QXYSeries *> serie;
    for (QAbstractSeries *s :
        finestra.findChild<GraficoStorico *>()->findChild<QChartView *>()->chart()->series())
        serie.insert(s->name(), qobject_cast<QXYSeries *>(s));
    return serie;
}

// A horizontal line's height.
static double altezza(const QXYSeries *linea)
{
    return linea->count() ? linea->at(0).y() : qQNaN();
}

class TestStorico : public QObject
{
    Q_OBJECT
    QTemporaryDir cartella;

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Rome");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(cartella.filePath(u"impostazioni"_s)));
    }

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
        QTRY_VERIFY2(cifre().contains(u"Cpk=3,38;"_s) && cifre().contains(u"Ppk=3,00;"_s)
                && cifre().contains(u"Unità di misura=V;"_s),
            qPrintable(cifre()));
        for (QPushButton *b : f.findChildren<QPushButton *>())
            QVERIFY2(QRect(0, 0, 1280, 1024).contains(QRect(b->mapToGlobal(QPoint()), b->size())),
                qPrintable(b->text()));
        schede->setCurrentIndex(2);
        QChart *chart = f.findChild<GraficoStorico *>()->findChild<QChartView *>()->chart();
        QTRY_COMPARE(chart->axes(Qt::Vertical).value(0)->titleText(), u"Tensione (V)"_s);
        const QHash<QString, QXYSeries *> serie = serieDelGrafico(f);
        QTRY_COMPARE(serie.value(u"Valore"_s)->count(), 3);
        QCOMPARE(altezza(serie.value(u"Limite inferiore (specifica)"_s)), 0.0);
        QCOMPARE(altezza(serie.value(u"Limite superiore (specifica)"_s)), 20.0);
        emit serie.value(u"Valore"_s)->hovered(QPointF(3, 12), true);
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
    // chooses its runs, shown with their socket, and its figures and chart only.
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
        QCOMPARE(colonna(rese, 0) + u';' + colonna(rese, 3), u"A,B,tutti;1,1,3"_s);
        QVERIFY(!statistiche->isColumnHidden(0) && !rese->isColumnHidden(0));
        // The chart's row has a series at each socket and one without: the choice of it shows.
        f.findChild<QTabWidget *>(u"schede"_s)->setCurrentIndex(2);
        auto *serie = f.findChild<QComboBox *>(u"serieGrafico"_s);
        QTRY_COMPARE(serie->count(), 3);
        QVERIFY(serie->isVisible());

        auto *posto = f.findChild<QLineEdit *>(u"filtroPosto"_s);
        posto->setText(u"B"_s);
        QTest::keyClick(posto, Qt::Key_Return);
        auto *prove = f.findChild<QTableView *>(u"Prove"_s);
        QTRY_COMPARE(colonna(prove, ModelloStorico::Unita), u"SN-2"_s);
        QCOMPARE(colonna(prove, ModelloStorico::Posto), u"B"_s);
        QTRY_COMPARE(colonna(statistiche, 0) + u';' + colonna(statistiche, 10), u"B;12"_s);
        QTRY_COMPARE(serie->count(), 1);
        QVERIFY(!serie->isVisible());
    }

    // A hand-made series with one value far beyond the rest: that value is marked with rule 1,
    // the chart's control limits are those of the analysis, and the point tells its unit.
    void carta()
    {
        SerieCarta serie;
        serie.nome = u"Tensione"_s;
        serie.unitaMisura = u"V"_s;
        serie.minimo = 0;
        serie.massimo = 20;
        const QDateTime inizio({2026, 12, 10}, {9, 0}, Qt::UTC);
        for (int i = 0; i < 20; ++i) {
            serie.valori << (i == 14 ? 13.0 : (i % 2 ? 10.2 : 9.8));
            serie.unita << u"SN-%1"_s.arg(i + 1);
            serie.prove << u"prova-%1"_s.arg(i + 1);
            serie.inizi << inizio.addSecs(60 * i);
        }
        const CartaControllo::Analisi analisi = analizza(serie, false);
        QWidget finestra;
        auto *grafico = new GraficoStorico(&finestra);
        (new QVBoxLayout(&finestra))->addWidget(grafico);
        finestra.resize(900, 700);
        finestra.show();
        QVERIFY(QTest::qWaitForWindowExposed(&finestra));
        grafico->mostra(serie, analisi);
        const QHash<QString, QXYSeries *> linee = serieDelGrafico(finestra);
        QXYSeries *regola1 = linee.value(u"Regola violata (numero)"_s);
        QCOMPARE(regola1->points(), QList<QPointF>{QPointF(15, 13)});
        // Its number stands over it.
        QChart *chart = finestra.findChild<QChartView *>()->chart();
        const QPointF sopra = chart->mapToPosition(QPointF(15, 13), regola1);
        QStringList numeri;
        for (QGraphicsItem *parte : chart->childItems()) {
            if (auto *testo = dynamic_cast<QGraphicsSimpleTextItem *>(parte);
                testo && testo->isVisible()
                && std::abs(testo->mapToParent(testo->boundingRect().center()).x() - sopra.x()) < 2
                && testo->pos().y() < sopra.y())
                numeri << testo->text();
        }
        QCOMPARE(numeri, QStringList{u"1"_s});
        QCOMPARE(altezza(linee.value(u"LCS (controllo)"_s)), analisi.limiti->superiore());
        QCOMPARE(altezza(linee.value(u"Media"_s)), analisi.limiti->centro);
        QCOMPARE(altezza(linee.value(u"Limite superiore (specifica)"_s)), 20.0);
        emit regola1->hovered(QPointF(15, 13), true);
        QTRY_VERIFY(QToolTip::isVisible());
        for (const QString &parte : {u"SN-15"_s, u"13 V"_s, CartaControllo::testoRegola(1)})
            QVERIFY2(QToolTip::text().contains(parte), qPrintable(QToolTip::text()));
        QToolTip::hideText();
    }

    // Limits fixed from the window are recorded on the station's file with who fixed them, and
    // the chart keeps to them once new values would have moved limits computed from the values.
    void fissaLimiti()
    {
        const QString file = cartella.filePath(u"limiti.sqlite"_s);
        const std::unique_ptr<Archivio> archivio = Archivio::apriLocale(file, nullptr);
        const QDateTime ora = QDateTime::currentDateTime();
        for (int i = 0; i < 10; ++i)
            registra(*archivio, u"SN-%1"_s.arg(i), {i % 2 ? 10.5 : 9.5}, ora.addSecs(i - 100));
        FinestraStorico f(std::make_unique<LettoreStorico>(Destinazione::Scelta{file, {}}));
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.findChild<QTabWidget *>(u"schede"_s)->setCurrentIndex(2);
        auto *fissa = f.findChild<QPushButton *>(u"fissaLimiti"_s);
        QTRY_VERIFY(fissa->isEnabled());
        fissa->click();
        QInputDialog *dialogo = nullptr;
        QTRY_VERIFY((dialogo = f.findChild<QInputDialog *>(u"dialogoLimiti"_s)));
        dialogo->setTextValue(u" Anna Rossi "_s);
        dialogo->accept();
        QList<LimitiCarta> fissati;
        QTRY_COMPARE((fissati = archivio->limitiFissati().value_or(QList<LimitiCarta>())).size(), 1);
        QCOMPARE(fissati[0].operatore, u"Anna Rossi"_s);
        QCOMPARE(fissati[0].valori, 10);
        QCOMPARE(fissati[0].centro, 10.0);
        const double lcs = 10.0 + CartaControllo::kE2 * 1.0;
        // Two values far up: from all twelve values the limits would widen; the set fixed
        // keeps them, and marks both.
        registra(*archivio, u"SN-10"_s, {14}, ora.addSecs(-10));
        registra(*archivio, u"SN-11"_s, {14}, ora.addSecs(-5));
        f.aggiorna();
        const QHash<QString, QXYSeries *> linee = serieDelGrafico(f);
        QTRY_COMPARE(linee.value(u"Valore"_s)->count(), 12);
        QCOMPARE(altezza(linee.value(u"LCS (controllo)"_s)), lcs);
        QVERIFY2(f.findChild<QLabel *>(u"riassuntoCarta"_s)->text().contains(u"Anna Rossi"_s),
            qPrintable(f.findChild<QLabel *>(u"riassuntoCarta"_s)->text()));
        QCOMPARE(f.findChild<QListWidget *>(u"violazioni"_s)->count(), 2);
    }

    // "Regole 5-8" adds rules 5 to 8 to the chart, here six values steadily rising within the
    // limits, and is remembered for the next window.
    void regole5A8()
    {
        const QString file = cartella.filePath(u"regole.sqlite"_s);
        const std::unique_ptr<Archivio> archivio = Archivio::apriLocale(file, nullptr);
        const QDateTime ora = QDateTime::currentDateTime();
        const QList<double> valori{10.3, 9.7, 10.3, 9.7, 10.3, 9.7, 10.3, 9.7, 9.8, 9.85, 9.9, 9.95,
            10.0};
        for (qsizetype i = 0; i < valori.size(); ++i)
            registra(*archivio, u"SN-%1"_s.arg(i + 1), {valori[i]}, ora.addSecs(i - 100));
        auto f = std::make_unique<FinestraStorico>(
            std::make_unique<LettoreStorico>(Destinazione::Scelta{file, {}}));
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.get()));
        f->findChild<QTabWidget *>(u"schede"_s)->setCurrentIndex(2);
        auto *riassunto = f->findChild<QLabel *>(u"riassuntoCarta"_s);
        QTRY_VERIFY2(riassunto->text().contains(u"Nessun valore viola le regole 1-4."_s),
            qPrintable(riassunto->text()));
        f->findChild<QCheckBox *>(u"regole5A8"_s)->setChecked(true);
        QVERIFY2(riassunto->text().contains(u"1 valore viola le regole 1-8"_s),
            qPrintable(riassunto->text()));
        QVERIFY(f->findChild<QListWidget *>(u"violazioni"_s)->item(0)->text().startsWith(
            u"Valore 13 di 13, unità SN-13"_s));
        f.reset();
        FinestraStorico dopo(std::make_unique<LettoreStorico>(Destinazione::Scelta{file, {}}));
        QVERIFY(dopo.findChild<QCheckBox *>(u"regole5A8"_s)->isChecked());
        dopo.findChild<QCheckBox *>(u"regole5A8"_s)->setChecked(false);
    }

    // Each row's first-pass rate counts the units whose first run passed it: a unit that failed
    // a row and passed it on its retest counts against that row only; the retest rate counts
    // the runs beyond each unit's first.
    void reseRighe()
    {
        const QString file = cartella.filePath(u"rese.sqlite"_s);
        const std::unique_ptr<Archivio> archivio = Archivio::apriLocale(file, nullptr);
        const QDateTime ora = QDateTime::currentDateTime();
        registra(*archivio, u"SN-1"_s, {10, 10}, ora.addSecs(-40));
        registra(*archivio, u"SN-2"_s, {10, 25}, ora.addSecs(-30));
        registra(*archivio, u"SN-2"_s, {10, 10}, ora.addSecs(-20));
        registra(*archivio, u"SN-3"_s, {30, 25}, ora.addSecs(-10));
        registra(*archivio, u"SN-4"_s, {10, 10}, ora);
        FinestraStorico f(std::make_unique<LettoreStorico>(Destinazione::Scelta{file, {}}));
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        f.findChild<QTabWidget *>(u"schede"_s)->setCurrentIndex(1);
        const QAbstractItemModel *righe = f.findChild<QTableView *>(u"Rese per riga"_s)->model();
        const auto colonne = [righe](int riga) {
            QString campi;
            for (int c = 1; c < righe->columnCount(); ++c)
                campi += righe->headerData(c, Qt::Horizontal).toString() + u'='
                    + righe->index(riga, c).data().toString() + u';';
            return campi;
        };
        QTRY_COMPARE(righe->rowCount(), 2);
        for (const auto &[riga, atteso] : {std::pair{0, u"Nome=Tensione;Unità=4;"
                                                         u"Conformi al primo passaggio=3;Resa al "
                                                         u"primo passaggio=75,0 %;Prove fallite=1;"_s},
                 std::pair{1, u"Nome=Riga 2;Unità=4;Conformi al primo passaggio=2;Resa al primo "
                              u"passaggio=50,0 %;Prove fallite=2;"_s}})
            QVERIFY2(colonne(riga).contains(atteso), qPrintable(colonne(riga)));
        // Five runs of four units: one retest in four units.
        const QAbstractItemModel *banchi = f.findChild<QTableView *>(u"Rese per banco"_s)->model();
        QCOMPARE(banchi->index(0, banchi->columnCount() - 1).data().toString(), u"25,0 %"_s);
    }

    void campioni_data()
    {
        QTest::addColumn<QString>("scelta");
        QTest::addColumn<QString>("elenco"); // unit: outcome shown, newest first
        const auto archivio
            = Archivio::apriLocale(cartella.filePath(u"campioni.sqlite"_s), nullptr);
        const QDateTime ora = QDateTime::currentDateTime();
        registra(*archivio, u"SN-1"_s, {10}, ora.addSecs(-3));
        registra(*archivio, u"C-1"_s, {30}, ora.addSecs(-2), u"a.banco"_s, {}, Esiti::kNonConforme);
        registra(*archivio, u"SN-2"_s, {10}, ora.addSecs(-1), u"a.banco"_s, {}, {}, true);
        const QString sn2 = u"SN-2: conforme (senza campioni);"_s, sn1 = u"SN-1: conforme;"_s,
                      c1 = u"C-1: non conforme (campione: deve risultare non conforme);"_s;
        QTest::newRow("esclusi: la produzione") << u"esclusi"_s << sn2 + sn1;
        QTest::newRow("soltanto i campioni, con l'esito che devono dare")
            << u"soltanto i campioni"_s << c1;
        QTest::newRow("inclusi: tutte") << u"inclusi"_s << sn2 + c1 + sn1;
    }

    // The «Campioni» filter chooses the runs listed; the figures count the production units'
    // runs only, whatever it says.
    void campioni()
    {
        QFETCH(QString, scelta);
        QFETCH(QString, elenco);
        FinestraStorico f(std::make_unique<LettoreStorico>(
            Destinazione::Scelta{cartella.filePath(u"campioni.sqlite"_s), {}}));
        auto *filtro = f.findChild<QComboBox *>(u"filtroCampioni"_s);
        filtro->setCurrentIndex(filtro->findText(scelta));
        QVERIFY(filtro->currentIndex() >= 0);
        const auto mostrate = [&m = f.modello()] {
            QString testo;
            for (int r = 0; r < m.rowCount(); ++r)
                testo += m.prova(r).unita + u": "_s
                    + m.index(r, ModelloStorico::Esito).data().toString() + u';';
            return testo;
        };
        QTRY_COMPARE(mostrate(), elenco);
        f.findChild<QTabWidget *>(u"schede"_s)->setCurrentIndex(1);
        const QAbstractItemModel *rese = f.findChild<QTableView *>(u"Rese per banco"_s)->model();
        QTRY_COMPARE(rese->index(0, 3).data().toString(), u"2"_s); // units: SN-1 and SN-2
    }

    void rapporto_data()
    {
        QTest::addColumn<QString>("unita");
        QTest::addColumn<QString>("rifiuto"); // empty where the report is written
        QTest::newRow("prova buona: il PDF con l'unità e l'impronta") << u"SN-1"_s << QString();
        QTest::newRow("prova cambiata dopo la fine")
            << u"SN-2"_s << u"è stata cambiata dopo la sua fine: nessun rapporto"_s;
        QTest::newRow("prova in corso") << u"SN-3"_s << u"è ancora in corso: nessun rapporto"_s;
    }

    // Ctrl+P writes the chosen run's report where the operator says, and offers that folder
    // the next time; a run changed after its end, or not ended, gets none.
    void rapporto()
    {
        QFETCH(QString, unita);
        QFETCH(QString, rifiuto);
        const QString pdftotext = QStandardPaths::findExecutable(u"pdftotext"_s);
        if (rifiuto.isEmpty() && pdftotext.isEmpty())
            QSKIP("manca pdftotext (poppler-utils): il testo del PDF non si può rileggere");
        QTemporaryDir dati;
        const auto archivio = Archivio::apriLocale(dati.filePath(u"a.sqlite"_s), nullptr);
        registra(*archivio, u"SN-1"_s, {10, 12}, QDateTime::currentDateTime().addSecs(-3));
        registra(*archivio, u"SN-2"_s, {10, 12}, QDateTime::currentDateTime().addSecs(-2));
        ProvaArchiviata inCorso;
        inCorso.unita = u"SN-3"_s;
        QVERIFY(archivio->iniziaProva(inCorso));
        QVERIFY(QSqlQuery(archivio->database())
                    .exec(u"UPDATE letture SET valore = 11 WHERE prova = "
                          "(SELECT id FROM prove WHERE unita = 'SN-2')"_s));
        FinestraStorico f(std::make_unique<LettoreStorico>(
            Destinazione::Scelta{dati.filePath(u"a.sqlite"_s), {}}));
        f.show();
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        QTRY_COMPARE(f.modello().rowCount(), 3);
        int riga = 0;
        while (f.modello().prova(riga).unita != unita)
            ++riga;
        const ProvaArchiviata prova = f.modello().prova(riga);
        auto *prove = f.findChild<QTableView *>(u"Prove"_s);
        prove->setCurrentIndex(f.modello().index(riga, 0));
        QTest::keyClick(prove, Qt::Key_P, Qt::ControlModifier);
        const QLabel *stato = f.findChild<QLabel *>(u"statoStorico"_s);
        if (!rifiuto.isEmpty()) {
            QTRY_VERIFY2(stato->text().contains(rifiuto), qPrintable(stato->text()));
            QVERIFY(!f.findChild<QFileDialog *>()); // no file to write to
            return;
        }
        QFileDialog *dialogo = nullptr;
        QTRY_VERIFY((dialogo = f.findChild<QFileDialog *>(u"dialogoRapporto"_s)));
        QCOMPARE(QFileInfo(dialogo->selectedFiles().value(0)).fileName(), nomeFileRapporto(prova));
        const QString pdf = dati.filePath(u"rapporto.pdf"_s);
        // As typed: selectFile() leaves alone a name field that has the focus.
        dialogo->findChild<QLineEdit *>(u"fileNameEdit"_s)->setText(pdf);
        const QPointer<QFileDialog> primo = dialogo;
        static_cast<QDialog *>(dialogo)->accept(); // QFileDialog's, which takes the name typed
        QTRY_VERIFY_WITH_TIMEOUT(stato->text().startsWith(u"Rapporto PDF scritto in"_s), 30000);
        QProcess lettore;
        lettore.start(pdftotext, {pdf, u"-"_s});
        QVERIFY(lettore.waitForFinished());
        const QString testo = QString::fromUtf8(lettore.readAllStandardOutput());
        QVERIFY(!prova.impronta.isEmpty());
        for (const QString &atteso : {unita, prova.impronta})
            QVERIFY2(testo.contains(atteso), qPrintable(atteso));
        QTRY_VERIFY(!primo);
        f.findChild<QPushButton *>(u"rapportoStorico"_s)->click();
        QTRY_VERIFY((dialogo = f.findChild<QFileDialog *>(u"dialogoRapporto"_s)));
        QCOMPARE(dialogo->directory().absolutePath(), QFileInfo(pdf).absolutePath());
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
            r.righe = {ResaRiga{1, u"Corrente"_s, unita, primo, prove - primo}};
            return r;
        };
        StatisticaRiga s;
        s.unitaMisura = u"V"_s;
        s.cpk = 1.3333333;
        s.ppk = 0.9;
        const QByteArray cifre = TestiStorico::csvStatistiche({s}, {resa(3, 5, 2, 3, 4)});
        QTest::newRow("statistiche: unità, Cpk intero, Ppk e il giudizio di Cpk")
            << cifre << 1 << u"unita_di_misura=V;cpk=1,3333333;ppk=0,9;giudizio=capace"_s;
        QTest::newRow("statistiche: rese, ripetizioni e prove da ripetere")
            << cifre << 4
            << u"resa_al_primo_passaggio_percento=66,7;tasso_di_ripetizione_percento=66,7;"
               u"prove_da_ripetere=4"_s;
        QTest::newRow("statistiche: rese per riga")
            << cifre << 7
            << u"riga=2;nome_riga=Corrente;resa_al_primo_passaggio_percento=66,7;prove_fallite=3"_s;
        SerieCarta carta;
        carta.valori = {10, 13};
        carta.unita = {u"SN-1"_s, u"SN-2"_s};
        CartaControllo::Analisi analisi;
        analisi.limiti = CartaControllo::Limiti{10, 0.5 / CartaControllo::kD2, 0.5};
        analisi.regole = {{}, {1, 5}};
        QTest::newRow("carta: escursione, limiti e regole del valore")
            << TestiStorico::csvCarta(carta, analisi) << 2
            << u"unita_in_prova=SN-2;valore=13;escursione_mobile=3;lcs=11,33;regole=1 5"_s;
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
