#include "etichetta.h"
#include "stampante.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// A bound on waits that end as soon as what they wait for happens: a device's labels take the
// printer's own two seconds each to be given up.
constexpr int kLimite = 20000;

// A network printer: keeps what each connection brought, in the order they came.
class StampanteFinta : public QTcpServer
{
public:
    QList<QByteArray> ricevute;
    int chiuse = 0;

    StampanteFinta()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = nextPendingConnection()) {
                const qsizetype i = ricevute.size();
                ricevute << QByteArray();
                connect(s, &QTcpSocket::readyRead, this, [=] { ricevute[i] += s->readAll(); });
                connect(s, &QTcpSocket::disconnected, this, [=] {
                    ricevute[i] += s->readAll();
                    ++chiuse;
                    s->deleteLater();
                });
            }
        });
    }
};

class TestEtichette : public QObject
{
    Q_OBJECT

private slots:
    void compilazione_data();
    void compilazione();
    void modelliRifiutati_data();
    void modelliRifiutati();
    void indirizzi_data();
    void indirizzi();
    void reteInOrdine();
    void stampanteSpentaPoiAccesa();
    void fileAccodato_data();
    void fileAccodato();
    void fifoSenzaLettore();
};

void TestEtichette::compilazione_data()
{
    QTest::addColumn<QString>("modello");
    QTest::addColumn<QString>("unita");
    QTest::addColumn<QByteArray>("atteso");

    const QString semplice = QStringLiteral("^XA^FO10,10^FD{unita}^FS^XZ");
    QTest::newRow("una matricola che chiude l'etichetta e cancella tutto")
        << semplice << "A^XZ~JA" << QByteArray("^XA^CI28^FO10,10^FH^FDA_5EXZ_7EJA^FS^XZ");
    QTest::newRow("trattino basso")
        << semplice << "SN_1" << QByteArray("^XA^CI28^FO10,10^FH^FDSN_5F1^FS^XZ");
    QTest::newRow("caratteri di controllo")
        << semplice << "A\r\nB\x7F" << QByteArray("^XA^CI28^FO10,10^FH^FDA_0D_0AB_7F^FS^XZ");
    QTest::newRow("lettere accentate")
        << semplice << QStringLiteral("però€")
        << QByteArray("^XA^CI28^FO10,10^FH^FDper_C3_B2_E2_82_AC^FS^XZ");
    QTest::newRow("^FH del modello non raddoppiato")
        << "^XA^FH^FD{unita}^FS^FH_^FD{unita}^FS^XZ"
        << "a_b" << QByteArray("^XA^CI28^FH^FDa_5Fb^FS^FH_^FDa_5Fb^FS^XZ");
    QTest::newRow("^FH solo per il campo che lo aveva")
        << "^XA^FH^FD{unita}^FS^FD{unita}^FS^XZ"
        << "x" << QByteArray("^XA^CI28^FH^FDx^FS^FH^FDx^FS^XZ");
    QTest::newRow("^FH con un altro indicatore")
        << "^XA^FH#^FD{unita}_1^FS^XZ"
        << "a#b_c" << QByteArray("^XA^CI28^FH#^FDa#23b#5Fc_1^FS^XZ");
    QTest::newRow("trattino del modello sotto ^FH aggiunto")
        << "^XA^FDLotto_A {unita}^FS^XZ"
        << "7" << QByteArray("^XA^CI28^FH^FDLotto_5FA 7^FS^XZ");
    QTest::newRow("campo senza valori intatto")
        << "^XA^FDn_1^FS^FD{unita}^FS^XZ\r\n"
        << "7" << QByteArray("^XA^CI28^FDn_1^FS^FH^FD7^FS^XZ");
    QTest::newRow("^CI28 non raddoppiato, minuscole") << "^xa^ci28^fd{unita}^fs^xz"
                                                      << "7" << QByteArray("^xa^ci28^FH^fd7^fs^xz");
    QTest::newRow("graffe che non sono campi")
        << "^XA^FD{Unita} {unita}}^FS^XZ"
        << "7" << QByteArray("^XA^CI28^FH^FD{Unita} 7}^FS^XZ");
    QTest::newRow("due etichette")
        << "^XA^FD{unita}^FS^XZ\n^XA^CI28^FD{unita}^FS^XZ"
        << "7" << QByteArray("^XA^CI28^FH^FD7^FS^XZ\n^XA^CI28^FH^FD7^FS^XZ");
}

void TestEtichette::compilazione()
{
    QFETCH(QString, modello);
    QFETCH(QString, unita);
    QFETCH(QByteArray, atteso);
    QString errore;
    QVERIFY2(
        Etichette::modelloValido(modello, QStringLiteral("prova"), &errore), qPrintable(errore));
    QCOMPARE(Etichette::compila(modello, {{QStringLiteral("unita"), unita}}), atteso);
}

void TestEtichette::modelliRifiutati_data()
{
    QTest::addColumn<QJsonValue>("chiave");
    QTest::addColumn<QString>("modello"); // null: no file
    QTest::addColumn<QString>("dettoNelMotivo");

    const QJsonObject buona{{"modello", "etichetta.zpl"}, {"stampante", "127.0.0.1:9100"}};
    QTest::newRow("campo che non esiste") << QJsonValue(buona) << "^XA^FD{unita} {lotto}^FS^XZ"
                                          << "{lotto}";
    QTest::newRow("file che non c'è") << QJsonValue(buona) << QString() << "«etichetta.zpl»";
    QTest::newRow("senza ^XA") << QJsonValue(buona) << "^FD{unita}^FS^XZ"
                               << "^XA";
    QTest::newRow("senza ^XZ") << QJsonValue(buona) << "^XA^FD{unita}^FS"
                               << "^XZ";
    QTest::newRow("comando dopo ^XZ") << QJsonValue(buona) << "^XA^XZ~JA"
                                      << "~JA";
    QTest::newRow("campo nei parametri") << QJsonValue(buona) << "^XA^FO{posto},1^FDx^FS^XZ"
                                         << "{posto}";
    QTest::newRow("altro set di caratteri") << QJsonValue(buona) << "^XA^CI13^FDx^FS^XZ"
                                            << "^CI13";
    QTest::newRow("non un oggetto") << QJsonValue("etichetta.zpl") << "^XA^XZ"
                                    << "oggetto";
    QTest::newRow("chiave sconosciuta") << QJsonValue(
        QJsonObject{{"modello", "etichetta.zpl"}, {"stampante", "127.0.0.1:9100"}, {"copie", 2}})
                                        << "^XA^XZ"
                                        << "«copie»";
    QTest::newRow("stampante senza porta")
        << QJsonValue(QJsonObject{{"modello", "etichetta.zpl"}, {"stampante", "etichette.txt"}})
        << "^XA^XZ"
        << "percorso assoluto";
}

void TestEtichette::modelliRifiutati()
{
    QFETCH(QJsonValue, chiave);
    QFETCH(QString, modello);
    QFETCH(QString, dettoNelMotivo);
    QTemporaryDir cartella;
    QFile file(cartella.filePath(QStringLiteral("etichetta.zpl")));
    QVERIFY(
        modello.isNull() || (file.open(QIODevice::WriteOnly) && file.write(modello.toUtf8()) > 0));
    file.close();
    QString errore;
    QVERIFY(!ConfigurazioneEtichetta::leggi(chiave, cartella.path(), &errore));
    QVERIFY2(errore.contains(dettoNelMotivo), qPrintable(errore));
}

void TestEtichette::indirizzi_data()
{
    QTest::addColumn<QString>("testo");
    QTest::addColumn<QString>("letto"); // host|porta or the path; empty: refused
    QTest::addColumn<QString>("dettoNelMotivo");

    QTest::newRow("host:porta") << "192.168.1.50:9100"
                                << "192.168.1.50|9100"
                                << "";
    QTest::newRow("nome:porta") << " stampante-linea3:6101 "
                                << "stampante-linea3|6101"
                                << "";
    QTest::newRow("IPv6") << "[fe80::1]:9100"
                          << "fe80::1|9100"
                          << "";
    QTest::newRow("IPv6 senza quadre") << "fe80::1:9100"
                                       << ""
                                       << "[fe80::1]:9100";
    QTest::newRow("porta 0") << "10.0.0.1:0"
                             << ""
                             << "da 1 a 65535";
    QTest::newRow("senza host") << ":9100"
                                << ""
                                << "host";
    QTest::newRow("dispositivo") << "/dev/usb/lp0"
                                 << "/dev/usb/lp0"
                                 << "";
    QTest::newRow("file senza cartella") << "etichette.txt"
                                         << ""
                                         << "percorso assoluto";
    QTest::newRow("percorso relativo") << "stampe/etichette.txt"
                                       << ""
                                       << "percorso assoluto";
    QTest::newRow("vuoto") << ""
                           << ""
                           << "host:porta";
}

void TestEtichette::indirizzi()
{
    QFETCH(QString, testo);
    QFETCH(QString, letto);
    QFETCH(QString, dettoNelMotivo);
    QString errore;
    const auto indirizzo = IndirizzoStampante::leggi(testo, &errore);
    QCOMPARE(bool(indirizzo), !letto.isEmpty());
    if (!indirizzo) {
        QVERIFY2(errore.contains(dettoNelMotivo), qPrintable(errore));
        return;
    }
    QCOMPARE(indirizzo->tipo == IndirizzoStampante::Tipo::File
            ? indirizzo->percorso
            : indirizzo->host + u'|' + QString::number(indirizzo->porta),
        letto);
}

void TestEtichette::reteInOrdine()
{
    StampanteFinta finta;
    QVERIFY(finta.listen(QHostAddress::LocalHost));
    Stampante stampante(*IndirizzoStampante::leggi(
        QStringLiteral("127.0.0.1:%1").arg(finta.serverPort()), nullptr));
    QSignalSpy esiti(&stampante, &Stampante::stampata);
    // One large enough to go out in several writes.
    const QList<QByteArray> etichette{
        "^XA^FDuno^FS^XZ", QByteArray(300000, 'x'), "^XA^FDtre^FS^XZ"};
    for (const QByteArray &etichetta : etichette)
        stampante.stampa(etichetta);
    QTRY_COMPARE(esiti.size(), 3);
    for (qsizetype i = 0; i < esiti.size(); ++i) {
        QCOMPARE(esiti.at(i).at(0).toULongLong(), quint64(i + 1));
        QVERIFY2(esiti.at(i).at(1).toBool(), qPrintable(esiti.at(i).at(2).toString()));
    }
    QTRY_COMPARE(finta.chiuse, 3);
    QCOMPARE(finta.ricevute, etichette);
}

void TestEtichette::stampanteSpentaPoiAccesa()
{
    // A port held, not listening: refused until the printer is up, and no one else can take it.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in indirizzo{};
    indirizzo.sin_family = AF_INET;
    indirizzo.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t lunghezza = sizeof indirizzo;
    QVERIFY(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&indirizzo), sizeof indirizzo) == 0);
    QVERIFY(::getsockname(fd, reinterpret_cast<sockaddr *>(&indirizzo), &lunghezza) == 0);
    const QString dove = QStringLiteral("127.0.0.1:%1").arg(ntohs(indirizzo.sin_port));

    Stampante stampante(*IndirizzoStampante::leggi(dove, nullptr));
    QSignalSpy esiti(&stampante, &Stampante::stampata);
    stampante.stampa("^XA^FDpersa^FS^XZ");
    QTRY_COMPARE(esiti.size(), 1);
    QVERIFY(!esiti.at(0).at(1).toBool());
    QVERIFY2(esiti.at(0).at(2).toString().contains(dove), qPrintable(esiti.at(0).at(2).toString()));
    QString motivo;
    QVERIFY(!Stampante::stampaSubito(dove, "^XA^XZ", &motivo) && !motivo.isEmpty());

    StampanteFinta finta;
    QVERIFY(::listen(fd, 8) == 0 && finta.setSocketDescriptor(fd));
    stampante.stampa("^XA^FDdue^FS^XZ");
    QTRY_COMPARE(esiti.size(), 2);
    QVERIFY2(esiti.at(1).at(1).toBool(), qPrintable(esiti.at(1).at(2).toString()));
    QVERIFY2(Stampante::stampaSubito(dove, "^XA^FDtre^FS^XZ", &motivo), qPrintable(motivo));
    QTRY_COMPARE(finta.chiuse, 2);
    QCOMPARE(finta.ricevute, (QList<QByteArray>{"^XA^FDdue^FS^XZ", "^XA^FDtre^FS^XZ"}));
}

void TestEtichette::fileAccodato_data()
{
    QTest::addColumn<QString>("nome");
    QTest::addColumn<QByteArray>("prima"); // null: no file yet
    QTest::addColumn<bool>("riesce");

    QTest::newRow("file che c'è: in coda") << "etichette.txt" << QByteArray("vecchia\n") << true;
    QTest::newRow("file nuovo") << "etichette.txt" << QByteArray() << true;
    QTest::newRow("cartella che non c'è") << "manca/etichette.txt" << QByteArray() << false;
    QTest::newRow("una cartella") << "." << QByteArray() << false;
}

void TestEtichette::fileAccodato()
{
    QFETCH(QString, nome);
    QFETCH(QByteArray, prima);
    QFETCH(bool, riesce);
    QTemporaryDir cartella;
    QFile file(cartella.filePath(nome));
    QVERIFY(prima.isNull() || (file.open(QIODevice::WriteOnly) && file.write(prima) > 0));
    file.close();
    Stampante stampante(*IndirizzoStampante::leggi(file.fileName(), nullptr));
    QSignalSpy esiti(&stampante, &Stampante::stampata);
    stampante.stampa("^XA^FD1^FS^XZ");
    stampante.stampa("^XA^FD2^FS^XZ");
    QTRY_COMPARE(esiti.size(), 2);
    for (const QList<QVariant> &esito : esiti) {
        QCOMPARE(esito.at(1).toBool(), riesce);
        QCOMPARE(esito.at(2).toString().isEmpty(), riesce);
    }
    if (riesce) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), prima + "^XA^FD1^FS^XZ^XA^FD2^FS^XZ");
    }
}

// A FIFO nobody reads keeps open() waiting: the label is given up in time, the one behind it is
// not sent at all, and when a reader comes the first one comes out and is told.
void TestEtichette::fifoSenzaLettore()
{
    QTemporaryDir cartella;
    const QByteArray fifo = QFile::encodeName(cartella.filePath(QStringLiteral("stampante")));
    QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
    Stampante stampante(*IndirizzoStampante::leggi(QFile::decodeName(fifo), nullptr));
    QSignalSpy esiti(&stampante, &Stampante::stampata);
    QSignalSpy tardive(&stampante, &Stampante::stampataInRitardo);
    stampante.stampa("^XA^FDuno^FS^XZ");
    stampante.stampa("^XA^FDdue^FS^XZ");
    QTRY_COMPARE_WITH_TIMEOUT(esiti.size(), 2, kLimite);
    QVERIFY(!esiti.at(0).at(1).toBool() && !esiti.at(1).at(1).toBool());
    QVERIFY(esiti.at(0).at(2).toString() != esiti.at(1).at(2).toString());

    const int lettore = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(lettore >= 0);
    QByteArray letto;
    const auto leggi = [&] {
        char blocco[256];
        for (ssize_t n; (n = ::read(lettore, blocco, sizeof blocco)) > 0;)
            letto.append(blocco, n);
        return letto;
    };
    QTRY_COMPARE_WITH_TIMEOUT(tardive.size(), 1, kLimite);
    QCOMPARE(tardive.at(0).at(0).toULongLong(), quint64(1));
    stampante.stampa("^XA^FDtre^FS^XZ");
    QTRY_COMPARE(esiti.size(), 3);
    QVERIFY(esiti.at(2).at(1).toBool());
    QTRY_COMPARE(leggi(), QByteArray("^XA^FDuno^FS^XZ^XA^FDtre^FS^XZ"));
    ::close(lettore);
}

QTEST_GUILESS_MAIN(TestEtichette)
#include "test_etichette.moc"
