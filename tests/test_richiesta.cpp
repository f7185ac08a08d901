#include "banco_prova.h"
#include "errore.h"

#include <QTest>

// Leaves the stack below the caller full of a pattern that no fresh variable holds, so that a
// variable the request reads without having set shows as a value rather than as a lucky zero.
static Q_NEVER_INLINE void sporcaLoStack()
{
    volatile unsigned char sporco[16384];
    for (volatile unsigned char &byte : sporco)
        byte = 0xAB;
}

class TestRichiesta : public QObject
{
    Q_OBJECT

private slots:
    void richieste_data();
    void richieste();
    void byteFuoriDallaRichiesta();
};

void TestRichiesta::richieste_data()
{
    QTest::addColumn<QStringList>("prima"); // panel texts before the click
    QTest::addColumn<QStringList>("durante"); // "N: azione", once the peer has N bytes
    QTest::addColumn<QString>("linea");
    QTest::addColumn<QString>("ricevuto");
    QTest::addColumn<QString>("valore"); // "-" is the value left from before
    QTest::addColumn<int>("errore");
    QTest::addColumn<QString>("registrato"); // the result's outcome; the bytes received

    const int nessuno = 0;
    QTest::newRow("valori iniziali, nessuna risposta, testo ricevuto svuotato")
        << QStringList{"Text1= 6 0 3 E8"} << QStringList{} << kRichiestaIniziale << ""
        << "0" << nessuno << "nessuna risposta";
    QTest::newRow("indirizzo 256, byte alto prima")
        << QStringList{"Combo5=256"} << QStringList{} << "55 | 01 00 | 00 | 00 02 | 00 08"
        << ""
        << "0" << nessuno << "nessuna risposta";
    QTest::newRow("indirizzo 9999, ripetizione")
        << QStringList{"Combo5=9999", "ComboComando=Ripetizione ult. lettura"} << QStringList{}
        << "55 | 27 0F | 01 | 00 02 | 00 08"
        << ""
        << "0" << nessuno << "nessuna risposta";
    QTest::newRow("scrittura in minuscolo, memoria di tre cifre")
        << QStringList{"ComboComando=scrittura", "ComboIndirizzo=123"} << QStringList{}
        << "55 | 00 00 | 02 | 00 02 | 01 23"
        << ""
        << "0" << nessuno << "nessuna risposta";
    QTest::newRow("lettura in una raffica")
        << QStringList{} << QStringList{"8: scrivi 060003e8"} << kRichiestaIniziale << " 6 0 3 E8"
        << "1000" << nessuno << "risposta; 06:pausa 5 00:pausa 5 03:pausa 5 E8:pausa 5";
    QTest::newRow("lettura sparsa su più pause")
        << QStringList{} << QStringList{"1: scrivi 06", "4: scrivi 00", "8: scrivi 03e8"}
        << kRichiestaIniziale << " 6 0 3 E8"
        << "1000" << nessuno << "risposta; 06:pausa 1 00:pausa 3 03:pausa 5 E8:pausa 5";
    QTest::newRow("byte alto di una cifra")
        << QStringList{} << QStringList{"8: scrivi 0105"} << kRichiestaIniziale << " 1 5"
        << "261" << nessuno << "risposta; 01:pausa 5 05:pausa 5";
    QTest::newRow("0xFF e 0x00") << QStringList{} << QStringList{"8: scrivi ff00ff"}
                                 << kRichiestaIniziale << " FF 0 FF"
                                 << "255" << nessuno
                                 << "risposta; FF:pausa 5 00:pausa 5 FF:pausa 5";
    QTest::newRow("memoria cambiata prima della fase 5")
        << QStringList{} << QStringList{"6: ComboIndirizzo=0034"}
        << "55 | 00 00 | 00 | 00 02 | 00 34"
        << ""
        << "0" << nessuno << "nessuna risposta";
    QTest::newRow("indirizzo cambiato prima della fase 2")
        << QStringList{} << QStringList{"1: Combo5=300"} << "55 | 01 2C | 00 | 00 02 | 00 08"
        << ""
        << "0" << nessuno << "nessuna risposta";
    QTest::newRow("secondo clic durante la richiesta ignorato")
        << QStringList{} << QStringList{"3: clic"} << kRichiestaIniziale << ""
        << "0" << nessuno << "nessuna risposta";
    QTest::newRow("comando sbagliato prima della fase 3")
        << QStringList{} << QStringList{"3: ComboComando=Scritura"} << "55 | 00 00"
        << ""
        << "-" << int(CodiceErrore::ComandoSconosciuto) << "errore 5";
    QTest::newRow("porta non valida prima della fase 2")
        << QStringList{} << QStringList{"1: Combo1=x"} << "55"
        << ""
        << "-" << int(CodiceErrore::PortaNonValida) << "errore 1";
    QTest::newRow("testo ricevuto modificato a mano")
        << QStringList{} << QStringList{"8: Text1= 6 zz"} << kRichiestaIniziale << " 6 zz"
        << "-" << int(CodiceErrore::RispostaNonDecodificabile) << "errore 7";
}

// Every phase reads the panel as it is when it runs; every byte received in the pauses is shown;
// the value is decoded at the end.
void TestRichiesta::richieste()
{
    QFETCH(QStringList, prima);
    QFETCH(QStringList, durante);
    QFETCH(QString, linea);
    QFETCH(QString, ricevuto);
    QFETCH(QString, valore);
    QFETCH(int, errore);
    QFETCH(QString, registrato);

    Banco banco;
    banco.pannello.impostaTesto(Campo::Text3, QStringLiteral("-"));
    for (const QString &azione : prima)
        banco.esegui(azione);
    for (const QString &azione : durante) {
        quandoRicevuti(this, *banco.peer, azione.section(u':', 0, 0).toInt(),
            [&banco, azione] { banco.esegui(azione.section(u':', 1).trimmed()); });
    }
    sporcaLoStack();
    banco.sequenziatore.Command1_Click();

    QCOMPARE(banco.ultimoErrore(), errore);
    QCOMPARE(banco.errori.size(), errore ? 1 : 0);
    QCOMPARE(banco.sullaLinea(), linea);
    QCOMPARE(banco.pannello.testo(Campo::Text1), ricevuto);
    QCOMPARE(banco.pannello.testo(Campo::Text3), valore);
    QVERIFY(!banco.sequenziatore.richiestaInCorso());

    // The record: every byte that reached the line with its phase and the parity the program set
    // for it (even for 0x55 alone), each phase a whole pause after the one before; one result,
    // and when an answer came, its latency.
    QStringList attesi;
    const QStringList gruppi = linea.split(QStringLiteral(" | "), Qt::SkipEmptyParts);
    for (qsizetype fase = 1; fase <= gruppi.size(); ++fase) {
        for (const QString &byte : gruppi[fase - 1].split(u' '))
            attesi << QStringLiteral("%1:%2:%3").arg(byte, fase == 1 ? "E" : "O").arg(fase);
    }
    QCOMPARE(banco.registrati(TipoEvento::Trasmesso), attesi);
    qint64 finePrecedente = -1;
    quint8 fasePrecedente = 0;
    for (qsizetype i = 0; i < banco.registro.size(); ++i) {
        const RegistroTraffico::Evento &e = banco.registro.evento(i);
        if (e.tipo != TipoEvento::Trasmesso)
            continue;
        if (e.fase != fasePrecedente && finePrecedente >= 0)
            QVERIFY(e.tempoRichiestaUs - finePrecedente >= 100'000);
        finePrecedente = e.tempoRichiestaUs;
        fasePrecedente = e.fase;
    }
    QCOMPARE(banco.registrati(TipoEvento::Risultato).size(), 1);
    const RisultatoRichiesta *risultato = &banco.registro.ultimoRisultato();
    const QStringList ricevuti = banco.registrati(TipoEvento::Ricevuto);
    QCOMPARE(risultato->testoEsito()
            + (ricevuti.isEmpty() ? QString() : QStringLiteral("; ") + ricevuti.join(u' ')),
        registrato);
    QCOMPARE(risultato->latenzaUs.has_value(), registrato.startsWith(u"risposta"));
    QCOMPARE(risultato->valore.has_value(), errore == 0);
    QVERIFY(risultato->latenzaUs.value_or(0) >= 0
        && risultato->latenzaUs.value_or(0) < risultato->durataUs);
}

// Bytes that come when no request runs are shown as well; the decoded value stays as it was.
void TestRichiesta::byteFuoriDallaRichiesta()
{
    Banco banco;
    quandoRicevuti(this, *banco.peer, 8, [&banco] { banco.esegui(QStringLiteral("scrivi 06")); });
    banco.sequenziatore.Command1_Click();
    banco.esegui(QStringLiteral("scrivi 0a00"));
    QTRY_COMPARE(banco.pannello.testo(Campo::Text1), QStringLiteral(" 6 A 0"));
    QCOMPARE(banco.pannello.testo(Campo::Text3), QStringLiteral("6"));

    emit banco.comm.OnComm(); // a receive event with nothing to read changes nothing
    QCOMPARE(banco.pannello.testo(Campo::Text1), QStringLiteral(" 6 A 0"));
}

QTEST_GUILESS_MAIN(TestRichiesta)
#include "test_richiesta.moc"
