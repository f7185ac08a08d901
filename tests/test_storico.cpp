// The history window on a station's file of the test's own: a refresh keeps what the user looks
// at, a refused filter leaves nothing of the last one, the window fits its screen, the exports
// and the chart say what their values are.

#include "archivio.h"
#include "finestra_storico.h"
#include "grafico_storico.h"
#include "lettore_storico.h"
#include "modello_storico.h"
#include "testi_storico.h"

#include <QApplication>
#include <QChartView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QValueAxis>

#include <ctime>

class TestStorico : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void aggiornaTieneCioCheSiGuarda();
    void filtroRifiutatoNonLasciaNulla();
    void entraInUnoSchermo1280x1024();
    void csvDelleProveConLeLetture_data();
    void csvDelleProveConLeLetture();
    void csvDelleStatisticheConLeRese();
    void graficoConUnitaELimiti();

private:
    // A run of bench banco for unit, at inizio, with the values of row "Tensione" (0 … 20 V).
    static void registra(Archivio &archivio, const QString &unita, const QString &banco,
        const QList<double> &valori, const QDateTime &inizio = QDateTime::currentDateTime());
    std::unique_ptr<FinestraStorico> apri(const QString &file);
};

void TestStorico::initTestCase()
{
    qputenv("TZ", "Europe/Rome");
    ::tzset();
}

void TestStorico::registra(Archivio &archivio, const QString &unita, const QString &banco,
    const QList<double> &valori, const QDateTime &inizio)
{
    ProvaArchiviata p;
    p.unita = unita;
    p.banco = banco;
    p.shaBanco = banco;
    p.stazione = QStringLiteral("S1");
    p.inizio = inizio;
    QVERIFY2(archivio.iniziaProva(p), qPrintable(archivio.errore()));
    for (qsizetype n = 0; n < valori.size(); ++n) {
        const double valore = valori[n];
        LetturaArchiviata l;
        l.n = int(n);
        l.nome = QStringLiteral("Tensione");
        l.memoria = QStringLiteral("000C");
        l.valore = valore;
        l.valoreMostrato = QString::number(valore) + QStringLiteral(" V");
        l.minimo = 0;
        l.massimo = 20;
        l.stato = QStringLiteral("entro i limiti");
        l.istante = inizio.addMSecs(250);
        QVERIFY(archivio.registraLettura(p.uuid, l));
    }
    QVERIFY(archivio.finisciProva(p.uuid, Esiti::kConforme));
}

std::unique_ptr<FinestraStorico> TestStorico::apri(const QString &file)
{
    auto finestra = std::make_unique<FinestraStorico>(
        std::make_unique<LettoreStorico>(Destinazione::Scelta{file, std::nullopt}));
    finestra->show();
    return finestra;
}

// F5 reads the same filter again: a run added meanwhile shows, and the tab, the run chosen and
// its readings stay.
void TestStorico::aggiornaTieneCioCheSiGuarda()
{
    QTemporaryDir cartella;
    const QString file = cartella.filePath(QStringLiteral("archivio.sqlite"));
    std::unique_ptr<Archivio> archivio = Archivio::apriLocale(file, nullptr);
    const QDateTime ora = QDateTime::currentDateTime();
    registra(*archivio, QStringLiteral("SN-1"), QStringLiteral("a.banco"), {10}, ora.addSecs(-60));
    auto finestra = apri(file);
    finestra->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(finestra.get()));
    ModelloStorico &prove = finestra->modello();
    auto *stato = finestra->findChild<QLabel *>(QStringLiteral("statoStorico"));
    QTRY_VERIFY(stato->text().endsWith(QStringLiteral(" 1 prova.")));
    registra(*archivio, QStringLiteral("SN-2"), QStringLiteral("a.banco"), {11}, ora.addSecs(-30));
    QTest::keyClick(finestra.get(), Qt::Key_F5);
    QTRY_COMPARE(prove.rowCount(), 2);
    QTRY_VERIFY(stato->text().endsWith(QStringLiteral(" 2 prove.")));

    auto *vista = finestra->findChild<QTableView *>(QStringLiteral("Prove"));
    vista->setCurrentIndex(prove.index(1, ModelloStorico::Unita));
    auto *letture = finestra->findChild<QTableView *>(QStringLiteral("Letture della prova"));
    QTRY_COMPARE(letture->model()->rowCount(), 1);
    auto *schede = finestra->findChild<QTabWidget *>(QStringLiteral("schede"));

    registra(*archivio, QStringLiteral("SN-3"), QStringLiteral("a.banco"), {12}, ora);
    QTest::keyClick(finestra.get(), Qt::Key_F5);
    QTRY_COMPARE(prove.rowCount(), 3);
    QTRY_VERIFY(vista->currentIndex().isValid());
    QCOMPARE(vista->currentIndex().row(), 2);
    QCOMPARE(prove.prova(vista->currentIndex().row()).unita, QStringLiteral("SN-1"));
    QTRY_COMPARE(letture->model()->rowCount(), 1);
    QCOMPARE(letture->model()->index(0, 4).data().toString(), QStringLiteral("10 V"));
    QCOMPARE(schede->currentIndex(), 0);
}

// A date that cannot be read clears the runs, their readings, the figures and the chart, and
// says why; the export refuses too.
void TestStorico::filtroRifiutatoNonLasciaNulla()
{
    QTemporaryDir cartella;
    const QString file = cartella.filePath(QStringLiteral("archivio.sqlite"));
    {
        std::unique_ptr<Archivio> archivio = Archivio::apriLocale(file, nullptr);
        for (double v : {10.0, 11.0, 12.0})
            registra(*archivio, QStringLiteral("SN-%1").arg(v), QStringLiteral("a.banco"), {v});
    }
    auto finestra = apri(file);
    ModelloStorico &prove = finestra->modello();
    QTRY_COMPARE(prove.rowCount(), 3);
    auto *vista = finestra->findChild<QTableView *>(QStringLiteral("Prove"));
    vista->setCurrentIndex(prove.index(0, 0));
    auto *letture = finestra->findChild<QTableView *>(QStringLiteral("Letture della prova"));
    QTRY_COMPARE(letture->model()->rowCount(), 1);
    auto *schede = finestra->findChild<QTabWidget *>(QStringLiteral("schede"));
    schede->setCurrentIndex(1);
    auto *statistiche = finestra->findChild<QTableView *>(QStringLiteral("Statistiche per riga"));
    QTRY_COMPARE(statistiche->model()->rowCount(), 1);
    // Values 10, 11, 12 within 0 … 20: mean 11, deviation 1, Cpk 3, to two decimals; the unit
    // from the values as shown, "10 V", where the archive keeps none.
    const QAbstractItemModel *cifre = statistiche->model();
    QStringList visti;
    for (int colonna = 0; colonna < cifre->columnCount(); ++colonna) {
        visti << cifre->headerData(colonna, Qt::Horizontal).toString() + u'='
                + cifre->index(0, colonna).data().toString();
    }
    QVERIFY2(visti.contains(QStringLiteral("Cpk=3,00")), qPrintable(visti.join(u' ')));
    QVERIFY2(visti.contains(QStringLiteral("Unità di misura=V")), qPrintable(visti.join(u' ')));
    auto *riga = finestra->findChild<QComboBox *>(QStringLiteral("rigaGrafico"));
    QTRY_COMPARE(riga->count(), 1);

    auto *dal = finestra->findChild<QLineEdit *>(QStringLiteral("filtroDal"));
    dal->setText(QStringLiteral("2026-13-45"));
    QTest::keyClick(dal, Qt::Key_Return);
    auto *stato = finestra->findChild<QLabel *>(QStringLiteral("statoStorico"));
    QVERIFY2(stato->text().contains(QStringLiteral("2026-13-45")), qPrintable(stato->text()));
    QCOMPARE(prove.rowCount(), 0);
    QCOMPARE(letture->model()->rowCount(), 0);
    QCOMPARE(statistiche->model()->rowCount(), 0);
    for (QTableView *tabella : finestra->findChildren<QTableView *>())
        QVERIFY2(tabella->model()->rowCount() == 0, qPrintable(tabella->objectName()));
    QCOMPARE(riga->count(), 0);
    QVERIFY(!prove.totale());
    // Nor are the last filter's figures asked for again by another tab or a refresh.
    auto *cifreDette = finestra->findChild<QLabel *>(QStringLiteral("statoStatistiche"));
    const QString rifiuto = cifreDette->text();
    QVERIFY(rifiuto.contains(QStringLiteral("2026-13-45")));
    schede->setCurrentIndex(0);
    schede->setCurrentIndex(2);
    QCOMPARE(cifreDette->text(), rifiuto);
    finestra->aggiorna();
    QCOMPARE(cifreDette->text(), rifiuto);
    QCOMPARE(prove.rowCount(), 0);
}

// Every button is on a 1280×1024 screen, whatever the number of benches and rows whose figures
// the window shows.
void TestStorico::entraInUnoSchermo1280x1024()
{
    const QRect schermo = QApplication::primaryScreen()->geometry();
    if (schermo.width() < 1280 || schermo.height() < 1024)
        QSKIP("needs a screen of 1280×1024");
    QTemporaryDir cartella;
    const QString file = cartella.filePath(QStringLiteral("archivio.sqlite"));
    {
        std::unique_ptr<Archivio> archivio = Archivio::apriLocale(file, nullptr);
        QSqlDatabase db = archivio->database();
        db.transaction();
        for (int banco = 0; banco < 60; ++banco) {
            registra(*archivio, QStringLiteral("SN-%1").arg(banco),
                QStringLiteral("linea-%1.banco").arg(banco), {10});
        }
        QVERIFY(db.commit());
    }
    auto finestra = apri(file);
    QVERIFY(QTest::qWaitForWindowExposed(finestra.get()));
    finestra->findChild<QTabWidget *>(QStringLiteral("schede"))->setCurrentIndex(1);
    auto *statistiche = finestra->findChild<QTableView *>(QStringLiteral("Statistiche per riga"));
    QTRY_COMPARE(statistiche->model()->rowCount(), 60);
    QCoreApplication::processEvents();
    QVERIFY2(finestra->minimumSizeHint().height() <= 1024,
        qPrintable(QString::number(finestra->minimumSizeHint().height())));
    QVERIFY(finestra->frameGeometry().width() <= 1280);
    QVERIFY(finestra->frameGeometry().height() <= 1024);
    for (QPushButton *pulsante : finestra->findChildren<QPushButton *>()) {
        const QRect dove(pulsante->mapToGlobal(QPoint(0, 0)), pulsante->size());
        QVERIFY2(pulsante->isVisible() && QRect(0, 0, 1280, 1024).contains(dove),
            qPrintable(pulsante->text()));
    }
}

void TestStorico::csvDelleProveConLeLetture_data()
{
    QTest::addColumn<QDateTime>("inizio");
    QTest::addColumn<QString>("scritto");
    QTest::newRow("inverno, UTC+1") << QDateTime(QDate(2026, 12, 10), QTime(4, 21, 3, 123), Qt::UTC)
                                    << "2026-12-10T05:21:03.123+01:00";
    QTest::newRow("estate, UTC+2")
        << QDateTime(QDate(2026, 7, 1), QTime(22, 0), Qt::UTC) << "2026-07-02T00:00:00.000+02:00";
}

// The runs' export: a line per reading with its run's columns, times in local time with their
// offset, the unit of each value; a run without readings keeps a line.
void TestStorico::csvDelleProveConLeLetture()
{
    QFETCH(QDateTime, inizio);
    QTemporaryDir cartella;
    std::unique_ptr<Archivio> archivio
        = Archivio::apriLocale(cartella.filePath(QStringLiteral("archivio.sqlite")), nullptr);
    registra(*archivio, QStringLiteral("SN-1"), QStringLiteral("a.banco"), {10, 12.5}, inizio);
    registra(*archivio, QStringLiteral("SN-2"), QStringLiteral("a.banco"), {}, inizio.addDays(-1));
    const std::optional<QByteArray> csv = FinestraStorico::csvProve(*archivio, {});
    QVERIFY(csv);
    QStringList righe = QString::fromUtf8(*csv).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(righe.size(), 4);
    const QChar separatore = righe[0].contains(u';') ? u';' : u',';
    const QStringList intestazione = righe[0].split(separatore);
    const auto campo = [&](int riga, const char *nome) {
        return righe[riga].split(separatore).value(intestazione.indexOf(QLatin1String(nome)));
    };
    QFETCH(QString, scritto);
    QCOMPARE(campo(1, "inizio"), scritto);
    QCOMPARE(campo(1, "unita_in_prova"), QStringLiteral("SN-1"));
    QCOMPARE(campo(2, "unita_in_prova"), QStringLiteral("SN-1"));
    QCOMPARE(campo(2, "valore"), QStringLiteral("12,5"));
    QCOMPARE(campo(2, "unita_di_misura"), QStringLiteral("V"));
    QCOMPARE(campo(2, "limite_massimo"), QStringLiteral("20"));
    QCOMPARE(campo(3, "unita_in_prova"), QStringLiteral("SN-2"));
    QCOMPARE(campo(3, "valore"), QString());
}

// The statistics' export names each column, the yields with the runs to be read again.
void TestStorico::csvDelleStatisticheConLeRese()
{
    StatisticaRiga s;
    s.banco = QStringLiteral("a.banco");
    s.nome = QStringLiteral("Tensione");
    s.unitaMisura = QStringLiteral("V");
    s.cpk = 1.3333333;
    ResaBanco r{QStringLiteral("a.banco"), 3, 5, 2, 3, 4};
    const QStringList righe
        = QString::fromUtf8(TestiStorico::csvStatistiche({s}, {r})).split(QStringLiteral("\r\n"));
    const qsizetype vuota = righe.indexOf(QString());
    QVERIFY(vuota > 0);
    const QChar separatore = righe[0].contains(u';') ? u';' : u',';
    // A column that is not there reads as its absence.
    const auto campo = [&](int intestazione, int riga, const char *nome) {
        const QStringList nomi = righe[intestazione].split(separatore);
        return nomi.contains(QLatin1String(nome))
            ? righe[riga].split(separatore).value(nomi.indexOf(QLatin1String(nome)))
            : QStringLiteral("(manca %1)").arg(QLatin1String(nome));
    };
    QCOMPARE(campo(0, 1, "unita_di_misura"), QStringLiteral("V"));
    QCOMPARE(campo(0, 1, "cpk"), QStringLiteral("1,3333333"));
    const int rese = int(vuota) + 1;
    QCOMPARE(campo(rese, rese + 1, "resa_al_primo_passaggio_percento"), QStringLiteral("66,7"));
    QCOMPARE(campo(rese, rese + 1, "resa_finale_percento"), QStringLiteral("100,0"));
    QCOMPARE(campo(rese, rese + 1, "prove_da_ripetere"), QStringLiteral("4"));
}

// The value axis is titled with the row's unit, the two limits are two series the legend names,
// and a point under the pointer tells its unit, time and value.
void TestStorico::graficoConUnitaELimiti()
{
    GraficoStorico grafico;
    grafico.show();
    const QDateTime inizio(QDate(2026, 12, 10), QTime(4, 21, 3), Qt::UTC);
    grafico.mostra({{inizio, QStringLiteral("SN-7"), 12.5, false, QString()},
                       {inizio.addSecs(60), QStringLiteral("SN-8"), 25, true, QString()}},
        QStringLiteral("Tensione"), QStringLiteral("V"), 0.0, 20.0);
    QChart *chart = grafico.findChild<QChartView *>()->chart();
    QCOMPARE(chart->axes(Qt::Vertical).value(0)->titleText(), QStringLiteral("Tensione (V)"));
    QLineSeries *minimo = nullptr, *massimo = nullptr, *valori = nullptr;
    for (QAbstractSeries *s : chart->series()) {
        if (s->name() == QStringLiteral("limite minimo"))
            minimo = qobject_cast<QLineSeries *>(s);
        else if (s->name() == QStringLiteral("limite massimo"))
            massimo = qobject_cast<QLineSeries *>(s);
        else if (s->name() == QStringLiteral("valore"))
            valori = qobject_cast<QLineSeries *>(s);
    }
    QVERIFY(minimo && massimo && valori);
    QVERIFY(minimo->pen().color() != massimo->pen().color());
    QVERIFY(minimo->pen().style() != massimo->pen().style());
    QCOMPARE(minimo->at(0).y(), 0.0);
    QCOMPARE(massimo->at(0).y(), 20.0);
    emit valori->hovered(QPointF(2, 25), true);
    QTRY_VERIFY(QToolTip::isVisible());
    QVERIFY2(QToolTip::text().contains(QStringLiteral("SN-8"))
            && QToolTip::text().contains(QStringLiteral("2026-12-10 05:22:03"))
            && QToolTip::text().contains(QStringLiteral("25 V")),
        qPrintable(QToolTip::text()));
}

QTEST_MAIN(TestStorico)

#include "test_storico.moc"
