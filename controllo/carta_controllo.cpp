#include "carta_controllo.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace CartaControllo {

namespace {

// The mean as the first value and the mean distance from it: values that are all the same have
// exactly that mean, where a plain sum of 123.45s leaves a trace that a chart without spread
// would take for a point beyond its limits.
double media(const QList<double> &valori)
{
    const double primo = valori.first();
    double scarti = 0;
    for (const double v : valori)
        scarti += v - primo;
    return primo + scarti / double(valori.size());
}

} // namespace

std::optional<Limiti> limiti(const QList<double> &valori)
{
    if (valori.size() < 2)
        return std::nullopt;
    Limiti l;
    l.centro = media(valori);
    double somma = 0;
    for (qsizetype i = 1; i < valori.size(); ++i)
        somma += std::abs(valori.at(i) - valori.at(i - 1));
    l.mrMedio = somma / double(valori.size() - 1);
    l.sigma = l.mrMedio / kD2;
    return l;
}

namespace {

// +1 above the centre beyond k σ̂, -1 below beyond it, 0 within.
int oltre(double valore, const Limiti &l, double k)
{
    if (valore > l.centro + k * l.sigma)
        return 1;
    if (valore < l.centro - k * l.sigma)
        return -1;
    return 0;
}

int segno(double d)
{
    return d > 0 ? 1 : (d < 0 ? -1 : 0);
}

// At least quanti of the last su points up to i beyond k σ̂ on the side of point i, which is
// itself beyond it: the point that completes the pattern.
bool alcuniOltre(const QList<double> &v, qsizetype i, const Limiti &l, double k, int quanti, int su)
{
    const int lato = oltre(v.at(i), l, k);
    if (lato == 0 || i + 1 < su)
        return false;
    int contati = 0;
    for (qsizetype j = i - su + 1; j <= i; ++j)
        contati += oltre(v.at(j), l, k) == lato ? 1 : 0;
    return contati >= quanti;
}

// The last n points up to i all satisfy the condition.
template <typename Condizione>
bool ultimi(qsizetype i, int n, Condizione condizione)
{
    if (i + 1 < n)
        return false;
    for (qsizetype j = i - n + 1; j <= i; ++j) {
        if (!condizione(j))
            return false;
    }
    return true;
}

} // namespace

QList<QList<int>> regole(const QList<double> &v, const Limiti &l, bool ancheDa5A8)
{
    QList<QList<int>> risultato(v.size());
    for (qsizetype i = 0; i < v.size(); ++i) {
        QList<int> &qui = risultato[i];
        if (oltre(v.at(i), l, 3) != 0)
            qui << 1;
        // Without spread in the reference, any value away from it is beyond its limits, and
        // the other rules, which weigh distances in sigmas, have nothing to weigh.
        if (!(l.sigma > 0))
            continue;
        if (alcuniOltre(v, i, l, 2, 2, 3))
            qui << 2;
        if (alcuniOltre(v, i, l, 1, 4, 5))
            qui << 3;
        const int lato = segno(v.at(i) - l.centro);
        if (lato != 0 && ultimi(i, 8, [&](qsizetype j) { return segno(v.at(j) - l.centro) == lato; }))
            qui << 4;
        if (!ancheDa5A8)
            continue;
        // Six points steadily one way are five steps the same way.
        const int verso = i > 0 ? segno(v.at(i) - v.at(i - 1)) : 0;
        if (verso != 0 && i >= 5
            && ultimi(i, 5, [&](qsizetype j) { return segno(v.at(j) - v.at(j - 1)) == verso; }))
            qui << 5;
        // Fourteen points alternating are thirteen steps, each the other way from the one before.
        if (i >= 13 && ultimi(i, 12, [&](qsizetype j) {
                const int a = segno(v.at(j) - v.at(j - 1));
                const int b = segno(v.at(j - 1) - v.at(j - 2));
                return a != 0 && a == -b;
            }))
            qui << 6;
        if (ultimi(i, 15, [&](qsizetype j) { return std::abs(v.at(j) - l.centro) < l.sigma; }))
            qui << 7;
        if (ultimi(i, 8, [&](qsizetype j) { return oltre(v.at(j), l, 1) != 0; }))
            qui << 8;
    }
    return risultato;
}

QString testoRegola(int regola)
{
    switch (regola) {
    case 1:
        return QStringLiteral("un valore oltre 3 sigma dalla media");
    case 2:
        return QStringLiteral("2 valori su 3 oltre 2 sigma dalla stessa parte");
    case 3:
        return QStringLiteral("4 valori su 5 oltre 1 sigma dalla stessa parte");
    case 4:
        return QStringLiteral("8 valori di seguito dalla stessa parte della media");
    case 5:
        return QStringLiteral("6 valori di seguito sempre in salita o sempre in discesa");
    case 6:
        return QStringLiteral("14 valori di seguito alternati in su e in giù");
    case 7:
        return QStringLiteral("15 valori di seguito entro 1 sigma dalla media");
    case 8:
        return QStringLiteral("8 valori di seguito oltre 1 sigma, nessuno entro");
    default:
        return QStringLiteral("regola %1").arg(regola);
    }
}

Capacita capacita(const QList<double> &valori, double sigmaEntro, std::optional<double> minimo,
    std::optional<double> massimo)
{
    Capacita c;
    if (valori.size() < 2 || (!minimo && !massimo))
        return c;
    const double centro = media(valori);
    double quadrati = 0;
    for (const double v : valori)
        quadrati += (v - centro) * (v - centro);
    const double s = std::sqrt(quadrati / double(valori.size() - 1));
    const auto indici = [&](double sigma, std::optional<double> &p, std::optional<double> &pk) {
        if (!(sigma > 0))
            return;
        double vicino = std::numeric_limits<double>::infinity();
        if (massimo)
            vicino = std::min(vicino, *massimo - centro);
        if (minimo)
            vicino = std::min(vicino, centro - *minimo);
        pk = vicino / (3 * sigma);
        if (minimo && massimo)
            p = (*massimo - *minimo) / (6 * sigma);
    };
    indici(sigmaEntro, c.cp, c.cpk);
    indici(s, c.pp, c.ppk);
    return c;
}

QString giudizio(double indice)
{
    if (indice < 1.0)
        return QStringLiteral("non capace");
    if (indice < 1.33)
        return QStringLiteral("al limite");
    if (indice < 1.67)
        return QStringLiteral("capace");
    return QStringLiteral("molto capace");
}

qsizetype Analisi::fuoriControllo() const
{
    return std::count_if(
        regole.cbegin(), regole.cend(), [](const QList<int> &r) { return !r.isEmpty(); });
}

Analisi analizza(
    const QList<double> &valori, const std::optional<Limiti> &fissati, bool ancheDa5A8)
{
    Analisi a;
    a.fissati = fissati.has_value();
    a.limiti = fissati ? fissati : limiti(valori.first(std::min<qsizetype>(valori.size(), kFaseDiRiferimento)));
    if (a.limiti)
        a.regole = regole(valori, *a.limiti, ancheDa5A8);
    else
        a.regole.resize(valori.size());
    return a;
}

QList<VocePareto> pareto(const QList<std::pair<QString, qint64>> &conteggi)
{
    QList<VocePareto> voci;
    qint64 totale = 0;
    for (const auto &[nome, conteggio] : conteggi) {
        if (conteggio > 0) {
            voci.append({nome, conteggio, 0});
            totale += conteggio;
        }
    }
    std::stable_sort(voci.begin(), voci.end(),
        [](const VocePareto &a, const VocePareto &b) { return a.conteggio > b.conteggio; });
    qint64 finQui = 0;
    for (VocePareto &v : voci) {
        finQui += v.conteggio;
        v.cumulata = 100.0 * double(finQui) / double(totale);
    }
    return voci;
}

} // namespace CartaControllo
