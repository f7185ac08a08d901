#include "grafico_storico.h"

#include "numeri_italiani.h"
#include "testi_storico.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCursor>
#include <QEvent>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QGraphicsSimpleTextItem>
#include <QScatterSeries>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// The chart's items have no tooltips of their own: the view's tooltip event, left to the scene,
// would hide the point's description as soon as the pointer rests on it.
class SenzaSuggerimenti : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject *, QEvent *evento) override
    {
        return evento->type() == QEvent::ToolTip;
    }
};

// Beyond this many values the points are a line alone: markers would hide it, and cost the
// drawing of each.
constexpr qsizetype kPuntiVisibili = 200;
// Beyond this many values a line keeps, of each run of values that share a few pixels, the
// lowest and the highest in their order: the same drawing, for a fraction of the segments.
constexpr qsizetype kSegmentiMassimi = 2000;

QList<QPointF> sfoltito(const QList<QPointF> &punti)
{
    if (punti.size() <= kSegmentiMassimi)
        return punti;
    const qsizetype gruppo = (2 * punti.size() + kSegmentiMassimi - 1) / kSegmentiMassimi;
    QList<QPointF> linea;
    linea.reserve(2 * (punti.size() / gruppo + 1));
    for (qsizetype da = 0; da < punti.size(); da += gruppo) {
        const qsizetype a = std::min(punti.size(), da + gruppo);
        qsizetype basso = da, alto = da;
        for (qsizetype i = da + 1; i < a; ++i) {
            if (punti[i].y() < punti[basso].y())
                basso = i;
            if (punti[i].y() > punti[alto].y())
                alto = i;
        }
        linea.append(punti[std::min(basso, alto)]);
        if (basso != alto)
            linea.append(punti[std::max(basso, alto)]);
    }
    return linea;
}

// Beyond this many points out of control they are marked without their rules' numbers.
constexpr qsizetype kNumeriVisibili = 60;

const QColor kRosso(0xC0, 0x00, 0x00);
const QColor kBlu(0x00, 0x5A, 0xB5);
const QColor kArancio(0xD3, 0x5F, 0x00);
const QColor kVerde(0x1A, 0x7F, 0x37);
const QColor kViola(0x6A, 0x1B, 0x9A);

QChart *nuovoGrafico()
{
    auto *grafico = new QChart;
    grafico->setLocalizeNumbers(true);
    grafico->setLocale(QLocale(QLocale::Italian, QLocale::Italy));
    grafico->legend()->setAlignment(Qt::AlignBottom);
    grafico->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
    grafico->layout()->setContentsMargins(0, 0, 0, 0);
    grafico->setMargins(QMargins(6, 6, 6, 2));
    grafico->setBackgroundRoundness(0);
    return grafico;
}

QChartView *nuovaVista(QChart *grafico, QWidget *genitore, const QString &nome,
    const QString &descrizione)
{
    auto *vista = new QChartView(grafico, genitore);
    vista->setRenderHint(QPainter::Antialiasing);
    vista->setFocusPolicy(Qt::NoFocus);
    vista->viewport()->setFocusPolicy(Qt::NoFocus);
    vista->viewport()->installEventFilter(new SenzaSuggerimenti(vista));
    vista->setAccessibleName(nome);
    vista->setAccessibleDescription(descrizione);
    return vista;
}

QLineSeries *linea(QChart *grafico, const QString &nome, const QColor &colore, Qt::PenStyle stile,
    QObject *genitore)
{
    auto *serie = new QLineSeries(genitore);
    serie->setName(nome);
    QPen tratto(colore);
    tratto.setStyle(stile);
    tratto.setWidth(2);
    serie->setPen(tratto);
    grafico->addSeries(serie);
    return serie;
}

void aggancia(QChart *grafico, QValueAxis *x, QValueAxis *y)
{
    for (QAbstractSeries *s : grafico->series()) {
        if (s->attachedAxes().isEmpty()) {
            s->attachAxis(x);
            s->attachAxis(y);
        }
    }
}

// A horizontal line across the axis, or none.
void orizzontale(QLineSeries *serie, const QValueAxis *asse, std::optional<double> y)
{
    serie->replace(y ? QList<QPointF>{QPointF(asse->min(), *y), QPointF(asse->max(), *y)}
                     : QList<QPointF>());
}

// The values' range, with a margin, on round ticks.
void intervallo(QValueAxis *asse, double basso, double alto)
{
    // A span of rounding traces alone is no span: an axis that narrow is refused, and the
    // chart would keep the last row's.
    const bool largo = alto - basso > std::max(std::abs(alto), 1.0) * 1e-9;
    const double margine
        = largo ? (alto - basso) * 0.08 : std::max(std::abs(alto) * 0.01, 1.0);
    asse->setRange(basso - margine, alto + margine);
    asse->applyNiceNumbers();
}

} // namespace

struct GraficoStorico::Disegno
{
    QChart *carta = nuovoGrafico();
    QChart *escursioni = nuovoGrafico();
    QLineSeries *valori = nullptr;
    QScatterSeries *fuori = nullptr;
    // The points that complete a rule, and over each its rules' numbers ("1", "2, 5"), kept
    // over their point as the chart changes size.
    QScatterSeries *regole = nullptr;
    QList<std::pair<QGraphicsSimpleTextItem *, QPointF>> numeri;
    QLineSeries *specificaSuperiore = nullptr;
    QLineSeries *specificaInferiore = nullptr;
    QLineSeries *lcs = nullptr;
    QLineSeries *media = nullptr;
    QLineSeries *lci = nullptr;
    QLineSeries *mr = nullptr;
    QLineSeries *mrMedio = nullptr;
    QLineSeries *mrLcs = nullptr;
    QValueAxis *prove = nullptr;
    QValueAxis *asseValori = nullptr;
    QValueAxis *proveMr = nullptr;
    QValueAxis *asseMr = nullptr;
    QChartView *vista = nullptr;
    QChartView *vistaMr = nullptr;
    SerieCarta serie; // as drawn: value i + 1 is serie.valori[i]
    QList<QList<int>> regolePunti;
};

GraficoStorico::GraficoStorico(QWidget *parent)
    : QWidget(parent)
    , d(std::make_unique<Disegno>())
{
    setObjectName(QStringLiteral("graficoStorico"));
    QChart *carta = d->carta;
    d->valori = new QLineSeries(this);
    d->valori->setName(QStringLiteral("Valore"));
    carta->addSeries(d->valori);
    d->fuori = new QScatterSeries(this);
    d->fuori->setName(QStringLiteral("Fuori dalla specifica"));
    d->fuori->setColor(kRosso);
    d->fuori->setBorderColor(kRosso);
    d->fuori->setMarkerSize(9);
    carta->addSeries(d->fuori);
    d->regole = new QScatterSeries(this);
    d->regole->setName(QStringLiteral("Regola violata (numero)"));
    d->regole->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
    d->regole->setColor(kArancio);
    d->regole->setBorderColor(Qt::black);
    carta->addSeries(d->regole);
    // The row's own limits and the chart's told apart without colour too: the row's maximum
    // dashed and its minimum dash-dotted, the control limits dotted, the centre solid.
    d->specificaSuperiore = linea(
        carta, QStringLiteral("Limite superiore (specifica)"), kRosso, Qt::DashLine, this);
    d->specificaInferiore = linea(
        carta, QStringLiteral("Limite inferiore (specifica)"), kBlu, Qt::DashDotLine, this);
    d->lcs = linea(carta, QStringLiteral("LCS (controllo)"), kArancio, Qt::DotLine, this);
    d->media = linea(carta, QStringLiteral("Media"), kVerde, Qt::SolidLine, this);
    d->lci = linea(carta, QStringLiteral("LCI (controllo)"), kViola, Qt::DotLine, this);
    d->prove = new QValueAxis(this);
    d->prove->setTitleText(QStringLiteral("prova, in ordine di tempo"));
    d->prove->setLabelFormat(QStringLiteral("%.0f"));
    d->asseValori = new QValueAxis(this);
    d->asseValori->setLabelFormat(QStringLiteral("%.6g"));
    carta->addAxis(d->prove, Qt::AlignBottom);
    carta->addAxis(d->asseValori, Qt::AlignLeft);
    aggancia(carta, d->prove, d->asseValori);
    connect(d->valori, &QXYSeries::hovered, this, &GraficoStorico::descrivi);
    connect(d->fuori, &QXYSeries::hovered, this, &GraficoStorico::descrivi);
    connect(d->regole, &QXYSeries::hovered, this, &GraficoStorico::descrivi);
    connect(carta, &QChart::plotAreaChanged, this, &GraficoStorico::posizionaNumeri);

    QChart *escursioni = d->escursioni;
    // The legends beside the charts, of one width: the moving-range chart, which is low, keeps
    // its height, and the two charts' runs stand one above the other.
    for (QChart *grafico : {carta, escursioni}) {
        QLegend *legenda = grafico->legend();
        legenda->setAlignment(Qt::AlignRight);
        const qreal larghezza = QFontMetricsF(legenda->font()).horizontalAdvance(
                                    QStringLiteral("Limite superiore (specifica)"))
            + 56;
        legenda->setMinimumWidth(larghezza);
        legenda->setMaximumWidth(larghezza);
    }
    d->mr = new QLineSeries(this);
    d->mr->setName(QStringLiteral("Escursione mobile"));
    escursioni->addSeries(d->mr);
    d->mrMedio = linea(escursioni, QStringLiteral("Escursione media"), kVerde, Qt::SolidLine, this);
    d->mrLcs = linea(escursioni, QStringLiteral("LCS (escursione)"), kArancio, Qt::DotLine, this);
    d->proveMr = new QValueAxis(this);
    d->proveMr->setLabelFormat(QStringLiteral("%.0f"));
    d->asseMr = new QValueAxis(this);
    d->asseMr->setLabelFormat(QStringLiteral("%.4g"));
    escursioni->addAxis(d->proveMr, Qt::AlignBottom);
    escursioni->addAxis(d->asseMr, Qt::AlignLeft);
    aggancia(escursioni, d->proveMr, d->asseMr);

    d->vista = nuovaVista(carta, this, QStringLiteral("Carta di controllo della riga"),
        QStringLiteral("I valori della riga scelta in ordine di tempo, con i limiti di specifica "
                       "(il superiore rosso tratteggiato, l'inferiore blu a tratto e punto), la "
                       "media (verde) e i limiti di controllo (punteggiati); in rosso i valori "
                       "fuori dalla specifica, con un triangolo e il numero della regola i valori "
                       "che violano una regola. Le violazioni sono elencate sotto il grafico."));
    d->vistaMr = nuovaVista(escursioni, this, QStringLiteral("Carta delle escursioni mobili"),
        QStringLiteral("La differenza fra ogni valore e il precedente, con la sua media (verde) "
                       "e il suo limite superiore (punteggiato)."));
    setAccessibleName(d->vista->accessibleName());
    auto *colonna = new QVBoxLayout(this);
    colonna->setContentsMargins(0, 0, 0, 0);
    colonna->addWidget(d->vista, 3);
    colonna->addWidget(d->vistaMr, 2);
    svuota();
}

GraficoStorico::~GraficoStorico() = default;

void GraficoStorico::svuota()
{
    SerieCarta vuota;
    mostra(vuota, CartaControllo::Analisi{});
}

void GraficoStorico::mostra(const SerieCarta &serie, const CartaControllo::Analisi &analisi)
{
    d->serie = serie;
    d->regolePunti = analisi.regole;
    const QList<double> &v = serie.valori;
    const qsizetype n = v.size();

    QList<QPointF> valori, fuori, regole;
    QStringList numeri;
    valori.reserve(n);
    double basso = 0, alto = 1;
    bool primo = true;
    const auto comprendi = [&](double y) {
        if (primo)
            basso = alto = y, primo = false;
        basso = std::min(basso, y);
        alto = std::max(alto, y);
    };
    if (analisi.limiti) {
        comprendi(analisi.limiti->superiore());
        comprendi(analisi.limiti->inferiore());
    }
    for (qsizetype i = 0; i < n; ++i) {
        const QPointF punto(double(i + 1), v[i]);
        valori.append(punto);
        comprendi(v[i]);
        if ((serie.minimo && v[i] < *serie.minimo) || (serie.massimo && v[i] > *serie.massimo))
            fuori.append(punto);
        if (i < analisi.regole.size() && !analisi.regole[i].isEmpty()) {
            QStringList quali;
            for (int regola : analisi.regole[i])
                quali << QString::number(regola);
            regole.append(punto);
            numeri.append(quali.join(QStringLiteral(", ")));
        }
    }
    // A row's limit far from a process that keeps well within it would flatten the chart: it
    // is drawn where it lies within three and a half spans of the values and control limits.
    const double ampiezza = std::max(alto - basso, std::abs(alto) * 1e-6);
    const double mezzo = (basso + alto) / 2;
    const bool vuoto = primo;
    for (const std::optional<double> &limite : {serie.minimo, serie.massimo}) {
        if (limite && (vuoto || std::abs(*limite - mezzo) <= 3.5 * ampiezza))
            comprendi(*limite);
    }
    intervallo(d->asseValori, basso, alto);
    d->asseValori->setTitleText(TestiStorico::conUnita(serie.nome, serie.unitaMisura));
    // A tick per value while they are few, round ones beyond.
    const int quante = int(std::max<qsizetype>(2, n));
    for (QValueAxis *asse : {d->prove, d->proveMr}) {
        asse->setRange(1, quante);
        if (quante <= 10)
            asse->setTickCount(quante);
        else
            asse->applyNiceNumbers();
    }
    d->valori->setPointsVisible(n <= kPuntiVisibili);
    // Smoothing thousands of short segments costs half the drawing and shows nothing more.
    for (QChartView *vista : {d->vista, d->vistaMr})
        vista->setRenderHint(QPainter::Antialiasing, n <= kSegmentiMassimi);
    d->valori->replace(sfoltito(valori));
    d->fuori->replace(fuori);
    orizzontale(d->specificaSuperiore, d->prove, serie.massimo);
    orizzontale(d->specificaInferiore, d->prove, serie.minimo);
    std::optional<double> lcs, media, lci, mrMedio, mrLcs;
    if (analisi.limiti) {
        lcs = analisi.limiti->superiore();
        media = analisi.limiti->centro;
        lci = analisi.limiti->inferiore();
        mrMedio = analisi.limiti->mrMedio;
        mrLcs = analisi.limiti->superioreMr();
    }
    orizzontale(d->lcs, d->prove, lcs);
    orizzontale(d->media, d->prove, media);
    orizzontale(d->lci, d->prove, lci);

    // Many points out of control are a drift or a shift the marks show: their numbers, one on
    // another, would only hide them. Then the list under the chart says which rules.
    const bool conNumeri = regole.size() <= kNumeriVisibili;
    d->regole->setMarkerSize(conNumeri ? 14 : 8);
    d->regole->setBorderColor(conNumeri ? QColor(Qt::black) : kArancio);
    d->regole->replace(regole);
    for (const auto &[testo, punto] : std::as_const(d->numeri))
        delete testo;
    d->numeri.clear();
    if (conNumeri) {
        QFont grassetto = d->carta->font();
        grassetto.setBold(true);
        for (qsizetype i = 0; i < regole.size(); ++i) {
            auto *testo = new QGraphicsSimpleTextItem(numeri.at(i), d->carta);
            testo->setFont(grassetto);
            testo->setZValue(10);
            d->numeri.append({testo, regole.at(i)});
        }
    }
    posizionaNumeri();

    // The moving ranges: |x_i - x_(i-1)| at value i.
    QList<QPointF> escursioni;
    escursioni.reserve(n);
    double massimaMr = mrLcs.value_or(0);
    for (qsizetype i = 1; i < n; ++i) {
        const double mr = std::abs(v[i] - v[i - 1]);
        escursioni.append(QPointF(double(i + 1), mr));
        massimaMr = std::max(massimaMr, mr);
    }
    d->asseMr->setRange(0, massimaMr > 0 ? massimaMr * 1.08 : 1);
    d->asseMr->applyNiceNumbers();
    d->asseMr->setTitleText(TestiStorico::conUnita(QStringLiteral("Escursione"), serie.unitaMisura));
    d->mr->setPointsVisible(n <= kPuntiVisibili);
    d->mr->replace(sfoltito(escursioni));
    orizzontale(d->mrMedio, d->proveMr, mrMedio);
    orizzontale(d->mrLcs, d->proveMr, mrLcs);
    emit mostrato();
}

void GraficoStorico::posizionaNumeri()
{
    // Left to right, a number that would cover the one before is left out: the list under the
    // chart has every point's rules.
    QRectF ultimo;
    for (const auto &[testo, punto] : std::as_const(d->numeri)) {
        const QPointF dove = d->carta->mapToPosition(punto, d->regole);
        const QRectF misura = testo->boundingRect();
        testo->setPos(dove.x() - misura.width() / 2, dove.y() - misura.height() - 8);
        const QRectF qui = testo->mapRectToParent(misura).adjusted(-2, 0, 2, 0);
        const bool libero = !qui.intersects(ultimo);
        testo->setVisible(libero);
        if (libero)
            ultimo = qui;
    }
}

void GraficoStorico::descrivi(const QPointF &punto, bool sopra)
{
    // The line and the marks lie on each other: leaving one while entering the other must not
    // hide what the other shows. The text goes once the pointer leaves its spot.
    const qsizetype i = qRound64(punto.x()) - 1;
    if (!sopra || i < 0 || i >= d->serie.valori.size())
        return;
    const double v = d->serie.valori.at(i);
    QString valore = NumeriItaliani::daMacchina(QString::number(v, 'g', 6));
    if (!d->serie.unitaMisura.isEmpty())
        valore += u' ' + d->serie.unitaMisura;
    if ((d->serie.minimo && v < *d->serie.minimo) || (d->serie.massimo && v > *d->serie.massimo))
        valore += QStringLiteral(", fuori dalla specifica");
    QStringList righe{QStringLiteral("Valore %1 di %2")
            .arg(NumeriItaliani::intero(i + 1), NumeriItaliani::intero(d->serie.valori.size()))};
    if (i < d->serie.unita.size())
        righe << QStringLiteral("Unità in prova: ") + d->serie.unita.at(i);
    if (i < d->serie.inizi.size())
        righe << QStringLiteral("Inizio: ")
                + d->serie.inizi.at(i).toLocalTime().toString(
                    QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    righe << QStringLiteral("Valore: ") + valore;
    for (int regola : d->regolePunti.value(i))
        righe << QStringLiteral("Regola %1: %2")
                     .arg(QString::number(regola), CartaControllo::testoRegola(regola));
    // Gone once the pointer leaves the point's spot.
    QWidget *superficie = d->vista->viewport();
    const QPoint dove = QCursor::pos();
    QToolTip::showText(dove, righe.join(u'\n'), superficie,
        QRect(superficie->mapFromGlobal(dove) - QPoint(6, 6), QSize(12, 12)));
}

struct GraficoPareto::Disegno
{
    QChart *grafico = nuovoGrafico();
    QBarSeries *barre = nullptr;
    QBarSet *fallite = nullptr;
    QLineSeries *cumulata = nullptr;
    QBarCategoryAxis *righe = nullptr;
    QValueAxis *conteggi = nullptr;
    QValueAxis *percento = nullptr;
};

GraficoPareto::GraficoPareto(QWidget *parent)
    : QWidget(parent)
    , d(std::make_unique<Disegno>())
{
    setObjectName(QStringLiteral("graficoPareto"));
    d->fallite = new QBarSet(QStringLiteral("Prove fallite"), this);
    d->fallite->setColor(kBlu);
    d->barre = new QBarSeries(this);
    d->barre->append(d->fallite);
    d->cumulata = new QLineSeries(this);
    d->cumulata->setName(QStringLiteral("Percentuale cumulata"));
    QPen tratto(kArancio);
    tratto.setWidth(2);
    d->cumulata->setPen(tratto);
    d->cumulata->setPointsVisible(true);
    d->grafico->addSeries(d->barre);
    d->grafico->addSeries(d->cumulata);
    d->righe = new QBarCategoryAxis(this);
    d->conteggi = new QValueAxis(this);
    d->conteggi->setLabelFormat(QStringLiteral("%.0f"));
    d->conteggi->setTitleText(QStringLiteral("prove fallite"));
    d->percento = new QValueAxis(this);
    d->percento->setRange(0, 100);
    d->percento->setTickCount(5);
    d->percento->setLabelFormat(QStringLiteral("%.0f"));
    d->percento->setTitleText(QStringLiteral("cumulata (%)"));
    d->grafico->addAxis(d->righe, Qt::AlignBottom);
    d->grafico->addAxis(d->conteggi, Qt::AlignLeft);
    d->grafico->addAxis(d->percento, Qt::AlignRight);
    d->barre->attachAxis(d->righe);
    d->barre->attachAxis(d->conteggi);
    d->cumulata->attachAxis(d->righe);
    d->cumulata->attachAxis(d->percento);
    d->grafico->setTitle(QStringLiteral("Righe che falliscono (Pareto)"));
    d->grafico->legend()->setMarkerShape(QLegend::MarkerShapeDefault);
    auto *vista = nuovaVista(d->grafico, this, QStringLiteral("Pareto delle righe che falliscono"),
        QStringLiteral("Le righe che falliscono, dalla più frequente, a barre, con la linea della "
                       "percentuale cumulata. Le stesse cifre sono nella tabella delle rese per "
                       "riga."));
    setAccessibleName(vista->accessibleName());
    auto *colonna = new QVBoxLayout(this);
    colonna->setContentsMargins(0, 0, 0, 0);
    colonna->addWidget(vista);
    mostra({});
}

GraficoPareto::~GraficoPareto() = default;

void GraficoPareto::mostra(const QList<CartaControllo::VocePareto> &voci)
{
    QStringList nomi;
    QList<qreal> conteggi;
    QList<QPointF> cumulata;
    qint64 massimo = 1;
    for (const CartaControllo::VocePareto &v : voci) {
        cumulata.append(QPointF(double(nomi.size()), v.cumulata));
        nomi << v.nome;
        conteggi << double(v.conteggio);
        massimo = std::max(massimo, v.conteggio);
    }
    d->fallite->remove(0, d->fallite->count());
    d->fallite->append(conteggi);
    d->righe->clear();
    d->righe->append(nomi.isEmpty() ? QStringList{QStringLiteral("nessuna riga fallita")} : nomi);
    // Whole counts: a tick every passo failures, some five of them.
    const qint64 passo = std::max<qint64>(1, (massimo + 4) / 5);
    d->conteggi->setRange(0, double(passo * ((massimo + passo - 1) / passo)));
    d->conteggi->setTickType(QValueAxis::TicksDynamic);
    d->conteggi->setTickAnchor(0);
    d->conteggi->setTickInterval(double(passo));
    d->cumulata->replace(cumulata);
}
