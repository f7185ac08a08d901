#include "rapporto.h"
#include "scrittore_rapporti.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

namespace {

// Digests with "ff", and row names with "ff" and "fi": a ligature would hide them from a reader.
const QString kShaBanco = QStringLiteral("0a1bffc2") + QString(56, u'e');
const QString kImpronta = QStringLiteral("9d00ff") + QString(52, u'c') + QStringLiteral("ff12ab");

ProvaCompleta esempio(int letture)
{
    ProvaCompleta c;
    ProvaArchiviata &p = c.prova;
    p.uuid = QStringLiteral("3f2a9c1b-0d4e-4f60-8a7b-1c2d3e4f5a6b");
    p.unita = QStringLiteral("SN-2041");
    p.tentativo = 2;
    p.shaBanco = kShaBanco;
    p.inizio = QDateTime(QDate(2026, 12, 10), QTime(8, 15), Qt::UTC);
    p.fine = p.inizio.addSecs(75);
    p.esito = Esiti::kNonConforme;
    p.impronta = kImpronta;
    for (int i = 0; i < letture; ++i) {
        LetturaArchiviata l;
        l.nome = QStringLiteral("Offset di fine scala %1").arg(i + 1);
        l.unitaMisura = QStringLiteral("V");
        l.valoreMostrato = QStringLiteral("%1.25 V").arg(i);
        l.minimo = 2.5;
        l.massimo = 200;
        l.stato = i < 3 ? QStringLiteral("fuori dai limiti") : QStringLiteral("entro i limiti");
        c.letture.append(l);
    }
    return c;
}

QString esegui(const QString &programma, const QStringList &argomenti)
{
    QProcess processo;
    processo.start(programma, argomenti);
    if (!processo.waitForFinished(60000))
        return {};
    return QString::fromUtf8(processo.readAllStandardOutput());
}

QString programmaVero()
{
    qunsetenv("BANCO_RAPPORTO");
    return ScrittoreRapporti::programma(nullptr);
}

} // namespace

class TestRapporti : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void paroleDellEsito_data();
    void paroleDellEsito();
    void testiDellaLettura_data();
    void testiDellaLettura();
    void nomeDelFile_data();
    void nomeDelFile();
    void pdfLetto_data();
    void pdfLetto();
    void rapportiNonScritti_data();
    void rapportiNonScritti();
    void righeNonValide();
};

void TestRapporti::initTestCase()
{
    // A zone an hour from UTC in December: the report's times are local.
    qputenv("TZ", "Europe/Rome");
    tzset();
    QVERIFY2(!programmaVero().isEmpty(), "banco-rapporto non trovato");
}

void TestRapporti::paroleDellEsito_data()
{
    QTest::addColumn<QString>("esito");
    QTest::addColumn<QString>("campione");
    QTest::addColumn<QString>("parole");
    QTest::addColumn<QString>("tono");
    const auto riga
        = [](const char *nome, const QString &esito, const QString &campione, const QString &parole,
              const QString &tono) { QTest::newRow(nome) << esito << campione << parole << tono; };
    riga("conforme", "conforme", "", "CONFORME", "buono");
    riga("senza risposta", "senza risposta", "", "SENZA RISPOSTA", "cattivo");
    riga("interrotta", "interrotta", "", "INTERROTTA", "da ripetere");
    riga("campione scartato a ragione", "non conforme", "non conforme", "CAMPIONE GIUSTO", "buono");
    riga("campione cattivo promosso", "conforme", "non conforme", "CAMPIONE SBAGLIATO", "cattivo");
    riga("campione buono muto", "senza risposta", "conforme", "CAMPIONE SBAGLIATO", "cattivo");
    riga("campione in errore", "errore", "conforme", "CAMPIONE DA RIPETERE", "da ripetere");
}

void TestRapporti::paroleDellEsito()
{
    QFETCH(QString, esito);
    QFETCH(QString, campione);
    QFETCH(QString, parole);
    QFETCH(QString, tono);
    ProvaCompleta c = esempio(0);
    c.prova.esito = esito;
    c.prova.campione = campione;
    const QJsonObject contenuto = contenutoRapporto(c);
    QCOMPARE(contenuto.value("esito").toString(), parole);
    QCOMPARE(contenuto.value("tono").toString(), tono);
}

// What the archive keeps in the machine's form, as the page shows it.
void TestRapporti::testiDellaLettura_data()
{
    QTest::addColumn<QVariant>("minimo");
    QTest::addColumn<QVariant>("massimo");
    QTest::addColumn<QString>("atteso");
    QTest::addColumn<QString>("mostrato");
    QTest::addColumn<QString>("valore");
    QTest::addColumn<QString>("limiti");
    const auto riga = [](const char *nome, const QVariant &minimo, const QVariant &massimo,
                          const QString &atteso, const QString &mostrato, const QString &valore,
                          const QString &limiti) {
        QTest::newRow(nome) << minimo << massimo << atteso << mostrato << valore << limiti;
    };
    const QVariant no;
    riga("decimali", 2.5, 12.0, "", "3.75 V", "3,75 V", "2,5 … 12 V");
    riga("migliaia e negativi", -0.001, 1500.25, "", "-1500.5 V", "-1.500,5 V",
        "-0,001 … 1.500,25 V");
    riga("solo il minimo", 0.1, no, "", "7 V", "7 V", "≥ 0,1 V");
    riga("solo il massimo", no, 3.0, "", "2 V", "2 V", "≤ 3 V");
    riga("testo atteso", no, no, "PRONTO", "PRONTO", "PRONTO", "= PRONTO");
    riga("nessun limite, esadecimale", no, no, "", "0x1F.A V", "0x1F.A V", "—");
    riga("nessuna risposta", 1.0, 2.0, "", "", "—", "1 … 2 V");
}

void TestRapporti::testiDellaLettura()
{
    QFETCH(QVariant, minimo);
    QFETCH(QVariant, massimo);
    QFETCH(QString, atteso);
    QFETCH(QString, mostrato);
    ProvaCompleta c = esempio(1);
    LetturaArchiviata &l = c.letture.first();
    l.minimo = minimo.isValid() ? std::optional<double>(minimo.toDouble()) : std::nullopt;
    l.massimo = massimo.isValid() ? std::optional<double>(massimo.toDouble()) : std::nullopt;
    l.atteso = atteso;
    l.valoreMostrato = mostrato;
    const QJsonObject contenuto = contenutoRapporto(c);
    const QJsonObject riga = contenuto.value("letture").toArray().first().toObject();
    QTEST(riga.value("valore").toString(), "valore");
    QTEST(riga.value("limiti").toString(), "limiti");
}

void TestRapporti::nomeDelFile_data()
{
    QTest::addColumn<QString>("unita");
    QTest::addColumn<QString>("nome");
    const auto riga = [](const char *nome, const QString &unita, const QString &file) {
        QTest::newRow(nome) << unita << QStringLiteral("2026-12-10_%1_2_3f2a9c1b.pdf").arg(file);
    };
    riga("ordinaria", "SN-2041", "SN-2041");
    riga("barre e due punti", "A/B\\C:D", "A_B_C_D");
    riga("caratteri di Windows", "x*y?\"<>|", "x_y_____");
    riga("punto iniziale e spazio finale", ".lotto 7 ", "_lotto 7_");
    riga("solo punti", "..", "__");
    riga("vuota", "", "_");
    riga("controllo", "a\tb\nc", "a_b_c");
    riga("lettere accentate", "Unità-É", "Unità-É");
    QTest::newRow("segnaposto") << "SN%1"
                                << "2026-12-10_SN%1_2_3f2a9c1b.pdf";
}

void TestRapporti::nomeDelFile()
{
    QFETCH(QString, unita);
    ProvaArchiviata prova = esempio(0).prova;
    prova.unita = unita;
    // 23:30 UTC on the 9th is already the 10th in Italy.
    prova.inizio = QDateTime(QDate(2026, 12, 9), QTime(23, 30), Qt::UTC);
    QTEST(nomeFileRapporto(prova), "nome");
}

void TestRapporti::pdfLetto_data()
{
    QTest::addColumn<int>("letture");
    QTest::addColumn<int>("pagine");
    QTest::newRow("una pagina") << 5 << 1;
    QTest::newRow("tabella su tre pagine") << 120 << 3;
}

// The PDF as a program or a person copying from it reads it: every letter, on every page.
void TestRapporti::pdfLetto()
{
    QFETCH(int, letture);
    QFETCH(int, pagine);
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (pdftotext.isEmpty())
        QSKIP("manca pdftotext (poppler-utils): il testo del PDF non si può rileggere");
    QTemporaryDir cartella;
    const ProvaCompleta prova = esempio(letture);
    const QString pdf = cartella.filePath("sotto/" + nomeFileRapporto(prova.prova));
    QStringList errori;
    QVERIFY(ScrittoreRapporti::scriviSubito({{contenutoRapporto(prova), pdf}}, &errori));
    QCOMPARE(errori, QStringList{QString()});
    QCOMPARE(QDir(cartella.filePath("sotto")).entryList(QDir::Files),
        QStringList{QFileInfo(pdf).fileName()});

    const QString info = esegui(QStandardPaths::findExecutable("pdfinfo"), {pdf});
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+%1\\n").arg(pagine))),
        qPrintable(info));
    const QString tutto = esegui(pdftotext, {pdf, "-"});
    for (const QString &atteso :
        {QStringLiteral("SN-2041"), QStringLiteral("NON CONFORME"), kShaBanco, kImpronta,
            QStringLiteral("10/12/2026 09:15:00"), QStringLiteral("10/12/2026 09:16:15")})
        QVERIFY2(tutto.contains(atteso), qPrintable(atteso));
    for (const LetturaArchiviata &l : prova.letture) {
        QVERIFY2(tutto.contains(l.nome + u'\n'), qPrintable(l.nome));
        QVERIFY2(tutto.contains(QString(l.valoreMostrato).replace(u'.', u',')),
            qPrintable(l.valoreMostrato));
    }
    for (int pagina = 1; pagina <= pagine; ++pagina) {
        const QString n = QString::number(pagina);
        const QString testo = esegui(pdftotext, {"-f", n, "-l", n, pdf, "-"});
        QVERIFY2(testo.contains(QStringLiteral("pagina %1 di %2").arg(pagina).arg(pagine)),
            qPrintable(testo));
        QVERIFY(testo.contains(prova.prova.uuid));
        QVERIFY(testo.contains(kImpronta));
        QVERIFY(testo.contains("Riga") && testo.contains("Limiti") && testo.contains("Stato"));
    }

    // PDF/A wants every font in the file.
    const QStringList fonti
        = esegui(QStandardPaths::findExecutable("pdffonts"), {pdf}).split(u'\n');
    const qsizetype emb = fonti.at(0).indexOf("emb");
    const QStringList elencate = fonti.mid(2).filter(QRegularExpression("."));
    QVERIFY(!elencate.isEmpty());
    for (const QString &riga : elencate)
        QCOMPARE(riga.mid(emb, 4), QStringLiteral("yes "));
}

// Programs standing in for banco-rapporto that fail each in its way.
void TestRapporti::rapportiNonScritti_data()
{
    QTest::addColumn<QString>("programma"); // a shell script; "" the real program
    QTest::addColumn<bool>("sottoUnFile");
    QTest::addColumn<QString>("errore");
    QTest::addColumn<int>("attesa"); // for an answer; a program never answering is stopped then
    const auto riga = [](const char *nome, const QString &programma, bool sottoUnFile,
                          const QString &errore, int attesa = 120000) {
        QTest::newRow(nome) << programma << sottoUnFile << errore << attesa;
    };
    riga("cartella sotto un file", "", true, "la cartella dei rapporti");
    riga("programma mancante", "-", false, "manca il programma banco-rapporto");
    riga("programma ucciso", "read riga\nkill -9 $$", false, "fermato all'improvviso");
    riga("programma che esce", "exit 3", false, "codice 3");
    riga("programma muto", "exec sleep 600", false, "ed è stato fermato", 1000);
}

void TestRapporti::rapportiNonScritti()
{
    QFETCH(QString, programma);
    QFETCH(bool, sottoUnFile);
    QFETCH(QString, errore);
    QFETCH(int, attesa);
    const QString vero = programmaVero();
    QTemporaryDir cartella;
    QFile file(cartella.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString uscite
        = sottoUnFile ? file.fileName() + "/rapporti" : cartella.filePath("rapporti");
    if (programma == "-") {
        qputenv("BANCO_RAPPORTO", cartella.filePath("nessuno").toLocal8Bit());
    } else if (!programma.isEmpty()) {
        QFile script(cartella.filePath("finto"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n" + programma.toUtf8() + '\n');
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("BANCO_RAPPORTO", script.fileName().toLocal8Bit());
    }
    const QJsonObject contenuto = contenutoRapporto(esempio(3));
    QList<std::pair<QJsonObject, QString>> lavori;
    for (int i = 0; i < 3; ++i)
        lavori.append({contenuto, uscite + QStringLiteral("/%1.pdf").arg(i)});

    // For the command line: an error for each report, within the time given.
    QStringList errori;
    QVERIFY(!ScrittoreRapporti::scriviSubito(lavori, &errori, attesa));
    QCOMPARE(errori.size(), 3);
    for (const QString &e : std::as_const(errori))
        QVERIFY2(e.contains(errore), qPrintable(e));

    // For a window: each report answered once, with the error.
    ScrittoreRapporti scrittore;
    scrittore.impostaAttesa(attesa);
    QSignalSpy scritti(&scrittore, &ScrittoreRapporti::scritto);
    for (const auto &[c, pdf] : std::as_const(lavori))
        scrittore.scrivi(c, pdf);
    QTRY_COMPARE_WITH_TIMEOUT(scritti.size(), 3, 30000);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(scritti.at(i).at(0).toString(), lavori.at(i).second);
        QVERIFY2(scritti.at(i).at(1).toString().contains(errore),
            qPrintable(scritti.at(i).at(1).toString()));
    }
    for (const auto &lavoro : std::as_const(lavori))
        QVERIFY(!QFile::exists(lavoro.second));
    QVERIFY(!QFileInfo::exists(uscite) || QDir(uscite).isEmpty());

    // The next report starts the program again.
    qputenv("BANCO_RAPPORTO", vero.toLocal8Bit());
    scrittore.impostaAttesa(ScrittoreRapporti::kAttesaPredefinita);
    const QString buono = cartella.filePath("dopo/rapporto.pdf");
    scrittore.scrivi(contenuto, buono);
    QTRY_COMPARE_WITH_TIMEOUT(scritti.size(), 4, 30000);
    QCOMPARE(scritti.last().at(1).toString(), QString());
    QVERIFY(QFile::exists(buono));
    qunsetenv("BANCO_RAPPORTO");
}

// Lines that are no report are answered as such, and the program goes on to the next.
void TestRapporti::righeNonValide()
{
    QTemporaryDir cartella;
    QJsonObject lavoro = contenutoRapporto(esempio(2));
    lavoro.insert("uscita", cartella.filePath("r.pdf"));
    QProcess processo;
    processo.start(programmaVero(), {});
    processo.write("non json\n[1, 2]\n{\"titolo\": 7}\n"
        + QJsonDocument(lavoro).toJson(QJsonDocument::Compact) + "\n");
    processo.closeWriteChannel();
    QVERIFY(processo.waitForFinished(60000));
    QCOMPARE(processo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(processo.exitCode(), 0);
    const QList<QByteArray> risposte = processo.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(risposte.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const QJsonObject risposta = QJsonDocument::fromJson(risposte.at(i)).object();
        QCOMPARE(risposta.value("errore").toString().isEmpty(), i == 3);
    }
    QVERIFY(QFile::exists(cartella.filePath("r.pdf")));
}

QTEST_GUILESS_MAIN(TestRapporti)
#include "test_rapporti.moc"
