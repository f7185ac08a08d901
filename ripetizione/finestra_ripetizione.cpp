#include "finestra_ripetizione.h"

#include "ripetizione_richieste.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QScatterSeries>
#include <QShortcut>
#include <QSpinBox>
#include <QTime>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

// The chart is redrawn a few times a second at most, whatever the pace of the requests.
constexpr auto kAggiornamento = 250ms;

QString numero(const std::optional<double> &valore, int decimali = 0)
{
    return valore ? QString::number(*valore, 'f', decimali) : QStringLiteral("—");
}

QString millisecondi(const std::optional<qint64> &us)
{
    return us ? QString::number(*us / 1000.0, 'f', 2) : QStringLiteral("—");
}

template<typename T> std::optional<double> comeReale(const std::optional<T> &valore)
{
    return valore ? std::optional<double>(double(*valore)) : std::nullopt;
}

void aggiungiPunto(std::deque<QPointF> &punti, QPointF punto)
{
    punti.push_back(punto);
    if (punti.size() > FinestraRipetizione::kPuntiNelGrafico)
        punti.pop_front();
}

QList<QPointF> comeLista(const std::deque<QPointF> &punti)
{
    return QList<QPointF>(punti.begin(), punti.end());
}

} // namespace

FinestraRipetizione::FinestraRipetizione(RipetizioneRichieste &ripetizione, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ripetizione(ripetizione)
    , m_pausa(new QSpinBox(this))
    , m_quante(new QSpinBox(this))
    , m_fermatiAlPrimoErrore(new QCheckBox(QStringLiteral("fermati al primo errore"), this))
    , m_file(new QLabel(this))
    , m_avvia(new QPushButton(QStringLiteral("&Avvia"), this))
    , m_ferma(new QPushButton(QStringLiteral("&Ferma"), this))
    , m_cifre(new QLabel(this))
    , m_grafico(new QChart)
    , m_valori(new QLineSeries(this))
    , m_latenze(new QLineSeries(this))
    , m_mancate(new QScatterSeries(this))
    , m_tempo(new QValueAxis(this))
    , m_assiValori(new QValueAxis(this))
    , m_assiLatenze(new QValueAxis(this))
{
    setObjectName(QStringLiteral("finestraRipetizione"));
    setWindowTitle(QStringLiteral("Ripeti"));
    resize(560, 520);

    m_pausa->setObjectName(QStringLiteral("pausa"));
    m_pausa->setRange(0, 3'600'000);
    m_pausa->setSuffix(QStringLiteral(" ms"));
    m_quante->setObjectName(QStringLiteral("quante"));
    m_quante->setRange(0, 1'000'000'000);
    m_quante->setSpecialValueText(QStringLiteral("fino allo stop"));
    m_quante->setValue(0);
    m_fermatiAlPrimoErrore->setObjectName(QStringLiteral("fermatiAlPrimoErrore"));
    m_file->setObjectName(QStringLiteral("fileRegistro"));
    m_file->setText(QStringLiteral("nessuno"));
    m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_avvia->setObjectName(QStringLiteral("avvia"));
    m_ferma->setObjectName(QStringLiteral("ferma"));
    m_cifre->setObjectName(QStringLiteral("cifre"));
    m_cifre->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *scegli = new QPushButton(QStringLiteral("File di &registro…"), this);
    auto *azzera = new QPushButton(QStringLiteral("A&zzera"), this);
    auto *riga = new QHBoxLayout;
    riga->addWidget(m_file, 1);
    riga->addWidget(scegli);
    auto *modulo = new QFormLayout;
    modulo->addRow(QStringLiteral("Pausa fra le richieste:"), m_pausa);
    modulo->addRow(QStringLiteral("Quante richieste:"), m_quante);
    modulo->addRow(QString(), m_fermatiAlPrimoErrore);
    modulo->addRow(QStringLiteral("File di registro (CSV):"), riga);
    auto *pulsanti = new QHBoxLayout;
    pulsanti->addWidget(m_avvia);
    pulsanti->addWidget(m_ferma);
    pulsanti->addStretch(1);
    pulsanti->addWidget(azzera);

    m_valori->setName(QStringLiteral("valore"));
    m_latenze->setName(QStringLiteral("latenza (ms)"));
    m_mancate->setName(QStringLiteral("senza risposta o errore"));
    m_mancate->setColor(Qt::red);
    m_mancate->setMarkerSize(7);
    m_grafico->addSeries(m_valori);
    m_grafico->addSeries(m_latenze);
    m_grafico->addSeries(m_mancate);
    m_tempo->setTitleText(QStringLiteral("s"));
    m_tempo->setLabelFormat(QStringLiteral("%.0f"));
    m_assiValori->setLabelFormat(QStringLiteral("%g"));
    m_assiLatenze->setLabelFormat(QStringLiteral("%.2f"));
    m_grafico->addAxis(m_tempo, Qt::AlignBottom);
    m_grafico->addAxis(m_assiValori, Qt::AlignLeft);
    m_grafico->addAxis(m_assiLatenze, Qt::AlignRight);
    for (QAbstractSeries *serie :
        {static_cast<QAbstractSeries *>(m_valori), static_cast<QAbstractSeries *>(m_mancate)}) {
        serie->attachAxis(m_tempo);
        serie->attachAxis(m_assiValori);
    }
    m_latenze->attachAxis(m_tempo);
    m_latenze->attachAxis(m_assiLatenze);
    m_grafico->legend()->setAlignment(Qt::AlignBottom);
    auto *vista = new QChartView(m_grafico, this);
    vista->setObjectName(QStringLiteral("grafico"));
    vista->setRenderHint(QPainter::Antialiasing);

    auto *colonna = new QVBoxLayout(this);
    colonna->addLayout(modulo);
    colonna->addLayout(pulsanti);
    colonna->addWidget(m_cifre);
    colonna->addWidget(vista, 1);

    connect(m_avvia, &QPushButton::clicked, this, &FinestraRipetizione::avvia);
    connect(m_ferma, &QPushButton::clicked, this, &FinestraRipetizione::ferma);
    connect(scegli, &QPushButton::clicked, this, &FinestraRipetizione::scegliFile);
    connect(azzera, &QPushButton::clicked, this, &FinestraRipetizione::azzera);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
        &FinestraRipetizione::ferma);
    connect(&m_ripetizione, &RipetizioneRichieste::risultato, this, &FinestraRipetizione::aggiungi);
    connect(
        &m_ripetizione, &RipetizioneRichieste::terminata, this, &FinestraRipetizione::terminata);
    m_aggiornamento.setInterval(kAggiornamento);
    connect(&m_aggiornamento, &QTimer::timeout, this, &FinestraRipetizione::aggiornaGrafico);
    aggiornaCifre();
    aggiornaGrafico();
    aggiornaPulsanti();
}

void FinestraRipetizione::avvia()
{
    if (m_ripetizione.inCorso())
        return;
    m_ripetizione.avvia({m_pausa->value(), m_quante->value(), m_fermatiAlPrimoErrore->isChecked()});
    m_aggiornamento.start();
    aggiornaPulsanti();
}

void FinestraRipetizione::ferma()
{
    m_ripetizione.ferma();
}

// Closing the window ends the repetition, as closing the panel ends a request.
void FinestraRipetizione::closeEvent(QCloseEvent *evento)
{
    m_ripetizione.ferma();
    QWidget::closeEvent(evento);
}

void FinestraRipetizione::scegliFile()
{
    auto *dialogo = new QFileDialog(this, QStringLiteral("File di registro della ripetizione"),
        QDir::home().filePath(QStringLiteral("ripetizione.csv")), QStringLiteral("CSV (*.csv)"));
    dialogo->setObjectName(QStringLiteral("dialogoRegistro"));
    dialogo->setAcceptMode(QFileDialog::AcceptSave);
    dialogo->setDefaultSuffix(QStringLiteral("csv"));
    dialogo->setOption(QFileDialog::DontConfirmOverwrite); // rows are appended to it
    dialogo->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialogo, &QFileDialog::fileSelected, this, [this](const QString &percorso) {
        QString errore;
        if (m_ripetizione.impostaFileRegistro(percorso, &errore)) {
            m_file->setText(QDir::toNativeSeparators(percorso));
            return;
        }
        m_file->setText(QStringLiteral("nessuno"));
        auto *messaggio = new QMessageBox(QMessageBox::Warning, QStringLiteral("Ripeti: errore"),
            QStringLiteral("Impossibile scrivere il registro in %1: %2. Scegliere un'altra "
                           "cartella o un altro nome.")
                .arg(QDir::toNativeSeparators(percorso), errore),
            QMessageBox::Ok, this);
        messaggio->setAttribute(Qt::WA_DeleteOnClose);
        messaggio->open();
    });
    dialogo->open();
}

void FinestraRipetizione::aggiungi(const RisultatoRichiesta &risultato)
{
    const double secondi = m_ripetizione.statistiche().trascorsoMs() / 1000.0;
    if (risultato.esito == RisultatoRichiesta::Esito::Risposta) {
        if (risultato.valore)
            aggiungiPunto(m_puntiValori, QPointF(secondi, *risultato.valore));
        aggiungiPunto(m_puntiLatenze, QPointF(secondi, *risultato.latenzaUs / 1000.0));
    } else if (risultato.esito != RisultatoRichiesta::Esito::Interrotta) {
        aggiungiPunto(m_puntiMancate, QPointF(secondi, 0));
    }
    m_graficoDaAggiornare = true;
    aggiornaCifre();
}

// The one message of a repetition stopped by an error.
void FinestraRipetizione::terminata(int errore, const QString &descrizione)
{
    m_aggiornamento.stop();
    aggiornaGrafico();
    aggiornaPulsanti();
    if (errore == 0)
        return;
    auto *messaggio = new QMessageBox(QMessageBox::Critical, QStringLiteral("Ripeti: errore"),
        QStringLiteral("Errore %1").arg(errore), QMessageBox::Ok, this);
    messaggio->setObjectName(QStringLiteral("messaggioErrore"));
    messaggio->setInformativeText(
        QStringLiteral("La ripetizione si è fermata al primo errore.\n%1").arg(descrizione));
    messaggio->setAttribute(Qt::WA_DeleteOnClose);
    messaggio->open();
}

void FinestraRipetizione::azzera()
{
    m_ripetizione.azzeraStatistiche();
    m_puntiValori.clear();
    m_puntiLatenze.clear();
    m_puntiMancate.clear();
    m_graficoDaAggiornare = true;
    aggiornaCifre();
    aggiornaGrafico();
}

void FinestraRipetizione::aggiornaCifre()
{
    const StatisticheRipetizione &s = m_ripetizione.statistiche();
    QStringList errori;
    for (const auto &[numero, quante] : s.erroriPerNumero())
        errori << QStringLiteral("errore %1: %2").arg(numero).arg(quante);
    const qint64 secondi = s.trascorsoMs() / 1000;
    m_cifre->setText(
        QStringLiteral("Richieste %1 · con risposta %2 · senza risposta %3 · con errore %4%5\n"
                       "Valore: ultimo %6 · minimo %7 · medio %8 · massimo %9\n"
                       "Latenza (ms): minima %10 · media %11 · massima %12 · 95° percentile %13\n"
                       "Richieste al minuto %14 · tempo trascorso %15")
            .arg(s.inviate())
            .arg(s.risposte())
            .arg(s.senzaRisposta())
            .arg(s.errori())
            .arg(errori.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(errori.join(", ")))
            .arg(numero(comeReale(s.ultimoValore())), numero(comeReale(s.valoreMinimo())),
                numero(s.valoreMedio(), 1), numero(comeReale(s.valoreMassimo())))
            .arg(millisecondi(s.latenzaMinimaUs()),
                millisecondi(
                    s.latenzaMediaUs() ? std::optional<qint64>(*s.latenzaMediaUs()) : std::nullopt),
                millisecondi(s.latenzaMassimaUs()), millisecondi(s.latenza95Us()))
            .arg(s.richiestePerMinuto(), 0, 'f', 1)
            .arg(QStringLiteral("%1:%2:%3")
                     .arg(secondi / 3600, 2, 10, QChar(u'0'))
                     .arg(secondi / 60 % 60, 2, 10, QChar(u'0'))
                     .arg(secondi % 60, 2, 10, QChar(u'0'))));
}

// One replace per series, not one update per point; the axes move rather than being rebuilt.
void FinestraRipetizione::aggiornaGrafico()
{
    if (!m_graficoDaAggiornare && !m_puntiValori.empty())
        return;
    m_graficoDaAggiornare = false;
    const StatisticheRipetizione &s = m_ripetizione.statistiche();
    const double minimo = s.valoreMinimo().value_or(0);
    const double massimo = s.valoreMassimo().value_or(1);
    const double margine = std::max(1.0, (massimo - minimo) * 0.1);
    m_assiValori->setRange(minimo - margine, massimo + margine);
    m_assiLatenze->setRange(0, std::max(0.1, s.latenzaMassimaUs().value_or(0) / 1000.0 * 1.1));

    double primo = 0, ultimo = 1;
    bool vuoto = true;
    for (const std::deque<QPointF> *punti : {&m_puntiValori, &m_puntiLatenze, &m_puntiMancate}) {
        if (punti->empty())
            continue;
        primo = vuoto ? punti->front().x() : std::min(primo, punti->front().x());
        ultimo = vuoto ? punti->back().x() : std::max(ultimo, punti->back().x());
        vuoto = false;
    }
    m_tempo->setRange(primo, std::max(ultimo, primo + 1));

    m_valori->replace(comeLista(m_puntiValori));
    m_latenze->replace(comeLista(m_puntiLatenze));
    // Requests without a value are marked along the bottom of the chart, on the time axis.
    QList<QPointF> mancate = comeLista(m_puntiMancate);
    for (QPointF &punto : mancate)
        punto.setY(m_assiValori->min());
    m_mancate->replace(mancate);
}

void FinestraRipetizione::aggiornaPulsanti()
{
    const bool inCorso = m_ripetizione.inCorso();
    m_avvia->setEnabled(!inCorso);
    m_ferma->setEnabled(inCorso);
    m_pausa->setEnabled(!inCorso);
    m_quante->setEnabled(!inCorso);
    m_fermatiAlPrimoErrore->setEnabled(!inCorso);
}
