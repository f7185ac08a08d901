#include "sorveglianza.h"

#include <algorithm>

using CartaControllo::Limiti;

void Sorveglianza::azzera(bool ancheDa5A8)
{
    m_ancheDa5A8 = ancheDa5A8;
    m_carte.clear();
}

void Sorveglianza::Carta::aggiungi(double valore)
{
    if (riferimento.size() < CartaControllo::kFaseDiRiferimento) {
        riferimento.append(valore);
        limitiRiferimento = CartaControllo::limiti(riferimento);
    }
    recenti.append(valore);
    if (recenti.size() > kRecenti)
        recenti.removeFirst();
}

QList<int> Sorveglianza::Carta::regoleDellUltimo(bool ancheDa5A8) const
{
    if (!limiti() || recenti.isEmpty())
        return {};
    return CartaControllo::regole(recenti, *limiti(), ancheDa5A8).constLast();
}

void Sorveglianza::semina(const QString &posto, int riga, const QList<double> &valori,
    const std::optional<Limiti> &fissati)
{
    Carta carta;
    carta.fissati = fissati;
    const qsizetype primi = std::min<qsizetype>(valori.size(), CartaControllo::kFaseDiRiferimento);
    carta.riferimento = valori.first(primi);
    carta.limitiRiferimento = CartaControllo::limiti(carta.riferimento);
    carta.recenti = valori.last(std::min<qsizetype>(valori.size(), kRecenti));
    // The last point of the past as the chart judges it now: a rule it already fires at does
    // not warn again at the next point.
    carta.regolePrima = carta.regoleDellUltimo(m_ancheDa5A8);
    m_carte.insert({posto, riga}, std::move(carta));
}

QList<int> Sorveglianza::aggiungi(const QString &posto, int riga, double valore)
{
    Carta &carta = m_carte[{posto, riga}];
    carta.aggiungi(valore);
    const QList<int> adesso = carta.regoleDellUltimo(m_ancheDa5A8);
    QList<int> nuove;
    for (const int regola : adesso) {
        if (!carta.regolePrima.contains(regola))
            nuove.append(regola);
    }
    carta.regolePrima = adesso;
    return nuove;
}

QList<double> Sorveglianza::ultimi(const QString &posto, int riga, int quanti) const
{
    const auto carta = m_carte.constFind({posto, riga});
    if (carta == m_carte.cend())
        return {};
    return carta->recenti.last(std::min<qsizetype>(carta->recenti.size(), quanti));
}

std::optional<Limiti> Sorveglianza::limiti(const QString &posto, int riga) const
{
    const auto carta = m_carte.constFind({posto, riga});
    return carta == m_carte.cend() ? std::nullopt : carta->limiti();
}
