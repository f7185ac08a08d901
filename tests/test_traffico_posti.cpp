#include "banco_prova.h"
#include "finestra_traffico.h"
#include "giro_posti.h"
#include "modello_traffico.h"
#include "processo.h"
#include "registro_traffico.h"
#include "testi_traffico.h"

#include <QComboBox>
#include <QFile>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

DatiBanco banco(const QList<int> &porte, int righe)
{
    DatiBanco dati;
    for (int n = 0; n < righe; ++n) {
        RigaBanco riga;
        riga.nome = QStringLiteral("riga %1").arg(n + 1);
        riga.memoria = n % 2 ? 0x000C : 0x0008;
        dati.righe.append(riga);
    }
    for (qsizetype i = 0; i < porte.size(); ++i) {
        PostoBanco posto;
        posto.nome = QString(QChar(char16_t(u'A' + i)));
        posto.porta = QString::number(porte.at(i));
        posto.strumento = quint16(i + 1);
        dati.posti.append(posto);
    }
    return dati;
}

// The results a line's record holds, "numero:esito" in its order.
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
        for (int n = 1; n <= 4; ++n) {
            qputenv(qPrintable(QStringLiteral("BANCO_PORTA%1").arg(n)),
                m_cartella.filePath(QStringLiteral("porta%1").arg(n)).toLocal8Bit());
        }
    }

    void lineeNellaFinestra_data();
    void lineeNellaFinestra();
    void pulitaESalvataDuranteIlGiro();

private:
    QTemporaryDir m_cartella;
};

void TestTrafficoPosti::lineeNellaFinestra_data()
{
    QTest::addColumn<QList<int>>("porte"); // each socket's port, counting from 1
    QTest::addColumn<int>("spento"); // the port whose instrument is gone, 0 for none

    QTest::newRow("due linee") << QList<int>{1, 2} << 0;
    QTest::newRow("due posti su una linea, uno su un'altra") << QList<int>{1, 1, 2} << 0;
    QTest::newRow("una linea che non si apre") << QList<int>{1, 2} << 2;
}

// Each line's events reach the window's thread whole and in order, each naming its line, before
// the result of their request is told; the window shows and saves the line chosen.
void TestTrafficoPosti::lineeNellaFinestra()
{
    QFETCH(QList<int>, porte);
    QFETCH(int, spento);
    constexpr int kRighe = 3;

    QMap<int, QStringList> indirizzi;
    for (qsizetype i = 0; i < porte.size(); ++i)
        indirizzi[porte.at(i)] << QString::number(i + 1);
    std::vector<std::unique_ptr<StrumentoInProva>> strumenti;
    for (auto p = indirizzi.cbegin(); p != indirizzi.cend(); ++p) {
        if (p.key() == spento)
            continue;
        strumenti.push_back(std::make_unique<StrumentoInProva>());
        QVERIFY(strumenti.back()->avvia(m_cartella.filePath(QStringLiteral("porta%1").arg(p.key())),
            {"--indirizzo", p.value().join(u',')}));
    }

    RegistroTraffico pannello;
    FinestraTraffico finestra(pannello);
    auto *scelta = finestra.findChild<QComboBox *>(QStringLiteral("sceltaLinea"));
    QVERIFY(scelta);
    QCOMPARE(scelta->count(), 1);

    GiroPosti giro(banco(porte, kRighe), QStringLiteral("la prova"));
    finestra.aggiungiLinee(&giro);
    int finiti = 0;
    int raccontatiPrima = 0; // results told before their line's record held them
    QMap<int, QStringList> lette; // per port, as the round tells them
    connect(&giro, &GiroPosti::letta, this,
        [&](int posto, int, const RisultatoRichiesta &risultato, const QString &) {
            const QString testo
                = QStringLiteral("%1:%2").arg(risultato.numero).arg(risultato.testoEsito());
            lette[porte.at(posto)] << testo;
            bool trovato = false;
            for (int linea = 0; linea < giro.numeroLinee(); ++linea)
                trovato = trovato || risultati(giro.trafficoLinea(linea)).contains(testo);
            raccontatiPrima += trovato ? 0 : 1;
        });
    connect(&giro, &GiroPosti::terminato, this, [&] { ++finiti; });
    for (int i = 0; i < giro.numeroPosti(); ++i) {
        QString motivo;
        QVERIFY2(giro.avvia(i, &motivo), qPrintable(motivo));
    }
    QTRY_COMPARE_WITH_TIMEOUT(finiti, giro.numeroPosti(), 30000);
    QCOMPARE(raccontatiPrima, 0);

    QCOMPARE(giro.numeroLinee(), indirizzi.size());
    QCOMPARE(scelta->count(), 1 + giro.numeroLinee());
    QCOMPARE(scelta->itemText(0), QStringLiteral("Pannello"));
    auto *tabella = finestra.findChild<QTableView *>(QStringLiteral("tabellaTraffico"));
    for (int linea = 0; linea < giro.numeroLinee(); ++linea) {
        const QString nome = giro.dispositivoLinea(linea);
        QVERIFY(!nome.isEmpty());
        QCOMPARE(scelta->itemText(linea + 1), nome);
        const RegistroTraffico &registro = giro.trafficoLinea(linea);
        QCOMPARE(registro.primoAssoluto(), quint64(0));

        // Every event, in order: each request numbered after the one before, its bytes those of
        // its result; the line closed last if it opened.
        quint32 richiesta = 0;
        qint64 tempo = 0;
        QByteArray inviati, ricevuti;
        for (qsizetype riga = 0; riga < registro.size(); ++riga) {
            const RegistroTraffico::Evento &e = registro.evento(riga);
            QCOMPARE(registro.dispositivo(e), nome);
            QVERIFY(e.tempoUs >= tempo);
            tempo = e.tempoUs;
            if (e.tipo == TipoEvento::Inizio) {
                QCOMPARE(e.richiesta, ++richiesta);
                inviati.clear();
                ricevuti.clear();
            } else if (e.tipo == TipoEvento::Trasmesso) {
                inviati.append(char(e.byte));
            } else if (e.tipo == TipoEvento::Ricevuto && e.richiesta) {
                ricevuti.append(char(e.byte));
            } else if (e.tipo == TipoEvento::Risultato) {
                const RisultatoRichiesta *r = registro.risultato(e);
                QVERIFY(r);
                QCOMPARE(r->numero, richiesta);
                QCOMPARE(r->inviati, inviati);
                QCOMPARE(r->ricevuti, ricevuti);
            }
        }
        // The lines start in the order of their sockets, here that of their ports.
        const int portaLinea = indirizzi.keys().at(linea);
        QCOMPARE(registro.evento(registro.size() - 1).tipo,
            portaLinea != spento ? TipoEvento::Chiusa : TipoEvento::Risultato);
        QCOMPARE(risultati(registro), lette.value(portaLinea));
        QCOMPARE(int(richiesta), kRighe * int(indirizzi.value(portaLinea).size()));

        // Chosen in the window, every row names the line, and so does the file it saves.
        scelta->setCurrentIndex(linea + 1);
        QCOMPARE(&finestra.registroMostrato(), &registro);
        QVERIFY(!tabella->isColumnHidden(ModelloTraffico::kColonnaDispositivo));
        QAbstractItemModel *modello = tabella->model();
        QCOMPARE(modello->rowCount(), int(registro.size()));
        for (int riga = 0; riga < modello->rowCount(); ++riga)
            QCOMPARE(modello->index(riga, ModelloTraffico::kColonnaDispositivo).data(), nome);
        QSignalSpy salvato(&finestra, &FinestraTraffico::salvataggioFinito);
        const QString file = m_cartella.filePath(QStringLiteral("linea%1.csv").arg(linea));
        finestra.salvaIn(file);
        QVERIFY(salvato.wait(10000));
        QCOMPARE(salvato.first().first().toBool(), true);
        QFile letto(file);
        QVERIFY(letto.open(QIODevice::ReadOnly));
        const QList<QStringList> righe = leggiCsv(letto.readAll());
        QCOMPARE(righe.size(), registro.size() + 1);
        const qsizetype colonna = TestiTraffico::intestazioneCsv().indexOf("dispositivo");
        for (qsizetype riga = 1; riga < righe.size(); ++riga)
            QCOMPARE(righe.at(riga).value(colonna), nome);
    }
    scelta->setCurrentIndex(0);
    QCOMPARE(&finestra.registroMostrato(), &pannello);
    QVERIFY(tabella->isColumnHidden(ModelloTraffico::kColonnaDispositivo));
}

// A line's record emptied and saved while its round runs: the events that follow keep coming,
// none counted as dropped, and the window follows them to the end. The round has more rows than
// a run of the test could read: it is stopped once the record was seen to go on.
void TestTrafficoPosti::pulitaESalvataDuranteIlGiro()
{
    constexpr int kRighe = 20000;
    StrumentoInProva strumento;
    QVERIFY(strumento.avvia(m_cartella.filePath("porta1"), {"--indirizzo", "1"}));
    RegistroTraffico pannello;
    FinestraTraffico finestra(pannello);
    auto proprio = std::make_unique<GiroPosti>(banco({1}, kRighe), QStringLiteral("la prova"));
    GiroPosti &giro = *proprio;
    finestra.aggiungiLinee(&giro);
    auto *scelta = finestra.findChild<QComboBox *>(QStringLiteral("sceltaLinea"));
    bool finito = false;
    QString ultima;
    connect(&giro, &GiroPosti::letta, this,
        [&](int, int, const RisultatoRichiesta &risultato, const QString &) {
            ultima = QStringLiteral("%1:%2").arg(risultato.numero).arg(risultato.testoEsito());
        });
    connect(&giro, &GiroPosti::terminato, this, [&] { finito = true; });
    QString motivo;
    QVERIFY2(giro.avvia(0, &motivo), qPrintable(motivo));
    QTRY_COMPARE(scelta->count(), 2);
    scelta->setCurrentIndex(1);
    finestra.show();
    const RegistroTraffico &registro = giro.trafficoLinea(0);

    QTRY_VERIFY_WITH_TIMEOUT(risultati(registro).size() >= 3, 10000);
    finestra.pulisci();
    QCOMPARE(registro.size(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(risultati(registro).size() >= 3, 10000);
    QSignalSpy salvato(&finestra, &FinestraTraffico::salvataggioFinito);
    finestra.salvaIn(m_cartella.filePath("durante.csv"));
    QVERIFY(salvato.wait(10000));
    QCOMPARE(salvato.first().first().toBool(), true);
    const int primaDelSalvataggio = int(risultati(registro).size());
    QTRY_VERIFY_WITH_TIMEOUT(risultati(registro).size() > primaDelSalvataggio, 10000);
    QVERIFY(!finito);
    giro.ferma(0);

    QTRY_VERIFY_WITH_TIMEOUT(finito, 10000);
    QVERIFY(!finestra.isHidden());
    QCOMPARE(registro.scartati(), quint64(0));
    QVERIFY(registro.primoAssoluto() > 0);
    const QStringList tenuti = risultati(registro);
    QCOMPARE(tenuti.last(), ultima);
    QCOMPARE(registro.evento(registro.size() - 1).tipo, TipoEvento::Chiusa);
    QCOMPARE(pannello.size(), 0);
    auto *tabella = finestra.findChild<QTableView *>(QStringLiteral("tabellaTraffico"));
    QTRY_COMPARE(tabella->model()->rowCount(), int(registro.size()));

    // The round's end takes its lines out of the window, the one shown too.
    proprio.reset();
    QCOMPARE(scelta->count(), 1);
    QCOMPARE(&finestra.registroMostrato(), &pannello);
    finestra.pulisci();
    QCOMPARE(tabella->model()->rowCount(), 0);
}

QTEST_MAIN(TestTrafficoPosti)
#include "test_traffico_posti.moc"
