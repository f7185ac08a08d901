#include "grafico_ripetizione.h"

#include "registro_traffico.h"

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

std::pair<double, double> estremi(const std::deque<QPointF> &punti)
{
    const auto [minimo, massimo] = std::minmax_element(punti.begin(), punti.end(),
        [](const QPointF &a, const QPointF &b) { return a.y() < b.y(); });
    return {minimo->y(), massimo->y()};
}

} // namespace

struct GraficoRipetizione::Disegno
{
    Disegno(const Scala &s, QObject *genitore)
        : scala(s)
        , grafico(new QChart)
        , valori(new QLineSeries(genitore))
        , latenze(new QLineSeries(genitore))
        , mancate(new QScatterSeries(genitore))
        , tempo(new QValueAxis(genitore))
        , assiValori(new QValueAxis(genitore))
        , assiLatenze(new QValueAxis(genitore))
    {
        if (!scala.valore)
            scala.valore = [](quint16 parola) { return double(parola); };
    }

    Scala scala;
    QChart *grafico;
    QLineSeries *valori;
    QLineSeries *latenze;
    QScatterSeries *mancate;
    QValueAxis *tempo;
    QValueAxis *assiValori;
    QValueAxis *assiLatenze;
    QList<std::pair<QLineSeries *, double>> limiti;
    std::deque<QPointF> puntiValori;
    std::deque<QPointF> puntiLatenze;
    std::deque<QPointF> puntiMancate;
    bool daAggiornare = true;
};

GraficoRipetizione::GraficoRipetizione(QWidget *parent)
    : GraficoRipetizione(Scala(), parent)
{ }

GraficoRipetizione::GraficoRipetizione(const Scala &scala, QWidget *parent)
    : QWidget(parent)
    , d(std::make_unique<Disegno>(scala, this))
{
    d->valori->setName(QStringLiteral("valore"));
    d->latenze->setName(QStringLiteral("latenza (ms)"));
    d->mancate->setName(QStringLiteral("senza risposta o errore"));
    d->mancate->setColor(Qt::red);
    d->mancate->setMarkerSize(7);
    d->grafico->setLocalizeNumbers(true);
    d->grafico->setLocale(QLocale(QLocale::Italian, QLocale::Italy));
    d->grafico->addSeries(d->valori);
    d->grafico->addSeries(d->mancate);
    d->tempo->setTitleText(QStringLiteral("tempo (s)"));
    d->assiValori->setTitleText(d->scala.titolo);
    d->assiLatenze->setTitleText(QStringLiteral("latenza (ms)"));
    for (QValueAxis *asse : {d->tempo, d->assiValori, d->assiLatenze})
        asse->setLabelFormat(QStringLiteral("%.6g"));
    d->grafico->addAxis(d->tempo, Qt::AlignBottom);
    d->grafico->addAxis(d->assiValori, Qt::AlignLeft);
    for (QAbstractSeries *serie : {static_cast<QAbstractSeries *>(d->valori),
             static_cast<QAbstractSeries *>(d->mancate)}) {
        serie->attachAxis(d->tempo);
        serie->attachAxis(d->assiValori);
    }
    if (d->scala.conLatenza) {
        d->grafico->addSeries(d->latenze);
        d->grafico->addAxis(d->assiLatenze, Qt::AlignRight);
        d->latenze->attachAxis(d->tempo);
        d->latenze->attachAxis(d->assiLatenze);
    }
    for (const auto &[limite, nome] : {std::pair{d->scala.minimo, QStringLiteral("minimo")},
             std::pair{d->scala.massimo, QStringLiteral("massimo")}}) {
        if (!limite)
            continue;
        auto *linea = new QLineSeries(this);
        linea->setName(nome);
        QPen tratto(QColor(0xC0, 0x00, 0x00));
        tratto.setStyle(Qt::DashLine);
        tratto.setWidth(2);
        linea->setPen(tratto);
        d->grafico->addSeries(linea);
        linea->attachAxis(d->tempo);
        linea->attachAxis(d->assiValori);
        d->limiti.append({linea, *limite});
    }
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
            aggiungiPunto(d->puntiValori, QPointF(secondi, d->scala.valore(*risultato.valore)));
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
    // The values kept and the limits drawn, with a margin, on round ticks.
    std::optional<std::pair<double, double>> intervallo;
    if (!d->puntiValori.empty())
        intervallo = estremi(d->puntiValori);
    for (const auto &[linea, limite] : std::as_const(d->limiti)) {
        const auto [basso, alto] = intervallo.value_or(std::pair{limite, limite});
        intervallo = std::pair{std::min(basso, limite), std::max(alto, limite)};
    }
    const auto [minimo, massimo] = intervallo.value_or(std::pair{0.0, 1.0});
    const double margine
        = massimo > minimo ? (massimo - minimo) * 0.1 : std::max(std::abs(massimo) * 0.01, 1.0);
    d->assiValori->setRange(minimo - margine, massimo + margine);
    d->assiValori->applyNiceNumbers();
    const double latenzaMassima = d->puntiLatenze.empty() ? 0.0 : estremi(d->puntiLatenze).second;
    d->assiLatenze->setRange(0, std::max(0.1, latenzaMassima * 1.1));
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
    for (const auto &[linea, limite] : std::as_const(d->limiti))
        linea->replace({QPointF(d->tempo->min(), limite), QPointF(d->tempo->max(), limite)});
    // Requests without a value are marked along the bottom of the chart, on the time axis.
    QList<QPointF> mancate = comeLista(d->puntiMancate);
    for (QPointF &punto : mancate)
        punto.setY(d->assiValori->min());
    d->mancate->replace(mancate);
}
