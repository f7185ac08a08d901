#include "conversioni.h"

#include "errore.h"

#include <algorithm>
#include <cmath>

namespace Conversioni {
namespace {

bool soloCifre(QStringView testo, int base)
{
    if (testo.isEmpty())
        return false;
    for (QChar c : testo) {
        const bool decimale = c >= u'0' && c <= u'9';
        const bool esadecimale = (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
        if (!decimale && !(base == 16 && esadecimale))
            return false;
    }
    return true;
}

// Digits with at most one decimal point and at least one digit, after an optional sign: what
// toDouble would also take in other notations ("1e3", "0x10", "inf") is not a port number.
bool numeroDecimale(QStringView testo)
{
    if (!testo.isEmpty() && (testo.front() == u'+' || testo.front() == u'-'))
        testo = testo.mid(1);
    const qsizetype punto = testo.indexOf(u'.');
    const QStringView intera = punto < 0 ? testo : testo.left(punto);
    const QStringView frazione = punto < 0 ? QStringView() : testo.mid(punto + 1);
    const auto cifre = [](QStringView parte) {
        return std::all_of(
            parte.begin(), parte.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    };
    return cifre(intera) && cifre(frazione) && intera.size() + frazione.size() > 0;
}

} // namespace

qint16 numeroPorta(const QString &testo)
{
    const QString pulito = testo.trimmed();
    bool ok = numeroDecimale(pulito);
    const double valore = ok ? std::nearbyint(pulito.toDouble(&ok)) : 0.0;
    if (!ok || !(valore >= -32768.0 && valore <= 32767.0)) {
        throw Errore(CodiceErrore::PortaNonValida,
            QStringLiteral("Porta: %1 non è un numero di porta valido. Scegliere un "
                           "numero dall'elenco, da 1 a 8.")
                .arg(citaTesto(testo)));
    }
    return qint16(valore);
}

quint16 indirizzoStrumento(const QString &testo)
{
    const QString pulito = testo.trimmed();
    bool ok = soloCifre(pulito, 10);
    const uint valore = ok ? pulito.toUInt(&ok, 10) : 0;
    if (!ok || valore > 0xFFFF) {
        throw Errore(CodiceErrore::IndirizzoStrumentoNonValido,
            QStringLiteral("Indirizzo strumento: %1 non è valido. Scrivere un numero "
                           "decimale intero da 0 a 65535.")
                .arg(citaTesto(testo)));
    }
    return quint16(valore);
}

quint8 codiceComando(const QString &testo)
{
    static const QString nomi[] = {
        QStringLiteral("Lettura"),
        QStringLiteral("Ripetizione ult. lettura"),
        QStringLiteral("Scrittura"),
    };
    const QString pulito = testo.trimmed();
    for (quint8 codice = 0; codice < std::size(nomi); ++codice) {
        if (pulito.compare(nomi[codice], Qt::CaseInsensitive) == 0)
            return codice;
    }
    throw Errore(CodiceErrore::ComandoSconosciuto,
        QStringLiteral("Tipo di comando: %1 non è un comando conosciuto. Scegliere "
                       "Lettura, Ripetizione ult. lettura oppure Scrittura.")
            .arg(citaTesto(testo)));
}

quint16 indirizzoMemoria(const QString &testo)
{
    const QString pulito = testo.trimmed();
    if (pulito.size() > 4 || !soloCifre(pulito, 16)) {
        throw Errore(CodiceErrore::IndirizzoMemoriaNonValido,
            QStringLiteral("Indirizzo memoria: %1 non è valido. Scrivere da 1 a 4 cifre "
                           "esadecimali, per esempio 0008.")
                .arg(citaTesto(testo)));
    }
    return quint16(pulito.toUInt(nullptr, 16));
}

} // namespace Conversioni
