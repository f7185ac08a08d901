#include "errore.h"

#include <algorithm>

Errore::Errore(CodiceErrore codice, QString descrizione)
    : m_codice(codice)
    , m_descrizione(std::move(descrizione))
    , m_utf8(m_descrizione.toUtf8())
{ }

QString citaTesto(const QString &testo)
{
    constexpr qsizetype kLunghezzaMassima = 40;
    qsizetype taglio = std::min(testo.size(), kLunghezzaMassima);
    if (taglio < testo.size() && testo.at(taglio - 1).isHighSurrogate())
        --taglio; // never split a character written with two code units
    QString citato = testo.left(taglio);
    for (QChar &c : citato) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QChar(0xFFFD);
    }
    if (testo.size() > kLunghezzaMassima)
        citato += QStringLiteral("… (%1 caratteri)").arg(testo.size());
    return QStringLiteral("«%1»").arg(citato);
}
