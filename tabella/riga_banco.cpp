#include "riga_banco.h"

#include "errore.h"
#include "numeri_italiani.h"
#include "testi_ammessi.h"

#include <QHash>
#include <QJsonArray>

#include <cmath>

namespace {

constexpr qint64 kScala[] = {1, 10, 100, 1000};

QString numero(double valore)
{
    return QString::number(valore, 'g', 15);
}

// The word as a whole number in the row's type: signed or not.
qint64 intero(const RigaBanco &riga, quint16 parola)
{
    return riga.tipo == RigaBanco::Tipo::ConSegno ? qint64(qint16(parola)) : qint64(parola);
}

// A whole number of the row's smallest steps from the text of a value as the row shows it, if
// the text is one: "25.3" with one decimal is 253. A comma stands for the point.
std::optional<qint64> passi(const RigaBanco &riga, QString testo)
{
    testo = testo.trimmed();
    bool ok = false;
    switch (riga.tipo) {
    case RigaBanco::Tipo::Esadecimale: {
        const uint v = testo.size() <= 4 ? testo.toUInt(&ok, 16) : 0;
        return ok ? std::optional<qint64>(v) : std::nullopt;
    }
    case RigaBanco::Tipo::Binario: {
        const uint v = testo.size() <= 16 ? testo.toUInt(&ok, 2) : 0;
        return ok ? std::optional<qint64>(v) : std::nullopt;
    }
    case RigaBanco::Tipo::SenzaSegno:
    case RigaBanco::Tipo::ConSegno:
        break;
    }
    testo.replace(u',', u'.');
    const double v
        = testo.isEmpty() || testo.contains(u'e', Qt::CaseInsensitive) ? 0.0 : testo.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    const double scalato = v * double(kScala[riga.decimali]);
    const double arrotondato = std::nearbyint(scalato);
    if (std::abs(scalato - arrotondato) > 1e-6 * std::max(1.0, std::abs(scalato)))
        return std::nullopt; // more decimals than the row shows
    const double minimo = riga.tipo == RigaBanco::Tipo::ConSegno ? -32768.0 : 0.0;
    const double massimo = riga.tipo == RigaBanco::Tipo::ConSegno ? 32767.0 : 65535.0;
    if (arrotondato < minimo || arrotondato > massimo)
        return std::nullopt;
    return qint64(arrotondato);
}

} // namespace

QString parolaEsadecimale(quint16 parola)
{
    return QStringLiteral("%1").arg(parola, 4, 16, QChar(u'0')).toUpper();
}

QString RigaBanco::nomeMostrato() const
{
    return nome.isEmpty() ? QStringLiteral("%1:%2").arg(strumento).arg(testoMemoria()) : nome;
}

QString RigaBanco::testoMemoria() const
{
    return parolaEsadecimale(memoria);
}

QString RigaBanco::valore(quint16 parola) const
{
    switch (tipo) {
    case Tipo::Esadecimale:
        return parolaEsadecimale(parola);
    case Tipo::Binario:
        return QStringLiteral("%1").arg(parola, 16, 2, QChar(u'0'));
    case Tipo::SenzaSegno:
    case Tipo::ConSegno:
        break;
    }
    // Built from the whole number, so that no rounding of a fraction changes a digit.
    const qint64 n = intero(*this, parola);
    const qint64 assoluto = n < 0 ? -n : n;
    const qint64 scala = kScala[decimali];
    QString testo = QString::number(assoluto / scala);
    if (decimali > 0)
        testo += u'.' + QStringLiteral("%1").arg(assoluto % scala, decimali, 10, QChar(u'0'));
    return n < 0 ? u'-' + testo : testo;
}

QString RigaBanco::valoreConUnita(quint16 parola) const
{
    return unita.isEmpty() ? valore(parola) : valore(parola) + u' ' + unita;
}

double RigaBanco::comeNumero(quint16 parola) const
{
    if (!numerica())
        return double(parola);
    return double(intero(*this, parola)) / double(kScala[decimali]);
}

RigaBanco::Giudizio RigaBanco::giudica(quint16 parola) const
{
    if (!atteso.isEmpty()) {
        const std::optional<qint64> atteso = passi(*this, this->atteso);
        if (!atteso || *atteso != intero(*this, parola))
            return Giudizio::FuoriDaiLimiti;
    }
    if (numerica()) {
        // In steps of the last decimal, so that 20.0 and a word of 200 with one decimal are equal.
        const double v = double(intero(*this, parola));
        const double scala = double(kScala[decimali]);
        if ((minimo && v < std::nearbyint(*minimo * scala * 1e6) / 1e6)
            || (massimo && v > std::nearbyint(*massimo * scala * 1e6) / 1e6))
            return Giudizio::FuoriDaiLimiti;
    }
    return Giudizio::EntroILimiti;
}

QString RigaBanco::attesoMostrato() const
{
    const std::optional<qint64> parola = atteso.isEmpty() ? std::nullopt : passi(*this, atteso);
    return parola ? valore(quint16(*parola)) : atteso;
}

QString RigaBanco::testoLimite(double limite) const
{
    const QString conDecimali = QString::number(limite, 'f', decimali);
    // A limit finer than the row's steps keeps its own digits: rounded, it would mislead.
    return conDecimali.toDouble() == limite ? conDecimali : numero(limite);
}

QString RigaBanco::limiti() const
{
    QStringList parti;
    if (minimo && massimo)
        parti << QStringLiteral("%1 … %2").arg(numero(*minimo), numero(*massimo));
    else if (minimo)
        parti << QStringLiteral("≥ %1").arg(numero(*minimo));
    else if (massimo)
        parti << QStringLiteral("≤ %1").arg(numero(*massimo));
    if (!atteso.isEmpty())
        parti << QStringLiteral("= %1").arg(atteso);
    return parti.join(QStringLiteral("; "));
}

namespace CampiRiga {
namespace {

// An example of a text to write, as the place takes it: a string in quotes in the file's JSON,
// the bare text in a cell or in a CSV field.
QString esempioTesto(Dove dove, const QString &testo)
{
    return dove == Dove::File ? u'"' + testo + u'"' : testo;
}

// An example of a number: with a decimal point in the file, with a decimal comma where a person
// types it (a cell, a spreadsheet's CSV), though a point is taken there too.
QString esempioNumero(Dove dove, const QString &macchina)
{
    return dove == Dove::File ? macchina : QString(macchina).replace(u'.', u',');
}

// A field as the place names it: the key in the file and in a CSV header, the column's title in
// the table.
QString nomeCampo(Dove dove, const QString &chiave)
{
    static const QHash<QString, QString> kTitoli{{"nome", "Nome"}, {"strumento", "Strumento"},
        {"memoria", "Memoria"}, {"tipo", "Tipo"}, {"decimali", "Decimali"}, {"unita", "Unità"},
        {"minimo", "Minimo"}, {"massimo", "Massimo"}, {"atteso", "Atteso"}};
    switch (dove) {
    case Dove::File:
        return u'"' + chiave + u'"';
    case Dove::Cella:
        return QStringLiteral("la colonna «%1»").arg(kTitoli.value(chiave, chiave));
    case Dove::Csv:
        break;
    }
    return QStringLiteral("la colonna «%1»").arg(chiave);
}

QString nomiDeiTipi(Dove dove)
{
    QStringList nomi;
    for (const QString &nome : nomiTipi())
        nomi << esempioTesto(dove, nome);
    return QStringLiteral("%1 o %2").arg(
        nomi.mid(0, nomi.size() - 1).join(QStringLiteral(", ")), nomi.last());
}

std::optional<QString> interoDa(
    const QJsonValue &valore, double minimo, double massimo, const QString &esempio, int &risultato)
{
    const double v = valore.toDouble(-1e300);
    if (!valore.isDouble() || v != std::floor(v) || v < minimo || v > massimo) {
        return QStringLiteral("%1 non va bene: scrivere un numero intero da %2 a %3, per esempio "
                              "%4.")
            .arg(citaTesto(valore.toVariant().toString()))
            .arg(minimo)
            .arg(massimo)
            .arg(esempio);
    }
    risultato = int(v);
    return std::nullopt;
}

QString comeTesto(const QJsonValue &valore)
{
    if (valore.isDouble())
        return numero(valore.toDouble());
    return valore.toVariant().toString();
}

} // namespace

const QStringList &chiavi()
{
    static const QStringList k{
        "nome", "strumento", "memoria", "tipo", "decimali", "unita", "minimo", "massimo", "atteso"};
    return k;
}

const QStringList &nomiTipi()
{
    static const QStringList t{"senza segno", "con segno", "esadecimale", "binario"};
    return t;
}

std::optional<QString> imposta(
    RigaBanco &riga, const QString &chiave, const QJsonValue &valore, Dove dove)
{
    const bool nullo = valore.isNull() || valore.isUndefined();
    if (chiave == u"nome" || chiave == u"unita" || chiave == u"atteso") {
        QString testo;
        if (!nullo && !valore.isString() && !(chiave == u"atteso" && valore.isDouble()))
            return QStringLiteral("serve un testo fra virgolette.");
        testo = nullo ? QString() : comeTesto(valore);
        if (chiave == u"nome") {
            // A name is recorded with every reading: spaces around it go, and a line feed or
            // another control character anywhere refuses it.
            while (testo.startsWith(u' '))
                testo.remove(0, 1);
            while (testo.endsWith(u' '))
                testo.chop(1);
            const QString motivo = TestiAmmessi::controlla(testo, QStringLiteral("il nome"));
            if (!motivo.isEmpty())
                return motivo;
        }
        testo = testo.trimmed();
        if (testo.size() > 200)
            return QStringLiteral("il testo è troppo lungo: al massimo 200 caratteri.");
        (chiave == u"nome" ? riga.nome : chiave == u"unita" ? riga.unita : riga.atteso) = testo;
        return std::nullopt;
    }
    if (chiave == u"strumento") {
        int n = 0;
        if (nullo)
            return QStringLiteral("l'indirizzo dello strumento è obbligatorio: scrivere un "
                                  "numero intero da 0 a 65535.");
        if (auto errore = interoDa(valore, 0, 65535, QStringLiteral("3"), n))
            return errore;
        riga.strumento = quint16(n);
        return std::nullopt;
    }
    if (chiave == u"memoria") {
        const QString testo = valore.isString() ? valore.toString().trimmed() : QString();
        bool ok = !testo.isEmpty() && testo.size() <= 4;
        for (const QChar c : testo)
            ok = ok && QStringLiteral("0123456789abcdefABCDEF").contains(c);
        if (!ok) {
            return QStringLiteral("%1 non è un indirizzo di memoria: scrivere %2da 1 a 4 cifre "
                                  "esadecimali, per esempio %3.")
                .arg(nullo ? QStringLiteral("un valore mancante") : citaTesto(comeTesto(valore)),
                    dove == Dove::File ? QStringLiteral("fra virgolette ") : QString(),
                    esempioTesto(dove, QStringLiteral("0008")));
        }
        riga.memoria = quint16(testo.toUInt(nullptr, 16));
        return std::nullopt;
    }
    if (chiave == u"tipo") {
        const qsizetype i = nullo ? 0 : nomiTipi().indexOf(valore.toString().trimmed().toLower());
        if (i < 0 || (!nullo && !valore.isString())) {
            return QStringLiteral("%1 non è un tipo: scrivere %2.")
                .arg(citaTesto(comeTesto(valore)), nomiDeiTipi(dove));
        }
        riga.tipo = RigaBanco::Tipo(i);
        return std::nullopt;
    }
    if (chiave == u"decimali") {
        int n = 0;
        if (!nullo) {
            if (auto errore = interoDa(valore, 0, 3, QStringLiteral("1"), n))
                return errore;
        }
        riga.decimali = quint8(n);
        return std::nullopt;
    }
    if (chiave == u"minimo" || chiave == u"massimo") {
        std::optional<double> limite;
        if (!nullo) {
            if (!valore.isDouble() || !std::isfinite(valore.toDouble()))
                return QStringLiteral("%1 non è un numero: scrivere un numero%2, per esempio %3.")
                    .arg(citaTesto(comeTesto(valore)),
                        dove == Dove::File
                            ? QStringLiteral(" senza virgolette, con il punto per i decimali")
                            : QString(),
                        esempioNumero(dove, QStringLiteral("20.5")));
            limite = valore.toDouble();
        }
        (chiave == u"minimo" ? riga.minimo : riga.massimo) = limite;
        return std::nullopt;
    }
    if (nullo)
        riga.altre.remove(chiave);
    else
        riga.altre.insert(chiave, valore);
    return std::nullopt;
}

QJsonValue daTesto(const QString &chiave, const QString &testo)
{
    const QString pulito = testo.trimmed();
    if (pulito.isEmpty())
        return QJsonValue(QJsonValue::Null);
    const std::optional<double> numero = NumeriItaliani::leggi(pulito);
    if (chiave == u"strumento" || chiave == u"decimali" || chiave == u"minimo"
        || chiave == u"massimo")
        return numero ? QJsonValue(*numero) : QJsonValue(pulito);
    if (chiave == u"atteso" && numero)
        return QString(pulito).replace(u',', u'.');
    return pulito;
}

QJsonValue valore(const RigaBanco &riga, const QString &chiave)
{
    if (chiave == u"nome")
        return riga.nome.isEmpty() ? QJsonValue(QJsonValue::Undefined) : QJsonValue(riga.nome);
    if (chiave == u"strumento")
        return double(riga.strumento);
    if (chiave == u"memoria")
        return riga.testoMemoria();
    if (chiave == u"tipo")
        return riga.tipo == RigaBanco::Tipo::SenzaSegno ? QJsonValue(QJsonValue::Undefined)
                                                        : QJsonValue(nomiTipi().at(int(riga.tipo)));
    if (chiave == u"decimali")
        return riga.decimali ? QJsonValue(riga.decimali) : QJsonValue(QJsonValue::Undefined);
    if (chiave == u"unita")
        return riga.unita.isEmpty() ? QJsonValue(QJsonValue::Undefined) : QJsonValue(riga.unita);
    if (chiave == u"minimo")
        return riga.minimo ? QJsonValue(*riga.minimo) : QJsonValue(QJsonValue::Undefined);
    if (chiave == u"massimo")
        return riga.massimo ? QJsonValue(*riga.massimo) : QJsonValue(QJsonValue::Undefined);
    if (chiave == u"atteso")
        return riga.atteso.isEmpty() ? QJsonValue(QJsonValue::Undefined) : QJsonValue(riga.atteso);
    return riga.altre.value(chiave);
}

std::optional<std::pair<QString, QString>> verifica(const RigaBanco &riga, Dove dove)
{
    if (!riga.numerica()) {
        if (riga.decimali)
            return std::pair{QStringLiteral("decimali"),
                QStringLiteral("i decimali valgono solo per i tipi %1 e %2: toglierli o "
                               "cambiare il tipo.")
                    .arg(esempioTesto(dove, nomiTipi().at(0)),
                        esempioTesto(dove, nomiTipi().at(1)))};
        if (riga.minimo || riga.massimo)
            return std::pair{QString::fromLatin1(riga.minimo ? "minimo" : "massimo"),
                QStringLiteral("i limiti valgono solo per i tipi numerici: per un codice "
                               "usare %1.")
                    .arg(nomeCampo(dove, QStringLiteral("atteso")))};
    }
    if (riga.minimo && riga.massimo && *riga.minimo > *riga.massimo)
        return std::pair{QStringLiteral("massimo"),
            QStringLiteral("il massimo %1 è minore del minimo %2: scambiarli.")
                .arg(esempioNumero(dove, numero(*riga.massimo)),
                    esempioNumero(dove, numero(*riga.minimo)))};
    if (!riga.atteso.isEmpty() && !passi(riga, riga.atteso)) {
        // A value this very row shows, so that the example can be written as it stands.
        const quint16 parola = riga.tipo == RigaBanco::Tipo::ConSegno ? 0xFFF4
            : riga.numerica()                                         ? 1000
                                                                      : 0x270F;
        const QString esempio
            = riga.numerica() ? esempioNumero(dove, riga.valore(parola)) : riga.valore(parola);
        return std::pair{QStringLiteral("atteso"),
            QStringLiteral("%1 non è un valore che questa riga può mostrare (tipo %2, %3 "
                           "decimali): scrivere il valore come la tabella lo mostra, per "
                           "esempio %4.")
                .arg(citaTesto(riga.atteso), nomiTipi().at(int(riga.tipo)))
                .arg(riga.decimali)
                .arg(dove == Dove::File ? esempioTesto(dove, esempio) : esempio)};
    }
    return std::nullopt;
}

QJsonObject comeJson(const RigaBanco &riga)
{
    QJsonObject oggetto = riga.altre;
    for (const QString &chiave : chiavi()) {
        const QJsonValue v = valore(riga, chiave);
        if (!v.isUndefined())
            oggetto.insert(chiave, v);
    }
    return oggetto;
}

std::optional<std::pair<QString, QString>> daJson(
    const QJsonObject &oggetto, RigaBanco &riga, Dove dove)
{
    riga = RigaBanco();
    for (const char *obbligatoria : {"strumento", "memoria"}) {
        if (!oggetto.contains(QLatin1String(obbligatoria)))
            return std::pair{QString::fromLatin1(obbligatoria),
                QStringLiteral("manca: ogni riga ha %1%2 (da 0 a 65535) e %3%4 (da 1 a 4 cifre "
                               "esadecimali).")
                    .arg(dove == Dove::File ? QString() : QStringLiteral("un valore in "),
                        nomeCampo(dove, QStringLiteral("strumento")),
                        dove == Dove::File ? QString() : QStringLiteral("in "),
                        nomeCampo(dove, QStringLiteral("memoria")))};
    }
    for (auto i = oggetto.begin(); i != oggetto.end(); ++i) {
        if (i.value().isNull() && chiavi().contains(i.key()))
            continue;
        if (auto errore = imposta(riga, i.key(), i.value(), dove))
            return std::pair{i.key(), *errore};
    }
    return verifica(riga, dove);
}

} // namespace CampiRiga
