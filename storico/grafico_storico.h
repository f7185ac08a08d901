#pragma once

#include "archivio.h"
#include "carta_controllo.h"

#include <QPointF>
#include <QWidget>

#include <memory>

// One row's control chart: its values at one socket of one bench version, in their order, as an
// individuals chart (the points joined, the row's own minimum and maximum and the chart's centre
// and control limits as lines told apart by colour and dash, each named in the legend; the values
// beyond the row's limits in red, those that complete a run rule marked with the rule's number),
// and under it the moving-range chart (each value's distance from the one before, its mean and
// its upper limit). The value axis is titled with the row's name and unit. A point under the
// pointer tells its unit under test, time, value and rules. Where Qt Charts is not part of the
// build (the Windows build), a line of text says so: the figures and the export are there all
// the same.
class GraficoStorico : public QWidget
{
    Q_OBJECT

public:
    explicit GraficoStorico(QWidget *parent = nullptr);
    ~GraficoStorico() override;

    // The series with conPunti, and its analysis (CartaControllo::analizza).
    void mostra(const SerieCarta &serie, const CartaControllo::Analisi &analisi);
    void svuota();

signals:
    // The chart holds what mostra gave it; it is painted at the next paint event.
    void mostrato();

private:
    // Each rule's number over its point, where the chart now draws it.
    void posizionaNumeri();
    // The pointer on a value's point, or off it.
    void descrivi(const QPointF &punto, bool sopra);

    struct Disegno;
    std::unique_ptr<Disegno> d;
};

// The failing rows of the runs chosen, most first, as bars by count, with the line of their
// cumulative share of all failures.
class GraficoPareto : public QWidget
{
    Q_OBJECT

public:
    explicit GraficoPareto(QWidget *parent = nullptr);
    ~GraficoPareto() override;

    void mostra(const QList<CartaControllo::VocePareto> &voci);

private:
    struct Disegno;
    std::unique_ptr<Disegno> d;
};
