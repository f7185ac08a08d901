#pragma once

#include "carta_controllo.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// The control charts a station watches while it reads units: one per socket and row of the
// bench's version, each with its limits (fixed by an engineer, or its reference phase: the first
// 25 values, all of them while there are fewer) and its latest values, enough to judge the
// newest point by every rule. Seeded once from the archive's series when the station opens, then
// fed each round's values; it only tells, and never changes a unit's outcome.
//
// A rule warns when it fires at the newest point and did not fire at the point before, as that
// point was judged when it was the newest: a run of points that keeps a rule firing warns once,
// and a run after a return within the rule warns again.
class Sorveglianza
{
public:
    // The values a chart keeps: as many as the longest pattern looks back (15 points within
    // 1 σ̂), so that the newest point completes on them what it completes on the whole series.
    static constexpr int kRecenti = 15;

    explicit Sorveglianza(bool ancheDa5A8 = false)
        : m_ancheDa5A8(ancheDa5A8)
    { }

    bool ancheDa5A8() const { return m_ancheDa5A8; }
    // Every chart forgotten; rules 5 to 8 as well as 1 to 4 with ancheDa5A8.
    void azzera(bool ancheDa5A8);

    // A chart's past values, oldest first, and the latest limits fixed for it, if any: what it
    // held before is replaced.
    void semina(const QString &posto, int riga, const QList<double> &valori,
        const std::optional<CartaControllo::Limiti> &fissati);
    // A new value of the chart, made if new: the rules that fire at it and did not at the
    // point before, in order.
    QList<int> aggiungi(const QString &posto, int riga, double valore);

    // The chart's last values, oldest first, at most quanti.
    QList<double> ultimi(const QString &posto, int riga, int quanti) const;
    // Its limits now: none with fewer than two values and nothing fixed.
    std::optional<CartaControllo::Limiti> limiti(const QString &posto, int riga) const;
    qsizetype carte() const { return m_carte.size(); }

private:
    struct Carta
    {
        std::optional<CartaControllo::Limiti> fissati;
        // The reference phase: the first values, up to 25; its limits while nothing is fixed.
        QList<double> riferimento;
        std::optional<CartaControllo::Limiti> limitiRiferimento;
        QList<double> recenti; // the last kRecenti values, oldest first
        QList<int> regolePrima; // the rules the newest point fired when it came
        const std::optional<CartaControllo::Limiti> &limiti() const
        {
            return fissati ? fissati : limitiRiferimento;
        }
        void aggiungi(double valore);
        QList<int> regoleDellUltimo(bool ancheDa5A8) const;
    };
    using Chiave = std::pair<QString, int>;

    bool m_ancheDa5A8;
    QHash<Chiave, Carta> m_carte;
};
