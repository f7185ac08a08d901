#include "finestra_posti.h"

#include "finestra_collaudo.h"
#include "testi_ammessi.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QFont ingrandito(QFont carattere, double volte, bool grassetto)
{
    carattere.setPointSizeF(carattere.pointSizeF() * volte);
    carattere.setBold(grassetto);
    return carattere;
}

const QColor kAttesa(0x30, 0x40, 0x60);
const QColor kFuoriServizio(0x70, 0x70, 0x70);
constexpr int kPostiSenzaScorrere = 8;

// The rows' columns to their texts, the state taking what is left. Set again after each round:
// a round's start resets the model, and the header its sections' modes with it.
void adattaColonne(QTableView *righe)
{
    righe->resizeColumnsToContents();
    righe->horizontalHeader()->setSectionResizeMode(ModelloTabella::Stato, QHeaderView::Stretch);
}

bool eInvio(const QKeyEvent *tasto)
{
    return tasto->key() == Qt::Key_Return || tasto->key() == Qt::Key_Enter;
}

} // namespace

FinestraPosti::FinestraPosti(CollaudoPosti &posti, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_posti(posti)
    , m_collaudo(posti.collaudo())
    , m_intestazione(new QLabel(this))
    , m_avviso(new QLabel(this))
    , m_interruttore(new QLabel(this))
    , m_giornata(new QLabel(this))
    , m_scorrimento(new QScrollArea(this))
{
    setWindowTitle(QStringLiteral("Collaudo"));
    setObjectName(QStringLiteral("finestraPosti"));
    auto *colonna = new QVBoxLayout(this);

    auto *riga = new QHBoxLayout;
    m_intestazione->setObjectName(QStringLiteral("intestazione"));
    m_intestazione->setWordWrap(true);
    riga->addWidget(m_intestazione, 1);
    auto *operatore = new QPushButton(QStringLiteral("Cambia &operatore…"), this);
    operatore->setObjectName(QStringLiteral("cambiaOperatore"));
    operatore->setFocusPolicy(Qt::NoFocus);
    riga->addWidget(operatore);
    colonna->addLayout(riga);
    m_avviso->setObjectName(QStringLiteral("avviso"));
    m_avviso->setWordWrap(true);
    m_avviso->setFont(ingrandito(m_avviso->font(), 1.2, true));
    colonna->addWidget(m_avviso);
    m_interruttore->setObjectName(QStringLiteral("interruttore"));
    m_interruttore->setWordWrap(true);
    m_interruttore->hide();
    colonna->addWidget(m_interruttore);

    // Up to two rows of four the grid fits the screen; more sockets scroll, and the field with
    // the focus is always shown.
    auto *tutti = new QWidget(m_scorrimento);
    auto *griglia = new QGridLayout(tutti);
    griglia->setContentsMargins(0, 0, 0, 0);
    const int colonne = FinestraPosti::colonne(m_posti.numeroPosti());
    m_pannelli.resize(size_t(m_posti.numeroPosti()));
    for (int n = 0; n < m_posti.numeroPosti(); ++n) {
        Pannello &p = m_pannelli[size_t(n)];
        const QString nome = m_posti.nome(n);
        p.gruppo = new QGroupBox(QStringLiteral("Posto %1").arg(nome), tutti);
        p.gruppo->setObjectName(QStringLiteral("posto%1").arg(n));
        p.gruppo->setAccessibleName(QStringLiteral("Posto %1").arg(nome));
        auto *dentro = new QVBoxLayout(p.gruppo);

        p.seriale = new QLineEdit(p.gruppo);
        p.seriale->setObjectName(QStringLiteral("numeroDiSerie"));
        p.seriale->setAccessibleName(QStringLiteral("Numero di serie, posto %1").arg(nome));
        p.seriale->setFont(ingrandito(p.seriale->font(), 1.6, true));
        p.seriale->setPlaceholderText(QStringLiteral("numero di serie"));
        p.seriale->setMaxLength(200);
        p.seriale->installEventFilter(this);
        dentro->addWidget(p.seriale);
        p.avviso = new QLabel(p.gruppo);
        p.avviso->setObjectName(QStringLiteral("avviso"));
        p.avviso->setWordWrap(true);
        dentro->addWidget(p.avviso);

        p.riquadro = new QFrame(p.gruppo);
        p.riquadro->setObjectName(QStringLiteral("riquadroEsito"));
        p.riquadro->setAccessibleName(QStringLiteral("Esito del posto %1").arg(nome));
        p.riquadro->setAutoFillBackground(true);
        auto *riquadro = new QVBoxLayout(p.riquadro);
        p.esito = new QLabel(p.riquadro);
        p.esito->setObjectName(QStringLiteral("esito"));
        p.esito->setAlignment(Qt::AlignCenter);
        p.esito->setFont(ingrandito(p.esito->font(), 2.2, true));
        riquadro->addWidget(p.esito);
        p.dettaglio = new QLabel(p.riquadro);
        p.dettaglio->setObjectName(QStringLiteral("dettaglioEsito"));
        p.dettaglio->setAlignment(Qt::AlignCenter);
        p.dettaglio->setWordWrap(true);
        riquadro->addWidget(p.dettaglio);
        dentro->addWidget(p.riquadro);
        p.tracciata = new QLabel(p.gruppo);
        p.tracciata->setObjectName(QStringLiteral("tracciabilita"));
        p.tracciata->setWordWrap(true);
        p.tracciata->setTextInteractionFlags(Qt::NoTextInteraction);
        p.tracciata->hide();
        dentro->addWidget(p.tracciata);
        p.campioni = new QLabel(p.gruppo);
        p.campioni->setObjectName(QStringLiteral("campioni"));
        p.campioni->setWordWrap(true);
        p.campioni->setFont(ingrandito(p.campioni->font(), 1.0, true));
        p.campioni->setTextInteractionFlags(Qt::NoTextInteraction);
        FinestraCollaudo::coloraCampioni(p.campioni);
        p.campioni->hide();
        dentro->addWidget(p.campioni);
        p.scarti = new QLabel(p.gruppo);
        p.scarti->setObjectName(QStringLiteral("scarti"));
        p.scarti->setAccessibleName(QStringLiteral("Righe fallite"));
        p.scarti->setWordWrap(true);
        dentro->addWidget(p.scarti);
        p.deriva = new QLabel(p.gruppo);
        p.deriva->setObjectName(QStringLiteral("deriva"));
        p.deriva->setWordWrap(true);
        p.deriva->setFont(ingrandito(p.deriva->font(), 1.0, true));
        p.deriva->setTextInteractionFlags(Qt::NoTextInteraction);
        FinestraCollaudo::coloraDeriva(p.deriva);
        p.deriva->hide();
        dentro->addWidget(p.deriva);

        auto *avanzamento = new QHBoxLayout;
        p.avanzamento = new QProgressBar(p.gruppo);
        p.avanzamento->setObjectName(QStringLiteral("avanzamento"));
        p.avanzamento->setAccessibleName(QStringLiteral("Righe lette"));
        p.avanzamento->setFormat(QStringLiteral("%v di %m righe"));
        p.avanzamento->setRange(0, m_posti.modello(n).rowCount());
        p.avanzamento->setValue(0);
        avanzamento->addWidget(p.avanzamento, 1);
        p.ferma = new QPushButton(QStringLiteral("Ferma"), p.gruppo);
        p.ferma->setObjectName(QStringLiteral("ferma"));
        p.ferma->setToolTip(QStringLiteral("Ferma la prova di questo posto (Maiusc+Esc nel suo "
                                           "campo); Esc le ferma tutte."));
        p.ferma->setEnabled(false);
        p.ferma->setFocusPolicy(Qt::NoFocus);
        avanzamento->addWidget(p.ferma);
        // No mnemonic: every socket has one, and the keyboard reaches it by Tab from the field.
        p.servizio = new QPushButton(QStringLiteral("Fuori servizio"), p.gruppo);
        p.servizio->setObjectName(QStringLiteral("servizio"));
        p.servizio->setFocusPolicy(Qt::TabFocus);
        p.servizio->installEventFilter(this);
        avanzamento->addWidget(p.servizio);
        dentro->addLayout(avanzamento);

        p.righe = new QTableView(p.gruppo);
        p.righe->setObjectName(QStringLiteral("righePosto"));
        p.righe->setAccessibleName(QStringLiteral("Righe del posto %1").arg(nome));
        auto *colorate = new RigheColorate(p.righe);
        colorate->setSourceModel(const_cast<ModelloTabella *>(&m_posti.modello(n)));
        p.righe->setModel(colorate);
        p.righe->setEditTriggers(QAbstractItemView::NoEditTriggers);
        p.righe->setSelectionMode(QAbstractItemView::NoSelection);
        p.righe->setFocusPolicy(Qt::NoFocus);
        p.righe->verticalHeader()->hide();
        for (int c = 0; c < ModelloTabella::NumeroColonne; ++c) {
            p.righe->setColumnHidden(c,
                c != ModelloTabella::Nome && c != ModelloTabella::Valore
                    && c != ModelloTabella::Stato);
        }
        dentro->addWidget(p.righe, 1);
        adattaColonne(p.righe);
        p.giornata = new QLabel(p.gruppo);
        p.giornata->setObjectName(QStringLiteral("giornataPosto"));
        p.giornata->setWordWrap(true);
        dentro->addWidget(p.giornata);
        p.contatti = new QLabel(p.gruppo);
        p.contatti->setObjectName(QStringLiteral("contatti"));
        p.contatti->setWordWrap(true);
        p.contatti->setFont(ingrandito(p.contatti->font(), 1.0, true));
        QPalette rosso = p.contatti->palette();
        rosso.setColor(QPalette::WindowText, QColor(0xa0, 0x00, 0x20));
        p.contatti->setPalette(rosso);
        p.contatti->hide();
        dentro->addWidget(p.contatti);
        griglia->addWidget(p.gruppo, n / colonne, n % colonne);

        connect(p.seriale, &QLineEdit::returnPressed, this, [this, n] { invio(n); });
        connect(p.ferma, &QPushButton::clicked, this, [this, n] { m_posti.ferma(n); });
        connect(p.servizio, &QPushButton::clicked, this, [this, n] { cambiaServizio(n); });
        mostraServizio(n);
    }
    if (m_posti.numeroPosti() > kPostiSenzaScorrere) {
        m_scorrimento->setWidget(tutti);
        m_scorrimento->setWidgetResizable(true);
        m_scorrimento->setFrameShape(QFrame::NoFrame);
        m_scorrimento->setFocusPolicy(Qt::NoFocus);
        colonna->addWidget(m_scorrimento, 1);
    } else {
        m_scorrimento->hide();
        colonna->addWidget(tutti, 1);
    }
    m_giornata->setObjectName(QStringLiteral("giornata"));
    m_giornata->setWordWrap(true);
    colonna->addWidget(m_giornata);
    if (!m_pannelli.empty())
        setFocusProxy(m_pannelli.front().seriale);

    connect(operatore, &QPushButton::clicked, this, &FinestraPosti::chiediOperatore);
    connect(&m_posti, &CollaudoPosti::pronto, this, &FinestraPosti::pronto);
    connect(&m_posti, &CollaudoPosti::avviato, this, &FinestraPosti::avviato);
    connect(&m_posti, &CollaudoPosti::rigaLetta, this, &FinestraPosti::rigaLetta);
    connect(&m_posti, &CollaudoPosti::finito, this, &FinestraPosti::finito);
    connect(&m_posti, &CollaudoPosti::servizioCambiato, this, &FinestraPosti::mostraServizio);
    connect(&m_collaudo, &Collaudo::rapporto, this,
        [this](const QString &uuid, const QString &percorso, const QString &errore) {
            const int posto = postoDellaProva(uuid);
            if (posto < 0)
                return;
            m_pannelli[size_t(posto)].ultima.rapportoScritto(percorso, errore);
            aggiornaTracciata(posto);
        });
    connect(&m_collaudo, &Collaudo::etichetta, this,
        [this](const QString &uuid, bool riuscita, const QString &motivo, bool inRitardo) {
            const int posto = postoDellaProva(uuid);
            if (posto < 0)
                return;
            m_pannelli[size_t(posto)].ultima.etichettaStampata(riuscita, motivo, inRitardo);
            aggiornaTracciata(posto);
        });
    connect(&m_posti, &CollaudoPosti::coperchioChiuso, this, [this] {
        m_interruttore->hide();
        avviaInsieme(true);
    });
    // The lid switch's reason, told once by the engine: said here until the lid is read again,
    // in a line of its own that a start does not clear.
    const auto illeggibile = [this](const QString &motivo) {
        QString perche = motivo.trimmed();
        while (perche.endsWith(u'.'))
            perche.chop(1);
        m_interruttore->show();
        mostraAvviso(m_interruttore,
            QStringLiteral("L'interruttore del coperchio non si legge: %1. I posti letti partono "
                           "con Ctrl+Invio.")
                .arg(perche));
    };
    connect(&m_posti, &CollaudoPosti::interruttoreNonLeggibile, this, illeggibile);
    if (!m_posti.interruttoreIlleggibile().isEmpty())
        illeggibile(m_posti.interruttoreIlleggibile());
    // The forwarding changes the station's line only.
    connect(&m_collaudo, &Collaudo::inviate, this, [this] {
        m_giornata->setText(FinestraCollaudo::testoGiornata(
            m_collaudo.giornata(), QDateTime::currentDateTime()));
    });
    connect(&m_collaudo, &Collaudo::archivioCambiato, this, [this] {
        aggiornaIntestazione();
        // Another archive holds other runs of the reference units.
        for (int n = 0; n < int(m_pannelli.size()); ++n)
            aggiornaCampioni(n);
    });
    resize(colonne == 2 ? 1000 : 1260, 900);
}

void FinestraPosti::aggiornaIntestazione()
{
    const QString archivio = m_collaudo.server().isEmpty()
        ? m_collaudo.descrizioneArchivio()
        : QStringLiteral("%1, inviato al server %2")
              .arg(m_collaudo.descrizioneArchivio(), m_collaudo.server());
    const bool coperchio = m_collaudo.modello().banco().interruttore.has_value();
    const QString avvio = m_posti.avvio() == AvvioPosti::Insieme
        ? (coperchio ? QStringLiteral("i posti letti partono insieme alla chiusura del coperchio "
                                      "o con Ctrl+Invio")
                     : QStringLiteral("i posti letti partono insieme con Ctrl+Invio"))
        : QStringLiteral("ogni posto parte alla lettura del suo numero di serie");
    m_intestazione->setText(
        QStringLiteral("Banco: %1 · Stazione: %2 · Operatore: %3 · %4 posti: %5\nArchivio: %6")
            .arg(m_collaudo.nomeBanco(), m_collaudo.stazione(),
                m_collaudo.operatore().isEmpty() ? QStringLiteral("(nessuno)")
                                                 : m_collaudo.operatore(),
                QString::number(m_posti.numeroPosti()), avvio, archivio));
    for (const Pannello &p : m_pannelli)
        adattaColonne(p.righe);
    if (!m_collaudo.erroreSorveglianza().isEmpty())
        avvisaFinestra(FinestraCollaudo::testoErroreSorveglianza(m_collaudo.erroreSorveglianza()));
    aggiornaGiornata();
}

void FinestraPosti::chiediOperatore()
{
    QDialog *dialogo
        = FinestraCollaudo::dialogoOperatore(this, m_collaudo, [this](const QString &esito) {
              if (esito.isEmpty())
                  aggiornaIntestazione();
              else
                  avvisaFinestra(esito);
          });
    connect(dialogo, &QDialog::finished, this, [this] { vaiAlProssimoLibero(0); });
}

QString FinestraPosti::annuncio(const QString &posto, const Collaudo::Esito &esito)
{
    QString perche = esito.motivo;
    if (perche.isEmpty()) {
        QStringList righe;
        for (const Collaudo::Scarto &s : esito.scarti)
            righe << QStringLiteral("%1: %2").arg(s.nome, s.perQuanto);
        perche = righe.isEmpty() ? QStringLiteral("unità %1").arg(esito.unita)
                                 : righe.join(QStringLiteral("; "));
    }
    return QStringLiteral("Posto %1: %2, %3").arg(posto, esito.esito.toUpper(), perche);
}

int FinestraPosti::postoDi(const QObject *oggetto) const
{
    for (size_t n = 0; n < m_pannelli.size(); ++n) {
        if (m_pannelli[n].seriale == oggetto)
            return int(n);
    }
    return -1;
}

// In a socket's field or on its Fuori servizio button: Esc stops every round, Maiusc+Esc this
// socket's, Ctrl+Invio starts the filled sockets, Ctrl+H asks for the history, Ctrl+P prints the
// label of the socket's last unit again. While the socket's round runs its field is locked, and
// what a scanner types there is kept aside until its Enter.
bool FinestraPosti::eventFilter(QObject *oggetto, QEvent *evento)
{
    int posto = postoDi(oggetto);
    bool pulsante = false;
    for (size_t n = 0; posto < 0 && n < m_pannelli.size(); ++n) {
        if (m_pannelli[n].servizio == oggetto) {
            posto = int(n);
            pulsante = true;
        }
    }
    if (posto < 0 || evento->type() != QEvent::KeyPress)
        return QWidget::eventFilter(oggetto, evento);
    const auto *tasto = static_cast<QKeyEvent *>(evento);
    Pannello &p = m_pannelli[size_t(posto)];
    if (tasto->key() == Qt::Key_H && tasto->modifiers() == Qt::ControlModifier) {
        emit storicoChiesto();
        return true;
    }
    if (tasto->key() == Qt::Key_P && tasto->modifiers() == Qt::ControlModifier) {
        ristampa(posto);
        return true;
    }
    if (tasto->key() == Qt::Key_Escape) {
        if (tasto->modifiers() & Qt::ShiftModifier)
            m_posti.ferma(posto);
        else
            m_posti.fermaTutti();
        return true;
    }
    if (eInvio(tasto) && (tasto->modifiers() & Qt::ControlModifier)) {
        avviaInsieme();
        return true;
    }
    // On the Fuori servizio button the keys are the button's.
    if (pulsante || !p.seriale->isReadOnly())
        return QWidget::eventFilter(oggetto, evento);
    if (eInvio(tasto))
        lettoDuranteLaProva(posto);
    else if (!tasto->text().isEmpty() && tasto->text().at(0).isPrint())
        p.lettoDurante += tasto->text();
    return true;
}

void FinestraPosti::lettoDuranteLaProva(int posto)
{
    Pannello &p = m_pannelli[size_t(posto)];
    const QString letto = p.lettoDurante.trimmed();
    p.lettoDurante.clear();
    const QString unita = m_posti.unita(posto);
    QString testo;
    if (letto.isEmpty()) {
        testo = QStringLiteral("Invio durante la prova dell'unità %1: attenderne la fine, o "
                               "fermarla, prima di leggere la prossima in questo posto.")
                    .arg(unita);
    } else {
        testo = QStringLiteral("«%1» letto mentre l'unità %2 era in prova in questo posto: non è "
                               "stato preso. Leggerlo nel campo di un posto libero.")
                    .arg(TestiAmmessi::mostrabile(letto), unita);
    }
    avvisa(posto, p.avvisoProva.isEmpty() ? testo : p.avvisoProva + u'\n' + testo);
    if (!m_posti.inCorso(posto))
        p.seriale->setReadOnly(false);
}

void FinestraPosti::invio(int posto)
{
    Pannello &p = m_pannelli[size_t(posto)];
    if (m_collaudo.operatore().isEmpty()) {
        avvisa(posto, QStringLiteral("Manca il nome dell'operatore: Alt+O per darlo."));
        return;
    }
    QString motivo;
    if (!m_posti.leggi(posto, p.seriale->text(), &motivo)) {
        avvisa(posto, motivo);
        p.seriale->selectAll();
        return;
    }
    vaiAlProssimoLibero(posto + 1);
}

void FinestraPosti::avviaInsieme(bool dalCoperchio)
{
    // A serial typed and not yet taken goes into its socket first.
    if (const int posto = postoDi(focusWidget()); posto >= 0) {
        const QLineEdit *seriale = m_pannelli[size_t(posto)].seriale;
        if (!seriale->isReadOnly() && seriale->isEnabled() && !seriale->text().trimmed().isEmpty()
            && seriale->text().trimmed() != m_posti.unita(posto))
            invio(posto);
    }
    if (m_posti.avvio() != AvvioPosti::Insieme) {
        avvisaFinestra(QStringLiteral("Su questo banco ogni posto parte da sé alla lettura del "
                                      "suo numero di serie: Ctrl+Invio non serve."));
        return;
    }
    QList<std::pair<int, QString>> rifiutati;
    const QList<int> avviati = m_posti.avviaRiempiti(&rifiutati);
    for (const auto &[posto, motivo] : std::as_const(rifiutati))
        avvisa(posto, motivo);
    if (avviati.isEmpty() && rifiutati.isEmpty()) {
        avvisaFinestra(dalCoperchio
                ? QStringLiteral("Coperchio chiuso, ma nessun posto ha un'unità in attesa: "
                                 "aprirlo, leggere i numeri di serie nei campi dei posti, poi "
                                 "richiuderlo.")
                : QStringLiteral("Nessun posto ha un'unità in attesa: leggere i numeri di "
                                 "serie nei campi dei posti, poi premere Ctrl+Invio."));
        return;
    }
    avvisaFinestra(QString());
    vaiAlProssimoLibero(0);
}

bool FinestraPosti::libero(int posto) const
{
    return !m_posti.inCorso(posto) && !m_posti.riempito(posto) && !m_posti.fuoriServizio(posto);
}

// Taking a socket out asks why (optional); a running socket is refused, to be stopped first by
// the operator, so that no run is cut short by a click meant for the socket's state.
void FinestraPosti::cambiaServizio(int posto)
{
    const QString nome = m_posti.nome(posto);
    QString errore;
    if (m_posti.fuoriServizio(posto)) {
        Pannello &p = m_pannelli[size_t(posto)];
        if (!m_posti.impostaServizio(posto, true, QString(), &errore)) {
            avvisa(posto, errore);
        } else if (focusWidget() == p.servizio) {
            // Back in service from its button: the next scan goes to it.
            p.seriale->setFocus();
        }
        return;
    }
    if (m_posti.inCorso(posto)) {
        avvisa(posto,
            QStringLiteral("Il posto %1 ha in prova l'unità %2: attenderne la fine, o "
                           "fermarla con il suo pulsante Ferma, prima di metterlo "
                           "fuori servizio.")
                .arg(nome, m_posti.unita(posto)));
        return;
    }
    auto *dialogo = new QInputDialog(this);
    dialogo->setObjectName(QStringLiteral("dialogoServizio"));
    dialogo->setWindowTitle(QStringLiteral("Collaudo: posto %1 fuori servizio").arg(nome));
    dialogo->setLabelText(QStringLiteral("Perché il posto %1 va fuori servizio (facoltativo, per "
                                         "esempio «contatto consumato»):")
                              .arg(nome));
    dialogo->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialogo, &QInputDialog::textValueSelected, this, [this, posto](const QString &motivo) {
        QString errore;
        if (!m_posti.impostaServizio(posto, false, motivo, &errore))
            avvisa(posto, errore);
    });
    connect(dialogo, &QDialog::finished, this, [this, posto] {
        // Out of service, the scanner goes on from it to the next free socket, once the dialog
        // has given the focus back to where it was; a focus elsewhere stays.
        QTimer::singleShot(0, this, [this, posto] {
            const Pannello &p = m_pannelli[size_t(posto)];
            const QWidget *aFuoco = focusWidget();
            if (m_posti.fuoriServizio(posto) && (aFuoco == p.seriale || aFuoco == p.servizio))
                vaiAlProssimoLibero(posto + 1);
        });
    });
    dialogo->open();
}

void FinestraPosti::mostraServizio(int posto)
{
    Pannello &p = m_pannelli[size_t(posto)];
    const QString nome = m_posti.nome(posto);
    const bool fuori = m_posti.fuoriServizio(posto);
    p.servizio->setText(
        fuori ? QStringLiteral("Rimetti in servizio") : QStringLiteral("Fuori servizio"));
    p.servizio->setAccessibleName(fuori
            ? QStringLiteral("Rimetti in servizio il posto %1").arg(nome)
            : QStringLiteral("Fuori servizio, posto %1").arg(nome));
    p.seriale->setEnabled(!fuori);
    p.righe->setEnabled(!fuori);
    p.avanzamento->setEnabled(!fuori);
    p.scarti->setEnabled(!fuori);
    if (fuori) {
        const ServizioPosto &s = m_posti.servizio(posto);
        p.seriale->clear();
        p.scarti->clear();
        avvisa(posto, QString());
        QStringList dettaglio;
        if (!s.motivo.isEmpty())
            dettaglio << s.motivo;
        if (!s.operatore.isEmpty())
            dettaglio << QStringLiteral("da %1").arg(s.operatore);
        if (s.quando.isValid()) {
            const QDateTime ora = s.quando.toLocalTime();
            dettaglio << QStringLiteral("il %1 alle %2")
                             .arg(ora.toString(QStringLiteral("d/M/yyyy")),
                                 ora.toString(QStringLiteral("HH:mm")));
        }
        mostraEsito(posto, QStringLiteral("FUORI SERVIZIO"), dettaglio.join(QStringLiteral(", ")),
            kFuoriServizio);
        // Its field cannot keep the focus: the next scan goes to a free socket.
        if (focusWidget() == p.seriale)
            vaiAlProssimoLibero(posto + 1);
        return;
    }
    mostraEsito(posto, QStringLiteral("PRONTO"),
        m_posti.avvio() == AvvioPosti::Insieme
            ? QStringLiteral("leggere il numero di serie, poi Ctrl+Invio per avviare")
            : QStringLiteral("leggere il numero di serie"),
        kAttesa);
}

void FinestraPosti::vaiAlProssimoLibero(int dopo)
{
    const int quanti = int(m_pannelli.size());
    for (int i = 0; i < quanti; ++i) {
        const int n = (dopo + i) % quanti;
        if (libero(n)) {
            if (m_scorrimento->widget())
                m_scorrimento->ensureWidgetVisible(m_pannelli[size_t(n)].gruppo);
            m_pannelli[size_t(n)].seriale->setFocus();
            m_pannelli[size_t(n)].seriale->selectAll();
            return;
        }
    }
}

void FinestraPosti::pronto(int posto, const QString &unita)
{
    Pannello &p = m_pannelli[size_t(posto)];
    p.seriale->setText(unita);
    avvisa(posto, QString());
    p.scarti->clear();
    mostraEsito(posto, QStringLiteral("IN ATTESA"),
        QStringLiteral("unità %1: Ctrl+Invio avvia i posti letti").arg(unita), kAttesa);
}

// The field is locked from here to the round's end: a scan meanwhile is refused, not joined.
void FinestraPosti::avviato(int posto, const QString &unita, const QString &avviso)
{
    Pannello &p = m_pannelli[size_t(posto)];
    p.seriale->setText(unita);
    p.seriale->setReadOnly(true);
    p.lettoDurante.clear();
    p.avvisoProva = avviso.isEmpty() ? QString() : avviso.left(1).toUpper() + avviso.mid(1);
    avvisa(posto, p.avvisoProva);
    p.scarti->clear();
    p.ultima = {};
    p.ultima.unita = unita;
    p.avanzamento->setRange(0, m_posti.modello(posto).rowCount());
    p.avanzamento->setValue(0);
    p.ferma->setEnabled(true);
    // The start reset the rows: the state takes the width again, the others keep theirs until
    // the round's values are in.
    p.righe->horizontalHeader()->setSectionResizeMode(ModelloTabella::Stato, QHeaderView::Stretch);
    mostraEsito(posto, QStringLiteral("IN PROVA"), QStringLiteral("unità %1").arg(unita), kAttesa);
    aggiornaTracciata(posto);
}

void FinestraPosti::rigaLetta(int posto, int riga)
{
    m_pannelli[size_t(posto)].avanzamento->setValue(riga + 1);
}

void FinestraPosti::finito(int posto, const Collaudo::Esito &esito)
{
    Pannello &p = m_pannelli[size_t(posto)];
    p.ferma->setEnabled(false);
    // A scan begun during the round keeps the field locked until its Enter.
    p.seriale->setReadOnly(!p.lettoDurante.isEmpty());
    const FinestraCollaudo::TestiEsito testi = FinestraCollaudo::testiEsito(esito);
    p.scarti->setText(testi.scarti);
    mostraEsito(posto, testi.titolo, testi.dettaglio, testi.colore,
        annuncio(m_posti.nome(posto), esito));
    // The report and the label come after the outcome, told by the run they are of.
    p.ultima.prova = esito.prova;
    p.ultima.etichettaAttesa = esito.esito == Esiti::kConforme && esito.campione.isEmpty();
    sorveglia(posto, esito);
    aggiornaCampioni(posto);
    adattaColonne(p.righe);
    // The socket is free again: the operator's next scan goes to it unless the field with the
    // focus is free already.
    const int aFuoco = postoDi(focusWidget());
    if (aFuoco < 0 || !libero(aFuoco)) {
        p.seriale->setFocus();
        p.seriale->selectAll();
    }
    // Every socket's: a unit retested here may change the figures of the socket it was first in.
    aggiornaGiornata();
}

// Heard as the outcome is: with the socket's name, on its field and on the field with the focus.
void FinestraPosti::sorveglia(int posto, const Collaudo::Esito &esito)
{
    Pannello &p = m_pannelli[size_t(posto)];
    const QString nome = m_posti.nome(posto);
    const QList<Collaudo::Deriva> derive
        = m_collaudo.sorveglia(m_posti.modello(posto), nome, esito.unita, esito.esito);
    if (derive.isEmpty())
        return;
    const QString testo = FinestraCollaudo::testoDerive(derive, QTime::currentTime());
    p.deriva->setText(testo);
    p.deriva->setAccessibleName(QStringLiteral("Posto %1: %2").arg(nome, testo));
    p.deriva->show();
    QAccessibleEvent evento(p.deriva, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&evento);
    diAiCampi(posto, testo);
}

void FinestraPosti::diAiCampi(int posto, const QString &testo, const QString &prima)
{
    const QString nome = m_posti.nome(posto);
    const QString detto
        = testo.isEmpty() ? QString() : QStringLiteral(". Posto %1: %2").arg(nome, testo);
    const QString tolto
        = prima.isEmpty() ? QString() : QStringLiteral(". Posto %1: %2").arg(nome, prima);
    QList<QWidget *> dove{m_pannelli[size_t(posto)].seriale};
    const int aFuoco = postoDi(focusWidget());
    if (aFuoco >= 0 && aFuoco != posto)
        dove << m_pannelli[size_t(aFuoco)].seriale;
    for (QWidget *campo : std::as_const(dove)) {
        QString descrizione = campo->accessibleDescription();
        if (!tolto.isEmpty() && descrizione.contains(tolto))
            descrizione.replace(tolto, detto);
        else if (!detto.isEmpty())
            descrizione += detto;
        else
            continue;
        campo->setAccessibleDescription(descrizione);
        QAccessibleEvent evento(campo, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&evento);
    }
}

int FinestraPosti::postoDellaProva(const QString &uuid) const
{
    if (uuid.isEmpty())
        return -1;
    for (size_t n = 0; n < m_pannelli.size(); ++n) {
        if (m_pannelli[n].ultima.prova == uuid)
            return int(n);
    }
    return -1;
}

// In yellow when the report or the label failed; a reader hears a failure with the outcome.
void FinestraPosti::aggiornaTracciata(int posto)
{
    Pannello &p = m_pannelli[size_t(posto)];
    const QString testo = p.ultima.testo();
    p.tracciata->setVisible(!testo.isEmpty());
    if (testo == p.tracciata->text())
        return;
    p.tracciata->setText(testo);
    QPalette colori = p.gruppo->palette();
    if (p.ultima.problema()) {
        colori.setColor(QPalette::Window, QColor(0xFF, 0xD2, 0x00));
        colori.setColor(QPalette::WindowText, Qt::black);
    }
    p.tracciata->setAutoFillBackground(p.ultima.problema());
    // In yellow the text keeps clear of the edge; otherwise it lines up with the lines around.
    p.tracciata->setMargin(p.ultima.problema() ? 3 : 0);
    p.tracciata->setPalette(colori);
    const QString nome = m_posti.nome(posto);
    p.tracciata->setAccessibleName(
        testo.isEmpty() ? QString() : QStringLiteral("Posto %1: %2").arg(nome, testo));
    const QString detta = p.ultima.problema() ? testo : QString();
    diAiCampi(posto, detta, p.tracciataDetta);
    p.tracciataDetta = detta;
    if (!testo.isEmpty()) {
        QAccessibleEvent evento(p.tracciata, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&evento);
    }
}

void FinestraPosti::aggiornaCampioni(int posto)
{
    Pannello &p = m_pannelli[size_t(posto)];
    const QString testo = FinestraCollaudo::testoCampioni(m_collaudo, m_posti.nome(posto));
    p.campioni->setVisible(!testo.isEmpty());
    if (testo == p.campioni->text())
        return;
    p.campioni->setText(testo);
    p.campioni->setAccessibleName(testo.isEmpty()
            ? QString()
            : QStringLiteral("Posto %1: %2").arg(m_posti.nome(posto), testo));
    QAccessibleEvent evento(p.campioni, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&evento);
}

void FinestraPosti::ristampa(int posto)
{
    Pannello &p = m_pannelli[size_t(posto)];
    const auto perche = [this, &p, posto](const QString &testo) {
        const bool conAvviso = !p.avvisoProva.isEmpty() && m_posti.inCorso(posto);
        avvisa(posto, conAvviso ? p.avvisoProva + u'\n' + testo : testo);
    };
    if (m_posti.inCorso(posto)) {
        perche(QStringLiteral("L'unità %1 è in prova in questo posto: Ctrl+P ristampa l'etichetta "
                              "dell'ultima unità del posto a prova finita.")
                   .arg(m_posti.unita(posto)));
        return;
    }
    if (p.ultima.prova.isEmpty() || !p.ultima.etichettaAttesa) {
        perche(p.ultima.unita.isEmpty()
                ? QStringLiteral("Nessuna unità provata finora in questo posto: non c'è "
                                 "un'etichetta da ristampare.")
                : QStringLiteral("L'unità %1 non ha etichetta: l'etichetta va solo alle unità di "
                                 "produzione conformi.")
                      .arg(p.ultima.unita));
        return;
    }
    QString motivo;
    if (!m_collaudo.ristampa(p.ultima.prova, &motivo)) {
        perche(QStringLiteral("Etichetta non ristampata: %1.").arg(motivo));
        return;
    }
    p.ultima.ristampaChiesta = true;
    p.ultima.etichetta = QStringLiteral("ristampa dell'etichetta inviata");
    p.ultima.etichettaFallita = false;
    aggiornaTracciata(posto);
}

void FinestraPosti::avvisa(int posto, const QString &testo)
{
    QLabel *avviso = m_pannelli[size_t(posto)].avviso;
    avviso->setText(testo);
    QAccessibleEvent evento(avviso, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&evento);
}

void FinestraPosti::avvisaFinestra(const QString &testo)
{
    mostraAvviso(m_avviso, testo);
}

void FinestraPosti::mostraAvviso(QLabel *dove, const QString &testo)
{
    dove->setText(testo);
    QAccessibleEvent evento(dove, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&evento);
}

// detto: what a reader is told, with the socket's name, where the reader is: on the socket's own
// field and on the field that has the focus, which may be another socket's.
void FinestraPosti::mostraEsito(int posto, const QString &testo, const QString &dettaglio,
    const QColor &sfondo, const QString &detto)
{
    Pannello &p = m_pannelli[size_t(posto)];
    p.esito->setText(testo);
    p.dettaglio->setText(FinestraCollaudo::percorsiInteri(dettaglio));
    QPalette colori = p.riquadro->palette();
    colori.setColor(QPalette::Window, sfondo);
    colori.setColor(QPalette::WindowText, Qt::white);
    p.riquadro->setPalette(colori);
    const QString descrizione = detto.isEmpty()
        ? QStringLiteral("Posto %1: %2, %3").arg(m_posti.nome(posto), testo, dettaglio)
        : detto;
    p.riquadro->setAccessibleDescription(descrizione);
    p.gruppo->setAccessibleDescription(descrizione);
    QList<QWidget *> dove{p.riquadro, p.gruppo, p.seriale};
    const QString ultimo = QStringLiteral("Ultimo esito: %1").arg(descrizione);
    p.seriale->setAccessibleDescription(ultimo);
    if (!detto.isEmpty()) {
        const int aFuoco = postoDi(focusWidget());
        if (aFuoco >= 0 && aFuoco != posto) {
            m_pannelli[size_t(aFuoco)].seriale->setAccessibleDescription(ultimo);
            dove << m_pannelli[size_t(aFuoco)].seriale;
        }
    }
    for (QWidget *parte : std::as_const(dove)) {
        QAccessibleEvent evento(parte, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&evento);
    }
}

void FinestraPosti::aggiornaGiornata()
{
    m_giornata->setText(
        FinestraCollaudo::testoGiornata(m_collaudo.giornata(), QDateTime::currentDateTime()));
    std::vector<CollaudoPosti::Resa> rese(m_pannelli.size());
    CollaudoPosti::Resa tutte;
    for (int n = 0; n < int(m_pannelli.size()); ++n) {
        const Collaudo::Giornata g = m_collaudo.giornata(m_posti.nome(n));
        m_pannelli[size_t(n)].giornata->setText(g.errore.isEmpty()
                ? QStringLiteral("Oggi in questo posto: ") + FinestraCollaudo::testoCifre(g)
                : QString());
        if (g.errore.isEmpty() && g.resaAlPrimo) {
            rese[size_t(n)] = {g.unita, qRound64(*g.resaAlPrimo * double(g.unita))};
            tutte.unita += g.unita;
            tutte.alPrimo += rese[size_t(n)].alPrimo;
        }
    }
    // Each socket against the others together; a reader hears a new warning with its socket.
    for (int n = 0; n < int(m_pannelli.size()); ++n) {
        Pannello &p = m_pannelli[size_t(n)];
        const CollaudoPosti::Resa &qui = rese[size_t(n)];
        const QString avviso = CollaudoPosti::avvisoContatti(
            qui, {tutte.unita - qui.unita, tutte.alPrimo - qui.alPrimo});
        if (avviso.compare(p.contatti->text(), Qt::CaseInsensitive) == 0)
            continue;
        p.contatti->setText(avviso.left(1).toUpper() + avviso.mid(1));
        p.contatti->setVisible(!avviso.isEmpty());
        p.contatti->setAccessibleName(avviso.isEmpty()
                ? QString()
                : QStringLiteral("Posto %1: %2").arg(m_posti.nome(n), avviso));
        if (!avviso.isEmpty()) {
            QAccessibleEvent evento(p.contatti, QAccessible::NameChanged);
            QAccessible::updateAccessibility(&evento);
        }
    }
}

void FinestraPosti::showEvent(QShowEvent *evento)
{
    QWidget::showEvent(evento);
    vaiAlProssimoLibero(0);
    aggiornaGiornata();
    for (int n = 0; n < int(m_pannelli.size()); ++n)
        aggiornaCampioni(n);
}

void FinestraPosti::closeEvent(QCloseEvent *evento)
{
    m_posti.fermaTutti();
    QWidget::closeEvent(evento);
}
