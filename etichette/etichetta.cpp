#include "etichetta.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QRegularExpression>
#include <QStringDecoder>

namespace {

// Nobody draws a label with a megabyte of ZPL; a bigger file is the wrong file.
constexpr qint64 kModelloMassimo = 1024 * 1024;

const QString kEsempio
    = QStringLiteral("per esempio \"etichetta\": {\"modello\": \"etichetta.zpl\", \"stampante\": "
                     "\"192.168.1.50:9100\"}");

bool rifiuta(QString *errore, const QString &motivo)
{
    if (errore)
        *errore = motivo;
    return false;
}

const QRegularExpression &espressioneCampo()
{
    static const QRegularExpression campo(QStringLiteral("\\{([a-z_]+)\\}"));
    return campo;
}

// One ZPL command: every ^ and ~ starts one, and its parameters (or a field's data) run to the
// next. The name is the two letters after the prefix, in upper case, as the printer takes them.
struct Comando
{
    qsizetype inizio = 0;
    qsizetype fineNome = 0;
    qsizetype fine = 0;
    QChar prefisso;
    QString nome;
};

QList<Comando> comandi(const QString &modello)
{
    QList<Comando> trovati;
    for (qsizetype i = 0; i < modello.size(); ++i) {
        if (modello.at(i) != u'^' && modello.at(i) != u'~')
            continue;
        if (!trovati.isEmpty())
            trovati.last().fine = i;
        Comando c;
        c.inizio = i;
        c.prefisso = modello.at(i);
        qsizetype j = i + 1;
        while (j < modello.size() && j < i + 3 && modello.at(j) != u'^' && modello.at(j) != u'~')
            ++j;
        c.fineNome = j;
        c.nome = modello.mid(i + 1, j - i - 1).toUpper();
        trovati << c;
    }
    if (!trovati.isEmpty())
        trovati.last().fine = modello.size();
    return trovati;
}

bool e(const Comando &c, const char *nome)
{
    return c.prefisso == u'^' && c.nome == QLatin1String(nome);
}

QString corpo(const QString &modello, const Comando &c)
{
    return modello.mid(c.fineNome, c.fine - c.fineNome);
}

// The number of a ^CI: the digits its parameters start with.
QString insieme(const QString &modello, const Comando &c)
{
    const QString parametri = corpo(modello, c);
    qsizetype n = 0;
    while (n < parametri.size() && parametri.at(n).isDigit())
        ++n;
    return parametri.left(n);
}

// The indicator a ^FH sets: its parameter, or the underscore when it has none.
char indicatore(const QString &modello, const Comando &c)
{
    const QString parametri = corpo(modello, c);
    if (parametri.isEmpty() || parametri.at(0).isSpace() || parametri.at(0).unicode() >= 0x80)
        return '_';
    return char(parametri.at(0).unicode());
}

char cifra(int n)
{
    return "0123456789ABCDEF"[n & 0xF];
}

// A piece of the template with its fields filled. Under a ^FH the template did not have, its
// own indicators are escaped as well, so that its text reads as it did without one.
QByteArray sostituisci(const QString &testo, const QHash<QString, QString> &valori,
    char indicatoreCampo, bool proteggiTesto)
{
    const auto letterale = [&](QStringView parte) {
        QByteArray byte = parte.toUtf8();
        if (proteggiTesto) {
            const char escape[]
                = {indicatoreCampo, cifra(indicatoreCampo >> 4), cifra(indicatoreCampo)};
            byte.replace(indicatoreCampo, QByteArrayView(escape, 3));
        }
        return byte;
    };
    QByteArray risultato;
    qsizetype da = 0;
    auto campi = espressioneCampo().globalMatch(testo);
    while (campi.hasNext()) {
        const QRegularExpressionMatch campo = campi.next();
        if (!Etichette::campi().contains(campo.captured(1)))
            continue;
        risultato += letterale(QStringView(testo).mid(da, campo.capturedStart() - da));
        risultato += Etichette::proteggi(valori.value(campo.captured(1)), indicatoreCampo);
        da = campo.capturedEnd();
    }
    risultato += letterale(QStringView(testo).mid(da));
    return risultato;
}

bool haCampi(const QString &testo)
{
    auto campi = espressioneCampo().globalMatch(testo);
    while (campi.hasNext()) {
        if (Etichette::campi().contains(campi.next().captured(1)))
            return true;
    }
    return false;
}

// Where the last ^XZ ends: what follows is not sent. -1 without one.
qsizetype fineUltimaEtichetta(const QList<Comando> &trovati)
{
    for (qsizetype i = trovati.size() - 1; i >= 0; --i) {
        if (e(trovati.at(i), "XZ"))
            return trovati.at(i).fineNome;
    }
    return -1;
}

} // namespace

namespace Etichette {

const QStringList &campi()
{
    static const QStringList nomi{QStringLiteral("unita"), QStringLiteral("esito"),
        QStringLiteral("data"), QStringLiteral("ora"), QStringLiteral("banco"),
        QStringLiteral("stazione"), QStringLiteral("operatore"), QStringLiteral("posto"),
        QStringLiteral("tentativo"), QStringLiteral("prova")};
    return nomi;
}

bool modelloValido(const QString &modello, const QString &nome, QString *errore)
{
    const QList<Comando> trovati = comandi(modello);
    bool aperta = false;
    bool almenoUna = false;
    for (const Comando &c : trovati) {
        if (e(c, "XA")) {
            if (aperta) {
                return rifiuta(errore,
                    QStringLiteral(
                        "il modello di etichetta «%1» apre un'etichetta con ^XA prima di "
                        "aver chiuso la precedente: chiuderla con ^XZ")
                        .arg(nome));
            }
            aperta = true;
        } else if (e(c, "XZ")) {
            if (!aperta) {
                return rifiuta(errore,
                    QStringLiteral("il modello di etichetta «%1» ha un ^XZ senza il suo ^XA: ogni "
                                   "etichetta comincia con ^XA e finisce con ^XZ")
                        .arg(nome));
            }
            aperta = false;
            almenoUna = true;
        } else if (e(c, "CI") && insieme(modello, c) != QLatin1String("28")) {
            return rifiuta(errore,
                QStringLiteral("il modello di etichetta «%1» sceglie i caratteri con ^CI%2, ma i "
                               "valori delle etichette sono scritti in UTF-8: togliere ^CI%2 o "
                               "scrivere ^CI28")
                    .arg(nome, insieme(modello, c)));
        }
    }
    if (!almenoUna || aperta) {
        return rifiuta(errore,
            QStringLiteral("il modello di etichetta «%1» non è un'etichetta ZPL completa: deve "
                           "cominciare con ^XA e finire con ^XZ")
                .arg(nome));
    }
    const QString dopo = modello.mid(fineUltimaEtichetta(trovati)).trimmed();
    if (!dopo.isEmpty()) {
        return rifiuta(errore,
            QStringLiteral("il modello di etichetta «%1» continua dopo l'ultimo ^XZ («%2»): "
                           "toglierlo, o metterlo dentro l'etichetta prima di ^XZ")
                .arg(nome, dopo.left(40)));
    }

    auto usati = espressioneCampo().globalMatch(modello);
    while (usati.hasNext()) {
        const QRegularExpressionMatch usato = usati.next();
        if (!campi().contains(usato.captured(1))) {
            QStringList elenco;
            for (const QString &campo : campi())
                elenco << u'{' + campo + u'}';
            return rifiuta(errore,
                QStringLiteral("il modello di etichetta «%1» usa il campo {%2}, che non esiste: i "
                               "campi sono %3. Correggere il modello.")
                    .arg(nome, usato.captured(1), elenco.join(QStringLiteral(", "))));
        }
        // The escapes that keep a value harmless are read in field data only: anywhere else a
        // value would come out as its escapes, or be taken as a command's parameters.
        const Comando *dentro = nullptr;
        for (const Comando &c : trovati) {
            if (c.inizio < usato.capturedStart())
                dentro = &c;
        }
        const bool neiDati = dentro && dentro->fineNome <= usato.capturedStart()
            && (e(*dentro, "FD") || e(*dentro, "FV") || e(*dentro, "FX"));
        if (!neiDati) {
            return rifiuta(errore,
                QStringLiteral("il modello di etichetta «%1» mette il campo {%2} fuori dai dati "
                               "di un campo: i campi vanno tra ^FD e ^FS, per esempio "
                               "^FO50,50^A0N,40,40^FD{unita}^FS")
                    .arg(nome, usato.captured(1)));
        }
    }
    return true;
}

QByteArray proteggi(const QString &valore, char indicatore)
{
    QByteArray risultato;
    const QByteArray byte = valore.toUtf8();
    risultato.reserve(byte.size());
    for (const char c : byte) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F || c == '^' || c == '~' || c == '_' || c == indicatore) {
            risultato += indicatore;
            risultato += cifra(b >> 4);
            risultato += cifra(b);
        } else {
            risultato += c;
        }
    }
    return risultato;
}

QByteArray compila(const QString &modello, const QHash<QString, QString> &valori)
{
    const QList<Comando> trovati = comandi(modello);
    const qsizetype fine = fineUltimaEtichetta(trovati);
    QByteArray zpl
        = sostituisci(modello.left(trovati.isEmpty() ? modello.size() : trovati.first().inizio),
            valori, '_', false);
    // The indicator of the current field's ^FH; 0 while it has none.
    char indicatoreCampo = 0;
    for (qsizetype i = 0; i < trovati.size(); ++i) {
        const Comando &c = trovati.at(i);
        if (fine >= 0 && c.inizio >= fine)
            break;
        const QString testa = modello.mid(c.inizio, c.fineNome - c.inizio);
        const QString dati
            = modello.mid(c.fineNome, (fine >= 0 && c.fine > fine ? fine : c.fine) - c.fineNome);
        if (e(c, "XA")) {
            bool utf8 = false;
            for (qsizetype j = i + 1; j < trovati.size() && !e(trovati.at(j), "XZ"); ++j)
                utf8 = utf8 || (e(trovati.at(j), "CI") && insieme(modello, trovati.at(j)) == u"28");
            zpl += testa.toUtf8();
            if (!utf8)
                zpl += "^CI28";
            zpl += sostituisci(dati, valori, '_', false);
            indicatoreCampo = 0;
            continue;
        }
        if (e(c, "FS") || e(c, "XZ"))
            indicatoreCampo = 0;
        else if (e(c, "FH"))
            indicatoreCampo = indicatore(modello, c);
        if ((e(c, "FD") || e(c, "FV")) && haCampi(dati)) {
            if (!indicatoreCampo)
                zpl += "^FH";
            zpl += testa.toUtf8();
            zpl += sostituisci(
                dati, valori, indicatoreCampo ? indicatoreCampo : '_', !indicatoreCampo);
            continue;
        }
        zpl += testa.toUtf8();
        zpl += sostituisci(dati, valori, '_', false);
    }
    return zpl;
}

QHash<QString, QString> valoriEtichetta(const QString &unita, const QString &esito,
    const QDateTime &quando, const QString &banco, const QString &stazione,
    const QString &operatore, const QString &posto, int tentativo, const QString &prova)
{
    const QDateTime locale = quando.toLocalTime();
    return {
        {QStringLiteral("unita"), unita},
        {QStringLiteral("esito"), esito},
        {QStringLiteral("data"), locale.toString(QStringLiteral("dd/MM/yyyy"))},
        {QStringLiteral("ora"), locale.toString(QStringLiteral("HH:mm"))},
        {QStringLiteral("banco"), banco},
        {QStringLiteral("stazione"), stazione},
        {QStringLiteral("operatore"), operatore},
        {QStringLiteral("posto"), posto},
        {QStringLiteral("tentativo"), QString::number(tentativo)},
        {QStringLiteral("prova"), prova},
    };
}

} // namespace Etichette

std::optional<ConfigurazioneEtichetta> ConfigurazioneEtichetta::leggi(
    const QJsonValue &valore, const QString &cartellaBanco, QString *errore)
{
    if (errore)
        errore->clear();
    if (valore.isUndefined() || valore.isNull())
        return std::nullopt;
    const auto no = [errore](const QString &motivo) {
        rifiuta(errore, motivo);
        return std::nullopt;
    };
    if (!valore.isObject()) {
        return no(QStringLiteral("la chiave «etichetta» del banco dev'essere un oggetto con "
                                 "«modello» e «stampante», %1")
                      .arg(kEsempio));
    }
    const QJsonObject oggetto = valore.toObject();
    // A key this version does not know (a number of copies, say) would be silently left out.
    for (auto i = oggetto.constBegin(); i != oggetto.constEnd(); ++i) {
        if (i.key() != QLatin1String("modello") && i.key() != QLatin1String("stampante")) {
            return no(QStringLiteral("la chiave «etichetta» del banco ha «%1», che questa "
                                     "versione non conosce: le sue chiavi sono «modello» e "
                                     "«stampante», %2")
                          .arg(i.key(), kEsempio));
        }
    }
    const QString modello = oggetto.value(QLatin1String("modello")).toString();
    if (modello.trimmed().isEmpty()) {
        return no(QStringLiteral("nella chiave «etichetta» del banco manca «modello», il testo "
                                 "con il nome del file ZPL del modello (relativo alla cartella "
                                 "del banco, o assoluto), %1")
                      .arg(kEsempio));
    }
    const QJsonValue stampante = oggetto.value(QLatin1String("stampante"));
    if (!stampante.isString()) {
        return no(QStringLiteral("nella chiave «etichetta» del banco manca «stampante», il testo "
                                 "host:porta di una stampante di rete o il percorso assoluto di "
                                 "un file o di un dispositivo, %1")
                      .arg(kEsempio));
    }

    ConfigurazioneEtichetta configurazione;
    QString motivo;
    const auto indirizzo = IndirizzoStampante::leggi(stampante.toString(), &motivo);
    if (!indirizzo)
        return no(motivo);
    configurazione.stampante = *indirizzo;

    configurazione.fileModello = QDir::cleanPath(QDir(cartellaBanco).absoluteFilePath(modello));
    QFile file(configurazione.fileModello);
    if (!file.open(QIODevice::ReadOnly)) {
        return no(QStringLiteral("il modello di etichetta «%1» non si legge (%2: %3): scrivere in "
                                 "«modello» il nome di un file ZPL, relativo alla cartella del "
                                 "banco o assoluto")
                      .arg(modello, QDir::toNativeSeparators(configurazione.fileModello),
                          file.errorString()));
    }
    const QByteArray byte = file.read(kModelloMassimo + 1);
    if (byte.size() > kModelloMassimo) {
        return no(QStringLiteral("il modello di etichetta «%1» è più grande di 1 MiB: non è un "
                                 "modello ZPL, controllare il nome in «modello»")
                      .arg(modello));
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    configurazione.modello = utf8.decode(byte);
    if (utf8.hasError()) {
        return no(QStringLiteral("il modello di etichetta «%1» non è testo UTF-8: salvarlo in "
                                 "UTF-8")
                      .arg(modello));
    }
    if (!Etichette::modelloValido(configurazione.modello, modello, &motivo))
        return no(motivo);
    return configurazione;
}
