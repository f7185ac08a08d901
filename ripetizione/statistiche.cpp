#include "statistiche.h"

#include <algorithm>

void StatisticheRipetizione::azzera()
{
    *this = StatisticheRipetizione();
}

void StatisticheRipetizione::avviaOrologio()
{
    if (!m_orologio.isValid())
        m_orologio.start();
}

void StatisticheRipetizione::aggiungi(const RisultatoRichiesta &r)
{
    avviaOrologio();
    if (r.esito == RisultatoRichiesta::Esito::Interrotta)
        return;
    ++m_inviate;
    if (r.esito == RisultatoRichiesta::Esito::Errore) {
        ++m_totaleErrori;
        ++m_errori[r.errore];
        return;
    }
    if (r.esito == RisultatoRichiesta::Esito::NessunaRisposta) {
        ++m_senzaRisposta;
        return;
    }
    ++m_risposte;
    if (r.valore) {
        m_ultimoValore = r.valore;
        ++m_numeroValori;
        m_sommaValori += *r.valore;
        m_valoreMinimo = std::min(m_valoreMinimo.value_or(*r.valore), *r.valore);
        m_valoreMassimo = std::max(m_valoreMassimo.value_or(*r.valore), *r.valore);
    }
    const qint64 latenza = r.latenzaUs.value_or(0);
    m_latenzaMinima = std::min(m_latenzaMinima.value_or(latenza), latenza);
    m_latenzaMassima = std::max(m_latenzaMassima.value_or(latenza), latenza);
    m_sommaLatenze += double(latenza);
    ++m_istogramma[size_t(std::clamp<qint64>(latenza / kPassoUs, 0, m_istogramma.size() - 1))];
}

std::optional<double> StatisticheRipetizione::valoreMedio() const
{
    if (m_numeroValori == 0)
        return {};
    return m_sommaValori / m_numeroValori;
}

std::optional<double> StatisticheRipetizione::latenzaMediaUs() const
{
    if (m_risposte == 0)
        return {};
    return m_sommaLatenze / m_risposte;
}

// The walk covers the fixed steps of the histogram, not the requests.
std::optional<qint64> StatisticheRipetizione::latenza95Us() const
{
    if (m_risposte == 0)
        return {};
    const int soglia = (m_risposte * 95 + 99) / 100;
    int contati = 0;
    for (size_t passo = 0; passo < m_istogramma.size(); ++passo) {
        contati += m_istogramma[passo];
        if (contati >= soglia)
            return std::min<qint64>((qint64(passo) + 1) * kPassoUs, *m_latenzaMassima);
    }
    return m_latenzaMassima;
}

double StatisticheRipetizione::richiestePerMinuto() const
{
    const qint64 trascorso = trascorsoMs();
    return trascorso > 0 ? m_inviate * 60'000.0 / double(trascorso) : 0.0;
}
