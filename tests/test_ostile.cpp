// What a bench throws at the program: texts that cannot be used, a port that vanishes, floods of
// bytes, an operator pressing the button over and over. Nothing wrong may go on the line, no
// received byte may be lost or garbled, and the program must neither die, hang nor spin.

#include "banco_prova.h"
#include "errore.h"
#include "processo.h"
#include "ricezione.h"
#include "testi_traffico.h"

#include <QBuffer>

#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

namespace {

// Counts every event the program handles: a loop on a dead descriptor shows as a flood of them.
class ContaEventi : public QObject
{
public:
    ContaEventi() { QCoreApplication::instance()->installEventFilter(this); }
    int eventi = 0;

protected:
    bool eventFilter(QObject *, QEvent *) override
    {
        ++eventi;
        return false;
    }
};

int eventiInUnMomentoDiQuiete()
{
    ContaEventi conta;
    QTest::qWait(300);
    return conta.eventi;
}

} // namespace

class TestOstile : public QObject
{
    Q_OBJECT

private slots:
    void init() { qputenv("BANCO_PORTA2", "/dev/banco-nessun-dispositivo"); }
    void cleanup() { qunsetenv("BANCO_PORTA2"); }
    void testiOstili_data();
    void testiOstili();
    void portaCheSparisce_data();
    void portaCheSparisce();
    void inondazione_data();
    void inondazione();
    void cinquantaClicInUnSecondo();
};

void TestOstile::testiOstili_data()
{
    QTest::addColumn<QString>("campo");
    QTest::addColumn<QString>("testo");
    QTest::addColumn<QString>("nomeNelMessaggio"); // empty: the text is valid
    QTest::addColumn<QString>("linea");

    const QList<std::pair<const char *, QString>> ostili = {
        {"vuoto", ""},
        {"solo spazi", "   "},
        {"100.000 caratteri", QString(100000, u'7')},
        {"lettere non latine", QStringLiteral("семь")},
        {"emoji", QStringLiteral("\U0001F600")},
        {"caratteri di controllo", QStringLiteral("1\n\t\x01")},
        {"negativo", "-1"},
        {"frazione", "1.5"},
        {"notazione &H", "&H10"},
        {"notazione 0x", "0x10"},
        {"esponente", "1e3"},
    };
    const QList<std::tuple<const char *, const char *, const char *>> campi = {
        {"Combo1", "Porta", "32768"},
        {"Combo2", "Baud", "4000001"},
        {"Combo5", "Indirizzo strumento", "65536"},
        {"ComboComando", "Tipo di comando", "Letturaa"},
        {"ComboIndirizzo", "Indirizzo memoria", "10000"},
        {"Text1", "Stringa ricevuta", "100"},
    };
    for (const auto &[campo, nome, oltre] : campi) {
        for (auto [caso, testo] :
            ostili + QList<std::pair<const char *, QString>>{{"appena oltre il limite", oltre}}) {
            QString nomeAtteso = QLatin1String(nome);
            QString linea;
            // Texts that are good after all: three hexadecimal digits, and a received text with
            // no entry in it (nothing received: 0).
            if (qstrcmp(campo, "ComboIndirizzo") == 0 && testo == u"1e3") {
                nomeAtteso.clear();
                linea = QStringLiteral("55 | 00 00 | 00 | 00 02 | 01 E3");
            }
            if (qstrcmp(campo, "Text1") == 0 && testo.trimmed().isEmpty())
                nomeAtteso.clear();
            QTest::addRow("%s: %s", campo, caso)
                << QString::fromLatin1(campo) << testo << nomeAtteso << linea;
        }
    }
}

// The error names the field, nothing reaches the line, and the next valid request goes out whole.
// A received text is edited while the request's last pause runs.
void TestOstile::testiOstili()
{
    QFETCH(QString, campo);
    QFETCH(QString, testo);
    QFETCH(QString, nomeNelMessaggio);
    QFETCH(QString, linea);

    Banco banco;
    const QString valido = banco.pannello.testo(kCampi.at(campo));
    const QString azione = campo + u'=' + testo;
    const bool ricevuto = campo == u"Text1";
    if (ricevuto)
        quandoRicevuti(this, *banco.peer, 8, [&banco, azione] { banco.esegui(azione); });
    else
        banco.esegui(azione);
    banco.sequenziatore.Command1_Click();

    QCOMPARE(banco.errori.size(), nomeNelMessaggio.isEmpty() ? 0 : 1);
    QVERIFY2(banco.ultimaDescrizione().startsWith(nomeNelMessaggio),
        qPrintable(banco.ultimaDescrizione()));
    QVERIFY(banco.ultimaDescrizione().size() < 400);
    if (linea.isEmpty())
        linea = ricevuto ? kRichiestaIniziale : QString();
    QCOMPARE(banco.sullaLinea(), linea);

    banco.esegui(campo + u'=' + valido);
    banco.sequenziatore.Command1_Click();
    QVERIFY(banco.sullaLinea().endsWith(kRichiestaIniziale));
    QCOMPARE(banco.errori.size(), nomeNelMessaggio.isEmpty() ? 0 : 1);

    // The record, with the text in its result row and in the error's note, read back from CSV.
    QBuffer csv;
    csv.open(QIODevice::WriteOnly);
    QVERIFY(TestiTraffico::scriviCsv(banco.registro, csv, nullptr));
    const QList<QStringList> righe = leggiCsv(csv.data());
    QCOMPARE(righe.size(), banco.registro.size() + 1);
    QCOMPARE(righe.front(), TestiTraffico::intestazioneCsv());
    for (qsizetype i = 0; i < banco.registro.size(); ++i)
        QCOMPARE(righe[i + 1], TestiTraffico::rigaCsv(banco.registro, i));
    for (const char formula : {'=', '+', '@'})
        QVERIFY(!csv.data().contains(QByteArray(",") + formula));
}

void TestOstile::portaCheSparisce_data()
{
    QTest::addColumn<qsizetype>("dopoByte"); // -1: gone before the request starts
    QTest::addColumn<int>("errori");
    QTest::newRow("assente all'avvio") << qsizetype(-1) << 1;
    QTest::newRow("pausa 1") << qsizetype(1) << 1;
    QTest::newRow("pausa 2") << qsizetype(3) << 1;
    QTest::newRow("pausa 3") << qsizetype(4) << 1;
    QTest::newRow("pausa 4") << qsizetype(6) << 1;
    QTest::newRow("pausa 5, poi a finestra ferma") << qsizetype(8) << 0;
}

// An unplugged adapter: at most one message for the request it breaks, no loop on the dead
// line, and the request after the adapter is back works.
void TestOstile::portaCheSparisce()
{
    QFETCH(qsizetype, dopoByte);
    QFETCH(int, errori);

    Banco banco;
    if (dopoByte < 0)
        banco.esegui(QStringLiteral("riaggancia"));
    else
        quandoRicevuti(
            this, *banco.peer, dopoByte, [&banco] { banco.esegui(QStringLiteral("riaggancia")); });
    banco.sequenziatore.Command1_Click();
    QCOMPARE(banco.errori.size(), errori);
    if (errori)
        QVERIFY2(
            banco.ultimaDescrizione().contains(banco.porta), qPrintable(banco.ultimaDescrizione()));

    QTRY_VERIFY(!banco.comm.PortOpen());
    QVERIFY2(eventiInUnMomentoDiQuiete() < 500, "the program keeps polling a dead line");
    QCOMPARE(banco.errori.size(), errori);
    QCOMPARE(banco.registrati(TipoEvento::PortaPersa).size(), dopoByte < 0 ? 0 : 1);
    QCOMPARE(banco.registro.ultimoRisultato().testoEsito(),
        errori ? QStringLiteral("errore %1").arg(banco.ultimoErrore())
               : QStringLiteral("nessuna risposta"));

    banco.sequenziatore.Command1_Click(); // still unplugged
    QCOMPARE(banco.errori.size(), errori + 1);
    banco.ricollega();
    banco.sequenziatore.Command1_Click();
    QCOMPARE(banco.errori.size(), errori + 1);
    QCOMPARE(banco.sullaLinea(), kRichiestaIniziale);
}

void TestOstile::inondazione_data()
{
    QTest::addColumn<bool>("inRichiesta");
    QTest::newRow("finestra ferma") << false;
    QTest::newRow("durante una richiesta") << true;
}

// A megabyte of noise: the program keeps answering, its memory stays bounded, what the received
// text keeps is in order, and the value is that of the last two bytes received before decoding.
void TestOstile::inondazione()
{
    QFETCH(bool, inRichiesta);
    QByteArray rumore(1'000'000, Qt::Uninitialized);
    QString atteso;
    for (char &c : rumore) {
        c = char(QRandomGenerator::global()->bounded(256));
        atteso += voceRicevuta(quint8(c));
    }
    Banco banco;
    banco.sequenziatore.Command1_Click(); // opens the port
    const long memoriaPrima = memoriaDiPiccoKb();

    qsizetype consegnati = 0;
    connect(&banco.comm, &ComponenteSeriale::OnComm, this, [&] { ++consegnati; });
    qsizetype consegnatiAllaRisposta = -1;
    const auto inonda = [&] {
        banco.peer->scrivi(rumore);
        // The operator's next key or click, queued behind the flood.
        QTimer::singleShot(0, this, [&] { consegnatiAllaRisposta = consegnati; });
    };
    if (inRichiesta) {
        quandoRicevuti(this, *banco.peer, 9, inonda);
        banco.sequenziatore.Command1_Click();
    } else {
        inonda();
    }
    QTRY_COMPARE_WITH_TIMEOUT(consegnati, rumore.size(), 60000);

    QVERIFY(consegnatiAllaRisposta >= 0 && consegnatiAllaRisposta < rumore.size());
#ifndef __SANITIZE_ADDRESS__ // which keeps freed memory aside for a while
    QVERIFY(memoriaDiPiccoKb() - memoriaPrima < 64 * 1024);
#else
    Q_UNUSED(memoriaPrima);
#endif
    QByteArray registrati;
    for (qsizetype i = 0; i < banco.registro.size(); ++i) {
        if (banco.registro.evento(i).tipo == TipoEvento::Ricevuto)
            registrati += char(banco.registro.evento(i).byte);
    }
    QVERIFY2(registrati == rumore, "the record lost, added or reordered a received byte");
    const QString tenuto = banco.pannello.testo(Campo::Text1);
    QVERIFY(tenuto.size() <= 2 * TestoRicevuto::kCaratteriTenuti + 3);
    QVERIFY2(atteso.endsWith(tenuto), "the received text is not the newest bytes in order");
    if (inRichiesta) {
        const QString allaDecodifica = banco.pannello.testo1AllaDecodifica;
        QVERIFY(atteso.contains(allaDecodifica));
        QCOMPARE(banco.pannello.testo(Campo::Text3),
            QString::number(decodificaRisposta(allaDecodifica)));
    }
}

// The button pressed fifty times in a second: one request at a time on the line, each whole.
void TestOstile::cinquantaClicInUnSecondo()
{
    Banco banco;
    int clic = 0;
    for (int i = 0; i < 50; ++i) {
        QTimer::singleShot(i * 20ms, this, [&] {
            ++clic;
            banco.sequenziatore.Command1_Click();
        });
    }
    QTRY_VERIFY(clic == 50 && !banco.sequenziatore.richiestaInCorso());

    const QString linea = banco.sullaLinea();
    const qsizetype richieste = (linea.count(u'|') + 1) / 5;
    QVERIFY(richieste >= 2);
    QCOMPARE(linea, QStringList(richieste, kRichiestaIniziale).join(QStringLiteral(" | ")));
    QCOMPARE(banco.errori.size(), 0);
}

QTEST_GUILESS_MAIN(TestOstile)
#include "test_ostile.moc"
