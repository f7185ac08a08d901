#include "componente_seriale.h"
#include "errore.h"
#include "pannello_finto.h"
#include "peer_pty.h"
#include "registro_sistema.h"
#include "ricezione.h"
#include "sequenziatore.h"

#include <QSignalSpy>
#include <QTest>

#include <termios.h>

#include <functional>
#include <memory>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr auto kSilenzioTraFasi = 50ms;
const QString kRichiestaIniziale = QStringLiteral("55 | 00 00 | 00 | 00 02 | 00 08");

std::vector<EventoSistema> eventiRegistrati()
{
    std::vector<EventoSistema> eventi(1 << 16);
    eventi.resize(std::size_t(registro_copia(eventi.data(), int(eventi.size()))));
    return eventi;
}

char parita(unsigned int cflag)
{
    if (!(cflag & PARENB))
        return 'N';
    return (cflag & PARODD) ? 'O' : 'E';
}

// A request, its peer and its panel, with the panel's port 1 reaching the peer.
struct Banco
{
    PeerPty peer;
    PannelloFinto pannello;
    ComponenteSeriale comm;
    Sequenziatore sequenziatore{pannello, comm};
    QSignalSpy errori{&sequenziatore, &Sequenziatore::errore};

    Banco() { qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit()); }

    QString sullaLinea() const { return comeTesto(peer.gruppi(kSilenzioTraFasi)); }
    int ultimoErrore() const { return errori.isEmpty() ? 0 : errori.last().at(0).toInt(); }
};

} // namespace

class TestRichiesta : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void richiestaSullaLinea_data();
    void richiestaSullaLinea();
    void paritaChiestaAlSistema();
    void testoNonValidoNonScriveNulla_data();
    void testoNonValidoNonScriveNulla();
    void testoCambiatoDuranteUnaPausa_data();
    void testoCambiatoDuranteUnaPausa();
    void secondoClicDuranteLaRichiestaIgnorato();
    void testoRicevutoSvuotatoAllInizio();
    void rispostaDuranteLePause_data();
    void rispostaDuranteLePause();
    void byteFuoriDallaRichiesta();
    void rafficaLungaDuranteLaRichiesta();
    void testoRicevutoModificatoNonDecodificabile();
};

void TestRichiesta::cleanup()
{
    registro_ferma();
    qunsetenv("BANCO_PORTA1");
    qunsetenv("BANCO_PORTA2");
}

void TestRichiesta::richiestaSullaLinea_data()
{
    QTest::addColumn<QString>("indirizzo");
    QTest::addColumn<QString>("comando");
    QTest::addColumn<QString>("memoria");
    QTest::addColumn<QString>("attesi");

    QTest::newRow("valori iniziali") << "0" << "Lettura" << "0008" << kRichiestaIniziale;
    QTest::newRow("indirizzo 15") << "15" << "Lettura" << "0008"
                                  << "55 | 00 0F | 00 | 00 02 | 00 08";
    QTest::newRow("indirizzo 255") << "255" << "Lettura" << "0008"
                                   << "55 | 00 FF | 00 | 00 02 | 00 08";
    QTest::newRow("indirizzo 256, byte alto prima") << "256" << "Lettura" << "0008"
                                                    << "55 | 01 00 | 00 | 00 02 | 00 08";
    QTest::newRow("indirizzo 9999") << "9999" << "Lettura" << "0008"
                                    << "55 | 27 0F | 00 | 00 02 | 00 08";
    QTest::newRow("ripetizione") << "0" << "Ripetizione ult. lettura" << "0008"
                                 << "55 | 00 00 | 01 | 00 02 | 00 08";
    QTest::newRow("scrittura scritta in minuscolo") << "0" << "scrittura" << "001C"
                                                    << "55 | 00 00 | 02 | 00 02 | 00 1C";
    QTest::newRow("memoria di una cifra") << "0" << "Lettura" << "8"
                                          << "55 | 00 00 | 00 | 00 02 | 00 08";
    QTest::newRow("memoria di tre cifre") << "0" << "Lettura" << "123"
                                          << "55 | 00 00 | 00 | 00 02 | 01 23";
}

void TestRichiesta::richiestaSullaLinea()
{
    QFETCH(QString, indirizzo);
    QFETCH(QString, comando);
    QFETCH(QString, memoria);
    QFETCH(QString, attesi);

    Banco banco;
    banco.pannello.impostaTesto(Campo::Combo5, indirizzo);
    banco.pannello.impostaTesto(Campo::ComboComando, comando);
    banco.pannello.impostaTesto(Campo::ComboIndirizzo, memoria);
    banco.sequenziatore.Command1_Click();

    QCOMPARE(banco.errori.size(), 0);
    QCOMPARE(banco.sullaLinea(), attesi);
    QVERIFY(banco.comm.PortOpen());
}

// 0x55 goes out under even parity and has left the port before the port is reopened with odd
// parity for everything else. Seen where the program asks the system for it.
void TestRichiesta::paritaChiestaAlSistema()
{
    Banco banco;
    registro_avvia();
    banco.sequenziatore.Command1_Click();
    registro_ferma();
    QCOMPARE(banco.errori.size(), 0);

    const std::vector<EventoSistema> eventi = eventiRegistrati();
    std::map<int, unsigned int> impostazioni;
    QStringList scritture;
    std::size_t indice55 = 0;
    std::size_t primoDispari = 0;
    for (std::size_t i = 0; i < eventi.size(); ++i) {
        const EventoSistema &e = eventi[i];
        if (e.tipo == EVENTO_IMPOSTAZIONI)
            impostazioni[e.fd] = e.cflag;
        if (e.tipo != EVENTO_SCRITTURA)
            continue;
        const char p = parita(impostazioni[e.fd]);
        scritture.append(QStringLiteral("%1:%2").arg(e.byte, 2, 16, QChar(u'0')).arg(p));
        if (e.byte == 0x55 && indice55 == 0)
            indice55 = i;
        if (p == 'O' && primoDispari == 0)
            primoDispari = i;
    }
    QCOMPARE(scritture.join(u' '),
             QStringLiteral("55:E 00:O 00:O 00:O 00:O 02:O 00:O 08:O"));

    // After 0x55, the first thing done to its descriptor is a drain, and the descriptor is closed
    // before the first byte under odd parity.
    const int fd55 = eventi[indice55].fd;
    std::size_t dopo = indice55 + 1;
    while (dopo < eventi.size() && eventi[dopo].fd != fd55)
        ++dopo;
    QVERIFY(dopo < eventi.size());
    QCOMPARE(eventi[dopo].tipo, int(EVENTO_DRENAGGIO));
    bool chiusoPrimaDelDispari = false;
    for (std::size_t i = indice55; i < primoDispari; ++i)
        chiusoPrimaDelDispari |= eventi[i].tipo == EVENTO_CHIUSURA && eventi[i].fd == fd55;
    QVERIFY(chiusoPrimaDelDispari);
}

void TestRichiesta::testoNonValidoNonScriveNulla_data()
{
    QTest::addColumn<Campo>("campo");
    QTest::addColumn<QString>("testo");
    QTest::addColumn<CodiceErrore>("errore");

    QTest::newRow("porta non numerica") << Campo::Combo1 << "uno" << CodiceErrore::PortaNonValida;
    QTest::newRow("porta senza dispositivo") << Campo::Combo1 << "9999"
                                             << CodiceErrore::NessunDispositivo;
    QTest::newRow("porta verso un dispositivo assente")
            << Campo::Combo1 << "2" << CodiceErrore::DispositivoInesistente;
    QTest::newRow("baud non numerico") << Campo::Combo2 << "96OO" << CodiceErrore::BaudNonValido;
    QTest::newRow("baud zero") << Campo::Combo2 << "0" << CodiceErrore::BaudNonValido;
    QTest::newRow("baud con altre impostazioni") << Campo::Combo2 << "9600,N"
                                                 << CodiceErrore::BaudNonValido;
    QTest::newRow("indirizzo negativo") << Campo::Combo5 << "-1"
                                        << CodiceErrore::IndirizzoStrumentoNonValido;
    QTest::newRow("indirizzo oltre 65535") << Campo::Combo5 << "65536"
                                           << CodiceErrore::IndirizzoStrumentoNonValido;
    QTest::newRow("comando sbagliato") << Campo::ComboComando << "Scritura"
                                       << CodiceErrore::ComandoSconosciuto;
    QTest::newRow("memoria non esadecimale") << Campo::ComboIndirizzo << "ZZ00"
                                             << CodiceErrore::IndirizzoMemoriaNonValido;
    QTest::newRow("memoria vuota") << Campo::ComboIndirizzo << ""
                                   << CodiceErrore::IndirizzoMemoriaNonValido;
}

// An unusable text is reported before anything reaches the line, and the next request goes out
// whole: an error ends the request, not the program.
void TestRichiesta::testoNonValidoNonScriveNulla()
{
    QFETCH(Campo, campo);
    QFETCH(QString, testo);
    QFETCH(CodiceErrore, errore);

    Banco banco;
    qputenv("BANCO_PORTA2", "/dev/banco-nessun-dispositivo");
    const QString valido = banco.pannello.testo(campo);
    banco.pannello.impostaTesto(campo, testo);
    registro_avvia();
    banco.sequenziatore.Command1_Click();
    registro_ferma();

    QCOMPARE(banco.errori.size(), 1);
    QCOMPARE(banco.ultimoErrore(), int(errore));
    for (const EventoSistema &e : eventiRegistrati())
        QVERIFY(e.tipo != EVENTO_SCRITTURA);
    QVERIFY(!banco.sequenziatore.richiestaInCorso());

    banco.pannello.impostaTesto(campo, valido);
    banco.sequenziatore.Command1_Click();
    QCOMPARE(banco.errori.size(), 1);
    QCOMPARE(banco.sullaLinea(), kRichiestaIniziale);
}

void TestRichiesta::testoCambiatoDuranteUnaPausa_data()
{
    QTest::addColumn<qsizetype>("dopoByte");
    QTest::addColumn<Campo>("campo");
    QTest::addColumn<QString>("testo");
    QTest::addColumn<QString>("attesi");
    QTest::addColumn<int>("errore");

    QTest::newRow("memoria cambiata prima della fase 5")
            << qsizetype(6) << Campo::ComboIndirizzo << "0034"
            << "55 | 00 00 | 00 | 00 02 | 00 34" << 0;
    QTest::newRow("indirizzo cambiato prima della fase 2")
            << qsizetype(1) << Campo::Combo5 << "300" << "55 | 01 2C | 00 | 00 02 | 00 08" << 0;
    QTest::newRow("comando sbagliato prima della fase 3")
            << qsizetype(3) << Campo::ComboComando << "Scritura" << "55 | 00 00"
            << int(CodiceErrore::ComandoSconosciuto);
    QTest::newRow("porta non valida prima della fase 2")
            << qsizetype(1) << Campo::Combo1 << "x" << "55" << int(CodiceErrore::PortaNonValida);
}

// Every phase reads the panel as it is when the phase runs.
void TestRichiesta::testoCambiatoDuranteUnaPausa()
{
    QFETCH(qsizetype, dopoByte);
    QFETCH(Campo, campo);
    QFETCH(QString, testo);
    QFETCH(QString, attesi);
    QFETCH(int, errore);

    Banco banco;
    quandoRicevuti(this, banco.peer, dopoByte,
                   [&banco, campo, testo] { banco.pannello.impostaTesto(campo, testo); });
    banco.sequenziatore.Command1_Click();

    QCOMPARE(banco.ultimoErrore(), errore);
    QCOMPARE(banco.sullaLinea(), attesi);
}

void TestRichiesta::secondoClicDuranteLaRichiestaIgnorato()
{
    Banco banco;
    quandoRicevuti(this, banco.peer, 3, [&banco] { banco.sequenziatore.Command1_Click(); });
    banco.sequenziatore.Command1_Click();

    QCOMPARE(banco.errori.size(), 0);
    QCOMPARE(banco.sullaLinea(), kRichiestaIniziale);
    QVERIFY(!banco.sequenziatore.richiestaInCorso());
}

void TestRichiesta::testoRicevutoSvuotatoAllInizio()
{
    Banco banco;
    banco.pannello.impostaTesto(Campo::Text1, QStringLiteral(" 6 0 3 E8"));
    QString allaPrimaFase;
    quandoRicevuti(this, banco.peer, 1,
                   [&] { allaPrimaFase = banco.pannello.testo(Campo::Text1); });
    banco.sequenziatore.Command1_Click();
    QCOMPARE(allaPrimaFase, QString());
}

using Risposta = QList<std::pair<qsizetype, QByteArray>>; // after so many bytes, these

void TestRichiesta::rispostaDuranteLePause_data()
{
    QTest::addColumn<Risposta>("risposta");
    QTest::addColumn<QString>("ricevuto");
    QTest::addColumn<QString>("valore");

    QTest::newRow("nessuna risposta") << Risposta{} << "" << "0";
    QTest::newRow("lettura in una raffica")
            << Risposta{{8, QByteArray::fromHex("060003e8")}} << " 6 0 3 E8" << "1000";
    QTest::newRow("lettura sparsa su più pause")
            << Risposta{{1, QByteArray::fromHex("06")}, {4, QByteArray::fromHex("00")},
                        {8, QByteArray::fromHex("03e8")}}
            << " 6 0 3 E8" << "1000";
    QTest::newRow("conferma di scrittura") << Risposta{{8, QByteArray::fromHex("06")}} << " 6"
                                           << "6";
    QTest::newRow("byte alto di una cifra") << Risposta{{8, QByteArray::fromHex("0105")}} << " 1 5"
                                            << "261";
    QTest::newRow("0xFF e 0x00") << Risposta{{8, QByteArray::fromHex("ff00ff")}} << " FF 0 FF"
                                 << "255";
}

void TestRichiesta::rispostaDuranteLePause()
{
    QFETCH(Risposta, risposta);
    QFETCH(QString, ricevuto);
    QFETCH(QString, valore);

    Banco banco;
    banco.pannello.impostaTesto(Campo::Text3, QStringLiteral("123"));
    for (const auto &[dopo, byte] : risposta)
        quandoRicevuti(this, banco.peer, dopo, [&banco, byte = byte] { banco.peer.scrivi(byte); });
    banco.sequenziatore.Command1_Click();

    QCOMPARE(banco.errori.size(), 0);
    QCOMPARE(banco.pannello.testo(Campo::Text1), ricevuto);
    QCOMPARE(banco.pannello.testo(Campo::Text3), valore);
}

// Bytes that come when no request runs are shown as well; the decoded value stays as it was.
void TestRichiesta::byteFuoriDallaRichiesta()
{
    Banco banco;
    quandoRicevuti(this, banco.peer, 8, [&banco] { banco.peer.scrivi("\x06"); });
    banco.sequenziatore.Command1_Click();
    QCOMPARE(banco.pannello.testo(Campo::Text3), QStringLiteral("6"));

    banco.peer.scrivi(QByteArray::fromHex("0a00"));
    QTRY_COMPARE(banco.pannello.testo(Campo::Text1), QStringLiteral(" 6 A 0"));
    QCOMPARE(banco.pannello.testo(Campo::Text3), QStringLiteral("6"));

    // A receive event with nothing to read changes nothing.
    emit banco.comm.OnComm();
    QCOMPARE(banco.pannello.testo(Campo::Text1), QStringLiteral(" 6 A 0"));
}

void TestRichiesta::rafficaLungaDuranteLaRichiesta()
{
    QByteArray raffica(20'000, Qt::Uninitialized);
    for (qsizetype i = 0; i < raffica.size(); ++i)
        raffica[i] = char((i * 31 + i / 256) & 0xFF);

    Banco banco;
    quandoRicevuti(this, banco.peer, 3, [&banco, &raffica] { banco.peer.scrivi(raffica); });
    banco.sequenziatore.Command1_Click();

    QString attesi;
    for (const char byte : raffica)
        attesi += voceRicevuta(quint8(byte));
    const QString ricevuto = banco.pannello.testo(Campo::Text1);
    QVERIFY(ricevuto.size() >= TestoRicevuto::kCaratteriTenuti);
    QVERIFY2(attesi.endsWith(ricevuto), "the received text is not the newest bytes in order");
    const quint16 ultimi = quint16((quint8(raffica.at(raffica.size() - 2)) << 8)
                                   | quint8(raffica.back()));
    QCOMPARE(banco.pannello.testo(Campo::Text3), QString::number(ultimi));
}

void TestRichiesta::testoRicevutoModificatoNonDecodificabile()
{
    Banco banco;
    quandoRicevuti(this, banco.peer, 8, [&banco] {
        banco.pannello.impostaTesto(Campo::Text1, QStringLiteral(" 6 zz"));
    });
    banco.pannello.impostaTesto(Campo::Text3, QStringLiteral("42"));
    banco.sequenziatore.Command1_Click();
    QCOMPARE(banco.ultimoErrore(), int(CodiceErrore::RispostaNonDecodificabile));
    QCOMPARE(banco.pannello.testo(Campo::Text3), QStringLiteral("42"));
    QVERIFY(!banco.sequenziatore.richiestaInCorso());
}

QTEST_GUILESS_MAIN(TestRichiesta)
#include "test_richiesta.moc"
