#pragma once

#include <QWidget>

#include <memory>

class StatisticheRipetizione;
struct RisultatoRichiesta;

// The chart of a repetition: the value and the latency over time, with the requests that had
// no value marked in red along the bottom. Points are taken in as they come and drawn when
// aggiorna() is called, one redraw for any number of points.
//
// Where Qt Charts is not part of the build (the Windows build), the chart is a line of text
// saying so: the figures and the CSV file are there all the same.
class GraficoRipetizione : public QWidget
{
    Q_OBJECT

public:
    // Points the chart keeps; the whole history is in the CSV file.
    static constexpr size_t kPunti = 10'000;

    GraficoRipetizione(const StatisticheRipetizione &statistiche, QWidget *parent = nullptr);
    ~GraficoRipetizione() override;

    void aggiungi(const RisultatoRichiesta &risultato, double secondi);
    void azzera();
    void aggiorna();

private:
    struct Disegno;
    std::unique_ptr<Disegno> d;
};
