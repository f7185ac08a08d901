#include "impostazioni_linea.h"

#include "errore.h"

#include <QStringList>

namespace {

bool soloCifre(const QString &testo)
{
    if (testo.isEmpty())
        return false;
    for (QChar c : testo) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

[[noreturn]] void impostazioniNonValide(const QString &testo, const QString &motivo)
{
    throw Errore(CodiceErrore::ImpostazioniNonValide,
        QStringLiteral("Impostazioni di linea %1 non valide: %2. Il formato è "
                       "velocità,parità,bit di dati,bit di stop, per esempio 9600,E,8,1.")
            .arg(citaTesto(testo), motivo));
}

} // namespace

qint32 ImpostazioniLinea::baudDaTesto(const QString &testo)
{
    const QString cifre = testo.trimmed();
    bool ok = soloCifre(cifre) && cifre.size() <= 9;
    const qint32 baud = ok ? cifre.toInt(&ok) : 0;
    if (!ok || baud < kBaudMinimo || baud > kBaudMassimo) {
        throw Errore(CodiceErrore::BaudNonValido,
            QStringLiteral("Baud: %1 non è una velocità valida. Scegliere una velocità "
                           "dall'elenco o scrivere un numero intero da %2 a %3.")
                .arg(citaTesto(testo))
                .arg(kBaudMinimo)
                .arg(kBaudMassimo));
    }
    return baud;
}

ImpostazioniLinea ImpostazioniLinea::daTesto(const QString &testo)
{
    const QStringList parti = testo.split(u',');
    if (parti.size() != 4)
        impostazioniNonValide(testo, QStringLiteral("servono quattro valori separati da virgole"));

    ImpostazioniLinea impostazioni;
    impostazioni.baud = baudDaTesto(parti[0]);

    const QString parita = parti[1].trimmed().toUpper();
    if (parita == u"E")
        impostazioni.parita = QSerialPort::EvenParity;
    else if (parita == u"O")
        impostazioni.parita = QSerialPort::OddParity;
    else if (parita == u"N")
        impostazioni.parita = QSerialPort::NoParity;
    else
        impostazioniNonValide(testo, QStringLiteral("la parità deve essere E, O oppure N"));

    if (parti[2].trimmed() != u"8")
        impostazioniNonValide(testo, QStringLiteral("i bit di dati devono essere 8"));
    if (parti[3].trimmed() != u"1")
        impostazioniNonValide(testo, QStringLiteral("i bit di stop devono essere 1"));
    return impostazioni;
}

char ImpostazioniLinea::letteraParita() const
{
    return parita == QSerialPort::EvenParity ? 'E' : parita == QSerialPort::OddParity ? 'O' : 'N';
}

QString ImpostazioniLinea::testo() const
{
    return QStringLiteral("%1,%2,8,1").arg(baud).arg(QLatin1Char(letteraParita()));
}
