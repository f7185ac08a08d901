#include "grafico_ripetizione.h"

#include "registro_traffico.h"
#include "statistiche.h"

#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QScatterSeries>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <deque>

namespace {

void aggiungiPunto(std::deque<QPointF> &punti, QPointF punto)
{
    punti.push_back(punto);
    if (punti.size() > GraficoRipetizione::kPunti)
        punti.pop_front();
}

QList<QPointF> comeLista(const std::deque<QPointF> &punti)
{
    return QList<QPointF>(punti.begin(), punti.end());
}

} // namespace

struct GraficoRipetizione::Disegno
{
    explicit Disegno(const StatisticheRipetizione &s, QObject *genitore)
        : statistiche(s)
        , grafico(new QChart)
        , valori(new QLineSeries(genitore))
        , latenze(new QLineSeries(genitore))
        , mancate(new QScatterSeries(genitore))
        , tempo(new QValueAxis(genitore))
        , assiValori(new QValueAxis(genitore))
        , assiLatenze(new QValueAxis(genitore))
    {
    }

    const StatisticheRipetizione &statistiche;
    QChart *grafico;
    QLineSeries *valori;
    QLineSeries *latenze;
    QScatterSeries *mancate;
    QValueAxis *tempo;
    QValueAxis *assiValori;
    QValueAxis *assiLatenze;
    std::deque<QPointF> puntiValori;
    std::deque<QPointF> puntiLatenze;
    std::deque<QPointF> puntiMancate;
    bool daAggiornare = true;
};

GraficoRipetizione::GraficoRipetizione(const StatisticheRipetizione &statistiche, QWidget *parent)
    : QWidget(parent)
    , d(std::make_unique<Disegno>(statistiche, this))
{
    d->valori->setName(QStringLiteral("valore"));
    d->latenze->setName(QStringLiteral("latenza (ms)"));
    d->mancate->setName(QStringLiteral("senza risposta o errore"));
    d->mancate->setColor(Qt::red);
    d->mancate->setMarkerSize(7);
    d->grafico->addSeries(d->valori);
    d->grafico->addSeries(d->latenze);
    d->grafico->addSeries(d->mancate);
    d->tempo->setTitleText(QStringLiteral("tempo (s)"));
    d->assiValori->setTitleText(QStringLiteral("valore (decimale)"));
    d->assiLatenze->setTitleText(QStringLiteral("latenza (ms)"));
    for (QValueAxis *asse : {d->tempo, d->assiValori, d->assiLatenze})
        asse->setLabelFormat(QStringLiteral("%g"));
    d->grafico->addAxis(d->tempo, Qt::AlignBottom);
    d->grafico->addAxis(d->assiValori, Qt::AlignLeft);
    d->grafico->addAxis(d->assiLatenze, Qt::AlignRight);
    for (QAbstractSeries *serie : {static_cast<QAbstractSeries *>(d->valori),
             static_cast<QAbstractSeries *>(d->mancate)}) {
        serie->attachAxis(d->tempo);
        serie->attachAxis(d->assiValori);
    }
    d->latenze->attachAxis(d->tempo);
    d->latenze->attachAxis(d->assiLatenze);
    d->grafico->legend()->setAlignment(Qt::AlignBottom);
    auto *vista = new QChartView(d->grafico, this);
    setObjectName(QStringLiteral("grafico"));
    // Nothing in the chart reacts to keys: Tab passes it by rather than resting on it unseen.
    vista->setFocusPolicy(Qt::NoFocus);
    vista->viewport()->setFocusPolicy(Qt::NoFocus);
    for (QWidget *parte : {static_cast<QWidget *>(this), static_cast<QWidget *>(vista)}) {
        parte->setAccessibleName(QStringLiteral("Grafico della ripetizione"));
        parte->setAccessibleDescription(QStringLiteral(
            "Valore ricevuto (asse a sinistra) e latenza in millisecondi (asse a destra) di "
            "ogni richiesta nel tempo, in secondi dall'avvio; in rosso in basso le richieste "
            "senza risposta o con errore. Le stesse cifre sono scritte sopra il grafico."));
    }
    vista->setRenderHint(QPainter::Antialiasing);
    auto *colonna = new QVBoxLayout(this);
    colonna->setContentsMargins(0, 0, 0, 0);
    colonna->addWidget(vista);
    aggiorna();
}

GraficoRipetizione::~GraficoRipetizione() = default;

void GraficoRipetizione::aggiungi(const RisultatoRichiesta &risultato, double secondi)
{
    if (risultato.esito == RisultatoRichiesta::Esito::Risposta) {
        if (risultato.valore)
            aggiungiPunto(d->puntiValori, QPointF(secondi, *risultato.valore));
        aggiungiPunto(d->puntiLatenze, QPointF(secondi, *risultato.latenzaUs / 1000.0));
    } else if (risultato.esito != RisultatoRichiesta::Esito::Interrotta) {
        aggiungiPunto(d->puntiMancate, QPointF(secondi, 0));
    }
    d->daAggiornare = true;
}

void GraficoRipetizione::azzera()
{
    d->puntiValori.clear();
    d->puntiLatenze.clear();
    d->puntiMancate.clear();
    d->daAggiornare = true;
    aggiorna();
}

// One replace per series, not one update per point; the axes move rather than being rebuilt.
void GraficoRipetizione::aggiorna()
{
    if (!d->daAggiornare)
        return;
    d->daAggiornare = false;
    const StatisticheRipetizione &s = d->statistiche;
    const double minimo = s.valoreMinimo().value_or(0);
    const double massimo = s.valoreMassimo().value_or(1);
    const double margine = std::max(1.0, (massimo - minimo) * 0.1);
    // The words are unsigned: the axis starts at 0 at the lowest, and its ticks fall on round
    // numbers.
    d->assiValori->setRange(std::max(0.0, minimo - margine), massimo + margine);
    d->assiValori->applyNiceNumbers();
    d->assiLatenze->setRange(0, std::max(0.1, s.latenzaMassimaUs().value_or(0) / 1000.0 * 1.1));
    d->assiLatenze->applyNiceNumbers();

    double primo = 0, ultimo = 1;
    bool vuoto = true;
    for (const std::deque<QPointF> *punti : {&d->puntiValori, &d->puntiLatenze, &d->puntiMancate}) {
        if (punti->empty())
            continue;
        primo = vuoto ? punti->front().x() : std::min(primo, punti->front().x());
        ultimo = vuoto ? punti->back().x() : std::max(ultimo, punti->back().x());
        vuoto = false;
    }
    d->tempo->setRange(primo, std::max(ultimo, primo + 1));
    d->tempo->applyNiceNumbers();

    d->valori->replace(comeLista(d->puntiValori));
    d->latenze->replace(comeLista(d->puntiLatenze));
    // Requests without a value are marked along the bottom of the chart, on the time axis.
    QList<QPointF> mancate = comeLista(d->puntiMancate);
    for (QPointF &punto : mancate)
        punto.setY(d->assiValori->min());
    d->mancate->replace(mancate);
}
