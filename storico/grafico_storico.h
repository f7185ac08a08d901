#pragma once

#include "archivio.h"

#include <QPointF>
#include <QWidget>

#include <memory>

// One row's value across the runs of the history, in their order, on a value axis titled with the
// row's name and unit; the row's minimum and maximum drawn as two lines told apart by colour and
// dash and named in the legend, the values out of limits marked in red, on round ticks. A point
// under the pointer tells its unit under test, time and value. Where Qt Charts is not part
// of the build (the Windows build), a line of text says so: the figures and the export are there
// all the same.
class GraficoStorico : public QWidget
{
    Q_OBJECT

public:
    explicit GraficoStorico(QWidget *parent = nullptr);
    ~GraficoStorico() override;

    // unita: the row's unit of measure, empty where it has none.
    void mostra(const QList<Archivio::Punto> &punti, const QString &nome, const QString &unita,
        std::optional<double> minimo, std::optional<double> massimo);

private:
    // The pointer on a run's point, or off it.
    void descrivi(const QPointF &punto, bool sopra);

    struct Disegno;
    std::unique_ptr<Disegno> d;
};
