#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class GraficoRipetizione;
class StatisticheRipetizione;
struct RigaBanco;
struct RisultatoRichiesta;

// The value of chosen rows over time, one chart of the repetition for each row, following the
// row by its instrument and address whatever rows are added or moved meanwhile.
class GraficiTabella : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMassimoRighe = 6;

    GraficiTabella(const QList<RigaBanco> &righe, QWidget *parent = nullptr);
    ~GraficiTabella() override;

    void aggiungi(const RigaBanco &riga, const RisultatoRichiesta &risultato);

private:
    struct Grafico;
    std::vector<std::unique_ptr<Grafico>> m_grafici;
    QElapsedTimer m_orologio;
    QTimer m_aggiornamento;
};
