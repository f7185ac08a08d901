#include "finestra_storico.h"

#include "dialogo_csv.h"
#include "file_banco.h"
#include "grafico_storico.h"
#include "lettore_storico.h"
#include "modello_storico.h"
#include "numeri_italiani.h"
#include "testi_storico.h"
#include "testi_traffico.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
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
    "Min", "Max", "Cpk", "Fuori dai limiti", "Fallite"};

QStringList campiStatistica(const QString &posto, const StatisticaRiga &s)
{
    return {posto, s.banco, s.nome, QString::number(s.strumento), s.memoria, s.unitaMisura,
        cifra(s.minimo), cifra(s.massimo), NumeriItaliani::intero(s.letture),
        NumeriItaliani::intero(s.conValore), cifra(s.media), cifra(s.deviazione),
        cifra(s.valoreMinimo), cifra(s.valoreMassimo), TestiStorico::cpk(s.cpk),
        NumeriItaliani::intero(s.fuoriDaiLimiti), NumeriItaliani::intero(s.fallite)};
}

const QStringList kColonneRese{"Posto", "Banco", "Unità", "Prove concluse", "Da ripetere",
    "Conformi al primo passaggio", "Resa al primo passaggio", "Conformi all'ultima prova",
    "Resa finale"};

QStringList campiResa(const QString &posto, const ResaBanco &r)
{
    return {posto, r.banco, NumeriItaliani::intero(r.unita), NumeriItaliani::intero(r.prove),
        NumeriItaliani::intero(r.daRipetere), NumeriItaliani::intero(r.conformiAlPrimo),
        TestiStorico::percento(r.conformiAlPrimo, r.unita),
        NumeriItaliani::intero(r.conformiAllUltimo),
        TestiStorico::percento(r.conformiAllUltimo, r.unita)};
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
    , m_rigaGrafico(new QComboBox(this))
    , m_grafico(new GraficoStorico(this))
    , m_stato(new QLabel(this))
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
    campo(riga1, QStringLiteral("E&sito:"), m_esito, QStringLiteral("Esito"));
    campo(riga2, QStringLiteral("Sta&zione:"), m_stazione, QStringLiteral("Stazione"));
    campo(riga2, QStringLiteral("&Operatore:"), m_operatore, QStringLiteral("Operatore"));
    campo(riga2, QStringLiteral("&Banco:"), m_banco, QStringLiteral("Banco"));
    campo(riga2, QStringLiteral("Pos&to:"), m_posto, QStringLiteral("Posto dell'attrezzatura"));
    m_esito->view()->setAccessibleName(m_esito->accessibleName());
    // Tab goes as the fields read, row by row.
    setTabOrder(m_al, m_esito);
    setTabOrder(m_esito, m_stazione);
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
    m_vistaRese->setColumnHidden(0, true);
    m_vistaStatistiche->setColumnHidden(0, true);
    auto *cifre = new QSplitter(Qt::Vertical, pagina);
    cifre->addWidget(m_vistaRese);
    cifre->addWidget(m_vistaStatistiche);
    cifre->setStretchFactor(0, 1);
    cifre->setStretchFactor(1, 3);
    cifre->setSizes({120, 480});
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
    scelta->addWidget(m_rigaGrafico, 1);
    grafico->addLayout(scelta);
    grafico->addWidget(m_grafico, 1);
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
    connect(esporta, &QPushButton::clicked, this, &FinestraStorico::esporta);
    connect(aggiorna, &QPushButton::clicked, this, &FinestraStorico::aggiorna);
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
        [filtro = m_modello->filtro(), perPosto = m_perPosto->isChecked()](
            Archivio &a) -> std::optional<QList<CifrePosto>> {
            // A row the archive keeps no unit for takes it from its newest reading's shown value.
            QHash<QString, QHash<int, QString>> unitaDeiBanchi;
            const auto cifre = [&](const FiltroProve &scelte) -> std::optional<CifrePosto> {
                std::optional<QList<StatisticaRiga>> righe = a.statistiche(scelte);
                if (!righe)
                    return std::nullopt;
                std::optional<QList<ResaBanco>> rese = a.rese(scelte);
                if (!rese)
                    return std::nullopt;
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
    for (const TestiStorico::CifrePosto &b : blocchi) {
        const QString posto = b.posto.isEmpty() ? QStringLiteral("tutti") : b.posto;
        for (const StatisticaRiga &s : b.righe)
            aggiungiRiga(*m_tabellaStatistiche, campiStatistica(posto, s));
        for (const ResaBanco &r : b.rese)
            aggiungiRiga(*m_tabellaRese, campiResa(posto, r));
    }
    m_vistaStatistiche->setColumnHidden(0, !perPosto);
    m_vistaRese->setColumnHidden(0, !perPosto);
    m_vistaStatistiche->resizeColumnsToContents();
    m_vistaRese->resizeColumnsToContents();
    QString testo = rese.isEmpty()
        ? QStringLiteral("Nessuna prova conclusa fra quelle scelte.")
        : QStringLiteral("Rese contate sulle unità; le prove da ripetere (errore o interrotta) "
                         "non entrano in nessuna resa.");
    if (m_perPosto->isChecked() && !perPosto && m_modello->filtro().posto.isEmpty()
        && !rese.isEmpty())
        testo += QStringLiteral(" Nessuna delle prove scelte ha un posto: solo il totale.");
    else if (perPosto)
        testo += QStringLiteral(" Le prove senza posto contano solo in «tutti».");
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
        m_punti.clear();
        m_unitaGrafico.clear();
        m_grafico->mostra({}, QString(), QString(), std::nullopt, std::nullopt);
        return;
    }
    const StatisticaRiga s = m_statistiche.at(i);
    const quint64 generazione = m_generazione;
    m_lettore->chiedi<QList<Archivio::Punto>>(
        [filtro = m_modello->filtro(), s](
            Archivio &a) { return a.valori(filtro, s.shaBanco, s.n); },
        [this, s, generazione](
            const std::optional<QList<Archivio::Punto>> &punti, const QString &errore) {
            if (generazione != m_generazione)
                return;
            if (!punti) {
                mostraTesto(m_rese, errore);
                return;
            }
            m_punti = *punti;
            m_unitaGrafico = s.unitaMisura;
            for (const Archivio::Punto &p : *punti) {
                if (!m_unitaGrafico.isEmpty())
                    break;
                m_unitaGrafico = p.unitaMisura;
            }
            m_grafico->mostra(*punti, s.nome, m_unitaGrafico, s.minimo, s.massimo);
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
        scriviCsv(QStringLiteral("Esporta il grafico"), QStringLiteral("grafico.csv"),
            TestiStorico::csvPunti(m_punti, m_unitaGrafico));
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
