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
#include <QLegendMarker>
#include <QLineSeries>
#include <QMap>
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

void mostraNellaLegenda(QChart *grafico, QAbstractSeries *serie, bool visibile)
{
    for (QLegendMarker *segno : grafico->legend()->markers(serie))
        segno->setVisible(visibile);
}

// The values' range, with a margin, on round ticks.
void intervallo(QValueAxis *asse, double basso, double alto)
{
    const double margine
        = alto > basso ? (alto - basso) * 0.08 : std::max(std::abs(alto) * 0.01, 1.0);
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
    // The points that complete a rule, one series per label ("1", "2, 5"): a series has one
    // label format for all its points. The first is named in the legend.
    QList<QScatterSeries *> regole;
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
    // Specification and control told apart without colour too: the specification dashed (the
    // upper) and dash-dotted (the lower), the control limits dotted, the centre solid.
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

    QChart *escursioni = d->escursioni;
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

    QList<QPointF> valori, fuori;
    QMap<QString, QList<QPointF>> etichettati;
    valori.reserve(n);
    double basso = 0, alto = 1;
    bool primo = true;
    const auto comprendi = [&](double y) {
        if (primo)
            basso = alto = y, primo = false;
        basso = std::min(basso, y);
        alto = std::max(alto, y);
    };
    for (const std::optional<double> &limite : {serie.minimo, serie.massimo}) {
        if (limite)
            comprendi(*limite);
    }
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
            QStringList numeri;
            for (int regola : analisi.regole[i])
                numeri << QString::number(regola);
            etichettati[numeri.join(QStringLiteral(", "))].append(punto);
        }
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
    d->valori->replace(valori);
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

    while (d->regole.size() < etichettati.size()) {
        auto *segni = new QScatterSeries(this);
        segni->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
        segni->setMarkerSize(14);
        segni->setColor(kArancio);
        segni->setBorderColor(Qt::black);
        segni->setPointLabelsVisible(true);
        segni->setPointLabelsClipping(false);
        QFont grassetto = segni->pointLabelsFont();
        grassetto.setBold(true);
        segni->setPointLabelsFont(grassetto);
        segni->setName(d->regole.isEmpty() ? QStringLiteral("Viola una regola (il suo numero)")
                                           : QString());
        d->carta->addSeries(segni);
        segni->attachAxis(d->prove);
        segni->attachAxis(d->asseValori);
        connect(segni, &QXYSeries::hovered, this, &GraficoStorico::descrivi);
        d->regole.append(segni);
    }
    qsizetype k = 0;
    for (auto voce = etichettati.cbegin(); voce != etichettati.cend(); ++voce, ++k) {
        d->regole[k]->setPointLabelsFormat(voce.key());
        d->regole[k]->replace(voce.value());
    }
    for (; k < d->regole.size(); ++k)
        d->regole[k]->replace(QList<QPointF>());
    for (qsizetype i = 0; i < d->regole.size(); ++i)
        mostraNellaLegenda(d->carta, d->regole[i], i == 0 && !etichettati.isEmpty());
    mostraNellaLegenda(d->carta, d->fuori, !fuori.isEmpty());

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
    d->mr->replace(escursioni);
    orizzontale(d->mrMedio, d->proveMr, mrMedio);
    orizzontale(d->mrLcs, d->proveMr, mrLcs);
    emit mostrato();
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
    QStringList righe{QStringLiteral("Valore %1 di %2").arg(QString::number(i + 1), QString::number(d->serie.valori.size()))};
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
    d->percento->setLabelFormat(QStringLiteral("%.0f %%"));
    d->percento->setTitleText(QStringLiteral("cumulata"));
    d->grafico->addAxis(d->righe, Qt::AlignBottom);
    d->grafico->addAxis(d->conteggi, Qt::AlignLeft);
    d->grafico->addAxis(d->percento, Qt::AlignRight);
    d->barre->attachAxis(d->righe);
    d->barre->attachAxis(d->conteggi);
    d->cumulata->attachAxis(d->righe);
    d->cumulata->attachAxis(d->percento);
    d->grafico->setTitle(QStringLiteral("Righe che falliscono (Pareto)"));
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
    d->conteggi->setRange(0, double(massimo));
    d->conteggi->applyNiceNumbers();
    d->cumulata->replace(cumulata);
}
