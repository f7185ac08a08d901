#include "conversioni.h"
#include "errore.h"
#include "impostazioni_linea.h"
#include "marcatori_parita.h"
#include "numeri_italiani.h"
#include "ricezione.h"

#include <QTest>

#include <functional>
#include <map>

// Every conversion of the program's texts, as text in and text out: the value it gives, or
// "errore N" for the error it raises.
class TestConversioni : public QObject
{
    Q_OBJECT

private slots:
    void conversioni_data();
    void conversioni();
    void testoRicevutoLimitatoTieneIPiuRecenti();
};

namespace {

QString numero(qint64 valore)
{
    return QString::number(valore);
}

// Reads of the line as hex groups split where the reads were split: "ff | ff 20".
QString decodificaMarcatori(const QString &letture)
{
    MarcatoriParita marcatori('?');
    QByteArray uscita;
    for (const QString &lettura : letture.split(u'|'))
        marcatori.decodifica(QByteArray::fromHex(lettura.toLatin1()), uscita);
    return QString::fromLatin1(uscita.toHex(' '));
}

// What the record keeps of the same reads: the byte the line delivered, "!" where it was marked.
QString marcatoriDellaLinea(const QString &letture)
{
    MarcatoriParita marcatori('?');
    QByteArray uscita;
    std::vector<MarcatoriParita::ByteDellaLinea> linea;
    for (const QString &lettura : letture.split(u'|'))
        marcatori.decodifica(QByteArray::fromHex(lettura.toLatin1()), uscita, &linea);
    QStringList byte;
    for (const auto &b : linea)
        byte << QStringLiteral("%1").arg(b.valore, 2, 16, QChar(u'0')) + (b.errore ? "!" : "");
    return byte.join(u' ');
}

const std::map<QString, std::function<QString(const QString &)>> kConversioni = {
    {"porta", [](const QString &t) { return numero(Conversioni::numeroPorta(t)); }},
    {"indirizzo", [](const QString &t) { return numero(Conversioni::indirizzoStrumento(t)); }},
    {"comando", [](const QString &t) { return numero(Conversioni::codiceComando(t)); }},
    {"memoria", [](const QString &t) { return numero(Conversioni::indirizzoMemoria(t)); }},
    {"linea", [](const QString &t) { return ImpostazioniLinea::daTesto(t).testo(); }},
    {"voce", [](const QString &t) { return voceRicevuta(quint8(t.toUInt())); }},
    {"risposta", [](const QString &t) { return numero(decodificaRisposta(t)); }},
    {"marcatori", decodificaMarcatori},
    {"marcatori-linea", marcatoriDellaLinea},
    {"citazione", citaTesto},
    {"all'italiana", NumeriItaliani::daMacchina},
    {"numero scritto",
        [](const QString &t) {
            const auto v = NumeriItaliani::leggi(t);
            return v ? QString::number(*v, 'g', 15) : QStringLiteral("nessuno");
        }},
    {"durata", [](const QString &t) { return NumeriItaliani::durata(t.toDouble()); }},
};

void riga(const char *nome, const char *conversione, const QString &ingresso, const QString &atteso)
{
    QTest::newRow(nome) << QString::fromLatin1(conversione) << ingresso << atteso;
}

QString errore(CodiceErrore codice)
{
    return QStringLiteral("errore %1").arg(int(codice));
}

} // namespace

void TestConversioni::conversioni_data()
{
    QTest::addColumn<QString>("conversione");
    QTest::addColumn<QString>("ingresso");
    QTest::addColumn<QString>("atteso");

    const QString porta = errore(CodiceErrore::PortaNonValida);
    riga("porta: spazi attorno", "porta", " 8 ", "8");
    riga("porta: mezzo al pari, in giù", "porta", "2.5", "2");
    riga("porta: mezzo al pari, in su", "porta", "3.5", "4");
    riga("porta: negativa, rifiutata poi dalla porta", "porta", "-1", "-1");
    riga("porta: limite a 16 bit", "porta", "32767", "32767");
    riga("porta: oltre i 16 bit", "porta", "32768", porta);
    riga("porta: arrotondata oltre i 16 bit", "porta", "32767.5", porta);
    riga("porta: virgola decimale", "porta", "1,5", porta);

    const QString indirizzo = errore(CodiceErrore::IndirizzoStrumentoNonValido);
    riga("indirizzo: 255", "indirizzo", "255", "255");
    riga("indirizzo: 65535 con spazi", "indirizzo", " 65535 ", "65535");
    riga("indirizzo: zeri davanti", "indirizzo", "0010", "10");
    riga("indirizzo: 65536", "indirizzo", "65536", indirizzo);

    const QString comando = errore(CodiceErrore::ComandoSconosciuto);
    riga("comando: lettura", "comando", "Lettura", "0");
    riga("comando: ripetizione", "comando", "Ripetizione ult. lettura", "1");
    riga("comando: scrittura minuscola", "comando", "scrittura", "2");
    riga("comando: maiuscolo con spazi", "comando", "  LETTURA ", "0");
    riga("comando: errore di battitura", "comando", "Scritura", comando);
    riga("comando: senza il punto", "comando", "Ripetizione ult lettura", comando);

    const QString memoria = errore(CodiceErrore::IndirizzoMemoriaNonValido);
    riga("memoria: una cifra", "memoria", "8", "8");
    riga("memoria: tre cifre", "memoria", "123", numero(0x123));
    riga("memoria: minuscole e spazi", "memoria", " 001c ", numero(0x1C));
    riga("memoria: massimo", "memoria", "FFFF", numero(0xFFFF));
    riga("memoria: non esadecimale", "memoria", "ZZ00", memoria);
    riga("memoria: spazio in mezzo", "memoria", "12 34", memoria);

    const QString baud = errore(CodiceErrore::BaudNonValido);
    const QString linea = errore(CodiceErrore::ImpostazioniNonValide);
    riga("linea: dispari minuscolo", "linea", "9600,o,8,1", "9600,O,8,1");
    riga("linea: velocità fuori standard", "linea", "14400,N,8,1", "14400,N,8,1");
    riga("linea: velocità non numerica", "linea", "veloce,E,8,1", baud);
    riga("linea: velocità zero", "linea", "0,E,8,1", baud);
    riga("linea: parità sconosciuta", "linea", "9600,X,8,1", linea);
    riga("linea: sette bit", "linea", "9600,E,7,1", linea);
    riga("linea: due bit di stop", "linea", "9600,E,8,2", linea);
    riga("linea: virgola nella velocità", "linea", "9600,N,E,8,1", linea);

    riga("voce: zero", "voce", "0", " 0");
    riga("voce: una cifra", "voce", "10", " A");
    riga("voce: massimo", "voce", "255", " FF");

    const QString risposta = errore(CodiceErrore::RispostaNonDecodificabile);
    riga("risposta: lettura di 1000", "risposta", " 6 0 3 E8", "1000");
    riga("risposta: alto zero", "risposta", " 0 5", "5");
    riga("risposta: un byte solo", "risposta", " 7F", "127");
    riga("risposta: nulla ricevuto", "risposta", "", "0");
    riga("risposta: alto e basso di una cifra", "risposta", " 1 5", "261");
    riga("risposta: alto di due cifre", "risposta", " 12 34", "4660");
    riga("risposta: alto di due cifre, basso di una", "risposta", " AB 5", "43781");
    riga("risposta: minuscole e spazi in più", "risposta", "  ab   cd ", numero(0xABCD));
    riga("risposta: tre cifre", "risposta", " 1 234", risposta);
    riga("risposta: segno", "risposta", " 6 +1", risposta);
    riga("risposta: voce sbagliata prima delle ultime", "risposta", " x 1 2", risposta);

    riga("marcatori: 0xFF raddoppiato", "marcatori", "41 ff ff 00", "41 ff 00");
    riga("marcatori: errore di parità", "marcatori", "41 ff 00 55 42", "41 3f 42");
    riga("marcatori: 0xFF spezzato fra due letture", "marcatori", "10 ff|ff 20", "10 ff 20");
    riga("marcatori: marcatore in tre letture", "marcatori", "ff|00|55", "3f");
    riga("marcatori: interruzione di linea", "marcatori", "ff 00 00 07", "3f 07");
    riga("marcatori: 0xFF seguito da altro", "marcatori", "ff 41", "ff 41");
    riga("marcatori: il registro tiene il byte con l'errore", "marcatori-linea",
        "41 ff 00 55 ff ff|ff 00|00 07", "41 55! ff 00! 07");

    riga("citazione: controlli resi visibili", "citazione", "a\nb", "«a\uFFFDb»");
    riga("citazione: testo lungo accorciato", "citazione", QString(100000, u'x'),
        QStringLiteral("«%1… (100000 caratteri)»").arg(QString(40, u'x')));
    riga("citazione: emoji al taglio non spezzata", "citazione",
        QString(39, u'x') + QStringLiteral("\U0001F600\U0001F600"),
        QStringLiteral("«%1… (43 caratteri)»").arg(QString(39, u'x')));

    riga("all'italiana: decimali con la virgola", "all'italiana", "-123.4", "-123,4");
    riga("all'italiana: migliaia col punto", "all'italiana", "2104", "2.104");
    riga("numero scritto: virgola", "numero scritto", " 20,5 ", "20.5");
    riga("numero scritto: migliaia col punto, ambiguo", "numero scritto", "1.000,5", "nessuno");
    riga("durata: sotto l'ora", "durata", "3599", "59:59");
    riga("durata: sopra l'ora", "durata", "33589", "9:19:49");
}

void TestConversioni::conversioni()
{
    QFETCH(QString, conversione);
    QFETCH(QString, ingresso);
    QFETCH(QString, atteso);
    QString ottenuto;
    try {
        ottenuto = kConversioni.at(conversione)(ingresso);
    } catch (const Errore &e) {
        ottenuto = errore(e.codice());
    }
    QCOMPARE(ottenuto, atteso);
}

// However many bytes arrive, the text stays bounded, keeps whole entries in the order they came
// and always ends with the newest one.
void TestConversioni::testoRicevutoLimitatoTieneIPiuRecenti()
{
    TestoRicevuto testo;
    QString tutto;
    for (int i = 0; i < 100'000; ++i) {
        testo.aggiungi(voceRicevuta(quint8(i * 7)));
        tutto += voceRicevuta(quint8(i * 7));
        QVERIFY(testo.testo().size() <= 2 * TestoRicevuto::kCaratteriTenuti + 3);
    }
    QVERIFY(testo.testo().size() >= TestoRicevuto::kCaratteriTenuti);
    QVERIFY(testo.testo().startsWith(u' '));
    QVERIFY(tutto.endsWith(testo.testo()));
}

QTEST_APPLESS_MAIN(TestConversioni)
#include "test_conversioni.moc"
