#include "collaudo_posti.h"
#include "componente_seriale.h"
#include "giro_posti.h"
#include "interruttore.h"
#include "linee.h"
#include "peer_pty.h"
#include "processo.h"

#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

RigaBanco riga(const QString &nome, quint16 memoria)
{
    RigaBanco r;
    r.nome = nome;
    r.memoria = memoria;
    return r;
}

PostoBanco posto(const QString &nome, const QString &porta, quint16 strumento)
{
    PostoBanco p;
    p.nome = nome;
    p.porta = porta;
    p.strumento = strumento;
    return p;
}

// What each socket was told, in order: "0:risposta", … then "fine" or "fermato".
struct Eventi
{
    explicit Eventi(GiroPosti &giro)
    {
        QObject::connect(&giro, &GiroPosti::letta,
            [this](int posto, int riga, const RisultatoRichiesta &risultato, const QString &) {
                perPosto[posto] << QStringLiteral("%1:%2").arg(riga).arg(risultato.testoEsito());
                dispositivi[posto] = risultato.dispositivo;
            });
        QObject::connect(&giro, &GiroPosti::terminato, [this](int posto, bool fermato) {
            perPosto[posto] << (fermato ? QStringLiteral("fermato") : QStringLiteral("fine"));
            ++finiti;
        });
    }
    QMap<int, QStringList> perPosto;
    QMap<int, QString> dispositivi;
    int finiti = 0;
};

} // namespace

class TestPosti : public QObject
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

    void postiInParallelo_data();
    void postiInParallelo();
    void unPostoFermatoLasciaGliAltri();
    void lineaPrestata();
    void coperchio_data();
    void coperchio();
    void interruttoreSuUnTerminaleVirtuale();
    void avvisoDeiContatti_data();
    void avvisoDeiContatti();

private:
    QTemporaryDir m_cartella;
};

// Each row names a socket's port and instrument; sockets on one port share its line.
void TestPosti::postiInParallelo_data()
{
    QTest::addColumn<QList<int>>("porte"); // the socket's port, counting from 1
    QTest::addColumn<int>("spento"); // the port whose instrument is gone, 0 for none

    QTest::newRow("quattro linee") << QList<int>{1, 2, 3, 4} << 0;
    QTest::newRow("una linea spenta, le altre finiscono") << QList<int>{1, 2, 3} << 2;
    QTest::newRow("tre posti su una linea") << QList<int>{1, 1, 1} << 0;
}

void TestPosti::postiInParallelo()
{
    QFETCH(QList<int>, porte);
    QFETCH(int, spento);

    DatiBanco banco;
    banco.righe = {riga("Temperatura", 0x0008), riga("Tensione", 0x000C)};
    QMap<int, QStringList> indirizzi;
    for (qsizetype i = 0; i < porte.size(); ++i) {
        const auto strumento = quint16(i + 1);
        banco.posti.append(posto(QString(QChar(char16_t(u'A' + i))), QString::number(porte.at(i)), strumento));
        indirizzi[porte.at(i)] << QString::number(strumento);
    }
    std::vector<std::unique_ptr<StrumentoInProva>> strumenti;
    for (auto p = indirizzi.cbegin(); p != indirizzi.cend(); ++p) {
        strumenti.push_back(std::make_unique<StrumentoInProva>());
        QVERIFY(strumenti.back()->avvia(m_cartella.filePath(QStringLiteral("porta%1").arg(p.key())),
            {"--indirizzo", p.value().join(u',')}));
    }
    if (spento)
        strumenti.at(size_t(spento - 1)).reset();

    GiroPosti giro(banco, QStringLiteral("la prova"));
    Eventi eventi(giro);
    QMutex mutex;
    QMap<QString, int> pause; // told in the lines' threads
    connect(
        &giro, &GiroPosti::pausaTerminata, &giro,
        [&](const QString &dispositivo, std::chrono::nanoseconds) {
            const QMutexLocker blocco(&mutex);
            ++pause[dispositivo];
        },
        Qt::DirectConnection);
    for (int i = 0; i < giro.numeroPosti(); ++i) {
        QString motivo;
        QVERIFY2(giro.avvia(i, &motivo), qPrintable(motivo));
    }
    QTRY_COMPARE_WITH_TIMEOUT(eventi.finiti, giro.numeroPosti(), 30000);

    // Each live line's pauses are told under its device: five a request of its sockets.
    QMap<QString, int> attese;
    for (int i = 0; i < giro.numeroPosti(); ++i) {
        if (porte.at(i) != spento)
            attese[giro.dispositivo(i)] += 5 * int(banco.righe.size());
    }
    {
        const QMutexLocker blocco(&mutex);
        for (auto a = attese.cbegin(); a != attese.cend(); ++a)
            QCOMPARE(pause.value(a.key()), a.value());
    }

    for (int i = 0; i < giro.numeroPosti(); ++i) {
        const QStringList atteso = porte.at(i) == spento
            ? QStringList{"0:errore 11", "1:errore 11", "fine"}
            : QStringList{"0:risposta", "1:risposta", "fine"};
        QCOMPARE(eventi.perPosto.value(i), atteso);
    }
    // Every instrument heard whole requests only, each at its own address.
    for (auto p = indirizzi.cbegin(); p != indirizzi.cend(); ++p) {
        if (p.key() == spento)
            continue;
        StrumentoInProva &strumento = *strumenti.at(size_t(std::distance(indirizzi.cbegin(), p)));
        QStringList letture;
        for (qsizetype n = 0; n < 2 * p.value().size(); ++n) {
            const QString richiesta = strumento.attendiRiga(QStringLiteral("richiesta"));
            QVERIFY2(!richiesta.contains(u"non valida"), qPrintable(richiesta));
            letture << richiesta.section(QStringLiteral("lettura di "), 1).section(u':', 0, 0);
        }
        // Sockets sharing a line take turns, one whole request each.
        QCOMPARE(letture, p.value() + p.value());
    }
}

// A socket stopped while another shares its line: it ends at once, the other reads every row.
void TestPosti::unPostoFermatoLasciaGliAltri()
{
    StrumentoInProva strumento;
    QVERIFY(strumento.avvia(m_cartella.filePath("porta1"), {"--indirizzo", "1,2"}));
    DatiBanco banco;
    banco.righe = {riga("a", 8), riga("b", 8), riga("c", 8)};
    banco.posti = {posto("A", "1", 1), posto("B", "1", 2)};
    GiroPosti giro(banco, QStringLiteral("la prova"));
    Eventi eventi(giro);
    QString motivo;
    QVERIFY(giro.avvia(0, &motivo));
    QVERIFY(giro.avvia(1, &motivo));
    QVERIFY(!giro.avvia(1, &motivo));
    QTRY_VERIFY_WITH_TIMEOUT(!eventi.perPosto.value(1).isEmpty(), 10000);
    giro.ferma(1);
    QTRY_COMPARE_WITH_TIMEOUT(eventi.finiti, 2, 10000);
    QCOMPARE(eventi.perPosto.value(0), (QStringList{"0:risposta", "1:risposta", "2:risposta", "fine"}));
    QCOMPARE(eventi.perPosto.value(1).last(), QStringLiteral("fermato"));
    QVERIFY(eventi.perPosto.value(1).size() < 4);
}

// A line lent to a round is busy for the panel's port under any of its names, and free again
// when the round ends.
void TestPosti::lineaPrestata()
{
    PeerPty peer;
    const QString collegamento = m_cartella.filePath("altro-nome");
    QVERIFY(QFile::link(peer.percorso(), collegamento));
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());
    qputenv("BANCO_PORTA2", collegamento.toLocal8Bit());

    ComponenteSeriale pannello;
    pannello.setCommPort(2);
    pannello.setPortOpen(true);
    QVERIFY(pannello.PortOpen());

    DatiBanco banco;
    banco.righe = {riga("a", 8)};
    banco.posti = {posto("A", "1", 1)};
    GiroPosti giro(banco, QStringLiteral("la stazione"));
    GiroPosti altro(banco, QStringLiteral("un'altra stazione"));
    Eventi eventi(giro);
    QString motivo;
    QVERIFY(giro.avvia(0, &motivo));
    // The panel's port let the line go as it was lent.
    QVERIFY(!pannello.PortOpen());
    try {
        pannello.setPortOpen(true);
        QFAIL("la porta del pannello si è aperta su una linea prestata");
    } catch (const Errore &errore) {
        QCOMPARE(errore.codice(), CodiceErrore::PortaOccupata);
        QVERIFY2(errore.descrizione().contains(u"la stazione"), qPrintable(errore.descrizione()));
    }
    QVERIFY(!altro.avvia(0, &motivo));
    QVERIFY2(motivo.contains(u"la stazione"), qPrintable(motivo));

    QTRY_COMPARE_WITH_TIMEOUT(eventi.finiti, 1, 10000);
    pannello.setPortOpen(true);
    QVERIFY(pannello.PortOpen());
}

void TestPosti::coperchio_data()
{
    QTest::addColumn<QString>("letture"); // 1 active, 0 inactive, - not readable
    QTest::addColumn<QString>("chiusure"); // where a closing is told: the readings' positions

    QTest::newRow("aperto, poi chiuso") << "0011" << "3";
    QTest::newRow("una lettura attiva sola non conta") << "00100" << "";
    QTest::newRow("chiuso già all'avvio: conta solo dopo un'apertura") << "1111001" << "";
    QTest::newRow("chiuso all'avvio, aperto e chiuso") << "11110011" << "7";
    QTest::newRow("un attimo inattivo mentre la porta si riapre non è una nuova chiusura")
        << "00110111" << "3";
    QTest::newRow("due chiusure vere") << "0011001100" << "3 7";
    QTest::newRow("non leggibile: il conto riparte") << "001-1011" << "7";
}

void TestPosti::coperchio()
{
    QFETCH(QString, letture);
    QFETCH(QString, chiusure);
    Interruttore interruttore;
    QStringList dette;
    for (qsizetype i = 0; i < letture.size(); ++i) {
        const QChar c = letture.at(i);
        if (interruttore.aggiorna(c == u'-' ? std::nullopt : std::optional<bool>(c == u'1')))
            dette << QString::number(i);
    }
    QCOMPARE(dette.join(u' '), chiusure);
}

// A pseudo-terminal has no modem lines: the station is told once that the switch cannot be
// read, and the switch's line stays taken for it.
void TestPosti::interruttoreSuUnTerminaleVirtuale()
{
    PeerPty peer;
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());
    DatiBanco banco;
    banco.righe = {riga("a", 8)};
    banco.posti = {posto("A", "1", 1)};
    banco.interruttore = InterruttoreBanco{QStringLiteral("A"), QStringLiteral("DSR")};
    GiroPosti giro(banco, QStringLiteral("la stazione"));
    QSignalSpy illeggibile(&giro, &GiroPosti::interruttoreIlleggibile);
    QString motivo;
    QVERIFY2(giro.sorvegliaInterruttore(&motivo), qPrintable(motivo));
    QVERIFY(illeggibile.wait(5000));
    QVERIFY2(illeggibile.first().first().toString().contains(u"non dice lo stato"),
        qPrintable(illeggibile.first().first().toString()));
    QCOMPARE(Linee::istanza().occupante(Linee::risolvi(peer.percorso())), QStringLiteral("la stazione"));
    // Told once, however many readings fail.
    QTest::qWait(5 * Interruttore::kIntervalloMs);
    QCOMPARE(illeggibile.size(), 1);
}

void TestPosti::avvisoDeiContatti_data()
{
    // Today's units and those conforming at their first run: the socket's, the others' together.
    QTest::addColumn<QList<qint64>>("posto");
    QTest::addColumn<QList<qint64>>("altri");
    QTest::addColumn<QString>("avviso"); // empty: no warning
    const QString sotto = QStringLiteral("resa al primo passaggio %1 punti sotto gli altri posti: "
                                         "controllare i contatti dell'alloggiamento");
    QTest::newRow("10,1 punti sotto avvisa")
        << QList<qint64>{10, 8} << QList<qint64>{1000, 901} << sotto.arg(QStringLiteral("10,1"));
    QTest::newRow("10 punti sotto non avvisa")
        << QList<qint64>{10, 8} << QList<qint64>{10, 9} << QString();
    QTest::newRow("troppo poche unità nel posto")
        << QList<qint64>{4, 0} << QList<qint64>{30, 30} << QString();
    QTest::newRow("troppo poche unità negli altri")
        << QList<qint64>{30, 0} << QList<qint64>{4, 4} << QString();
    QTest::newRow("un posto solo") << QList<qint64>{30, 0} << QList<qint64>{0, 0} << QString();
    QTest::newRow("cinque unità per parte bastano")
        << QList<qint64>{5, 2} << QList<qint64>{5, 5} << sotto.arg(QStringLiteral("60,0"));
    QTest::newRow("sopra gli altri non avvisa")
        << QList<qint64>{10, 10} << QList<qint64>{10, 5} << QString();
}

void TestPosti::avvisoDeiContatti()
{
    QFETCH(QList<qint64>, posto);
    QFETCH(QList<qint64>, altri);
    QTEST(CollaudoPosti::avvisoContatti({posto[0], posto[1]}, {altri[0], altri[1]}), "avviso");
}

QTEST_GUILESS_MAIN(TestPosti)
#include "test_posti.moc"
