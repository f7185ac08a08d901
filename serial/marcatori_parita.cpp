#include "marcatori_parita.h"

qsizetype MarcatoriParita::decodifica(const QByteArray &grezzi, QByteArray &uscita)
{
    const qsizetype prima = uscita.size();
    for (const char c : grezzi) {
        const auto byte = static_cast<unsigned char>(c);
        switch (m_stato) {
        case Stato::Normale:
            if (byte == 0xFF)
                m_stato = Stato::DopoFF;
            else
                uscita.append(c);
            break;
        case Stato::DopoFF:
            if (byte == 0x00) {
                m_stato = Stato::DopoFF00;
            } else if (byte == 0xFF) {
                uscita.append(c);
                m_stato = Stato::Normale;
            } else {
                // Not a marker the kernel writes: keep both bytes as they came.
                uscita.append(char(0xFF));
                uscita.append(c);
                m_stato = Stato::Normale;
            }
            break;
        case Stato::DopoFF00:
            uscita.append(m_sostituto);
            m_stato = Stato::Normale;
            break;
        }
    }
    return uscita.size() - prima;
}
