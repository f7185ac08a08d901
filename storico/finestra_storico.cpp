#include "finestra_storico.h"

#include "dialogo_csv.h"
#include "grafico_storico.h"
#include "lettore_storico.h"
#include "modello_storico.h"
#include "numeri_italiani.h"
#include "testi_traffico.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

using TestiTraffico::FormaCsv;

// A figure as the window shows it; empty where there is none.
QString cifra(const std::optional<double> &valore)
{
    return valore ? NumeriItaliani::daMacchina(QString::number(*valore, 'g', 6)) : QString();
}

QString cifraCsv(const std::optional<double> &valore)
{
    return valore ? TestiTraffico::numeroCsv(QString::number(*valore, 'g', 10), FormaCsv::Foglio)
                  : QString();
}

// "1.200 A" as the archive keeps it, "1,200 A" as an Italian reads it.
QString mostrato(const QString &testo)
{
    const qsizetype spazio = testo.indexOf(u' ');
    return spazio < 0 ? NumeriItaliani::daMacchina(testo)
                      : NumeriItaliani::daMacchina(testo.left(spazio)) + testo.mid(spazio);
}

QString percento(qint64 parte, qint64 tutto)
{
    return tutto > 0
        ? NumeriItaliani::decimale(100.0 * double(parte) / double(tutto), 1) + QStringLiteral(" %")
        : QStringLiteral("—");
}

const QStringList kColonneStatistiche{"Banco", "Riga", "Strumento", "Memoria", "Minimo", "Massimo",
    "Letture", "Con valore", "Media", "Dev. std.", "Min", "Max", "Cpk", "Fuori dai limiti",
    "Fallite"};

QStringList campiStatistica(
    const StatisticaRiga &s, const std::function<QString(std::optional<double>)> &n)
{
    return {s.banco, s.nome, QString::number(s.strumento), s.memoria, n(s.minimo), n(s.massimo),
        QString::number(s.letture), QString::number(s.conValore), n(s.media), n(s.deviazione),
        n(s.valoreMinimo), n(s.valoreMassimo), n(s.cpk), QString::number(s.fuoriDaiLimiti),
        QString::number(s.fallite)};
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
    , m_attesa(new QTimer(this))
    , m_schede(new QTabWidget(this))
    , m_letture(modelloTesti({"Riga", "Nome", "Strumento", "Memoria", "Valore", "Minimo", "Massimo",
                                 "Atteso", "Stato", "Latenza (ms)"},
          this))
    , m_tabellaStatistiche(modelloTesti(kColonneStatistiche, this))
    , m_rese(new QLabel(this))
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
    m_esito->setObjectName(QStringLiteral("filtroEsito"));
    m_esito->addItem(QStringLiteral("tutti"), QString());
    for (const QString &esito : Esiti::tutti())
        m_esito->addItem(esito, esito);
    campo(riga1, QStringLiteral("&Unità:"), m_unita, QStringLiteral("Numero di serie (inizio)"));
    campo(riga1, QStringLiteral("&Dal:"), m_dal, QStringLiteral("Dal giorno"));
    campo(riga1, QStringLiteral("A&l:"), m_al, QStringLiteral("Al giorno"));
    campo(riga1, QStringLiteral("E&sito:"), m_esito, QStringLiteral("Esito"));
    campo(riga2, QStringLiteral("S&tazione:"), m_stazione, QStringLiteral("Stazione"));
    campo(riga2, QStringLiteral("&Operatore:"), m_operatore, QStringLiteral("Operatore"));
    campo(riga2, QStringLiteral("&Banco:"), m_banco, QStringLiteral("Banco"));
    m_esito->view()->setAccessibleName(m_esito->accessibleName());
    // Tab goes as the fields read, row by row.
    setTabOrder(m_al, m_esito);
    setTabOrder(m_esito, m_stazione);
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
    m_rese->setObjectName(QStringLiteral("rese"));
    m_rese->setWordWrap(true);
    statistiche->addWidget(m_rese);
    m_vistaStatistiche = vista(m_tabellaStatistiche, QStringLiteral("Statistiche per riga"), this);
    statistiche->addWidget(m_vistaStatistiche, 1);
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
    m_stato->setWordWrap(true);
    fondo->addWidget(m_stato, 1);
    auto *esporta = new QPushButton(QStringLiteral("&Esporta CSV…"), this);
    esporta->setObjectName(QStringLiteral("esportaStorico"));
    fondo->addWidget(esporta);
    colonna->addLayout(fondo);

    // A filter typed is applied once the typing pauses, or at once with Enter.
    m_attesa->setSingleShot(true);
    m_attesa->setInterval(300);
    connect(m_attesa, &QTimer::timeout, this, &FinestraStorico::applica);
    for (QLineEdit *campo : {m_unita, m_dal, m_al, m_stazione, m_operatore, m_banco}) {
        connect(campo, &QLineEdit::textEdited, m_attesa, qOverload<>(&QTimer::start));
        connect(campo, &QLineEdit::returnPressed, this, &FinestraStorico::applica);
    }
    connect(m_esito, &QComboBox::currentIndexChanged, this, &FinestraStorico::applica);
    connect(m_schede, &QTabWidget::currentChanged, this, [this](int scheda) {
        if (scheda > 0 && m_statisticheDaRifare)
            chiediStatistiche();
    });
    connect(m_rigaGrafico, &QComboBox::currentIndexChanged, this, &FinestraStorico::chiediGrafico);
    connect(esporta, &QPushButton::clicked, this, &FinestraStorico::esporta);
    collega();
    resize(980, 680);
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
            m_stato->setText(errore);
            return;
        }
        *data = *letta;
    }
    filtro.stazione = m_stazione->text().trimmed();
    filtro.operatore = m_operatore->text().trimmed();
    filtro.banco = m_banco->text().trimmed();
    filtro.esito = m_esito->currentData().toString();
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
    if (!m_errore.isEmpty())
        parti << m_errore;
    if (!m_avviso.isEmpty())
        parti << m_avviso;
    if (!m_archivio.isEmpty())
        parti << QStringLiteral("Archivio: %1.").arg(Destinazione::breve(m_archivio));
    if (const std::optional<qint64> totale = m_modello->totale())
        parti << QStringLiteral("%1 prove.").arg(NumeriItaliani::intero(*totale));
    m_stato->setText(parti.join(u' '));
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
    m_rese->setText(QStringLiteral("Calcolo delle statistiche…"));
    using Cifre = std::pair<QList<StatisticaRiga>, QList<ResaBanco>>;
    const quint64 generazione = m_generazione;
    m_lettore->chiedi<Cifre>(
        [filtro = m_modello->filtro()](Archivio &a) -> std::optional<Cifre> {
            std::optional<QList<StatisticaRiga>> righe = a.statistiche(filtro);
            if (!righe)
                return std::nullopt;
            std::optional<QList<ResaBanco>> rese = a.rese(filtro);
            if (!rese)
                return std::nullopt;
            return Cifre{std::move(*righe), std::move(*rese)};
        },
        [this, generazione](const std::optional<Cifre> &cifre, const QString &errore) {
            // A filter changed meanwhile asks again, or will: only its answer is shown.
            if (generazione != m_generazione)
                return;
            if (!cifre) {
                m_rese->setText(errore);
                return;
            }
            mostraStatistiche(cifre->first, cifre->second);
        });
}

void FinestraStorico::mostraStatistiche(
    const QList<StatisticaRiga> &righe, const QList<ResaBanco> &rese)
{
    m_statistiche = righe;
    m_reseBanchi = rese;
    m_tabellaStatistiche->removeRows(0, m_tabellaStatistiche->rowCount());
    for (const StatisticaRiga &s : righe)
        aggiungiRiga(*m_tabellaStatistiche, campiStatistica(s, cifra));
    m_vistaStatistiche->resizeColumnsToContents();
    QStringList testi;
    for (const ResaBanco &r : rese) {
        testi << QStringLiteral("%1: %2 unità in %3 prove; resa al primo passaggio %4, finale %5.")
                     .arg(r.banco, NumeriItaliani::intero(r.unita), NumeriItaliani::intero(r.prove),
                         percento(r.conformiAlPrimo, r.unita),
                         percento(r.conformiAllUltimo, r.unita));
    }
    m_rese->setText(testi.isEmpty() ? QStringLiteral("Nessuna prova conclusa fra quelle scelte.")
                                    : testi.join(u'\n'));
    const QSignalBlocker fermo(m_rigaGrafico);
    m_rigaGrafico->clear();
    for (const StatisticaRiga &s : righe) {
        if (s.conValore > 0)
            m_rigaGrafico->addItem(QStringLiteral("%1 — %2").arg(s.banco, s.nome),
                QVariant::fromValue(int(&s - righe.data())));
    }
    chiediGrafico();
}

void FinestraStorico::chiediGrafico()
{
    const int i = m_rigaGrafico->currentData().toInt();
    if (m_rigaGrafico->currentIndex() < 0 || i >= m_statistiche.size()) {
        m_punti.clear();
        m_grafico->mostra({}, QString(), std::nullopt, std::nullopt);
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
                m_rese->setText(errore);
                return;
            }
            m_punti = *punti;
            m_grafico->mostra(*punti, s.nome, s.minimo, s.massimo);
        });
}

QByteArray FinestraStorico::csvStatistiche() const
{
    QByteArray csv = TestiTraffico::inizioCsv(FormaCsv::Foglio);
    csv += TestiTraffico::lineaCsv(kColonneStatistiche, FormaCsv::Foglio);
    for (const StatisticaRiga &s : m_statistiche)
        csv += TestiTraffico::lineaCsv(campiStatistica(s, cifraCsv), FormaCsv::Foglio);
    csv += "\r\n";
    csv += TestiTraffico::lineaCsv(
        {"Banco", "Unità", "Prove", "Conformi al primo", "Conformi all'ultimo"}, FormaCsv::Foglio);
    for (const ResaBanco &r : m_reseBanchi) {
        csv += TestiTraffico::lineaCsv(
            {r.banco, QString::number(r.unita), QString::number(r.prove),
                QString::number(r.conformiAlPrimo), QString::number(r.conformiAllUltimo)},
            FormaCsv::Foglio);
    }
    return csv;
}

void FinestraStorico::esporta()
{
    switch (m_schede->currentIndex()) {
    case 1:
        scriviCsv(QStringLiteral("Esporta le statistiche"), QStringLiteral("statistiche.csv"),
            csvStatistiche());
        return;
    case 2: {
        QByteArray csv = TestiTraffico::inizioCsv(FormaCsv::Foglio)
            + TestiTraffico::lineaCsv(
                {"n", "inizio", "unita_in_prova", "valore", "fuori_dai_limiti"}, FormaCsv::Foglio);
        for (qsizetype i = 0; i < m_punti.size(); ++i) {
            const Archivio::Punto &p = m_punti[i];
            csv += TestiTraffico::lineaCsv(
                {QString::number(i + 1), p.inizio.toString(Qt::ISODateWithMs), p.unita,
                    cifraCsv(p.valore), p.fuori ? "sì" : "no"},
                FormaCsv::Foglio);
        }
        scriviCsv(QStringLiteral("Esporta il grafico"), QStringLiteral("grafico.csv"), csv);
        return;
    }
    default:
        break;
    }
    // Every run the filter chooses, not only those scrolled to: read in the reader's thread.
    m_stato->setText(QStringLiteral("Lettura delle prove da esportare…"));
    m_lettore->chiedi<QByteArray>(
        [filtro = m_modello->filtro()](Archivio &a) -> std::optional<QByteArray> {
            QByteArray csv = TestiTraffico::inizioCsv(FormaCsv::Foglio)
                + TestiTraffico::lineaCsv(ModelloStorico::intestazioneCsv(), FormaCsv::Foglio);
            if (!a.perOgniProva(filtro, 0, [&csv](const ProvaArchiviata &p) {
                    csv += TestiTraffico::lineaCsv(ModelloStorico::campiCsv(p), FormaCsv::Foglio);
                }))
                return std::nullopt;
            return csv;
        },
        [this](const std::optional<QByteArray> &csv, const QString &errore) {
            aggiornaStato();
            if (!csv) {
                m_stato->setText(errore);
                return;
            }
            scriviCsv(QStringLiteral("Esporta le prove"), QStringLiteral("prove.csv"), *csv);
        });
}

void FinestraStorico::scriviCsv(const QString &titolo, const QString &nome, const QByteArray &csv)
{
    DialogoCsv::esporta(
        this, titolo, nome, QStringLiteral("dialogoEsportaStorico"), [csv] { return csv; },
        [this](const QString &percorso, const QString &errore) {
            m_stato->setText(errore.isEmpty()
                    ? QStringLiteral("Esportato in %1.").arg(QDir::toNativeSeparators(percorso))
                    : QStringLiteral("%1 non si scrive: %2. Sceglierne un altro.")
                          .arg(QDir::toNativeSeparators(percorso), errore));
        });
}

void FinestraStorico::aggiorna()
{
    applica();
}
