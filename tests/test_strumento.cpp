#include "processo.h"
#include "strumento.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;
using std::chrono::milliseconds;

namespace {

// Bytes as the line brings them: each group of hex bytes at its moment in milliseconds.
using Linea = QList<std::pair<int, QByteArray>>;

Linea richiesta(
    int inizio, const char *indirizzo, const char *comando, const char *memoria, int pausa = 100)
{
    return {{inizio, "55"}, {inizio + pausa, indirizzo}, {inizio + 2 * pausa, comando},
        {inizio + 3 * pausa, "0002"}, {inizio + 4 * pausa, memoria}};
}

} // namespace

class TestStrumento : public QObject
{
    Q_OBJECT

private slots:
    void risposte_data();
    void risposte();
    void lineaVistaDalTerminale_data();
    void lineaVistaDalTerminale();
    void parolaCheDeriva();
};

void TestStrumento::risposte_data()
{
    QTest::addColumn<Strumento::Guasto>("guasto");
    QTest::addColumn<Linea>("linea");
    QTest::addColumn<QStringList>("risposte");
    QTest::addColumn<QString>("nelRegistro");
    // How the sender broke the line: the rate of every byte, or the parity of the 55 or of the
    // rest; empty for a line as it should be. Or "stallo DA-A": the reader held from one moment
    // to the next, as a busy machine may hold it, finding what arrived meanwhile at once.
    QTest::addColumn<QString>("lineaRotta");

    using G = Strumento::Guasto;
    QTest::newRow("lettura") << G::Nessuno << richiesta(0, "0000", "00", "0008")
                             << QStringList{"06 00 03 E8"} << "lettura di 0:0008 = 1000"
                             << QString();
    QTest::newRow("indirizzo di memoria sconosciuto vale 0")
        << G::Nessuno << richiesta(0, "0000", "00", "0777") << QStringList{"06 00 00 00"}
        << "lettura di 0:0777 = 0" << QString();
    QTest::newRow("scrittura") << G::Nessuno << richiesta(0, "0000", "02", "001C")
                               << QStringList{"06"} << "scrittura in 001C" << QString();
    QTest::newRow("ripetizione senza lettura prima")
        << G::Nessuno << richiesta(0, "0000", "01", "0008") << QStringList{"15"} << "ripetizione"
        << QString();
    QTest::newRow("ripetizione dopo una lettura")
        << G::Nessuno << richiesta(0, "0000", "00", "0034") + richiesta(600, "0000", "01", "0008")
        << QStringList{"06 00 27 0F", "06 00 27 0F"} << "ripetizione dell'ultima lettura"
        << QString();
    QTest::newRow("altro strumento")
        << G::Nessuno << richiesta(0, "0005", "00", "0008") << QStringList{}
        << "per lo strumento 5, che non è sulla linea" << QString();
    QTest::newRow("secondo strumento, parola sua")
        << G::Nessuno << richiesta(0, "0003", "00", "0034") << QStringList{"06 00 04 D2"}
        << "lettura di 3:0034 = 1234" << QString();
    QTest::newRow("secondo strumento, parola comune")
        << G::Nessuno << richiesta(0, "0003", "00", "0008") << QStringList{"06 00 03 E8"}
        << "lettura di 3:0008 = 1000" << QString();
    QTest::newRow("primo strumento, non la parola del secondo")
        << G::Nessuno << richiesta(0, "0000", "00", "0034") << QStringList{"06 00 27 0F"}
        << "lettura di 0:0034 = 9999" << QString();
    QTest::newRow("0x55 non da solo")
        << G::Nessuno << Linea{{0, "5500"}, {100, "00"}} << QStringList{}
        << "richiesta non valida: 55 00; motivo: il gruppo 1 ha 2 byte" << QString();
    QTest::newRow("quarto gruppo sbagliato")
        << G::Nessuno << Linea{{0, "55"}, {100, "0000"}, {200, "00"}, {300, "0003"}}
        << QStringList{} << "il quarto gruppo non è 00 02" << QString();
    QTest::newRow("pause troppo brevi") << G::Nessuno << richiesta(0, "0000", "00", "0008", 45)
                                        << QStringList{} << "arrivato solo 45 ms dopo" << QString();
    QTest::newRow("richiesta incompleta, poi una intera")
        << G::Nessuno << Linea{{0, "55"}, {100, "0000"}} + richiesta(1000, "0000", "00", "0008")
        << QStringList{"06 00 03 E8"} << "richiesta incompleta: 55 | 00 00" << QString();
    QTest::newRow("dopo una richiesta rotta, la successiva")
        << G::Nessuno << Linea{{0, "5555"}, {100, "0000"}} + richiesta(900, "0000", "00", "0008")
        << QStringList{"06 00 03 E8"} << "lettura di 0:0008" << QString();
    QTest::newRow("guasto: nessuna risposta")
        << G::NessunaRisposta << richiesta(0, "0000", "00", "0008") << QStringList{}
        << "nessuna risposta" << QString();
    QTest::newRow("guasto: risposta parziale")
        << G::Parziale << richiesta(0, "0000", "00", "0008") << QStringList{"06 00"}
        << "risposta parziale" << QString();
    QTest::newRow("0x55 con parità dispari")
        << G::Nessuno << richiesta(0, "0000", "00", "0008") << QStringList{}
        << "55 con parità dispari; nessuna risposta"
        << "55 dispari";
    QTest::newRow("il resto senza parità dispari")
        << G::Nessuno << richiesta(0, "0000", "00", "0008") << QStringList{}
        << "00 con parità pari o senza parità; nessuna risposta"
        << "resto pari";
    const Linea insieme{{0, "55"}, {100, "0000"}, {200, "00"}, {300, "00020008"}};
    QTest::newRow("letti in ritardo: i gruppi 4 e 5 insieme dopo uno stallo")
        << G::Nessuno << richiesta(0, "0000", "00", "0008") << QStringList{"06 00 03 E8"}
        << "pause: 100 100 ≤250 ≤160"
        << "stallo 290-450";
    QTest::newRow("letti in ritardo: la richiesta intera, il 55 quando la linea è già dispari")
        << G::Nessuno << richiesta(0, "0000", "00", "0008") << QStringList{"06 00 03 E8"}
        << "lettura di 0:0008"
        << "stallo 0-700";
    QTest::newRow("uno stallo breve non scusa due fasi scritte insieme")
        << G::Nessuno << insieme << QStringList{} << "il gruppo 4 ha 3 byte invece di 2"
        << "stallo 295-320";
    // A sender stopped in the middle of a request, the next one right after.
    QTest::newRow("interrotta dopo il 55, poi una intera")
        << G::Nessuno << Linea{{0, "55"}} + richiesta(100, "0000", "00", "0008")
        << QStringList{"06 00 03 E8"} << "richiesta incompleta: 55; nessuna risposta" << QString();
    QTest::newRow("interrotta dopo l'indirizzo, poi una intera")
        << G::Nessuno << Linea{{0, "55"}, {100, "0000"}} + richiesta(200, "0000", "00", "0008")
        << QStringList{"06 00 03 E8"} << "richiesta incompleta: 55 | 00 00; nessuna risposta"
        << QString();
    QTest::newRow("interrotta dopo il quarto gruppo, poi una intera")
        << G::Nessuno
        << Linea{{0, "55"}, {100, "0000"}, {200, "00"}, {300, "0002"}}
            + richiesta(400, "0000", "00", "0008")
        << QStringList{"06 00 03 E8"} << "richiesta incompleta: 55 | 00 00 | 00 | 00 02;"
        << QString();
    QTest::newRow("interrotta dopo il 55, poi una col 55 dispari")
        << G::Nessuno << Linea{{0, "55"}} + richiesta(100, "0000", "00", "0008") << QStringList{}
        << "55 con parità dispari; nessuna risposta"
        << "55 dispari";
    QTest::newRow("a un'altra velocità")
        << G::Nessuno << richiesta(0, "0000", "00", "0008") << QStringList{}
        << "baud 19200 invece di 9600; nessuna risposta"
        << "19200";
}

void TestStrumento::risposte()
{
    QFETCH(Strumento::Guasto, guasto);
    QFETCH(Linea, linea);
    QFETCH(QStringList, risposte);
    QFETCH(QString, nelRegistro);
    QFETCH(QString, lineaRotta);

    Strumento::Configurazione configurazione;
    configurazione.guasto = guasto;
    configurazione.indirizzi = {0, 3}; // two instruments on one pair
    configurazione.memoriaDi[3][0x0034] = 1234;
    Strumento strumento(configurazione);
    QStringList date;
    QString registro;
    const QStringList stallo = lineaRotta.startsWith(u"stallo") ? lineaRotta.mid(7).split(u'-')
                                                                : QStringList{"-1", "-1"};
    for (const auto &[istante, gruppo] : linea) {
        // 0x55 is the only byte of the first group: the rest comes later.
        const bool primo = gruppo == "55" || gruppo == "5500" || gruppo == "5555";
        Strumento::Linea vista{lineaRotta == u"19200" ? 19200 : 9600, !primo};
        if ((primo && lineaRotta == u"55 dispari") || (!primo && lineaRotta == u"resto pari"))
            vista.dispari = !vista.dispari;
        const bool fermo = istante >= stallo[0].toInt() && istante < stallo[1].toInt();
        const int letto = fermo ? stallo[1].toInt() : istante;
        if (fermo) // the line as it is when read: odd once the address has been written
            vista.dispari = letto >= linea.at(1).first;
        const milliseconds incertezza(fermo ? letto - stallo[0].toInt() : 0);
        for (const char byte : QByteArray::fromHex(gruppo)) {
            if (auto esito = strumento.ricevi(byte, milliseconds(letto), vista, incertezza)) {
                registro += esito->registro + u'\n';
                if (esito->risposta)
                    date.append(comeEsadecimale(*esito->risposta));
            }
        }
    }
    if (auto esito = strumento.silenzio(milliseconds(linea.last().first + 5000)))
        registro += esito->registro + u'\n';
    QCOMPARE(date, risposte);
    QVERIFY2(registro.contains(nelRegistro), qPrintable(registro));
}

// A drifting word grows by its step at each read, for each instrument apart, and never leaves
// the word's range.
void TestStrumento::parolaCheDeriva()
{
    Strumento::Configurazione configurazione;
    configurazione.indirizzi = {0, 3};
    configurazione.deriva = {{0x0008, 2}, {0x000C, -300}};
    Strumento strumento(configurazione);
    QStringList letture;
    int inizio = 0;
    for (const auto &[indirizzo, memoria] : {std::pair{"0000", "0008"}, std::pair{"0000", "0008"},
             std::pair{"0003", "0008"}, std::pair{"0000", "0008"}, std::pair{"0000", "000C"},
             std::pair{"0000", "000C"}}) {
        for (const auto &[istante, gruppo] : richiesta(inizio, indirizzo, "00", memoria)) {
            for (const char byte : QByteArray::fromHex(gruppo)) {
                if (auto esito = strumento.ricevi(byte, milliseconds(istante)))
                    letture << esito->registro.section(QStringLiteral("lettura di "), 1).section(u';', 0, 0);
            }
        }
        inizio += 1000;
    }
    QCOMPARE(letture,
        (QStringList{"0:0008 = 1000", "0:0008 = 1002", "3:0008 = 1000", "0:0008 = 1004",
            "0:000C = 230", "0:000C = 0"}));
}

void TestStrumento::lineaVistaDalTerminale_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("dispari55");
    QTest::addColumn<QStringList>("opzioni");
    QTest::addColumn<QByteArrayList>("interrotta"); // a sender's groups before it stopped
    QTest::addColumn<QString>("nelRegistro");

    const QStringList nessuna;
    QTest::newRow("come il programma: 55 pari, il resto dispari")
        << 9600 << false << nessuna << QByteArrayList{} << "risposta: 06 00 03 E8";
    QTest::newRow("55 con parità dispari")
        << 9600 << true << nessuna << QByteArrayList{} << "55 con parità dispari";
    QTest::newRow("a 19200 invece di 9600")
        << 19200 << false << nessuna << QByteArrayList{} << "baud 19200 invece di 9600";
    QTest::newRow("dopo un programma fermato al quarto gruppo")
        << 9600 << false << nessuna << QByteArrayList{"55", "0000", "00", "0002"}
        << "lettura di 0:0008 = 1000; risposta: 06 00 03 E8";
    QTest::newRow("--memoria lascia le altre parole")
        << 9600 << false << QStringList{"--memoria", "000C=262"} << QByteArrayList{}
        << "lettura di 0:0008 = 1000";
}

// The virtual instrument reads the line's settings from its end of the terminal as the bytes
// arrive: a peer here sets them as the program would, breaks them on purpose or stops midway.
void TestStrumento::lineaVistaDalTerminale()
{
    QFETCH(int, baud);
    QFETCH(bool, dispari55);
    QFETCH(QStringList, opzioni);
    QFETCH(QByteArrayList, interrotta);
    QFETCH(QString, nelRegistro);

    QTemporaryDir cartella;
    const QString collegamento = cartella.filePath("porta");
    StrumentoInProva strumento;
    QVERIFY(strumento.avvia(collegamento, QStringList{"--baud", "9600"} + opzioni));
    int linea = ::open(QFile::encodeName(collegamento).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(linea >= 0);
    const auto scrivi = [&](bool dispari, const QByteArray &gruppo) {
        termios impostazioni{};
        ::tcgetattr(linea, &impostazioni);
        ::cfmakeraw(&impostazioni);
        ::cfsetspeed(&impostazioni, baud == 19200 ? B19200 : B9600);
        impostazioni.c_cflag = (impostazioni.c_cflag & ~tcflag_t(PARODD)) | PARENB;
        if (dispari)
            impostazioni.c_cflag |= PARODD;
        ::tcsetattr(linea, TCSANOW, &impostazioni);
        QCOMPARE(::write(linea, gruppo.constData(), size_t(gruppo.size())), gruppo.size());
        QThread::msleep(100);
    };
    for (const QByteArray &gruppo : interrotta)
        scrivi(gruppo != "55", QByteArray::fromHex(gruppo));
    if (!interrotta.isEmpty()) { // the sender stopped: another program opens the line
        ::close(linea);
        linea = ::open(QFile::encodeName(collegamento).constData(), O_RDWR | O_NOCTTY);
    }
    scrivi(dispari55, QByteArray::fromHex("55"));
    for (const char *gruppo : {"0000", "00", "0002", "0008"})
        scrivi(true, QByteArray::fromHex(gruppo));
    const QString registro = strumento.attendiRiga("richiesta:");
    ::close(linea);
    QVERIFY2(registro.contains(nelRegistro), qPrintable(registro));
}

QTEST_GUILESS_MAIN(TestStrumento)
#include "test_strumento.moc"
