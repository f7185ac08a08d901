#include "numeri_italiani.h"

#include <QLocale>

#include <cmath>

namespace NumeriItaliani {
namespace {

const QLocale &italiano()
{
    static const QLocale locale(QLocale::Italian, QLocale::Italy);
    return locale;
}

} // namespace

QString intero(qint64 valore)
{
    return italiano().toString(valore);
}

QString decimale(double valore, int decimali)
{
    return italiano().toString(valore, 'f', decimali);
}

QString daMacchina(const QString &testo)
{
    const qsizetype punto = testo.indexOf(u'.');
    const QString parteIntera = punto < 0 ? testo : testo.left(punto);
    const bool negativo = parteIntera.startsWith(u'-');
    const QString cifre = negativo ? parteIntera.mid(1) : parteIntera;
    if (cifre.isEmpty() || cifre.size() > 18)
        return testo;
    for (const QChar c : cifre) {
        if (!c.isDigit() || c.unicode() > 0x7F)
            return testo;
    }
    QString decimali;
    if (punto >= 0) {
        decimali = testo.mid(punto + 1);
        for (const QChar c : std::as_const(decimali)) {
            if (!c.isDigit() || c.unicode() > 0x7F)
                return testo;
        }
    }
    QString risultato = italiano().toString(cifre.toLongLong());
    if (negativo)
        risultato.prepend(u'-');
    if (punto >= 0)
        risultato += u',' + decimali;
    return risultato;
}

std::optional<double> leggi(const QString &testo)
{
    QString pulito = testo.trimmed();
    // One separator for the decimals, whichever was typed; an exponent is no way to type a
    // reading, and a second separator leaves the number unclear.
    if (pulito.count(u',') + pulito.count(u'.') > 1 || pulito.contains(u'e', Qt::CaseInsensitive))
        return std::nullopt;
    pulito.replace(u',', u'.');
    bool ok = false;
    const double valore = pulito.toDouble(&ok);
    if (!ok || !std::isfinite(valore))
        return std::nullopt;
    return valore;
}

QString durata(double secondi)
{
    const qint64 tutti = qint64(std::max(0.0, secondi) + 0.5);
    if (tutti >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(tutti / 3600)
            .arg(tutti / 60 % 60, 2, 10, QChar(u'0'))
            .arg(tutti % 60, 2, 10, QChar(u'0'));
    return QStringLiteral("%1:%2").arg(tutti / 60).arg(tutti % 60, 2, 10, QChar(u'0'));
}

QString conta(qint64 n, const QString &uno, const QString &tanti)
{
    return intero(n) + u' ' + (n == 1 ? uno : tanti);
}

} // namespace NumeriItaliani
