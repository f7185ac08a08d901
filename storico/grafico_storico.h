#pragma once

#include "archivio.h"

#include <QWidget>

#include <memory>

// One row's value across the runs of the history, in their order, with the row's limits drawn as
// lines and the values out of limits marked in red, on round ticks. Where Qt Charts is not part
// of the build (the Windows build), a line of text says so: the figures and the export are there
// all the same.
class GraficoStorico : public QWidget
{
    Q_OBJECT

public:
    explicit GraficoStorico(QWidget *parent = nullptr);
    ~GraficoStorico() override;

    void mostra(const QList<Archivio::Punto> &punti, const QString &titolo,
        std::optional<double> minimo, std::optional<double> massimo);

private:
    struct Disegno;
    std::unique_ptr<Disegno> d;
};
