#include "finestra_storico.h"

#include "dialogo_csv.h"
#include "file_banco.h"
#include "grafico_storico.h"
#include "lettore_storico.h"
#include "modello_storico.h"
#include "numeri_italiani.h"
#include "rapporto.h"
#include "scrittore_rapporti.h"
#include "testi_storico.h"
#include "testi_traffico.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace {

using TestiTraffico::FormaCsv;

// A figure as the window shows it; empty where there is none.
QString cifra(const std::optional<double> &valore)
{
    return valore ? NumeriItaliani::daMacchina(QString::number(*valore, 'g', 6)) : QString();
}

// "1.200 A" as the archive keeps it, "1,200 A" as an Italian reads it.
QString mostrato(const QString &testo)
{
    const qsizetype spazio = testo.indexOf(u' ');
    return spazio < 0 ? NumeriItaliani::daMacchina(testo)
                      : NumeriItaliani::daMacchina(testo.left(spazio)) + testo.mid(spazio);
}

// The socket's column comes first; it is shown when the figures are per socket.
const QStringList kColonneStatistiche{"Posto", "Banco", "Riga", "Strumento", "Memoria",
    "Unità di misura", "Limite min.", "Limite max.", "Letture", "Con valore", "Media", "Dev. std.",
    "Min", "Max", "Cp", "Cpk", "Pp", "Ppk", "Giudizio", "Fuori dai limiti", "Fallite"};

QStringList campiStatistica(const QString &posto, const StatisticaRiga &s)
{
    return {posto, s.banco, s.nome, QString::number(s.strumento), s.memoria, s.unitaMisura,
        cifra(s.minimo), cifra(s.massimo), NumeriItaliani::intero(s.letture),
        NumeriItaliani::intero(s.conValore), cifra(s.media), cifra(s.deviazione),
        cifra(s.valoreMinimo), cifra(s.valoreMassimo), TestiStorico::cpk(s.cp),
        TestiStorico::cpk(s.cpk), TestiStorico::cpk(s.pp), TestiStorico::cpk(s.ppk),
        TestiStorico::giudizio(s), NumeriItaliani::intero(s.fuoriDaiLimiti),
        NumeriItaliani::intero(s.fallite)};
}

const QStringList kColonneRese{"Posto", "Banco", "Versione", "Unità", "Prove concluse",
    "Da ripetere", "Conformi al primo passaggio", "Resa al primo passaggio",
    "Conformi all'ultima prova", "Resa finale", "Ripetizioni"};

QStringList campiResa(const QString &posto, const ResaBanco &r)
{
    return {posto, r.banco, TestiStorico::versioneBreve(r.versione),
        NumeriItaliani::intero(r.unita), NumeriItaliani::intero(r.prove),
        NumeriItaliani::intero(r.daRipetere), NumeriItaliani::intero(r.conformiAlPrimo),
        TestiStorico::percento(r.conformiAlPrimo, r.unita),
        NumeriItaliani::intero(r.conformiAllUltimo),
        TestiStorico::percento(r.conformiAllUltimo, r.unita), TestiStorico::ripetizioni(r)};
}

const QStringList kColonneReseRighe{"Posto", "Banco", "Versione", "Riga", "Nome", "Unità",
    "Conformi al primo passaggio", "Resa al primo passaggio", "Prove fallite"};

QStringList campiResaRiga(const QString &posto, const ResaBanco &b, const ResaRiga &r)
{
    return {posto, b.banco, TestiStorico::versioneBreve(b.versione), QString::number(r.n + 1),
        r.nome, NumeriItaliani::intero(r.unita), NumeriItaliani::intero(r.conformiAlPrimo),
        TestiStorico::percento(r.conformiAlPrimo, r.unita), NumeriItaliani::intero(r.fallite)};
}

// Where rules 5 to 8 are chosen, in the settings the programs share.
constexpr char kChiaveRegole5A8[] = "storico/regole_5_8";
// Who last fixed a chart's limits here, offered to the next; else the station's operator.
constexpr char kChiaveChiFissa[] = "storico/operatore_limiti";
constexpr char kChiaveOperatore[] = "collaudo/operatore";
// The folder the last report was written to, offered for the next.
constexpr char kChiaveCartellaRapporti[] = "storico/cartella_rapporti";

QSettings impostazioni()
{
    return QSettings(QStringLiteral("banco-seriale"), QStringLiteral("banco-seriale"));
}

// A message that may run long (a server's): at most three lines, the whole in its tooltip, so
// that the window keeps its size.
void limitaRighe(QLabel *etichetta)
{
    etichetta->setWordWrap(true);
    etichetta->setTextInteractionFlags(Qt::TextSelectableByMouse);
    etichetta->setMaximumHeight(3 * etichetta->fontMetrics().lineSpacing() + 4);
    etichetta->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
}

void mostraTesto(QLabel *etichetta, const QString &testo)
{
    etichetta->setText(testo);
    etichetta->setToolTip(testo);
}

QStandardItemModel *modelloTesti(const QStringList &colonne, QObject *genitore)
{
    auto *modello = new QStandardItemModel(0, int(colonne.size()), genitore);
    modello->setHorizontalHeaderLabels(colonne);
    return modello;
}

void aggiungiRiga(QStandardItemModel &modello, const QStringList &campi)
{
    QList<QStandardItem *> celle;
    for (const QString &campo : campi) {
        auto *cella = new QStandardItem(campo);
        cella->setEditable(false);
        celle.append(cella);
    }
    modello.appendRow(celle);
}

QTableView *vista(QAbstractItemModel *modello, const QString &nome, QWidget *genitore)
{
    auto *v = new QTableView(genitore);
    v->setObjectName(nome);
    v->setAccessibleName(nome);
    v->setModel(modello);
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setSelectionMode(QAbstractItemView::SingleSelection);
    v->verticalHeader()->hide();
    v->horizontalHeader()->setStretchLastSection(true);
    return v;
}

} // namespace

FinestraStorico::FinestraStorico(QWidget *parent)
    : FinestraStorico(std::make_unique<LettoreStorico>(), parent)
{ }

FinestraStorico::FinestraStorico(std::unique_ptr<LettoreStorico> lettore, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_lettore(std::move(lettore))
    , m_modello(std::make_unique<ModelloStorico>(*m_lettore))
    , m_unita(new QLineEdit(this))
    , m_dal(new QLineEdit(this))
    , m_al(new QLineEdit(this))
    , m_stazione(new QLineEdit(this))
    , m_operatore(new QLineEdit(this))
    , m_esito(new QComboBox(this))
    , m_campioni(new QComboBox(this))
    , m_banco(new QLineEdit(this))
    , m_posto(new QLineEdit(this))
    , m_attesa(new QTimer(this))
    , m_schede(new QTabWidget(this))
    , m_letture(modelloTesti({"Riga", "Nome", "Strumento", "Memoria", "Valore", "Minimo", "Massimo",
                                 "Atteso", "Stato", "Latenza (ms)"},
          this))
    , m_tabellaStatistiche(modelloTesti(kColonneStatistiche, this))
    , m_rese(new QLabel(this))
    , m_perPosto(new QCheckBox(QStringLiteral("Pe&r posto"), this))
    , m_tabellaRese(modelloTesti(kColonneRese, this))
    , m_tabellaReseRighe(modelloTesti(kColonneReseRighe, this))
    , m_pareto(new GraficoPareto(this))
    , m_rigaGrafico(new QComboBox(this))
    , m_etichettaSerie(new QLabel(QStringLiteral("Posto e &versione:"), this))
    , m_serieGrafico(new QComboBox(this))
    , m_regole5A8(new QCheckBox(QStringLiteral("Regole &5-8"), this))
    , m_fissa(new QPushButton(QStringLiteral("&Fissa i limiti…"), this))
    , m_grafico(new GraficoStorico(this))
    , m_riassunto(new QLabel(this))
    , m_violazioni(new QListWidget(this))
    , m_stato(new QLabel(this))
    , m_scrittore(new ScrittoreRapporti(this))
{
    setWindowTitle(QStringLiteral("Storico"));
    setObjectName(QStringLiteral("finestraStorico"));
    auto *colonna = new QVBoxLayout(this);

    auto *riga1 = new QHBoxLayout;
    auto *riga2 = new QHBoxLayout;
    const auto campo
        = [](QHBoxLayout *riga, const QString &testo, QWidget *w, const QString &nome) {
              auto *etichetta = new QLabel(testo, w->parentWidget());
              etichetta->setBuddy(w);
              w->setAccessibleName(nome);
              riga->addWidget(etichetta);
              riga->addWidget(w, 1);
          };
    m_unita->setObjectName(QStringLiteral("filtroUnita"));
    m_unita->setPlaceholderText(QStringLiteral("inizio del numero"));
    m_dal->setObjectName(QStringLiteral("filtroDal"));
    m_al->setObjectName(QStringLiteral("filtroAl"));
    for (QLineEdit *data : {m_dal, m_al}) {
        data->setPlaceholderText(QStringLiteral("AAAA-MM-GG"));
        data->setMaxLength(10);
    }
    m_stazione->setObjectName(QStringLiteral("filtroStazione"));
    m_operatore->setObjectName(QStringLiteral("filtroOperatore"));
    m_banco->setObjectName(QStringLiteral("filtroBanco"));
    m_banco->setPlaceholderText(QStringLiteral("nome del file"));
    m_posto->setObjectName(QStringLiteral("filtroPosto"));
    m_posto->setPlaceholderText(QStringLiteral("dell'attrezzatura"));
    m_posto->setMaxLength(FileBanco::kMassimoNomePosto);
    m_esito->setObjectName(QStringLiteral("filtroEsito"));
    m_esito->addItem(QStringLiteral("tutti"), QString());
    for (const QString &esito : Esiti::tutti())
        m_esito->addItem(esito, esito);
    campo(riga1, QStringLiteral("&Unità:"), m_unita, QStringLiteral("Numero di serie (inizio)"));
    campo(riga1, QStringLiteral("&Dal:"), m_dal, QStringLiteral("Dal giorno"));
    campo(riga1, QStringLiteral("A&l:"), m_al, QStringLiteral("Al giorno"));
    m_campioni->setObjectName(QStringLiteral("filtroCampioni"));
    m_campioni->addItem(
        QStringLiteral("esclusi"), QVariant::fromValue(int(FiltroProve::Campioni::Esclusi)));
    m_campioni->addItem(QStringLiteral("soltanto i campioni"),
        QVariant::fromValue(int(FiltroProve::Campioni::Soltanto)));
    m_campioni->addItem(
        QStringLiteral("inclusi"), QVariant::fromValue(int(FiltroProve::Campioni::Inclusi)));
    m_campioni->setToolTip(
        QStringLiteral("Le prove delle unità campione, che provano il banco: nell'elenco a "
                       "scelta, nelle statistiche e nei grafici mai"));
    campo(riga1, QStringLiteral("E&sito:"), m_esito, QStringLiteral("Esito"));
    campo(riga1, QStringLiteral("&Campioni:"), m_campioni, QStringLiteral("Prove dei campioni"));
    campo(riga2, QStringLiteral("Sta&zione:"), m_stazione, QStringLiteral("Stazione"));
    campo(riga2, QStringLiteral("&Operatore:"), m_operatore, QStringLiteral("Operatore"));
    campo(riga2, QStringLiteral("&Banco:"), m_banco, QStringLiteral("Banco"));
    campo(riga2, QStringLiteral("Pos&to:"), m_posto, QStringLiteral("Posto dell'attrezzatura"));
    m_esito->view()->setAccessibleName(m_esito->accessibleName());
    m_campioni->view()->setAccessibleName(m_campioni->accessibleName());
    // Tab goes as the fields read, row by row.
    setTabOrder(m_al, m_esito);
    setTabOrder(m_esito, m_campioni);
    setTabOrder(m_campioni, m_stazione);
    setTabOrder(m_banco, m_posto);
    colonna->addLayout(riga1);
    colonna->addLayout(riga2);

    m_prove = vista(m_modello.get(), QStringLiteral("Prove"), this);
    m_vistaLetture = vista(m_letture, QStringLiteral("Letture della prova"), this);
    auto *divisore = new QSplitter(Qt::Vertical, this);
    divisore->addWidget(m_prove);
    divisore->addWidget(m_vistaLetture);
    divisore->setStretchFactor(0, 2);
    divisore->setStretchFactor(1, 1);
    m_schede->setObjectName(QStringLiteral("schede"));
    m_schede->setAccessibleName(QStringLiteral("Prove, statistiche e grafico"));
    m_schede->addTab(divisore, QStringLiteral("&Prove"));

    auto *pagina = new QWidget(this);
    auto *statistiche = new QVBoxLayout(pagina);
    m_rese->setObjectName(QStringLiteral("statoStatistiche"));
    m_rese->setAccessibleName(QStringLiteral("Stato delle statistiche"));
    limitaRighe(m_rese);
    auto *intestazione = new QHBoxLayout;
    intestazione->addWidget(m_rese, 1);
    m_perPosto->setObjectName(QStringLiteral("perPosto"));
    m_perPosto->setToolTip(QStringLiteral(
        "Le statistiche e le rese di ogni posto dell'attrezzatura, poi quelle di tutti i posti"));
    intestazione->addWidget(m_perPosto, 0, Qt::AlignTop);
    statistiche->addLayout(intestazione);
    // Any number of benches and rows scroll in their tables: the window keeps its size.
    m_vistaRese = vista(m_tabellaRese, QStringLiteral("Rese per banco"), this);
    m_vistaStatistiche = vista(m_tabellaStatistiche, QStringLiteral("Statistiche per riga"), this);
    m_vistaReseRighe = vista(m_tabellaReseRighe, QStringLiteral("Rese per riga"), this);
    m_vistaRese->setColumnHidden(0, true);
    m_vistaReseRighe->setColumnHidden(0, true);
    m_vistaStatistiche->setColumnHidden(0, true);
    // Each row's first-pass rate beside the Pareto of the rows that fail.
    auto *righe = new QSplitter(Qt::Horizontal, pagina);
    righe->addWidget(m_vistaReseRighe);
    righe->addWidget(m_pareto);
    righe->setStretchFactor(0, 1);
    righe->setStretchFactor(1, 1);
    righe->setSizes({600, 600});
    auto *cifre = new QSplitter(Qt::Vertical, pagina);
    cifre->addWidget(m_vistaRese);
    cifre->addWidget(righe);
    cifre->addWidget(m_vistaStatistiche);
    cifre->setStretchFactor(0, 1);
    cifre->setStretchFactor(1, 2);
    cifre->setStretchFactor(2, 2);
    cifre->setSizes({110, 250, 250});
    statistiche->addWidget(cifre, 1);
    m_schede->addTab(pagina, QStringLiteral("Stat&istiche"));

    pagina = new QWidget(this);
    auto *grafico = new QVBoxLayout(pagina);
    auto *scelta = new QHBoxLayout;
    auto *etichetta = new QLabel(QStringLiteral("&Riga:"), pagina);
    etichetta->setBuddy(m_rigaGrafico);
    m_rigaGrafico->setObjectName(QStringLiteral("rigaGrafico"));
    m_rigaGrafico->setAccessibleName(QStringLiteral("Riga del grafico"));
    m_rigaGrafico->view()->setAccessibleName(m_rigaGrafico->accessibleName());
    scelta->addWidget(etichetta);
    scelta->addWidget(m_rigaGrafico, 2);
    m_etichettaSerie->setBuddy(m_serieGrafico);
    m_serieGrafico->setObjectName(QStringLiteral("serieGrafico"));
    m_serieGrafico->setAccessibleName(QStringLiteral("Posto e versione del banco della carta"));
    m_serieGrafico->view()->setAccessibleName(m_serieGrafico->accessibleName());
    scelta->addWidget(m_etichettaSerie);
    scelta->addWidget(m_serieGrafico, 1);
    m_etichettaSerie->hide();
    m_serieGrafico->hide();
    m_regole5A8->setObjectName(QStringLiteral("regole5A8"));
    m_regole5A8->setToolTip(QStringLiteral(
        "Oltre alle regole 1-4, anche le regole 5-8 (andamenti, alternanze, valori troppo "
        "vicini alla media o tutti lontani)"));
    m_regole5A8->setChecked(impostazioni().value(QLatin1String(kChiaveRegole5A8)).toBool());
    scelta->addWidget(m_regole5A8);
    m_fissa->setObjectName(QStringLiteral("fissaLimiti"));
    m_fissa->setToolTip(QStringLiteral(
        "Fissa media e limiti di controllo da tutti i valori della carta: le prove nuove si "
        "giudicano su questi"));
    m_fissa->setEnabled(false);
    scelta->addWidget(m_fissa);
    grafico->addLayout(scelta);
    grafico->addWidget(m_grafico, 1);
    m_riassunto->setObjectName(QStringLiteral("riassuntoCarta"));
    m_riassunto->setAccessibleName(QStringLiteral("Riassunto della carta"));
    limitaRighe(m_riassunto);
    grafico->addWidget(m_riassunto);
    m_violazioni->setObjectName(QStringLiteral("violazioni"));
    m_violazioni->setAccessibleName(QStringLiteral("Valori che violano una regola"));
    m_violazioni->setWordWrap(true);
    m_violazioni->setMaximumHeight(5 * m_violazioni->fontMetrics().lineSpacing() + 8);
    m_violazioni->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    grafico->addWidget(m_violazioni);
    m_schede->addTab(pagina, QStringLiteral("&Grafico"));
    colonna->addWidget(m_schede, 1);

    auto *fondo = new QHBoxLayout;
    m_stato->setObjectName(QStringLiteral("statoStorico"));
    m_stato->setAccessibleName(QStringLiteral("Stato dello storico"));
    limitaRighe(m_stato);
    fondo->addWidget(m_stato, 1);
    auto *aggiorna = new QPushButton(QStringLiteral("&Aggiorna"), this);
    aggiorna->setObjectName(QStringLiteral("aggiornaStorico"));
    aggiorna->setToolTip(QStringLiteral("Rilegge l'archivio con lo stesso filtro (F5)"));
    fondo->addWidget(aggiorna);
    auto *esporta = new QPushButton(QStringLiteral("&Esporta CSV…"), this);
    esporta->setObjectName(QStringLiteral("esportaStorico"));
    fondo->addWidget(esporta);
    // Its letters are all taken by the fields and tabs: Ctrl+P, as at the station, calls it.
    auto *rapporto = new QPushButton(QStringLiteral("Rapporto PDF…"), this);
    rapporto->setObjectName(QStringLiteral("rapportoStorico"));
    rapporto->setToolTip(QStringLiteral("Il rapporto PDF della prova scelta nell'elenco (Ctrl+P)"));
    rapporto->setAccessibleDescription(rapporto->toolTip());
    fondo->addWidget(rapporto);
    colonna->addLayout(fondo);

    // A filter typed is applied once the typing pauses, or at once with Enter.
    m_attesa->setSingleShot(true);
    m_attesa->setInterval(300);
    connect(m_attesa, &QTimer::timeout, this, &FinestraStorico::applica);
    for (QLineEdit *campo : {m_unita, m_dal, m_al, m_stazione, m_operatore, m_banco, m_posto}) {
        connect(campo, &QLineEdit::textEdited, m_attesa, qOverload<>(&QTimer::start));
        connect(campo, &QLineEdit::returnPressed, this, &FinestraStorico::applica);
    }
    connect(m_esito, &QComboBox::currentIndexChanged, this, &FinestraStorico::applica);
    connect(m_campioni, &QComboBox::currentIndexChanged, this, &FinestraStorico::applica);
    connect(m_perPosto, &QCheckBox::toggled, this, [this] {
        // A refused filter has no figures to group.
        if (!m_rifiuto.isEmpty())
            return;
        m_statisticheDaRifare = true;
        if (m_schede->currentIndex() > 0)
            chiediStatistiche();
    });
    connect(m_schede, &QTabWidget::currentChanged, this, [this](int scheda) {
        if (scheda > 0 && m_statisticheDaRifare)
            chiediStatistiche();
    });
    connect(m_rigaGrafico, &QComboBox::currentIndexChanged, this, &FinestraStorico::chiediGrafico);
    connect(m_serieGrafico, &QComboBox::currentIndexChanged, this, &FinestraStorico::mostraCarta);
    connect(m_regole5A8, &QCheckBox::toggled, this, [this](bool tutte) {
        impostazioni().setValue(QLatin1String(kChiaveRegole5A8), tutte);
        mostraCarta();
        // The statistics' points out of control follow the same rules.
        if (!m_rifiuto.isEmpty())
            return;
        m_statisticheDaRifare = true;
        if (m_schede->currentIndex() == 1)
            chiediStatistiche();
    });
    connect(m_fissa, &QPushButton::clicked, this, &FinestraStorico::chiediOperatoreLimiti);
    connect(esporta, &QPushButton::clicked, this, &FinestraStorico::esporta);
    connect(aggiorna, &QPushButton::clicked, this, &FinestraStorico::aggiorna);
    connect(rapporto, &QPushButton::clicked, this, &FinestraStorico::rapportoPdf);
    auto *ctrlP = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), this);
    connect(ctrlP, &QShortcut::activated, this, &FinestraStorico::rapportoPdf);
    connect(m_scrittore, &ScrittoreRapporti::scritto, this,
        [this](const QString &percorso, const QString &errore) {
            const QString dove = QDir::toNativeSeparators(percorso);
            mostraTesto(m_stato,
                errore.isEmpty()
                    ? QStringLiteral("Rapporto PDF scritto in %1.").arg(dove)
                    : QStringLiteral("Rapporto PDF non scritto in %1: %2").arg(dove, errore));
        });
    auto *f5 = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(f5, &QShortcut::activated, this, &FinestraStorico::aggiorna);
    collega();
    // Wide enough for the figures' columns, within the screen it opens on.
    QSize misura(1200, 780);
    if (const QScreen *schermo = screen())
        misura = misura.boundedTo(schermo->availableGeometry().size() - QSize(40, 80));
    resize(misura.expandedTo(minimumSizeHint()));
    applica();
}

FinestraStorico::~FinestraStorico() = default;

// The reader's and the model's signals, for the reader now in use.
void FinestraStorico::collega()
{
    connect(m_lettore.get(), &LettoreStorico::aperto, this,
        [this](const QString &descrizione, const QString &avviso, const QString &errore) {
            m_archivio = descrizione;
            m_avviso = avviso;
            m_errore = errore;
            aggiornaStato();
        });
    connect(m_modello.get(), &ModelloStorico::contate, this, &FinestraStorico::aggiornaStato);
    connect(m_modello.get(), &ModelloStorico::caricate, this, [this] {
        if (m_modello->rowCount() <= ModelloStorico::kPagina)
            m_prove->resizeColumnsToContents();
        ritrovaScelta();
    });
    connect(m_modello.get(), &ModelloStorico::errore, this, [this](const QString &motivo) {
        m_errore = motivo;
        aggiornaStato();
    });
    connect(m_prove->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        &FinestraStorico::mostraLetture);
}

void FinestraStorico::riapri()
{
    auto lettore = std::make_unique<LettoreStorico>();
    auto modello = std::make_unique<ModelloStorico>(*lettore);
    m_prove->setModel(modello.get());
    m_modello = std::move(modello);
    m_lettore = std::move(lettore);
    m_archivio.clear();
    m_avviso.clear();
    m_errore.clear();
    collega();
    applica();
}

void FinestraStorico::applica()
{
    m_attesa->stop();
    FiltroProve filtro;
    filtro.unita = m_unita->text().trimmed();
    filtro.prefisso = true;
    QString errore;
    for (auto [campo, data, nome] : {std::tuple{m_dal, &filtro.dal, QStringLiteral("Dal")},
             std::tuple{m_al, &filtro.al, QStringLiteral("Al")}}) {
        const QString testo = campo->text().trimmed();
        if (testo.isEmpty())
            continue;
        const std::optional<QDate> letta = FiltroProve::leggiData(testo, nome, &errore);
        if (!letta) {
            rifiuta(errore);
            return;
        }
        *data = *letta;
    }
    filtro.stazione = m_stazione->text().trimmed();
    filtro.operatore = m_operatore->text().trimmed();
    filtro.banco = m_banco->text().trimmed();
    filtro.posto = m_posto->text().trimmed();
    filtro.esito = m_esito->currentData().toString();
    filtro.campioni = FiltroProve::Campioni(m_campioni->currentData().toInt());
    m_rifiuto.clear();
    m_sceltaDaRitrovare.clear();
    ++m_generazione;
    m_modello->imposta(filtro);
    m_letture->removeRows(0, m_letture->rowCount());
    ++m_letturaChiesta;
    m_statisticheDaRifare = true;
    if (m_schede->currentIndex() > 0)
        chiediStatistiche();
    aggiornaStato();
}

void FinestraStorico::aggiornaStato()
{
    QStringList parti;
    if (!m_rifiuto.isEmpty())
        parti << m_rifiuto;
    if (!m_errore.isEmpty())
        parti << m_errore;
    if (!m_avviso.isEmpty())
        parti << m_avviso;
    if (!m_archivio.isEmpty())
        parti << QStringLiteral("Archivio: %1.").arg(Destinazione::breve(m_archivio));
    if (const std::optional<qint64> totale = m_modello->totale())
        parti << NumeriItaliani::conta(*totale, QStringLiteral("prova"), QStringLiteral("prove"))
                + u'.';
    mostraTesto(m_stato, parti.join(u' '));
}

void FinestraStorico::mostraLetture()
{
    m_letture->removeRows(0, m_letture->rowCount());
    const QModelIndex attuale = m_prove->currentIndex();
    if (!attuale.isValid() || attuale.row() >= m_modello->rowCount())
        return;
    const QString uuid = m_modello->prova(attuale.row()).uuid;
    const quint64 generazione = ++m_letturaChiesta;
    m_lettore->chiedi<QList<LetturaArchiviata>>([uuid](Archivio &a) { return a.letture(uuid); },
        [this, generazione](
            const std::optional<QList<LetturaArchiviata>> &letture, const QString &errore) {
            if (generazione != m_letturaChiesta)
                return;
            if (!letture) {
                m_errore = errore;
                aggiornaStato();
                return;
            }
            for (const LetturaArchiviata &l : *letture) {
                aggiungiRiga(*m_letture,
                    {QString::number(l.n + 1), l.nome, QString::number(l.strumento), l.memoria,
                        mostrato(l.valoreMostrato), cifra(l.minimo), cifra(l.massimo), l.atteso,
                        l.stato, cifra(l.latenzaMs)});
            }
            m_vistaLetture->resizeColumnsToContents();
        });
}

void FinestraStorico::chiediStatistiche()
{
    m_statisticheDaRifare = false;
    mostraTesto(m_rese, QStringLiteral("Calcolo delle statistiche…"));
    using TestiStorico::CifrePosto;
    const quint64 generazione = m_generazione;
    m_lettore->chiedi<QList<CifrePosto>>(
        [filtro = filtroDelleCifre(), perPosto = m_perPosto->isChecked(),
            ancheDa5A8 = m_regole5A8->isChecked()](Archivio &a) -> std::optional<QList<CifrePosto>> {
            // A row the archive keeps no unit for takes it from its newest reading's shown value.
            QHash<QString, QHash<int, QString>> unitaDeiBanchi;
            const auto cifre = [&](const FiltroProve &scelte) -> std::optional<CifrePosto> {
                // The rows' figures and the yields with each row's part, in one pass.
                std::optional<Archivio::StatisticheERese> tutte
                    = a.statisticheERese(scelte, ancheDa5A8);
                if (!tutte)
                    return std::nullopt;
                QList<StatisticaRiga> *righe = &tutte->statistiche;
                QList<ResaBanco> *rese = &tutte->rese;
                for (StatisticaRiga &s : *righe) {
                    if (!s.unitaMisura.isEmpty())
                        continue;
                    if (!unitaDeiBanchi.contains(s.shaBanco)) {
                        QHash<int, QString> &unita = unitaDeiBanchi[s.shaBanco];
                        FiltroProve ultima = filtro;
                        ultima.shaBanco = s.shaBanco;
                        QString uuid;
                        a.perOgniProva(
                            ultima, 1, [&uuid](const ProvaArchiviata &p) { uuid = p.uuid; });
                        if (!uuid.isEmpty()) {
                            for (const LetturaArchiviata &l :
                                a.letture(uuid).value_or(QList<LetturaArchiviata>()))
                                unita.insert(l.n, TestiStorico::unitaDellaLettura(l));
                        }
                    }
                    s.unitaMisura = unitaDeiBanchi.value(s.shaBanco).value(s.n);
                }
                return CifrePosto{scelte.posto, std::move(*righe), std::move(*rese)};
            };
            QList<CifrePosto> blocchi;
            // A filter on one socket is that socket's block already.
            if (perPosto && filtro.posto.isEmpty()) {
                const std::optional<QStringList> posti = a.posti(filtro);
                if (!posti)
                    return std::nullopt;
                for (const QString &posto : *posti) {
                    FiltroProve delPosto = filtro;
                    delPosto.posto = posto;
                    std::optional<CifrePosto> blocco = cifre(delPosto);
                    if (!blocco)
                        return std::nullopt;
                    blocchi.append(std::move(*blocco));
                }
            }
            std::optional<CifrePosto> totale = cifre(filtro);
            if (!totale)
                return std::nullopt;
            blocchi.append(std::move(*totale));
            return blocchi;
        },
        [this, generazione](const std::optional<QList<CifrePosto>> &cifre, const QString &errore) {
            // A filter changed meanwhile asks again, or will: only its answer is shown.
            if (generazione != m_generazione)
                return;
            if (!cifre) {
                mostraTesto(m_rese, errore);
                return;
            }
            mostraStatistiche(*cifre);
        });
}

void FinestraStorico::mostraStatistiche(const QList<TestiStorico::CifrePosto> &blocchi)
{
    const QList<StatisticaRiga> &righe = blocchi.last().righe;
    const QList<ResaBanco> &rese = blocchi.last().rese;
    const bool perPosto = blocchi.size() > 1;
    m_tabellaStatistiche->removeRows(0, m_tabellaStatistiche->rowCount());
    m_tabellaRese->removeRows(0, m_tabellaRese->rowCount());
    m_tabellaReseRighe->removeRows(0, m_tabellaReseRighe->rowCount());
    for (const TestiStorico::CifrePosto &b : blocchi) {
        const QString posto = b.posto.isEmpty() ? QStringLiteral("tutti") : b.posto;
        for (const StatisticaRiga &s : b.righe)
            aggiungiRiga(*m_tabellaStatistiche, campiStatistica(posto, s));
        for (const ResaBanco &r : b.rese) {
            aggiungiRiga(*m_tabellaRese, campiResa(posto, r));
            for (const ResaRiga &riga : r.righe)
                aggiungiRiga(*m_tabellaReseRighe, campiResaRiga(posto, r, riga));
        }
    }
    for (QTableView *tabella : {m_vistaStatistiche, m_vistaRese, m_vistaReseRighe}) {
        tabella->setColumnHidden(0, !perPosto);
        tabella->resizeColumnsToContents();
    }
    // The Pareto of every socket's runs: each row named with its bench where there are several,
    // and with the bench's version where a bench has several.
    QList<std::pair<QString, qint64>> conteggi;
    QHash<QString, int> versioni;
    for (const ResaBanco &r : rese)
        ++versioni[r.banco];
    for (const ResaBanco &r : rese) {
        const QString banco = versioni.value(r.banco) > 1
            ? QStringLiteral("%1 %2").arg(r.banco, TestiStorico::versioneBreve(r.versione))
            : r.banco;
        for (const ResaRiga &riga : r.righe)
            conteggi.append({rese.size() > 1 ? QStringLiteral("%1 — %2").arg(banco, riga.nome)
                                             : riga.nome,
                riga.fallite});
    }
    m_pareto->mostra(CartaControllo::pareto(conteggi));
    QString testo = rese.isEmpty()
        ? QStringLiteral("Nessuna prova conclusa fra quelle scelte.")
        : QStringLiteral("Rese contate sulle unità; le prove da ripetere (errore o interrotta) "
                         "non entrano in nessuna resa.");
    if (m_perPosto->isChecked() && !perPosto && m_modello->filtro().posto.isEmpty()
        && !rese.isEmpty())
        testo += QStringLiteral(" Nessuna delle prove scelte ha un posto: solo il totale.");
    else if (perPosto)
        testo += QStringLiteral(" Le prove senza posto contano solo in «tutti».");
    if (m_modello->filtro().campioni != FiltroProve::Campioni::Esclusi)
        testo += QStringLiteral(" Le prove dei campioni non contano in nessuna cifra.");
    mostraTesto(m_rese, testo);
    // The row the chart showed stays chosen when it is still there.
    std::pair<QString, int> scelta = m_rigaDaRitrovare;
    if (const int i = m_rigaGrafico->currentData().toInt();
        m_rigaGrafico->currentIndex() >= 0 && i < m_statistiche.size() && scelta.second < 0)
        scelta = {m_statistiche.at(i).shaBanco, m_statistiche.at(i).n};
    m_rigaDaRitrovare = {QString(), -1};
    m_statistiche = righe;
    m_cifre = blocchi;
    const QSignalBlocker fermo(m_rigaGrafico);
    m_rigaGrafico->clear();
    for (const StatisticaRiga &s : righe) {
        if (s.conValore == 0)
            continue;
        m_rigaGrafico->addItem(QStringLiteral("%1 — %2").arg(s.banco, s.nome),
            QVariant::fromValue(int(&s - righe.data())));
        if (s.shaBanco == scelta.first && s.n == scelta.second)
            m_rigaGrafico->setCurrentIndex(m_rigaGrafico->count() - 1);
    }
    chiediGrafico();
}

void FinestraStorico::chiediGrafico()
{
    const int i = m_rigaGrafico->currentData().toInt();
    if (m_rigaGrafico->currentIndex() < 0 || i >= m_statistiche.size()) {
        m_serie.clear();
        {
            const QSignalBlocker fermo(m_serieGrafico);
            m_serieGrafico->clear();
        }
        mostraCarta();
        return;
    }
    const StatisticaRiga s = m_statistiche.at(i);
    const quint64 generazione = m_generazione;
    m_lettore->chiedi<QList<SerieCarta>>(
        [filtro = filtroDelleCifre(), s](
            Archivio &a) { return a.serieCarta(filtro, s.nome, true); },
        [this, s, generazione](
            const std::optional<QList<SerieCarta>> &trovate, const QString &errore) {
            if (generazione != m_generazione)
                return;
            if (!trovate) {
                mostraTesto(m_riassunto, errore);
                return;
            }
            // The row's series of its bench version, one per socket; all the bench's of that row
            // where none is of that version.
            QList<SerieCarta> serie, delBanco;
            for (const SerieCarta &c : *trovate) {
                if (c.banco != s.banco || c.n != s.n)
                    continue;
                (c.versione == s.shaBanco ? serie : delBanco).append(c);
            }
            if (serie.isEmpty())
                serie = delBanco;
            const bool versioni = std::any_of(serie.cbegin(), serie.cend(),
                [&](const SerieCarta &c) { return c.versione != serie.front().versione; });
            std::pair<QString, QString> scelta = std::exchange(m_serieDaRitrovare, {});
            if (scelta.second.isEmpty() && !m_carta.versione.isEmpty())
                scelta = {m_carta.posto, m_carta.versione};
            m_serie = serie;
            const QSignalBlocker fermo(m_serieGrafico);
            m_serieGrafico->clear();
            for (SerieCarta &c : m_serie) {
                if (c.unitaMisura.isEmpty())
                    c.unitaMisura = s.unitaMisura;
                QString nome = c.posto.isEmpty() ? QStringLiteral("senza posto")
                                                 : QStringLiteral("posto ") + c.posto;
                if (versioni)
                    nome += QStringLiteral(", versione ") + TestiStorico::versioneBreve(c.versione);
                m_serieGrafico->addItem(nome);
                if (c.posto == scelta.first && c.versione == scelta.second)
                    m_serieGrafico->setCurrentIndex(m_serieGrafico->count() - 1);
            }
            m_etichettaSerie->setVisible(m_serie.size() > 1);
            m_serieGrafico->setVisible(m_serie.size() > 1);
            mostraCarta();
        });
}

void FinestraStorico::mostraCarta()
{
    const int i = m_serieGrafico->currentIndex();
    if (i < 0 || i >= m_serie.size()) {
        m_carta = SerieCarta();
        m_analisi = CartaControllo::Analisi();
        m_grafico->svuota();
        m_violazioni->clear();
        m_fissa->setEnabled(false);
        m_etichettaSerie->hide();
        m_serieGrafico->hide();
        mostraTesto(m_riassunto,
            m_rifiuto.isEmpty() ? QStringLiteral("Nessuna riga con valori fra le prove scelte.")
                                : QString());
        return;
    }
    m_carta = m_serie.at(i);
    const bool tutte = m_regole5A8->isChecked();
    m_analisi = analizza(m_carta, tutte);
    m_grafico->mostra(m_carta, m_analisi);
    mostraTesto(m_riassunto, TestiStorico::riassuntoCarta(m_carta, m_analisi, tutte));
    m_violazioni->clear();
    const QStringList violazioni = TestiStorico::violazioni(m_carta, m_analisi);
    m_violazioni->addItems(violazioni.isEmpty()
            ? QStringList{QStringLiteral("Nessun valore viola le regole.")}
            : violazioni);
    m_fissa->setEnabled(m_carta.valori.size() >= 2);
}

void FinestraStorico::chiediOperatoreLimiti()
{
    if (m_fissando) {
        mostraTesto(m_riassunto, QStringLiteral("I limiti si stanno registrando: un momento."));
        return;
    }
    if (m_carta.valori.size() < 2) {
        mostraTesto(m_riassunto, QStringLiteral("Servono almeno 2 valori per fissare i limiti."));
        return;
    }
    auto *dialogo = new QInputDialog(this);
    dialogo->setObjectName(QStringLiteral("dialogoLimiti"));
    dialogo->setWindowTitle(QStringLiteral("Storico: fissa i limiti"));
    const QString posto
        = m_carta.posto.isEmpty() ? QString() : QStringLiteral(" al posto ") + m_carta.posto;
    dialogo->setLabelText(
        QStringLiteral("I limiti della carta di «%1»%2 si fissano da tutti i suoi %3 valori e "
                       "valgono per le prove seguenti.\nNome di chi li fissa:")
            .arg(m_carta.nome, posto, NumeriItaliani::intero(m_carta.valori.size())));
    const QSettings scelte = impostazioni();
    dialogo->setTextValue(scelte.value(QLatin1String(kChiaveChiFissa),
                                    scelte.value(QLatin1String(kChiaveOperatore)))
                              .toString());
    dialogo->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialogo, &QInputDialog::textValueSelected, this, &FinestraStorico::fissaLimiti);
    connect(dialogo, &QDialog::finished, m_fissa, [this] { m_fissa->setFocus(); });
    dialogo->open();
}

namespace {

// What fixing a chart's limits came to: the set recorded, or why none was.
struct LimitiRegistrati
{
    std::optional<LimitiCarta> limiti;
    QString errore;
};

} // namespace

void FinestraStorico::fissaLimiti(const QString &nome)
{
    const QString operatore = nome.trimmed();
    if (operatore.isEmpty()) {
        mostraTesto(m_riassunto,
            QStringLiteral("Nessun limite fissato: serve il nome di chi li fissa. Premere di "
                           "nuovo «Fissa i limiti…» e scriverlo."));
        return;
    }
    const quint64 generazione = m_generazione;
    // The button keeps the focus the dialog gives back; a second press meanwhile is told to
    // wait.
    m_fissando = true;
    m_lettore->chiedi<LimitiRegistrati>(
        [serie = m_carta, operatore, file = m_lettore->dove().file](
            Archivio &a) -> std::optional<LimitiRegistrati> {
            LimitiRegistrati esito;
            std::optional<LimitiCarta> limiti
                = limitiDellaSerie(serie, nomeStazione(QString()), operatore);
            if (!limiti) {
                esito.errore = QStringLiteral(
                    "Nessun limite fissato: servono almeno 2 valori della carta.");
                return esito;
            }
            // Fixed limits belong to the station's file, which forwards them: never written
            // straight to the server the window may be reading.
            std::unique_ptr<Archivio> locale;
            Archivio *dove = &a;
            if (a.tipo() != Archivio::Tipo::Locale) {
                QString motivo;
                locale = Archivio::apriLocale(file, &motivo);
                if (!locale) {
                    esito.errore = QStringLiteral("Nessun limite fissato: il file della stazione "
                                                  "non si apre (%1). Riprovare quando è "
                                                  "raggiungibile.")
                                       .arg(motivo);
                    return esito;
                }
                dove = locale.get();
            }
            if (!dove->fissaLimiti(*limiti)) {
                esito.errore = QStringLiteral("Nessun limite fissato: %1").arg(dove->errore());
                return esito;
            }
            esito.limiti = limiti;
            return esito;
        },
        [this, generazione](
            const std::optional<LimitiRegistrati> &esito, const QString &errore) {
            m_fissando = false;
            if (!esito || !esito->limiti) {
                mostraTesto(m_riassunto,
                    esito ? esito->errore
                          : QStringLiteral("Nessun limite fissato: %1").arg(errore));
                return;
            }
            impostazioni().setValue(QLatin1String(kChiaveChiFissa), esito->limiti->operatore);
            if (generazione != m_generazione)
                return;
            // Drawn with the set at once: a server read shows it once the station forwards it.
            for (SerieCarta &c : m_serie) {
                if (c.versione == esito->limiti->versione && c.posto == esito->limiti->posto
                    && c.n == esito->limiti->n)
                    c.fissati = esito->limiti;
            }
            mostraCarta();
        });
}

void FinestraStorico::esporta()
{
    if (!m_rifiuto.isEmpty()) {
        mostraTesto(
            m_stato, m_rifiuto + QStringLiteral(" Correggere il filtro prima di esportare."));
        return;
    }
    switch (m_schede->currentIndex()) {
    case 1:
        scriviCsv(QStringLiteral("Esporta le statistiche"), QStringLiteral("statistiche.csv"),
            TestiStorico::csvStatistiche(m_cifre));
        return;
    case 2:
        scriviCsv(QStringLiteral("Esporta la carta"), QStringLiteral("carta.csv"),
            TestiStorico::csvCarta(m_carta, m_analisi));
        return;
    default:
        break;
    }
    // Every run the filter chooses with its readings, not only those scrolled to: read in the
    // reader's thread.
    mostraTesto(m_stato, QStringLiteral("Lettura delle prove da esportare…"));
    m_lettore->chiedi<QByteArray>([filtro = m_modello->filtro()](
                                      Archivio &a) { return FinestraStorico::csvProve(a, filtro); },
        [this](const std::optional<QByteArray> &csv, const QString &errore) {
            aggiornaStato();
            if (!csv) {
                mostraTesto(m_stato, errore);
                return;
            }
            scriviCsv(QStringLiteral("Esporta le prove"), QStringLiteral("prove.csv"), *csv);
        });
}

std::optional<QByteArray> FinestraStorico::csvProve(Archivio &archivio, const FiltroProve &filtro)
{
    QList<ProvaArchiviata> prove;
    if (!archivio.perOgniProva(filtro, 0, [&prove](const ProvaArchiviata &p) { prove.append(p); }))
        return std::nullopt;
    QByteArray csv = TestiTraffico::inizioCsv(FormaCsv::Foglio)
        + TestiTraffico::lineaCsv(TestiStorico::intestazioneProve(), FormaCsv::Foglio);
    for (const ProvaArchiviata &p : prove) {
        const std::optional<QList<LetturaArchiviata>> letture = archivio.letture(p.uuid);
        if (!letture)
            return std::nullopt;
        if (letture->isEmpty())
            csv += TestiTraffico::lineaCsv(TestiStorico::campiProva(p, nullptr), FormaCsv::Foglio);
        for (const LetturaArchiviata &l : *letture)
            csv += TestiTraffico::lineaCsv(TestiStorico::campiProva(p, &l), FormaCsv::Foglio);
    }
    return csv;
}

void FinestraStorico::scriviCsv(const QString &titolo, const QString &nome, const QByteArray &csv)
{
    DialogoCsv::esporta(
        this, titolo, nome, QStringLiteral("dialogoEsportaStorico"), [csv] { return csv; },
        [this](const QString &percorso, const QString &errore) {
            mostraTesto(m_stato,
                errore.isEmpty()
                    ? QStringLiteral("Esportato in %1.").arg(QDir::toNativeSeparators(percorso))
                    : QStringLiteral("%1 non si scrive: %2. Sceglierne un altro.")
                          .arg(QDir::toNativeSeparators(percorso), errore));
        });
}

FiltroProve FinestraStorico::filtroDelleCifre() const
{
    FiltroProve filtro = m_modello->filtro();
    filtro.campioni = FiltroProve::Campioni::Esclusi;
    return filtro;
}

namespace {

// A run read for its report: as archived, with the digest it gives now.
struct ProvaPerRapporto
{
    ProvaCompleta prova;
    QString impronta;
};

// The run as the operator finds it in the list: its unit and attempt.
QString nomeProva(const ProvaArchiviata &p)
{
    return QStringLiteral("La prova di %1 (tentativo %2)").arg(p.unita).arg(p.tentativo);
}

} // namespace

void FinestraStorico::rapportoPdf()
{
    const QModelIndex attuale = m_prove->currentIndex();
    if (!attuale.isValid() || attuale.row() >= m_modello->rowCount()) {
        mostraTesto(m_stato,
            QStringLiteral("Nessun rapporto: scegliere prima una prova nella scheda «Prove»."));
        return;
    }
    const QString uuid = m_modello->prova(attuale.row()).uuid;
    const quint64 chiesto = ++m_rapportoChiesto;
    mostraTesto(m_stato, QStringLiteral("Lettura della prova per il rapporto…"));
    // Read again, in the reader's thread: the list's copy may be older than the run's end.
    m_lettore->chiedi<ProvaPerRapporto>(
        [uuid](Archivio &a) -> std::optional<ProvaPerRapporto> {
            std::optional<ProvaCompleta> prova = a.provaCompleta(uuid);
            if (!prova)
                return std::nullopt;
            ProvaPerRapporto letta{std::move(*prova), QString()};
            if (!letta.prova.prova.uuid.isEmpty())
                letta.impronta = improntaDellaProva(letta.prova);
            return letta;
        },
        [this, chiesto](const std::optional<ProvaPerRapporto> &letta, const QString &errore) {
            if (chiesto != m_rapportoChiesto)
                return;
            if (!letta) {
                mostraTesto(m_stato, QStringLiteral("Nessun rapporto: %1").arg(errore));
                return;
            }
            const ProvaArchiviata &p = letta->prova.prova;
            if (p.uuid.isEmpty()) {
                mostraTesto(m_stato,
                    QStringLiteral("Nessun rapporto: la prova non è più nell'archivio. Premere "
                                   "«Aggiorna» (F5)."));
                return;
            }
            if (!p.fine.isValid() || p.esito.isEmpty()) {
                mostraTesto(m_stato,
                    QStringLiteral("%1 è ancora in corso: nessun rapporto. Si scrive dopo la sua "
                                   "fine.")
                        .arg(nomeProva(p)));
                return;
            }
            // A report carries the digest the run was given at its end: a run changed since
            // would be attested by a digest it no longer gives. Runs archived before digests
            // were kept have none to check.
            if (!p.impronta.isEmpty() && letta->impronta != p.impronta) {
                mostraTesto(m_stato,
                    QStringLiteral("%1 è stata cambiata dopo la sua fine: nessun rapporto. La "
                                   "sua impronta non è più quella registrata alla fine.")
                        .arg(nomeProva(p)));
                return;
            }
            aggiornaStato();
            chiediFileRapporto(letta->prova);
        });
}

void FinestraStorico::chiediFileRapporto(const ProvaCompleta &prova)
{
    QString cartella = impostazioni().value(QLatin1String(kChiaveCartellaRapporti)).toString();
    if (cartella.isEmpty() || !QFileInfo(cartella).isDir())
        cartella = QDir::homePath();
    auto *dialogo = new QFileDialog(this, QStringLiteral("Rapporto PDF della prova"),
        QDir(cartella).filePath(nomeFileRapporto(prova.prova)), QStringLiteral("PDF (*.pdf)"));
    dialogo->setObjectName(QStringLiteral("dialogoRapporto"));
    dialogo->setAcceptMode(QFileDialog::AcceptSave);
    dialogo->setDefaultSuffix(QStringLiteral("pdf"));
    dialogo->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialogo, &QFileDialog::fileSelected, this,
        [this, contenuto = contenutoRapporto(prova)](const QString &percorso) {
            impostazioni().setValue(
                QLatin1String(kChiaveCartellaRapporti), QFileInfo(percorso).absolutePath());
            mostraTesto(m_stato,
                QStringLiteral("Scrittura del rapporto PDF in %1…")
                    .arg(QDir::toNativeSeparators(percorso)));
            m_scrittore->scrivi(contenuto, percorso);
        });
    dialogo->open();
}

void FinestraStorico::rifiuta(const QString &motivo)
{
    m_rifiuto
        = motivo + QStringLiteral(" Nessuna prova è mostrata finché il filtro non è corretto.");
    ++m_generazione;
    ++m_letturaChiesta;
    m_sceltaDaRitrovare.clear();
    m_modello->svuota();
    m_letture->removeRows(0, m_letture->rowCount());
    m_tabellaStatistiche->removeRows(0, m_tabellaStatistiche->rowCount());
    m_tabellaRese->removeRows(0, m_tabellaRese->rowCount());
    m_tabellaReseRighe->removeRows(0, m_tabellaReseRighe->rowCount());
    m_pareto->mostra({});
    m_statistiche.clear();
    m_cifre.clear();
    mostraTesto(m_rese, m_rifiuto);
    {
        const QSignalBlocker fermo(m_rigaGrafico);
        m_rigaGrafico->clear();
    }
    chiediGrafico();
    // Nothing to figure until a filter is applied: another tab asks for nothing meanwhile.
    m_statisticheDaRifare = false;
    aggiornaStato();
}

void FinestraStorico::aggiorna()
{
    // Fields that were refused, or typed and not yet applied, are applied as they stand.
    if (!m_rifiuto.isEmpty() || m_attesa->isActive()) {
        applica();
        return;
    }
    const QModelIndex attuale = m_prove->currentIndex();
    if (attuale.isValid() && attuale.row() < m_modello->rowCount())
        m_sceltaDaRitrovare = m_modello->prova(attuale.row()).uuid;
    if (const int i = m_rigaGrafico->currentData().toInt();
        m_rigaGrafico->currentIndex() >= 0 && i < m_statistiche.size())
        m_rigaDaRitrovare = {m_statistiche.at(i).shaBanco, m_statistiche.at(i).n};
    m_serieDaRitrovare = {m_carta.posto, m_carta.versione};
    ++m_generazione;
    m_modello->rileggi();
    m_statisticheDaRifare = true;
    if (m_schede->currentIndex() > 0)
        chiediStatistiche();
    aggiornaStato();
}

// After a refresh, the run chosen before is chosen again, where it now is.
void FinestraStorico::ritrovaScelta()
{
    if (m_sceltaDaRitrovare.isEmpty())
        return;
    const QString uuid = std::exchange(m_sceltaDaRitrovare, QString());
    for (int riga = 0; riga < m_modello->rowCount(); ++riga) {
        if (m_modello->prova(riga).uuid != uuid)
            continue;
        const QModelIndex indice = m_modello->index(riga, 0);
        m_prove->selectionModel()->setCurrentIndex(
            indice, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_prove->scrollTo(indice);
        return;
    }
    ++m_letturaChiesta;
    m_letture->removeRows(0, m_letture->rowCount());
}
