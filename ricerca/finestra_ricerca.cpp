#include "finestra_ricerca.h"

#include "dialogo_csv.h"
#include "numeri_italiani.h"
#include "pannello.h"
#include "registro_traffico.h"
#include "testi_traffico.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace {

QPushButton *pulsante(const QString &testo, QWidget *genitore, const QString &descrizione)
{
    auto *p = new QPushButton(testo, genitore);
    p->setAutoDefault(false);
    p->setToolTip(descrizione);
    p->setAccessibleDescription(descrizione);
    return p;
}

QSpinBox *indirizzo(int valore, const QString &nome, QWidget *genitore)
{
    auto *campo = new QSpinBox(genitore);
    campo->setRange(0, 0xFFFF);
    campo->setValue(valore);
    campo->setAccessibleName(nome);
    return campo;
}

} // namespace

FinestraRicerca::FinestraRicerca(
    RicercaStrumento &ricerca, Pannello &pannello, const QStringList &elencoBaud, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_ricerca(ricerca)
    , m_pannello(pannello)
    , m_altriBaud(new QLineEdit(this))
    , m_primo(indirizzo(0, QStringLiteral("Primo indirizzo dello strumento"), this))
    , m_ultimo(indirizzo(15, QStringLiteral("Ultimo indirizzo dello strumento"), this))
    , m_memoria(new QLineEdit(this))
    , m_fermatiAllaPrima(new QCheckBox(QStringLiteral("fermati alla &prima risposta"), this))
    , m_stima(new QLabel(this))
    , m_avvia(pulsante(QStringLiteral("&Avvia"), this,
          QStringLiteral("Prova ogni velocità scelta con ogni indirizzo, una richiesta di "
                         "lettura per volta")))
    , m_ferma(pulsante(QStringLiteral("&Ferma"), this,
          QStringLiteral("Si ferma alla fine della prova in corso (Esc)")))
    , m_avanzamento(new QProgressBar(this))
    , m_stato(new QLabel(this))
    , m_risultati(new QStandardItemModel(0, 5, this))
    , m_tabella(new QTableView(this))
    , m_senzaRisposta(new QLabel(this))
    , m_usa(pulsante(QStringLiteral("&Usa"), this,
          QStringLiteral("Mette velocità e indirizzo del risultato scelto nel pannello")))
    , m_esporta(pulsante(
          QStringLiteral("&Esporta…"), this, QStringLiteral("Scrive i risultati in un file CSV")))
{
    setObjectName(QStringLiteral("finestraRicerca"));
    setWindowTitle(QStringLiteral("Cerca strumento"));
    resize(620, 600);

    // What to try.
    auto *baud = new QGridLayout;
    for (const QString &voce : RicercaStrumento::velocitaProposte(elencoBaud)) {
        auto *casella = new QCheckBox(voce, this);
        casella->setChecked(true);
        casella->setAccessibleName(QStringLiteral("%1 baud").arg(voce));
        baud->addWidget(casella, int(m_baud.size() / 6), int(m_baud.size() % 6));
        m_baud.append(casella);
        connect(casella, &QCheckBox::toggled, this, &FinestraRicerca::aggiornaStima);
    }
    auto *tutte = pulsante(QStringLiteral("&Tutte"), this, QStringLiteral("Sceglie ogni velocità"));
    auto *nessuna = pulsante(
        QStringLiteral("&Nessuna"), this, QStringLiteral("Toglie ogni velocità dell'elenco"));
    tutte->setObjectName(QStringLiteral("tutte"));
    nessuna->setObjectName(QStringLiteral("nessuna"));
    for (auto [p, scelta] : {std::pair{tutte, true}, std::pair{nessuna, false}}) {
        connect(p, &QPushButton::clicked, this, [this, scelta = scelta] {
            for (QCheckBox *casella : std::as_const(m_baud))
                casella->setChecked(scelta);
        });
    }
    auto *sceltaBaud = new QHBoxLayout;
    sceltaBaud->addWidget(tutte);
    sceltaBaud->addWidget(nessuna);
    sceltaBaud->addStretch(1);
    baud->addLayout(sceltaBaud, int((m_baud.size() + 5) / 6), 0, 1, 6);
    m_altriBaud->setObjectName(QStringLiteral("altriBaud"));
    m_altriBaud->setPlaceholderText(QStringLiteral("per esempio 57600, 115200"));
    m_altriBaud->setAccessibleName(QStringLiteral("Altre velocità"));
    m_primo->setObjectName(QStringLiteral("primoIndirizzo"));
    m_ultimo->setObjectName(QStringLiteral("ultimoIndirizzo"));
    auto *indirizzi = new QHBoxLayout;
    indirizzi->addWidget(m_primo);
    indirizzi->addWidget(new QLabel(QStringLiteral("a"), this));
    indirizzi->addWidget(m_ultimo);
    indirizzi->addStretch(1);
    m_memoria->setObjectName(QStringLiteral("memoriaRicerca"));
    m_memoria->setAccessibleName(QStringLiteral("Indirizzo di memoria da leggere"));
    m_memoria->setText(m_pannello.testo(Campo::ComboIndirizzo).trimmed());
    m_memoria->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9A-Fa-f]{1,4}")), m_memoria));
    m_fermatiAllaPrima->setObjectName(QStringLiteral("fermatiAllaPrima"));
    m_stima->setObjectName(QStringLiteral("stima"));
    m_stima->setAccessibleName(QStringLiteral("Prove e durata"));
    auto *modulo = new QFormLayout;
    modulo->addRow(QStringLiteral("Velocità (baud):"), baud);
    auto *etichettaAltri = new QLabel(QStringLiteral("A&ltre velocità:"), this);
    etichettaAltri->setBuddy(m_altriBaud);
    modulo->addRow(etichettaAltri, m_altriBaud);
    auto *etichettaIndirizzi = new QLabel(QStringLiteral("&Indirizzi strumento: da"), this);
    etichettaIndirizzi->setBuddy(m_primo);
    modulo->addRow(etichettaIndirizzi, indirizzi);
    auto *etichettaMemoria = new QLabel(QStringLiteral("Indirizzo di &memoria:"), this);
    etichettaMemoria->setBuddy(m_memoria);
    modulo->addRow(etichettaMemoria, m_memoria);
    modulo->addRow(QString(), m_fermatiAllaPrima);
    modulo->addRow(QStringLiteral("Prove:"), m_stima);
    for (QSpinBox *campo : {m_primo, m_ultimo})
        connect(campo, &QSpinBox::valueChanged, this, &FinestraRicerca::aggiornaStima);
    connect(m_altriBaud, &QLineEdit::textChanged, this, &FinestraRicerca::aggiornaStima);

    // While it runs.
    m_avvia->setObjectName(QStringLiteral("avvia"));
    m_ferma->setObjectName(QStringLiteral("ferma"));
    auto *pulsanti = new QHBoxLayout;
    pulsanti->addWidget(m_avvia);
    pulsanti->addWidget(m_ferma);
    pulsanti->addStretch(1);
    m_avanzamento->setObjectName(QStringLiteral("avanzamento"));
    m_avanzamento->setAccessibleName(QStringLiteral("Prove fatte"));
    // Empty until a search has a count of its own to show.
    m_avanzamento->setRange(0, 1);
    m_avanzamento->setValue(0);
    m_avanzamento->setFormat(QString());
    m_stato->setObjectName(QStringLiteral("statoRicerca"));
    m_stato->setAccessibleName(QStringLiteral("Prova in corso"));
    // Sizes of their own, so that the texts of each probe repaint the labels and lay out nothing
    // else.
    for (QLabel *etichetta : {m_stato, m_senzaRisposta}) {
        etichetta->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        etichetta->setFixedHeight(etichetta->fontMetrics().height() + 4);
    }

    // What answered.
    m_risultati->setHorizontalHeaderLabels({QStringLiteral("Baud"), QStringLiteral("Indirizzo"),
        QStringLiteral("Ricevuti"), QStringLiteral("Valore"), QStringLiteral("Latenza (ms)")});
    m_tabella->setObjectName(QStringLiteral("risultatiRicerca"));
    m_tabella->setAccessibleName(QStringLiteral("Combinazioni che hanno risposto"));
    m_tabella->setAccessibleDescription(QStringLiteral(
        "Una riga per velocità e indirizzo che hanno avuto risposta: byte ricevuti, valore e "
        "latenza"));
    m_tabella->setModel(m_risultati);
    m_tabella->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tabella->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tabella->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tabella->setTabKeyNavigation(false);
    m_tabella->verticalHeader()->hide();
    m_tabella->horizontalHeader()->setStretchLastSection(true);
    m_tabella->setColumnWidth(2, fontMetrics().horizontalAdvance(u'0') * 20);
    m_senzaRisposta->setObjectName(QStringLiteral("senzaRisposta"));
    m_senzaRisposta->setAccessibleName(QStringLiteral("Prove senza risposta"));
    m_usa->setObjectName(QStringLiteral("usa"));
    m_esporta->setObjectName(QStringLiteral("esporta"));
    auto *sotto = new QHBoxLayout;
    sotto->addWidget(m_senzaRisposta, 1);
    sotto->addWidget(m_usa);
    sotto->addWidget(m_esporta);

    auto *colonna = new QVBoxLayout(this);
    colonna->addLayout(modulo);
    colonna->addLayout(pulsanti);
    colonna->addWidget(m_avanzamento);
    colonna->addWidget(m_stato);
    colonna->addWidget(m_tabella, 1);
    colonna->addLayout(sotto);

    // Tab goes as the window reads: the rates, the other fields, then the buttons and results.
    QList<QWidget *> ordine(m_baud.begin(), m_baud.end());
    ordine << tutte << nessuna << m_altriBaud << m_primo << m_ultimo << m_memoria
           << m_fermatiAllaPrima << m_avvia << m_ferma << m_tabella << m_usa << m_esporta;
    for (qsizetype i = 1; i < ordine.size(); ++i)
        QWidget::setTabOrder(ordine[i - 1], ordine[i]);
    ordine.front()->setFocus();

    connect(m_avvia, &QPushButton::clicked, this, &FinestraRicerca::avvia);
    connect(m_ferma, &QPushButton::clicked, this, &FinestraRicerca::ferma);
    connect(m_usa, &QPushButton::clicked, this,
        [this] { usa(m_tabella->selectionModel()->currentIndex().row()); });
    connect(m_tabella, &QTableView::activated, this,
        [this](const QModelIndex &indice) { usa(indice.row()); });
    connect(m_esporta, &QPushButton::clicked, this, &FinestraRicerca::esporta);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
        &FinestraRicerca::ferma);
    connect(m_tabella->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &FinestraRicerca::aggiornaPulsanti);
    connect(&m_ricerca, &RicercaStrumento::provaIniziata, this, [this](qint64 n) {
        m_provaInCorso = n;
        aggiornaStato();
    });
    connect(&m_ricerca, &RicercaStrumento::provata, this, &FinestraRicerca::aggiornaConti);
    connect(&m_ricerca, &RicercaStrumento::trovato, this, &FinestraRicerca::aggiungi);
    connect(&m_ricerca, &RicercaStrumento::terminata, this, &FinestraRicerca::terminata);
    aggiornaStima();
    aggiornaStato();
    aggiornaPulsanti();
}

std::optional<RicercaStrumento::Impostazioni> FinestraRicerca::impostazioni(QString *errore) const
{
    RicercaStrumento::Impostazioni impostazioni;
    QStringList scelti;
    for (const QCheckBox *casella : m_baud) {
        if (casella->isChecked())
            scelti.append(casella->text());
    }
    const std::optional<QStringList> altri
        = RicercaStrumento::leggiBaud(m_altriBaud->text(), errore);
    if (!altri)
        return std::nullopt;
    // The panel's rate goes first only if it is one of those chosen.
    const QString delPannello = m_pannello.testo(Campo::Combo2).trimmed();
    scelti += *altri;
    impostazioni.baud = RicercaStrumento::ordineDeiBaud(
        scelti, scelti.contains(delPannello) ? delPannello : QString());
    impostazioni.primo = quint16(m_primo->value());
    impostazioni.ultimo = quint16(m_ultimo->value());
    impostazioni.porta = m_pannello.testo(Campo::Combo1);
    impostazioni.memoria = m_memoria->text();
    impostazioni.fermatiAllaPrima = m_fermatiAllaPrima->isChecked();
    return impostazioni;
}

void FinestraRicerca::aggiornaStima()
{
    QString errore;
    const auto scelte = impostazioni(&errore);
    if (!scelte)
        m_stima->setText(errore);
    else if (m_primo->value() > m_ultimo->value())
        m_stima->setText(QStringLiteral("Il primo indirizzo è dopo l'ultimo."));
    else if (scelte->baud.isEmpty())
        m_stima->setText(QStringLiteral("Nessuna velocità scelta."));
    else
        m_stima->setText(RicercaStrumento::testoStima(RicercaStrumento::numeroProve(*scelte)));
}

void FinestraRicerca::messaggio(const QString &testo, const QString &dettaglio)
{
    auto *finestra = new QMessageBox(
        QMessageBox::Warning, QStringLiteral("Cerca strumento"), testo, QMessageBox::Ok, this);
    finestra->setObjectName(QStringLiteral("messaggioRicerca"));
    finestra->setInformativeText(dettaglio);
    finestra->setAttribute(Qt::WA_DeleteOnClose);
    finestra->open();
}

void FinestraRicerca::avvia()
{
    if (m_ricerca.inCorso())
        return;
    QString errore;
    std::optional<RicercaStrumento::Impostazioni> scelte = impostazioni(&errore);
    if (scelte && RicercaStrumento::numeroProve(*scelte) == 0)
        errore = m_stima->text();
    else if (scelte)
        errore = RicercaStrumento::verifica(*scelte);
    if (!errore.isEmpty()) {
        messaggio(QStringLiteral("La ricerca non può partire."), errore);
        return;
    }
    if (!m_ricerca.avvia(*scelte)) {
        messaggio(SequenzaRichieste::testoOccupata(m_ricerca.motore().occupante()));
        return;
    }
    m_risultati->removeRows(0, m_risultati->rowCount());
    m_avanzamento->setRange(0, int(std::min<qint64>(m_ricerca.totale(), INT_MAX)));
    m_avanzamento->setValue(0);
    m_avanzamento->setFormat(QStringLiteral("%v di %m"));
    m_provaInCorso = -1;
    aggiornaStato();
    aggiornaPulsanti();
}

void FinestraRicerca::ferma()
{
    m_ricerca.ferma();
    aggiornaStato();
}

// Closing the window ends the search, as closing the panel ends a request.
void FinestraRicerca::closeEvent(QCloseEvent *evento)
{
    m_ricerca.ferma();
    QWidget::closeEvent(evento);
}

// A progress bar repaints itself at once, and flushes to the screen on its own, whenever its value
// moves a pixel; with updates held back it is painted with the probe's other changes.
void FinestraRicerca::aggiornaConti()
{
    m_avanzamento->setUpdatesEnabled(false);
    m_avanzamento->setValue(int(std::min<qint64>(m_ricerca.fatte(), INT_MAX)));
    m_avanzamento->setUpdatesEnabled(true);
    m_senzaRisposta->setText(QStringLiteral("Senza risposta: %1").arg(NumeriItaliani::conta(
        m_ricerca.senzaRisposta(), QStringLiteral("prova"), QStringLiteral("prove"))));
}

void FinestraRicerca::aggiornaStato()
{
    const qint64 fatte = m_ricerca.fatte();
    aggiornaConti();
    if (!m_ricerca.inCorso()) {
        if (m_ricerca.totale() == 0) {
            m_stato->setText(QStringLiteral("Pronta."));
            return;
        }
        const bool fermata = m_ricerca.motore().fermata() && fatte < m_ricerca.totale();
        m_stato->setText(
            QStringLiteral("%1 %2 prove di %3: %4 con risposta.")
                .arg(fermata ? QStringLiteral("Fermata dopo") : QStringLiteral("Finita:"),
                    NumeriItaliani::intero(fatte), NumeriItaliani::intero(m_ricerca.totale()),
                    NumeriItaliani::intero(m_ricerca.trovati().size())));
        return;
    }
    if (m_provaInCorso < 0)
        return;
    const auto [baud, indirizzo] = m_ricerca.prova(m_provaInCorso);
    m_stato->setText(QStringLiteral("Prova %1 di %2: %3 baud, indirizzo %4 · mancano circa %5")
                         .arg(NumeriItaliani::intero(m_provaInCorso + 1),
                             NumeriItaliani::intero(m_ricerca.totale()))
                         .arg(baud)
                         .arg(indirizzo)
                         .arg(NumeriItaliani::durata(m_ricerca.secondiRimasti())));
}

void FinestraRicerca::aggiungi(const RicercaStrumento::Trovato &trovato)
{
    QList<QStandardItem *> riga;
    QStringList colonne = RicercaStrumento::colonneCsv(trovato);
    colonne.last() = NumeriItaliani::daMacchina(colonne.last());
    for (const QString &testo : std::as_const(colonne)) {
        auto *cella = new QStandardItem(testo);
        if (riga.size() != 2)
            cella->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        riga.append(cella);
    }
    m_risultati->appendRow(riga);
    if (m_risultati->rowCount() == 1)
        m_tabella->selectRow(0);
    aggiornaPulsanti();
}

void FinestraRicerca::terminata(int errore, const QString &descrizione)
{
    m_provaInCorso = -1;
    aggiornaStato();
    aggiornaPulsanti();
    if (errore != 0)
        messaggio(
            QStringLiteral("La ricerca si è fermata per l'errore %1.").arg(errore), descrizione);
}

void FinestraRicerca::usa(int riga)
{
    if (riga < 0 || riga >= m_ricerca.trovati().size())
        return;
    const RicercaStrumento::Trovato &trovato = m_ricerca.trovati().at(riga);
    m_pannello.impostaTesto(Campo::Combo2, trovato.baud);
    m_pannello.impostaTesto(Campo::Combo5, QString::number(trovato.indirizzo));
    m_stato->setText(QStringLiteral("Nel pannello: %1 baud, indirizzo %2.")
                         .arg(trovato.baud)
                         .arg(trovato.indirizzo));
}

void FinestraRicerca::aggiornaPulsanti()
{
    const bool inCorso = m_ricerca.inCorso();
    m_avvia->setEnabled(!inCorso);
    m_ferma->setEnabled(inCorso);
    for (QWidget *campo : std::initializer_list<QWidget *>{
             m_altriBaud, m_primo, m_ultimo, m_memoria, m_fermatiAllaPrima})
        campo->setEnabled(!inCorso);
    for (QCheckBox *casella : std::as_const(m_baud))
        casella->setEnabled(!inCorso);
    m_usa->setEnabled(m_tabella->selectionModel()->hasSelection());
    m_esporta->setEnabled(!m_ricerca.trovati().isEmpty());
    // Selectable when it stays; while the search runs it changes with every probe, and a
    // selectable label lays its text out in a second paint each time.
    m_stato->setTextInteractionFlags(inCorso ? Qt::NoTextInteraction : Qt::TextSelectableByMouse);
}

void FinestraRicerca::esporta()
{
    DialogoCsv::esporta(
        this, QStringLiteral("Esporta i risultati della ricerca"), QStringLiteral("ricerca.csv"),
        QStringLiteral("dialogoEsportaRicerca"),
        [this] { return m_ricerca.comeCsv(TestiTraffico::FormaCsv::Foglio); },
        [this](const QString &percorso, const QString &errore) {
            if (!errore.isEmpty())
                messaggio(QStringLiteral("Impossibile scrivere %1.")
                              .arg(QDir::toNativeSeparators(percorso)),
                    QStringLiteral("%1. Scegliere un'altra cartella o un altro nome.").arg(errore));
        });
}
