#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <utility>

// The individuals and moving-range chart of one row's values (subgroups of one), its run rules
// and the capability figures: plain values in, figures out, with no archive behind them.
namespace CartaControllo {

// d2 for moving ranges of two values; E2 = 3 / d2; D4 for the moving-range chart.
constexpr double kD2 = 1.128;
constexpr double kE2 = 2.66;
constexpr double kD4 = 3.267;

struct Limiti
{
    double centro = 0; // x̄
    double sigma = 0; // σ̂ within: MR̄ / d2
    double mrMedio = 0; // MR̄
    double superiore() const { return centro + kE2 * mrMedio; }
    double inferiore() const { return centro - kE2 * mrMedio; }
    double superioreMr() const { return kD4 * mrMedio; }
};

// From a reference phase of at least two values; none with fewer.
std::optional<Limiti> limiti(const QList<double> &valori);

// How many values of a row's own make its reference phase, when no limits were fixed for it.
constexpr int kFaseDiRiferimento = 25;

// A chart drawn: its limits, fixed by an engineer or computed from the reference phase (the first
// 25 values, or all of them while there are fewer), and the rules each point completes.
struct Analisi
{
    std::optional<Limiti> limiti; // none with fewer than two values and nothing fixed
    bool fissati = false;
    QList<QList<int>> regole;
    // The points that complete at least one rule.
    qsizetype fuoriControllo() const;
};
Analisi analizza(
    const QList<double> &valori, const std::optional<Limiti> &fissati, bool ancheDa5A8);

// The rules each point completes, numbered 1 to 8: 1-4 always, 5-8 with ancheDa5A8. Empty
// lists for the points that complete none.
QList<QList<int>> regole(const QList<double> &valori, const Limiti &limiti, bool ancheDa5A8);

// What a rule means, in words: "8 valori di seguito dalla stessa parte della media".
QString testoRegola(int regola);

// Cp and Cpk from σ̂ within, Pp and Ppk from the overall sample standard deviation, against
// the row's limits: one-sided with one limit (no Cp or Pp then), none without limits or spread.
struct Capacita
{
    std::optional<double> cp, cpk, pp, ppk;
};
Capacita capacita(const QList<double> &valori, double sigmaEntro, std::optional<double> minimo,
    std::optional<double> massimo);

// "non capace" below 1.00, "al limite" to 1.33, "capace" to 1.67, "molto capace" above.
QString giudizio(double indice);

// A Pareto of failing rows: by count, most first (ties in the given order), each with the
// cumulative share of all failures, in percent.
struct VocePareto
{
    QString nome;
    qint64 conteggio = 0;
    double cumulata = 0;
};
QList<VocePareto> pareto(const QList<std::pair<QString, qint64>> &conteggi);

} // namespace CartaControllo
