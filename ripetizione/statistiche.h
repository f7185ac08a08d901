#pragma once

#include "registro_traffico.h"

#include <QElapsedTimer>

#include <array>
#include <map>
#include <optional>

// Figures of a repetition, brought up to date one result at a time: nothing here walks the
// history, however long the repetition runs.
class StatisticheRipetizione
{
public:
    // Latencies are counted in steps of this size up to kLatenzaMassima; the 95th percentile is
    // the upper edge of its step.
    static constexpr qint64 kPassoUs = 50;
    static constexpr qint64 kLatenzaMassimaUs = 200'000;

    // The clock of the figures starts with the repetition, or with the first result added;
    // until then no time has gone by.
    void avviaOrologio();
    void aggiungi(const RisultatoRichiesta &risultato);
    void azzera();

    int inviate() const { return m_inviate; }
    int risposte() const { return m_risposte; }
    int senzaRisposta() const { return m_senzaRisposta; }
    int errori() const { return m_totaleErrori; }
    // Error number to how many times it came.
    const std::map<int, int> &erroriPerNumero() const { return m_errori; }

    std::optional<quint16> ultimoValore() const { return m_ultimoValore; }
    std::optional<quint16> valoreMinimo() const { return m_valoreMinimo; }
    std::optional<quint16> valoreMassimo() const { return m_valoreMassimo; }
    std::optional<double> valoreMedio() const;

    std::optional<qint64> latenzaMinimaUs() const { return m_latenzaMinima; }
    std::optional<qint64> latenzaMassimaUs() const { return m_latenzaMassima; }
    std::optional<double> latenzaMediaUs() const;
    std::optional<qint64> latenza95Us() const;

    qint64 trascorsoMs() const { return m_orologio.isValid() ? m_orologio.elapsed() : 0; }
    double richiestePerMinuto() const;

private:
    QElapsedTimer m_orologio;
    int m_inviate = 0;
    int m_risposte = 0;
    int m_senzaRisposta = 0;
    int m_totaleErrori = 0;
    std::map<int, int> m_errori;

    std::optional<quint16> m_ultimoValore;
    int m_numeroValori = 0;
    double m_sommaValori = 0;
    std::optional<quint16> m_valoreMinimo;
    std::optional<quint16> m_valoreMassimo;

    std::optional<qint64> m_latenzaMinima;
    std::optional<qint64> m_latenzaMassima;
    double m_sommaLatenze = 0;
    std::array<int, kLatenzaMassimaUs / kPassoUs + 1> m_istogramma{};
};
