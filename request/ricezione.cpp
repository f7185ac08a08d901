#include "ricezione.h"

#include "errore.h"

#include <QStringList>

#include <array>

QString voceRicevuta(quint8 byte)
{
    // Made once: the entry of every received byte is then a shared copy, not a new string.
    static const auto voci = [] {
        std::array<QString, 256> tabella;
        for (int valore = 0; valore < 256; ++valore)
            tabella[size_t(valore)] = u' ' + QString::number(valore, 16).toUpper();
        return tabella;
    }();
    return voci[byte];
}

namespace {

quint8 byteDaVoce(QStringView voce)
{
    bool ok = voce.size() <= 2;
    const uint valore = ok ? voce.toUInt(&ok, 16) : 0;
    // toUInt also takes a sign or a 0x prefix: only bare digits are a received byte.
    ok = ok && voce.front() != u'+' && voce.front() != u'-';
    if (!ok) {
        throw Errore(CodiceErrore::RispostaNonDecodificabile,
            QStringLiteral("Stringa ricevuta: la voce %1 non è un byte esadecimale (da 0 "
                           "a FF). Correggere o svuotare il campo e inviare di nuovo il "
                           "comando.")
                .arg(citaTesto(voce.toString())));
    }
    return quint8(valore);
}

} // namespace

quint16 decodificaRisposta(const QString &testoRicevuto)
{
    const QList<QStringView> voci = QStringView(testoRicevuto).split(u' ', Qt::SkipEmptyParts);
    quint16 valore = 0;
    for (const QStringView voce : voci)
        valore = quint16((valore << 8) | byteDaVoce(voce));
    return valore;
}

void TestoRicevuto::aggiungi(QStringView voce)
{
    m_testo += voce;
    // Trimmed only when twice the size kept, so that the cost of the cut is spread over as many
    // appends as it removes characters.
    if (m_testo.size() <= 2 * kCaratteriTenuti)
        return;
    qsizetype taglio = m_testo.indexOf(u' ', m_testo.size() - kCaratteriTenuti);
    if (taglio < 0)
        taglio = m_testo.size() - kCaratteriTenuti;
    m_testo.remove(0, taglio);
}
