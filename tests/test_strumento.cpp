#include "strumento.h"

#include <QTest>

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
};

void TestStrumento::risposte_data()
{
    QTest::addColumn<Strumento::Guasto>("guasto");
    QTest::addColumn<Linea>("linea");
    QTest::addColumn<QStringList>("risposte");
    QTest::addColumn<QString>("nelRegistro");

    using G = Strumento::Guasto;
    QTest::newRow("lettura") << G::Nessuno << richiesta(0, "0000", "00", "0008")
                             << QStringList{"06 00 03 E8"} << "lettura di 0:0008 = 1000";
    QTest::newRow("indirizzo di memoria sconosciuto vale 0")
        << G::Nessuno << richiesta(0, "0000", "00", "0777") << QStringList{"06 00 00 00"}
        << "lettura di 0:0777 = 0";
    QTest::newRow("scrittura") << G::Nessuno << richiesta(0, "0000", "02", "001C")
                               << QStringList{"06"} << "scrittura in 001C";
    QTest::newRow("ripetizione senza lettura prima")
        << G::Nessuno << richiesta(0, "0000", "01", "0008") << QStringList{"15"} << "ripetizione";
    QTest::newRow("ripetizione dopo una lettura")
        << G::Nessuno << richiesta(0, "0000", "00", "0034") + richiesta(600, "0000", "01", "0008")
        << QStringList{"06 00 27 0F", "06 00 27 0F"} << "ripetizione dell'ultima lettura";
    QTest::newRow("altro strumento")
        << G::Nessuno << richiesta(0, "0005", "00", "0008") << QStringList{}
        << "per lo strumento 5, che non è sulla linea";
    QTest::newRow("secondo strumento, parola sua")
        << G::Nessuno << richiesta(0, "0003", "00", "0034") << QStringList{"06 00 04 D2"}
        << "lettura di 3:0034 = 1234";
    QTest::newRow("secondo strumento, parola comune")
        << G::Nessuno << richiesta(0, "0003", "00", "0008") << QStringList{"06 00 03 E8"}
        << "lettura di 3:0008 = 1000";
    QTest::newRow("primo strumento, non la parola del secondo")
        << G::Nessuno << richiesta(0, "0000", "00", "0034") << QStringList{"06 00 27 0F"}
        << "lettura di 0:0034 = 9999";
    QTest::newRow("0x55 non da solo")
        << G::Nessuno << Linea{{0, "5500"}, {100, "00"}} << QStringList{}
        << "richiesta non valida: 55 00; motivo: il gruppo 1 ha 2 byte";
    QTest::newRow("quarto gruppo sbagliato")
        << G::Nessuno << Linea{{0, "55"}, {100, "0000"}, {200, "00"}, {300, "0003"}}
        << QStringList{} << "il quarto gruppo non è 00 02";
    QTest::newRow("pause troppo brevi") << G::Nessuno << richiesta(0, "0000", "00", "0008", 45)
                                        << QStringList{} << "arrivato solo 45 ms dopo";
    QTest::newRow("richiesta incompleta, poi una intera")
        << G::Nessuno << Linea{{0, "55"}, {100, "0000"}} + richiesta(1000, "0000", "00", "0008")
        << QStringList{"06 00 03 E8"} << "richiesta incompleta: 55 | 00 00";
    QTest::newRow("dopo una richiesta rotta, la successiva")
        << G::Nessuno << Linea{{0, "5555"}, {100, "0000"}} + richiesta(900, "0000", "00", "0008")
        << QStringList{"06 00 03 E8"} << "lettura di 0:0008";
    QTest::newRow("guasto: nessuna risposta")
        << G::NessunaRisposta << richiesta(0, "0000", "00", "0008") << QStringList{}
        << "nessuna risposta";
    QTest::newRow("guasto: risposta parziale") << G::Parziale << richiesta(0, "0000", "00", "0008")
                                               << QStringList{"06 00"} << "risposta parziale";
}

void TestStrumento::risposte()
{
    QFETCH(Strumento::Guasto, guasto);
    QFETCH(Linea, linea);
    QFETCH(QStringList, risposte);
    QFETCH(QString, nelRegistro);

    Strumento::Configurazione configurazione;
    configurazione.guasto = guasto;
    configurazione.indirizzi = {0, 3}; // two instruments on one pair
    configurazione.memoriaDi[3][0x0034] = 1234;
    Strumento strumento(configurazione);
    QStringList date;
    QString registro;
    for (const auto &[istante, gruppo] : linea) {
        for (const char byte : QByteArray::fromHex(gruppo)) {
            if (auto esito = strumento.ricevi(byte, milliseconds(istante))) {
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

QTEST_APPLESS_MAIN(TestStrumento)
#include "test_strumento.moc"
