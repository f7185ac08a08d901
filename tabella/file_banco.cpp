#include "file_banco.h"

#include "conversioni.h"
#include "errore.h"
#include "impostazioni_linea.h"
#include "porte.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>

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
            const double baud = i.value().toDouble(-1);
            if (!i.value().isDouble() || baud != std::floor(baud)
                || baud < ImpostazioniLinea::kBaudMinimo || baud > ImpostazioniLinea::kBaudMassimo)
                return rifiuta(errore,
                    messaggio(file, 0, QStringLiteral("linea.baud"),
                        QStringLiteral("%1 non è una velocità: scrivere un numero intero da %2 a "
                                       "%3, per esempio 9600.")
                            .arg(citaTesto(i.value().toVariant().toString()))
                            .arg(ImpostazioniLinea::kBaudMinimo)
                            .arg(ImpostazioniLinea::kBaudMassimo)));
            banco.baud = qint32(baud);
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
    if (versione.toDouble() > kVersione) {
        rifiuta(errore,
            messaggio(file, 0, QStringLiteral("versione"),
                QStringLiteral("il file è della versione %1, questo programma legge fino alla %2: "
                               "aggiornare Banco Seriale.")
                    .arg(versione.toDouble())
                    .arg(kVersione)));
        return std::nullopt;
    }

    DatiBanco banco;
    for (auto i = radice.begin(); i != radice.end(); ++i) {
        const QString chiave = i.key();
        if (chiave == u"formato" || chiave == u"versione" || chiave == u"righe")
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
    radice.insert(QLatin1String("versione"), kVersione);
    if (!banco.modelloUnita.isEmpty())
        radice.insert(QLatin1String("modello_unita"), banco.modelloUnita);
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
    if (!banco.posti.isEmpty())
        return banco.posti;
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
