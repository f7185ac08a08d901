#include "banco_prova.h"
#include "collaudo.h"
#include "collaudo_posti.h"
#include "dialogo_archivio.h"
#include "file_banco.h"
#include "finestra_collaudo.h"
#include "finestra_posti.h"
#include "finestra_storico.h"
#include "modello_storico.h"
#include "finestra_principale.h"
#include "finestra_ricerca.h"
#include "finestra_tabella.h"
#include "lettura_tabella.h"
#include "modello_tabella.h"
#include "processo.h"
#include "finestra_ripetizione.h"
#include "sequenza_richieste.h"
#include "finestra_traffico.h"
#include "form3.h"
#include "lingua.h"
#include "peer_pty.h"
#include "ricerca_strumento.h"
#include "ricezione.h"
#include "testi_traffico.h"

#include <QApplication>
#include <QBrush>
#include <QCheckBox>
#include <QGroupBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTableView>
#include <QSignalSpy>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBoundaryFinder>
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
    void bancoRifiutato_data();
    void bancoRifiutato();
    void tabellaLetta();
    void scollegamentoDuranteLaLetturaContinua();
    void ricercaTrovaLoStrumento();
    void ricercaFermataAMetaProva();
    void ogniLetteraAUnSoloControllo();
    void dialoghiDiQtInItaliano();
    void tabellaModificataDallaTastiera();
    void collaudoDalLettore();
    void collaudoConVerificaDellUnita_data();
    void collaudoConVerificaDellUnita();
    void collaudoSullaLinea();
    void collaudoConCampioniEdEtichetta();
    void collaudoDallaRigaDiComandoRifiutato_data();
    void collaudoDallaRigaDiComandoRifiutato();
    void cifreDellaGiornata();
    void collaudoInDeriva_data();
    void collaudoInDeriva();
    void collaudoAPosti_data();
    void collaudoAPosti();
    void postiConCampioniEdEtichetta();
};

namespace {

QByteArray bancoSu(const QString &porta, const QByteArray &righe)
{
    return R"({"formato": "banco-seriale", "versione": 1, "linea": {"porta": ")" + porta.toUtf8()
        + R"(", "baud": 9600}, "righe": [)" + righe + "]}";
}

bool scrivi(const QString &percorso, const QByteArray &dati)
{
    QFile file(percorso);
    return file.open(QIODevice::WriteOnly) && file.write(dati) == dati.size();
}

// The search window, with the rates typed and addresses 0 to 7.
FinestraRicerca &apriRicerca(FinestraPrincipale &finestra, const QString &baud)
{
    finestra.show();
    finestra.mostraRicerca();
    FinestraRicerca &ricerca = finestra.finestraRicerca();
    ricerca.findChild<QPushButton *>("nessuna")->click();
    ricerca.findChild<QLineEdit *>("altriBaud")->setText(baud);
    ricerca.findChild<QSpinBox *>("ultimoIndirizzo")->setValue(7);
    return ricerca;
}

// The texts that claim the same letter, the one after a single '&' ("&&" is an ampersand):
// "Fe&rma, G&rafico".
QStringList lettereCondivise(const QStringList &testi)
{
    QMap<QChar, QStringList> chi;
    for (const QString &testo : testi) {
        const QString senzaDoppie = QString(testo).replace(QStringLiteral("&&"), QString());
        if (const qsizetype i = senzaDoppie.indexOf(u'&'); i >= 0 && i + 1 < senzaDoppie.size())
            chi[senzaDoppie.at(i + 1).toLower()] << testo;
    }
    QStringList condivise;
    for (const QStringList &stessa : std::as_const(chi)) {
        if (stessa.size() > 1)
            condivise << stessa.join(", ");
    }
    return condivise;
}

} // namespace

void TestFinestra::init()
{
    // The archive and the settings of the station are the test's own.
    static QTemporaryDir casa;
    qputenv("XDG_DATA_HOME", QFile::encodeName(casa.filePath(QStringLiteral("dati"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(casa.filePath(QStringLiteral("impostazioni"))));
    qunsetenv("BANCO_ARCHIVIO");
    // The window is shown and closed as the operator would; nothing else is open.
    QApplication::setQuitOnLastWindowClosed(true);
}

void TestFinestra::cleanup()
{
    for (const char *porta : {"BANCO_PORTA1", "BANCO_PORTA2", "BANCO_PORTA3", "BANCO_PORTA4"})
        qunsetenv(porta);
    QSettings(QStringLiteral("banco-seriale"), QStringLiteral("banco-seriale"))
        .remove(QLatin1String(Destinazione::kChiaveServer));
}

void TestFinestra::chiusuraDuranteLaRichiesta_data()
{
    QTest::addColumn<qsizetype>("ricevutiAllaChiusura");
    QTest::addColumn<bool>("ricerca");
    QTest::newRow("pausa 1") << qsizetype(1) << false;
    QTest::newRow("pausa 2") << qsizetype(3) << false;
    QTest::newRow("pausa 3") << qsizetype(4) << false;
    QTest::newRow("pausa 4") << qsizetype(6) << false;
    QTest::newRow("pausa 5") << qsizetype(8) << false;
    QTest::newRow("ricerca, seconda prova, pausa 2") << qsizetype(8 + 3) << true;
}

// Closing the window in a pause ends the request and the program: nothing more goes on the line
// and the event loop returns, rather than the quit being swallowed by the next pause.
void TestFinestra::chiusuraDuranteLaRichiesta()
{
    QFETCH(qsizetype, ricevutiAllaChiusura);
    QFETCH(bool, ricerca);
    PeerPty peer;
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());

    FinestraPrincipale finestra;
    finestra.show();
    QVERIFY(QTest::qWaitForWindowExposed(&finestra));
    auto *pulsante = ricerca
        ? apriRicerca(finestra, "9600").findChild<QPushButton *>(QStringLiteral("avvia"))
        : finestra.findChild<QPushButton *>(QStringLiteral("Command1"));
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

void TestFinestra::bancoRifiutato_data()
{
    QTest::addColumn<QByteArray>("contenuto");
    QTest::addColumn<QString>("messaggio");

    const auto riga = [](const QByteArray &r) { return bancoSu("1", r); };
    QTest::newRow("non JSON") << QByteArray("{\"formato\": ")
                              << "«rotto.banco»: non è un file di banco";
    QTest::newRow("un altro formato")
        << QByteArray(R"({"formato": "altro", "versione": 1})") << "«rotto.banco», campo «formato»";
    QTest::newRow("una versione più nuova")
        << QByteArray(R"({"formato": "banco-seriale", "versione": 3})")
        << "«rotto.banco», campo «versione»: il file è della versione 3";
    QTest::newRow("non UTF-8") << riga("{\"strumento\": 0, \"memoria\": \"8\", \"nome\": \"\xE8\"}")
                               << "«rotto.banco»: il file non è testo UTF-8";
    QTest::newRow("baud non intero")
        << QByteArray(R"({"formato": "banco-seriale", "versione": 1, "linea": {"baud": 9600.5}})")
        << "«rotto.banco», campo «linea.baud»";
    QTest::newRow("strumento fuori intervallo, seconda riga")
        << riga(R"({"strumento": 0, "memoria": "8"}, {"strumento": 70000, "memoria": "8"})")
        << "«rotto.banco», riga 2, campo «strumento»: «70000» non va bene";
    QTest::newRow("strumento fra virgolette")
        << riga(R"({"strumento": "3", "memoria": "8"})") << "riga 1, campo «strumento»";
    QTest::newRow("memoria di cinque cifre")
        << riga(R"({"strumento": 0, "memoria": "12345"})") << "riga 1, campo «memoria»";
    QTest::newRow("memoria mancante")
        << riga(R"({"strumento": 0})") << "riga 1, campo «memoria»: manca";
    QTest::newRow("limiti su un codice")
        << riga(R"({"strumento": 0, "memoria": "8", "tipo": "esadecimale", "minimo": 1})")
        << "riga 1, campo «minimo»: i limiti valgono solo per i tipi numerici";
    QTest::newRow("minimo oltre il massimo")
        << riga(R"({"strumento": 0, "memoria": "8", "minimo": 5, "massimo": 1})")
        << "riga 1, campo «massimo»";
    QTest::newRow("atteso che il tipo non mostra")
        << riga(R"({"strumento": 0, "memoria": "8", "tipo": "con segno", "atteso": "40000"})")
        << "riga 1, campo «atteso»";
    QByteArray troppe;
    for (int n = 0; n < 100'000; ++n)
        troppe += n ? ",{}" : "{}";
    QTest::newRow("100000 righe") << riga(troppe) << "campo «righe»: 100000 righe sono troppe";
    QByteArray regole = riga(R"({"strumento": 0, "memoria": "8"})");
    regole.insert(regole.lastIndexOf('}'), R"(, "regole_5_8": "true")");
    QTest::newRow("regole 5-8 fra virgolette")
        << regole << "«rotto.banco», campo «regole_5_8»: serve true";
    QTest::newRow("file mancante") << QByteArray() << "«rotto.banco»: impossibile aprirlo";
}

// A bench that cannot be used is refused with one message naming the file, the row and the
// field; the table keeps the bench it had.
void TestFinestra::bancoRifiutato()
{
    QFETCH(QByteArray, contenuto);
    QFETCH(QString, messaggio);
    QTemporaryDir cartella;
    const QString buono = cartella.filePath("buono.banco");
    const QString rotto = cartella.filePath("rotto.banco");
    QVERIFY(scrivi(buono, bancoSu("1", R"({"strumento": 3, "memoria": "34"})")));
    if (!contenuto.isEmpty())
        QVERIFY(scrivi(rotto, contenuto));
    FinestraPrincipale finestra;
    finestra.show();
    QVERIFY(finestra.apriBanco(buono));

    QVERIFY(!finestra.apriBanco(rotto));
    auto *avviso = finestra.findChild<QMessageBox *>("messaggioBanco");
    QVERIFY(avviso);
    QVERIFY2(avviso->text().contains(messaggio), qPrintable(avviso->text()));
    QCOMPARE(finestra.tabella().rowCount(), 1);
    QCOMPARE(finestra.tabella().riga(0).nomeMostrato(), "3:0034");
    QCOMPARE(finestra.finestraTabella().windowTitle(), "Tabella — buono.banco");
}

// One round of a bench in the table window against the virtual instrument: the row out of its
// limits says so and stands out; the others do not.
void TestFinestra::tabellaLetta()
{
    QTemporaryDir cartella;
    const QString porta = cartella.filePath("porta");
    StrumentoInProva strumento;
    QVERIFY(strumento.avvia(porta, {"--indirizzo", "0,3", "--memoria", "0008=1000"}));
    const QString banco = cartella.filePath("prova.banco");
    QVERIFY(scrivi(banco,
        bancoSu(porta,
            R"({"nome": "Temperatura", "strumento": 0, "memoria": "0008", "decimali": 1,
                "unita": "°C", "minimo": 20, "massimo": 120},
               {"nome": "Soglia", "strumento": 3, "memoria": "0008", "massimo": 100},
               {"nome": "Assente", "strumento": 7, "memoria": "0008"})")));
    FinestraPrincipale finestra;
    finestra.show();
    QVERIFY(finestra.apriBanco(banco));
    FinestraTabella &tabella = finestra.finestraTabella();
    QVERIFY(QTest::qWaitForWindowExposed(&tabella));
    tabella.findChild<QPushButton *>("leggiTutto")->click();
    QVERIFY(finestra.letturaTabella().inCorso());
    QTRY_VERIFY_WITH_TIMEOUT(!finestra.letturaTabella().inCorso(), 30000);

    const ModelloTabella &m = finestra.tabella();
    QCOMPARE(m.data(m.index(0, ModelloTabella::Valore), Qt::DisplayRole).toString(), "100,0 °C");
    QCOMPARE(m.testoStato(0), "entro i limiti");
    QCOMPARE(m.testoStato(1), "fuori dai limiti");
    QCOMPARE(m.testoStato(2), "nessuna risposta");
    const auto sfondo = [&](int riga) {
        return m.data(m.index(riga, ModelloTabella::Stato), Qt::BackgroundRole).value<QBrush>();
    };
    QCOMPARE(sfondo(0).style(), Qt::NoBrush);
    QVERIFY(sfondo(1).color().red() > sfondo(1).color().green() + 0x20);
    QVERIFY(sfondo(2).color().red() == sfondo(2).color().green());
}

// The adapter pulled out during a continuous reading: the failed requests are counted in their
// rows, and the reading goes on by itself once the line is back under the same name.
void TestFinestra::scollegamentoDuranteLaLetturaContinua()
{
    QTemporaryDir cartella;
    const QString porta = cartella.filePath("porta");
    auto strumento = std::make_unique<StrumentoInProva>();
    QVERIFY(strumento->avvia(porta, {}));
    const QString banco = cartella.filePath("prova.banco");
    QVERIFY(scrivi(banco, bancoSu(porta, R"({"strumento": 0, "memoria": "0008"})")));
    auto finestra = std::make_unique<FinestraPrincipale>();
    finestra->show();
    QVERIFY(finestra->apriBanco(banco));
    FinestraTabella &tabella = finestra->finestraTabella();
    tabella.findChild<QSpinBox *>("pausaTabella")->setValue(0);
    tabella.findChild<QPushButton *>("leggiDiContinuo")->click();
    const ModelloTabella &m = finestra->tabella();
    QTRY_VERIFY_WITH_TIMEOUT(m.lettura(0).risposte >= 2, 20000);

    strumento.reset(); // the link goes with it
    QTRY_VERIFY_WITH_TIMEOUT(m.lettura(0).fallite >= 2, 20000);
    const quint32 risposte = m.lettura(0).risposte;
    strumento = std::make_unique<StrumentoInProva>();
    QVERIFY(strumento->avvia(porta, {}));
    QTRY_VERIFY_WITH_TIMEOUT(m.lettura(0).risposte >= risposte + 2, 20000);
    QVERIFY(finestra->letturaTabella().inCorso());
    QCOMPARE(m.testoStato(0), "letta, senza limiti");

    QTest::keyClick(&tabella, Qt::Key_Escape);
    QTRY_VERIFY(!finestra->letturaTabella().inCorso());
    QVERIFY(!finestra->pannello().sequenziatore().riservato());

    // The window goes while a reading holds the line: the sequences go before the panel whose
    // sequencer they hold.
    tabella.leggiDiContinuo();
    QVERIFY(finestra->letturaTabella().inCorso());
    finestra.reset();
}

// Alt and a letter reaches one control of a window, and one item of a menu: every window the
// menus open is walked, with the table's dialog, and so are the windows still to come.
void TestFinestra::ogniLetteraAUnSoloControllo()
{
    QString errore; // the archive made first: the history and the station would make it at once
    QVERIFY2(Archivio::apriLocale(Destinazione::filePredefinito(), &errore), qPrintable(errore));
    FinestraPrincipale finestra;
    finestra.show();
    for (QAction *menu : finestra.menuBar()->actions()) {
        for (QAction *voce : menu->menu()->actions()) {
            if (menu->text() != u"&Visualizza" && menu->text() != u"&Richiesta")
                continue;
            if (voce->objectName() != u"azioneInvia" && !voce->isSeparator())
                voce->trigger();
        }
    }
    finestra.finestraTabella().findChild<QPushButton *>("aggiungiIntervallo")->click();
    QTRY_VERIFY(finestra.finestraTabella().findChild<QDialog *>("dialogoIntervallo"));
    QTemporaryDir cartella;
    const QString banco = cartella.filePath("linea.banco");
    QVERIFY(scrivi(banco, bancoSu("1", R"({"strumento": 0, "memoria": "0008"})")));
    QVERIFY(finestra.apriCollaudo(banco, QStringLiteral("Anna")));

    QStringList condivise;
    int finestre = 0;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || qobject_cast<QMenu *>(w))
            continue;
        ++finestre;
        QStringList testi; // buttons, labels with a buddy, menu titles: one window's letters
        for (QWidget *c : w->findChildren<QWidget *>()) {
            if (c->window() != w || !c->isVisibleTo(w))
                continue;
            if (auto *p = qobject_cast<QAbstractButton *>(c))
                testi << p->text();
            else if (auto *e = qobject_cast<QLabel *>(c); e && e->buddy())
                testi << e->text();
            else if (auto *schede = qobject_cast<QTabBar *>(c))
                for (int i = 0; i < schede->count(); ++i)
                    testi << schede->tabText(i);
            for (QAction *menu : qobject_cast<QMenuBar *>(c) ? c->actions() : QList<QAction *>()) {
                testi << menu->text();
                QStringList voci;
                for (QAction *voce : menu->menu()->actions())
                    voci << voce->text();
                condivise += lettereCondivise(voci);
            }
        }
        for (const QString &c : lettereCondivise(testi))
            condivise << w->windowTitle() + QStringLiteral(": ") + c;
    }
    QVERIFY2(finestre >= 6, qPrintable(QString::number(finestre)));
    QVERIFY2(condivise.isEmpty(), qPrintable(condivise.join(u'\n')));
}

// Qt's own dialogs and buttons speak the program's language.
void TestFinestra::dialoghiDiQtInItaliano()
{
    QVERIFY2(installaLinguaItaliana(), "traduzioni di Qt non trovate");
    QDialogButtonBox pulsanti(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
    QCOMPARE(pulsanti.button(QDialogButtonBox::Save)->text().remove(u'&'), "Salva");
    QCOMPARE(pulsanti.button(QDialogButtonBox::Cancel)->text().remove(u'&'), "Annulla");
}

// The bench is edited where it is shown: Canc deletes, Ctrl+S saves, Ctrl+Z puts back, with the
// keys pressed through the X server in the table's window.
void TestFinestra::tabellaModificataDallaTastiera()
{
    QTemporaryDir cartella;
    const QString banco = cartella.filePath("prova.banco");
    QVERIFY(scrivi(banco,
        bancoSu(cartella.filePath("porta"),
            R"({"strumento": 0, "memoria": "0008"}, {"strumento": 0, "memoria": "000C"},
               {"strumento": 0, "memoria": "000B"})")));
    FinestraPrincipale finestra;
    finestra.show();
    QVERIFY(finestra.apriBanco(banco));
    FinestraTabella &tabella = finestra.finestraTabella();
    tabella.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&tabella));
    auto *vista = tabella.findChild<QTableView *>("tabellaBanco");
    vista->setFocus();
    vista->setCurrentIndex(finestra.tabella().index(1, 0));
    const auto tasto = [](const char *tasti) {
        return QProcess::execute(QStringLiteral("xdotool"), {"key", tasti});
    };
    const ModelloTabella &m = finestra.tabella();

    QCOMPARE(tasto("Delete"), 0);
    QTRY_COMPARE(m.rowCount(), 2);
    QCOMPARE(tasto("ctrl+s"), 0);
    QTRY_VERIFY(!tabella.windowTitle().endsWith(u'*'));
    QCOMPARE(FileBanco::carica(banco, nullptr)->righe.size(), 2);
    QCOMPARE(tasto("ctrl+z"), 0);
    QTRY_COMPARE(m.rowCount(), 3);
    QCOMPARE(m.riga(1).testoMemoria(), "000C");
    QVERIFY(tabella.windowTitle().endsWith(u'*'));
}

// A line's station as the operator uses it: units scanned as a scanner types them, one good, one
// out of limits and the same one again, a blank scan, a round stopped with Esc; then the history
// of that unit.
void TestFinestra::collaudoDalLettore()
{
    QTemporaryDir cartella;
    PeerPty peer;
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());
    const QString banco = cartella.filePath("linea.banco");
    QVERIFY(scrivi(banco,
        bancoSu("1",
            R"({"nome": "Temperatura", "strumento": 0, "memoria": "0008", "decimali": 1,
                "minimo": 20, "massimo": 120})")));
    FinestraPrincipale finestra;
    finestra.show();
    QVERIFY(finestra.apriCollaudo(banco, QStringLiteral("Anna"), QStringLiteral("S1")));
    FinestraCollaudo &stazione = *finestra.finestraCollaudo();
    // The X server's focus follows the window Qt activated only once asked.
    const auto aFuoco = [](QWidget &w) {
        return QTest::qWaitForWindowActive(&w)
            && QProcess::execute(
                   QStringLiteral("xdotool"), {"windowfocus", "--sync", QString::number(w.winId())})
            == 0;
    };
    QVERIFY(aFuoco(stazione));
    auto *esito = stazione.findChild<QLabel *>(QStringLiteral("esito"));
    auto *dettaglio = stazione.findChild<QLabel *>(QStringLiteral("dettaglioEsito"));
    auto *scarti = stazione.findChild<QLabel *>(QStringLiteral("scarti"));
    auto *avviso = stazione.findChild<QLabel *>(QStringLiteral("avviso"));
    const auto lettore = [](const QString &seriale) {
        return QProcess::execute(QStringLiteral("xdotool"), {"type", seriale}) == 0
            && QProcess::execute(QStringLiteral("xdotool"), {"key", "Return"}) == 0;
    };
    const struct
    {
        const char *seriale;
        const char *risposta;
        const char *esito;
        const char *scarto;
        const char *avviso;
    } unita[] = {
        {"SN-0001", "060003e8", "CONFORME", "", ""},
        {"SN-0002", "060007d0", "NON CONFORME",
            "Temperatura: 200,0 (limiti 20,0 … 120,0), 80,0 sopra il massimo", ""},
        {"SN-0002", "060003e8", "CONFORME", "",
            "Seconda prova di questa unità; l'ultima: non conforme"},
    };
    qsizetype scritti = 0;
    for (const auto &u : unita) {
        scritti += 8;
        quandoRicevuti(&stazione, peer, scritti,
            [&peer, risposta = u.risposta] { peer.scrivi(QByteArray::fromHex(risposta)); });
        QVERIFY(lettore(QString::fromUtf8(u.seriale)));
        QTRY_COMPARE(esito->text(), QString::fromUtf8(u.esito));
        QCOMPARE(scarti->text(), QString::fromUtf8(u.scarto));
        QCOMPARE(avviso->text(), QString::fromUtf8(u.avviso));
        QVERIFY(dettaglio->text().startsWith(QStringLiteral("unità ") + u.seriale));
    }

    // A blank scan is refused before anything is sent, and the last outcome stays.
    QVERIFY(QProcess::execute(QStringLiteral("xdotool"), {"key", "ctrl+a", "BackSpace"}) == 0);
    QVERIFY(lettore(QStringLiteral("   ")));
    QTRY_VERIFY(avviso->text().startsWith(QStringLiteral("Il numero di serie è vuoto")));
    QVERIFY(!finestra.collaudo()->inCorso());
    QCOMPARE(esito->text(), QStringLiteral("CONFORME"));
    QVERIFY(dettaglio->text().startsWith(QStringLiteral("unità SN-0002")));
    QCOMPARE(peer.ricevuti().size(), scritti);

    // Esc stops a unit the instrument does not answer for; the run is kept as interrotta.
    QVERIFY(QProcess::execute(QStringLiteral("xdotool"), {"key", "ctrl+a", "BackSpace"}) == 0);
    // The key is pressed from within the request's pauses, where the operator's keys arrive.
    quandoRicevuti(&stazione, peer, scritti + 1, [] {
        QProcess::execute(QStringLiteral("xdotool"), {"key", "Escape"});
    });
    QVERIFY(lettore(QStringLiteral("SN-0003")));
    QTRY_COMPARE(esito->text(), QStringLiteral("INTERROTTA"));
    QVERIFY(dettaglio->text().startsWith(QStringLiteral("unità SN-0003")));

    // The history of the unit: both its runs, the newest first.
    finestra.mostraStorico();
    FinestraStorico &storico = finestra.finestraStorico();
    QVERIFY(aFuoco(storico));
    storico.findChild<QLineEdit *>(QStringLiteral("filtroUnita"))->setFocus();
    QVERIFY(lettore(QStringLiteral("SN-0002")));
    const ModelloStorico &prove = storico.modello();
    QTRY_COMPARE(prove.totale().value_or(-1), 2);
    QTRY_COMPARE(prove.rowCount(), 2);
    QCOMPARE(prove.prova(0).tentativo, 2);
    QCOMPARE(prove.prova(0).esito, Esiti::kConforme);
    QCOMPARE(prove.prova(1).esito, Esiti::kNonConforme);
    QCOMPARE(prove.prova(1).operatore, QStringLiteral("Anna"));
}

void TestFinestra::collaudoConVerificaDellUnita_data()
{
    QTest::addColumn<QString>("seriale");
    QTest::addColumn<QString>("esito");
    QTest::addColumn<QString>("scarto");
    QTest::newRow("numero dell'etichetta nello strumento") << "1000" << Esiti::kConforme << "";
    QTest::newRow("numero diverso") << "1001" << Esiti::kNonConforme
                                    << "Seriale: 1000 (limiti = 1001), il numero di serie letto "
                                       "dallo strumento (1000) non è quello dell'etichetta (1001)";
    QTest::newRow("etichetta non numerica")
        << "SN-1000" << Esiti::kNonConforme
        << "Seriale: 1000 (limiti = SN-1000), il numero di serie letto dallo strumento (1000) "
           "non è quello dell'etichetta (SN-1000)";
    QTest::newRow("64 caratteri") << QString(60, u'0') + "1000" << Esiti::kConforme << "";
    QTest::newRow("65 caratteri") << QString(65, u'7') << QString() << "al massimo 64";
    QTest::newRow("carattere di controllo") << "SN-1\x1b[2J" << QString() << "controllo (\\x1b)";
    QTest::newRow("forma di un altro banco") << "ABC" << QString() << "non è un numero di serie";
}

// A scan the archive or the bench's form would not take is refused; the bench's serial row judges.
void TestFinestra::collaudoConVerificaDellUnita()
{
    QFETCH(QString, seriale);
    QTemporaryDir cartella;
    PeerPty peer;
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());
    const QString banco = cartella.filePath("verifica.banco");
    QByteArray dati = bancoSu("1", R"({"nome": "Seriale", "strumento": 0, "memoria": "001A"})");
    dati.insert(dati.lastIndexOf('}'), R"(, "verifica_unita": "Seriale")");
    dati.insert(dati.lastIndexOf('}'), R"(, "modello_unita": "^(SN-)?[0-9]+$")");
    QVERIFY(scrivi(banco, dati));
    FinestraPrincipale finestra;
    QVERIFY(finestra.apriCollaudo(banco, QStringLiteral("Anna")));
    Collaudo &collaudo = *finestra.collaudo();
    QSignalSpy finite(&collaudo, &Collaudo::finita);
    quandoRicevuti(&collaudo, peer, 8, [&peer] { peer.scrivi(QByteArray::fromHex("060003e8")); });
    QString motivo;
    QFETCH(QString, scarto);
    if (!collaudo.avvia(seriale, &motivo)) { // refused before anything is sent: "scarto" says why
        QTEST(QString(), "esito");
        QVERIFY2(motivo.contains(scarto) && peer.ricevuti().isEmpty(), qPrintable(motivo));
        return;
    }
    QTRY_COMPARE(finite.size(), 1);
    const auto esito = finite.at(0).at(0).value<Collaudo::Esito>();
    QTEST(esito.esito, "esito");
    QTEST(esito.scarti.isEmpty()
            ? QString()
            : esito.scarti[0].nome + QStringLiteral(": ") + esito.scarti[0].valore
                + QStringLiteral(" (limiti %1), ").arg(esito.scarti[0].limiti)
                + esito.scarti[0].perQuanto,
        "scarto");
}

// Production waits for the bench's reference units, named in the blue line; each reference's
// verdict is in the banner; a conforming unit's label goes to the printer and Ctrl+P sends it
// again, both recorded.
void TestFinestra::collaudoConCampioniEdEtichetta()
{
    QTemporaryDir cartella;
    PeerPty peer;
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());
    QVERIFY(scrivi(cartella.filePath("etichetta.zpl"), "^XA^FO10,10^FD{unita}^FS^XZ"));
    const QString stampante = cartella.filePath("stampante.zpl");
    QByteArray dati = bancoSu("1",
        R"({"nome": "Temperatura", "strumento": 0, "memoria": "0008", "decimali": 1,
            "minimo": 20, "massimo": 120})");
    dati.insert(dati.lastIndexOf('}'),
        R"(, "campioni": [{"unita": "OK-01", "esito": "conforme"},
            {"unita": "KO-01", "esito": "non conforme"}],
           "etichetta": {"modello": "etichetta.zpl", "stampante": ")"
            + stampante.toUtf8() + R"("})");
    const QString banco = cartella.filePath("campioni.banco");
    QVERIFY(scrivi(banco, dati));
    FinestraPrincipale finestra;
    finestra.show();
    QVERIFY(finestra.apriCollaudo(banco, QStringLiteral("Anna"), QStringLiteral("S-campioni")));
    FinestraCollaudo &stazione = *finestra.finestraCollaudo();
    Collaudo &collaudo = *finestra.collaudo();
    const auto testo
        = [&stazione](const QString &nome) { return stazione.findChild<QLabel *>(nome)->text(); };
    QTRY_VERIFY(stazione.isVisible());
    QCOMPARE(testo("campioni"),
        QStringLiteral("Prima della produzione vanno provati i campioni OK-01, KO-01."));

    QString motivo;
    QVERIFY(!collaudo.avvia(QStringLiteral("SN-1"), &motivo));
    QVERIFY2(motivo.contains(u"vanno provati i campioni OK-01, KO-01"), qPrintable(motivo));
    QVERIFY(peer.ricevuti().isEmpty());

    qsizetype scritti = 0;
    for (const auto &[unita, risposta, titolo] :
        {std::tuple{"OK-01", "060003e8", "CAMPIONE GIUSTO"},
            std::tuple{"KO-01", "060007d0", "CAMPIONE GIUSTO"},
            std::tuple{"SN-1", "060003e8", "CONFORME"}}) {
        scritti += 8;
        quandoRicevuti(&collaudo, peer, scritti,
            [&peer, risposta = risposta] { peer.scrivi(QByteArray::fromHex(risposta)); });
        QVERIFY2(collaudo.avvia(QString::fromLatin1(unita), &motivo), qPrintable(motivo));
        QTRY_COMPARE(testo("esito"), QString::fromUtf8(titolo));
    }
    QVERIFY(testo("campioni").isEmpty());
    // Only the production unit's label; the line under the banner says it went.
    QTRY_COMPARE(testo("tracciabilita"), QStringLiteral("Etichetta stampata."));
    QFile file(stampante);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("^XA^CI28^FO10,10^FH^FDSN-1^FS^XZ"));
    file.close();

    auto *seriale = stazione.findChild<QLineEdit *>(QStringLiteral("numeroDiSerie"));
    QTest::keyClick(seriale, Qt::Key_P, Qt::ControlModifier);
    QTRY_COMPARE(testo("tracciabilita"), QStringLiteral("Etichetta ristampata."));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count("^XA"), 2);
    QString prova;
    QVERIFY(collaudo.archivio()->perOgniProva({}, 1, [&](const ProvaArchiviata &p) { prova = p.uuid; }));
    const std::optional<QList<StampaEtichetta>> stampe = collaudo.archivio()->stampe(prova);
    QVERIFY(stampe && stampe->size() == 2);
    QCOMPARE(std::pair(stampe->at(0).ristampa, stampe->at(1).ristampa), std::pair(false, true));
    QCOMPARE(stampe->at(1).zpl, stampe->at(0).zpl);
}

// A station whose adapter comes late says its error once, path whole, as a run to repeat; Ctrl+H
// opens the history, refreshed after each run; a scan during a round is refused on its own; File →
// Archivio… takes effect at once and the station says why runs wait; a silent unit: what to check.
void TestFinestra::collaudoSullaLinea()
{
    QTemporaryDir cartella;
    PeerPty peer;
    const QString linea = cartella.filePath("usb/linea-0");
    qputenv("BANCO_PORTA1", linea.toLocal8Bit());
    const QString banco = cartella.filePath("linea.banco");
    QVERIFY(scrivi(banco, bancoSu("1", R"({"strumento": 0, "memoria": "0008"})")));
    FinestraPrincipale finestra;
    finestra.show();
    QVERIFY(finestra.apriCollaudo(banco, QStringLiteral("Anna")));
    FinestraCollaudo &stazione = *finestra.finestraCollaudo();
    const auto testo
        = [&stazione](const QString &nome) { return stazione.findChild<QLabel *>(nome)->text(); };
    auto *seriale = stazione.findChild<QLineEdit *>(QStringLiteral("numeroDiSerie"));
    const auto lettore = [seriale](const QString &codice) {
        QTest::keyClicks(seriale, codice);
        QTest::keyClick(seriale, Qt::Key_Return);
    };
    QTest::keyClick(seriale, Qt::Key_H, Qt::ControlModifier);
    QTRY_VERIFY(finestra.findChild<FinestraStorico *>() && finestra.finestraStorico().isVisible());
    const ModelloStorico &prove = finestra.finestraStorico().modello();
    QTRY_VERIFY(prove.totale().has_value());
    const qint64 prima = *prove.totale();

    lettore(QStringLiteral("SN-7"));
    QTRY_COMPARE(testo("esito"), QStringLiteral("ERRORE"));
    QCOMPARE((testo("dettaglioEsito") + testo("scarti")).count(u"l'adattatore sia collegato"), 1);
    QVERIFY2(testo("giornata").contains(u" da ripetere;"), qPrintable(testo("giornata")));
    QTextBoundaryFinder righe(QTextBoundaryFinder::Line, testo("dettaglioEsito"));
    QStringList pezzi; // the pieces a line may break between
    for (qsizetype da = 0, a = righe.toNextBoundary(); a > 0; da = a, a = righe.toNextBoundary())
        pezzi << righe.string().mid(da, a - da).remove(QChar(0x2060));
    QVERIFY2(!pezzi.filter(linea).isEmpty(), qPrintable(pezzi.join(u'|')));

    QVERIFY(QDir().mkpath(cartella.filePath("usb")) && QFile::link(peer.percorso(), linea));
    quandoRicevuti(&stazione, peer, 8, [&] {
        lettore(QStringLiteral("SN-1012"));
        peer.scrivi(QByteArray::fromHex("060003e8"));
    });
    lettore(QStringLiteral("SN-1011"));
    QTRY_COMPARE(prove.totale().value_or(-1), prima + 2);
    QVERIFY2(testo("avviso").startsWith(QStringLiteral("«SN-1012» letto mentre l'unità SN-1011")),
        qPrintable(testo("avviso")));
    QCOMPARE(peer.ricevuti().size(), 8);

    // A server whose socket folder is empty: it cannot be reached.
    const QString url = QStringLiteral("postgresql://stazione@/banco?host=%1").arg(cartella.path());
    finestra.scegliArchivio();
    auto *dialogo = finestra.findChild<DialogoArchivio *>();
    QVERIFY(dialogo);
    dialogo->findChild<QLineEdit *>()->setText(url);
    dialogo->accept();
    lettore(QStringLiteral("SN-1013"));
    QTRY_COMPARE(testo("esito"), QStringLiteral("SENZA RISPOSTA"));
    QCOMPARE(testo("avviso"), QString());
    QVERIFY(testo("dettaglioEsito").contains(u"Controllare l'unità nel suo alloggiamento"));
    const QString attesa = QStringLiteral("in attesa: il server %1 non risponde: ").arg(url);
    QTRY_VERIFY2(testo("giornata").contains(attesa), qPrintable(testo("giornata")));
}

void TestFinestra::collaudoDallaRigaDiComandoRifiutato_data()
{
    QTest::addColumn<QStringList>("argomenti");
    QTest::addColumn<int>("uscita");
    QTest::addColumn<QString>("messaggio");
    const QStringList banco{"--collaudo", "manca.banco"};
    QTest::newRow("banco che non c'è") << banco << 1 << "Il banco manca.banco non si apre";
    QTest::newRow("operatore lungo") << banco + QStringList{"--operatore", QString(65, u'A')} << 2
                                     << "--operatore è lungo 65 caratteri: al massimo 64";
    QTest::newRow("stazione con a capo") << banco + QStringList{"--stazione", "linea\n2"} << 2
                                         << "--stazione contiene un carattere di controllo (\\n)";
}

// A line's launcher whose station cannot open learns why from the status and the error stream.
void TestFinestra::collaudoDallaRigaDiComandoRifiutato()
{
    QFETCH(QStringList, argomenti);
    QFETCH(QString, messaggio);
    QProcess programma;
    programma.start(QStringLiteral(BANCO_PROGRAMMA), argomenti);
    QVERIFY(programma.waitForFinished(30000));
    QTEST(programma.exitCode(), "uscita");
    const QString errori = QString::fromUtf8(programma.readAllStandardError());
    QVERIFY2(errori.contains(messaggio), qPrintable(errori));
}

// The day's figures in words, singular and plural; why runs wait, since when, and those set aside.
void TestFinestra::cifreDellaGiornata()
{
    const StatoInoltro fermo{0, 4, 1, QStringLiteral("il server non risponde:\n\tIs it running?"),
        QStringLiteral("tentativo già presente"), QDateTime(QDate(2026, 3, 2), QTime(10, 42))};
    QCOMPARE(FinestraCollaudo::testoGiornata({3, 1, 2, 1, 1.0 / 3, fermo, QStringLiteral("db"), {}},
                 QDateTime(QDate(2026, 3, 2), QTime(11, 0))),
        "Oggi su questa stazione: 3 unità, 1 conforme, 2 non conformi, 1 da ripetere; resa al "
        "primo passaggio 33,3 %.\n3 prove in attesa: il server non risponde: Is it running? "
        "(ultimo invio riuscito alle 10:42).\n1 prova messa da parte: tentativo già presente; "
        "inviarla di nuovo con banco-richiesta --invia --riprova.");
}

void TestFinestra::collaudoInDeriva_data()
{
    QTest::addColumn<QByteArray>("regole"); // the bench's top-level key, if any
    QTest::addColumn<QList<int>>("avvisi"); // the units after which DERIVA is told
    QTest::newRow("regole 1-4") << QByteArray() << QList<int>{8};
    // Six rising values: the last of the past and the first five units.
    QTest::newRow("regole 5-8 dal banco") << QByteArray(R"(, "regole_5_8": true)") << QList<int>{5, 8};
}

// A process drifting slowly within the row's wide limits: the station, seeded with 25 steady
// runs from the archive, tells DERIVA once after the banner when the chart breaks a rule, and
// not again while the same run goes on; every unit still passes.
void TestFinestra::collaudoInDeriva()
{
    QTemporaryDir cartella;
    // An archive of each case's own: the runs of one case are no past of the other's chart.
    qputenv("XDG_DATA_HOME", QFile::encodeName(cartella.filePath(QStringLiteral("dati"))));
    const QString linea = cartella.filePath(QStringLiteral("deriva"));
    StrumentoInProva strumento; // 100,0 bar, 0,2 bar more at each read
    QVERIFY(strumento.avvia(linea, {QStringLiteral("--deriva"), QStringLiteral("0008=2")}));
    qputenv("BANCO_PORTA1", linea.toLocal8Bit());
    QFETCH(QByteArray, regole);
    QByteArray dati = bancoSu("1",
        R"({"nome": "Pressione", "strumento": 0, "memoria": "0008", "decimali": 1,
            "unita": "bar", "minimo": 50, "massimo": 150})");
    dati.insert(dati.lastIndexOf('}'), regole);
    const QString banco = cartella.filePath(QStringLiteral("deriva.banco"));
    QVERIFY(scrivi(banco, dati));
    {
        // The steady past: 98 and 102 bar in turn, a centre of 99,92 and σ̂ of 3,5 bar.
        QString errore;
        const std::optional<DatiBanco> letto = FileBanco::leggi(dati, "deriva.banco", &errore);
        QVERIFY2(letto, qPrintable(errore));
        std::unique_ptr<Archivio> archivio
            = Archivio::apriLocale(Destinazione::filePredefinito(), &errore);
        QVERIFY2(archivio, qPrintable(errore));
        const QDateTime prima = QDateTime::currentDateTimeUtc().addSecs(-3600);
        for (int i = 0; i < 25; ++i) {
            ProvaArchiviata prova;
            prova.stazione = QStringLiteral("S1");
            prova.operatore = QStringLiteral("Anna");
            prova.unita = QStringLiteral("SP-%1").arg(i);
            prova.banco = QStringLiteral("deriva.banco");
            prova.shaBanco = QStringLiteral("0");
            prova.shaRighe = FileBanco::shaRighe(*letto);
            prova.inizio = prima.addSecs(60 * i);
            LetturaArchiviata l;
            l.nome = QStringLiteral("Pressione");
            l.memoria = QStringLiteral("0008");
            l.valore = i % 2 ? 102.0 : 98.0;
            l.stato = QStringLiteral("entro i limiti");
            l.istante = prova.inizio;
            QVERIFY(archivio->iniziaProva(prova) && archivio->registraLettura(prova.uuid, l)
                && archivio->finisciProva(prova.uuid, Esiti::kConforme));
        }
    }
    FinestraPrincipale finestra;
    QVERIFY(finestra.apriCollaudo(banco, QStringLiteral("Anna"), QStringLiteral("S1")));
    FinestraCollaudo &stazione = *finestra.finestraCollaudo();
    Collaudo &collaudo = *finestra.collaudo();
    auto *seriale = stazione.findChild<QLineEdit *>(QStringLiteral("numeroDiSerie"));
    const auto *deriva = stazione.findChild<QLabel *>(QStringLiteral("deriva"));
    const auto *esito = stazione.findChild<QLabel *>(QStringLiteral("esito"));
    QSignalSpy finite(&collaudo, &Collaudo::finita);
    QList<int> avvisi;
    QString ultimo;
    for (int unita = 1; unita <= 10; ++unita) {
        QTest::keyClicks(seriale, QStringLiteral("SD-%1").arg(unita));
        QTest::keyClick(seriale, Qt::Key_Return);
        QTRY_COMPARE(finite.size(), unita);
        // The values are within the row's limits: the unit passes whatever the chart says.
        QCOMPARE(esito->text(), QStringLiteral("CONFORME"));
        if (deriva->text() != ultimo) {
            avvisi << unita;
            ultimo = deriva->text();
        }
    }
    QTEST(avvisi, "avvisi");
    QVERIFY(!deriva->isHidden());
    QVERIFY2(deriva->text().contains(u", dopo l'unità SD-8:\nPressione: 8 valori di seguito dalla "
                                     u"stessa parte della media (ultimi valori 100,6; 100,8; "
                                     u"101,0; 101,2; 101,4 bar).\n"),
        qPrintable(deriva->text()));
    const QString cifre = stazione.findChild<QLabel *>(QStringLiteral("giornata"))->text();
    QVERIFY2(cifre.contains(QStringLiteral("; %1 DERIVA.")
                                 .arg(avvisi.size() == 1 ? QStringLiteral("1 avviso")
                                                         : QStringLiteral("2 avvisi"))),
        qPrintable(cifre));
}

void TestFinestra::collaudoAPosti_data()
{
    QTest::addColumn<QString>("interruttore"); // the socket of the lid switch, on a line of its own
    QTest::addColumn<QString>("avvio");
    // Scanned into the field with the focus, each followed by Enter, one right after another;
    // "^" is Ctrl+Invio, "Esc" is Esc, "Ferma A" a click on socket A's Ferma, "Fuori A" on its
    // Fuori servizio with a reason, "Coperchio" the lid closed.
    QTest::addColumn<QStringList>("letture");
    // Each socket's instrument: the virtual instrument answering 100,0 ("100"), the same gone
    // before the first scan ("spento"), or a line where nothing answers ("zitto").
    QTest::addColumn<QStringList>("strumenti");
    QTest::addColumn<QStringList>("esiti"); // each socket's banner at the end
    // A socket's notice: "B: the text's start"; "*: " the lid switch's, in the window.
    QTest::addColumn<QString>("avviso");
    const QStringList cento{"100", "100", "100", "100"};
    const QStringList zitti{"zitto", "zitto", "zitto", "zitto"};
    QTest::newRow("quattro posti conformi")
        << "" << "singolo" << QStringList{"PA-1", "PA-2", "PA-3", "PA-4"} << cento
        << QStringList{"CONFORME", "CONFORME", "CONFORME", "CONFORME"} << "";
    QTest::newRow("uno strumento spento")
        << "" << "singolo" << QStringList{"PB-1", "PB-2", "PB-3", "PB-4"}
        << QStringList{"100", "100", "spento", "100"}
        << QStringList{"CONFORME", "CONFORME", "ERRORE", "CONFORME"} << "";
    QTest::newRow("unità già in prova in un altro posto")
        << "" << "singolo" << QStringList{"PC-1", "PC-1"} << cento
        << QStringList{"CONFORME", "PRONTO", "PRONTO", "PRONTO"}
        << "B: L'unità PC-1 è già nel posto A, in prova";
    QTest::newRow("avvio insieme dei soli posti letti")
        << "" << "insieme" << QStringList{"PD-1", "PD-2", "^"}
        << QStringList{"100", "100", "zitto", "zitto"}
        << QStringList{"CONFORME", "CONFORME", "PRONTO", "PRONTO"} << "";
    QTest::newRow("Esc ferma ogni posto in prova")
        << "" << "singolo" << QStringList{"PE-1", "PE-2", "Esc"} << zitti
        << QStringList{"INTERROTTA", "INTERROTTA", "PRONTO", "PRONTO"} << "";
    QTest::newRow("Ferma ferma il suo posto")
        << "" << "singolo" << QStringList{"PF-1", "PF-2", "Ferma A"}
        << QStringList{"zitto", "100", "zitto", "zitto"}
        << QStringList{"INTERROTTA", "CONFORME", "PRONTO", "PRONTO"} << "";
    QTest::newRow("un posto fuori servizio saltato dal lettore")
        << "" << "singolo" << QStringList{"Fuori B", "PG-1", "PG-2", "PG-3"}
        << QStringList{"100", "zitto", "100", "100"}
        << QStringList{"CONFORME", "FUORI SERVIZIO", "CONFORME", "CONFORME"} << "";
    QTest::newRow("avvio insieme senza il posto messo fuori servizio")
        << "" << "insieme" << QStringList{"PH-1", "PH-2", "Fuori B", "^"}
        << QStringList{"100", "zitto", "zitto", "zitto"}
        << QStringList{"CONFORME", "FUORI SERVIZIO", "PRONTO", "PRONTO"} << "";
    QTest::newRow("un posto in prova non va fuori servizio")
        << "" << "singolo" << QStringList{"PI-1", "Fuori A", "Esc"} << zitti
        << QStringList{"INTERROTTA", "PRONTO", "PRONTO", "PRONTO"}
        << "A: Il posto A ha in prova l'unità PI-1";
    QTest::newRow("coperchio illeggibile, chiuso avvia i posti letti")
        << "B" << "insieme" << QStringList{"PL-1", "Coperchio"}
        << QStringList{"100", "zitto", "zitto", "zitto"}
        << QStringList{"CONFORME", "PRONTO", "PRONTO", "PRONTO"}
        << "*: L'interruttore del coperchio non si legge: il dispositivo";
}

// Four sockets, each on its own line: scans go from one socket's field to the next free one,
// each socket ends on its own with its own outcome, and each run is kept with its socket's line.
void TestFinestra::collaudoAPosti()
{
    QFETCH(QStringList, letture);
    QFETCH(QStringList, strumenti);
    QFETCH(QStringList, esiti);
    QTemporaryDir cartella;
    std::vector<std::unique_ptr<PeerPty>> zitti;
    std::vector<std::unique_ptr<StrumentoInProva>> strumentiInProva;
    QStringList posti;
    for (int n = 0; n < 4; ++n) {
        QString linea = cartella.filePath(QStringLiteral("porta%1").arg(n + 1));
        if (strumenti[n] == u"zitto") {
            zitti.push_back(std::make_unique<PeerPty>());
            linea = zitti.back()->percorso();
        } else {
            auto strumento = std::make_unique<StrumentoInProva>();
            QVERIFY(strumento->avvia(linea, {}));
            if (strumenti[n] == u"100")
                strumentiInProva.push_back(std::move(strumento));
        }
        qputenv(qPrintable(QStringLiteral("BANCO_PORTA%1").arg(n + 1)), linea.toLocal8Bit());
        posti << QStringLiteral(R"({"nome": "%1", "porta": "%2"})")
                     .arg(QString(QChar(u'A' + n)), QString::number(n + 1));
    }
    QFETCH(QString, avvio);
    QFETCH(QString, interruttore);
    QByteArray testo = bancoSu("1",
        R"({"nome": "Tensione", "strumento": 0, "memoria": "0008", "decimali": 1,
            "minimo": 20, "massimo": 120})");
    testo.replace(R"("versione": 1)", R"("versione": 2)");
    testo.insert(testo.lastIndexOf('}'),
        QStringLiteral(R"(, "avvio": "%1", "posti": [%2])").arg(avvio, posti.join(u',')).toUtf8());
    if (!interruttore.isEmpty()) {
        testo.insert(testo.lastIndexOf('}'),
            QStringLiteral(R"(, "interruttore": {"posto": "%1", "segnale": "DSR"})")
                .arg(interruttore)
                .toUtf8());
    }
    const QDateTime inizio = QDateTime::currentDateTime();
    const QString banco = cartella.filePath(QStringLiteral("posti.banco"));
    QVERIFY(scrivi(banco, testo));
    // The station opens on the grid, as --collaudo opens it.
    FinestraPrincipale principale;
    // A station of each case's own, so that each socket's figures are this case's.
    const QString nomeStazione = QString::fromUtf8(QTest::currentDataTag()).left(40);
    QVERIFY(principale.apriCollaudo(banco, QStringLiteral("Anna"), nomeStazione));
    QVERIFY(!principale.finestraCollaudo());
    FinestraPosti &finestra = *principale.finestraPosti();
    QVERIFY(QTest::qWaitForWindowExposed(&finestra));
    CollaudoPosti &stazione = *principale.collaudoPosti();
    const auto pannello = [&finestra](int n) {
        return finestra.findChild<QGroupBox *>(QStringLiteral("posto%1").arg(n));
    };

    // Each socket's events in order: "avviato PA-1", "riga 1", "finito conforme".
    QList<QStringList> eventi(4);
    connect(&stazione, &CollaudoPosti::avviato, &finestra,
        [&](int n, const QString &unita) { eventi[n] << QStringLiteral("avviato ") + unita; });
    connect(&stazione, &CollaudoPosti::rigaLetta, &finestra,
        [&](int n, int riga) { eventi[n] << QStringLiteral("riga %1").arg(riga + 1); });
    connect(&stazione, &CollaudoPosti::finito, &finestra, [&](int n, const Collaudo::Esito &e) {
        eventi[n] << QStringLiteral("finito ") + e.esito;
    });
    for (const QString &codice : std::as_const(letture)) {
        QWidget *campo = finestra.focusWidget();
        QVERIFY(qobject_cast<QLineEdit *>(campo));
        if (codice == u"^") {
            QTest::keyClick(campo, Qt::Key_Return, Qt::ControlModifier);
        } else if (codice == u"Esc") {
            QTest::keyClick(campo, Qt::Key_Escape);
        } else if (codice == u"Coperchio") {
            emit stazione.coperchioChiuso();
        } else if (codice.startsWith(u"Fuori ")) {
            pannello(codice.back().unicode() - u'A')
                ->findChild<QPushButton *>(QStringLiteral("servizio"))
                ->click();
            // Asked why, unless refused at once.
            if (auto *dialogo = finestra.findChild<QInputDialog *>(QStringLiteral("dialogoServizio"))) {
                dialogo->setTextValue(QStringLiteral("contatto consumato"));
                dialogo->accept();
            }
        } else if (codice.startsWith(u"Ferma ")) {
            pannello(codice.back().unicode() - u'A')
                ->findChild<QPushButton *>(QStringLiteral("ferma"))
                ->click();
        } else {
            QTest::keyClicks(campo, codice);
            QTest::keyClick(campo, Qt::Key_Return);
        }
    }
    const qsizetype avviati = esiti.size() - esiti.count(QStringLiteral("PRONTO"))
        - esiti.count(QStringLiteral("FUORI SERVIZIO"));
    QTRY_COMPARE(std::count_if(eventi.cbegin(), eventi.cend(),
                     [](const QStringList &e) { return !e.isEmpty() && e.last().startsWith(u"finito"); }),
        avviati);

    QString errore;
    std::unique_ptr<Archivio> archivio = Archivio::apriLocale(Destinazione::filePredefinito(), &errore);
    QVERIFY2(archivio, qPrintable(errore));
    for (int n = 0; n < 4; ++n) {
        const QString esito = pannello(n)->findChild<QLabel *>(QStringLiteral("esito"))->text();
        QCOMPARE(esito, esiti[n]);
        // Today's figures are the socket's own: its one unit, or its one run to repeat.
        const QString cifre = esito == u"CONFORME"
            ? QStringLiteral("1 unità, 1 conforme, 0 non conformi; resa al primo passaggio 100,0 %.")
            : QStringLiteral("0 unità, 0 conformi, 0 non conformi%1; resa al primo passaggio —.")
                  .arg(esito == u"PRONTO" || esito == u"FUORI SERVIZIO"
                          ? QString()
                          : QStringLiteral(", 1 da ripetere"));
        QCOMPARE(pannello(n)->findChild<QLabel *>(QStringLiteral("giornataPosto"))->text(),
            QStringLiteral("Oggi in questo posto: ") + cifre);
        if (esito == u"FUORI SERVIZIO") {
            // Taken out by the operator, now, with the reason; the change is the socket's last.
            const std::optional<QList<ServizioPosto>> cambi
                = archivio->servizi(nomeStazione, QStringLiteral("posti.banco"));
            QVERIFY(cambi && !cambi->isEmpty());
            const ServizioPosto &s = cambi->last();
            QCOMPARE(s.posto + s.operatore + s.motivo, QChar(u'A' + n) + QStringLiteral("Anna")
                    + QStringLiteral("contatto consumato"));
            QVERIFY(!s.inServizio && s.quando >= inizio && s.quando <= QDateTime::currentDateTime());
            // Its field takes no scan; a reader hears the socket's name with it.
            QVERIFY(!pannello(n)->findChild<QLineEdit *>()->isEnabled());
            QVERIFY(pannello(n)->accessibleDescription().startsWith(
                QStringLiteral("Posto %1: FUORI SERVIZIO, contatto consumato, da Anna")
                    .arg(QChar(u'A' + n))));
        }
        if (esito == u"PRONTO" || esito == u"FUORI SERVIZIO") {
            QCOMPARE(eventi[n], QStringList());
            continue;
        }
        const QString unita = pannello(n)->findChild<QLineEdit *>()->text();
        const QString riga = esito == u"INTERROTTA" ? QString() : QStringLiteral("riga 1|");
        QCOMPARE(eventi[n].join(u'|'),
            QStringLiteral("avviato %1|%2finito %3").arg(unita, riga, esito.toLower()));
        // A reader hears the outcome with its socket's name.
        const QString detto = pannello(n)->accessibleDescription();
        QVERIFY2(detto.startsWith(QStringLiteral("Posto %1: %2, ").arg(QChar(u'A' + n), esito)),
            qPrintable(detto));
        FiltroProve filtro;
        filtro.unita = unita;
        QStringList prove;
        QVERIFY(archivio->perOgniProva(filtro, 0,
            [&prove](const ProvaArchiviata &p) { prove << p.posto + QStringLiteral(": ") + p.linea; }));
        QCOMPARE(prove,
            QStringList{QStringLiteral("%1: %2, 9600")
                            .arg(QString(QChar(u'A' + n)), QString::number(n + 1))});
    }
    QFETCH(QString, avviso);
    if (avviso.startsWith(u'*')) {
        const QLabel *detto
            = finestra.findChild<QLabel *>(QStringLiteral("interruttore"), Qt::FindDirectChildrenOnly);
        QTRY_VERIFY2(detto->text().startsWith(avviso.mid(3)), qPrintable(detto->text()));
        QVERIFY2(detto->text().endsWith(u"I posti letti partono con Ctrl+Invio."),
            qPrintable(detto->text()));
    } else if (!avviso.isEmpty()) {
        const int n = avviso.at(0).unicode() - u'A';
        const QString detto = pannello(n)->findChild<QLabel *>(QStringLiteral("avviso"))->text();
        QVERIFY2(detto.startsWith(avviso.mid(3)), qPrintable(detto));
    }

    // The station opened again on the bench has the same sockets out of service.
    if (!esiti.contains(QStringLiteral("FUORI SERVIZIO")))
        return;
    principale.close();
    FinestraPrincipale riaperta;
    QVERIFY(riaperta.apriCollaudo(banco, QStringLiteral("Bruno"), nomeStazione));
    for (int n = 0; n < 4; ++n) {
        const QString esito = riaperta.finestraPosti()
                                  ->findChild<QGroupBox *>(QStringLiteral("posto%1").arg(n))
                                  ->findChild<QLabel *>(QStringLiteral("esito"))
                                  ->text();
        QCOMPARE(esito == u"FUORI SERVIZIO", esiti[n] == u"FUORI SERVIZIO");
    }
}

// References at each socket of their own: a production unit waits for them there, says why in
// the socket's notice and in its blue line, and passes once they gave their outcomes; the label
// line is the socket's own unit's, and Ctrl+P where the last unit failed says why there is none.
void TestFinestra::postiConCampioniEdEtichetta()
{
    QTemporaryDir cartella;
    StrumentoInProva a; // 100,0, then 130,0: the second unit fails
    StrumentoInProva b; // 100,0 always
    QVERIFY(a.avvia(cartella.filePath("a"), {"--deriva", "0008=300"}));
    QVERIFY(b.avvia(cartella.filePath("b"), {}));
    qputenv("BANCO_PORTA1", QFile::encodeName(cartella.filePath("a")));
    qputenv("BANCO_PORTA2", QFile::encodeName(cartella.filePath("b")));
    QByteArray testo = bancoSu("1", R"({"nome": "Tensione", "strumento": 0, "memoria": "0008",
        "decimali": 1, "minimo": 20, "massimo": 120})");
    testo.replace(R"("versione": 1)", R"("versione": 2)");
    testo.insert(testo.lastIndexOf('}'),
        QStringLiteral(R"(, "posti": [{"nome": "A", "porta": "1"}, {"nome": "B", "porta": "2"}],
            "campioni": [{"unita": "OK-01", "esito": "conforme"}],
            "etichetta": {"modello": "etichetta.zpl", "stampante": "%1"})")
            .arg(cartella.filePath("stampante"))
            .toUtf8());
    QVERIFY(scrivi(cartella.filePath("etichetta.zpl"), "^XA^FD{unita}^FS^XZ\n"));
    QVERIFY(scrivi(cartella.filePath("posti.banco"), testo));
    FinestraPrincipale principale;
    QVERIFY(principale.apriCollaudo(
        cartella.filePath("posti.banco"), QStringLiteral("Anna"), QStringLiteral("campioni")));
    FinestraPosti &finestra = *principale.finestraPosti();
    QVERIFY(QTest::qWaitForWindowExposed(&finestra));
    QSignalSpy finiti(principale.collaudoPosti(), &CollaudoPosti::finito);
    const auto parte = [&finestra](char posto, const char *nome) -> QLabel & {
        return *finestra.findChild<QGroupBox *>(QStringLiteral("posto%1").arg(posto - 'A'))
                    ->findChild<QLabel *>(QLatin1String(nome));
    };
    const auto leggi = [&](char posto, const QString &unita) {
        auto *campo = parte(posto, "avviso").parentWidget()->findChild<QLineEdit *>();
        campo->clear();
        QTest::keyClicks(campo, unita);
        QTest::keyClick(campo, Qt::Key_Return);
    };
    const QString attesa = QStringLiteral("Prima della produzione vanno provati i campioni OK-01 "
                                          "nel posto %1.");
    QCOMPARE(parte('A', "campioni").text(), attesa.arg(u"A"));
    QVERIFY(parte('B', "campioni").isVisible());

    leggi('A', QStringLiteral("PA-1"));
    QCOMPARE(parte('A', "avviso").text(),
        QStringLiteral("L'unità PA-1 non si prova: prima della produzione vanno provati i "
                       "campioni OK-01 nel posto A."));
    leggi('A', QStringLiteral("OK-01"));
    QTRY_COMPARE(finiti.size(), 1);
    QCOMPARE(parte('A', "esito").text(), QStringLiteral("CAMPIONE GIUSTO"));
    QVERIFY(parte('A', "campioni").isHidden());
    QCOMPARE(parte('B', "campioni").text(), attesa.arg(u"B"));
    leggi('A', QStringLiteral("PA-1"));
    QTRY_COMPARE(finiti.size(), 2);
    QCOMPARE(parte('A', "esito").text(), QStringLiteral("NON CONFORME"));

    leggi('B', QStringLiteral("OK-01"));
    QTRY_COMPARE(finiti.size(), 3);
    leggi('B', QStringLiteral("PB-1"));
    QTRY_COMPARE(parte('B', "tracciabilita").text(), QStringLiteral("Etichetta stampata."));
    QVERIFY(parte('A', "tracciabilita").isHidden());
    QTest::keyClick(parte('A', "avviso").parentWidget()->findChild<QLineEdit *>(), Qt::Key_P,
        Qt::ControlModifier);
    QCOMPARE(parte('A', "avviso").text(),
        QStringLiteral("L'unità PA-1 non ha etichetta: l'etichetta va solo alle unità di "
                       "produzione conformi."));
}

QTEST_MAIN(TestFinestra)
// The search finds the instrument at 19200 baud, address 7, and nothing else; "Usa" puts both in
// the panel, and no byte of the search went to the panel's received text.
void TestFinestra::ricercaTrovaLoStrumento()
{
    QTemporaryDir cartella;
    const QString porta = cartella.filePath("porta");
    StrumentoInProva strumento;
    QVERIFY(strumento.avvia(porta, {"--baud", "19200", "--indirizzo", "7"}));
    qputenv("BANCO_PORTA1", QFile::encodeName(porta));
    FinestraPrincipale finestra;
    FinestraRicerca &ricerca = apriRicerca(finestra, "38400, 19200, 9600");
    ricerca.findChild<QPushButton *>("avvia")->click();
    QVERIFY(finestra.ricerca().inCorso());
    QTRY_VERIFY_WITH_TIMEOUT(!finestra.ricerca().inCorso(), 60000);

    QCOMPARE(finestra.ricerca().fatte(), qint64(24));
    const QAbstractItemModel *risultati
        = ricerca.findChild<QTableView *>("risultatiRicerca")->model();
    QCOMPARE(risultati->rowCount(), 1);
    QCOMPARE(risultati->index(0, 0).data().toString(), "19200");
    QCOMPARE(risultati->index(0, 1).data().toString(), "7");
    QCOMPARE(risultati->index(0, 3).data().toString(), "1000");
    QCOMPARE(finestra.pannello().testo(Campo::Combo2), "9600");
    ricerca.findChild<QPushButton *>("usa")->click();
    QCOMPARE(finestra.pannello().testo(Campo::Combo2), "19200");
    QCOMPARE(finestra.pannello().testo(Campo::Combo5), "7");
    QCOMPARE(finestra.pannello().testo(Campo::Text1), QString());
}

// Ferma in the middle of the second probe: that probe ends whole, and nothing more is written.
void TestFinestra::ricercaFermataAMetaProva()
{
    PeerPty peer;
    qputenv("BANCO_PORTA1", QFile::encodeName(peer.percorso()));
    FinestraPrincipale finestra;
    FinestraRicerca &ricerca = apriRicerca(finestra, "9600");
    QPushButton *ferma = ricerca.findChild<QPushButton *>("ferma");
    quandoRicevuti(&ricerca, peer, 8 + 3, [ferma] { ferma->click(); });
    ricerca.findChild<QPushButton *>("avvia")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!finestra.ricerca().inCorso(), 20000);

    QCOMPARE(finestra.ricerca().fatte(), qint64(2));
    const QByteArray unaProva = QByteArray::fromHex("5500000000020008");
    QTRY_COMPARE(peer.ricevuti().size(), 2 * unaProva.size());
    QCOMPARE(peer.ricevuti().right(unaProva.size()).toHex(),
        QByteArray::fromHex("5500010000020008").toHex());
}

#include "test_finestra.moc"
