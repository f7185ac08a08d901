#include "testi_ammessi.h"

#include <QList>

namespace TestiAmmessi {
namespace {

bool diControllo(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029;
}

} // namespace

QString controlla(const QString &testo, const QString &che)
{
    const auto caratteri = testo.toUcs4();
    for (const char32_t c : caratteri) {
        if (diControllo(c))
            return QStringLiteral("%1 contiene un carattere di controllo (%2): scriverlo senza "
                                  "a capo, tabulazioni o altri caratteri invisibili.")
                .arg(che, mostrabile(QString::fromUcs4(&c, 1)));
    }
    if (caratteri.size() > kMassimo)
        return QStringLiteral("%1 è lungo %2 caratteri: al massimo %3.")
            .arg(che)
            .arg(caratteri.size())
            .arg(kMassimo);
    return {};
}

QString mostrabile(const QString &testo)
{
    QString risultato;
    risultato.reserve(testo.size());
    for (const char32_t c : testo.toUcs4()) {
        if (c == u'\\')
            risultato += QStringLiteral("\\\\");
        else if (c == u'\n')
            risultato += QStringLiteral("\\n");
        else if (c == u'\r')
            risultato += QStringLiteral("\\r");
        else if (c == u'\t')
            risultato += QStringLiteral("\\t");
        else if (diControllo(c))
            risultato += QStringLiteral("\\x%1").arg(uint(c), c > 0xff ? 4 : 2, 16, QLatin1Char('0'));
        else
            risultato += QString::fromUcs4(&c, 1);
    }
    return risultato;
}

} // namespace TestiAmmessi
