#pragma once

#include "ridisegno.h"

#include <QDateTime>
#include <QWidget>

#include <vector>

class GraficoRipetizione;
class RegistroTraffico;
class Sequenziatore;
struct RigaBanco;
struct RisultatoRichiesta;

// The value of chosen rows over time, one chart each, as the rows show it (in their unit, with
// their decimals) and with their limits drawn as lines. Each chart starts with the readings the
// traffic record still holds for its instrument and address, and follows the row by them
// whatever rows are added or moved meanwhile.
class GraficiTabella : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMassimoRighe = 6;

    GraficiTabella(const QList<RigaBanco> &righe, const RegistroTraffico &registro,
        Sequenziatore &sequenziatore, QWidget *parent = nullptr);
    ~GraficiTabella() override;

    void aggiungi(const RigaBanco &riga, const RisultatoRichiesta &risultato);

private:
    struct Grafico
    {
        quint16 strumento;
        quint16 memoria;
        GraficoRipetizione *disegno;
    };
    double secondi(const RisultatoRichiesta &risultato) const;

    std::vector<Grafico> m_grafici;
    QDateTime m_inizio; // the charts' time 0: the first reading shown
    Ridisegno m_aggiornamento;
};
