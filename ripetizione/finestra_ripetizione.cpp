#include "finestra_ripetizione.h"

#include "grafico_ripetizione.h"
#include "numeri_italiani.h"
#include "sequenza_richieste.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTime>
#include <QVBoxLayout>


using namespace std::chrono_literals;

namespace {

// The chart is redrawn a few times a second at most, whatever the pace of the requests.
constexpr auto kAggiornamento = 250ms;

// The values are the words as decoded, as the panel shows them: no point between thousands.
QString numero(const std::optional<double> &valore, int decimali = 0)
{
    return valore ? QString::number(*valore, 'f', decimali).replace(u'.', u',')
                  : QStringLiteral("—");
}

QString millisecondi(const std::optional<qint64> &us)
{
    return us ? NumeriItaliani::decimale(*us / 1000.0, 2) : QStringLiteral("—");
}

template<typename T> std::optional<double> comeReale(const std::optional<T> &valore)
{
    return valore ? std::optional<double>(double(*valore)) : std::nullopt;
}

} // namespace

FinestraRipetizione::FinestraRipetizione(SequenzaRichieste &ripetizione, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ripetizione(ripetizione)
    , m_pausa(new QSpinBox(this))
    , m_quante(new QSpinBox(this))
    , m_fermatiAlPrimoErrore(new QCheckBox(QStringLiteral("fermati al primo errore"), this))
    , m_file(new QLabel(this))
    , m_avvia(new QPushButton(QStringLiteral("&Avvia"), this))
    , m_ferma(new QPushButton(QStringLiteral("&Ferma"), this))
    , m_cifre(new QLabel(this))
    , m_grafico(new GraficoRipetizione(this))
    , m_aggiornamento(
          kAggiornamento, [this] { m_grafico->aggiorna(); }, this)
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
    m_file->setAccessibleName(QStringLiteral("File di registro (CSV)"));
    m_file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_avvia->setObjectName(QStringLiteral("avvia"));
    m_ferma->setObjectName(QStringLiteral("ferma"));
    m_cifre->setObjectName(QStringLiteral("cifre"));
    m_cifre->setAccessibleName(QStringLiteral("Cifre della ripetizione"));
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

    auto *colonna = new QVBoxLayout(this);
    colonna->addLayout(modulo);
    colonna->addLayout(pulsanti);
    colonna->addWidget(m_cifre);
    colonna->addWidget(m_grafico, 1);
    // Tab goes as the window reads: the settings, then the buttons left to right.
    QWidget *const ordine[]
        = {m_pausa, m_quante, m_fermatiAlPrimoErrore, scegli, m_avvia, m_ferma, azzera};
    for (size_t i = 1; i < std::size(ordine); ++i)
        QWidget::setTabOrder(ordine[i - 1], ordine[i]);

    connect(m_avvia, &QPushButton::clicked, this, &FinestraRipetizione::avvia);
    connect(m_ferma, &QPushButton::clicked, this, &FinestraRipetizione::ferma);
    connect(scegli, &QPushButton::clicked, this, &FinestraRipetizione::scegliFile);
    connect(azzera, &QPushButton::clicked, this, &FinestraRipetizione::azzera);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
        &FinestraRipetizione::ferma);
    connect(&m_ripetizione, &SequenzaRichieste::risultato, this,
        [this](qint64, const RisultatoRichiesta &risultato) { aggiungi(risultato); });
    connect(&m_ripetizione, &SequenzaRichieste::terminata, this, &FinestraRipetizione::terminata);
    m_aggiornamento.segui(m_ripetizione.sequenziatore());
    aggiornaCifre();
    aggiornaPulsanti();
}

void FinestraRipetizione::avvia()
{
    if (m_ripetizione.inCorso())
        return;
    if (!m_ripetizione.avvia(
            {m_pausa->value(), m_quante->value(), m_fermatiAlPrimoErrore->isChecked(), 1, {}})) {
        auto *messaggio = new QMessageBox(QMessageBox::Information, QStringLiteral("Ripeti"),
            SequenzaRichieste::testoOccupata(m_ripetizione.occupante()), QMessageBox::Ok, this);
        messaggio->setAttribute(Qt::WA_DeleteOnClose);
        messaggio->open();
        return;
    }
    m_aggiornamento.avviaContinuo();
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
    m_grafico->aggiungi(risultato, m_ripetizione.statistiche().trascorsoMs() / 1000.0);
    aggiornaCifre();
}

// The one message of a repetition stopped by an error.
void FinestraRipetizione::terminata(int errore, const QString &descrizione)
{
    m_aggiornamento.fermaContinuo();
    m_grafico->aggiorna();
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
    m_grafico->azzera();
    aggiornaCifre();
}

void FinestraRipetizione::aggiornaCifre()
{
    const StatisticheRipetizione &s = m_ripetizione.statistiche();
    QStringList errori;
    for (const auto &[numero, quante] : s.erroriPerNumero())
        errori << QStringLiteral("errore %1: %2").arg(numero).arg(NumeriItaliani::intero(quante));
    const qint64 secondi = s.trascorsoMs() / 1000;
    m_cifre->setText(
        QStringLiteral("Richieste %1 · con risposta %2 · senza risposta %3 · con errore %4%5\n"
                       "Valore: ultimo %6 · minimo %7 · medio %8 · massimo %9\n"
                       "Latenza (ms): minima %10 · media %11 · massima %12 · 95° percentile %13\n"
                       "Richieste al minuto %14 · tempo trascorso %15")
            .arg(NumeriItaliani::intero(s.inviate()), NumeriItaliani::intero(s.risposte()),
                NumeriItaliani::intero(s.senzaRisposta()), NumeriItaliani::intero(s.errori()))
            .arg(errori.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(errori.join(", ")))
            .arg(numero(comeReale(s.ultimoValore())), numero(comeReale(s.valoreMinimo())),
                numero(s.valoreMedio(), 1), numero(comeReale(s.valoreMassimo())))
            .arg(millisecondi(s.latenzaMinimaUs()),
                millisecondi(
                    s.latenzaMediaUs() ? std::optional<qint64>(*s.latenzaMediaUs()) : std::nullopt),
                millisecondi(s.latenzaMassimaUs()), millisecondi(s.latenza95Us()))
            .arg(NumeriItaliani::decimale(s.richiestePerMinuto(), 1))
            .arg(QStringLiteral("%1:%2:%3")
                     .arg(secondi / 3600, 2, 10, QChar(u'0'))
                     .arg(secondi / 60 % 60, 2, 10, QChar(u'0'))
                     .arg(secondi % 60, 2, 10, QChar(u'0'))));
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
