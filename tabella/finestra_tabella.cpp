#include "finestra_tabella.h"

#include "comandi_tabella.h"
#include "delegato_veloce.h"
#include "dialogo_csv.h"
#include "file_banco.h"
#include "grafici_tabella.h"
#include "impostazioni_linea.h"
#include "lettura_tabella.h"
#include "modello_tabella.h"
#include "numeri_italiani.h"
#include "registro_traffico.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaProperty>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QShortcut>
#include <QSpinBox>
#include <QTableView>
#include <QVBoxLayout>

#include <cmath>

namespace {

QPushButton *pulsante(const QString &testo, QWidget *genitore, const QString &descrizione = {})
{
    auto *p = new QPushButton(testo, genitore);
    p->setAutoDefault(false);
    if (!descrizione.isEmpty()) {
        p->setToolTip(descrizione);
        p->setAccessibleDescription(descrizione);
    }
    return p;
}

// Paints as the traffic's views do; a cell's new text goes to the window, which takes it
// through the undo stack rather than straight into the model.
class DelegatoTabella : public DelegatoVeloce
{
public:
    DelegatoTabella(
        std::function<void(const QModelIndex &, const QString &)> modifica, QObject *genitore)
        : DelegatoVeloce(genitore)
        , m_modifica(std::move(modifica))
    { }

    void setModelData(
        QWidget *editor, QAbstractItemModel *, const QModelIndex &indice) const override
    {
        const QByteArray proprieta = editor->metaObject()->userProperty().name();
        m_modifica(indice, editor->property(proprieta.isEmpty() ? "text" : proprieta).toString());
    }

private:
    std::function<void(const QModelIndex &, const QString &)> m_modifica;
};

} // namespace

FinestraTabella::FinestraTabella(ModelloTabella &modello, LetturaTabella &lettura,
    const RegistroTraffico &registro, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_modello(modello)
    , m_lettura(lettura)
    , m_registro(registro)
    , m_porta(new QComboBox(this))
    , m_baud(new QComboBox(this))
    , m_tabella(new QTableView(this))
    , m_leggiTutto(pulsante(QStringLiteral("&Leggi tutto"), this,
          QStringLiteral("Legge ogni riga una volta, in ordine")))
    , m_leggiDiContinuo(pulsante(QStringLiteral("Leggi di co&ntinuo"), this,
          QStringLiteral("Legge le righe giro dopo giro, con la pausa scelta fra un giro e "
                         "l'altro, finché non si preme Ferma")))
    , m_ferma(pulsante(QStringLiteral("Fe&rma"), this, QStringLiteral("Ferma subito (Esc)")))
    , m_pausa(new QSpinBox(this))
    , m_avanzamento(new QProgressBar(this))
    , m_stato(new QLabel(this))
{
    setObjectName(QStringLiteral("finestraTabella"));
    resize(1240, 600);

    // The menus: the document's, and the undoing of its edits.
    auto *barra = new QMenuBar(this);
    m_menuFile = barra->addMenu(QStringLiteral("&File"));
    m_menuFile->addSeparator();
    QAction *chiudi = m_menuFile->addAction(QStringLiteral("C&hiudi la tabella"));
    chiudi->setShortcut(QKeySequence::Close);
    connect(chiudi, &QAction::triggered, this, &QWidget::close);
    // Nothing is undone or done again under a reading: the rows it reads stay where they are.
    QMenu *modifica = barra->addMenu(QStringLiteral("&Modifica"));
    m_annulla = modifica->addAction(QStringLiteral("&Annulla"));
    m_annulla->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    m_ripeti = modifica->addAction(QStringLiteral("&Ripeti"));
    m_ripeti->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    connect(m_annulla, &QAction::triggered, this, [this] {
        if (!m_lettura.inCorso())
            m_annullamenti.undo();
    });
    connect(m_ripeti, &QAction::triggered, this, [this] {
        if (!m_lettura.inCorso())
            m_annullamenti.redo();
    });
    connect(
        &m_annullamenti, &QUndoStack::indexChanged, this, &FinestraTabella::aggiornaAnnullamenti);

    // The line the rows are read on.
    m_leggiTutto->setObjectName(QStringLiteral("leggiTutto"));
    m_leggiDiContinuo->setObjectName(QStringLiteral("leggiDiContinuo"));
    m_ferma->setObjectName(QStringLiteral("ferma"));
    m_porta->setEditable(true);
    m_porta->setObjectName(QStringLiteral("portaTabella"));
    for (int n = 1; n <= 8; ++n)
        m_porta->addItem(QString::number(n));
    m_porta->setToolTip(QStringLiteral("Numero di porta o percorso del dispositivo"));
    m_baud->setEditable(true);
    m_baud->setObjectName(QStringLiteral("baudTabella"));
    for (const char *baud : {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"})
        m_baud->addItem(QString::fromLatin1(baud));
    auto *linea = new QHBoxLayout;
    auto *etichettaPorta = new QLabel(QStringLiteral("&Porta:"), this);
    etichettaPorta->setBuddy(m_porta);
    auto *etichettaBaud = new QLabel(QStringLiteral("&Baud:"), this);
    etichettaBaud->setBuddy(m_baud);
    for (QComboBox *c : {m_porta, m_baud}) {
        c->lineEdit()->setAccessibleName(c == m_porta ? QStringLiteral("Porta della tabella")
                                                      : QStringLiteral("Baud della tabella"));
        c->setAccessibleName(c->lineEdit()->accessibleName());
        c->view()->setAccessibleName(c->lineEdit()->accessibleName());
        c->setMinimumContentsLength(14);
    }
    linea->addWidget(etichettaPorta);
    linea->addWidget(m_porta);
    linea->addWidget(etichettaBaud);
    linea->addWidget(m_baud);
    linea->addStretch(1);

    // The rows.
    m_tabella->setObjectName(QStringLiteral("tabellaBanco"));
    m_tabella->setAccessibleName(QStringLiteral("Righe del banco"));
    m_tabella->setAccessibleDescription(QStringLiteral(
        "Una riga per parametro: nome, strumento, memoria, formato e limiti, modificabili con "
        "F2; poi valore, parola, stato, ora e conteggi dell'ultima lettura"));
    m_tabella->setModel(&m_modello);
    m_tabella->setItemDelegate(new DelegatoTabella(
        [this](const QModelIndex &indice, const QString &testo) { modificaCella(indice, testo); },
        m_tabella));
    m_tabella->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tabella->setTabKeyNavigation(false);
    m_tabella->setWordWrap(false);
    m_tabella->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_tabella->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_tabella->horizontalHeader()->setStretchLastSection(true);

    auto *aggiungi
        = pulsante(QStringLiteral("&Aggiungi"), this, QStringLiteral("Aggiunge una riga (Ins)"));
    auto *duplica = pulsante(
        QStringLiteral("&Duplica"), this, QStringLiteral("Duplica le righe scelte (Ctrl+D)"));
    auto *elimina = pulsante(QStringLiteral("&Elimina"), this,
        QStringLiteral("Elimina le righe scelte (Canc; Ctrl+Z le rimette)"));
    auto *su
        = pulsante(QStringLiteral("S&u"), this, QStringLiteral("Sposta la riga in su (Alt+Su)"));
    auto *giu
        = pulsante(QStringLiteral("&Giù"), this, QStringLiteral("Sposta la riga in giù (Alt+Giù)"));
    auto *intervallo = pulsante(QStringLiteral("Aggiungi &intervallo…"), this,
        QStringLiteral("Una riga per ogni indirizzo di un intervallo, per uno strumento"));
    auto *importa = pulsante(QStringLiteral("Importa &CSV…"), this,
        QStringLiteral("Aggiunge le righe di un file CSV con intestazione"));
    intervallo->setObjectName(QStringLiteral("aggiungiIntervallo"));
    m_modifiche = {aggiungi, duplica, elimina, su, giu, intervallo, importa};
    auto *righe = new QHBoxLayout;
    for (QPushButton *p : m_modifiche)
        righe->addWidget(p);
    righe->addStretch(1);

    // Reading.
    m_pausa->setRange(0, 3'600'000);
    m_pausa->setSingleStep(100);
    m_pausa->setValue(1000);
    m_pausa->setSuffix(QStringLiteral(" ms"));
    m_pausa->setObjectName(QStringLiteral("pausaTabella"));
    auto *etichettaPausa = new QLabel(QStringLiteral("Pau&sa fra i giri:"), this);
    etichettaPausa->setBuddy(m_pausa);
    m_pausa->setAccessibleName(QStringLiteral("Pausa fra i giri"));
    auto *grafico = pulsante(QStringLiteral("Grafic&o"), this,
        QStringLiteral("Il valore delle righe scelte nel tempo, con i loro limiti"));
    grafico->setObjectName(QStringLiteral("grafico"));
    auto *esporta = pulsante(QStringLiteral("Espor&ta…"), this,
        QStringLiteral("Scrive la tabella, con le letture, in un file CSV per un foglio di "
                       "calcolo"));
    auto *comandi = new QHBoxLayout;
    for (QWidget *w : std::initializer_list<QWidget *>{
             m_leggiTutto, m_leggiDiContinuo, etichettaPausa, m_pausa, m_ferma, grafico, esporta})
        comandi->addWidget(w);
    comandi->addStretch(1);

    m_avanzamento->setObjectName(QStringLiteral("avanzamentoTabella"));
    m_avanzamento->setAccessibleName(QStringLiteral("Avanzamento del giro"));
    m_avanzamento->setTextVisible(true);
    m_stato->setObjectName(QStringLiteral("statoTabella"));
    m_stato->setAccessibleName(QStringLiteral("Stato della lettura"));
    // A size of its own, so that the text of each row read repaints the label and lays out
    // nothing else.
    m_stato->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_stato->setFixedHeight(m_stato->fontMetrics().height() + 4);

    auto *colonna = new QVBoxLayout(this);
    colonna->setMenuBar(barra);
    colonna->addLayout(linea);
    colonna->addLayout(righe);
    colonna->addWidget(m_tabella, 1);
    colonna->addLayout(comandi);
    colonna->addWidget(m_avanzamento);
    colonna->addWidget(m_stato);

    // Tab goes as the window reads, top to bottom, left to right.
    QList<QWidget *> ordine{m_porta, m_baud};
    ordine += QList<QWidget *>(m_modifiche.begin(), m_modifiche.end());
    ordine += {m_tabella, m_leggiTutto, m_leggiDiContinuo, m_pausa, m_ferma, grafico, esporta};
    for (qsizetype i = 1; i < ordine.size(); ++i)
        QWidget::setTabOrder(ordine[i - 1], ordine[i]);

    connect(aggiungi, &QPushButton::clicked, this, &FinestraTabella::aggiungi);
    connect(duplica, &QPushButton::clicked, this, &FinestraTabella::duplica);
    connect(elimina, &QPushButton::clicked, this, &FinestraTabella::elimina);
    connect(su, &QPushButton::clicked, this, [this] { sposta(-1); });
    connect(giu, &QPushButton::clicked, this, [this] { sposta(+1); });
    connect(intervallo, &QPushButton::clicked, this, &FinestraTabella::aggiungiIntervallo);
    connect(importa, &QPushButton::clicked, this, &FinestraTabella::importaCsv);
    connect(m_leggiTutto, &QPushButton::clicked, this, &FinestraTabella::leggiTutto);
    connect(m_leggiDiContinuo, &QPushButton::clicked, this, &FinestraTabella::leggiDiContinuo);
    connect(m_ferma, &QPushButton::clicked, this, &FinestraTabella::ferma);
    connect(grafico, &QPushButton::clicked, this, &FinestraTabella::mostraGrafico);
    connect(esporta, &QPushButton::clicked, this, &FinestraTabella::esporta);
    const auto scorciatoia = [this](QKeySequence tasti, QWidget *dove, auto azione) {
        auto *s = new QShortcut(tasti, dove);
        s->setContext(dove == this ? Qt::WindowShortcut : Qt::WidgetWithChildrenShortcut);
        connect(s, &QShortcut::activated, this, azione);
    };
    scorciatoia(QKeySequence(Qt::Key_Escape), this, [this] { ferma(); });
    scorciatoia(QKeySequence(Qt::Key_Insert), m_tabella, [this] { this->aggiungi(); });
    scorciatoia(QKeySequence(Qt::Key_Delete), m_tabella, [this] { this->elimina(); });
    scorciatoia(QKeySequence(Qt::CTRL | Qt::Key_D), this, [this] { this->duplica(); });
    scorciatoia(QKeySequence(Qt::ALT | Qt::Key_Up), m_tabella, [this] { sposta(-1); });
    scorciatoia(QKeySequence(Qt::ALT | Qt::Key_Down), m_tabella, [this] { sposta(+1); });

    connect(&m_modello, &ModelloTabella::rifiutato, this, [this](const QString &messaggio) {
        avvisa(QStringLiteral("Valore rifiutato"), messaggio);
    });
    connect(&m_modello, &ModelloTabella::lineaCambiata, this, &FinestraTabella::lineaDalModello);
    connect(&m_modello, &QAbstractItemModel::modelReset, this, &FinestraTabella::bancoNuovo);
    connect(
        &m_modello, &QAbstractItemModel::rowsInserted, this, &FinestraTabella::aggiornaPulsanti);
    connect(&m_modello, &QAbstractItemModel::rowsRemoved, this, &FinestraTabella::aggiornaPulsanti);
    connect(&m_modello, &QAbstractItemModel::dataChanged, this, &FinestraTabella::aggiornaTitolo);
    // An undo back to where the file was leaves the bench unchanged.
    connect(&m_annullamenti, &QUndoStack::cleanChanged, this, [this](bool comeIlFile) {
        m_modello.segnaModificato(!comeIlFile);
        aggiornaTitolo();
    });
    connect(
        m_porta->lineEdit(), &QLineEdit::editingFinished, this, &FinestraTabella::lineaDaiCampi);
    connect(m_porta, &QComboBox::activated, this, &FinestraTabella::lineaDaiCampi);
    connect(m_baud->lineEdit(), &QLineEdit::editingFinished, this, &FinestraTabella::lineaDaiCampi);
    connect(m_baud, &QComboBox::activated, this, &FinestraTabella::lineaDaiCampi);
    connect(&m_lettura, &LetturaTabella::letta, this, &FinestraTabella::letta);
    connect(&m_lettura, &LetturaTabella::terminata, this, &FinestraTabella::terminata);

    bancoNuovo();
}

void FinestraTabella::aggiungiAzioniFile(const QList<QAction *> &azioni)
{
    QAction *prima = m_menuFile->actions().value(0);
    m_menuFile->insertActions(prima, azioni);
}

void FinestraTabella::impostaFile(const QString &percorso)
{
    m_file = percorso;
    aggiornaTitolo();
}

void FinestraTabella::segnaSalvato()
{
    m_annullamenti.setClean();
    aggiornaTitolo();
}

void FinestraTabella::aggiornaTitolo()
{
    const QString nome
        = m_file.isEmpty() ? QStringLiteral("banco senza nome") : QFileInfo(m_file).fileName();
    setWindowTitle(QStringLiteral("Tabella — %1%2").arg(nome, m_modello.modificato() ? u"*" : u""));
}

void FinestraTabella::aggiornaPulsanti()
{
    const bool inCorso = m_lettura.inCorso();
    for (QPushButton *p : m_modifiche)
        p->setEnabled(!inCorso);
    m_porta->setEnabled(!inCorso);
    m_baud->setEnabled(!inCorso);
    m_leggiTutto->setEnabled(!inCorso && m_modello.rowCount() > 0);
    m_leggiDiContinuo->setEnabled(!inCorso && m_modello.rowCount() > 0);
    m_ferma->setEnabled(inCorso);
    m_pausa->setEnabled(!inCorso);
    aggiornaAnnullamenti();
    // The status can be selected and copied when it stays. While a round runs it changes with
    // every row, and a selectable label lays its text out in a second paint each time.
    m_stato->setTextInteractionFlags(inCorso ? Qt::NoTextInteraction : Qt::TextSelectableByMouse);
    aggiornaTitolo();
}

// "Annulla Elimina 3 righe": what Ctrl+Z would undo.
void FinestraTabella::aggiornaAnnullamenti()
{
    const bool inCorso = m_lettura.inCorso();
    m_annulla->setEnabled(!inCorso && m_annullamenti.canUndo());
    m_annulla->setText(m_annullamenti.canUndo()
            ? QStringLiteral("&Annulla: %1").arg(m_annullamenti.undoText())
            : QStringLiteral("&Annulla"));
    m_ripeti->setEnabled(!inCorso && m_annullamenti.canRedo());
    m_ripeti->setText(m_annullamenti.canRedo()
            ? QStringLiteral("&Ripeti: %1").arg(m_annullamenti.redoText())
            : QStringLiteral("&Ripeti"));
}

void FinestraTabella::avvisa(const QString &titolo, const QString &testo)
{
    auto *messaggio = new QMessageBox(QMessageBox::Warning,
        QStringLiteral("Tabella: %1").arg(titolo), testo, QMessageBox::Ok, this);
    messaggio->setObjectName(QStringLiteral("messaggioTabella"));
    messaggio->setAttribute(Qt::WA_DeleteOnClose);
    messaggio->open();
}

// Another bench: nothing of the one before stays behind, not its status, its edits to undo or
// where the table was scrolled.
void FinestraTabella::bancoNuovo()
{
    if (m_grafici)
        m_grafici->close();
    m_annullamenti.clear();
    m_conti = Conti();
    m_avanzamento->setRange(0, std::max(1, m_modello.rowCount()));
    m_avanzamento->setValue(0);
    m_avanzamento->setFormat(QString());
    m_stato->setText(m_modello.rowCount() > 0
            ? QStringLiteral("Pronta: %1.").arg(NumeriItaliani::conta(
                m_modello.rowCount(), QStringLiteral("riga"), QStringLiteral("righe")))
            : QStringLiteral("Pronta."));
    adattaColonne();
    m_tabella->scrollToTop();
    m_tabella->horizontalScrollBar()->setValue(0);
    lineaDalModello();
    aggiornaPulsanti();
}

// Each column as wide as what it holds: the sampled rows' texts, and for a reading the widest
// its row can show, so that a value read later is not cut; what any row may come to hold (a
// state, a type, a time) whatever rows there are now.
void FinestraTabella::adattaColonne()
{
    const QFontMetrics misure(m_tabella->font());
    const QFontMetrics misureTitoli(m_tabella->horizontalHeader()->font());
    constexpr int kCampione = 1000;
    const int margine = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) + 8;
    const int massima = misure.horizontalAdvance(u'0') * 40;
    const int righe = std::min(m_modello.rowCount(), kCampione);
    const auto larghezzaDi = [&](const QString &testo) {
        return misure.horizontalAdvance(testo) + margine;
    };
    for (int c = 0; c < ModelloTabella::NumeroColonne; ++c) {
        int larghezza = misureTitoli.horizontalAdvance(
                            m_modello.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString())
            + 2 * misureTitoli.horizontalAdvance(u'0');
        switch (c) {
        case ModelloTabella::Nome:
            larghezza = std::max(larghezza, larghezzaDi(QStringLiteral("65535:FFFF")));
            break;
        case ModelloTabella::Parola:
            larghezza = std::max(larghezza, larghezzaDi(QStringLiteral("FFFF")));
            break;
        case ModelloTabella::Stato:
            larghezza = std::max(larghezza, larghezzaDi(QStringLiteral("letta, senza limiti")));
            break;
        case ModelloTabella::Ora:
            larghezza = std::max(larghezza, larghezzaDi(QStringLiteral("00:00:00")));
            break;
        case ModelloTabella::Tipo:
            for (const QString &tipo : CampiRiga::nomiTipi())
                larghezza = std::max(larghezza, larghezzaDi(tipo));
            break;
        default:
            break;
        }
        for (int r = 0; r < righe; ++r) {
            const RigaBanco &riga = m_modello.riga(r);
            const QString testo = c == ModelloTabella::Valore
                ? riga.valoreConUnita(riga.tipo == RigaBanco::Tipo::ConSegno ? 0x8000 : 0xFFFF)
                : m_modello.data(m_modello.index(r, c), Qt::DisplayRole).toString();
            larghezza = std::max(larghezza, larghezzaDi(testo));
        }
        m_tabella->setColumnWidth(c, std::min(larghezza, massima));
    }
}

void FinestraTabella::lineaDalModello()
{
    m_porta->setCurrentText(m_modello.banco().porta);
    m_baud->setCurrentText(QString::number(m_modello.banco().baud));
    aggiornaTitolo();
}

// The port and baud typed are checked as the file checks them; a text refused is put back.
void FinestraTabella::lineaDaiCampi()
{
    bool ok = false;
    const QString testoBaud = m_baud->currentText().trimmed();
    const int baud = testoBaud.toInt(&ok);
    const QJsonObject linea{{"porta", m_porta->currentText().trimmed()},
        {"baud", ok ? QJsonValue(baud) : QJsonValue(testoBaud)}};
    DatiBanco letto;
    QString errore;
    if (!FileBanco::leggiLinea(linea, QStringLiteral("tabella"), letto, &errore)) {
        lineaDalModello();
        avvisa(QStringLiteral("linea rifiutata"),
            errore.mid(errore.indexOf(u':') + 2).prepend(QStringLiteral("Linea: ")));
        return;
    }
    const QString portaPrima = m_modello.banco().porta;
    const qint32 baudPrima = m_modello.banco().baud;
    if (letto.porta == portaPrima && letto.baud == baudPrima)
        return;
    m_modello.impostaLinea(letto.porta, letto.baud);
    m_annullamenti.push(ComandiTabella::lineaCambiata(m_modello, portaPrima, baudPrima));
    aggiornaTitolo();
}

QList<int> FinestraTabella::righeScelte() const
{
    QList<int> righe;
    for (const QModelIndex &i : m_tabella->selectionModel()->selectedRows())
        righe << i.row();
    if (righe.isEmpty() && m_tabella->currentIndex().isValid())
        righe << m_tabella->currentIndex().row();
    std::sort(righe.begin(), righe.end());
    return righe;
}

void FinestraTabella::modificaCella(const QModelIndex &indice, const QString &testo)
{
    if (m_lettura.inCorso() || !indice.isValid())
        return;
    const RigaBanco prima = m_modello.riga(indice.row());
    if (!m_modello.setData(indice, testo, Qt::EditRole))
        return;
    if (CampiRiga::comeJson(prima) == CampiRiga::comeJson(m_modello.riga(indice.row())))
        return; // the same field written again: nothing to undo
    m_annullamenti.push(ComandiTabella::cellaCambiata(m_modello, indice.row(), prima,
        m_modello.headerData(indice.column(), Qt::Horizontal, Qt::DisplayRole).toString()));
}

void FinestraTabella::aggiungi()
{
    if (m_lettura.inCorso())
        return;
    RigaBanco riga;
    const QList<int> scelte = righeScelte();
    const int dopo = scelte.isEmpty() ? m_modello.rowCount() : scelte.back() + 1;
    if (dopo > 0) { // the next address of the row above, for the same instrument
        riga.strumento = m_modello.riga(dopo - 1).strumento;
        riga.memoria = quint16(m_modello.riga(dopo - 1).memoria + 1);
    }
    if (m_modello.rowCount() >= FileBanco::kMassimoRighe)
        return avvisa(
            QStringLiteral("troppe righe"), QStringLiteral("Il banco ha già il massimo di righe."));
    m_annullamenti.push(
        ComandiTabella::inserisci(m_modello, dopo, {riga}, QStringLiteral("Aggiungi una riga")));
    m_tabella->setCurrentIndex(m_modello.index(dopo, ModelloTabella::Nome));
    m_tabella->setFocus();
}

void FinestraTabella::duplica()
{
    const QList<int> scelte = righeScelte();
    if (m_lettura.inCorso() || scelte.isEmpty())
        return;
    if (m_modello.rowCount() + scelte.size() > FileBanco::kMassimoRighe)
        return avvisa(
            QStringLiteral("troppe righe"), QStringLiteral("Il banco ha già il massimo di righe."));
    QList<RigaBanco> copie;
    for (int n : scelte)
        copie << m_modello.riga(n);
    m_annullamenti.push(ComandiTabella::inserisci(m_modello, scelte.back() + 1, copie,
        copie.size() == 1 ? QStringLiteral("Duplica una riga")
                          : QStringLiteral("Duplica %1 righe").arg(copie.size())));
}

void FinestraTabella::elimina()
{
    const QList<int> scelte = righeScelte();
    if (m_lettura.inCorso() || scelte.isEmpty())
        return;
    m_annullamenti.push(ComandiTabella::rimuovi(m_modello, scelte));
    m_stato->setText(scelte.size() == 1
            ? QStringLiteral("Una riga eliminata: Ctrl+Z la rimette.")
            : QStringLiteral("%1 righe eliminate: Ctrl+Z le rimette.")
                  .arg(NumeriItaliani::intero(scelte.size())));
    if (m_modello.rowCount() > 0)
        m_tabella->setCurrentIndex(
            m_modello.index(std::min(scelte.front(), m_modello.rowCount() - 1),
                std::max(0, m_tabella->currentIndex().column())));
}

void FinestraTabella::sposta(int verso)
{
    const QModelIndex attuale = m_tabella->currentIndex();
    const int altra = attuale.row() + verso;
    if (m_lettura.inCorso() || !attuale.isValid() || altra < 0 || altra >= m_modello.rowCount())
        return;
    m_annullamenti.push(ComandiTabella::sposta(m_modello, attuale.row(), verso));
    m_tabella->setCurrentIndex(m_modello.index(altra, attuale.column()));
}

void FinestraTabella::aggiungiIntervallo()
{
    if (m_lettura.inCorso())
        return;
    auto *dialogo = new QDialog(this);
    dialogo->setObjectName(QStringLiteral("dialogoIntervallo"));
    dialogo->setWindowTitle(QStringLiteral("Aggiungi intervallo"));
    dialogo->setAttribute(Qt::WA_DeleteOnClose);
    auto *strumento = new QSpinBox(dialogo);
    strumento->setRange(0, 65535);
    const QList<int> scelte = righeScelte();
    if (!scelte.isEmpty())
        strumento->setValue(m_modello.riga(scelte.back()).strumento);
    const auto esadecimale = [dialogo](const QString &testo) {
        auto *campo = new QLineEdit(testo, dialogo);
        campo->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[0-9A-Fa-f]{1,4}")), campo));
        return campo;
    };
    QLineEdit *da = esadecimale(QStringLiteral("0000"));
    QLineEdit *a = esadecimale(QStringLiteral("000F"));
    auto *quante = new QLabel(dialogo);
    auto *pulsanti = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialogo);
    auto *modulo = new QFormLayout(dialogo);
    modulo->addRow(QStringLiteral("&Strumento:"), strumento);
    modulo->addRow(QStringLiteral("&Da memoria (hex):"), da);
    modulo->addRow(QStringLiteral("Fino a &memoria (hex):"), a);
    modulo->addRow(quante);
    modulo->addRow(pulsanti);
    const auto conta = [=] {
        const int primo = int(da->text().toUInt(nullptr, 16));
        const int ultimo = int(a->text().toUInt(nullptr, 16));
        const bool ok = da->hasAcceptableInput() && a->hasAcceptableInput() && primo <= ultimo
            && m_modello.rowCount() + (ultimo - primo + 1) <= FileBanco::kMassimoRighe;
        quante->setText(ok
                ? NumeriItaliani::conta(
                    ultimo - primo + 1, QStringLiteral("riga nuova"), QStringLiteral("righe nuove"))
                : QStringLiteral("Scrivere due indirizzi da 0000 a FFFF, il primo non "
                                 "oltre il secondo."));
        pulsanti->button(QDialogButtonBox::Ok)->setEnabled(ok);
    };
    connect(da, &QLineEdit::textChanged, dialogo, conta);
    connect(a, &QLineEdit::textChanged, dialogo, conta);
    connect(pulsanti, &QDialogButtonBox::accepted, dialogo, &QDialog::accept);
    connect(pulsanti, &QDialogButtonBox::rejected, dialogo, &QDialog::reject);
    connect(dialogo, &QDialog::accepted, this, [=] {
        const auto primo = quint16(da->text().toUInt(nullptr, 16));
        const auto ultimo = quint16(a->text().toUInt(nullptr, 16));
        if (primo > ultimo || m_lettura.inCorso())
            return;
        QList<RigaBanco> nuove(ultimo - primo + 1);
        for (int i = 0; i < nuove.size(); ++i) {
            nuove[i].strumento = quint16(strumento->value());
            nuove[i].memoria = quint16(primo + i);
        }
        m_annullamenti.push(ComandiTabella::inserisci(m_modello, m_modello.rowCount(), nuove,
            QStringLiteral("Aggiungi %1 righe").arg(nuove.size())));
    });
    conta();
    dialogo->open();
}

void FinestraTabella::importaCsv()
{
    if (m_lettura.inCorso())
        return;
    auto *dialogo = new QFileDialog(this, QStringLiteral("Importa righe da CSV"), QDir::homePath(),
        QStringLiteral("CSV (*.csv);;Tutti i file (*)"));
    dialogo->setObjectName(QStringLiteral("dialogoImporta"));
    dialogo->setFileMode(QFileDialog::ExistingFile);
    dialogo->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialogo, &QFileDialog::fileSelected, this, [this](const QString &percorso) {
        QFile file(percorso);
        QString errore;
        if (!file.open(QIODevice::ReadOnly))
            return avvisa(QStringLiteral("importazione"),
                QStringLiteral("Impossibile aprire %1: %2.").arg(percorso, file.errorString()));
        const auto righe = FileBanco::importaCsv(file.read(256 << 20), percorso, &errore);
        if (!righe)
            return avvisa(QStringLiteral("importazione"), errore);
        if (m_modello.rowCount() + righe->size() > FileBanco::kMassimoRighe)
            return avvisa(QStringLiteral("importazione"),
                QStringLiteral("Con queste %1 righe il banco supererebbe il massimo di %2.")
                    .arg(righe->size())
                    .arg(FileBanco::kMassimoRighe));
        if (m_lettura.inCorso())
            return;
        m_annullamenti.push(ComandiTabella::inserisci(m_modello, m_modello.rowCount(), *righe,
            QStringLiteral("Importa %1 righe").arg(righe->size())));
        adattaColonne();
        m_stato->setText(righe->size() == 1
                ? QStringLiteral("1 riga importata: Ctrl+Z la toglie.")
                : QStringLiteral("%1 righe importate: Ctrl+Z le toglie.")
                      .arg(NumeriItaliani::intero(righe->size())));
    });
    dialogo->open();
}

void FinestraTabella::esporta()
{
    DialogoCsv::esporta(
        this, QStringLiteral("Esporta la tabella"), QStringLiteral("tabella.csv"),
        QStringLiteral("dialogoEsporta"),
        [this] { return m_modello.comeCsv(TestiTraffico::FormaCsv::Foglio); },
        [this](const QString &percorso, const QString &errore) {
            if (errore.isEmpty()) {
                m_stato->setText(QStringLiteral("Tabella esportata in %1.")
                                     .arg(QDir::toNativeSeparators(percorso)));
                return;
            }
            avvisa(QStringLiteral("esportazione"),
                QStringLiteral("Impossibile scrivere %1 (%2): scegliere un'altra cartella o un "
                               "altro nome.")
                    .arg(QDir::toNativeSeparators(percorso), errore));
        });
}

void FinestraTabella::mostraGrafico()
{
    QList<RigaBanco> righe;
    for (int n : righeScelte())
        righe << m_modello.riga(n);
    if (righe.isEmpty())
        return avvisa(QStringLiteral("grafico"),
            QStringLiteral("Scegliere nella tabella le righe da mostrare (fino a %1).")
                .arg(GraficiTabella::kMassimoRighe));
    if (m_grafici)
        m_grafici->close();
    m_grafici = new GraficiTabella(righe, m_registro, m_lettura.motore().sequenziatore(), this);
    m_grafici->show();
}

void FinestraTabella::leggiTutto()
{
    avvia(1);
}

void FinestraTabella::leggiDiContinuo()
{
    avvia(0);
}

void FinestraTabella::avvia(int giri)
{
    if (m_lettura.inCorso() || m_modello.rowCount() == 0)
        return;
    lineaDaiCampi();
    if (!m_lettura.avvia(giri, m_pausa->value())) {
        auto *messaggio = new QMessageBox(QMessageBox::Information, QStringLiteral("Tabella"),
            SequenzaRichieste::testoOccupata(m_lettura.motore().occupante()), QMessageBox::Ok,
            this);
        messaggio->setAttribute(Qt::WA_DeleteOnClose);
        messaggio->open();
        return;
    }
    m_conti = Conti();
    m_avanzamento->setRange(0, m_modello.rowCount());
    m_avanzamento->setValue(0);
    m_avanzamento->setFormat(QStringLiteral("riga %v di %m"));
    m_stato->setText(QStringLiteral("Lettura della riga 1 di %1…")
                         .arg(NumeriItaliani::intero(m_modello.rowCount())));
    aggiornaPulsanti();
}

void FinestraTabella::ferma()
{
    m_lettura.ferma();
}

void FinestraTabella::letta(qint64 giro, int riga, const RisultatoRichiesta &risultato)
{
    if (m_grafici)
        m_grafici->aggiungi(m_modello.riga(riga), risultato);
    if (risultato.esito != RisultatoRichiesta::Esito::Interrotta) {
        ++m_conti.letture;
        m_conti.ultimaRiga = riga;
        m_conti.ultimoGiro = giro;
        if (risultato.esito == RisultatoRichiesta::Esito::Errore)
            ++m_conti.conErrore;
        else if (risultato.esito == RisultatoRichiesta::Esito::NessunaRisposta)
            ++m_conti.senzaRisposta;
        else if (m_modello.stato(riga) == ModelloTabella::StatoRiga::FuoriDaiLimiti)
            ++m_conti.fuoriDaiLimiti;
    }
    const int righe = m_lettura.righeDelGiro();
    // A progress bar repaints itself at once, and flushes to the screen on its own, whenever its
    // value moves a pixel; with updates held back it is painted with the row's other changes.
    m_avanzamento->setUpdatesEnabled(false);
    m_avanzamento->setValue(riga + 1);
    m_avanzamento->setUpdatesEnabled(true);
    QString testo = QStringLiteral("Riga %1 di %2 · giro %3")
                        .arg(NumeriItaliani::intero(riga + 1), NumeriItaliani::intero(righe),
                            NumeriItaliani::intero(giro + 1));
    if (const auto secondi = m_lettura.secondiAllaFineDelGiro(); secondi && riga + 1 < righe) {
        testo += QStringLiteral(" · mancano circa %1")
                     .arg(NumeriItaliani::durata(
                         *secondi * double(righe - riga - 1) / double(righe - riga)));
    }
    if (m_conti.conErrore + m_conti.senzaRisposta > 0)
        testo += QStringLiteral(" · %1 con errore, %2 senza risposta")
                     .arg(NumeriItaliani::intero(m_conti.conErrore),
                         NumeriItaliani::intero(m_conti.senzaRisposta));
    m_stato->setText(testo);
}

// What the reading met, in words: a round that met errors says so, and how many.
void FinestraTabella::terminata(int errore, const QString &descrizione)
{
    aggiornaPulsanti();
    const Conti &c = m_conti;
    QString testo;
    if (m_lettura.motore().fermata()) {
        testo = c.ultimaRiga < 0
            ? QStringLiteral("Fermata prima della prima riga")
            : QStringLiteral("Fermata dopo la riga %1 di %2%3")
                  .arg(NumeriItaliani::intero(c.ultimaRiga + 1),
                      NumeriItaliani::intero(m_lettura.righeDelGiro()),
                      c.ultimoGiro > 0 ? QStringLiteral(" del giro %1")
                                             .arg(NumeriItaliani::intero(c.ultimoGiro + 1))
                                       : QString());
    } else {
        testo = QStringLiteral("Lettura finita");
    }
    QStringList problemi;
    if (c.conErrore > 0)
        problemi << QStringLiteral("%1 con errore").arg(NumeriItaliani::intero(c.conErrore));
    if (c.senzaRisposta > 0)
        problemi
            << QStringLiteral("%1 senza risposta").arg(NumeriItaliani::intero(c.senzaRisposta));
    if (c.fuoriDaiLimiti > 0)
        problemi
            << QStringLiteral("%1 fuori dai limiti").arg(NumeriItaliani::intero(c.fuoriDaiLimiti));
    testo += QStringLiteral(": %1 %2").arg(NumeriItaliani::intero(c.letture),
        c.letture == 1 ? QStringLiteral("lettura") : QStringLiteral("letture"));
    testo += problemi.isEmpty()
        ? QStringLiteral(", nessun errore.")
        : QStringLiteral(", di cui %1.").arg(problemi.join(QStringLiteral(", ")));
    m_stato->setText(testo);
    if (errore != 0)
        avvisa(QStringLiteral("errore"),
            QStringLiteral("La lettura si è fermata all'errore %1.\n%2")
                .arg(errore)
                .arg(descrizione));
}

// Closing the window stops the reading, as closing the panel ends a request.
void FinestraTabella::closeEvent(QCloseEvent *evento)
{
    m_lettura.ferma();
    if (m_grafici)
        m_grafici->close();
    QWidget::closeEvent(evento);
}
