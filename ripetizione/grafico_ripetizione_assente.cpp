#include "grafico_ripetizione.h"

#include <QLabel>
#include <QVBoxLayout>

// A build without Qt Charts: no points are kept.
struct GraficoRipetizione::Disegno
{
};

GraficoRipetizione::GraficoRipetizione(QWidget *parent)
    : GraficoRipetizione(Scala(), parent)
{ }

GraficoRipetizione::GraficoRipetizione(const Scala &, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("grafico"));
    auto *avviso = new QLabel(
        QStringLiteral("Il grafico non è disponibile in questa versione: le cifre qui sopra e "
                       "il file di registro riportano ogni richiesta."),
        this);
    avviso->setWordWrap(true);
    avviso->setAlignment(Qt::AlignCenter);
    auto *colonna = new QVBoxLayout(this);
    colonna->addWidget(avviso);
}

GraficoRipetizione::~GraficoRipetizione() = default;

void GraficoRipetizione::aggiungi(const RisultatoRichiesta &, double) {}

void GraficoRipetizione::azzera() {}

void GraficoRipetizione::aggiorna() {}
