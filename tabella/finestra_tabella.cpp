#include "finestra_tabella.h"

#include "delegato_veloce.h"
#include "dialogo_csv.h"
#include "file_banco.h"
#include "grafici_tabella.h"
#include "impostazioni_linea.h"
#include "lettura_tabella.h"
#include "modello_tabella.h"

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
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
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

} // namespace

FinestraTabella::FinestraTabella(ModelloTabella &modello, LetturaTabella &lettura, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_modello(modello)
    , m_lettura(lettura)
    , m_porta(new QComboBox(this))
    , m_baud(new QComboBox(this))
    , m_tabella(new QTableView(this))
    , m_leggiTutto(pulsante(QStringLiteral("&Leggi tutto"), this,
          QStringLiteral("Legge ogni riga una volta, in ordine")))
    , m_leggiDiContinuo(pulsante(QStringLiteral("Leggi di &continuo"), this,
          QStringLiteral("Legge le righe giro dopo giro, con la pausa scelta fra un giro e "
                         "l'altro, finché non si preme Ferma")))
    , m_ferma(pulsante(QStringLiteral("&Ferma"), this, QStringLiteral("Ferma subito (Esc)")))
    , m_pausa(new QSpinBox(this))
    , m_avanzamento(new QProgressBar(this))
    , m_stato(new QLabel(this))
{
    setObjectName(QStringLiteral("finestraTabella"));
    resize(980, 520);

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
    m_tabella->setItemDelegate(new DelegatoVeloce(m_tabella));
    m_tabella->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tabella->setTabKeyNavigation(false);
    m_tabella->setWordWrap(false);
    m_tabella->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_tabella->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_tabella->horizontalHeader()->setStretchLastSection(true);
    const int cifra = fontMetrics().horizontalAdvance(u'0');
    // In digits, in the order of the columns.
    const int larghezze[] = {18, 8, 7, 12, 9, 7, 7, 8, 14, 11, 8, 11, 7, 10, 7, 6};
    for (int c = 0; c < ModelloTabella::NumeroColonne; ++c)
        m_tabella->setColumnWidth(c, larghezze[c] * cifra + 12);

    auto *aggiungi
        = pulsante(QStringLiteral("&Aggiungi"), this, QStringLiteral("Aggiunge una riga (Ins)"));
    auto *duplica = pulsante(
        QStringLiteral("&Duplica"), this, QStringLiteral("Duplica le righe scelte (Ctrl+D)"));
    auto *elimina = pulsante(
        QStringLiteral("&Elimina"), this, QStringLiteral("Elimina le righe scelte (Canc)"));
    auto *su
        = pulsante(QStringLiteral("S&u"), this, QStringLiteral("Sposta la riga in su (Alt+Su)"));
    auto *giu
        = pulsante(QStringLiteral("&Giù"), this, QStringLiteral("Sposta la riga in giù (Alt+Giù)"));
    auto *intervallo = pulsante(QStringLiteral("Aggiungi &intervallo…"), this,
        QStringLiteral("Una riga per ogni indirizzo di un intervallo, per uno strumento"));
    auto *importa = pulsante(QStringLiteral("I&mporta CSV…"), this,
        QStringLiteral("Aggiunge le righe di un file CSV con intestazione"));
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
    auto *etichettaPausa = new QLabel(QStringLiteral("Pa&usa fra i giri:"), this);
    etichettaPausa->setBuddy(m_pausa);
    m_pausa->setAccessibleName(QStringLiteral("Pausa fra i giri"));
    auto *grafico = pulsante(
        QStringLiteral("G&rafico"), this, QStringLiteral("Il valore delle righe scelte nel tempo"));
    auto *esporta = pulsante(QStringLiteral("Es&porta…"), this,
        QStringLiteral("Scrive la tabella, con le letture, in un file CSV"));
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
    m_stato->setFixedSize(
        m_stato->fontMetrics().horizontalAdvance(u'0') * 60, m_stato->fontMetrics().height() + 4);
    auto *fondo = new QHBoxLayout;
    fondo->addWidget(m_avanzamento, 1);
    fondo->addWidget(m_stato);

    auto *colonna = new QVBoxLayout(this);
    colonna->addLayout(linea);
    colonna->addLayout(righe);
    colonna->addWidget(m_tabella, 1);
    colonna->addLayout(comandi);
    colonna->addLayout(fondo);

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
    connect(&m_modello, &QAbstractItemModel::modelReset, this, &FinestraTabella::aggiornaPulsanti);
    connect(
        &m_modello, &QAbstractItemModel::rowsInserted, this, &FinestraTabella::aggiornaPulsanti);
    connect(&m_modello, &QAbstractItemModel::rowsRemoved, this, &FinestraTabella::aggiornaPulsanti);
    connect(&m_modello, &QAbstractItemModel::dataChanged, this, &FinestraTabella::aggiornaTitolo);
    connect(
        m_porta->lineEdit(), &QLineEdit::editingFinished, this, &FinestraTabella::lineaDaiCampi);
    connect(m_porta, &QComboBox::activated, this, &FinestraTabella::lineaDaiCampi);
    connect(m_baud->lineEdit(), &QLineEdit::editingFinished, this, &FinestraTabella::lineaDaiCampi);
    connect(m_baud, &QComboBox::activated, this, &FinestraTabella::lineaDaiCampi);
    connect(&m_lettura, &LetturaTabella::letta, this, &FinestraTabella::letta);
    connect(&m_lettura, &LetturaTabella::terminata, this, &FinestraTabella::terminata);

    lineaDalModello();
    aggiornaPulsanti();
    m_stato->setText(QStringLiteral("Pronta."));
}

void FinestraTabella::impostaFile(const QString &percorso)
{
    m_file = percorso;
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
    // The status can be selected and copied when it stays. While a round runs it changes with
    // every row, and a selectable label lays its text out in a second paint each time.
    m_stato->setTextInteractionFlags(inCorso ? Qt::NoTextInteraction : Qt::TextSelectableByMouse);
    aggiornaTitolo();
}

void FinestraTabella::avvisa(const QString &titolo, const QString &testo)
{
    auto *messaggio = new QMessageBox(QMessageBox::Warning,
        QStringLiteral("Tabella: %1").arg(titolo), testo, QMessageBox::Ok, this);
    messaggio->setObjectName(QStringLiteral("messaggioTabella"));
    messaggio->setAttribute(Qt::WA_DeleteOnClose);
    messaggio->open();
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
    // The fields as a file's "linea" would have them, checked by the file's own rules.
    QJsonObject linea{{"porta", m_porta->currentText().trimmed()}};
    bool ok = false;
    const int baud = m_baud->currentText().trimmed().toInt(&ok);
    linea.insert(QLatin1String("baud"), ok ? QJsonValue(baud) : QJsonValue(m_baud->currentText()));
    DatiBanco letto;
    QString errore;
    if (!FileBanco::leggiLinea(linea, QStringLiteral("tabella"), letto, &errore)) {
        lineaDalModello();
        avvisa(QStringLiteral("linea rifiutata"),
            errore.mid(errore.indexOf(u':') + 2).prepend(QStringLiteral("Linea: ")));
        return;
    }
    m_modello.impostaLinea(letto.porta, letto.baud);
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
    m_modello.inserisci(dopo, {riga});
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
    m_modello.inserisci(scelte.back() + 1, copie);
}

void FinestraTabella::elimina()
{
    const QList<int> scelte = righeScelte();
    if (m_lettura.inCorso() || scelte.isEmpty())
        return;
    m_modello.rimuovi(scelte);
    if (m_modello.rowCount() > 0)
        m_tabella->setCurrentIndex(
            m_modello.index(std::min(scelte.front(), m_modello.rowCount() - 1),
                std::max(0, m_tabella->currentIndex().column())));
}

void FinestraTabella::sposta(int verso)
{
    const QModelIndex attuale = m_tabella->currentIndex();
    if (m_lettura.inCorso() || !attuale.isValid())
        return;
    if (m_modello.sposta(attuale.row(), verso))
        m_tabella->setCurrentIndex(m_modello.index(attuale.row() + verso, attuale.column()));
}

void FinestraTabella::aggiungiIntervallo()
{
    if (m_lettura.inCorso())
        return;
    auto *dialogo = new QDialog(this);
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
    modulo->addRow(QStringLiteral("&A memoria (hex):"), a);
    modulo->addRow(quante);
    modulo->addRow(pulsanti);
    const auto conta = [=] {
        const int primo = int(da->text().toUInt(nullptr, 16));
        const int ultimo = int(a->text().toUInt(nullptr, 16));
        const bool ok = da->hasAcceptableInput() && a->hasAcceptableInput() && primo <= ultimo
            && m_modello.rowCount() + (ultimo - primo + 1) <= FileBanco::kMassimoRighe;
        quante->setText(ok ? QStringLiteral("%1 righe nuove").arg(ultimo - primo + 1)
                           : QStringLiteral("Scrivere due indirizzi da 0000 a FFFF, il primo non "
                                            "oltre il secondo."));
        pulsanti->button(QDialogButtonBox::Ok)->setEnabled(ok);
    };
    connect(da, &QLineEdit::textChanged, dialogo, conta);
    connect(a, &QLineEdit::textChanged, dialogo, conta);
    connect(pulsanti, &QDialogButtonBox::accepted, dialogo, &QDialog::accept);
    connect(pulsanti, &QDialogButtonBox::rejected, dialogo, &QDialog::reject);
    connect(dialogo, &QDialog::accepted, this, [=] {
        m_modello.aggiungiIntervallo(quint16(strumento->value()),
            quint16(da->text().toUInt(nullptr, 16)), quint16(a->text().toUInt(nullptr, 16)));
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
        m_modello.inserisci(m_modello.rowCount(), *righe);
        m_stato->setText(QStringLiteral("%1 righe importate.").arg(righe->size()));
    });
    dialogo->open();
}

void FinestraTabella::esporta()
{
    DialogoCsv::esporta(this, QStringLiteral("Esporta la tabella"), QStringLiteral("tabella.csv"),
        QStringLiteral("dialogoEsporta"), [this] { return m_modello.comeCsv(); },
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
    m_grafici = new GraficiTabella(righe, this);
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
            RipetizioneRichieste::testoOccupata(m_lettura.motore().occupante()), QMessageBox::Ok,
            this);
        messaggio->setAttribute(Qt::WA_DeleteOnClose);
        messaggio->open();
        return;
    }
    m_avanzamento->setRange(0, m_modello.rowCount());
    m_avanzamento->setValue(0);
    m_stato->setText(QStringLiteral("Lettura della riga 1 di %1…").arg(m_modello.rowCount()));
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
    const int righe = m_lettura.righeDelGiro();
    // A progress bar repaints itself at once, and flushes to the screen on its own, whenever its
    // value moves a pixel; with updates held back it is painted with the row's other changes.
    m_avanzamento->setUpdatesEnabled(false);
    m_avanzamento->setValue(riga + 1);
    m_avanzamento->setUpdatesEnabled(true);
    QString testo
        = QStringLiteral("Riga %1 di %2 · giro %3").arg(riga + 1).arg(righe).arg(giro + 1);
    if (const auto secondi = m_lettura.secondiAllaFineDelGiro(); secondi && riga + 1 < righe) {
        const qint64 resto
            = std::llround(*secondi * double(righe - riga - 1) / double(righe - riga));
        testo += QStringLiteral(" · mancano circa %1:%2")
                     .arg(resto / 60)
                     .arg(resto % 60, 2, 10, QChar(u'0'));
    }
    m_stato->setText(testo);
}

void FinestraTabella::terminata(int errore, const QString &descrizione)
{
    aggiornaPulsanti();
    m_stato->setText(QStringLiteral("Lettura finita."));
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
