#include "form3.h"

#include "ui_form3.h"

#include "conversioni.h"
#include "porte.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QFont>
#include <QHelpEvent>
#include <QMessageBox>
#include <QToolTip>

Form3::Form3(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::Form3>())
    , m_sequenziatore(*this, Comm1)
{
    // The panel is drawn in "MS Sans Serif"; where it is missing, the face closest to its widths
    // that comes with the program keeps every caption inside its box.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
        {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
            QStringLiteral("DejaVu Sans")});
    ui->setupUi(this);
    // A selector's list and its text are announced with the selector's own name.
    for (QComboBox *selettore :
        {ui->Combo1, ui->Combo2, ui->Combo5, ui->ComboComando, ui->ComboIndirizzo}) {
        selettore->lineEdit()->setAccessibleName(selettore->accessibleName());
        selettore->view()->setAccessibleName(selettore->accessibleName());
    }
    Comm1.setRegistro(&m_registro);
    m_sequenziatore.setRegistro(&m_registro);
    ui->Combo2->setFocus();
    ui->Combo1->installEventFilter(this);
    ui->Combo1->lineEdit()->installEventFilter(this);
    connect(ui->Command1, &QPushButton::clicked, &m_sequenziatore, &Sequenziatore::Command1_Click);
    connect(&m_sequenziatore, &Sequenziatore::errore, this, &Form3::mostraErrore);
    connect(ui->Text1, &QLineEdit::textEdited, this,
        [this](const QString &testo) { m_testo1.imposta(testo); });
    ui->Text1->installEventFilter(this);
}

Form3::~Form3() = default;

QString Form3::testo(Campo campo) const
{
    switch (campo) {
    case Campo::Combo1:
        return ui->Combo1->currentText();
    case Campo::Combo2:
        return ui->Combo2->currentText();
    case Campo::Combo5:
        return ui->Combo5->currentText();
    case Campo::ComboComando:
        return ui->ComboComando->currentText();
    case Campo::ComboIndirizzo:
        return ui->ComboIndirizzo->currentText();
    case Campo::Text1:
        return m_testo1.testo();
    case Campo::Text3:
        return ui->Text3->text();
    }
    return {};
}

QStringList Form3::elencoBaud() const
{
    QStringList elenco;
    for (int i = 0; i < ui->Combo2->count(); ++i)
        elenco.append(ui->Combo2->itemText(i));
    return elenco;
}

void Form3::impostaTesto(Campo campo, const QString &testo)
{
    switch (campo) {
    case Campo::Combo1:
        ui->Combo1->setCurrentText(testo);
        break;
    case Campo::Combo2:
        ui->Combo2->setCurrentText(testo);
        break;
    case Campo::Combo5:
        ui->Combo5->setCurrentText(testo);
        break;
    case Campo::ComboComando:
        ui->ComboComando->setCurrentText(testo);
        break;
    case Campo::ComboIndirizzo:
        ui->ComboIndirizzo->setCurrentText(testo);
        break;
    case Campo::Text1:
        m_testo1.imposta(testo);
        ui->Text1->setText(testo);
        break;
    case Campo::Text3:
        ui->Text3->setText(testo);
        break;
    }
}

void Form3::aggiungiRicevuto(QStringView voce)
{
    m_testo1.aggiungi(voce);
    if (m_testo1DaMostrare)
        return;
    m_testo1DaMostrare = true;
    QMetaObject::invokeMethod(this, &Form3::mostraTestoRicevuto, Qt::QueuedConnection);
}

void Form3::mostraTestoRicevuto()
{
    if (!m_testo1DaMostrare)
        return;
    m_testo1DaMostrare = false;
    ui->Text1->setText(m_testo1.testo()); // the cursor goes to the end: the newest bytes show
}

// The operator edits what the box shows: before a key or a click reaches it, it shows every
// byte received so far, so that an edit never drops bytes still waiting to be shown.
bool Form3::eventFilter(QObject *oggetto, QEvent *evento)
{
    if (evento->type() == QEvent::ToolTip
        && (oggetto == ui->Combo1 || oggetto == ui->Combo1->lineEdit())) {
        QToolTip::showText(
            static_cast<QHelpEvent *>(evento)->globalPos(), dispositivoDellaPorta(), ui->Combo1);
        return true;
    }
    if (oggetto == ui->Text1) {
        switch (evento->type()) {
        case QEvent::KeyPress:
        case QEvent::InputMethod:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Drop:
            mostraTestoRicevuto();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(oggetto, evento);
}

// Read when the tooltip is shown, so that it follows the port typed and the adapters plugged in.
QString Form3::dispositivoDellaPorta() const
{
    try {
        const int numero = Conversioni::numeroPorta(ui->Combo1->currentText());
        return QStringLiteral("Porta %1: %2").arg(numero).arg(Porte::dispositivo(numero));
    } catch (const Errore &errore) {
        return errore.descrizione();
    }
}

void Form3::closeEvent(QCloseEvent *evento)
{
    m_sequenziatore.annulla();
    QWidget::closeEvent(evento);
}

// Window-modal and not waited for: the request has already ended and the window stays usable.
// While a repetition owns the request, its errors are counted there, not shown one by one.
void Form3::mostraErrore(int numero, const QString &descrizione)
{
    if (m_sequenziatore.riservato())
        return;
    auto *messaggio
        = new QMessageBox(QMessageBox::Critical, windowTitle() + QStringLiteral(": errore"),
            QStringLiteral("Errore %1").arg(numero), QMessageBox::Ok, this);
    messaggio->setInformativeText(descrizione);
    messaggio->setAttribute(Qt::WA_DeleteOnClose);
    messaggio->setObjectName(QStringLiteral("messaggioErrore"));
    messaggio->open();
}
