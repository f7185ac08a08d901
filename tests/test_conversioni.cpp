#include "conversioni.h"
#include "errore.h"
#include "impostazioni_linea.h"
#include "marcatori_parita.h"
#include "ricezione.h"

#include <QTest>

#include <functional>

namespace {

// The value a conversion gives, or the number of the error it raises.
struct Esito
{
    qint64 valore = 0;
    int errore = 0;
};

Esito esegui(const std::function<qint64()> &conversione)
{
    try {
        return {conversione(), 0};
    } catch (const Errore &errore) {
        return {0, errore.numero()};
    }
}

constexpr int kNessunErrore = 0;

} // namespace

class TestConversioni : public QObject
{
    Q_OBJECT

private slots:
    void numeroPorta_data();
    void numeroPorta();
    void indirizzoStrumento_data();
    void indirizzoStrumento();
    void codiceComando_data();
    void codiceComando();
    void indirizzoMemoria_data();
    void indirizzoMemoria();
    void impostazioniLinea_data();
    void impostazioniLinea();
    void marcatoriParita_data();
    void marcatoriParita();
    void citazioneNeiMessaggi_data();
    void citazioneNeiMessaggi();
    void vociRicevute_data();
    void vociRicevute();
    void decodificaRisposta_data();
    void decodificaRisposta();
    void testoRicevutoLimitatoTieneIPiuRecenti();
};

void TestConversioni::numeroPorta_data()
{
    QTest::addColumn<QString>("testo");
    QTest::addColumn<qint64>("valore");
    QTest::addColumn<int>("errore");

    const int errore = int(CodiceErrore::PortaNonValida);
    QTest::newRow("numero dell'elenco") << "1" << qint64(1) << kNessunErrore;
    QTest::newRow("spazi attorno") << " 8 " << qint64(8) << kNessunErrore;
    QTest::newRow("mezzo arrotondato al pari, in giù") << "2.5" << qint64(2) << kNessunErrore;
    QTest::newRow("mezzo arrotondato al pari, in su") << "3.5" << qint64(4) << kNessunErrore;
    QTest::newRow("frazione sotto il mezzo") << "1.49" << qint64(1) << kNessunErrore;
    QTest::newRow("negativo, rifiutato poi dalla porta") << "-1" << qint64(-1) << kNessunErrore;
    QTest::newRow("limite a 16 bit") << "32767" << qint64(32767) << kNessunErrore;
    QTest::newRow("oltre i 16 bit") << "32768" << qint64(0) << errore;
    QTest::newRow("arrotondato oltre i 16 bit") << "32767.5" << qint64(0) << errore;
    QTest::newRow("sotto i 16 bit") << "-32769" << qint64(0) << errore;
    QTest::newRow("vuoto") << "" << qint64(0) << errore;
    QTest::newRow("parola") << "uno" << qint64(0) << errore;
    QTest::newRow("virgola decimale") << "1,5" << qint64(0) << errore;
    QTest::newRow("mille cifre") << QString(1000, u'9') << qint64(0) << errore;
}

void TestConversioni::numeroPorta()
{
    QFETCH(QString, testo);
    QFETCH(qint64, valore);
    QFETCH(int, errore);
    const Esito esito = esegui([&] { return Conversioni::numeroPorta(testo); });
    QCOMPARE(esito.errore, errore);
    QCOMPARE(esito.valore, valore);
}

void TestConversioni::indirizzoStrumento_data()
{
    QTest::addColumn<QString>("testo");
    QTest::addColumn<qint64>("valore");
    QTest::addColumn<int>("errore");

    const int errore = int(CodiceErrore::IndirizzoStrumentoNonValido);
    QTest::newRow("zero") << "0" << qint64(0x0000) << kNessunErrore;
    QTest::newRow("15") << "15" << qint64(0x000F) << kNessunErrore;
    QTest::newRow("255") << "255" << qint64(0x00FF) << kNessunErrore;
    QTest::newRow("256 non è 1") << "256" << qint64(0x0100) << kNessunErrore;
    QTest::newRow("300") << "300" << qint64(0x012C) << kNessunErrore;
    QTest::newRow("9999") << "9999" << qint64(0x270F) << kNessunErrore;
    QTest::newRow("65535") << "65535" << qint64(0xFFFF) << kNessunErrore;
    QTest::newRow("spazi attorno") << "  7 " << qint64(7) << kNessunErrore;
    QTest::newRow("zeri davanti") << "0010" << qint64(10) << kNessunErrore;
    QTest::newRow("65536") << "65536" << qint64(0) << errore;
    QTest::newRow("negativo") << "-1" << qint64(0) << errore;
    QTest::newRow("frazione") << "1.5" << qint64(0) << errore;
    QTest::newRow("vuoto") << "" << qint64(0) << errore;
    QTest::newRow("esadecimale &H") << "&H10" << qint64(0) << errore;
    QTest::newRow("esadecimale 0x") << "0x10" << qint64(0) << errore;
    QTest::newRow("esponente") << "1e3" << qint64(0) << errore;
    QTest::newRow("cifre senza fine") << QString(100000, u'1') << qint64(0) << errore;
}

void TestConversioni::indirizzoStrumento()
{
    QFETCH(QString, testo);
    QFETCH(qint64, valore);
    QFETCH(int, errore);
    const Esito esito = esegui([&] { return Conversioni::indirizzoStrumento(testo); });
    QCOMPARE(esito.errore, errore);
    QCOMPARE(esito.valore, valore);
}

void TestConversioni::codiceComando_data()
{
    QTest::addColumn<QString>("testo");
    QTest::addColumn<qint64>("valore");
    QTest::addColumn<int>("errore");

    const int errore = int(CodiceErrore::ComandoSconosciuto);
    QTest::newRow("lettura") << "Lettura" << qint64(0) << kNessunErrore;
    QTest::newRow("ripetizione") << "Ripetizione ult. lettura" << qint64(1) << kNessunErrore;
    QTest::newRow("scrittura") << "Scrittura" << qint64(2) << kNessunErrore;
    QTest::newRow("minuscolo") << "scrittura" << qint64(2) << kNessunErrore;
    QTest::newRow("maiuscolo con spazi") << "  LETTURA " << qint64(0) << kNessunErrore;
    QTest::newRow("errore di battitura") << "Scritura" << qint64(0) << errore;
    QTest::newRow("senza il punto") << "Ripetizione ult lettura" << qint64(0) << errore;
    QTest::newRow("vuoto") << "" << qint64(0) << errore;
}

void TestConversioni::codiceComando()
{
    QFETCH(QString, testo);
    QFETCH(qint64, valore);
    QFETCH(int, errore);
    const Esito esito = esegui([&] { return Conversioni::codiceComando(testo); });
    QCOMPARE(esito.errore, errore);
    QCOMPARE(esito.valore, valore);
}

void TestConversioni::indirizzoMemoria_data()
{
    QTest::addColumn<QString>("testo");
    QTest::addColumn<qint64>("valore");
    QTest::addColumn<int>("errore");

    const int errore = int(CodiceErrore::IndirizzoMemoriaNonValido);
    QTest::newRow("0008") << "0008" << qint64(0x0008) << kNessunErrore;
    QTest::newRow("una cifra") << "8" << qint64(0x0008) << kNessunErrore;
    QTest::newRow("tre cifre") << "123" << qint64(0x0123) << kNessunErrore;
    QTest::newRow("minuscolo") << "001c" << qint64(0x001C) << kNessunErrore;
    QTest::newRow("spazi attorno") << " 0034 " << qint64(0x0034) << kNessunErrore;
    QTest::newRow("massimo") << "FFFF" << qint64(0xFFFF) << kNessunErrore;
    QTest::newRow("vuoto") << "" << qint64(0) << errore;
    QTest::newRow("non esadecimale") << "ZZ00" << qint64(0) << errore;
    QTest::newRow("cinque cifre") << "12345" << qint64(0) << errore;
    QTest::newRow("prefisso 0x") << "0x10" << qint64(0) << errore;
    QTest::newRow("spazio in mezzo") << "12 34" << qint64(0) << errore;
}

void TestConversioni::indirizzoMemoria()
{
    QFETCH(QString, testo);
    QFETCH(qint64, valore);
    QFETCH(int, errore);
    const Esito esito = esegui([&] { return Conversioni::indirizzoMemoria(testo); });
    QCOMPARE(esito.errore, errore);
    QCOMPARE(esito.valore, valore);
}

void TestConversioni::impostazioniLinea_data()
{
    QTest::addColumn<QString>("testo");
    QTest::addColumn<qint64>("baud");
    QTest::addColumn<int>("parita");
    QTest::addColumn<int>("errore");

    const int baud = int(CodiceErrore::BaudNonValido);
    const int linea = int(CodiceErrore::ImpostazioniNonValide);
    QTest::newRow("pari") << "9600,E,8,1" << qint64(9600) << int(QSerialPort::EvenParity)
                          << kNessunErrore;
    QTest::newRow("dispari minuscolo") << "9600,o,8,1" << qint64(9600)
                                       << int(QSerialPort::OddParity) << kNessunErrore;
    QTest::newRow("nessuna parità") << "56000,N,8,1" << qint64(56000)
                                    << int(QSerialPort::NoParity) << kNessunErrore;
    QTest::newRow("velocità fuori standard") << "14400,E,8,1" << qint64(14400)
                                             << int(QSerialPort::EvenParity) << kNessunErrore;
    QTest::newRow("velocità non numerica") << "veloce,E,8,1" << qint64(0) << 0 << baud;
    QTest::newRow("velocità zero") << "0,E,8,1" << qint64(0) << 0 << baud;
    QTest::newRow("velocità negativa") << "-9600,E,8,1" << qint64(0) << 0 << baud;
    QTest::newRow("velocità vuota") << ",E,8,1" << qint64(0) << 0 << baud;
    QTest::newRow("parità sconosciuta") << "9600,X,8,1" << qint64(0) << 0 << linea;
    QTest::newRow("sette bit") << "9600,E,7,1" << qint64(0) << 0 << linea;
    QTest::newRow("due bit di stop") << "9600,E,8,2" << qint64(0) << 0 << linea;
    QTest::newRow("tre campi") << "9600,E,8" << qint64(0) << 0 << linea;
    QTest::newRow("virgola nella velocità") << "9600,N,E,8,1" << qint64(0) << 0 << linea;
}

void TestConversioni::impostazioniLinea()
{
    QFETCH(QString, testo);
    QFETCH(qint64, baud);
    QFETCH(int, parita);
    QFETCH(int, errore);
    try {
        const ImpostazioniLinea impostazioni = ImpostazioniLinea::daTesto(testo);
        QCOMPARE(kNessunErrore, errore);
        QCOMPARE(qint64(impostazioni.baud), baud);
        QCOMPARE(int(impostazioni.parita), parita);
    } catch (const Errore &e) {
        QCOMPARE(e.numero(), errore);
    }
}

void TestConversioni::marcatoriParita_data()
{
    QTest::addColumn<QByteArrayList>("letture");
    QTest::addColumn<QByteArray>("attesi");

    QTest::newRow("byte comuni") << QByteArrayList{"41 42 00"} << QByteArray("41 42 00");
    QTest::newRow("0xFF raddoppiato") << QByteArrayList{"ff ff 01"} << QByteArray("ff 01");
    QTest::newRow("errore di parità") << QByteArrayList{"41 ff 00 55 42"}
                                      << QByteArray("41 3f 42");
    QTest::newRow("0xFF spezzato fra due letture") << QByteArrayList{"10 ff", "ff 20"}
                                                   << QByteArray("10 ff 20");
    QTest::newRow("marcatore spezzato dopo 0x00") << QByteArrayList{"ff 00", "55 42"}
                                                  << QByteArray("3f 42");
    QTest::newRow("marcatore in tre letture") << QByteArrayList{"ff", "00", "55"}
                                              << QByteArray("3f");
    QTest::newRow("interruzione di linea") << QByteArrayList{"ff 00 00 07"}
                                           << QByteArray("3f 07");
    QTest::newRow("0xFF seguito da altro") << QByteArrayList{"ff 41"} << QByteArray("ff 41");
}

void TestConversioni::marcatoriParita()
{
    QFETCH(QByteArrayList, letture);
    QFETCH(QByteArray, attesi);
    MarcatoriParita marcatori('?');
    QByteArray uscita;
    for (const QByteArray &lettura : letture)
        marcatori.decodifica(QByteArray::fromHex(lettura), uscita);
    QCOMPARE(uscita.toHex(' '), attesi);
}

void TestConversioni::citazioneNeiMessaggi_data()
{
    QTest::addColumn<QString>("testo");
    QTest::addColumn<QString>("citato");

    QTest::newRow("breve") << "abc" << QStringLiteral("«abc»");
    QTest::newRow("a capo e tabulazione") << "a\nb\tc" << QStringLiteral("«a\uFFFDb\uFFFDc»");
    QTest::newRow("lungo") << QString(100000, u'x')
                           << QStringLiteral("«%1… (100000 caratteri)»").arg(QString(40, u'x'));
    QTest::newRow("emoji al taglio non spezzata")
            << QString(39, u'x') + QStringLiteral("\U0001F600\U0001F600")
            << QStringLiteral("«%1… (43 caratteri)»").arg(QString(39, u'x'));
}

void TestConversioni::citazioneNeiMessaggi()
{
    QFETCH(QString, testo);
    QFETCH(QString, citato);
    QCOMPARE(citaTesto(testo), citato);
}

void TestConversioni::vociRicevute_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<QString>("voce");
    QTest::newRow("zero") << 0x00 << " 0";
    QTest::newRow("una cifra") << 0x0A << " A";
    QTest::newRow("due cifre") << 0xE8 << " E8";
    QTest::newRow("massimo") << 0xFF << " FF";
}

void TestConversioni::vociRicevute()
{
    QFETCH(int, byte);
    QFETCH(QString, voce);
    QCOMPARE(voceRicevuta(quint8(byte)), voce);
}

void TestConversioni::decodificaRisposta_data()
{
    QTest::addColumn<QString>("testo");
    QTest::addColumn<qint64>("valore");
    QTest::addColumn<int>("errore");

    QTest::newRow("lettura di 1000") << " 6 0 3 E8" << qint64(1000) << kNessunErrore;
    QTest::newRow("byte alto zero, basso di una cifra") << " 0 5" << qint64(5) << kNessunErrore;
    QTest::newRow("un byte solo") << " 7F" << qint64(127) << kNessunErrore;
    QTest::newRow("una cifra sola") << " 7" << qint64(7) << kNessunErrore;
    QTest::newRow("nulla ricevuto") << "" << qint64(0) << kNessunErrore;
    QTest::newRow("alto e basso di una cifra") << " 1 5" << qint64(261) << kNessunErrore;
    QTest::newRow("0x0308") << " 3 8" << qint64(776) << kNessunErrore;
    QTest::newRow("alto di due cifre") << " 12 34" << qint64(4660) << kNessunErrore;
    QTest::newRow("alto di due cifre, basso di una") << " AB 5" << qint64(43781) << kNessunErrore;
    QTest::newRow("massimo") << " FF FF" << qint64(65535) << kNessunErrore;
    QTest::newRow("minuscole scritte a mano") << " ab cd" << qint64(0xABCD) << kNessunErrore;
    QTest::newRow("spazi in più") << "  1   2 " << qint64(0x0102) << kNessunErrore;

    const int errore = int(CodiceErrore::RispostaNonDecodificabile);
    QTest::newRow("tre cifre") << " 1 234" << qint64(0) << errore;
    QTest::newRow("non esadecimale") << " 6 G" << qint64(0) << errore;
    QTest::newRow("segno") << " 6 +1" << qint64(0) << errore;
    QTest::newRow("voce sbagliata prima delle ultime") << " x 1 2" << qint64(0) << errore;
}

void TestConversioni::decodificaRisposta()
{
    QFETCH(QString, testo);
    QFETCH(qint64, valore);
    QFETCH(int, errore);
    const Esito esito = esegui([&] { return ::decodificaRisposta(testo); });
    QCOMPARE(esito.errore, errore);
    QCOMPARE(esito.valore, valore);
}

// However many bytes arrive, the text stays bounded, keeps whole entries in the order they came
// and always ends with the newest one.
void TestConversioni::testoRicevutoLimitatoTieneIPiuRecenti()
{
    TestoRicevuto testo;
    QStringList tutte;
    for (int i = 0; i < 100'000; ++i) {
        const QString voce = voceRicevuta(quint8(i * 7));
        tutte.append(voce);
        testo.aggiungi(voce);
        QVERIFY(testo.testo().size() <= 2 * TestoRicevuto::kCaratteriTenuti + 3);
    }
    QVERIFY(testo.testo().size() >= TestoRicevuto::kCaratteriTenuti);
    QVERIFY(testo.testo().startsWith(u' '));
    const qsizetype voci = testo.testo().count(u' ');
    QCOMPARE(testo.testo(), tutte.mid(tutte.size() - voci).join(QString()));
}

QTEST_APPLESS_MAIN(TestConversioni)
#include "test_conversioni.moc"
