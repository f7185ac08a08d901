#include "marcatori_parita.h"

qsizetype MarcatoriParita::decodifica(
    const QByteArray &grezzi, QByteArray &uscita, std::vector<ByteDellaLinea> *linea)
{
    const qsizetype prima = uscita.size();
    const auto consegna = [&](char c, bool errore) {
        uscita.append(errore ? m_sostituto : c);
        if (linea)
            linea->push_back({quint8(c), errore});
    };
    for (const char c : grezzi) {
        const auto byte = static_cast<unsigned char>(c);
        switch (m_stato) {
        case Stato::Normale:
            if (byte == 0xFF)
                m_stato = Stato::DopoFF;
            else
                consegna(c, false);
            break;
        case Stato::DopoFF:
            if (byte == 0x00) {
                m_stato = Stato::DopoFF00;
            } else if (byte == 0xFF) {
                consegna(c, false);
                m_stato = Stato::Normale;
            } else {
                // Not a marker the kernel writes: keep both bytes as they came.
                consegna(char(0xFF), false);
                consegna(c, false);
                m_stato = Stato::Normale;
            }
            break;
        case Stato::DopoFF00:
            consegna(c, true);
            m_stato = Stato::Normale;
            break;
        }
    }
    return uscita.size() - prima;
}
