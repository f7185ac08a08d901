#include "finestra_traffico.h"

#include "delegato_veloce.h"
#include "giro_posti.h"
#include "numeri_italiani.h"
#include "registro_traffico.h"
#include "testi_traffico.h"

#include <QAction>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTableView>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

using namespace std::chrono_literals;

namespace {

// The view takes in new rows as each request ends, and otherwise at least once a second: each
// request's rows are painted once, as a whole, and bytes outside a request still show within a
// second. Taking them in four times a second cost more processor time than the request itself,
// almost all of it in painting the same rows again.
constexpr auto kAggiornamento = 250ms;
constexpr auto kAlPiuTardi = 1000ms;

} // namespace

FinestraTraffico::FinestraTraffico(RegistroTraffico &registro, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_pannello(registro)
    , m_registro(&registro)
    , m_rigaScelta(new QWidget(this))
    , m_scelta(new QComboBox(m_rigaScelta))
    , m_modello(registro)
    , m_tabella(new QTableView(this))
    , m_stato(new QLabel(this))
    , m_aggiornamento(
          kAggiornamento, [this] { aggiornaSeServe(); }, this)
{
    setObjectName(QStringLiteral("finestraTraffico"));
    setWindowTitle(QStringLiteral("Traffico"));
    resize(760, 420);

    m_scelta->setObjectName(QStringLiteral("sceltaLinea"));
    m_scelta->setAccessibleName(QStringLiteral("Linea mostrata"));
    // Its list is its own object for a screen reader, named as the box is.
    m_scelta->view()->setAccessibleName(m_scelta->accessibleName());
    m_scelta->setToolTip(QStringLiteral(
        "Il traffico del pannello o quello di una delle linee dei posti, per dispositivo"));
    m_scelta->addItem(QStringLiteral("Pannello"));
    m_scelta->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto *etichetta = new QLabel(QStringLiteral("&Linea:"), m_rigaScelta);
    etichetta->setBuddy(m_scelta);
    auto *rigaScelta = new QHBoxLayout(m_rigaScelta);
    rigaScelta->setContentsMargins(0, 0, 0, 0);
    rigaScelta->addWidget(etichetta);
    rigaScelta->addWidget(m_scelta);
    rigaScelta->addStretch(1);
    m_rigaScelta->hide();
    connect(m_scelta, &QComboBox::currentIndexChanged, this, &FinestraTraffico::mostra);

    m_tabella->setObjectName(QStringLiteral("tabellaTraffico"));
    m_tabella->setAccessibleName(QStringLiteral("Traffico della linea"));
    m_tabella->setAccessibleDescription(QStringLiteral(
        "Ogni byte trasmesso e ricevuto, con istante, fase e impostazioni di linea, e il "
        "risultato di ogni richiesta; la riga più recente è in fondo"));
    m_tabella->setModel(&m_modello);
    m_tabella->setItemDelegate(new DelegatoVeloce(m_tabella));
    m_tabella->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tabella->setWordWrap(false);
    // Tab leaves the table for the buttons; the arrows move within it.
    m_tabella->setTabKeyNavigation(false);
    m_tabella->setAlternatingRowColors(false);
    m_tabella->verticalHeader()->hide();
    m_tabella->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_tabella->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    QHeaderView *colonne = m_tabella->horizontalHeader();
    colonne->setStretchLastSection(true);
    const int cifra = fontMetrics().horizontalAdvance(u'0');
    for (const auto &[colonna, larghezza] :
        {std::pair{TestiTraffico::Tempo, 12}, {TestiTraffico::Direzione, 11},
            {TestiTraffico::Fase, 15}, {TestiTraffico::Linea, 11}, {TestiTraffico::Byte, 8}})
        colonne->resizeSection(ModelloTraffico::colonna(colonna), larghezza * cifra + 12);
    colonne->resizeSection(ModelloTraffico::kColonnaDispositivo, 14 * cifra + 12);
    // The panel's record is one line's: its rows need no device.
    m_tabella->setColumnHidden(ModelloTraffico::kColonnaDispositivo, true);

    auto *pulisci = new QPushButton(QStringLiteral("&Pulisci"), this);
    pulisci->setObjectName(QStringLiteral("pulisci"));
    auto *salva = new QPushButton(QStringLiteral("&Salva…"), this);
    salva->setObjectName(QStringLiteral("salva"));
    salva->setToolTip(QStringLiteral("Salva il traffico in un file CSV (Ctrl+S)"));
    connect(pulisci, &QPushButton::clicked, this, &FinestraTraffico::pulisci);
    connect(salva, &QPushButton::clicked, this, &FinestraTraffico::salva);

    auto *azioneSalva = new QAction(this);
    azioneSalva->setShortcut(QKeySequence::Save);
    connect(azioneSalva, &QAction::triggered, this, &FinestraTraffico::salva);
    addAction(azioneSalva);

    auto *pulsanti = new QHBoxLayout;
    m_stato->setAccessibleName(QStringLiteral("Eventi nel registro"));
    // A size of its own, so that a new count repaints the label and lays out nothing else.
    m_stato->setFixedSize(m_stato->fontMetrics().horizontalAdvance(QStringLiteral(
                              "1.048.576 eventi, 999.999.999 più vecchi scartati · salvataggio in "
                              "corso…")),
        m_stato->fontMetrics().height() + 4);
    pulsanti->addWidget(m_stato, 1);
    pulsanti->addWidget(pulisci);
    pulsanti->addWidget(salva);
    auto *colonna = new QVBoxLayout(this);
    colonna->addWidget(m_rigaScelta);
    colonna->addWidget(m_tabella, 1);
    colonna->addLayout(pulsanti);

    aggiorna();
}

FinestraTraffico::~FinestraTraffico()
{
    if (m_salvataggio)
        m_salvataggio->wait();
}

void FinestraTraffico::seguiLinea(Sequenziatore &sequenziatore)
{
    m_aggiornamento.segui(sequenziatore);
}

void FinestraTraffico::aggiungiLinee(GiroPosti *giro)
{
    for (const LineaMostrata &linea : std::as_const(m_linee)) {
        if (linea.giro == giro)
            return;
    }
    for (int linea = 0; linea < giro->numeroLinee(); ++linea)
        aggiungiLinea(giro, linea);
    connect(giro, &GiroPosti::lineaAggiunta, this,
        [this, giro](int linea) { aggiungiLinea(giro, linea); });
    connect(giro, &QObject::destroyed, this, &FinestraTraffico::lineeFinite);
}

void FinestraTraffico::aggiungiLinea(GiroPosti *giro, int linea)
{
    m_linee.append({giro, &giro->trafficoLinea(linea)});
    m_scelta->addItem(giro->dispositivoLinea(linea));
    m_rigaScelta->show();
}

// By the time a GiroPosti says it ended, its records are gone: the window lets go of them
// before anything reads them again.
void FinestraTraffico::lineeFinite(QObject *giro)
{
    const int scelta = m_scelta->currentIndex();
    if (scelta > 0 && m_linee.at(scelta - 1).giro == giro)
        m_scelta->setCurrentIndex(0);
    for (qsizetype i = m_linee.size() - 1; i >= 0; --i) {
        if (m_linee.at(i).giro == giro) {
            m_linee.removeAt(i);
            m_scelta->removeItem(int(i + 1));
        }
    }
    m_rigaScelta->setVisible(!m_linee.isEmpty());
}

void FinestraTraffico::mostra(int scelta)
{
    RegistroTraffico *registro
        = scelta > 0 && scelta <= m_linee.size() ? m_linee.at(scelta - 1).registro : &m_pannello;
    if (registro == m_registro)
        return;
    m_registro = registro;
    m_modello.setRegistro(*m_registro);
    const int dispositivo = ModelloTraffico::kColonnaDispositivo;
    const bool conDispositivo = m_registro != &m_pannello;
    if (conDispositivo && m_tabella->isColumnHidden(dispositivo)) {
        // The device's column comes with room of its own rather than taken from the notes.
        m_tabella->setColumnHidden(dispositivo, false);
        resize(width() + m_tabella->columnWidth(dispositivo), height());
    } else if (!conDispositivo && !m_tabella->isColumnHidden(dispositivo)) {
        const int larghezza = m_tabella->columnWidth(dispositivo);
        m_tabella->setColumnHidden(dispositivo, true);
        resize(std::max(minimumSizeHint().width(), width() - larghezza), height());
    }
    m_ultimaRichiestaMostrata = 0;
    aggiorna();
    m_tabella->scrollToBottom();
}

void FinestraTraffico::showEvent(QShowEvent *evento)
{
    aggiorna();
    m_tabella->scrollToBottom();
    m_aggiornamento.avviaContinuo();
    QWidget::showEvent(evento);
}

void FinestraTraffico::hideEvent(QHideEvent *evento)
{
    m_aggiornamento.fermaContinuo();
    QWidget::hideEvent(evento);
}

void FinestraTraffico::aggiornaSeServe()
{
    const bool richiestaFinita = !m_registro->richiestaInCorso()
        && m_registro->ultimoRisultato().numero != m_ultimaRichiestaMostrata;
    if (richiestaFinita || !m_dallUltimoAggiornamento.isValid()
        || m_dallUltimoAggiornamento.elapsed() >= kAlPiuTardi.count())
        aggiorna();
}

void FinestraTraffico::aggiorna()
{
    m_dallUltimoAggiornamento.start();
    m_ultimaRichiestaMostrata = m_registro->ultimoRisultato().numero;
    QScrollBar *barra = m_tabella->verticalScrollBar();
    const bool inFondo = barra->value() >= barra->maximum();
    if (m_modello.sincronizza() && inFondo)
        m_tabella->scrollToBottom();
    QString stato = m_registro->size() == 1
        ? QStringLiteral("1 evento")
        : QStringLiteral("%1 eventi").arg(NumeriItaliani::intero(m_registro->size()));
    if (m_registro->scartati() > 0)
        stato += QStringLiteral(", %1 più vecchi scartati")
                     .arg(NumeriItaliani::intero(qint64(m_registro->scartati())));
    if (m_salvataggio)
        stato += QStringLiteral(" · salvataggio in corso…");
    m_stato->setText(stato);
}

void FinestraTraffico::pulisci()
{
    m_registro->svuota();
    aggiorna();
}

// The dialog is not waited for in a loop of its own: a request running behind it keeps its pace.
void FinestraTraffico::salva()
{
    // A line's file is named for its device: "traffico-ttyUSB0-….csv".
    const QString linea = m_registro == &m_pannello
        ? QString()
        : QFileInfo(m_scelta->currentText()).fileName().replace(u' ', u'-') + u'-';
    const QString proposto = QDir::home().filePath(
        QStringLiteral("traffico-%1%2.csv")
            .arg(linea, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    QWidget *sopra = isVisible() || !parentWidget() ? this : parentWidget();
    auto *dialogo = new QFileDialog(
        sopra, QStringLiteral("Salva il traffico"), proposto, QStringLiteral("CSV (*.csv)"));
    dialogo->setObjectName(QStringLiteral("dialogoSalva"));
    dialogo->setAcceptMode(QFileDialog::AcceptSave);
    dialogo->setDefaultSuffix(QStringLiteral("csv"));
    dialogo->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialogo, &QFileDialog::fileSelected, this, &FinestraTraffico::salvaIn);
    dialogo->open();
}

// A full record takes seconds to write: it is copied as it is now (a few tens of milliseconds)
// and written by a thread of its own, so that the window keeps taking in the line's bytes.
void FinestraTraffico::salvaIn(const QString &percorso)
{
    if (m_salvataggio) {
        finisciSalvataggio(percorso, QStringLiteral("un altro salvataggio è ancora in corso"));
        return;
    }
    auto copia = std::make_shared<const RegistroTraffico>(*m_registro);
    auto errore = std::make_shared<QString>();
    m_salvataggio = QThread::create([copia, errore, percorso] {
        // Written beside the file and renamed over it at the end: an old file is never left
        // half overwritten.
        QSaveFile file(percorso);
        bool ok = file.open(QIODevice::WriteOnly);
        if (ok)
            ok = TestiTraffico::scriviCsv(
                     *copia, file, errore.get(), TestiTraffico::FormaCsv::Foglio)
                && file.commit();
        if (!ok && errore->isEmpty())
            *errore = file.errorString();
    });
    m_salvataggio->setParent(this);
    connect(m_salvataggio, &QThread::finished, this, [this, errore, percorso] {
        m_salvataggio->deleteLater();
        m_salvataggio = nullptr;
        finisciSalvataggio(percorso, *errore);
    });
    m_salvataggio->start();
    aggiorna();
}

void FinestraTraffico::finisciSalvataggio(const QString &percorso, const QString &errore)
{
    emit salvataggioFinito(errore.isEmpty());
    if (errore.isEmpty())
        return;
    auto *messaggio = new QMessageBox(QMessageBox::Warning, QStringLiteral("Traffico: errore"),
        QStringLiteral("Impossibile salvare il traffico in %1: %2. Scegliere un'altra "
                       "cartella o un altro nome.")
            .arg(QDir::toNativeSeparators(percorso), errore),
        QMessageBox::Ok, this);
    messaggio->setObjectName(QStringLiteral("erroreSalvataggio"));
    messaggio->setAttribute(Qt::WA_DeleteOnClose);
    messaggio->open();
}
