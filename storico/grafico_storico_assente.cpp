#include "grafico_storico.h"

#include <QLabel>
#include <QVBoxLayout>

// A build without Qt Charts.
struct GraficoStorico::Disegno
{
};

GraficoStorico::GraficoStorico(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("graficoStorico"));
    auto *avviso = new QLabel(QStringLiteral("Il grafico non è disponibile in questa versione: "
                                             "le statistiche e l'esportazione ci sono."),
        this);
    avviso->setWordWrap(true);
    avviso->setAlignment(Qt::AlignCenter);
    auto *colonna = new QVBoxLayout(this);
    colonna->addWidget(avviso);
}

GraficoStorico::~GraficoStorico() = default;

void GraficoStorico::mostra(const QList<Archivio::Punto> &, const QString &, const QString &,
    std::optional<double>, std::optional<double>)
{ }
