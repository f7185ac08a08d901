#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

struct RisultatoRichiesta;

// The chart of a repetition: the value and the latency over time, with the requests that had
// no value marked in red along the bottom. Points are taken in as they come and drawn when
// aggiorna() is called, one redraw for any number of points. The value axis follows the values
// kept, with a margin, so that a drift of a few units shows; its ticks fall on round numbers.
//
// Where Qt Charts is not part of the build (the Windows build), the chart is a line of text
// saying so: the figures and the CSV file are there all the same.
class GraficoRipetizione : public QWidget
{
    Q_OBJECT

public:
    // Points the chart keeps; the whole history is in the CSV file.
    static constexpr size_t kPunti = 10'000;

    // How the chart shows the words: the panel's decimal value, or a bench row's value in its
    // unit, with its limits drawn as lines.
    struct Scala
    {
        std::function<double(quint16)> valore;
        QString titolo = QStringLiteral("valore (decimale)");
        std::optional<double> minimo;
        std::optional<double> massimo;
        bool conLatenza = true;
    };

    explicit GraficoRipetizione(QWidget *parent = nullptr);
    GraficoRipetizione(const Scala &scala, QWidget *parent = nullptr);
    ~GraficoRipetizione() override;

    void aggiungi(const RisultatoRichiesta &risultato, double secondi);
    void azzera();
    void aggiorna();

private:
    struct Disegno;
    std::unique_ptr<Disegno> d;
};
