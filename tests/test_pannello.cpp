#include "banco_prova.h"
#include "form3.h"
#include "pannello_testi.h"
#include "peer_pty.h"

#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolTip>

namespace {

template<typename T = QWidget> T *controllo(Form3 &finestra, const char *nome)
{
    T *trovato = finestra.findChild<T *>(QLatin1String(nome));
    if (!trovato)
        qFatal("the window has no control %s", nome);
    return trovato;
}

// With no window manager on the X server, the window becomes active only when it asks to.
void mostra(QWidget &finestra)
{
    finestra.show();
    finestra.activateWindow();
}

void scrivi(QComboBox *combo, const QString &testo)
{
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), testo);
}

} // namespace

class TestPannello : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void testiEdElenchiIniziali_data();
    void testiEdElenchiIniziali();
    void testoScrittoUsatoComeScritto_data();
    void testoScrittoUsatoComeScritto();
    void ridimensionareNonSpostaNulla();
    void selettoriNonScrivonoSullaLinea();
    void suggerimentoDellaPorta();
};

void TestPannello::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
}

void TestPannello::cleanup()
{
    qunsetenv("BANCO_PORTA1");
    qunsetenv("BANCO_PORTA9");
}

void TestPannello::testiEdElenchiIniziali_data()
{
    QTest::addColumn<QString>("nome");
    QTest::addColumn<QString>("testo");
    QTest::addColumn<QStringList>("elenco");

    QTest::newRow("baud da 110 a 56000, non ordinati a parte")
        << "Combo2"
        << "9600"
        << QStringList{"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
               "28800", "38400", "56000"};
    QTest::newRow("tipo di comando")
        << "ComboComando"
        << "Lettura" << QStringList{"Lettura", "Ripetizione ult. lettura", "Scrittura"};
    QTest::newRow("indirizzo memoria non equispaziato")
        << "ComboIndirizzo"
        << "0008"
        << QStringList{"0008", "000B", "000C", "000D", "000E", "0010", "0012", "0014", "0016",
               "0018", "001A", "001C", "0034"};
    QTest::newRow("stringa ricevuta vuota") << "Text1"
                                            << "" << QStringList{};
    QTest::newRow("dato ricevuto vuoto") << "Text3"
                                         << "" << QStringList{};
}

void TestPannello::testiEdElenchiIniziali()
{
    QFETCH(QString, nome);
    QFETCH(QString, testo);
    QFETCH(QStringList, elenco);

    Form3 finestra;
    finestra.show();
    QVERIFY(QTest::qWaitForWindowExposed(&finestra));
    QWidget *widget = controllo(finestra, qPrintable(nome));
    if (auto *combo = qobject_cast<QComboBox *>(widget)) {
        QVERIFY(combo->isEditable());
        QCOMPARE(combo->currentText(), testo);
        QStringList voci;
        for (int i = 0; i < combo->count(); ++i)
            voci.append(combo->itemText(i));
        QCOMPARE(voci, elenco);
        // What banco-richiesta --cerca tries without a window.
        if (nome == u"Combo2")
            QCOMPARE(PannelloDiTesti::elencoBaud(), elenco);
    } else {
        auto *riga = qobject_cast<QLineEdit *>(widget);
        QVERIFY(riga && !riga->isReadOnly());
        QCOMPARE(riga->text(), testo);
    }
}

void TestPannello::testoScrittoUsatoComeScritto_data()
{
    QTest::addColumn<QString>("nome");
    QTest::addColumn<QString>("testo");
    QTest::addColumn<QString>("impostazioni");

    QTest::newRow("porta fuori elenco") << "Combo1"
                                        << "9"
                                        << "9600,O,8,1";
    QTest::newRow("baud fuori elenco") << "Combo2"
                                       << "57600"
                                       << "57600,O,8,1";
}

void TestPannello::testoScrittoUsatoComeScritto()
{
    QFETCH(QString, nome);
    QFETCH(QString, testo);
    QFETCH(QString, impostazioni);

    PeerPty peer;
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());
    qputenv("BANCO_PORTA9", peer.percorso().toLocal8Bit());
    Form3 finestra;
    mostra(finestra);
    QVERIFY(QTest::qWaitForWindowActive(&finestra));
    scrivi(controllo<QComboBox>(finestra, qPrintable(nome)), testo);
    QCOMPARE(finestra.testo(nome == u"Combo1" ? Campo::Combo1 : Campo::Combo2), testo);

    QTest::mouseClick(controllo(finestra, "Command1"), Qt::LeftButton);
    QCOMPARE(
        sullaLinea(peer, finestra.registro()), QStringLiteral("55 | 00 00 | 00 | 00 02 | 00 08"));
    QCOMPARE(finestra.comm1().Settings(), impostazioni);
    QCOMPARE(finestra.comm1().CommPort(), qint16(testo.toInt() > 100 ? 1 : testo.toInt()));
}

void TestPannello::ridimensionareNonSpostaNulla()
{
    Form3 finestra;
    finestra.show();
    QVERIFY(QTest::qWaitForWindowExposed(&finestra));
    QMap<QWidget *, QRect> posti;
    for (const char *nome : {"Label1", "Frame1", "Label2", "Label3", "Combo1", "Combo2", "Label4",
             "Combo5", "Label5", "Label10", "Text3", "Label9", "Label6", "Text1", "Label7",
             "ComboComando", "Label8", "ComboIndirizzo", "Command1"}) {
        QWidget *widget = controllo(finestra, nome);
        posti.insert(widget, widget->geometry());
    }

    for (const QSize dimensione : {QSize(900, 700), QSize(200, 120)}) {
        finestra.resize(dimensione);
        QTRY_COMPARE(finestra.size(), dimensione);
        for (auto posto = posti.cbegin(); posto != posti.cend(); ++posto)
            QCOMPARE(posto.key()->geometry(), posto.value());
    }
}

// Picking an item or typing in a selector is not a request: nothing goes on the line and the
// results stay as they are.
void TestPannello::selettoriNonScrivonoSullaLinea()
{
    PeerPty peer;
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());
    Form3 finestra;
    mostra(finestra);
    QVERIFY(QTest::qWaitForWindowActive(&finestra));
    QTest::mouseClick(controllo(finestra, "Command1"), Qt::LeftButton);
    QTRY_VERIFY(!finestra.sequenziatore().richiestaInCorso());
    const qsizetype dopoLaRichiesta = peer.ricevuti().size();
    const QString valore = finestra.testo(Campo::Text3);

    for (const char *nome : {"Combo1", "Combo2", "Combo5", "ComboComando", "ComboIndirizzo"}) {
        auto *combo = controllo<QComboBox>(finestra, nome);
        combo->setCurrentIndex(combo->count() - 1);
        scrivi(combo, QStringLiteral("7"));
    }
    QTest::qWait(300);
    QCOMPARE(peer.ricevuti().size(), dopoLaRichiesta);
    QCOMPARE(finestra.testo(Campo::Text3), valore);
    QCOMPARE(finestra.testo(Campo::Text1), QString());
}

void TestPannello::suggerimentoDellaPorta()
{
    PeerPty peer;
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());
    Form3 finestra;
    mostra(finestra);
    QVERIFY(QTest::qWaitForWindowActive(&finestra));
    auto *combo = controllo<QComboBox>(finestra, "Combo1");

    const auto suggerimento = [&] {
        QHelpEvent evento(QEvent::ToolTip, QPoint(5, 5), combo->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(combo->lineEdit(), &evento);
        return QToolTip::text();
    };
    QCOMPARE(suggerimento(), QStringLiteral("Porta 1: %1").arg(peer.percorso()));
    scrivi(combo, QStringLiteral("uno"));
    QVERIFY2(suggerimento().startsWith(u"Porta: «uno»"), qPrintable(QToolTip::text()));
    QCOMPARE(peer.ricevuti().size(), 0);
}

QTEST_MAIN(TestPannello)
#include "test_pannello.moc"
