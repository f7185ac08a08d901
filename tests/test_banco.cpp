// The whole bench: the program and the virtual instrument, each as its own process, on an X
// server, driven by mouse clicks and keys through the X server as an operator would.

#include "banco_prova.h"
#include "processo.h"
#include "sequenza_richieste.h"
#include "testi_traffico.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using namespace std::chrono_literals;

namespace {

// Positions in the panel: the centres of the controls' edit fields. The menu bar stands above the
// panel, which is 300 pixels high.
constexpr int kAltezzaPannello = 300;
const QPoint kInviaComando(64, 260);
const QPoint kIndirizzoStrumento(312, 66);
const QPoint kTipoDiComando(40, 218);
const QPoint kIndirizzoMemoria(165, 218);
const QPoint kDatoRicevuto(316, 140);
const QPoint kStringaRicevuta(200, 164);

bool xdotool(const QStringList &argomenti, QString *uscita = nullptr)
{
    QProcess processo;
    processo.start("xdotool", argomenti);
    const bool ok = processo.waitForFinished(20000) && processo.exitCode() == 0;
    if (uscita)
        *uscita = QString::fromLocal8Bit(processo.readAllStandardOutput()).trimmed();
    return ok;
}

QString appunti()
{
    QProcess xclip;
    xclip.start("xclip", {"-o", "-selection", "clipboard"});
    xclip.waitForFinished(5000);
    return QString::fromLocal8Bit(xclip.readAllStandardOutput());
}

void scriviAppunti(const QString &testo)
{
    QProcess xclip;
    xclip.start("xclip", {"-selection", "clipboard"});
    xclip.waitForStarted();
    xclip.write(testo.toLocal8Bit());
    xclip.closeWriteChannel();
    xclip.waitForFinished(5000);
}

// The program, with its main thread's calls to the system recorded by strace.
class ProgrammaInProva
{
public:
    bool avvia(const QString &porta, const QString &traccia)
    {
        QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
        ambiente.insert("BANCO_PORTA1", porta);
        ambiente.insert("QT_QPA_PLATFORM", "xcb");
        m_processo.setProcessEnvironment(ambiente);
        m_processo.start("strace",
            {"-qq", "-xx", "-o", traccia, "-e", "trace=openat,ioctl,write,close",
                QStringLiteral(BANCO_PROGRAMMA)});
        // Only a window that is mapped takes a click: on a busy machine the window exists a
        // good while before it is shown, and a click sent in between went nowhere.
        QString geometria;
        const bool ok = m_processo.waitForStarted()
            && xdotool(
                {"search", "--sync", "--onlyvisible", "--name", "^Banco Seriale$"}, &m_finestra)
            && !m_finestra.isEmpty()
            && xdotool({"getwindowgeometry", "--shell", finestra()}, &geometria);
        static const QRegularExpression altezza(QStringLiteral("HEIGHT=(\\d+)"));
        m_sopraIlPannello = altezza.match(geometria).captured(1).toInt() - kAltezzaPannello;
        return ok && m_sopraIlPannello >= 0;
    }

    bool clic(QPoint dove)
    {
        return xdotool({"mousemove", "--window", finestra(), QString::number(dove.x()),
            QString::number(dove.y() + m_sopraIlPannello), "click", "1"});
    }

    bool scrivi(QPoint campo, const QString &testo)
    {
        return clic(campo) && xdotool({"key", "ctrl+a"}) && xdotool({"type", testo});
    }

    // What a text field shows, copied through the clipboard; empty when it is empty.
    QString leggi(QPoint campo)
    {
        const QString segnaposto = "<nulla copiato>";
        scriviAppunti(segnaposto);
        if (!clic(campo) || !xdotool({"key", "ctrl+a", "ctrl+c"}))
            return segnaposto;
        QElapsedTimer orologio;
        orologio.start();
        QString testo;
        while ((testo = appunti()) == segnaposto && orologio.elapsed() < 2000)
            QTest::qWait(50);
        return testo == segnaposto ? QString() : testo;
    }

    QString finestra() const { return m_finestra.section(u'\n', 0, 0); }

    // Ends the program (strace, its parent, then finishes writing its record).
    bool ferma()
    {
        if (m_processo.state() == QProcess::NotRunning)
            return true;
        QProcess figli;
        figli.start("pgrep", {"-P", QString::number(m_processo.processId())});
        figli.waitForFinished(5000);
        for (const QByteArray &pid : figli.readAllStandardOutput().split('\n')) {
            if (!pid.trimmed().isEmpty())
                ::kill(pid.trimmed().toInt(), SIGTERM);
        }
        if (m_processo.waitForFinished(5000))
            return true;
        m_processo.kill();
        return m_processo.waitForFinished(5000) && false;
    }

    ~ProgrammaInProva() { ferma(); }

private:
    QProcess m_processo;
    QString m_finestra;
    int m_sopraIlPannello = 0;
};

// From strace's record: the bytes written to the port, each with the parity last asked for on
// its descriptor, and whether 0x55 was drained and its descriptor closed before the next byte.
struct Linea
{
    QStringList scritture;
    bool drenatoEChiusoDopo55 = false;
};

// strace -xx writes every byte of a text as \xHH.
QByteArray daStrace(const QString &testo)
{
    return QByteArray::fromHex(testo.toLatin1().replace("\\x", ""));
}

Linea leggiTraccia(const QString &percorso, const QString &porta)
{
    QFile file(percorso);
    file.open(QIODevice::ReadOnly);
    static const QRegularExpression apertura(
        QString::fromLatin1("^openat\\(AT_FDCWD, \"((?:\\\\x[0-9a-f]{2})*)\".* = (\\d+)$"));
    static const QRegularExpression impostazioni(
        QString::fromLatin1("^ioctl\\((\\d+), [^,]*TCSETS, .*c_cflag=([A-Z0-9|]+)"));
    static const QRegularExpression scrittura(
        QString::fromLatin1("^write\\((\\d+), \"((?:\\\\x[0-9a-f]{2})*)\", \\d+\\)\\s+= \\d+"));
    static const QRegularExpression drenaggio(QString::fromLatin1("^ioctl\\((\\d+), TCSBRK, 1\\)"));
    static const QRegularExpression chiusura(QString::fromLatin1("^close\\((\\d+)\\)"));

    Linea linea;
    QString fdPorta;
    QChar parita = u'?';
    enum { Prima55, Dopo55, Drenato, Fine } stato = Prima55;
    for (const QString &riga : QString::fromLocal8Bit(file.readAll()).split(u'\n')) {
        QRegularExpressionMatch m;
        if ((m = apertura.match(riga)).hasMatch()
            && daStrace(m.captured(1)) == porta.toLocal8Bit()) {
            fdPorta = m.captured(2);
        } else if ((m = impostazioni.match(riga)).hasMatch() && m.captured(1) == fdPorta) {
            const QStringList bit = m.captured(2).split(u'|');
            parita = !bit.contains(u"PARENB") ? u'N' : bit.contains(u"PARODD") ? u'O' : u'E';
        } else if ((m = scrittura.match(riga)).hasMatch() && m.captured(1) == fdPorta) {
            for (const char byte : daStrace(m.captured(2)))
                linea.scritture.append(QStringLiteral("%1:%2")
                                           .arg(quint8(byte), 2, 16, QChar(u'0'))
                                           .toUpper()
                                           .arg(parita));
            if (stato == Prima55)
                stato = Dopo55;
        } else if ((m = drenaggio.match(riga)).hasMatch() && m.captured(1) == fdPorta) {
            if (stato == Dopo55)
                stato = Drenato;
        } else if ((m = chiusura.match(riga)).hasMatch() && m.captured(1) == fdPorta) {
            if (stato == Drenato)
                linea.drenatoEChiusoDopo55 = true;
            stato = Fine;
            fdPorta.clear();
        }
    }
    return linea;
}

} // namespace

class TestBanco : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void richiestaInizialeSullaLinea();
    void richiestaSceltaNellaFinestra();
    void strumentoCheSiScollega();
    void strumentoSiFermaPulito();
    void rigaDiComando_data();
    void rigaDiComando();
    void rigaDiComandoFermataDaCtrlC();
    void bancoDaRigaDiComando_data();
    void bancoDaRigaDiComando();
    void postiDaRigaDiComando_data();
    void postiDaRigaDiComando();
    void ricercaDaRigaDiComando_data();
    void ricercaDaRigaDiComando();
    void usoNominaIlProgramma_data();
    void usoNominaIlProgramma();
    void ripetizioneConGuasti_data();
    void ripetizioneConGuasti();

private:
    QTemporaryDir m_cartella;
    QString porta() const { return m_cartella.filePath("porta1"); }
    QString traccia() const { return m_cartella.filePath("strace.txt"); }
};

void TestBanco::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X server: scripts/test runs this on Xvfb");
    QVERIFY(m_cartella.isValid());
    // The bench's runs go to an archive of the test's own.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_cartella.path()));
}

void TestBanco::richiestaInizialeSullaLinea()
{
    StrumentoInProva strumento;
    QVERIFY(strumento.avvia(porta(), {}));
    ProgrammaInProva programma;
    QVERIFY(programma.avvia(porta(), traccia()));

    QVERIFY(programma.clic(kInviaComando));
    const QString richiesta = strumento.attendiRiga("richiesta");
    QVERIFY2(richiesta.startsWith(u"richiesta: 55 | 00 00 | 00 | 00 02 | 00 08;"),
        qPrintable(richiesta));
    QVERIFY2(richiesta.endsWith(u"risposta: 06 00 03 E8"), qPrintable(richiesta));
    QTRY_COMPARE_WITH_TIMEOUT(programma.leggi(kDatoRicevuto), QStringLiteral("1000"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(
        programma.leggi(kStringaRicevuta), QStringLiteral(" 6 0 3 E8"), 10000);

    QVERIFY(programma.ferma());
    const Linea linea = leggiTraccia(traccia(), porta());
    QCOMPARE(linea.scritture.join(u' '), QStringLiteral("55:E 00:O 00:O 00:O 00:O 02:O 00:O 08:O"));
    QVERIFY(linea.drenatoEChiusoDopo55);
}

void TestBanco::richiestaSceltaNellaFinestra()
{
    StrumentoInProva strumento;
    QVERIFY(strumento.avvia(porta(), {"--indirizzo", "300", "--memoria", "001C=513"}));
    ProgrammaInProva programma;
    QVERIFY(programma.avvia(porta(), traccia()));
    QVERIFY(programma.scrivi(kIndirizzoStrumento, "300"));
    QVERIFY(programma.scrivi(kIndirizzoMemoria, "001C"));

    QVERIFY(programma.clic(kInviaComando));
    QString richiesta = strumento.attendiRiga("richiesta");
    QVERIFY2(richiesta.startsWith(u"richiesta: 55 | 01 2C | 00 | 00 02 | 00 1C;"),
        qPrintable(richiesta));
    QVERIFY2(richiesta.endsWith(u"risposta: 06 00 02 01"), qPrintable(richiesta));
    QTRY_COMPARE_WITH_TIMEOUT(programma.leggi(kDatoRicevuto), QStringLiteral("513"), 10000);

    QVERIFY(programma.scrivi(kTipoDiComando, "Scrittura"));
    QVERIFY(programma.clic(kInviaComando));
    richiesta = strumento.attendiRiga("richiesta");
    QVERIFY2(richiesta.startsWith(u"richiesta: 55 | 01 2C | 02 | 00 02 | 00 1C;"),
        qPrintable(richiesta));
    QVERIFY2(richiesta.endsWith(u"risposta: 06"), qPrintable(richiesta));
    QTRY_COMPARE_WITH_TIMEOUT(programma.leggi(kStringaRicevuta), QStringLiteral(" 6"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(programma.leggi(kDatoRicevuto), QStringLiteral("6"), 10000);
}

// The instrument answers once and hangs up, as an adapter pulled out: the next request is
// reported as an error, once, and the one after works when the instrument is back.
void TestBanco::strumentoCheSiScollega()
{
    auto strumento = std::make_unique<StrumentoInProva>();
    QVERIFY(strumento->avvia(porta(), {"--guasto", "riaggancio=1"}));
    ProgrammaInProva programma;
    QVERIFY(programma.avvia(porta(), traccia()));

    QVERIFY(programma.clic(kInviaComando));
    QVERIFY(!strumento->attendiRiga("linea chiusa").isEmpty());
    QVERIFY(strumento->attendiFine());
    QTRY_COMPARE_WITH_TIMEOUT(programma.leggi(kDatoRicevuto), QStringLiteral("1000"), 10000);

    QVERIFY(programma.clic(kInviaComando));
    QString messaggi;
    QVERIFY(xdotool({"search", "--sync", "--onlyvisible", "--name", "^Banco Seriale: errore$"}, &messaggi));
    QCOMPARE(messaggi.split(u'\n').size(), 1);
    QVERIFY(xdotool({"mousemove", "--window", messaggi, "20", "20"}));
    QVERIFY(xdotool({"key", "Return"}));

    strumento = std::make_unique<StrumentoInProva>();
    QVERIFY(strumento->avvia(porta(), {"--memoria", "0008=4321"}));
    QVERIFY(programma.clic(kInviaComando));
    QVERIFY(strumento->attendiRiga("richiesta").endsWith(u"risposta: 06 00 10 E1"));
    QTRY_COMPARE_WITH_TIMEOUT(programma.leggi(kDatoRicevuto), QStringLiteral("4321"), 10000);
}

void TestBanco::strumentoSiFermaPulito()
{
    QProcess strumento;
    strumento.start(QStringLiteral(BANCO_STRUMENTO), {"--collegamento", porta()});
    QVERIFY(strumento.waitForReadyRead(10000));
    QVERIFY(QFileInfo(porta()).isSymLink());
    strumento.terminate();
    QVERIFY(strumento.waitForFinished(10000));
    QCOMPARE(strumento.exitStatus(), QProcess::NormalExit);
    QCOMPARE(strumento.exitCode(), 0);
    QVERIFY(!QFileInfo(porta()).isSymLink());
}

// The result on standard output as "esito | valore | ricevuti", whatever the format.
QString risultatoStampato(const QString &formato, const QByteArray &uscita)
{
    if (formato == u"csv") {
        const QList<QStringList> righe = leggiCsv(uscita.left(uscita.size()).replace("\n", "\r\n"));
        if (righe.size() != 2 || righe[0] != TestiTraffico::intestazioneCsvRisultati())
            return QString::fromUtf8(uscita);
        const auto campo = [&](const char *nome) { return righe[1].value(righe[0].indexOf(nome)); };
        return campo("esito") + " | " + campo("valore") + " | " + campo("ricevuti");
    }
    if (formato == u"json") {
        const QJsonObject r = QJsonDocument::fromJson(uscita).object();
        return r["esito"].toString() + " | "
            + (r["valore"].isNull() ? QString() : QString::number(r["valore"].toInt())) + " | "
            + r["ricevuti"].toString();
    }
    static const QRegularExpression testo(
        QStringLiteral("^ricevuti: ([0-9A-F ]+|-); valore: (\\d+|-); esito: ([a-z0-9 ]+); latenza: "
                       "([0-9.]+ ms|-)\n$"));
    const QRegularExpressionMatch m = testo.match(QString::fromUtf8(uscita));
    if (!m.hasMatch())
        return QString::fromUtf8(uscita);
    return m.captured(3) + " | " + m.captured(2).remove(u'-') + " | " + m.captured(1).remove(u'-');
}

void TestBanco::rigaDiComando_data()
{
    QTest::addColumn<QStringList>("opzioni");
    QTest::addColumn<QStringList>("strumento");
    QTest::addColumn<int>("stato");
    QTest::addColumn<QString>("risultato");
    QTest::addColumn<QString>("messaggio"); // on standard error
    QTest::addColumn<QString>("linea");

    const QString richiesta = "55:E 00:O 00:O 00:O 00:O 02:O 00:O 08:O";
    QTest::newRow("testo, risposta: 0")
        << QStringList{} << QStringList{} << 0 << "risposta | 1000 | 06 00 03 E8"
        << "" << richiesta;
    QTest::newRow("csv") << QStringList{"--formato", "csv"} << QStringList{} << 0
                         << "risposta | 1000 | 06 00 03 E8"
                         << "" << richiesta;
    QTest::newRow("json, comando in maiuscolo")
        << QStringList{"--formato", "JSON", "--comando", "SCRITTURA"} << QStringList{} << 0
        << "risposta | 6 | 06"
        << ""
        << "55:E 00:O 00:O 02:O 00:O 02:O 00:O 08:O";
    QTest::newRow("nessuna risposta: 1")
        << QStringList{} << QStringList{"--guasto", "nessuna-risposta"} << 1
        << "nessuna risposta | 0 | "
        << "" << richiesta;
    QTest::newRow("valore non valido: 2, nulla sulla linea né sull'uscita")
        << QStringList{"--memoria", "12345", "--formato", "csv"} << QStringList{} << 2 << ""
        << "errore 6: Indirizzo memoria"
        << "";
    QTest::newRow("velocità non valida: 2")
        << QStringList{"--baud", "veloce"} << QStringList{} << 2 << ""
        << "errore 2"
        << "";
    QTest::newRow("ricerca: un elenco di velocità con una non valida: 2")
        << QStringList{"--cerca", "--baud", "9600,veloce"} << QStringList{} << 2 << ""
        << "«veloce» non è una velocità"
        << "";
    QTest::newRow("ricerca: intervallo di indirizzi rovesciato: 2")
        << QStringList{"--cerca", "--indirizzo", "9-3"} << QStringList{} << 2 << ""
        << "«9-3» non è un intervallo"
        << "";
    QTest::newRow("--prima senza --cerca: 2") << QStringList{"--prima"} << QStringList{} << 2 << ""
                                              << "--prima vale solo con --cerca"
                                              << "";
    QTest::newRow("opzione sconosciuta: 2")
        << QStringList{"--velocita", "9600"} << QStringList{} << 2 << ""
        << "opzione sconosciuta"
        << "";
    QTest::newRow("dispositivo mancante: 3, nominato come scritto")
        << QStringList{"--porta", "/dev/banco-nessun-dispositivo", "--formato", "json"}
        << QStringList{} << 3 << "errore 11 |  | "
        << "errore 11: Il dispositivo /dev/banco-nessun-dispositivo non esiste."
        << "";
}

// banco-richiesta against the virtual instrument, with no display: its line for each format,
// its exit status, and on the line the panel's bytes and parity, seen by strace. It loads no Gui
// library and never reaches for an X server.
void TestBanco::rigaDiComando()
{
    QFETCH(QStringList, opzioni);
    QFETCH(QStringList, strumento);
    QFETCH(int, stato);
    QFETCH(QString, risultato);
    QFETCH(QString, messaggio);
    QFETCH(QString, linea);

    StrumentoInProva istrumento;
    QVERIFY(istrumento.avvia(porta(), strumento));
    QProcess comando;
    QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
    ambiente.remove("DISPLAY");
    comando.setProcessEnvironment(ambiente);
    if (!opzioni.contains("--porta"))
        opzioni << "--porta" << porta();
    comando.start("strace",
        QStringList{"-qq", "-xx", "-o", traccia(), "-e", "trace=openat,ioctl,write,close,connect",
            BANCO_RICHIESTA}
            + opzioni);
    QVERIFY(comando.waitForFinished(20000));
    QCOMPARE(comando.exitCode(), stato);

    const qsizetype formato = opzioni.indexOf("--formato");
    const QByteArray uscita = comando.readAllStandardOutput();
    if (risultato.isEmpty())
        QCOMPARE(uscita, QByteArray()); // a script reads no reading
    else
        QCOMPARE(risultatoStampato(formato < 0 ? "testo" : opzioni[formato + 1].toLower(), uscita),
            risultato);
    const QString errori = QString::fromUtf8(comando.readAllStandardError());
    QVERIFY2(errori.contains(messaggio), qPrintable(errori));
    // A port named by its device is not pointed at the system's own.
    QVERIFY2(!errori.contains("Porte disponibili"), qPrintable(errori));
    QCOMPARE(leggiTraccia(traccia(), porta()).scritture.join(u' '), linea);
    QFile file(traccia());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray sistema = file.readAll();
    QVERIFY(!sistema.contains("Qt6Gui") && !sistema.contains("X11-unix"));
}

void TestBanco::usoNominaIlProgramma_data()
{
    QTest::addColumn<QString>("programma");
    QTest::addColumn<QString>("nome");
    QTest::newRow("banco-seriale") << BANCO_PROGRAMMA << "banco-seriale";
    QTest::newRow("banco-richiesta") << BANCO_RICHIESTA << "banco-richiesta";
    QTest::newRow("strumento-virtuale") << BANCO_STRUMENTO << "strumento-virtuale";
}

// Started by its full path, each program's help names it as one types it.
void TestBanco::usoNominaIlProgramma()
{
    QFETCH(QString, programma);
    QFETCH(QString, nome);
    QProcess aiuto;
    aiuto.start(programma, {"--help"});
    QVERIFY(aiuto.waitForFinished(20000));
    QCOMPARE(aiuto.exitCode(), 0);
    const QByteArray uso = aiuto.readAllStandardOutput().split('\n').first();
    QVERIFY2(uso.startsWith(QStringLiteral("Uso: %1 [opzioni]").arg(nome).toUtf8()), uso);
}

// Ctrl+C ends a repetition after the request in flight, with the summary, the port drained.
void TestBanco::rigaDiComandoFermataDaCtrlC()
{
    StrumentoInProva istrumento;
    QVERIFY(istrumento.avvia(porta(), {}));
    QProcess comando;
    comando.start(BANCO_RICHIESTA, {"--porta", porta(), "--ripeti", "0", "--intervallo", "50"});
    QVERIFY(comando.waitForReadyRead(10000));
    QVERIFY(!istrumento.attendiRiga("richiesta").isEmpty());
    ::kill(pid_t(comando.processId()), SIGINT);
    QVERIFY(comando.waitForFinished(10000));
    QCOMPARE(comando.exitStatus(), QProcess::NormalExit);
    QCOMPARE(comando.exitCode(), 0);
    const QStringList righe
        = QString::fromUtf8(comando.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    QVERIFY(!righe.isEmpty());
    const QString riassunto = QString::fromUtf8(comando.readAllStandardError());
    QVERIFY2(riassunto.contains(QStringLiteral("%1 richieste: %1 con risposta").arg(righe.size())),
        qPrintable(riassunto));
}

void TestBanco::ricercaDaRigaDiComando_data()
{
    QTest::addColumn<QStringList>("opzioni");
    QTest::addColumn<int>("stato");
    QTest::addColumn<QStringList>("trovati");
    QTest::addColumn<QString>("riassunto");

    QTest::newRow("tre velocità, otto indirizzi: solo 19200 e 7")
        << QStringList{"--baud", "9600,19200,38400", "--indirizzo", "0-7"} << 0
        << QStringList{"19200,7,06 00 03 E8,1000,"} << "24 prove di 24";
    QTest::newRow("--prima: si ferma alla prova che risponde")
        << QStringList{"--baud", "19200,9600", "--indirizzo", "6-9", "--prima"} << 0
        << QStringList{"19200,7,06 00 03 E8,1000,"} << "2 prove di 8";
    QTest::newRow("nessuno risponde: 1") << QStringList{"--baud", "9600", "--indirizzo", "6-8"} << 1
                                         << QStringList{} << "0 con risposta, 3 senza risposta";
}

// banco-richiesta --cerca against an instrument at 19200 baud, address 7, which answers
// nothing at another rate: one CSV line per combination that answered.
void TestBanco::ricercaDaRigaDiComando()
{
    QFETCH(QStringList, opzioni);
    QFETCH(int, stato);
    QFETCH(QStringList, trovati);
    QFETCH(QString, riassunto);

    StrumentoInProva strumento;
    QVERIFY(strumento.avvia(porta(), {"--baud", "19200", "--indirizzo", "7"}));
    QProcess comando;
    comando.start(
        BANCO_RICHIESTA, QStringList{"--cerca", "--porta", porta(), "--formato", "csv"} + opzioni);
    QVERIFY(comando.waitForFinished(60000));
    QCOMPARE(comando.exitCode(), stato);
    QStringList righe
        = QString::fromUtf8(comando.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(righe.value(0).trimmed(), QStringLiteral("baud,indirizzo,ricevuti,valore,latenza_ms"));
    righe.removeFirst();
    for (QString &riga : righe)
        riga = riga.trimmed().section(u',', 0, 3) + u','; // the latency varies
    QCOMPARE(righe, trovati);
    const QString errore = QString::fromUtf8(comando.readAllStandardError());
    QVERIFY2(errore.contains(riassunto), qPrintable(errore));
}

void TestBanco::bancoDaRigaDiComando_data()
{
    QTest::addColumn<QByteArray>("righe");
    QTest::addColumn<bool>("ctrlC");
    QTest::addColumn<int>("stato");
    QTest::addColumn<QString>("rapporto"); // failures and errors, as a JUnit reader counts them

    const QByteArray entro = R"({"nome": "Temperatura", "strumento": 0, "memoria": "0008",
        "decimali": 1, "unita": "°C", "minimo": 20, "massimo": 120},
        {"nome": "Codice firmware", "strumento": 3, "memoria": "0034", "tipo": "esadecimale",
         "atteso": "270F"})";
    const QByteArray fuori = R"(, {"nome": "Soglia", "strumento": 3, "memoria": "0008",
        "massimo": 100})";
    const QByteArray assente = R"(, {"nome": "Assente", "strumento": 7, "memoria": "0008"})";
    QTest::newRow("tutto entro i limiti: 0") << entro << false << 0 << "0 0";
    QTest::newRow("un valore fuori dai limiti: 4, un fallimento")
        << entro + fuori << false << 4 << "1 0";
    QTest::newRow("uno strumento che non risponde prevale: 1")
        << entro + fuori + assente << false << 1 << "2 0";
    QTest::newRow("Ctrl+C: il rapporto dei giri fatti, segnato interrotto")
        << entro << true << 0 << "0 0 interrotto";
    QTest::newRow("json: il valore è un numero, il testo mostrato accanto")
        << entro << false << 0 << "0 0";
}

// banco-richiesta reads a bench from its file against two instruments on one line: a line per
// reading with the unit under test, the exit status, and a JUnit report that Debian's
// python3-junitparser reads.
void TestBanco::bancoDaRigaDiComando()
{
    QFETCH(QByteArray, righe);
    QFETCH(bool, ctrlC);
    QFETCH(int, stato);
    QFETCH(QString, rapporto);
    const QString formato
        = QString::fromUtf8(QTest::currentDataTag()).section(u':', 0, 0) == u"json"
        ? QStringLiteral("json")
        : QStringLiteral("testo");

    StrumentoInProva istrumento;
    QVERIFY(istrumento.avvia(
        porta(), {"--indirizzo", "0,3", "--memoria", "0008=1000", "--memoria", "3:0034=9999"}));
    const QString banco = m_cartella.filePath("prova.banco");
    const QString xml = m_cartella.filePath("rapporto.xml");
    QFile::remove(xml);
    QFile file(banco);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"formato": "banco-seriale", "versione": 1, "linea": {"porta": ")"
        + porta().toUtf8() + R"("}, "righe": [)" + righe + "]}");
    file.close();
    QProcess comando;
    comando.start(BANCO_RICHIESTA,
        {"--banco", banco, "--rapporto", xml, "--unita", "SN-1", "--ripeti", ctrlC ? "0" : "1",
            "--formato", formato});
    if (ctrlC) {
        QVERIFY(comando.waitForReadyRead(10000));
        ::kill(pid_t(comando.processId()), SIGINT);
    }
    QVERIFY(comando.waitForFinished(30000));
    QCOMPARE(comando.exitCode(), stato);
    const QStringList letture
        = QString::fromUtf8(comando.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    QVERIFY(!letture.isEmpty());
    for (const QString &lettura : letture) {
        QVERIFY2(
            formato == u"json" || lettura.startsWith("unità SN-1; giro "), qPrintable(lettura));
        const QJsonObject oggetto = QJsonDocument::fromJson(lettura.toUtf8()).object();
        if (oggetto.value("nome").toString() == u"Temperatura") {
            QCOMPARE(oggetto.value("valore").toDouble(-1), 100.0);
            QCOMPARE(oggetto.value("valore_mostrato").toString(), "100.0 °C");
        }
    }

    QProcess lettore;
    lettore.start("/usr/bin/python3",
        {"-c", R"(import sys, junitparser
casi = fallimenti = errori = 0
interrotto = False
for giro in junitparser.JUnitXml.fromfile(sys.argv[1]):
    casi += giro.tests
    fallimenti += giro.failures
    errori += giro.errors
    interrotto |= any(p.name == "interrotto" for p in giro.properties())
print(casi, fallimenti, errori, "interrotto" if interrotto else "")
)",
            xml});
    QVERIFY(lettore.waitForFinished(20000));
    const QStringList letto = QString::fromUtf8(lettore.readAll()).split(u' ');
    QCOMPARE(lettore.exitCode(), 0);
    QCOMPARE(letto.value(0).toInt(), letture.size()); // a test case for each reading printed
    QCOMPARE(letto.mid(1).join(u' ').trimmed(), rapporto);
}

void TestBanco::postiDaRigaDiComando_data()
{
    QTest::addColumn<QStringList>("opzioni");
    QTest::addColumn<bool>("spento"); // socket B's instrument is gone
    QTest::addColumn<int>("stato");
    QTest::addColumn<QString>("letti"); // socket=unit of each line printed, in order
    QTest::addColumn<QString>("messaggio"); // on standard error

    QTest::newRow("due unità nei posti in ordine: 0")
        << QStringList{"--unita", "SN1", "--unita", "SN2"} << false << 0
        << "A=SN1 B=SN2 A=SN1 B=SN2" << "posto B: 2 richieste: 2 con risposta";
    QTest::newRow("B=SN7 nomina il posto, A resta vuoto: 0")
        << QStringList{"--unita", "B=SN7"} << false << 0 << "B=SN7 B=SN7"
        << "1 prova registrata";
    QTest::newRow("lo strumento del posto B è spento: 3, A legge ogni riga")
        << QStringList{"--unita", "SN1", "--unita", "SN2"} << true << 3
        << "A=SN1 B=SN2 A=SN1 B=SN2" << "posto B: errore 11";
    QTest::newRow("più unità che posti: 2")
        << QStringList{"--unita", "a", "--unita", "b", "--unita", "c"} << false << 2 << ""
        << "3 unità per 2 posti";
    QTest::newRow("un posto che il banco non ha: 2")
        << QStringList{"--unita", "Z=SN1"} << false << 2 << "" << "Z non è un posto del banco";
    QTest::newRow("un'unità in due posti: 2")
        << QStringList{"--unita", "SN1", "--unita", "B=SN1"} << false << 2 << ""
        << "un'unità non può stare in due posti";
    QTest::newRow("--porta con i posti: 2")
        << QStringList{"--porta", "1"} << false << 2 << "" << "--porta non vale";
    QTest::newRow("senza posti, --unita ripetuta: 2")
        << QStringList{"--unita", "SN1", "--unita", "SN2", "senza posti"} << false << 2 << ""
        << "non ha posti";
}

// A bench of two sockets, each unit on its own line: every line printed names its socket and
// unit, each socket's round is one run of the archive, and one socket's dead line fails that
// socket only.
void TestBanco::postiDaRigaDiComando()
{
    QFETCH(QStringList, opzioni);
    QFETCH(bool, spento);
    QFETCH(int, stato);
    QFETCH(QString, letti);
    QFETCH(QString, messaggio);

    const QString portaB = m_cartella.filePath("porta2");
    StrumentoInProva a, b;
    QVERIFY(a.avvia(porta(), {"--indirizzo", "1"}));
    if (!spento)
        QVERIFY(b.avvia(portaB, {"--indirizzo", "2"}));
    const bool senzaPosti = opzioni.removeAll("senza posti") > 0;
    const QString banco = m_cartella.filePath("posti.banco");
    QFile file(banco);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"formato": "banco-seriale", "versione": 2, "linea": {"porta": ")"
        + porta().toUtf8() + R"("}, "righe": [
        {"nome": "Temperatura", "strumento": 1, "memoria": "0008", "decimali": 1,
         "minimo": 20, "massimo": 120},
        {"nome": "Tensione", "strumento": 1, "memoria": "000C", "minimo": 207, "massimo": 253}])"
        + (senzaPosti ? QByteArray()
                      : R"(, "posti": [{"nome": "A", "porta": ")" + porta().toUtf8()
                    + R"(", "strumento": 1}, {"nome": "B", "porta": ")" + portaB.toUtf8()
                    + R"(", "strumento": 2}])")
        + "}");
    file.close();
    QFile::remove(m_cartella.filePath("posti.xml"));
    QProcess comando;
    comando.start(BANCO_RICHIESTA,
        QStringList{"--banco", banco, "--formato", "json", "--archivio",
            m_cartella.filePath("posti.db"), "--rapporto", m_cartella.filePath("posti.xml")}
            + opzioni);
    QVERIFY(comando.waitForFinished(30000));
    const QString errori = QString::fromUtf8(comando.readAllStandardError());
    QVERIFY2(errori.contains(messaggio), qPrintable(errori));
    QCOMPARE(comando.exitCode(), stato);
    QStringList stampati;
    const QList<QByteArray> righe = comando.readAllStandardOutput().split('\n');
    for (const QByteArray &riga : righe) {
        if (riga.isEmpty())
            continue;
        const QJsonObject oggetto = QJsonDocument::fromJson(riga).object();
        stampati << oggetto.value("posto").toString() + u'=' + oggetto.value("unita_in_prova").toString();
    }
    // The two lines' readings come in whichever order their threads end them: each socket's
    // own are in order, and the list is compared sorted.
    QStringList attesi = letti.split(u' ', Qt::SkipEmptyParts);
    attesi.sort();
    stampati.sort();
    QCOMPARE(stampati, attesi);
    // One suite for each socket read.
    attesi.removeDuplicates();
    QFile rapporto(m_cartella.filePath("posti.xml"));
    QCOMPARE(rapporto.open(QIODevice::ReadOnly) ? rapporto.readAll().count("<testsuite ") : 0,
        attesi.size());
}

void TestBanco::ripetizioneConGuasti_data()
{
    QTest::addColumn<QStringList>("opzioni"); // banco-richiesta's; none: the window's repetition
    QTest::newRow("la ripetizione della finestra") << QStringList{};
    QTest::newRow("banco-richiesta, la porta riprovata") << QStringList{"--ripeti", "14"};
    QTest::newRow("banco-richiesta, fermata al primo errore")
        << QStringList{"--ripeti", "14", "--fermati-al-primo-errore"};
}

// Fourteen requests against an instrument whose answers are right, missing, partial, noise, or
// followed by a hang-up that comes back: what the repetition counts is what the instrument logged,
// the log file has a row per request, and after a hang-up the repetition goes on by itself.
// banco-richiesta goes on the same way, or stops at the first error when asked to; either way its
// exit status says a port was lost.
void TestBanco::ripetizioneConGuasti()
{
    QFETCH(QStringList, opzioni);
    StrumentoInProva istrumento;
    QVERIFY(istrumento.avvia(porta(), {"--guasto", "misto"}));
    QByteArray csv;
    if (!opzioni.isEmpty()) {
        QProcess comando;
        comando.start(BANCO_RICHIESTA, opzioni + QStringList{"--porta", porta(), "--formato", "csv"});
        QVERIFY(comando.waitForFinished(60000));
        QCOMPARE(comando.exitCode(), 3);
        const QString errori = QString::fromUtf8(comando.readAllStandardError());
        QVERIFY(errori.contains("errore 1"));
        // A lost port that answers again is said to be back.
        if (!opzioni.contains("--fermati-al-primo-errore"))
            QVERIFY2(errori.contains("risponde di nuovo"), qPrintable(errori));
        csv = comando.readAllStandardOutput().replace("\n", "\r\n"); // a row a line, as the file
    } else {
        Banco banco; // its own peer stays unused: port 1 goes to the instrument
        qputenv("BANCO_PORTA1", QFile::encodeName(porta()));
        SequenzaRichieste ripetizione(banco.sequenziatore, banco.registro, "la prova");
        const QString file = m_cartella.filePath("ripetizione.csv");
        QVERIFY(ripetizione.impostaFileRegistro(file, nullptr));
        QSignalSpy fine(&ripetizione, &SequenzaRichieste::terminata);
        ripetizione.avvia({0, 14, false, 1, {}});
        QVERIFY(fine.wait(60000));
        QCOMPARE(fine.first().at(0).toInt(), 0);

        QStringList registro;
        QString riga;
        while (!(riga = istrumento.attendiRiga("", 500)).isEmpty())
            registro << riga;
        const auto righe = [&](const QString &inizio, const QString &fine) {
            return std::count_if(registro.begin(), registro.end(),
                [&](const QString &r) { return r.startsWith(inizio) && r.endsWith(fine); });
        };
        const StatisticheRipetizione &s = ripetizione.statistiche();
        QCOMPARE(s.inviate(), 14);
        QCOMPARE(s.risposte(), righe("richiesta:", "") - righe("richiesta:", "nessuna risposta"));
        QCOMPARE(s.senzaRisposta(), righe("richiesta:", "nessuna risposta"));
        QCOMPARE(s.risposte() + s.senzaRisposta() + s.errori(), 14);
        QVERIFY(righe("linea riaperta", "") > 0 && s.errori() > 0);
        QFile letto(file);
        QVERIFY(letto.open(QIODevice::ReadOnly));
        csv = letto.readAll();
    }

    const QList<QStringList> righe = leggiCsv(csv);
    QStringList esiti;
    for (const QStringList &riga : righe.mid(1))
        esiti << riga.value(righe[0].indexOf("esito"));
    const qsizetype primoErrore = esiti.indexOf(QRegularExpression("errore \\d+"));
    QVERIFY2(primoErrore >= 0, qPrintable(esiti.join(", ")));
    if (opzioni.contains("--fermati-al-primo-errore"))
        QCOMPARE(esiti.size(), primoErrore + 1);
    else
        QVERIFY2(esiti.size() == 14 && esiti.indexOf("risposta", primoErrore) > primoErrore,
            qPrintable(esiti.join(", ")));
}

QTEST_GUILESS_MAIN(TestBanco)
#include "test_banco.moc"
