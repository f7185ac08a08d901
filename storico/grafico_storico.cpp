#include "grafico_storico.h"

#include "numeri_italiani.h"
#include "testi_storico.h"

#include <QChart>
#include <QChartView>
#include <QCursor>
#include <QEvent>
#include <QLineSeries>
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

} // namespace

struct GraficoStorico::Disegno
{
    QChart *grafico = new QChart;
    QLineSeries *valori = nullptr;
    QScatterSeries *fuori = nullptr;
    QLineSeries *minimo = nullptr;
    QLineSeries *massimo = nullptr;
    QValueAxis *prove = nullptr;
    QValueAxis *asseValori = nullptr;
    QChartView *vista = nullptr;
    QList<Archivio::Punto> punti; // as drawn: run i + 1 is punti[i]
    QString unita;
};

GraficoStorico::GraficoStorico(QWidget *parent)
    : QWidget(parent)
    , d(std::make_unique<Disegno>())
{
    setObjectName(QStringLiteral("graficoStorico"));
    d->valori = new QLineSeries(this);
    d->valori->setName(QStringLiteral("valore"));
    d->valori->setPointsVisible(true);
    d->fuori = new QScatterSeries(this);
    d->fuori->setName(QStringLiteral("fuori dai limiti"));
    d->fuori->setColor(Qt::red);
    d->fuori->setMarkerSize(9);
    d->prove = new QValueAxis(this);
    d->prove->setTitleText(QStringLiteral("prova, in ordine di tempo"));
    d->prove->setLabelFormat(QStringLiteral("%.0f"));
    d->asseValori = new QValueAxis(this);
    d->asseValori->setLabelFormat(QStringLiteral("%.6g"));
    d->grafico->setLocalizeNumbers(true);
    d->grafico->setLocale(QLocale(QLocale::Italian, QLocale::Italy));
    d->grafico->addAxis(d->prove, Qt::AlignBottom);
    d->grafico->addAxis(d->asseValori, Qt::AlignLeft);
    QList<QAbstractSeries *> serie{d->valori, d->fuori};
    // The two limits told apart without colour too: the minimum dash-dotted, the maximum dashed.
    for (auto [linea, nome, colore, stile] :
        {std::tuple{&d->minimo, "limite minimo", QColor(0x00, 0x5A, 0xB5), Qt::DashDotLine},
            std::tuple{&d->massimo, "limite massimo", QColor(0xC0, 0x00, 0x00), Qt::DashLine}}) {
        *linea = new QLineSeries(this);
        (*linea)->setName(QString::fromLatin1(nome));
        QPen tratto(colore);
        tratto.setStyle(stile);
        tratto.setWidth(2);
        (*linea)->setPen(tratto);
        serie.append(*linea);
    }
    for (QXYSeries *punti :
        {static_cast<QXYSeries *>(d->valori), static_cast<QXYSeries *>(d->fuori)})
        connect(punti, &QXYSeries::hovered, this, &GraficoStorico::descrivi);
    for (QAbstractSeries *s : serie) {
        d->grafico->addSeries(s);
        s->attachAxis(d->prove);
        s->attachAxis(d->asseValori);
    }
    d->grafico->legend()->setAlignment(Qt::AlignBottom);
    d->grafico->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
    auto *vista = new QChartView(d->grafico, this);
    d->vista = vista;
    vista->setRenderHint(QPainter::Antialiasing);
    vista->setFocusPolicy(Qt::NoFocus);
    vista->viewport()->setFocusPolicy(Qt::NoFocus);
    vista->viewport()->installEventFilter(new SenzaSuggerimenti(vista));
    for (QWidget *parte : {static_cast<QWidget *>(this), static_cast<QWidget *>(vista)}) {
        parte->setAccessibleName(QStringLiteral("Grafico della riga nelle prove"));
        parte->setAccessibleDescription(QStringLiteral(
            "Il valore della riga scelta in ogni prova filtrata, in ordine di tempo, con il "
            "limite minimo in blu a tratto e punto, il massimo in rosso tratteggiato e in "
            "rosso i valori fuori dai limiti. Le stesse cifre sono nella tabella delle "
            "statistiche."));
    }
    auto *colonna = new QVBoxLayout(this);
    colonna->setContentsMargins(0, 0, 0, 0);
    colonna->addWidget(vista);
}

GraficoStorico::~GraficoStorico() = default;

void GraficoStorico::mostra(const QList<Archivio::Punto> &punti, const QString &nome,
    const QString &unita, std::optional<double> minimo, std::optional<double> massimo)
{
    d->punti = punti;
    d->unita = unita;
    QList<QPointF> valori, fuori;
    valori.reserve(punti.size());
    double basso = minimo.value_or(massimo.value_or(0));
    double alto = massimo.value_or(minimo.value_or(1));
    if (punti.isEmpty() && !minimo && !massimo)
        basso = 0, alto = 1;
    for (qsizetype i = 0; i < punti.size(); ++i) {
        const QPointF punto(double(i + 1), punti[i].valore);
        valori.append(punto);
        if (punti[i].fuori)
            fuori.append(punto);
        if (i == 0 && !minimo && !massimo)
            basso = alto = punti[i].valore;
        basso = std::min(basso, punti[i].valore);
        alto = std::max(alto, punti[i].valore);
    }
    const double margine
        = alto > basso ? (alto - basso) * 0.1 : std::max(std::abs(alto) * 0.01, 1.0);
    d->asseValori->setRange(basso - margine, alto + margine);
    d->asseValori->applyNiceNumbers();
    d->asseValori->setTitleText(TestiStorico::conUnita(nome, unita));
    // A tick per run while they are few, round ones beyond.
    const int quante = int(std::max<qsizetype>(2, punti.size()));
    d->prove->setRange(1, quante);
    if (quante <= 10)
        d->prove->setTickCount(quante);
    else
        d->prove->applyNiceNumbers();
    d->valori->replace(valori);
    d->fuori->replace(fuori);
    for (auto [linea, limite] : {std::pair{d->minimo, minimo}, std::pair{d->massimo, massimo}}) {
        linea->replace(limite ? QList<QPointF>{QPointF(d->prove->min(), *limite),
                           QPointF(d->prove->max(), *limite)}
                              : QList<QPointF>());
    }
}

void GraficoStorico::descrivi(const QPointF &punto, bool sopra)
{
    // The line and the marks out of limits lie on each other: leaving one while entering the
    // other must not hide what the other shows. The text goes once the pointer leaves its spot.
    const qsizetype i = qRound64(punto.x()) - 1;
    if (!sopra || i < 0 || i >= d->punti.size())
        return;
    const Archivio::Punto &p = d->punti.at(i);
    QString valore = NumeriItaliani::daMacchina(QString::number(p.valore, 'g', 6));
    if (!d->unita.isEmpty())
        valore += u' ' + d->unita;
    const QString testo
        = QStringLiteral("Unità in prova: %1\nInizio: %2\nValore: %3%4")
              .arg(p.unita, p.inizio.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                  valore, p.fuori ? QStringLiteral(", fuori dai limiti") : QString());
    // Gone once the pointer leaves the point's spot.
    QWidget *superficie = d->vista->viewport();
    const QPoint dove = QCursor::pos();
    QToolTip::showText(dove, testo, superficie,
        QRect(superficie->mapFromGlobal(dove) - QPoint(6, 6), QSize(12, 12)));
}
