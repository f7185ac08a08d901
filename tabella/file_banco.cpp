#include "file_banco.h"

#include "conversioni.h"
#include "errore.h"
#include "impostazioni_linea.h"
#include "porte.h"
#include "testi_ammessi.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <iterator>

namespace FileBanco {
namespace {

QString nomeFile(const QString &file)
{
    return QStringLiteral("«%1»").arg(
        QFileInfo(file).fileName().isEmpty() ? file : QFileInfo(file).fileName());
}

QString messaggio(const QString &file, qsizetype riga, const QString &campo, const QString &testo)
{
    QString dove = nomeFile(file);
    if (riga > 0)
        dove += QStringLiteral(", riga %1").arg(riga);
    if (!campo.isEmpty())
        dove += QStringLiteral(", campo «%1»").arg(campo);
    return QStringLiteral("%1: %2").arg(dove, testo);
}

bool rifiuta(QString *errore, const QString &testo)
{
    if (errore)
        *errore = testo;
    return false;
}

// The text of the file, if it is UTF-8; the decoder drops a byte-order mark.
std::optional<QString> testoUtf8(const QByteArray &dati)
{
    QStringDecoder decodificatore(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString testo = decodificatore(dati);
    if (decodificatore.hasError())
        return std::nullopt;
    return testo;
}

std::optional<QString> verificaPorta(const QString &porta)
{
    if (porta.contains(u'/') || porta.contains(u'\\'))
        return std::nullopt;
    try {
        if (Conversioni::numeroPorta(porta) >= 1)
            return std::nullopt;
    } catch (const Errore &) { }
    return QStringLiteral("%1 non è una porta: scrivere fra virgolette il numero della porta, "
                          "per esempio \"1\", o il percorso del dispositivo, per esempio "
                          "\"/dev/ttyUSB0\".")
        .arg(citaTesto(porta));
}

// A line's rate, as "baud" takes it in "linea" and in a socket: an integer in the range a
// port can be set to.
std::optional<QString> verificaBaud(const QJsonValue &valore, qint32 &baud)
{
    const double numero = valore.toDouble(-1);
    if (!valore.isDouble() || numero != std::floor(numero)
        || numero < ImpostazioniLinea::kBaudMinimo || numero > ImpostazioniLinea::kBaudMassimo)
        return QStringLiteral("%1 non è una velocità: scrivere un numero intero da %2 a %3, per "
                              "esempio 9600.")
            .arg(citaTesto(valore.toVariant().toString()),
                QString::number(ImpostazioniLinea::kBaudMinimo),
                QString::number(ImpostazioniLinea::kBaudMassimo));
    baud = qint32(numero);
    return std::nullopt;
}

// "modello_unita": a regular expression, matched as written (the file anchors it with ^ and $).
bool leggiModelloUnita(
    const QJsonValue &valore, const QString &file, DatiBanco &banco, QString *errore)
{
    const QString esempio = QStringLiteral("scrivere fra virgolette la forma dei numeri di serie "
                                           "come espressione regolare, per esempio "
                                           "\"^SN-[0-9]{6}$\", o toglierlo per accettarli tutti.");
    if (!valore.isString())
        return rifiuta(errore,
            messaggio(file, 0, QStringLiteral("modello_unita"),
                QStringLiteral("serve un testo: %1").arg(esempio)));
    const QRegularExpression modello(valore.toString());
    if (!modello.isValid())
        return rifiuta(errore,
            messaggio(file, 0, QStringLiteral("modello_unita"),
                QStringLiteral("%1 non è un'espressione regolare valida (errore al carattere "
                               "%2): %3")
                    .arg(citaTesto(valore.toString()),
                        QString::number(modello.patternErrorOffset() + 1), esempio)));
    banco.modelloUnita = valore.toString();
    return true;
}

// A socket's part of a message: the file, the socket by its name or, before it has one, by its
// position (counting from 1), and the field.
QString messaggioPosto(const QString &file, qsizetype numero, const QString &nome,
    const QString &campo, const QString &testo)
{
    QString dove = nomeFile(file);
    dove += nome.isEmpty() ? QStringLiteral(", posto %1").arg(numero)
                           : QStringLiteral(", posto «%1»").arg(nome);
    if (!campo.isEmpty())
        dove += QStringLiteral(", campo «%1»").arg(TestiAmmessi::mostrabile(campo));
    return QStringLiteral("%1: %2").arg(dove, testo);
}

const QString kEsempioPosto = QStringLiteral(R"({ "nome": "A", "porta": "1" })");

// An instrument's address: an integer from 0 to 65535.
std::optional<quint16> indirizzoStrumento(const QJsonValue &valore)
{
    const double numero = valore.toDouble(-1);
    if (!valore.isDouble() || numero != std::floor(numero) || numero < 0 || numero > 65535)
        return std::nullopt;
    return quint16(numero);
}

QString elencoIndirizzi(const QList<quint16> &indirizzi)
{
    QStringList testi;
    for (const quint16 indirizzo : indirizzi.first(std::min<qsizetype>(indirizzi.size(), 8)))
        testi << QString::number(indirizzo);
    return testi.join(QStringLiteral(", "))
        + (indirizzi.size() > 8 ? QStringLiteral(", …") : QString());
}

// "strumenti" as this bench's rows would have it: each row address (up to three) to another.
QString esempioStrumenti(const QList<quint16> &strumentiRighe)
{
    QStringList coppie;
    for (qsizetype n = 0; n < std::min<qsizetype>(strumentiRighe.size(), 3); ++n)
        coppie << QStringLiteral("\"%1\": %2")
                      .arg(QString::number(strumentiRighe[n]), QString::number(11 + n));
    if (coppie.isEmpty())
        coppie << QStringLiteral("\"1\": 11");
    return QStringLiteral("\"strumenti\": { %1 }").arg(coppie.join(QStringLiteral(", ")));
}

// The same line for two sockets: the same port number, or the same device once a path's links
// are followed, or failing that the same text.
QString chiaveLinea(const QString &porta)
{
    if (porta.contains(u'/') || porta.contains(u'\\')) {
        const QString canonico = QFileInfo(porta).canonicalFilePath();
        return canonico.isEmpty() ? porta : canonico;
    }
    try {
        return QString::number(Conversioni::numeroPorta(porta));
    } catch (const Errore &) {
        return porta;
    }
}

// The addresses a socket's unit answers at for this bench's rows, sorted, each once.
QList<quint16> indirizziDelPosto(const PostoBanco &posto, const QList<quint16> &strumentiRighe)
{
    if (posto.strumento)
        return {*posto.strumento};
    QList<quint16> indirizzi;
    for (const quint16 strumento : strumentiRighe)
        indirizzi << posto.indirizzo(strumento);
    std::sort(indirizzi.begin(), indirizzi.end());
    indirizzi.erase(std::unique(indirizzi.begin(), indirizzi.end()), indirizzi.end());
    return indirizzi;
}

// One socket of "posti", read after the rows: strumentiRighe are their addresses, sorted, each
// once; prima the sockets before it.
bool leggiPosto(const QJsonValue &valore, qsizetype numero, const QList<quint16> &strumentiRighe,
    const QList<PostoBanco> &prima, const QString &file, PostoBanco &posto, QString *errore)
{
    const auto no = [&](const QString &campo, const QString &testo) {
        return rifiuta(errore, messaggioPosto(file, numero, posto.nome, campo, testo));
    };
    if (!valore.isObject())
        return no({},
            QStringLiteral("serve un oggetto fra parentesi graffe, per esempio %1.")
                .arg(kEsempioPosto));
    const QJsonObject oggetto = valore.toObject();

    const QString comeNome = QStringLiteral("scrivere fra virgolette un nome da 1 a %1 caratteri, "
                                            "diverso per ogni posto, per esempio \"A\".")
                                 .arg(kMassimoNomePosto);
    const QJsonValue valoreNome = oggetto.value(QLatin1String("nome"));
    const QString nome = valoreNome.toString().trimmed();
    if (valoreNome.isUndefined())
        return no(
            QStringLiteral("nome"), QStringLiteral("manca il nome del posto: %1").arg(comeNome));
    if (!valoreNome.isString() || nome.isEmpty())
        return no(QStringLiteral("nome"), QStringLiteral("serve un testo: %1").arg(comeNome));
    if (const qsizetype lunghezza = nome.toUcs4().size(); lunghezza > kMassimoNomePosto)
        return no(QStringLiteral("nome"),
            QStringLiteral("%1 è lungo %2 caratteri: al massimo %3.")
                .arg(citaTesto(nome), QString::number(lunghezza),
                    QString::number(kMassimoNomePosto)));
    if (const QString motivo = TestiAmmessi::controlla(nome, QStringLiteral("il nome"));
        !motivo.isEmpty())
        return no(QStringLiteral("nome"), motivo);
    for (qsizetype n = 0; n < prima.size(); ++n) {
        if (prima[n].nome == nome)
            return no(QStringLiteral("nome"),
                QStringLiteral("«%1» è già il nome del posto %2: dare a ogni posto un nome "
                               "diverso.")
                    .arg(nome, QString::number(n + 1)));
    }
    posto.nome = nome;

    for (auto i = oggetto.begin(); i != oggetto.end(); ++i) {
        const QString chiave = i.key();
        if (chiave == u"nome")
            continue;
        if (chiave == u"porta") {
            const QString porta = i.value().isDouble() ? QString::number(i.value().toDouble())
                                                       : i.value().toString().trimmed();
            if (auto motivo = verificaPorta(porta);
                motivo || !(i.value().isString() || i.value().isDouble()))
                return no(chiave, motivo.value_or(QStringLiteral("serve un testo.")));
            posto.porta = porta;
        } else if (chiave == u"baud") {
            qint32 baud = 0;
            if (auto motivo = verificaBaud(i.value(), baud))
                return no(chiave, *motivo);
            posto.baud = baud;
        } else if (chiave == u"strumento") {
            posto.strumento = indirizzoStrumento(i.value());
            if (!posto.strumento)
                return no(chiave,
                    QStringLiteral("%1 non è un indirizzo di strumento: scrivere il numero intero, "
                                   "da 0 a 65535, a cui risponde l'unità di questo posto, per "
                                   "esempio 1.")
                        .arg(citaTesto(i.value().toVariant().toString())));
        } else if (chiave == u"strumenti") {
            if (!i.value().isObject())
                return no(chiave,
                    QStringLiteral("serve un oggetto che dia, per ogni strumento delle righe, "
                                   "quello di questo posto, per esempio %1.")
                        .arg(esempioStrumenti(strumentiRighe)));
            const QJsonObject mappa = i.value().toObject();
            static const QRegularExpression cifre(QStringLiteral("^(0|[1-9][0-9]{0,4})$"));
            for (auto m = mappa.begin(); m != mappa.end(); ++m) {
                const uint da = m.key().toUInt();
                if (!cifre.match(m.key()).hasMatch() || da > 65535)
                    return no(chiave,
                        QStringLiteral("%1 non è un indirizzo di strumento: le chiavi sono gli "
                                       "strumenti delle righe, fra virgolette, per esempio %2.")
                            .arg(citaTesto(m.key()), esempioStrumenti(strumentiRighe)));
                if (!std::binary_search(strumentiRighe.begin(), strumentiRighe.end(), da))
                    return no(chiave,
                        QStringLiteral("nessuna riga usa lo strumento %1 (le righe usano %2): "
                                       "correggerlo o toglierlo.")
                            .arg(QString::number(da),
                                strumentiRighe.isEmpty() ? QStringLiteral("nessuno strumento")
                                                         : elencoIndirizzi(strumentiRighe)));
                const std::optional<quint16> a = indirizzoStrumento(m.value());
                if (!a)
                    return no(chiave,
                        QStringLiteral("%1, per lo strumento %2, non è un indirizzo: scrivere "
                                       "un numero intero da 0 a 65535, per esempio 11.")
                            .arg(citaTesto(m.value().toVariant().toString()), QString::number(da)));
                posto.strumenti.insert(quint16(da), *a);
            }
        } else {
            return no(chiave,
                QStringLiteral("un posto non ha questo campo: scrivere soltanto «nome», «porta» "
                               "e, se servono, «baud», «strumento» o «strumenti»."));
        }
    }
    if (posto.porta.isEmpty())
        return no(QStringLiteral("porta"),
            QStringLiteral("manca la porta del posto: scrivere fra virgolette il numero della "
                           "porta, per esempio \"1\", o il percorso del dispositivo, per esempio "
                           "\"/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0\"."));
    if (posto.strumento && oggetto.contains(QLatin1String("strumenti")))
        return no(QStringLiteral("strumento"),
            QStringLiteral("un posto ha «strumento» o «strumenti», non entrambi: tenere "
                           "«strumento» se le righe usano un solo strumento, altrimenti "
                           "«strumenti»."));
    if (posto.strumento && strumentiRighe.size() > 1)
        return no(QStringLiteral("strumento"),
            QStringLiteral("le righe usano più strumenti (%1): scrivere invece l'indirizzo di "
                           "questo posto per ciascuno, per esempio %2.")
                .arg(elencoIndirizzi(strumentiRighe), esempioStrumenti(strumentiRighe)));
    return true;
}

// "posti", "avvio" and "interruttore", read after the rows, whose addresses they map.
bool leggiPosti(const QJsonObject &radice, const QString &file, DatiBanco &banco, QString *errore)
{
    const QJsonValue valore = radice.value(QLatin1String("posti"));
    if (!valore.isUndefined()) {
        const QString comeTogliere = QStringLiteral(
            "un banco di un solo posto sulla sua linea non ha bisogno di «posti».");
        if (!valore.isArray())
            return rifiuta(errore,
                messaggio(file, 0, QStringLiteral("posti"),
                    QStringLiteral("serve un elenco fra parentesi quadre, un posto per oggetto, "
                                   "per esempio [%1]; %2")
                        .arg(kEsempioPosto, comeTogliere)));
        const QJsonArray elenco = valore.toArray();
        if (elenco.isEmpty())
            return rifiuta(errore,
                messaggio(file, 0, QStringLiteral("posti"),
                    QStringLiteral("l'elenco è vuoto: scrivere almeno un posto, per esempio [%1], "
                                   "o togliere «posti»: %2")
                        .arg(kEsempioPosto, comeTogliere)));
        if (elenco.size() > kMassimoPosti)
            return rifiuta(errore,
                messaggio(file, 0, QStringLiteral("posti"),
                    QStringLiteral("%1 posti sono troppi: al massimo %2; dividere l'attrezzatura "
                                   "in più banchi.")
                        .arg(QString::number(elenco.size()), QString::number(kMassimoPosti))));

        QList<quint16> strumentiRighe;
        for (const RigaBanco &riga : banco.righe)
            strumentiRighe << riga.strumento;
        std::sort(strumentiRighe.begin(), strumentiRighe.end());
        strumentiRighe.erase(
            std::unique(strumentiRighe.begin(), strumentiRighe.end()), strumentiRighe.end());

        QList<PostoBanco> posti;
        QStringList linee;
        QList<QList<quint16>> indirizzi;
        for (qsizetype n = 0; n < elenco.size(); ++n) {
            PostoBanco posto;
            if (!leggiPosto(elenco.at(n), n + 1, strumentiRighe, posti, file, posto, errore))
                return false;
            linee << chiaveLinea(posto.porta);
            indirizzi << indirizziDelPosto(posto, strumentiRighe);
            for (qsizetype altro = 0; altro < posti.size(); ++altro) {
                if (linee[altro] != linee[n])
                    continue;
                QList<quint16> comuni;
                std::set_intersection(indirizzi[altro].begin(), indirizzi[altro].end(),
                    indirizzi[n].begin(), indirizzi[n].end(), std::back_inserter(comuni));
                if (!comuni.isEmpty())
                    return rifiuta(errore,
                        messaggioPosto(file, n + 1, posto.nome, QStringLiteral("porta"),
                            QStringLiteral("è sulla stessa linea del posto «%1» e la sua unità "
                                           "risponde allo stesso indirizzo %2: dare ai due posti "
                                           "indirizzi diversi con «strumento» o «strumenti», o "
                                           "porte diverse.")
                                .arg(posti[altro].nome, QString::number(comuni.front()))));
            }
            posti << posto;
        }
        banco.posti = posti;
    }

    const QJsonValue avvio = radice.value(QLatin1String("avvio"));
    if (avvio == QJsonValue(QStringLiteral("insieme"))) {
        banco.avvio = AvvioPosti::Insieme;
    } else if (!avvio.isUndefined() && avvio != QJsonValue(QStringLiteral("singolo"))) {
        return rifiuta(errore,
            messaggio(file, 0, QStringLiteral("avvio"),
                QStringLiteral("%1: scrivere \"singolo\" (ogni posto parte quando si legge il "
                               "numero di serie della sua unità) o \"insieme\" (i posti con "
                               "un'unità partono tutti insieme).")
                    .arg(avvio.isString() ? QStringLiteral("%1 non è un modo di avvio")
                                                .arg(citaTesto(avvio.toString()))
                                          : QStringLiteral("serve un testo"))));
    }

    const QJsonValue interruttore = radice.value(QLatin1String("interruttore"));
    if (interruttore.isUndefined())
        return true;
    const QString esempio = QStringLiteral(R"({ "posto": "A", "segnale": "DSR" })");
    if (!interruttore.isObject())
        return rifiuta(errore,
            messaggio(file, 0, QStringLiteral("interruttore"),
                QStringLiteral("serve un oggetto con il posto e il segnale della sua porta a cui "
                               "è collegato l'interruttore, per esempio %1.")
                    .arg(esempio)));
    if (banco.posti.isEmpty())
        return rifiuta(errore,
            messaggio(file, 0, QStringLiteral("interruttore"),
                QStringLiteral("il banco non ha posti: descriverli in «posti», per esempio "
                               "\"posti\": [%1], o togliere l'interruttore.")
                    .arg(kEsempioPosto)));
    QStringList nomi;
    for (const PostoBanco &posto : std::as_const(banco.posti))
        nomi << posto.nome;
    const QStringList segnali{
        QStringLiteral("CTS"), QStringLiteral("DSR"), QStringLiteral("DCD"), QStringLiteral("RI")};
    const QJsonObject campi = interruttore.toObject();
    InterruttoreBanco letto;
    for (auto i = campi.begin(); i != campi.end(); ++i) {
        const QString campo = QStringLiteral("interruttore.") + i.key();
        if (i.key() == u"posto" && nomi.contains(i.value().toString())) {
            letto.posto = i.value().toString();
        } else if (i.key() == u"posto") {
            return rifiuta(errore,
                messaggio(file, 0, campo,
                    QStringLiteral("%1 non è il nome di un posto: scrivere quello di uno dei "
                                   "posti (%2).")
                        .arg(citaTesto(i.value().toVariant().toString()),
                            nomi.join(QStringLiteral(", ")))));
        } else if (i.key() == u"segnale" && segnali.contains(i.value().toString())) {
            letto.segnale = i.value().toString();
        } else if (i.key() == u"segnale") {
            return rifiuta(errore,
                messaggio(file, 0, campo,
                    QStringLiteral("%1 non è un segnale: scrivere \"CTS\", \"DSR\", \"DCD\" o "
                                   "\"RI\", il segnale della porta del posto che l'interruttore "
                                   "cambia.")
                        .arg(citaTesto(i.value().toVariant().toString()))));
        } else {
            return rifiuta(errore,
                messaggio(file, 0, TestiAmmessi::mostrabile(campo),
                    QStringLiteral("l'interruttore non ha questo campo: scrivere soltanto "
                                   "«posto» e «segnale», per esempio %1.")
                        .arg(esempio)));
        }
    }
    if (letto.posto.isEmpty() || letto.segnale.isEmpty())
        return rifiuta(errore,
            messaggio(file, 0,
                letto.posto.isEmpty() ? QStringLiteral("interruttore.posto")
                                      : QStringLiteral("interruttore.segnale"),
                QStringLiteral("manca: l'interruttore ha il posto e il segnale della sua porta, "
                               "per esempio %1.")
                    .arg(esempio)));
    banco.interruttore = letto;
    return true;
}

} // namespace

bool leggiLinea(const QJsonObject &linea, const QString &file, DatiBanco &banco, QString *errore)
{
    for (auto i = linea.begin(); i != linea.end(); ++i) {
        if (i.key() == u"porta") {
            const QString porta = i.value().isDouble() ? QString::number(i.value().toDouble())
                                                       : i.value().toString().trimmed();
            if (auto motivo = verificaPorta(porta);
                motivo || !(i.value().isString() || i.value().isDouble()))
                return rifiuta(errore,
                    messaggio(file, 0, QStringLiteral("linea.porta"),
                        motivo.value_or(QStringLiteral("serve un testo."))));
            banco.porta = porta;
        } else if (i.key() == u"baud") {
            if (auto motivo = verificaBaud(i.value(), banco.baud))
                return rifiuta(errore, messaggio(file, 0, QStringLiteral("linea.baud"), *motivo));
        } else {
            banco.altreLinea.insert(i.key(), i.value());
        }
    }
    return true;
}

std::optional<DatiBanco> leggi(const QByteArray &dati, const QString &file, QString *errore)
{
    // Checked in place and parsed from the bytes themselves: a bench of 65,535 rows is 14 MiB,
    // and a copy of it as UTF-16 text took twice that again while it was read.
    if (!QUtf8StringView(dati).isValidUtf8()) {
        rifiuta(errore,
            messaggio(file, 0, {},
                QStringLiteral("il file non è testo UTF-8: salvarlo di nuovo in UTF-8 da Banco "
                               "Seriale o da un "
                               "editor di testo.")));
        return std::nullopt;
    }
    QJsonParseError analisi{};
    const QByteArray senzaMarca = dati.startsWith("\xEF\xBB\xBF") ? dati.sliced(3) : dati;
    const QJsonDocument documento = QJsonDocument::fromJson(senzaMarca, &analisi);
    if (analisi.error != QJsonParseError::NoError || !documento.isObject()) {
        rifiuta(errore,
            messaggio(file, 0, {},
                QStringLiteral("non è un file di banco (JSON non valido%1): aprire un file .banco "
                               "salvato da Banco Seriale.")
                    .arg(analisi.error != QJsonParseError::NoError
                            ? QStringLiteral(" al carattere %1: %2")
                                  .arg(analisi.offset)
                                  .arg(analisi.errorString())
                            : QString())));
        return std::nullopt;
    }
    const QJsonObject radice = documento.object();
    if (radice.value(QLatin1String("formato")).toString() != u"banco-seriale") {
        rifiuta(errore,
            messaggio(file, 0, QStringLiteral("formato"),
                QStringLiteral("non è un file di banco: il campo \"formato\" deve essere "
                               "\"banco-seriale\".")));
        return std::nullopt;
    }
    const QJsonValue versione = radice.value(QLatin1String("versione"));
    if (!versione.isDouble() || versione.toDouble() != std::floor(versione.toDouble())
        || versione.toDouble() < 1) {
        rifiuta(errore,
            messaggio(file, 0, QStringLiteral("versione"),
                QStringLiteral("serve un numero intero di versione, per esempio 1.")));
        return std::nullopt;
    }
    if (versione.toDouble() > kVersioneConPosti) {
        rifiuta(errore,
            messaggio(file, 0, QStringLiteral("versione"),
                QStringLiteral("il file è della versione %1, questo programma legge fino alla %2: "
                               "aggiornare Banco Seriale.")
                    .arg(versione.toDouble())
                    .arg(kVersioneConPosti)));
        return std::nullopt;
    }

    DatiBanco banco;
    for (auto i = radice.begin(); i != radice.end(); ++i) {
        const QString chiave = i.key();
        if (chiave == u"formato" || chiave == u"versione" || chiave == u"righe"
            || chiave == u"posti" || chiave == u"avvio" || chiave == u"interruttore")
            continue;
        if (chiave == u"linea") {
            if (!i.value().isObject()) {
                rifiuta(errore,
                    messaggio(file, 0, chiave,
                        QStringLiteral("serve un oggetto, per esempio { \"porta\": \"1\", "
                                       "\"baud\": 9600 }.")));
                return std::nullopt;
            }
            if (!leggiLinea(i.value().toObject(), file, banco, errore))
                return std::nullopt;
        } else if (chiave == u"modello_unita") {
            if (!leggiModelloUnita(i.value(), file, banco, errore))
                return std::nullopt;
        } else if (chiave == u"regole_5_8") {
            if (!i.value().isBool()) {
                rifiuta(errore,
                    messaggio(file, 0, chiave,
                        QStringLiteral("serve true (le carte di controllo della stazione usano "
                                       "anche le regole da 5 a 8) o false (solo da 1 a 4), "
                                       "senza virgolette.")));
                return std::nullopt;
            }
            banco.regole5A8 = i.value().toBool();
        } else {
            banco.altre.insert(chiave, i.value());
        }
    }

    const QJsonValue righe = radice.value(QLatin1String("righe"));
    if (!righe.isArray() && !righe.isUndefined()) {
        rifiuta(errore,
            messaggio(file, 0, QStringLiteral("righe"),
                QStringLiteral("serve un elenco fra parentesi quadre, una riga per oggetto.")));
        return std::nullopt;
    }
    const QJsonArray elenco = righe.toArray();
    if (elenco.size() > kMassimoRighe) {
        rifiuta(errore,
            messaggio(file, 0, QStringLiteral("righe"),
                QStringLiteral(
                    "%1 righe sono troppe: al massimo %2; dividere il banco in più file.")
                    .arg(elenco.size())
                    .arg(kMassimoRighe)));
        return std::nullopt;
    }
    banco.righe.resize(elenco.size());
    for (qsizetype n = 0; n < elenco.size(); ++n) {
        const QJsonValue riga = elenco.at(n);
        if (!riga.isObject()) {
            rifiuta(errore,
                messaggio(file, n + 1, {},
                    QStringLiteral(
                        "serve un oggetto fra parentesi graffe, per esempio { \"strumento\": 0, "
                        "\"memoria\": \"0008\" }.")));
            return std::nullopt;
        }
        if (auto rifiutato = CampiRiga::daJson(riga.toObject(), banco.righe[n])) {
            rifiuta(errore, messaggio(file, n + 1, rifiutato->first, rifiutato->second));
            return std::nullopt;
        }
    }
    if (!leggiPosti(radice, file, banco, errore))
        return std::nullopt;
    return banco;
}

std::optional<DatiBanco> carica(const QString &percorso, QString *errore)
{
    QFile file(percorso);
    // The size is checked before reading: a file far larger than any bench is not read whole.
    constexpr qint64 kMassimoByte = 256 << 20;
    if (!file.open(QIODevice::ReadOnly)) {
        rifiuta(errore,
            messaggio(percorso, 0, {},
                QStringLiteral("impossibile aprirlo (%1): controllare il nome e i permessi.")
                    .arg(file.errorString())));
        return std::nullopt;
    }
    if (file.size() > kMassimoByte) {
        rifiuta(errore,
            messaggio(percorso, 0, {},
                QStringLiteral("il file è troppo grande per un banco (più di 256 MiB).")));
        return std::nullopt;
    }
    return leggi(file.readAll(), percorso, errore);
}

QByteArray comeJson(const DatiBanco &banco)
{
    QJsonObject linea = banco.altreLinea;
    linea.insert(QLatin1String("porta"), banco.porta);
    linea.insert(QLatin1String("baud"), banco.baud);
    QJsonArray righe;
    for (const RigaBanco &riga : banco.righe)
        righe.append(CampiRiga::comeJson(riga));
    QJsonObject radice = banco.altre;
    radice.insert(QLatin1String("formato"), QLatin1String("banco-seriale"));
    const bool conPosti
        = !banco.posti.isEmpty() || banco.avvio != AvvioPosti::Singolo || banco.interruttore;
    radice.insert(QLatin1String("versione"), conPosti ? kVersioneConPosti : kVersione);
    if (!banco.posti.isEmpty()) {
        QJsonArray posti;
        for (const PostoBanco &posto : banco.posti) {
            QJsonObject oggetto = posto.altre;
            oggetto.insert(QLatin1String("nome"), posto.nome);
            oggetto.insert(QLatin1String("porta"), posto.porta);
            if (posto.baud)
                oggetto.insert(QLatin1String("baud"), *posto.baud);
            if (posto.strumento)
                oggetto.insert(QLatin1String("strumento"), int(*posto.strumento));
            if (!posto.strumenti.isEmpty()) {
                QJsonObject strumenti;
                for (auto i = posto.strumenti.begin(); i != posto.strumenti.end(); ++i)
                    strumenti.insert(QString::number(i.key()), int(i.value()));
                oggetto.insert(QLatin1String("strumenti"), strumenti);
            }
            posti.append(oggetto);
        }
        radice.insert(QLatin1String("posti"), posti);
    }
    if (banco.avvio == AvvioPosti::Insieme)
        radice.insert(QLatin1String("avvio"), QLatin1String("insieme"));
    if (banco.interruttore)
        radice.insert(QLatin1String("interruttore"),
            QJsonObject{{QLatin1String("posto"), banco.interruttore->posto},
                {QLatin1String("segnale"), banco.interruttore->segnale}});
    if (!banco.modelloUnita.isEmpty())
        radice.insert(QLatin1String("modello_unita"), banco.modelloUnita);
    if (banco.regole5A8)
        radice.insert(QLatin1String("regole_5_8"), true);
    radice.insert(QLatin1String("linea"), linea);
    radice.insert(QLatin1String("righe"), righe);
    return QJsonDocument(radice).toJson(QJsonDocument::Indented);
}

bool salva(const QString &percorso, const DatiBanco &banco, QString *errore)
{
    QSaveFile file(percorso);
    if (!file.open(QIODevice::WriteOnly) || file.write(comeJson(banco)) < 0 || !file.commit())
        return rifiuta(errore,
            messaggio(percorso, 0, {},
                QStringLiteral("impossibile salvarlo (%1): scegliere un'altra cartella o un "
                               "altro nome.")
                    .arg(file.errorString())));
    return true;
}

namespace {

// One record of a CSV file: RFC 4180 quoting, a line feed inside quotes kept, and the apostrophe
// an export puts before a text a spreadsheet would take for a formula taken off again.
QStringList campiCsv(const QString &testo, qsizetype &posizione, QChar separatore)
{
    QStringList campi;
    QString campo;
    bool virgolette = false;
    const auto chiudi = [&campi, &campo] {
        if (campo.size() > 1 && campo.front() == u'\''
            && QStringLiteral("=+-@\t\r").contains(campo.at(1)))
            campo.remove(0, 1);
        campi << campo;
        campo.clear();
    };
    for (; posizione < testo.size(); ++posizione) {
        const QChar c = testo.at(posizione);
        if (virgolette) {
            if (c == u'"' && posizione + 1 < testo.size() && testo.at(posizione + 1) == u'"') {
                campo += u'"';
                ++posizione;
            } else if (c == u'"') {
                virgolette = false;
            } else {
                campo += c;
            }
        } else if (c == u'"') {
            virgolette = true;
        } else if (c == separatore) {
            chiudi();
        } else if (c == u'\n' || c == u'\r') {
            if (c == u'\r' && posizione + 1 < testo.size() && testo.at(posizione + 1) == u'\n')
                ++posizione;
            ++posizione;
            break;
        } else {
            campo += c;
        }
    }
    chiudi();
    return campi;
}

} // namespace

std::optional<QList<RigaBanco>> importaCsv(
    const QByteArray &dati, const QString &file, QString *errore)
{
    const std::optional<QString> testo = testoUtf8(dati);
    if (!testo) {
        rifiuta(errore,
            messaggio(file, 0, {},
                QStringLiteral(
                    "il file non è testo UTF-8: esportarlo di nuovo scegliendo «CSV UTF-8».")));
        return std::nullopt;
    }
    const qsizetype fineIntestazione = testo->indexOf(u'\n');
    const QString primaRiga = testo->left(fineIntestazione < 0 ? testo->size() : fineIntestazione);
    const QChar separatore = primaRiga.count(u';') > primaRiga.count(u',') ? u';' : u',';
    qsizetype posizione = 0;
    QStringList intestazione = campiCsv(*testo, posizione, separatore);
    for (QString &chiave : intestazione)
        chiave = chiave.trimmed().toLower();
    if (!intestazione.contains(QLatin1String("strumento"))
        || !intestazione.contains(QLatin1String("memoria"))) {
        rifiuta(errore,
            messaggio(file, 1, {},
                QStringLiteral(
                    "la prima riga deve nominare le colonne, almeno «strumento» e «memoria», per "
                    "esempio: nome;strumento;memoria;tipo;decimali;unita;minimo;massimo;atteso")));
        return std::nullopt;
    }
    QList<RigaBanco> righe;
    QStringList rifiutate;
    qsizetype rifiutateInTutto = 0;
    for (qsizetype numero = 2; posizione < testo->size(); ++numero) {
        const QStringList celle = campiCsv(*testo, posizione, separatore);
        if (celle.size() == 1 && celle.front().trimmed().isEmpty())
            continue;
        if (righe.size() + rifiutateInTutto >= kMassimoRighe) {
            rifiuta(errore,
                messaggio(file, numero, {},
                    QStringLiteral("troppe righe: al massimo %1; dividere il file.")
                        .arg(kMassimoRighe)));
            return std::nullopt;
        }
        QJsonObject oggetto;
        for (qsizetype c = 0; c < intestazione.size() && c < celle.size(); ++c) {
            // The export's reading columns and any other column are not the row's.
            if (CampiRiga::chiavi().contains(intestazione[c]))
                oggetto.insert(intestazione[c], CampiRiga::daTesto(intestazione[c], celle[c]));
        }
        if (oggetto.value(QLatin1String("strumento")).isNull())
            oggetto.remove(QLatin1String("strumento"));
        if (oggetto.value(QLatin1String("memoria")).isNull())
            oggetto.remove(QLatin1String("memoria"));
        RigaBanco riga;
        if (auto rifiutato = CampiRiga::daJson(oggetto, riga, CampiRiga::Dove::Csv)) {
            if (++rifiutateInTutto <= 20)
                rifiutate << messaggio(file, numero, rifiutato->first, rifiutato->second);
            continue;
        }
        righe << riga;
    }
    if (rifiutateInTutto > 0) {
        if (rifiutateInTutto > rifiutate.size())
            rifiutate << QStringLiteral("… e altre %1 righe rifiutate.")
                             .arg(rifiutateInTutto - rifiutate.size());
        rifiuta(errore,
            QStringLiteral("Nessuna riga importata: correggere queste righe e "
                           "importare di nuovo.\n%1")
                .arg(rifiutate.join(u'\n')));
        return std::nullopt;
    }
    return righe;
}

QList<PostoBanco> postiEffettivi(const DatiBanco &banco)
{
    if (!banco.posti.isEmpty()) {
        QList<PostoBanco> posti = banco.posti;
        for (PostoBanco &posto : posti) {
            if (!posto.baud)
                posto.baud = banco.baud;
        }
        return posti;
    }
    PostoBanco unico;
    unico.porta = banco.porta;
    unico.baud = banco.baud;
    return {unico};
}

QString testoPorta(const QString &porta)
{
    if (!porta.contains(u'/') && !porta.contains(u'\\'))
        return porta;
    return QString::number(Porte::numeroPerDispositivo(porta));
}

namespace {

// A text of the canonical form: backslash, tab, line feed and carriage return escaped, so that
// a field never runs into the next or a row into the next.
QString testoCanonico(const QString &testo)
{
    QString risultato;
    risultato.reserve(testo.size());
    for (const QChar c : testo) {
        if (c == u'\\')
            risultato += QStringLiteral("\\\\");
        else if (c == u'\t')
            risultato += QStringLiteral("\\t");
        else if (c == u'\n')
            risultato += QStringLiteral("\\n");
        else if (c == u'\r')
            risultato += QStringLiteral("\\r");
        else
            risultato += c;
    }
    return risultato;
}

// The shortest decimal that reads back as the same double, without exponent, with a point:
// 20, 20.5, -0.125. -0 is 0. Empty where there is no limit.
QString numeroCanonico(const std::optional<double> &numero)
{
    if (!numero)
        return {};
    return QString::number(*numero == 0 ? 0.0 : *numero, 'f', QLocale::FloatingPointShortest);
}

} // namespace

QString righeCanoniche(const DatiBanco &banco)
{
    QString testo = QStringLiteral("banco-righe 1\n");
    for (const RigaBanco &riga : banco.righe) {
        const QStringList campi{QString::number(riga.strumento), riga.testoMemoria(),
            testoCanonico(riga.nome), CampiRiga::nomiTipi().at(int(riga.tipo)),
            QString::number(riga.decimali), testoCanonico(riga.unita), numeroCanonico(riga.minimo),
            numeroCanonico(riga.massimo), testoCanonico(riga.attesoMostrato())};
        testo += campi.join(u'\t') + u'\n';
    }
    return testo;
}

QString shaRighe(const DatiBanco &banco)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(righeCanoniche(banco).toUtf8(), QCryptographicHash::Sha256)
            .toHex());
}

bool serialeDelBanco(const DatiBanco &banco, const QString &unita)
{
    if (banco.modelloUnita.isEmpty())
        return true;
    const QRegularExpression modello(banco.modelloUnita);
    return modello.isValid() && modello.match(unita).hasMatch();
}

} // namespace FileBanco
