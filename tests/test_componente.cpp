#include "componente_seriale.h"
#include "peer_pty.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace std::chrono_literals;

namespace {

int numeroErrore(const std::function<void()> &operazione, QString *descrizione = nullptr)
{
    try {
        operazione();
    } catch (const Errore &errore) {
        if (descrizione)
            *descrizione = errore.descrizione();
        return errore.numero();
    }
    return 0;
}

QByteArray byteCasuali(qsizetype quanti)
{
    QByteArray dati(quanti, Qt::Uninitialized);
    for (char &c : dati)
        c = char(QRandomGenerator::global()->bounded(256));
    return dati;
}

// Port 1 of the component reaches the peer's device.
void collega(ComponenteSeriale &comm, const QString &dispositivo, const QString &impostazioni)
{
    qputenv("BANCO_PORTA1", dispositivo.toLocal8Bit());
    comm.setCommPort(1);
    comm.setSettings(impostazioni);
    comm.setPortOpen(true);
}

} // namespace

class TestComponente : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void numeriDiPorta_data();
    void numeriDiPorta();
    void velocita_data();
    void velocita();
    void chiusuraDopoLaScritturaNonPerdeByte();
    void lineaBloccataNonBloccaLaFinestra();
    void portaGiaInUso();
    void permessoNegato();
};

void TestComponente::cleanup()
{
    for (int numero = 1; numero <= 9; ++numero)
        qunsetenv(qPrintable(QStringLiteral("BANCO_PORTA%1").arg(numero)));
}

void TestComponente::numeriDiPorta_data()
{
    QTest::addColumn<int>("numero");
    QTest::addColumn<QString>("variabile");
    QTest::addColumn<int>("errore");
    QTest::addColumn<QString>("nelMessaggio");

    QTest::newRow("variabile verso il terminale") << 3 << "<peer>" << 0 << "";
    QTest::newRow("variabile verso un dispositivo assente")
        << 2 << "/dev/non-esiste-banco" << int(CodiceErrore::DispositivoInesistente)
        << "/dev/non-esiste-banco";
    QTest::newRow("numero senza dispositivo")
        << 9999 << "" << int(CodiceErrore::NessunDispositivo) << "Porta 9999";
    QTest::newRow("numero zero") << 0 << "" << int(CodiceErrore::NessunDispositivo) << "Porta 0";
    QTest::newRow("numero negativo")
        << -3 << "" << int(CodiceErrore::NessunDispositivo) << "Porta -3";
}

void TestComponente::numeriDiPorta()
{
    QFETCH(int, numero);
    QFETCH(QString, variabile);
    QFETCH(int, errore);
    QFETCH(QString, nelMessaggio);

    PeerPty peer;
    if (variabile == u"<peer>")
        variabile = peer.percorso();
    if (!variabile.isEmpty())
        qputenv(qPrintable(QStringLiteral("BANCO_PORTA%1").arg(numero)), variabile.toLocal8Bit());

    ComponenteSeriale comm;
    comm.setCommPort(qint16(numero));
    QString descrizione;
    QCOMPARE(numeroErrore([&] { comm.setPortOpen(true); }, &descrizione), errore);
    QVERIFY2(descrizione.contains(nelMessaggio), qPrintable(descrizione));
    QCOMPARE(comm.PortOpen(), errore == 0);
    if (errore == int(CodiceErrore::NessunDispositivo))
        QVERIFY2(descrizione.contains(u"Porte disponibili") || descrizione.contains(u"Nessuna"),
            qPrintable(descrizione));
}

void TestComponente::velocita_data()
{
    QTest::addColumn<QString>("impostazioni");
    for (const char *baud : {"110", "14400", "56000", "921600"})
        QTest::newRow(baud) << QStringLiteral("%1,O,8,1").arg(QLatin1String(baud));
}

// Rates that glibc has no name for go through the system's custom-rate path.
void TestComponente::velocita()
{
    QFETCH(QString, impostazioni);
    PeerPty peer;
    ComponenteSeriale comm;
    QCOMPARE(numeroErrore([&] { collega(comm, peer.percorso(), impostazioni); }), 0);
    QVERIFY(comm.PortOpen());
    comm.setOutput("\x55");
    comm.setPortOpen(false);
    QTRY_COMPARE(peer.ricevuti(), QByteArray("\x55"));
}

// Closing the port right after a write: Qt alone would throw away what it still holds. Here the
// peer reads slowly at first, so most of the block is still queued when the close comes.
void TestComponente::chiusuraDopoLaScritturaNonPerdeByte()
{
    PeerPty peer;
    ComponenteSeriale comm;
    collega(comm, peer.percorso(), QStringLiteral("921600,E,8,1"));
    const QByteArray blocco = byteCasuali(300'000);
    comm.setOutput(blocco);
    comm.setPortOpen(false);
    QTRY_COMPARE(peer.ricevuti().size(), blocco.size());
    QVERIFY(peer.ricevuti() == blocco);
}

// A line that takes nothing more must not keep the window waiting: the close gives up once the
// bytes have had twice the time the line needs for them, and says so.
void TestComponente::lineaBloccataNonBloccaLaFinestra()
{
    PeerPty peer;
    peer.sospendiLettura();
    ComponenteSeriale comm;
    collega(comm, peer.percorso(), QStringLiteral("4000000,N,8,1"));
    comm.setOutput(byteCasuali(200'000));
    QString descrizione;
    QCOMPARE(numeroErrore([&] { comm.setPortOpen(false); }, &descrizione),
        int(CodiceErrore::TrasmissioneBloccata));
    QVERIFY2(descrizione.contains(peer.percorso()), qPrintable(descrizione));
    QVERIFY(!comm.PortOpen());
}

void TestComponente::portaGiaInUso()
{
    PeerPty peer;
    ComponenteSeriale primo;
    collega(primo, peer.percorso(), QStringLiteral("9600,E,8,1"));
    ComponenteSeriale secondo;
    QString descrizione;
    QCOMPARE(numeroErrore([&] { collega(secondo, peer.percorso(), QStringLiteral("9600,E,8,1")); },
                 &descrizione),
        int(CodiceErrore::PortaOccupata));
    QVERIFY2(descrizione.contains(peer.percorso()), qPrintable(descrizione));
}

// A device the user may not open: the message says what to do about it. Root opens everything,
// so as root the case runs again in a process that has given up root's rights.
void TestComponente::permessoNegato()
{
    if (::geteuid() == 0) {
        // A copy of this program where an unprivileged user can reach it, wherever the build is.
        QTemporaryDir cartella;
        const QString copia = cartella.filePath(QStringLiteral("prova"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copia));
        QFile::setPermissions(cartella.path(),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                | QFile::ExeOther);
        QProcess utente;
        utente.start(QStringLiteral("setpriv"),
            {"--reuid=65534", "--regid=65534", "--clear-groups", "--", copia, "permessoNegato"});
        if (!utente.waitForFinished(60000) || utente.exitStatus() != QProcess::NormalExit
            || utente.exitCode() >= 126)
            QSKIP("root's rights cannot be dropped here (setpriv)");
        QVERIFY2(utente.exitCode() == 0, utente.readAllStandardOutput().constData());
        return;
    }
    PeerPty peer;
    QVERIFY(QFile::setPermissions(peer.percorso(), {}));
    ComponenteSeriale comm;
    QString descrizione;
    QCOMPARE(numeroErrore([&] { collega(comm, peer.percorso(), QStringLiteral("9600,E,8,1")); },
                 &descrizione),
        int(CodiceErrore::PermessoNegato));
    QVERIFY2(descrizione.contains(peer.percorso()) && descrizione.contains(u"dialout"),
        qPrintable(descrizione));
}

QTEST_GUILESS_MAIN(TestComponente)
#include "test_componente.moc"
