#include "interruttore.h"


bool Interruttore::aggiorna(std::optional<bool> attivo)
{
    if (!attivo) {
        // Nothing is known: the count starts again once the line can be read.
        m_inattive = m_attive = 0;
        return false;
    }
    if (!*attivo) {
        m_attive = 0;
        if (++m_inattive >= 2)
            m_armato = true;
        return false;
    }
    m_inattive = 0;
    if (++m_attive < 2 || !m_armato)
        return false;
    m_armato = false;
    return true;
}
