// The bench without a line: how a row shows and judges a word, the file read and written again,
// and the CSV import.

#include "comandi_tabella.h"
#include "file_banco.h"
#include "modello_tabella.h"
#include "registro_traffico.h"
#include "testi_ammessi.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QUndoStack>
#include <QJsonDocument>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestTabella : public QObject
{
    Q_OBJECT

private slots:
    void valori_data();
    void valori();
    void salvatoERiletto();
    void importaCsv_data();
    void importaCsv();
    void modificaRifiutata();
    void messaggiDaSeguire_data();
    void messaggiDaSeguire();
    void esportatoPerUnFoglioERiletto();
    void annullaOgniModifica_data();
    void annullaOgniModifica();
    void bancoLetto_data();
    void bancoLetto();
    void nomeDellaRiga_data();
    void nomeDellaRiga();
    void postiRifiutati_data();
    void postiRifiutati();
    void postiLetti_data();
    void postiLetti();
    void postiSalvatiERiletti();
};

namespace {

RigaBanco rigaDa(const QByteArray &json)
{
    RigaBanco riga;
    const auto rifiutato = CampiRiga::daJson(QJsonDocument::fromJson(json).object(), riga);
    if (rifiutato)
        qFatal("row refused: %s", qPrintable(rifiutato->second));
    return riga;
}

} // namespace

void TestTabella::valori_data()
{
    QTest::addColumn<QByteArray>("riga");
    QTest::addColumn<int>("parola");
    QTest::addColumn<QString>("mostrato");
    QTest::addColumn<bool>("entro");

    const QByteArray temperatura
        = R"({"strumento":0,"memoria":"8","decimali":1,"unita":"°C","minimo":20,"massimo":120})";
    QTest::newRow("un decimale, con l'unità") << temperatura << 1000 << "100.0 °C" << true;
    QTest::newRow("sul minimo è entro") << temperatura << 200 << "20.0 °C" << true;
    QTest::newRow("un passo sotto il minimo") << temperatura << 199 << "19.9 °C" << false;
    QTest::newRow("un passo sopra il massimo") << temperatura << 1201 << "120.1 °C" << false;
    QTest::newRow("con segno, negativo")
        << QByteArray(R"({"strumento":0,"memoria":"8","tipo":"con segno","minimo":-20})") << 0xFFF4
        << "-12" << true;
    QTest::newRow("con segno, il più piccolo, due decimali")
        << QByteArray(R"({"strumento":0,"memoria":"8","tipo":"con segno","decimali":2})") << 0x8000
        << "-327.68" << true;
    QTest::newRow("senza segno, tre decimali, la parola più grande")
        << QByteArray(R"({"strumento":0,"memoria":"8","decimali":3,"massimo":65.535})") << 0xFFFF
        << "65.535" << true;
    QTest::newRow("decimali che un double non rappresenta esatti")
        << QByteArray(R"({"strumento":0,"memoria":"8","decimali":2,"minimo":0.07,"massimo":0.07})")
        << 7 << "0.07" << true;
    QTest::newRow("esadecimale atteso, in minuscolo")
        << QByteArray(R"({"strumento":3,"memoria":"34","tipo":"esadecimale","atteso":"270f"})")
        << 0x270F << "270F" << true;
    QTest::newRow("esadecimale diverso dall'atteso")
        << QByteArray(R"({"strumento":3,"memoria":"34","tipo":"esadecimale","atteso":"270F"})")
        << 0x2710 << "2710" << false;
    QTest::newRow("binario") << QByteArray(
        R"({"strumento":0,"memoria":"8","tipo":"binario","atteso":"101"})")
                             << 5 << "0000000000000101" << true;
    QTest::newRow("atteso numerico con la virgola")
        << QByteArray(R"({"strumento":0,"memoria":"8","decimali":1,"atteso":"25,0"})") << 250
        << "25.0" << true;
}

void TestTabella::valori()
{
    QFETCH(QByteArray, riga);
    QFETCH(int, parola);
    QFETCH(QString, mostrato);
    QFETCH(bool, entro);
    const RigaBanco r = rigaDa(riga);
    QCOMPARE(r.valoreConUnita(quint16(parola)), mostrato);
    QCOMPARE(r.giudica(quint16(parola)) == RigaBanco::Giudizio::EntroILimiti, entro);
}

// What the program does not know survives a save; what it knows comes back the same. The file
// starts with the byte-order mark some editors write.
void TestTabella::salvatoERiletto()
{
    const QByteArray originale = "\xEF\xBB\xBF"
                                 R"({
        "formato": "banco-seriale", "versione": 1, "postazione": {"linea": "B"},
        "linea": {"porta": "/dev/ttyUSB0", "baud": 19200, "rs485": true},
        "righe": [
            {"nome": "Temperatura", "strumento": 0, "memoria": "0008", "decimali": 1,
             "unita": "°C", "minimo": 20.0, "massimo": 120.5, "taratura": [1, 2]},
            {"strumento": 65535, "memoria": "fFfF", "tipo": "esadecimale", "atteso": "270F"}
        ]})";
    QString errore;
    const std::optional<DatiBanco> letto = FileBanco::leggi(originale, "a.banco", &errore);
    QVERIFY2(letto, qPrintable(errore));
    QTemporaryDir cartella;
    const QString percorso = cartella.filePath("b.banco");
    QVERIFY2(FileBanco::salva(percorso, *letto, &errore), qPrintable(errore));
    const std::optional<DatiBanco> riletto = FileBanco::carica(percorso, &errore);
    QVERIFY2(riletto, qPrintable(errore));

    QCOMPARE(FileBanco::comeJson(*riletto), FileBanco::comeJson(*letto));
    QCOMPARE(riletto->porta, "/dev/ttyUSB0");
    QCOMPARE(riletto->baud, 19200);
    QCOMPARE(riletto->altre.value("postazione").toObject().value("linea").toString(), "B");
    QCOMPARE(riletto->altreLinea.value("rs485").toBool(), true);
    QCOMPARE(riletto->righe.size(), 2);
    QCOMPARE(riletto->righe[0].altre.value("taratura").toArray().size(), 2);
    QCOMPARE(riletto->righe[0].limiti(), "20 … 120.5");
    QCOMPARE(riletto->righe[1].testoMemoria(), "FFFF");
    QCOMPARE(riletto->righe[1].nomeMostrato(), "65535:FFFF");
}

void TestTabella::importaCsv_data()
{
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QStringList>("righe"); // "nome strumento:memoria limiti", or nothing
    QTest::addColumn<QString>("messaggio");

    QTest::newRow("punto e virgola, virgola decimale, come in un foglio italiano")
        << QByteArray("\xEF\xBB\xBFnome;strumento;memoria;decimali;minimo;massimo\r\n"
                      "Pressione;3;1C;1;0,5;10,25\r\n")
        << QStringList{"Pressione 3:001C 0.5 … 10.25"} << "";
    QTest::newRow("virgola, un nome fra virgolette, colonne dell'esportazione ignorate")
        << QByteArray("nome,strumento,memoria,valore,stato\n\"Codice, firmware\",0,34,12,entro\n")
        << QStringList{"Codice, firmware 0:0034 "} << "";
    QTest::newRow("una riga rifiutata: nessuna importata, la riga nominata")
        << QByteArray("strumento;memoria\n0;8\n0;12345\n1;9\n") << QStringList{}
        << "«righe.csv», riga 3, campo «memoria»";
    QTest::newRow("senza intestazione")
        << QByteArray("0;8\n") << QStringList{} << "«righe.csv», riga 1";
    QTest::newRow("non UTF-8") << QByteArray("strumento;memoria;nome\n0;8;\xE8\n") << QStringList{}
                               << "non è testo UTF-8";
}

void TestTabella::importaCsv()
{
    QFETCH(QByteArray, csv);
    QFETCH(QStringList, righe);
    QFETCH(QString, messaggio);
    QString errore;
    const auto importate = FileBanco::importaCsv(csv, "/tmp/righe.csv", &errore);
    QStringList viste;
    for (const RigaBanco &r : importate.value_or(QList<RigaBanco>()))
        viste << r.nomeMostrato() + u' ' + QString::number(r.strumento) + u':' + r.testoMemoria()
                + u' ' + r.limiti();
    QCOMPARE(viste, righe);
    QVERIFY2(errore.contains(messaggio), qPrintable(errore));
    QCOMPARE(errore.isEmpty(), messaggio.isEmpty());
}

// A text refused in the table leaves the row as it was and says why; a new address forgets the
// old address's reading. A reading with nothing to judge it, and an error, say so in words.
void TestTabella::modificaRifiutata()
{
    ModelloTabella modello;
    DatiBanco banco;
    banco.righe = {rigaDa(R"({"strumento":0,"memoria":"8","tipo":"esadecimale"})")};
    modello.imposta(banco);
    RisultatoRichiesta letto;
    letto.esito = RisultatoRichiesta::Esito::Risposta;
    letto.valore = 0x00FF;
    modello.registra(0, letto);
    QSignalSpy rifiuti(&modello, &ModelloTabella::rifiutato);

    QVERIFY(!modello.setData(modello.index(0, ModelloTabella::Minimo), "10", Qt::EditRole));
    QCOMPARE(rifiuti.size(), 1);
    QVERIFY(rifiuti.first().at(0).toString().startsWith("Riga 1, colonna «Minimo»"));
    QVERIFY(!modello.setData(modello.index(0, ModelloTabella::Memoria), "12345", Qt::EditRole));
    QCOMPARE(modello.riga(0).testoMemoria(), "0008");
    QVERIFY(!modello.modificato());

    QVERIFY(modello.setData(modello.index(0, ModelloTabella::Atteso), "ff", Qt::EditRole));
    QCOMPARE(modello.testoStato(0), "entro i limiti");
    QVERIFY(modello.setData(modello.index(0, ModelloTabella::Atteso), "FE", Qt::EditRole));
    QCOMPARE(modello.testoStato(0), "fuori dai limiti");
    QVERIFY(modello.setData(modello.index(0, ModelloTabella::Atteso), "", Qt::EditRole));
    QCOMPARE(modello.testoStato(0), "letta, senza limiti");
    QVERIFY(modello.setData(modello.index(0, ModelloTabella::Memoria), "9", Qt::EditRole));
    QCOMPARE(modello.testoStato(0), "non letta");
    QVERIFY(modello.modificato());
    letto.esito = RisultatoRichiesta::Esito::Errore;
    letto.errore = 11;
    modello.registra(0, letto, "Porta 1: il dispositivo /dev/ttyUSB0 non esiste.");
    QCOMPARE(modello.testoStato(0), "errore 11: il dispositivo non esiste");
    QVERIFY(modello.data(modello.index(0, ModelloTabella::Stato), Qt::ToolTipRole)
                .toString()
                .contains("/dev/ttyUSB0"));
}

namespace {

// The example a refusal offers ("… per esempio 0008."), if it offers one.
QString esempio(const QString &messaggio)
{
    const auto trovato
        = QRegularExpression(QStringLiteral("per esempio (.*)\\.$")).match(messaggio);
    return trovato.hasMatch() ? trovato.captured(1) : QString();
}

} // namespace

void TestTabella::messaggiDaSeguire_data()
{
    QTest::addColumn<QString>("dove");
    QTest::addColumn<QString>("chiave");
    QTest::addColumn<QByteArray>("riga"); // the row's other fields, as the file has them
    QTest::addColumn<QString>("testo");

    const char *casi[][4] = {
        {"memoria di cinque cifre", "memoria", R"("strumento": 0)", "12345"},
        {"memoria fra virgolette, come diceva il file", "memoria", R"("strumento": 0)", "\"0009\""},
        {"un tipo sconosciuto", "tipo", R"("strumento": 0, "memoria": "8")", "intero"},
        {"un minimo a parole", "minimo", R"("strumento": 0, "memoria": "8")", "venti"},
        {"un atteso con più decimali della riga", "atteso",
            R"("strumento": 0, "memoria": "8", "decimali": 1)", "25,55"},
        {"limiti su un codice", "minimo",
            R"("strumento": 0, "memoria": "8", "tipo": "esadecimale")", "10"},
    };
    for (const QString dove : {"cella", "csv"}) {
        for (const auto &[nome, chiave, riga, testo] : casi) {
            // In a CSV field quotes are the file's own, and "0009" is 0009.
            if (dove == u"cella" || !QByteArray(testo).contains('"'))
                QTest::addRow("%s: %s", qPrintable(dove), nome)
                    << dove << chiave << QByteArray(riga) << QString::fromUtf8(testo);
        }
    }
}

// A refusal in a cell or a CSV field tells what to write in the words of that place: no quotes,
// which are the file's JSON, and an example that, written there as it stands, is taken.
void TestTabella::messaggiDaSeguire()
{
    QFETCH(QString, dove);
    QFETCH(QString, chiave);
    QFETCH(QByteArray, riga);
    QFETCH(QString, testo);

    const auto prova = [&](const QString &valore, QString *errore) {
        QJsonObject campi = QJsonDocument::fromJson("{" + riga + "}").object();
        if (dove == u"cella") {
            ModelloTabella modello;
            DatiBanco banco;
            banco.righe = {RigaBanco()};
            CampiRiga::daJson(campi, banco.righe[0]);
            modello.imposta(banco);
            int colonna = 0;
            while (ModelloTabella::chiave(colonna) != chiave)
                ++colonna;
            QSignalSpy rifiuti(&modello, &ModelloTabella::rifiutato);
            const bool preso = modello.setData(modello.index(0, colonna), valore, Qt::EditRole);
            *errore = rifiuti.isEmpty() ? QString() : rifiuti.first().at(0).toString();
            return preso;
        }
        // A CSV field, as the import takes each: its text as the file's value, then the row.
        campi.insert(chiave, CampiRiga::daTesto(chiave, valore));
        RigaBanco letta;
        const auto rifiutato = CampiRiga::daJson(campi, letta, CampiRiga::Dove::Csv);
        *errore = rifiutato ? rifiutato->second : QString();
        return !rifiutato;
    };

    QString errore;
    QVERIFY(!prova(testo, &errore) && !errore.isEmpty());
    // The text typed, quoted back between « and », may hold quotes of its own.
    QVERIFY2(!QString(errore).remove(QRegularExpression(QStringLiteral("«[^»]*»"))).contains(u'"'),
        qPrintable(errore));
    const QString suggerito = esempio(errore);
    QString ancora;
    QVERIFY2(suggerito.isEmpty() || prova(suggerito, &ancora),
        qPrintable(QStringLiteral("%1 → %2").arg(errore, ancora)));
}

// What Esporta writes opens in a spreadsheet set to Italian as columns and numbers, and the
// import reads it back into the same rows.
void TestTabella::esportatoPerUnFoglioERiletto()
{
    QString errore;
    const std::optional<DatiBanco> banco = FileBanco::leggi(R"json({
        "formato": "banco-seriale", "versione": 1, "righe": [
            {"nome": "Temperatura; forno \"A\"", "strumento": 0, "memoria": "0008",
             "decimali": 1, "unita": "°C", "minimo": 20.5, "massimo": 120, "atteso": "100.0"},
            {"nome": "=SOMMA(A1)", "strumento": 3, "memoria": "0034", "tipo": "esadecimale",
             "atteso": "270F"},
            {"strumento": 3, "memoria": "0010", "tipo": "binario"}
        ]})json",
        "prova.banco", &errore);
    QVERIFY2(banco, qPrintable(errore));
    ModelloTabella modello;
    modello.imposta(*banco);
    RisultatoRichiesta letto;
    letto.esito = RisultatoRichiesta::Esito::Risposta;
    letto.valore = 1234;
    modello.registra(0, letto);

    const QByteArray csv = modello.comeCsv(TestiTraffico::FormaCsv::Foglio);
    QVERIFY(csv.startsWith("\xEF\xBB\xBFnome;strumento;memoria;"));
    QVERIFY2(csv.contains(";20,5;120;100,0;123,4;"), csv.constData());
    const auto riletto = FileBanco::importaCsv(csv, "tabella.csv", &errore);
    QVERIFY2(riletto, qPrintable(errore));
    QCOMPARE(riletto->size(), banco->righe.size());
    for (qsizetype n = 0; n < riletto->size(); ++n) {
        RigaBanco originale = banco->righe.at(n);
        originale.nome = originale.nomeMostrato(); // exported as the table shows it
        QCOMPARE(CampiRiga::comeJson(riletto->at(n)), CampiRiga::comeJson(originale));
    }
}

void TestTabella::annullaOgniModifica_data()
{
    QTest::addColumn<QString>("modifica");
    for (const char *modifica : {"cella", "indirizzo di una riga", "righe aggiunte in mezzo",
             "righe sparse eliminate", "riga spostata", "linea"})
        QTest::newRow(modifica) << QString::fromUtf8(modifica);
}

// Every edit of the table, undone, leaves the bench as it was, and done again as it was after.
void TestTabella::annullaOgniModifica()
{
    QFETCH(QString, modifica);
    DatiBanco banco;
    for (const char *memoria : {"8", "C", "B", "1C"})
        banco.righe << rigaDa(R"({"strumento": 0, "memoria": ")" + QByteArray(memoria) + "\"}");
    ModelloTabella modello;
    modello.imposta(banco);
    QUndoStack pila;
    const QByteArray prima = FileBanco::comeJson(modello.banco());

    const auto cella = [&](int colonna, const QString &testo) {
        const RigaBanco vecchia = modello.riga(1);
        QVERIFY(modello.setData(modello.index(1, colonna), testo, Qt::EditRole));
        pila.push(ComandiTabella::cellaCambiata(modello, 1, vecchia, QStringLiteral("colonna")));
    };
    if (modifica == u"cella")
        cella(ModelloTabella::Minimo, QStringLiteral("15,5"));
    else if (modifica == u"indirizzo di una riga")
        cella(ModelloTabella::Memoria, QStringLiteral("FF"));
    else if (modifica == u"righe aggiunte in mezzo")
        pila.push(ComandiTabella::inserisci(modello, 1, {banco.righe[3], banco.righe[0]}, {}));
    else if (modifica == u"righe sparse eliminate")
        pila.push(ComandiTabella::rimuovi(modello, {3, 0, 1}));
    else if (modifica == u"riga spostata")
        pila.push(ComandiTabella::sposta(modello, 2, -1));
    else {
        modello.impostaLinea(QStringLiteral("/dev/ttyUSB0"), 19200);
        pila.push(ComandiTabella::lineaCambiata(modello, QStringLiteral("1"), 9600));
    }
    const QByteArray dopo = FileBanco::comeJson(modello.banco());
    QVERIFY(dopo != prima);

    pila.undo();
    QCOMPARE(FileBanco::comeJson(modello.banco()), prima);
    pila.redo();
    QCOMPARE(FileBanco::comeJson(modello.banco()), dopo);
}

const QByteArray kBanco // the README's example rows of the digest, the other way round
    = R"({"formato":"banco-seriale","versione":1,"linea":{"porta":"1","baud":9600},"stampante":4,)"
      R"("righe":[{"strumento":3,"memoria":"ff","tipo":"con segno","minimo":-0.125,)"
      R"("massimo":1e6,"nome":" Forno \\ A"},{"strumento":0,"memoria":"8","decimali":1,)"
      R"("unita":"°C","minimo":20.50,"atteso":"25"}]})";

void TestTabella::bancoLetto_data()
{
    QTest::addColumn<QByteArray>("da");
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QString>("errore"); // empty: the bench opens
    QTest::addColumn<QString>("seriale"); // taken; one character shorter, refused by a form
    const QByteArray posti = R"("stampante")";
    QTest::newRow("la linea, i posti e la stampante")
        << QByteArray(R"(9600},"stampante":4)")
        << QByteArray(R"(1200},"stampante":8,"posti":[{"nome":"A","porta":"2","strumenti":)"
                      R"({"3":13}},{"nome":"B","porta":"2","strumenti":{"0":5,"3":6}}])")
        << QString() << "";
    QTest::newRow("la forma senza ^ e $, come scritta")
        << posti << QByteArray(R"("modello_unita":"SN-","stampante")") << QString() << "LOTTO-SN-";
    QTest::newRow("chiavi in altro ordine o sconosciute, spazi, ogni codice")
        << QByteArray(R"("strumento":3,"memoria":"ff")")
        << QByteArray("\"memoria\" :\t\"ff\",\n \"x\":[1], \"strumento\":3") << QString() << "";
    QTest::newRow("modello_unita non testo")
        << posti << QByteArray(R"("modello_unita":42,"stampante")")
        << "«modello_unita»: serve un testo" << QString();
    QTest::newRow("espressione non valida")
        << posti << QByteArray(R"("modello_unita":"[","stampante")")
        << "«[» non è un'espressione regolare" << QString();
}

// The rows' digest: SHA-256 of the README's canonical text, rows as in the file, nothing else.
void TestTabella::bancoLetto()
{
    QFETCH(QByteArray, da);
    QFETCH(QByteArray, a);
    QFETCH(QString, errore);
    QFETCH(QString, seriale);
    QString motivo;
    const auto banco = FileBanco::leggi(QByteArray(kBanco).replace(da, a), "a.banco", &motivo);
    QVERIFY2(errore.isEmpty() ? bool(banco) : motivo.contains(errore), qPrintable(motivo));
    if (!banco)
        return;
    QCOMPARE(FileBanco::righeCanoniche(*banco),
        "banco-righe 1\n3\t00FF\tForno \\\\ A\tcon segno\t0\t\t-0.125\t1000000\t\n"
        "0\t0008\t\tsenza segno\t1\t°C\t20.5\t\t25.0\n");
    QCOMPARE(FileBanco::shaRighe(*banco),
        "eda070764dd176ddc9d94c7a59d67062b0c0163a90bfbde809a2ce2ffac3ae50");
    QVERIFY(FileBanco::serialeDelBanco(*banco, seriale));
    QCOMPARE(FileBanco::serialeDelBanco(*banco, seriale.left(seriale.size() - 1)),
        banco->modelloUnita.isEmpty());
    QCOMPARE(FileBanco::leggi(FileBanco::comeJson(*banco), "b.banco", &motivo).value().modelloUnita,
        banco->modelloUnita);
}

void TestTabella::nomeDellaRiga_data()
{
    QTest::addColumn<QString>("nome");
    QTest::addColumn<QString>("detto"); // taken: as the command line prints it; else why not
    QTest::newRow("64 caratteri") << QString(64, u'è') << QString(64, u'è');
    QTest::newRow("65 caratteri") << QString(65, u'è') << QString("lungo 65 caratteri");
    QTest::newRow("64 faccine") << QString("😀").repeated(64) << QString("😀").repeated(64);
    QTest::newRow("a capo") << QString("Forno\nA") << QString("di controllo (\\n)");
    QTest::newRow("escape") << QString("\x1b[31m") << QString("di controllo (\\x1b)");
    QTest::newRow("separatore di riga") << QString("a\u2028b") << QString("di controllo (\\x2028)");
    QTest::newRow("una barra rovescia") << QString("a\\b") << QString("a\\\\b");
}

// The file refuses a row's name the archive could not keep; the command line prints one raw-free.
void TestTabella::nomeDellaRiga()
{
    QFETCH(QString, nome);
    QFETCH(QString, detto);
    const QByteArray json = QJsonDocument(QJsonArray{nome}).toJson(QJsonDocument::Compact);
    QString motivo;
    const QByteArray file = QByteArray(kBanco).replace(R"(" Forno \\ A")", json.mid(1).chopped(1));
    const bool preso = bool(FileBanco::leggi(file, "a.banco", &motivo));
    QVERIFY2(preso ? TestiAmmessi::mostrabile(nome) == detto : motivo.contains(detto),
        qPrintable(motivo));
}

namespace {

// A bench of rows at the addresses given ("1,2") and the top-level keys given, version 2 unless
// they say otherwise.
QByteArray bancoConPosti(const QString &strumentiRighe, QByteArray resto)
{
    QByteArrayList righe;
    for (const QString &strumento : strumentiRighe.split(u',', Qt::SkipEmptyParts))
        righe << R"({"strumento":)" + strumento.toUtf8() + R"(,"memoria":")"
                + QByteArray::number(righe.size() + 8, 16) + "\"}";
    if (!resto.contains("\"versione\""))
        resto += resto.isEmpty() ? R"("versione":2)" : R"(,"versione":2)";
    return R"({"formato":"banco-seriale","linea":{"porta":"1","baud":9600},"righe":[)"
        + righe.join(',') + "]," + resto + "}";
}

} // namespace

void TestTabella::postiRifiutati_data()
{
    QTest::addColumn<QString>("righe");
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("parole");

    const auto riga = [](const char *nome, const char *righe, const QByteArray &json,
                          const QStringList &parole) {
        QTest::newRow(nome) << QString::fromUtf8(righe) << json << parole;
    };
    riga("nome ripetuto", "1", R"("posti":[{"nome":"A","porta":"1"},{"nome":"A","porta":"2"}])",
        {"posto 2, campo «nome»: «A» è già il nome del posto 1", "un nome diverso"});
    riga("senza nome, detto per posizione", "1",
        R"("posti":[{"nome":"A","porta":"1"},{"porta":"2"}])",
        {"posto 2, campo «nome»: manca il nome", "per esempio \"A\""});
    riga("nome di 17 caratteri", "1", R"("posti":[{"nome":"ABCDEFGHIJKLMNOPQ","porta":"1"}])",
        {"posto 1, campo «nome»", "lungo 17 caratteri: al massimo 16"});
    riga("nome con un a capo", "1", R"("posti":[{"nome":"A\nB","porta":"1"}])",
        {"posto 1, campo «nome»", "carattere di controllo (\\n)"});
    riga("senza porta", "1", R"("posti":[{"nome":"A"}])",
        {"posto «A», campo «porta»: manca la porta", "/dev/serial/by-path/"});
    riga("strumento su righe di più strumenti", "1,2",
        R"("posti":[{"nome":"A","porta":"1","strumento":5}])",
        {"posto «A», campo «strumento»: le righe usano più strumenti (1, 2)",
            R"("strumenti": { "1": 11, "2": 12 })"});
    riga("strumento e strumenti insieme", "1",
        R"("posti":[{"nome":"A","porta":"1","strumento":5,"strumenti":{"1":5}}])",
        {"posto «A», campo «strumento»", "non entrambi"});
    riga("strumenti di uno strumento che nessuna riga usa", "1,2",
        R"("posti":[{"nome":"A","porta":"1","strumenti":{"1":11,"3":13}}])",
        {"posto «A», campo «strumenti»: nessuna riga usa lo strumento 3 (le righe usano 1, 2)"});
    riga("stessa porta, stesso indirizzo", "1,2",
        R"("posti":[{"nome":"A","porta":"1","strumenti":{"1":5}},)"
        R"({"nome":"B","porta":" 1","strumenti":{"2":5}}])",
        {"posto «B», campo «porta»: è sulla stessa linea del posto «A»", "indirizzo 5"});
    riga("due nomi dello stesso dispositivo", "1",
        R"("posti":[{"nome":"A","porta":"@DISPOSITIVO@"},{"nome":"B","porta":"@COLLEGAMENTO@"}])",
        {"posto «B», campo «porta»: è sulla stessa linea del posto «A»", "indirizzo 1"});
    riga("chiave sconosciuta in un posto", "1", R"("posti":[{"nome":"A","porta":"1","bud":19200}])",
        {"posto «A», campo «bud»: un posto non ha questo campo", "«baud»"});
    QByteArrayList trentatre;
    for (int n = 0; n < 33; ++n)
        trentatre << R"({"nome":"P)" + QByteArray::number(n) + R"(","porta":"/dev/p)"
                + QByteArray::number(n) + "\"}";
    riga("33 posti", "1", "\"posti\":[" + trentatre.join(',') + "]",
        {"campo «posti»: 33 posti sono troppi: al massimo 32"});
    riga("elenco vuoto", "1", R"("posti":[])", {"campo «posti»: l'elenco è vuoto", "togliere"});
    riga("avvio sconosciuto", "1", R"("posti":[{"nome":"A","porta":"1"}],"avvio":"tutti")",
        {"campo «avvio»: «tutti» non è un modo di avvio", "\"insieme\""});
    riga("interruttore di un posto che non c'è", "1",
        R"("posti":[{"nome":"A","porta":"1"}],"interruttore":{"posto":"B","segnale":"DSR"})",
        {"campo «interruttore.posto»: «B» non è il nome di un posto", "(A)"});
    riga("interruttore su un segnale che non entra", "1",
        R"("posti":[{"nome":"A","porta":"1"}],"interruttore":{"posto":"A","segnale":"DTR"})",
        {"campo «interruttore.segnale»: «DTR» non è un segnale", "\"DCD\""});
    riga("versione 3", "1", R"("versione":3)", {"campo «versione»", "legge fino alla 2"});
}

// A bench whose sockets cannot be told apart, reached or read is refused with one message that
// names the file, the socket and the field, and says what to write.
void TestTabella::postiRifiutati()
{
    QFETCH(QString, righe);
    QFETCH(QByteArray, json);
    QFETCH(QStringList, parole);
    QTemporaryDir cartella;
    QFile dispositivo(cartella.filePath("tty"));
    QVERIFY(dispositivo.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(dispositivo.fileName(), cartella.filePath("per-nome")));
    json.replace("@DISPOSITIVO@", dispositivo.fileName().toUtf8())
        .replace("@COLLEGAMENTO@", cartella.filePath("per-nome").toUtf8());
    QString errore;
    QVERIFY(!FileBanco::leggi(bancoConPosti(righe, json), "/banchi/a.banco", &errore));
    QVERIFY2(errore.startsWith("«a.banco», "), qPrintable(errore));
    for (const QString &parola : parole)
        QVERIFY2(errore.contains(parola), qPrintable(errore));
}

void TestTabella::postiLetti_data()
{
    QTest::addColumn<QString>("righe");
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("posti"); // "nome@porta baud: each row's address", then avvio

    QTest::newRow("senza posti: uno solo, sulla linea")
        << "1,2" << QByteArray(R"("versione":1)") << QStringList{"@1 9600: 1 2", "singolo"};
    QTest::newRow("strumento per ogni riga, la velocità della linea dove manca")
        << "4,4"
        << QByteArray(R"("posti":[{"nome":" ABCDEFGHIJKLMNOP ","porta":"1","strumento":5},)"
                      R"({"nome":"B","porta":"1","strumento":6,"baud":19200}])")
        << QStringList{"ABCDEFGHIJKLMNOP@1 9600: 5 5", "B@1 19200: 6 6", "singolo"};
    QTest::newRow("strumenti per righe di più strumenti, porte a numero e a percorso")
        << "1,2"
        << QByteArray(R"("posti":[{"nome":"A","porta":3,"strumenti":{"1":11,"2":12}},)"
                      R"({"nome":"B","porta":"/dev/serial/by-path/x","strumenti":{"2":22}}])")
        << QStringList{"A@3 9600: 11 12", "B@/dev/serial/by-path/x 9600: 1 22", "singolo"};
    QTest::newRow("versione 1 con posti, avvio insieme e interruttore")
        << "1"
        << QByteArray(R"("versione":1,"avvio":"insieme","interruttore":{"segnale":"RI",)"
                      R"("posto":"B"},"posti":[{"nome":"A","porta":"1"},{"nome":"B","porta":"2"}])")
        << QStringList{"A@1 9600: 1", "B@2 9600: 1", "insieme, interruttore B RI"};
}

void TestTabella::postiLetti()
{
    QFETCH(QString, righe);
    QFETCH(QByteArray, json);
    QFETCH(QStringList, posti);
    QString errore;
    const auto banco = FileBanco::leggi(bancoConPosti(righe, json), "a.banco", &errore);
    QVERIFY2(banco, qPrintable(errore));
    QStringList visti;
    for (const PostoBanco &posto : FileBanco::postiEffettivi(*banco)) {
        QStringList indirizzi;
        for (const RigaBanco &riga : banco->righe)
            indirizzi << QString::number(posto.indirizzo(riga.strumento));
        visti << QStringLiteral("%1@%2 %3: %4")
                     .arg(posto.nome, posto.porta, QString::number(posto.baud.value_or(0)),
                         indirizzi.join(u' '));
    }
    visti << (banco->avvio == AvvioPosti::Insieme ? QStringLiteral("insieme")
                                                  : QStringLiteral("singolo"))
            + (banco->interruttore
                    ? QStringLiteral(", interruttore %1 %2")
                          .arg(banco->interruttore->posto, banco->interruttore->segnale)
                    : QString());
    QCOMPARE(visti, posti);
}

// A version-1 file with sockets is saved as version 2 with every socket's settings; the table
// edits its rows and keeps the sockets for the save.
void TestTabella::postiSalvatiERiletti()
{
    const QByteArray file = bancoConPosti("1,2",
        R"("versione":1,"avvio":"insieme","interruttore":{"posto":"B","segnale":"CTS"},)"
        R"("posti":[{"nome":"A","porta":"1","baud":19200,"strumenti":{"2":7}},)"
        R"({"nome":"B","porta":"/dev/serial/by-path/y"}])");
    QString errore;
    const auto letto = FileBanco::leggi(file, "a.banco", &errore);
    QVERIFY2(letto, qPrintable(errore));
    ModelloTabella modello;
    modello.imposta(*letto);
    QVERIFY(modello.setData(modello.index(0, ModelloTabella::Minimo), "3", Qt::EditRole));
    const QByteArray scritto = FileBanco::comeJson(modello.banco());
    QVERIFY(scritto.contains(R"("versione": 2)"));
    const auto riletto = FileBanco::leggi(scritto, "b.banco", &errore);
    QVERIFY2(riletto, qPrintable(errore));
    QCOMPARE(FileBanco::comeJson(*riletto), scritto);
    QCOMPARE(riletto->righe[0].minimo, 3.0);
    QCOMPARE(riletto->posti.size(), 2);
    QCOMPARE(riletto->posti[0].nome, "A");
    QCOMPARE(riletto->posti[0].indirizzo(2), 7);
    QCOMPARE(riletto->posti[1].nome, "B");
    QCOMPARE(riletto->avvio, AvvioPosti::Insieme);
    QCOMPARE(riletto->interruttore->segnale, "CTS");
}

QTEST_APPLESS_MAIN(TestTabella)
#include "test_tabella.moc"
