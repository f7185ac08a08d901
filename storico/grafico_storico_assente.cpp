#include "grafico_storico.h"

#include <QLabel>
#include <QVBoxLayout>

// A build without Qt Charts: a line of text in place of each chart.
namespace {

void avviso(QWidget *grafico)
{
    auto *testo = new QLabel(QStringLiteral("Il grafico non è disponibile in questa versione: "
                                            "le statistiche, le violazioni delle regole e "
                                            "l'esportazione ci sono."),
        grafico);
    testo->setWordWrap(true);
    testo->setAlignment(Qt::AlignCenter);
    auto *colonna = new QVBoxLayout(grafico);
    colonna->addWidget(testo);
}

} // namespace

struct GraficoStorico::Disegno
{
};

GraficoStorico::GraficoStorico(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("graficoStorico"));
    avviso(this);
}

GraficoStorico::~GraficoStorico() = default;

void GraficoStorico::mostra(const SerieCarta &, const CartaControllo::Analisi &)
{
    emit mostrato();
}

void GraficoStorico::svuota() { }

void GraficoStorico::posizionaNumeri() { }

void GraficoStorico::descrivi(const QPointF &, bool) { }

struct GraficoPareto::Disegno
{
};

GraficoPareto::GraficoPareto(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("graficoPareto"));
    avviso(this);
}

GraficoPareto::~GraficoPareto() = default;

void GraficoPareto::mostra(const QList<CartaControllo::VocePareto> &) { }
