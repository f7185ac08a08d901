#include "finestra_collaudo.h"

#include "modello_colorato.h"
#include "numeri_italiani.h"
#include "testi_ammessi.h"

#include <QAccessible>
#include <QDir>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QFont ingrandito(QFont carattere, double volte, bool grassetto)
{
    carattere.setPointSizeF(carattere.pointSizeF() * volte);
    carattere.setBold(grassetto);
    return carattere;
}

QString quante(qint64 n, const char *una, const char *tante)
{
    return NumeriItaliani::conta(n, QString::fromUtf8(una), QString::fromUtf8(tante));
}

} // namespace

// A unit without an answer on a working line failed as one out of limits did; an error of the
// line is the station's, and the unit is to be read again.
QColor FinestraCollaudo::coloreEsito(const QString &esito)
{
    if (esito == Esiti::kConforme)
        return QColor(0x1B, 0x6E, 0x2E);
    if (esito == Esiti::kInterrotta)
        return QColor(0x55, 0x55, 0x55);
    if (esito == Esiti::kNonConforme || esito == Esiti::kSenzaRisposta)
        return QColor(0xB0, 0x00, 0x20);
    return QColor(0x8A, 0x3B, 0x00);
}

// A device path is never split over two lines: a word joiner after each of its marks, where a
// line may otherwise break ("/dev/", "tty-usb").
QString FinestraCollaudo::percorsiInteri(const QString &testo)
{
    static const QRegularExpression kPercorso(QStringLiteral("\\S*[/\\\\]\\S*"));
    QString risultato;
    qsizetype fatto = 0;
    for (const QRegularExpressionMatch &m : kPercorso.globalMatch(testo)) {
        risultato += testo.mid(fatto, m.capturedStart() - fatto);
        const QString percorso = m.captured();
        for (qsizetype i = 0; i < percorso.size(); ++i) {
            risultato += percorso.at(i);
            if (i + 1 < percorso.size() && !percorso.at(i).isLetterOrNumber())
                risultato += QChar(0x2060);
        }
        fatto = m.capturedEnd();
    }
    return risultato + testo.mid(fatto);
}

QVariant RigheColorate::data(const QModelIndex &indice, int ruolo) const
{
    const QVariant dipinto = ModelloColorato::colore(
        ModelloTabella::StatoRiga(
            QIdentityProxyModel::data(indice, ModelloTabella::kRuoloStato).toInt()),
        ruolo);
    return dipinto.isValid() ? dipinto : QIdentityProxyModel::data(indice, ruolo);
}

FinestraCollaudo::FinestraCollaudo(Collaudo &collaudo, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_collaudo(collaudo)
    , m_intestazione(new QLabel(this))
    , m_seriale(new QLineEdit(this))
    , m_avviso(new QLabel(this))
    , m_riquadro(new QFrame(this))
    , m_esito(new QLabel(m_riquadro))
    , m_dettaglio(new QLabel(m_riquadro))
    , m_deriva(new QLabel(this))
    , m_tracciata(new QLabel(this))
    , m_campioni(new QLabel(this))
    , m_scarti(new QLabel(this))
    , m_avanzamento(new QProgressBar(this))
    , m_tempo(new QLabel(this))
    , m_righe(new QTableView(this))
    , m_giornata(new QLabel(this))
    , m_ferma(new QPushButton(QStringLiteral("&Ferma (Esc)"), this))
{
    setWindowTitle(QStringLiteral("Collaudo"));
    setObjectName(QStringLiteral("finestraCollaudo"));
    auto *colonna = new QVBoxLayout(this);

    auto *riga = new QHBoxLayout;
    m_intestazione->setObjectName(QStringLiteral("intestazione"));
    m_intestazione->setWordWrap(true);
    riga->addWidget(m_intestazione, 1);
    auto *operatore = new QPushButton(QStringLiteral("Cambia &operatore…"), this);
    operatore->setObjectName(QStringLiteral("cambiaOperatore"));
    riga->addWidget(operatore);
    colonna->addLayout(riga);

    auto *etichetta = new QLabel(QStringLiteral("&Numero di serie dell'unità:"), this);
    etichetta->setBuddy(m_seriale);
    colonna->addWidget(etichetta);
    m_seriale->setObjectName(QStringLiteral("numeroDiSerie"));
    m_seriale->setAccessibleName(QStringLiteral("Numero di serie"));
    m_seriale->setFont(ingrandito(m_seriale->font(), 2.2, true));
    m_seriale->setPlaceholderText(QStringLiteral("leggere l'etichetta con il lettore"));
    m_seriale->setMaxLength(200);
    colonna->addWidget(m_seriale);
    m_avviso->setObjectName(QStringLiteral("avviso"));
    m_avviso->setWordWrap(true);
    m_avviso->setFont(ingrandito(m_avviso->font(), 1.3, true));
    colonna->addWidget(m_avviso);

    // The banner: the outcome in one large word, the unit and the reason under it.
    // A reader finds it by name, with the outcome as the name of the word in it.
    m_riquadro->setObjectName(QStringLiteral("riquadroEsito"));
    m_riquadro->setAccessibleName(QStringLiteral("Esito della prova"));
    m_riquadro->setAutoFillBackground(true);
    auto *riquadro = new QVBoxLayout(m_riquadro);
    m_esito->setObjectName(QStringLiteral("esito"));
    m_esito->setAlignment(Qt::AlignCenter);
    m_esito->setFont(ingrandito(m_esito->font(), 3.6, true));
    riquadro->addWidget(m_esito);
    m_dettaglio->setObjectName(QStringLiteral("dettaglioEsito"));
    m_dettaglio->setAlignment(Qt::AlignCenter);
    m_dettaglio->setFont(ingrandito(m_dettaglio->font(), 1.5, true));
    m_dettaglio->setWordWrap(true);
    riquadro->addWidget(m_dettaglio);
    colonna->addWidget(m_riquadro);
    m_tracciata->setObjectName(QStringLiteral("tracciabilita"));
    m_tracciata->setWordWrap(true);
    m_tracciata->setFont(ingrandito(m_tracciata->font(), 1.2, false));
    m_tracciata->setTextInteractionFlags(Qt::NoTextInteraction);
    m_tracciata->hide();
    colonna->addWidget(m_tracciata);
    m_campioni->setObjectName(QStringLiteral("campioni"));
    m_campioni->setWordWrap(true);
    m_campioni->setFont(ingrandito(m_campioni->font(), 1.3, true));
    m_campioni->setTextInteractionFlags(Qt::NoTextInteraction);
    coloraCampioni(m_campioni);
    m_campioni->hide();
    colonna->addWidget(m_campioni);
    m_deriva->setObjectName(QStringLiteral("deriva"));
    m_deriva->setWordWrap(true);
    m_deriva->setFont(ingrandito(m_deriva->font(), 1.3, true));
    m_deriva->setTextInteractionFlags(Qt::NoTextInteraction);
    coloraDeriva(m_deriva);
    m_deriva->hide();
    colonna->addWidget(m_deriva);
    m_scarti->setObjectName(QStringLiteral("scarti"));
    m_scarti->setAccessibleName(QStringLiteral("Righe fallite"));
    m_scarti->setWordWrap(true);
    m_scarti->setFont(ingrandito(m_scarti->font(), 1.2, false));
    m_scarti->setTextInteractionFlags(Qt::NoTextInteraction);
    colonna->addWidget(m_scarti);

    auto *avanzamento = new QHBoxLayout;
    m_avanzamento->setObjectName(QStringLiteral("avanzamento"));
    m_avanzamento->setAccessibleName(QStringLiteral("Righe lette"));
    m_avanzamento->setFormat(QStringLiteral("%v di %m righe"));
    avanzamento->addWidget(m_avanzamento, 1);
    m_tempo->setObjectName(QStringLiteral("tempoRimasto"));
    avanzamento->addWidget(m_tempo);
    m_ferma->setObjectName(QStringLiteral("ferma"));
    m_ferma->setEnabled(false);
    avanzamento->addWidget(m_ferma);
    colonna->addLayout(avanzamento);

    m_righe->setObjectName(QStringLiteral("righeCollaudo"));
    m_righe->setAccessibleName(QStringLiteral("Righe del banco"));
    auto *colorate = new RigheColorate(this);
    colorate->setSourceModel(const_cast<ModelloTabella *>(&m_collaudo.modello()));
    m_righe->setModel(colorate);
    m_righe->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_righe->setSelectionMode(QAbstractItemView::NoSelection);
    m_righe->verticalHeader()->hide();
    for (int c = 0; c < ModelloTabella::NumeroColonne; ++c) {
        const bool mostrata = c == ModelloTabella::Nome || c == ModelloTabella::Valore
            || c == ModelloTabella::Minimo || c == ModelloTabella::Massimo
            || c == ModelloTabella::Atteso || c == ModelloTabella::Stato;
        m_righe->setColumnHidden(c, !mostrata);
    }
    m_righe->horizontalHeader()->setStretchLastSection(true);
    colonna->addWidget(m_righe, 1);
    m_giornata->setObjectName(QStringLiteral("giornata"));
    m_giornata->setWordWrap(true);
    colonna->addWidget(m_giornata);

    // The scanner's Enter must reach the serial field whatever was touched last.
    for (QWidget *parte : std::initializer_list<QWidget *>{operatore, m_ferma, m_righe})
        parte->setFocusPolicy(Qt::NoFocus);
    setFocusProxy(m_seriale);

    connect(m_seriale, &QLineEdit::returnPressed, this, &FinestraCollaudo::invio);
    connect(operatore, &QPushButton::clicked, this, &FinestraCollaudo::chiediOperatore);
    connect(m_ferma, &QPushButton::clicked, &m_collaudo, &Collaudo::ferma);
    m_seriale->installEventFilter(this);
    connect(&m_collaudo, &Collaudo::avviata, this, &FinestraCollaudo::avviata);
    connect(&m_collaudo, &Collaudo::rigaLetta, this, &FinestraCollaudo::rigaLetta);
    connect(&m_collaudo, &Collaudo::finita, this, &FinestraCollaudo::finita);
    connect(&m_collaudo, &Collaudo::inviate, this, &FinestraCollaudo::aggiornaGiornata);
    connect(&m_collaudo, &Collaudo::archivioCambiato, this, [this] {
        aggiornaIntestazione();
        // Another archive holds other runs of the reference units.
        aggiornaCampioni();
    });
    connect(&m_collaudo, &Collaudo::rapporto, this,
        [this](const QString &uuid, const QString &percorso, const QString &errore) {
            if (uuid != m_ultima.prova)
                return;
            m_ultima.rapportoScritto(percorso, errore);
            aggiornaTracciata();
        });
    connect(&m_collaudo, &Collaudo::etichetta, this,
        [this](const QString &uuid, bool riuscita, const QString &motivo, bool inRitardo) {
            if (uuid != m_ultima.prova)
                return;
            m_ultima.etichettaStampata(riuscita, motivo, inRitardo);
            aggiornaTracciata();
        });

    mostraEsito(QStringLiteral("PRONTO"), QStringLiteral("leggere il numero di serie"),
        QColor(0x30, 0x40, 0x60));
    resize(760, 640);
}

void FinestraCollaudo::aggiornaIntestazione()
{
    const QString archivio = m_collaudo.server().isEmpty()
        ? m_collaudo.descrizioneArchivio()
        : QStringLiteral("%1, inviato al server %2")
              .arg(m_collaudo.descrizioneArchivio(), m_collaudo.server());
    m_intestazione->setText(QStringLiteral("Banco: %1 · Stazione: %2 · Operatore: %3\nArchivio: %4")
                                .arg(m_collaudo.nomeBanco(), m_collaudo.stazione(),
                                    m_collaudo.operatore().isEmpty() ? QStringLiteral("(nessuno)")
                                                                     : m_collaudo.operatore(),
                                    archivio));
    m_avanzamento->setRange(0, m_collaudo.modello().rowCount());
    m_avanzamento->setValue(0);
    m_righe->resizeColumnsToContents();
    if (!m_collaudo.erroreSorveglianza().isEmpty())
        avvisa(testoErroreSorveglianza(m_collaudo.erroreSorveglianza()));
    aggiornaGiornata();
}

QString FinestraCollaudo::testoErroreSorveglianza(const QString &errore)
{
    return QStringLiteral("Le carte di controllo del banco non si leggono dall'archivio (%1): "
                          "l'avviso DERIVA guarda solo le unità provate da adesso. Riaprire la "
                          "stazione quando l'archivio si legge.")
        .arg(errore.simplified());
}

void FinestraCollaudo::chiediOperatore()
{
    QDialog *dialogo = dialogoOperatore(this, m_collaudo, [this](const QString &esito) {
        if (esito.isEmpty())
            aggiornaIntestazione();
        else
            avvisa(esito);
    });
    connect(dialogo, &QDialog::finished, m_seriale, [this] { m_seriale->setFocus(); });
}

QDialog *FinestraCollaudo::dialogoOperatore(
    QWidget *finestra, Collaudo &collaudo, const std::function<void(const QString &)> &fatto)
{
    auto *dialogo = new QInputDialog(finestra);
    dialogo->setObjectName(QStringLiteral("dialogoOperatore"));
    dialogo->setWindowTitle(QStringLiteral("Collaudo: operatore"));
    dialogo->setLabelText(QStringLiteral("Nome dell'operatore che collauda le unità:"));
    dialogo->setTextValue(collaudo.operatore());
    dialogo->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialogo, &QInputDialog::textValueSelected, finestra,
        [&collaudo, fatto](const QString &nome) {
            const QString operatore = nome.trimmed();
            if (operatore.isEmpty())
                return;
            QString errore;
            if (!collaudo.impostaOperatore(operatore, &errore)) {
                fatto(errore);
                return;
            }
            QSettings(QStringLiteral("banco-seriale"), QStringLiteral("banco-seriale"))
                .setValue(QLatin1String(kChiaveOperatore), operatore);
            fatto(QString());
        });
    dialogo->open();
    return dialogo;
}

// Esc stops the round from the serial field, which always has the focus, and Ctrl+H asks for
// the history. While the field is locked, what a scanner types is kept aside until its Enter.
bool FinestraCollaudo::eventFilter(QObject *oggetto, QEvent *evento)
{
    if (oggetto != m_seriale || evento->type() != QEvent::KeyPress)
        return QWidget::eventFilter(oggetto, evento);
    const auto *tasto = static_cast<QKeyEvent *>(evento);
    if (tasto->key() == Qt::Key_H && tasto->modifiers() == Qt::ControlModifier) {
        emit storicoChiesto();
        return true;
    }
    if (tasto->key() == Qt::Key_P && tasto->modifiers() == Qt::ControlModifier) {
        ristampa();
        return true;
    }
    if (tasto->key() == Qt::Key_Escape) {
        m_collaudo.ferma();
        if (!m_collaudo.inCorso() && !m_lettoDurante.isEmpty())
            lettoDuranteLaProva();
        return true;
    }
    if (!m_seriale->isReadOnly())
        return QWidget::eventFilter(oggetto, evento);
    if (tasto->key() == Qt::Key_Return || tasto->key() == Qt::Key_Enter)
        lettoDuranteLaProva();
    else if (!tasto->text().isEmpty() && tasto->text().at(0).isPrint())
        m_lettoDurante += tasto->text();
    return true;
}

void FinestraCollaudo::lettoDuranteLaProva()
{
    const QString letto = m_lettoDurante.trimmed();
    m_lettoDurante.clear();
    const bool inCorso = m_collaudo.inCorso();
    QString testo;
    if (letto.isEmpty()) {
        testo = QStringLiteral("Invio durante la prova dell'unità %1: attenderne la fine, o "
                               "fermarla con Esc, prima di leggere la prossima.")
                    .arg(m_unita);
    } else {
        testo = QStringLiteral("«%1» letto mentre l'unità %2 era in prova: non è stato preso. "
                               "Leggerlo di nuovo a prova finita.")
                    .arg(TestiAmmessi::mostrabile(letto), m_unita);
    }
    avvisa(m_avvisoProva.isEmpty() ? testo : m_avvisoProva + u'\n' + testo);
    if (!inCorso)
        m_seriale->setReadOnly(false);
}

void FinestraCollaudo::avvisa(const QString &testo)
{
    m_avviso->setText(testo);
    QAccessibleEvent evento(m_avviso, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&evento);
}

void FinestraCollaudo::showEvent(QShowEvent *evento)
{
    QWidget::showEvent(evento);
    m_seriale->setFocus();
    aggiornaGiornata();
    aggiornaCampioni();
}

void FinestraCollaudo::closeEvent(QCloseEvent *evento)
{
    m_collaudo.ferma();
    QWidget::closeEvent(evento);
}

void FinestraCollaudo::invio()
{
    QString motivo;
    const QString unita = m_seriale->text();
    if (m_collaudo.operatore().isEmpty()) {
        avvisa(QStringLiteral("Manca il nome dell'operatore: Alt+O per darlo."));
        return;
    }
    if (!m_collaudo.avvia(unita, &motivo)) {
        avvisa(motivo);
        // The next scan takes the place of the refused one, never joins it.
        m_seriale->selectAll();
        // A period that ran out while the station stood still is named now.
        aggiornaCampioni();
    }
}

// The field is locked from here to the round's end: a scan meanwhile is refused, not joined.
void FinestraCollaudo::avviata(const QString &unita, const QString &avviso)
{
    m_unita = unita;
    m_lettoDurante.clear();
    m_seriale->setReadOnly(true);
    m_avvisoProva = avviso.isEmpty() ? QString() : avviso.left(1).toUpper() + avviso.mid(1);
    m_avviso->setText(m_avvisoProva);
    m_scarti->clear();
    m_ultima = {};
    m_ultima.unita = unita;
    aggiornaTracciata();
    m_avanzamento->setRange(0, m_collaudo.modello().rowCount());
    m_avanzamento->setValue(0);
    m_tempo->clear();
    m_ferma->setEnabled(true);
    mostraEsito(QStringLiteral("IN PROVA"), QStringLiteral("unità %1").arg(unita),
        QColor(0x30, 0x40, 0x60));
}

void FinestraCollaudo::rigaLetta(int n)
{
    m_avanzamento->setValue(n + 1);
    const std::optional<double> resto = m_collaudo.lettura().secondiAllaFineDelGiro();
    m_tempo->setText(resto && n + 1 < m_collaudo.modello().rowCount()
            ? QStringLiteral("ancora %1").arg(NumeriItaliani::durata(*resto))
            : QString());
}

void FinestraCollaudo::finita(const Collaudo::Esito &esito)
{
    m_ferma->setEnabled(false);
    m_tempo->clear();
    // A scan begun during the round keeps the field locked until its Enter.
    m_seriale->setReadOnly(!m_lettoDurante.isEmpty());
    const TestiEsito testi = testiEsito(esito);
    m_scarti->setText(testi.scarti);
    mostraEsito(testi.titolo, testi.dettaglio, testi.colore);
    m_righe->resizeColumnsToContents();
    m_seriale->selectAll();
    m_seriale->setFocus();
    m_ultima.prova = esito.prova;
    m_ultima.etichettaAttesa = esito.esito == Esiti::kConforme && esito.campione.isEmpty();
    sorveglia(esito);
    aggiornaGiornata();
    aggiornaCampioni();
}

void FinestraCollaudo::aggiornaTracciata()
{
    const QString testo = m_ultima.testo();
    m_tracciata->setVisible(!testo.isEmpty());
    if (testo == m_tracciata->text())
        return;
    m_tracciata->setText(testo);
    QPalette colori = palette();
    if (m_ultima.problema()) {
        colori.setColor(QPalette::Window, QColor(0xFF, 0xD2, 0x00));
        colori.setColor(QPalette::WindowText, Qt::black);
    }
    m_tracciata->setAutoFillBackground(m_ultima.problema());
    m_tracciata->setPalette(colori);
    // A failure is heard where the reader is, with the outcome.
    if (m_ultima.problema()) {
        m_seriale->setAccessibleDescription(
            m_riquadro->accessibleDescription() + QStringLiteral(". ") + testo);
        QAccessibleEvent descrizione(m_seriale, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&descrizione);
    }
    QAccessibleEvent nome(m_tracciata, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&nome);
}

void FinestraCollaudo::aggiornaCampioni()
{
    const QString testo = testoCampioni(m_collaudo, QString());
    m_campioni->setVisible(!testo.isEmpty());
    if (testo == m_campioni->text())
        return;
    m_campioni->setText(testo);
    QAccessibleEvent nome(m_campioni, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&nome);
}

void FinestraCollaudo::ristampa()
{
    if (m_collaudo.inCorso()) {
        avvisa(QStringLiteral("Ctrl+P ristampa l'etichetta dell'ultima unità a prova finita."));
        return;
    }
    if (m_ultima.prova.isEmpty() || !m_ultima.etichettaAttesa) {
        avvisa(m_ultima.unita.isEmpty()
                ? QStringLiteral("Nessuna unità provata finora: non c'è un'etichetta da "
                                 "ristampare.")
                : QStringLiteral("L'unità %1 non ha etichetta: l'etichetta va solo alle unità di "
                                 "produzione conformi.")
                      .arg(m_ultima.unita));
        return;
    }
    QString motivo;
    if (!m_collaudo.ristampa(m_ultima.prova, &motivo)) {
        avvisa(QStringLiteral("Etichetta non ristampata: %1.").arg(motivo));
        return;
    }
    m_ultima.ristampaChiesta = true;
    m_ultima.etichetta = QStringLiteral("ristampa dell'etichetta inviata");
    m_ultima.etichettaFallita = false;
    aggiornaTracciata();
}

void FinestraCollaudo::Tracciata::rapportoScritto(const QString &percorso, const QString &errore)
{
    rapporto = errore.isEmpty()
        ? QStringLiteral("rapporto PDF %1").arg(QDir::toNativeSeparators(percorso))
        : QStringLiteral("Rapporto PDF non scritto: %1").arg(errore);
    rapportoFallito = !errore.isEmpty();
}

void FinestraCollaudo::Tracciata::etichettaStampata(
    bool riuscita, const QString &motivo, bool inRitardo)
{
    QString perche = motivo;
    while (perche.endsWith(u'.'))
        perche.chop(1);
    if (inRitardo)
        etichetta = QStringLiteral("etichetta stampata in ritardo, dopo l'avviso: non ristamparla");
    else if (riuscita)
        etichetta = ristampaChiesta ? QStringLiteral("etichetta ristampata")
                                    : QStringLiteral("etichetta stampata");
    else
        etichetta = QStringLiteral("%1: %2 (Ctrl+P)")
                        .arg(ristampaChiesta ? QStringLiteral("Ristampa non riuscita")
                                             : QStringLiteral("Etichetta non stampata"),
                            perche);
    etichettaFallita = !riuscita && !inRitardo;
}

QString FinestraCollaudo::Tracciata::testo() const
{
    QStringList parti;
    for (const QString &parte : {rapporto, etichetta}) {
        if (!parte.isEmpty())
            parti << parte;
    }
    if (parti.isEmpty())
        return {};
    QString testo = parti.join(QStringLiteral("; "));
    testo[0] = testo[0].toUpper();
    return testo + u'.';
}

QString FinestraCollaudo::testoCampioni(const Collaudo &collaudo, const QString &posto)
{
    if (!collaudo.campioni().attiva())
        return {};
    const std::optional<Campioni::Stato> stato = collaudo.statoCampioni(posto);
    if (!stato)
        return QStringLiteral("I campioni del banco non si possono controllare: le unità di "
                              "produzione non si provano.");
    const QString attesa = Campioni::testoAttesa(*stato, posto);
    if (attesa.isEmpty())
        return {};
    return attesa.left(1).toUpper() + attesa.mid(1);
}

void FinestraCollaudo::coloraCampioni(QLabel *etichetta)
{
    etichetta->setAutoFillBackground(true);
    etichetta->setMargin(6);
    QPalette colori = etichetta->palette();
    colori.setColor(QPalette::Window, QColor(0x1F, 0x4E, 0x9A));
    colori.setColor(QPalette::WindowText, Qt::white);
    etichetta->setPalette(colori);
}

void FinestraCollaudo::sorveglia(const Collaudo::Esito &esito)
{
    const QList<Collaudo::Deriva> derive
        = m_collaudo.sorveglia(m_collaudo.modello(), QString(), esito.unita, esito.esito);
    if (derive.isEmpty())
        return;
    const QString testo = testoDerive(derive, QTime::currentTime());
    m_deriva->setText(testo);
    m_deriva->show();
    // Heard with the outcome, on the field that keeps the focus.
    m_seriale->setAccessibleDescription(
        m_seriale->accessibleDescription() + QStringLiteral(". ") + testo);
    QAccessibleEvent nome(m_deriva, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&nome);
    QAccessibleEvent descrizione(m_seriale, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&descrizione);
}

QString FinestraCollaudo::testoDeriva(const Collaudo::Deriva &deriva)
{
    QString valori = deriva.ultimi.join(QStringLiteral("; "));
    if (!deriva.unitaMisura.isEmpty())
        valori += u' ' + deriva.unitaMisura;
    return QStringLiteral("%1: %2 (%3 %4)")
        .arg(deriva.riga, deriva.testiRegole.join(QStringLiteral(" e ")),
            deriva.ultimi.size() == 1 ? QStringLiteral("ultimo valore")
                                      : QStringLiteral("ultimi valori"),
            valori);
}

QString FinestraCollaudo::testoDerive(const QList<Collaudo::Deriva> &derive, const QTime &ora)
{
    if (derive.isEmpty())
        return {};
    QStringList righe{QStringLiteral("DERIVA alle %1, dopo l'unità %2:")
                          .arg(ora.toString(QStringLiteral("HH:mm")), derive.first().unita)};
    for (const Collaudo::Deriva &d : derive)
        righe << testoDeriva(d) + u'.';
    righe << QStringLiteral("Il processo si sposta prima dei limiti del banco: avvisare chi ne "
                            "cura la qualità. Le unità restano giudicate sui limiti del banco.");
    return righe.join(u'\n');
}

void FinestraCollaudo::coloraDeriva(QLabel *etichetta)
{
    etichetta->setAutoFillBackground(true);
    etichetta->setMargin(6);
    QPalette colori = etichetta->palette();
    colori.setColor(QPalette::Window, QColor(0xFF, 0xD2, 0x00));
    colori.setColor(QPalette::WindowText, Qt::black);
    etichetta->setPalette(colori);
}

FinestraCollaudo::TestiEsito FinestraCollaudo::testiEsito(const Collaudo::Esito &esito)
{
    QString dettaglio = QStringLiteral("unità %1").arg(esito.unita);
    if (esito.tentativo > 1)
        dettaglio += QStringLiteral(", prova %1").arg(esito.tentativo);
    if (!esito.motivo.isEmpty())
        dettaglio += QStringLiteral(": ") + esito.motivo;
    if (esito.esito == Esiti::kErrore)
        dettaglio += QStringLiteral(" Poi leggere di nuovo l'unità: questa prova non conta.");
    // The line's error is said once, in the banner; the rows it left unread are only named.
    QStringList righe;
    QStringList nonLette;
    for (const Collaudo::Scarto &s : esito.scarti) {
        if (esito.esito == Esiti::kErrore && s.valore.isEmpty() && s.perQuanto == esito.motivo) {
            nonLette << s.nome;
            continue;
        }
        QString testo = s.nome + QStringLiteral(": ");
        if (!s.valore.isEmpty())
            testo += s.valore + QStringLiteral(" (limiti %1), ").arg(s.limiti);
        righe << testo + s.perQuanto;
    }
    if (!nonLette.isEmpty()) {
        righe.prepend((nonLette.size() == 1 ? QStringLiteral("Non letta per questo errore: ")
                                            : QStringLiteral("Non lette per questo errore: "))
            + nonLette.join(QStringLiteral(", ")) + u'.');
    }
    if (!esito.erroreArchivio.isEmpty())
        righe << QStringLiteral("ATTENZIONE: la prova non è stata registrata nell'archivio: %1")
                     .arg(esito.erroreArchivio);
    if (esito.campione.isEmpty())
        return {esito.esito.toUpper(), dettaglio, righe.join(u'\n'), coloreEsito(esito.esito)};
    // A reference unit judges the bench: right or wrong is what the operator must read.
    const Campione campione{esito.unita, esito.campione};
    if (Esiti::daRipetere(esito.esito)) {
        return {QStringLiteral("CAMPIONE DA RIPETERE"),
            QStringLiteral("campione %1: %2. La prova non conta: leggerlo di nuovo.")
                .arg(esito.unita, esito.motivo.isEmpty() ? esito.esito : esito.motivo),
            righe.join(u'\n'), coloreEsito(esito.esito)};
    }
    if (esito.esito == esito.campione) {
        return {QStringLiteral("CAMPIONE GIUSTO"),
            QStringLiteral("campione %1: doveva risultare %2, ed è risultato così.")
                .arg(esito.unita, esito.campione),
            righe.join(u'\n'), coloreEsito(Esiti::kConforme)};
    }
    return {QStringLiteral("CAMPIONE SBAGLIATO"),
        QStringLiteral("%1. La produzione resta ferma finché il campione non risulta giusto.")
            .arg(Campioni::testoSbagliato(campione, esito.esito)),
        righe.join(u'\n'), coloreEsito(Esiti::kNonConforme)};
}

void FinestraCollaudo::mostraEsito(
    const QString &testo, const QString &dettaglio, const QColor &sfondo)
{
    m_esito->setText(testo);
    m_dettaglio->setText(percorsiInteri(dettaglio));
    QPalette colori = m_riquadro->palette();
    colori.setColor(QPalette::Window, sfondo);
    colori.setColor(QPalette::WindowText, Qt::white);
    m_riquadro->setPalette(colori);
    // Read out where the reader is: on the serial field, which keeps the focus.
    const QString detto = QStringLiteral("%1, %2").arg(testo, dettaglio);
    m_riquadro->setAccessibleDescription(detto);
    m_seriale->setAccessibleDescription(QStringLiteral("Ultimo esito: %1").arg(detto));
    for (QWidget *parte : std::initializer_list<QWidget *>{m_riquadro, m_seriale}) {
        QAccessibleEvent evento(parte, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&evento);
    }
}

void FinestraCollaudo::aggiornaGiornata()
{
    m_giornata->setText(testoGiornata(m_collaudo.giornata(), QDateTime::currentDateTime()));
}

QString FinestraCollaudo::testoCifre(const Collaudo::Giornata &g)
{
    QString testo = QStringLiteral("%1 unità, %2, %3")
                        .arg(NumeriItaliani::intero(g.unita), quante(g.conformi, "conforme", "conformi"),
                            quante(g.nonConformi, "non conforme", "non conformi"));
    if (g.daRipetere > 0)
        testo += QStringLiteral(", %1 da ripetere").arg(NumeriItaliani::intero(g.daRipetere));
    testo += QStringLiteral("; resa al primo passaggio %1")
                 .arg(g.resaAlPrimo
                         ? NumeriItaliani::decimale(*g.resaAlPrimo * 100, 1) + QStringLiteral(" %")
                         : QStringLiteral("—"));
    if (g.derive > 0)
        testo += QStringLiteral("; ") + quante(g.derive, "avviso DERIVA", "avvisi DERIVA");
    return testo + u'.';
}

QString FinestraCollaudo::testoGiornata(const Collaudo::Giornata &g, const QDateTime &adesso)
{
    if (!g.errore.isEmpty())
        return QStringLiteral("Le cifre di oggi non si leggono: %1").arg(g.errore);
    QString testo = QStringLiteral("Oggi su questa stazione: ") + testoCifre(g);
    if (!g.inoltro)
        return testo + QStringLiteral("\nNessun server: le prove restano nella stazione.");

    const StatoInoltro &s = *g.inoltro;
    const qint64 daParte = std::clamp<qint64>(s.messeDaParte, 0, s.inAttesa);
    const qint64 inCoda = s.inAttesa - daParte;
    QString quando;
    if (s.ultimoInvio.isValid()) {
        const QDateTime ora = s.ultimoInvio.toLocalTime();
        quando = ora.date() == adesso.date()
            ? QStringLiteral("ultimo invio riuscito alle %1").arg(ora.toString(QStringLiteral("HH:mm")))
            : QStringLiteral("ultimo invio riuscito il %1 alle %2")
                  .arg(ora.toString(QStringLiteral("d/M/yyyy")), ora.toString(QStringLiteral("HH:mm")));
    } else {
        quando = QStringLiteral("nessun invio riuscito da quando la stazione è aperta");
    }
    QString errore = s.errore.simplified();
    while (errore.endsWith(u'.'))
        errore.chop(1);
    testo += u'\n';
    if (inCoda == 0 && daParte == 0) {
        testo += s.ultimoInvio.isValid()
            ? QStringLiteral("Tutte le prove sono sul server %1 (%2).").arg(g.server, quando)
            : QStringLiteral("Nessuna prova in attesa del server %1.").arg(g.server);
    } else if (inCoda > 0 && !errore.isEmpty()) {
        // The archive's message names the server and says how it failed.
        testo += QStringLiteral("%1: %2 (%3).")
                     .arg(quante(inCoda, "prova in attesa", "prove in attesa"), errore, quando);
    } else if (inCoda > 0) {
        testo += QStringLiteral("%1 d'invio al server %2 (%3).")
                     .arg(quante(inCoda, "prova in attesa", "prove in attesa"), g.server, quando);
    }
    if (daParte > 0) {
        if (inCoda > 0)
            testo += u'\n';
        const QString motivo = s.motivoScarto.simplified().isEmpty()
            ? QStringLiteral("il server non l'ha presa")
            : s.motivoScarto.simplified();
        testo += daParte == 1
            ? QStringLiteral("1 prova messa da parte: %1; inviarla di nuovo con banco-richiesta "
                             "--invia --riprova.")
                  .arg(motivo)
            : QStringLiteral("%1 prove messe da parte, l'ultima perché %2; inviarle di nuovo con "
                             "banco-richiesta --invia --riprova.")
                  .arg(NumeriItaliani::intero(daParte), motivo);
    }
    return testo;
}
