#include "banco_prova.h"
#include "finestra_principale.h"
#include "finestra_ripetizione.h"
#include "ripetizione_richieste.h"
#include "finestra_traffico.h"
#include "form3.h"
#include "peer_pty.h"
#include "ricezione.h"
#include "testi_traffico.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace std::chrono_literals;

class TestFinestra : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void chiusuraDuranteLaRichiesta_data();
    void chiusuraDuranteLaRichiesta();
    void rafficaLungaMostrataPerIntero();
    void trafficoApertoESalvatoDallaTastiera_data();
    void trafficoApertoESalvatoDallaTastiera();
    void ripetizioneFermata_data();
    void ripetizioneFermata();
};

void TestFinestra::init()
{
    // The window is shown and closed as the operator would; nothing else is open.
    QApplication::setQuitOnLastWindowClosed(true);
}

void TestFinestra::cleanup()
{
    qunsetenv("BANCO_PORTA1");
}

void TestFinestra::chiusuraDuranteLaRichiesta_data()
{
    QTest::addColumn<qsizetype>("ricevutiAllaChiusura");
    QTest::newRow("pausa 1") << qsizetype(1);
    QTest::newRow("pausa 2") << qsizetype(3);
    QTest::newRow("pausa 3") << qsizetype(4);
    QTest::newRow("pausa 4") << qsizetype(6);
    QTest::newRow("pausa 5") << qsizetype(8);
}

// Closing the window in a pause ends the request and the program: nothing more goes on the line
// and the event loop returns, rather than the quit being swallowed by the next pause.
void TestFinestra::chiusuraDuranteLaRichiesta()
{
    QFETCH(qsizetype, ricevutiAllaChiusura);
    PeerPty peer;
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());

    FinestraPrincipale finestra;
    finestra.show();
    QVERIFY(QTest::qWaitForWindowExposed(&finestra));
    auto *pulsante = finestra.findChild<QPushButton *>(QStringLiteral("Command1"));
    QTimer::singleShot(0, pulsante, [pulsante] { QTest::mouseClick(pulsante, Qt::LeftButton); });
    quandoRicevuti(&finestra, peer, ricevutiAllaChiusura, [&finestra] { finestra.close(); });

    QTimer scaduto;
    scaduto.setSingleShot(true);
    connect(&scaduto, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    scaduto.start(10s);
    QCOMPARE(QApplication::exec(), 0);

    QVERIFY(!finestra.pannello().sequenziatore().richiestaInCorso());
    QCOMPARE(peer.ricevuti().size(), ricevutiAllaChiusura);
}

// After a long burst the box shows what the window holds, ending with the newest bytes in order,
// and the value decoded is that of the last two.
void TestFinestra::rafficaLungaMostrataPerIntero()
{
    PeerPty peer;
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());
    QByteArray raffica(20'000, Qt::Uninitialized);
    QString attesi;
    for (qsizetype i = 0; i < raffica.size(); ++i) {
        raffica[i] = char(0xF0 | (i % 16));
        attesi += voceRicevuta(quint8(raffica[i]));
    }

    Form3 finestra;
    finestra.show();
    QVERIFY(QTest::qWaitForWindowExposed(&finestra));
    quandoRicevuti(&finestra, peer, 3, [&] { peer.scrivi(raffica); });
    QTest::mouseClick(
        finestra.findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    QTRY_VERIFY(!finestra.sequenziatore().richiestaInCorso());

    auto *text1 = finestra.findChild<QLineEdit *>(QStringLiteral("Text1"));
    QTRY_COMPARE(text1->text(), finestra.testo(Campo::Text1));
    QVERIFY(text1->text().size() >= TestoRicevuto::kCaratteriTenuti);
    QVERIFY2(attesi.endsWith(text1->text()), "the box does not end with the newest bytes");
    QCOMPARE(
        finestra.findChild<QLineEdit *>(QStringLiteral("Text3"))->text(), QString::number(0xFEFF));
}

void TestFinestra::trafficoApertoESalvatoDallaTastiera_data()
{
    QTest::addColumn<QString>("nome");
    QTest::addColumn<bool>("scritto");
    QTest::newRow("file nuovo") << "traffico.csv" << true;
    QTest::newRow("cartella che non c'è") << "manca/traffico.csv" << false;
}

// The operator's keys through the X server: Ctrl+T opens the traffic window, Ctrl+S there opens
// the file dialog, a whole path typed and Enter at once; the file written holds the record,
// ending with the request's result, or a message says why there is none. The panel stands whole
// under the menu bar.
void TestFinestra::trafficoApertoESalvatoDallaTastiera()
{
    QFETCH(QString, nome);
    QFETCH(bool, scritto);
    QApplication::setQuitOnLastWindowClosed(false);
    PeerPty peer;
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());
    QTemporaryDir cartella;
    const QString file = cartella.filePath(nome);

    FinestraPrincipale finestra;
    finestra.show();
    finestra.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&finestra));
    QCOMPARE(finestra.pannello().geometry(),
        QRect(0, finestra.menuBar()->geometry().bottom() + 1, 397, 300));
    quandoRicevuti(&finestra, peer, 8, [&peer] { peer.scrivi(QByteArray::fromHex("060003e8")); });
    QTest::mouseClick(
        finestra.findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    QTRY_VERIFY(!finestra.pannello().sequenziatore().richiestaInCorso());

    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {"key", "ctrl+t"}), 0);
    QTRY_VERIFY(finestra.traffico().isActiveWindow());
    QCOMPARE(finestra.traffico().windowTitle(), QStringLiteral("Traffico"));
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {"key", "ctrl+s"}), 0);
    // Keys typed before the dialog is active leave the path's folders selected in its list, and
    // it opens the last of them instead of saving: the operator's go to it once it has the focus.
    QFileDialog *dialogo = nullptr;
    QTRY_VERIFY((dialogo = finestra.traffico().findChild<QFileDialog *>())
        && dialogo->isActiveWindow()
        && dialogo->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->hasFocus());
    for (const QStringList &tasti :
        {QStringList{"key", "ctrl+a"}, QStringList{"type", file}, QStringList{"key", "Return"}})
        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), tasti), 0);
    if (!scritto) {
        QMessageBox *messaggio = nullptr;
        QTRY_VERIFY((messaggio = finestra.traffico().findChild<QMessageBox *>("erroreSalvataggio"))
            && messaggio->isVisible());
        QVERIFY(messaggio->text().contains(QDir::toNativeSeparators(file)));
        QVERIFY(!QFile::exists(file));
        return;
    }
    QTRY_VERIFY(QFile::exists(file));
    QFile letto(file);
    QVERIFY(letto.open(QIODevice::ReadOnly));
    const QList<QStringList> righe = leggiCsv(letto.readAll());
    const RegistroTraffico &registro = finestra.pannello().registro();
    QCOMPARE(righe.size(), registro.size() + 1);
    const QStringList intestazione = TestiTraffico::intestazioneCsv();
    const auto campo
        = [&](const char *nome) { return righe.last().value(intestazione.indexOf(nome)); };
    QCOMPARE(campo("tipo"), QStringLiteral("risultato"));
    QCOMPARE(campo("esito"), QStringLiteral("risposta"));
    QCOMPARE(campo("valore"), QStringLiteral("1000"));
    QCOMPARE(campo("ricevuti"), QStringLiteral("06 00 03 E8"));
}

void TestFinestra::ripetizioneFermata_data()
{
    QTest::addColumn<QString>("come");
    QTest::newRow("Esc") << "Esc";
    QTest::newRow("Ferma") << "Ferma";
    QTest::newRow("chiudendo la finestra") << "chiusura";
}

// A repetition stopped in the pause after the second request's address: nothing more goes on
// the line, the request in flight is recorded as interrupted, and clicks work again.
void TestFinestra::ripetizioneFermata()
{
    QFETCH(QString, come);
    QApplication::setQuitOnLastWindowClosed(false);
    PeerPty peer;
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());
    FinestraPrincipale finestra;
    finestra.show();
    finestra.mostraRipetizione();
    FinestraRipetizione &ripeti = finestra.finestraRipetizione();
    QVERIFY(QTest::qWaitForWindowExposed(&ripeti));
    quandoRicevuti(&finestra, peer, 11, [&] {
        if (come == u"Esc")
            QTest::keyClick(&ripeti, Qt::Key_Escape);
        else if (come == u"Ferma")
            ripeti.findChild<QPushButton *>("ferma")->click();
        else
            finestra.close();
    });
    ripeti.findChild<QPushButton *>("avvia")->click();
    QTRY_VERIFY(!finestra.ripetizione().inCorso());

    QTest::qWait(300);
    QCOMPARE(peer.ricevuti().size(), 11);
    QCOMPARE(finestra.pannello().registro().ultimoRisultato().testoEsito(),
        QStringLiteral("interrotta"));
    QCOMPARE(finestra.ripetizione().statistiche().inviate(), 1);
    QVERIFY(!finestra.pannello().sequenziatore().riservato());
}

QTEST_MAIN(TestFinestra)
#include "test_finestra.moc"
