#include "finestra_principale.h"

#include "collaudo.h"
#include "dialogo_archivio.h"
#include "file_banco.h"
#include "finestra_collaudo.h"
#include "finestra_posti.h"
#include "finestra_storico.h"
#include "giro_posti.h"
#include "finestra_ricerca.h"
#include "finestra_ripetizione.h"
#include "finestra_tabella.h"
#include "lettura_tabella.h"
#include "modello_colorato.h"
#include "finestra_traffico.h"
#include "form3.h"
#include "sequenza_richieste.h"
#include "testi_ammessi.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>

#include <algorithm>

FinestraPrincipale::FinestraPrincipale(QWidget *parent)
    : QMainWindow(parent)
    , m_pannello(new Form3(this))
    , m_ripetizione(new SequenzaRichieste(m_pannello->sequenziatore(), m_pannello->registro(),
          QStringLiteral("la ripetizione"), this))
    , m_tabella(new ModelloColorato(this))
    , m_lettura(
          new LetturaTabella(*m_tabella, m_pannello->sequenziatore(), m_pannello->registro(), this))
    , m_ricerca(new RicercaStrumento(m_pannello->sequenziatore(), m_pannello->registro(), this))
{
    setWindowTitle(m_pannello->windowTitle());
    setCentralWidget(m_pannello);
    // The panel's form keeps its caption; a reader is told the range the request takes.
    if (auto *indirizzo = m_pannello->findChild<QWidget *>(QStringLiteral("Combo5")))
        indirizzo->setAccessibleDescription(
            QStringLiteral("Indirizzo dello strumento, numero decimale da 0 a 65535"));
    creaMenu();
    connect(&m_pannello->sequenziatore(), &Sequenziatore::occupata, this,
        &FinestraPrincipale::lineaOccupata);
    // The panel keeps its own size; the menu bar stands above it.
    resize(m_pannello->width(), m_pannello->height() + menuBar()->sizeHint().height());
}

// The windows follow the sequences, and the sequences hold the panel's sequencer: each goes
// before what it holds, where the panel, made first, would otherwise go first.
FinestraPrincipale::~FinestraPrincipale()
{
    for (QWidget *finestra : std::initializer_list<QWidget *>{m_finestraPosti, m_finestraCollaudo,
             m_finestraStorico, m_finestraTabella, m_finestraRipetizione, m_finestraRicerca,
             m_traffico})
        delete finestra;
    delete m_collaudoPosti;
    delete m_collaudo;
    delete m_ricerca;
    delete m_lettura;
    delete m_ripetizione;
}

void FinestraPrincipale::creaMenu()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    // The document is the bench: Ctrl+O and Ctrl+S are its own.
    QAction *apri = file->addAction(QStringLiteral("&Apri banco…"));
    apri->setShortcut(QKeySequence::Open);
    connect(apri, &QAction::triggered, this, &FinestraPrincipale::scegliBancoDaAprire);
    QAction *salvaBanco = file->addAction(QStringLiteral("Salva &banco"));
    salvaBanco->setShortcut(QKeySequence::Save);
    connect(salvaBanco, &QAction::triggered, this, [this] {
        if (m_fileBanco.isEmpty())
            salvaBancoConNome();
        else
            this->salvaBanco(m_fileBanco);
    });
    QAction *salvaConNome = file->addAction(QStringLiteral("Salva banco &con nome…"));
    salvaConNome->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    connect(salvaConNome, &QAction::triggered, this, &FinestraPrincipale::salvaBancoConNome);
    m_azioniBanco = {apri, salvaBanco, salvaConNome};
    file->addSeparator();
    QAction *archivio = file->addAction(QStringLiteral("A&rchivio…"));
    archivio->setObjectName(QStringLiteral("azioneArchivio"));
    connect(archivio, &QAction::triggered, this, &FinestraPrincipale::scegliArchivio);
    file->addSeparator();
    QAction *salva = file->addAction(QStringLiteral("&Salva traffico…"));
    salva->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_T));
    connect(salva, &QAction::triggered, this, [this] { traffico().salva(); });
    file->addSeparator();
    QAction *esci = file->addAction(QStringLiteral("&Esci"));
    esci->setShortcut(QKeySequence::Quit);
    connect(esci, &QAction::triggered, this, &QWidget::close);

    QMenu *visualizza = menuBar()->addMenu(QStringLiteral("&Visualizza"));
    QAction *traffico = visualizza->addAction(QStringLiteral("&Traffico"));
    traffico->setObjectName(QStringLiteral("azioneTraffico"));
    traffico->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(traffico, &QAction::triggered, this, &FinestraPrincipale::mostraTraffico);
    QAction *tabella = visualizza->addAction(QStringLiteral("T&abella"));
    tabella->setObjectName(QStringLiteral("azioneTabella"));
    tabella->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    connect(tabella, &QAction::triggered, this, &FinestraPrincipale::mostraTabella);
    QAction *storico = visualizza->addAction(QStringLiteral("&Storico"));
    storico->setObjectName(QStringLiteral("azioneStorico"));
    storico->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    connect(storico, &QAction::triggered, this, &FinestraPrincipale::mostraStorico);

    QMenu *richiesta = menuBar()->addMenu(QStringLiteral("&Richiesta"));
    QAction *invia = richiesta->addAction(QStringLiteral("&Invia comando"));
    invia->setObjectName(QStringLiteral("azioneInvia"));
    invia->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return));
    // Queued, so that the request's pauses do not run inside the menu's own handling.
    connect(invia, &QAction::triggered, &m_pannello->sequenziatore(),
        &Sequenziatore::Command1_Click, Qt::QueuedConnection);
    QAction *ripeti = richiesta->addAction(QStringLiteral("&Ripeti…"));
    ripeti->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(ripeti, &QAction::triggered, this, &FinestraPrincipale::mostraRipetizione);
    QAction *cerca = richiesta->addAction(QStringLiteral("&Cerca strumento…"));
    cerca->setObjectName(QStringLiteral("azioneCerca"));
    cerca->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(cerca, &QAction::triggered, this, &FinestraPrincipale::mostraRicerca);
    QAction *collaudo = richiesta->addAction(QStringLiteral("C&ollaudo…"));
    collaudo->setObjectName(QStringLiteral("azioneCollaudo"));
    collaudo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    connect(collaudo, &QAction::triggered, this, &FinestraPrincipale::mostraCollaudo);

    QMenu *aiuto = menuBar()->addMenu(QStringLiteral("A&iuto"));
    QAction *informazioni = aiuto->addAction(QStringLiteral("&Informazioni su Banco Seriale"));
    connect(informazioni, &QAction::triggered, this, &FinestraPrincipale::informazioni);
}

FinestraTraffico &FinestraPrincipale::traffico()
{
    if (!m_traffico) {
        m_traffico = new FinestraTraffico(m_pannello->registro(), this);
        m_traffico->seguiLinea(m_pannello->sequenziatore());
    }
    return *m_traffico;
}

void FinestraPrincipale::mostraTraffico()
{
    mostraAccanto(traffico());
}

FinestraRipetizione &FinestraPrincipale::finestraRipetizione()
{
    if (!m_finestraRipetizione)
        m_finestraRipetizione = new FinestraRipetizione(*m_ripetizione, this);
    return *m_finestraRipetizione;
}

void FinestraPrincipale::mostraRipetizione()
{
    mostraAccanto(finestraRipetizione());
}

FinestraTabella &FinestraPrincipale::finestraTabella()
{
    if (!m_finestraTabella) {
        m_finestraTabella
            = new FinestraTabella(*m_tabella, *m_lettura, m_pannello->registro(), this);
        m_finestraTabella->impostaFile(m_fileBanco);
        m_finestraTabella->aggiungiAzioniFile(m_azioniBanco);
    }
    return *m_finestraTabella;
}

void FinestraPrincipale::mostraTabella()
{
    mostraAccanto(finestraTabella());
}

FinestraRicerca &FinestraPrincipale::finestraRicerca()
{
    if (!m_finestraRicerca)
        m_finestraRicerca
            = new FinestraRicerca(*m_ricerca, *m_pannello, m_pannello->elencoBaud(), this);
    return *m_finestraRicerca;
}

void FinestraPrincipale::mostraRicerca()
{
    mostraAccanto(finestraRicerca());
}

bool FinestraPrincipale::apriCollaudo(const QString &percorso, const QString &operatore,
    const QString &stazione, QString *errore)
{
    const auto rifiuta = [this, errore](const QString &testo) {
        if (errore)
            *errore = testo;
        else
            mostraErroreBanco(testo);
        return false;
    };
    if (m_collaudo && m_collaudo->inCorso()) {
        return rifiuta(QStringLiteral("Un'unità è in collaudo: attenderne la fine, o fermarla "
                                      "con Esc, prima di cambiare banco."));
    }
    QString chi = operatore.isEmpty()
        ? QSettings(QStringLiteral("banco-seriale"), QStringLiteral("banco-seriale"))
              .value(QLatin1String(FinestraCollaudo::kChiaveOperatore))
              .toString()
        : operatore;
    // A name kept from before that the archive would not take is asked again.
    if (operatore.isEmpty() && !TestiAmmessi::controlla(chi, QString()).isEmpty())
        chi.clear();
    auto *collaudo = new Collaudo(m_pannello->sequenziatore(), m_pannello->registro(), this);
    QString perche;
    if (!collaudo->apri(percorso, stazione, chi, &perche)) {
        delete collaudo;
        return rifiuta(perche);
    }
    delete m_finestraPosti;
    delete m_collaudoPosti;
    delete m_finestraCollaudo;
    delete m_collaudo;
    m_finestraPosti = nullptr;
    m_collaudoPosti = nullptr;
    m_finestraCollaudo = nullptr;
    m_collaudo = collaudo;
    const auto storicoDopoLaProva = [this] {
        if (m_storicoDelCollaudo && m_finestraStorico)
            m_finestraStorico->aggiorna();
    };
    QWidget *finestraStazione = nullptr;
    if (!m_collaudo->modello().banco().posti.isEmpty()) {
        m_collaudoPosti = new CollaudoPosti(*m_collaudo, this);
        traffico().aggiungiLinee(&m_collaudoPosti->giro());
        m_finestraPosti = new FinestraPosti(*m_collaudoPosti, this);
        connect(m_finestraPosti, &FinestraPosti::storicoChiesto, this,
            &FinestraPrincipale::mostraStoricoDelCollaudo);
        connect(m_collaudoPosti, &CollaudoPosti::finito, this, storicoDopoLaProva);
        m_finestraPosti->aggiornaIntestazione();
        finestraStazione = m_finestraPosti;
    } else {
        m_finestraCollaudo = new FinestraCollaudo(*m_collaudo, this);
        connect(m_finestraCollaudo, &FinestraCollaudo::storicoChiesto, this,
            &FinestraPrincipale::mostraStoricoDelCollaudo);
        connect(m_collaudo, &Collaudo::finita, this, storicoDopoLaProva);
        m_finestraCollaudo->aggiornaIntestazione();
        finestraStazione = m_finestraCollaudo;
    }
    mostraAccanto(*finestraStazione);
    if (chi.isEmpty()) {
        if (m_finestraPosti)
            m_finestraPosti->chiediOperatore();
        else
            m_finestraCollaudo->chiediOperatore();
    }
    return true;
}

// The station open already, or one for the bench in the table, or for a bench chosen now.
void FinestraPrincipale::mostraCollaudo()
{
    if (m_finestraCollaudo || m_finestraPosti) {
        mostraAccanto(m_finestraPosti ? static_cast<QWidget &>(*m_finestraPosti)
                                      : static_cast<QWidget &>(*m_finestraCollaudo));
        return;
    }
    if (!m_fileBanco.isEmpty() && !m_tabella->modificato()) {
        apriCollaudo(m_fileBanco);
        return;
    }
    auto *dialogo = new QFileDialog(this, QStringLiteral("Banco del collaudo"),
        m_fileBanco.isEmpty() ? QDir::homePath() : m_fileBanco,
        QStringLiteral("Banco (*.banco);;Tutti i file (*)"));
    dialogo->setObjectName(QStringLiteral("dialogoBancoCollaudo"));
    dialogo->setFileMode(QFileDialog::ExistingFile);
    dialogo->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialogo, &QFileDialog::fileSelected, this,
        [this](const QString &percorso) { apriCollaudo(percorso); });
    dialogo->open();
}

FinestraStorico &FinestraPrincipale::finestraStorico()
{
    if (!m_finestraStorico)
        m_finestraStorico = new FinestraStorico(this);
    return *m_finestraStorico;
}

void FinestraPrincipale::mostraStorico()
{
    mostraAccanto(finestraStorico());
}

void FinestraPrincipale::mostraStoricoDelCollaudo()
{
    m_storicoDelCollaudo = true;
    mostraStorico();
}

// The choice applies at once: the history reads the new archive, and an open station forwards
// its runs to the new server.
void FinestraPrincipale::scegliArchivio()
{
    auto *dialogo = new DialogoArchivio(this);
    dialogo->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialogo, &DialogoArchivio::cambiato, this, [this] {
        if (m_finestraStorico)
            m_finestraStorico->riapri();
        QString errore;
        if (m_collaudo && !m_collaudo->cambiaArchivio(&errore))
            mostraErroreBanco(QStringLiteral("La stazione di collaudo resta sull'archivio di "
                                             "prima: %1")
                                  .arg(errore));
    });
    dialogo->open();
}

void FinestraPrincipale::mostraErroreBanco(const QString &testo)
{
    auto *messaggio = new QMessageBox(
        QMessageBox::Warning, QStringLiteral("Banco Seriale: banco"), testo, QMessageBox::Ok, this);
    messaggio->setObjectName(QStringLiteral("messaggioBanco"));
    messaggio->setAttribute(Qt::WA_DeleteOnClose);
    messaggio->open();
}

bool FinestraPrincipale::apriBanco(const QString &percorso)
{
    if (m_lettura->inCorso()) {
        mostraErroreBanco(QStringLiteral("La tabella si sta leggendo: fermarla prima di aprire "
                                         "un altro banco."));
        return false;
    }
    QString errore;
    std::optional<DatiBanco> banco = FileBanco::carica(percorso, &errore);
    if (!banco) {
        mostraErroreBanco(errore);
        return false;
    }
    m_tabella->imposta(std::move(*banco));
    m_fileBanco = percorso;
    finestraTabella().impostaFile(percorso);
    mostraTabella();
    return true;
}

bool FinestraPrincipale::salvaBanco(const QString &percorso)
{
    QString errore;
    if (!FileBanco::salva(percorso, m_tabella->banco(), &errore)) {
        mostraErroreBanco(errore);
        return false;
    }
    m_tabella->segnaSalvato();
    m_fileBanco = percorso;
    if (m_finestraTabella) {
        m_finestraTabella->segnaSalvato();
        m_finestraTabella->impostaFile(percorso);
    }
    return true;
}

void FinestraPrincipale::scegliBancoDaAprire()
{
    if (!lasciaBanco())
        return;
    auto *dialogo = new QFileDialog(this, QStringLiteral("Apri banco"),
        m_fileBanco.isEmpty() ? QDir::homePath() : m_fileBanco,
        QStringLiteral("Banco (*.banco);;Tutti i file (*)"));
    dialogo->setObjectName(QStringLiteral("dialogoApriBanco"));
    dialogo->setFileMode(QFileDialog::ExistingFile);
    dialogo->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialogo, &QFileDialog::fileSelected, this, &FinestraPrincipale::apriBanco);
    dialogo->open();
}

void FinestraPrincipale::salvaBancoConNome()
{
    auto *dialogo = new QFileDialog(this, QStringLiteral("Salva banco"),
        m_fileBanco.isEmpty() ? QDir::home().filePath(QStringLiteral("banco.banco")) : m_fileBanco,
        QStringLiteral("Banco (*.banco)"));
    dialogo->setObjectName(QStringLiteral("dialogoSalvaBanco"));
    dialogo->setAcceptMode(QFileDialog::AcceptSave);
    dialogo->setDefaultSuffix(QStringLiteral("banco"));
    dialogo->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialogo, &QFileDialog::fileSelected, this,
        [this](const QString &percorso) { salvaBanco(percorso); });
    dialogo->open();
}

// Asked and waited for: nothing else should happen to the bench while the operator decides.
bool FinestraPrincipale::lasciaBanco()
{
    if (!m_tabella->modificato())
        return true;
    const auto scelta = QMessageBox::question(this, QStringLiteral("Banco Seriale"),
        QStringLiteral("Il banco è stato modificato. Salvare le modifiche?"),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (scelta == QMessageBox::Cancel)
        return false;
    if (scelta == QMessageBox::Discard)
        return true;
    if (m_fileBanco.isEmpty()) {
        const QString percorso = QFileDialog::getSaveFileName(this, QStringLiteral("Salva banco"),
            QDir::home().filePath(QStringLiteral("banco.banco")),
            QStringLiteral("Banco (*.banco)"));
        return !percorso.isEmpty() && salvaBanco(percorso);
    }
    return salvaBanco(m_fileBanco);
}

void FinestraPrincipale::mostraAccanto(QWidget &finestra)
{
    if (!finestra.isVisible())
        finestra.move(postoAccanto(finestra.frameGeometry().size()));
    finestra.show();
    finestra.raise();
    finestra.activateWindow();
}

// Beside the panel if the screen has room there, else below it, else wherever it fits whole.
QPoint FinestraPrincipale::postoAccanto(QSize dimensione) const
{
    const QRect schermo = screen()->availableGeometry();
    const QRect qui = frameGeometry();
    for (const QPoint posto : {qui.topRight() + QPoint(8, 0), qui.bottomLeft() + QPoint(0, 8)}) {
        if (schermo.contains(QRect(posto, dimensione)))
            return posto;
    }
    return QPoint(
        std::max(schermo.left(), std::min(qui.left(), schermo.right() - dimensione.width())),
        std::max(schermo.top(), std::min(qui.top(), schermo.bottom() - dimensione.height())));
}

// Closing the window ends a running request at once, as closing the panel does.
void FinestraPrincipale::closeEvent(QCloseEvent *evento)
{
    m_ripetizione->ferma();
    m_lettura->ferma();
    // The program is closing: the probe in flight ends at its pause, as the panel's request does.
    m_ricerca->motore().ferma();
    if (m_collaudo)
        m_collaudo->ferma();
    if (m_collaudoPosti)
        m_collaudoPosti->fermaTutti();
    if (!lasciaBanco()) {
        evento->ignore();
        return;
    }
    if (m_finestraTabella)
        m_finestraTabella->close();
    if (m_finestraRipetizione)
        m_finestraRipetizione->close();
    if (m_finestraRicerca)
        m_finestraRicerca->close();
    for (QWidget *finestra :
        std::initializer_list<QWidget *>{m_finestraCollaudo, m_finestraPosti, m_finestraStorico})
        if (finestra)
            finestra->close();
    m_pannello->close();
    if (m_traffico)
        m_traffico->close();
    QMainWindow::closeEvent(evento);
}

// The operator's click is refused while a sequence holds the line: told once, however many
// clicks come while the message shows.
void FinestraPrincipale::lineaOccupata(const QString &chi)
{
    if (m_messaggioOccupata)
        return;
    m_messaggioOccupata = new QMessageBox(QMessageBox::Information, windowTitle(),
        SequenzaRichieste::testoOccupata(chi), QMessageBox::Ok, this);
    m_messaggioOccupata->setObjectName(QStringLiteral("messaggioOccupata"));
    m_messaggioOccupata->setAttribute(Qt::WA_DeleteOnClose);
    m_messaggioOccupata->open();
}

// Not waited for: a request running behind it keeps its pace.
void FinestraPrincipale::informazioni()
{
    auto *messaggio
        = new QMessageBox(QMessageBox::Information, QStringLiteral("Informazioni su Banco Seriale"),
            QStringLiteral("Banco Seriale %1").arg(QCoreApplication::applicationVersion()),
            QMessageBox::Ok, this);
    messaggio->setInformativeText(QStringLiteral(
        "Banco di prova per strumenti su linea seriale.\n\n"
        "Banco Seriale è software libero: si può ridistribuire e modificare secondo i termini "
        "della GNU General Public License, versione 3 o (a scelta) successiva "
        "(GPL-3.0-or-later). È distribuito senza alcuna garanzia; i dettagli sono nel file "
        "COPYING."));
    messaggio->setAttribute(Qt::WA_DeleteOnClose);
    messaggio->open();
}
