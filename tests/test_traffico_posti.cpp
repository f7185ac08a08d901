#include "banco_prova.h"
#include "finestra_traffico.h"
#include "giro_posti.h"
#include "modello_traffico.h"
#include "processo.h"

#include <QComboBox>
#include <QFile>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// A bench of n rows read at a socket on each of the ports, at addresses 1, 2, ...
DatiBanco banco(const QList<int> &porte, int n)
{
    DatiBanco dati;
    dati.righe.resize(n);
    for (RigaBanco &riga : dati.righe)
        riga.memoria = 0x0008;
    for (qsizetype i = 0; i < porte.size(); ++i) {
        PostoBanco posto;
        posto.nome = QString(QChar(char16_t(u'A' + i)));
        posto.porta = QString::number(porte.at(i));
        posto.strumento = quint16(i + 1);
        dati.posti.append(posto);
    }
    return dati;
}

// The results a record holds, "numero:esito" in its order.
QStringList risultati(const RegistroTraffico &registro)
{
    QStringList testi;
    registro.perOgniRisultato([&](const RisultatoRichiesta &r) {
        testi << QStringLiteral("%1:%2").arg(r.numero).arg(r.testoEsito());
    });
    return testi;
}

} // namespace

class TestTrafficoPosti : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        for (int n = 1; n <= 2; ++n)
            qputenv(qPrintable(QStringLiteral("BANCO_PORTA%1").arg(n)),
                m_cartella.filePath(QStringLiteral("porta%1").arg(n)).toLocal8Bit());
    }
    void lineeNellaFinestra_data();
    void lineeNellaFinestra();
    void pulitaDuranteIlGiro();

private:
    QTemporaryDir m_cartella;
    RegistroTraffico m_pannello;
};

void TestTrafficoPosti::lineeNellaFinestra_data()
{
    QTest::addColumn<QList<int>>("porte"); // each socket's port
    QTest::addColumn<int>("spento"); // the port no instrument answers on, 0 for none
    QTest::newRow("due linee") << QList<int>{1, 2} << 0;
    QTest::newRow("due posti su una linea, uno su un'altra") << QList<int>{1, 1, 2} << 0;
    QTest::newRow("una linea che non si apre") << QList<int>{1, 2} << 2;
}

// Each line's events reach the window's thread whole and in order, each naming its line, before
// their request's result is told; the window shows and saves the line chosen.
void TestTrafficoPosti::lineeNellaFinestra()
{
    QFETCH(QList<int>, porte);
    QFETCH(int, spento);
    StrumentoInProva strumento1, strumento2;
    QVERIFY(strumento1.avvia(m_cartella.filePath("porta1"), {"--indirizzo", "1,2"}));
    if (spento != 2)
        QVERIFY(strumento2.avvia(m_cartella.filePath("porta2"), {"--indirizzo", "2,3"}));
    FinestraTraffico finestra(m_pannello);
    GiroPosti giro(banco(porte, 3), QStringLiteral("la prova"));
    finestra.aggiungiLinee(&giro);
    int finiti = 0;
    QMap<int, QStringList> lette; // per line, in the order told
    connect(&giro, &GiroPosti::letta, this, [&](int posto, int, const RisultatoRichiesta &r) {
        const int linea = porte.at(posto) - 1;
        lette[linea] << QStringLiteral("%1:%2").arg(r.numero).arg(r.testoEsito());
        if (risultati(giro.trafficoLinea(linea)) != lette[linea])
            lette[linea] << QStringLiteral("raccontata prima dei suoi eventi");
    });
    connect(&giro, &GiroPosti::terminato, this, [&] { ++finiti; });
    QString motivo;
    for (int i = 0; i < giro.numeroPosti(); ++i)
        QVERIFY2(giro.avvia(i, &motivo), qPrintable(motivo));
    QTRY_COMPARE_WITH_TIMEOUT(finiti, giro.numeroPosti(), 30000);

    auto *scelta = finestra.findChild<QComboBox *>(QStringLiteral("sceltaLinea"));
    auto *tabella = finestra.findChild<QTableView *>(QStringLiteral("tabellaTraffico"));
    QCOMPARE(scelta->count(), 3);
    for (int linea = 0; linea < 2; ++linea) {
        const QString nome = giro.dispositivoLinea(linea);
        const RegistroTraffico &registro = giro.trafficoLinea(linea);
        QCOMPARE(scelta->itemText(linea + 1), nome);
        QCOMPARE(risultati(registro), lette.value(linea));
        QCOMPARE(registro.primoAssoluto(), quint64(0));
        // Each request after the one before, its bytes those of its result.
        quint32 richiesta = 0;
        QByteArray inviati, ricevuti;
        for (qsizetype riga = 0; riga < registro.size(); ++riga) {
            const RegistroTraffico::Evento &e = registro.evento(riga);
            QCOMPARE(registro.dispositivo(e), nome);
            if (e.tipo == TipoEvento::Inizio) {
                QCOMPARE(e.richiesta, ++richiesta);
                inviati.clear();
                ricevuti.clear();
            }
            if (e.tipo == TipoEvento::Trasmesso)
                inviati.append(char(e.byte));
            if (e.tipo == TipoEvento::Ricevuto)
                ricevuti.append(char(e.byte));
            if (const RisultatoRichiesta *r = registro.risultato(e))
                QCOMPARE(r->inviati + '|' + r->ricevuti, inviati + '|' + ricevuti);
        }
        QCOMPARE(int(richiesta), 3 * int(porte.count(linea + 1)));
        QCOMPARE(registro.evento(registro.size() - 1).tipo,
            linea + 1 == spento ? TipoEvento::Risultato : TipoEvento::Chiusa);

        scelta->setCurrentIndex(linea + 1);
        QCOMPARE(tabella->model()->rowCount(), int(registro.size()));
        for (int riga = 0; riga < registro.size(); ++riga)
            QCOMPARE(
                tabella->model()->index(riga, ModelloTraffico::kColonnaDispositivo).data(), nome);
        const QString file = m_cartella.filePath(QStringLiteral("linea%1.csv").arg(linea));
        QSignalSpy salvato(&finestra, &FinestraTraffico::salvataggioFinito);
        finestra.salvaIn(file);
        QVERIFY(salvato.wait(10000) && salvato.first().first().toBool());
        QFile letto(file);
        QVERIFY(letto.open(QIODevice::ReadOnly));
        const QList<QStringList> righe = leggiCsv(letto.readAll());
        QCOMPARE(righe.size(), registro.size() + 1);
        for (qsizetype riga = 1; riga < righe.size(); ++riga)
            QCOMPARE(righe.at(riga).value(righe.first().indexOf("dispositivo")), nome);
    }
}

// A line's record emptied while its round runs: what follows keeps coming, none of it counted as
// dropped, and the window follows it. The round has more rows than a run of the test could read:
// it is stopped once the record was seen to go on. Its end takes its lines out of the window.
void TestTrafficoPosti::pulitaDuranteIlGiro()
{
    StrumentoInProva strumento;
    QVERIFY(strumento.avvia(m_cartella.filePath("porta1"), {"--indirizzo", "1"}));
    FinestraTraffico finestra(m_pannello);
    auto giro = std::make_unique<GiroPosti>(banco({1}, 20000), QStringLiteral("la prova"));
    finestra.aggiungiLinee(giro.get());
    QSignalSpy finito(giro.get(), &GiroPosti::terminato);
    QString motivo;
    QVERIFY2(giro->avvia(0, &motivo), qPrintable(motivo));
    auto *scelta = finestra.findChild<QComboBox *>(QStringLiteral("sceltaLinea"));
    scelta->setCurrentIndex(1);
    finestra.show();
    const RegistroTraffico &registro = giro->trafficoLinea(0);
    QTRY_VERIFY_WITH_TIMEOUT(risultati(registro).size() >= 2, 10000);
    finestra.pulisci();
    QCOMPARE(registro.size(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(risultati(registro).size() >= 2, 10000);
    QVERIFY(finito.isEmpty());
    giro->ferma(0);
    QVERIFY(finito.wait(10000));
    QCOMPARE(registro.scartati(), quint64(0));
    QCOMPARE(registro.evento(registro.size() - 1).tipo, TipoEvento::Chiusa);
    auto *tabella = finestra.findChild<QTableView *>(QStringLiteral("tabellaTraffico"));
    QTRY_COMPARE(tabella->model()->rowCount(), int(registro.size()));

    giro.reset();
    QCOMPARE(scelta->count(), 1);
    QCOMPARE(&finestra.registroMostrato(), &m_pannello);
    finestra.pulisci();
}

QTEST_MAIN(TestTrafficoPosti)
#include "test_traffico_posti.moc"
