#include "form3.h"

#include "ui_form3.h"

#include <QCloseEvent>
#include <QMessageBox>

Form3::Form3(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::Form3>())
    , m_sequenziatore(*this, Comm1)
{
    ui->setupUi(this);
    connect(ui->Command1, &QPushButton::clicked, &m_sequenziatore, &Sequenziatore::Command1_Click);
    connect(&m_sequenziatore, &Sequenziatore::errore, this, &Form3::mostraErrore);
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
        return ui->Text1->text();
    case Campo::Text3:
        return ui->Text3->text();
    }
    return {};
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
        ui->Text1->setText(testo);
        break;
    case Campo::Text3:
        ui->Text3->setText(testo);
        break;
    }
}

void Form3::closeEvent(QCloseEvent *evento)
{
    m_sequenziatore.annulla();
    QWidget::closeEvent(evento);
}

// Window-modal and not waited for: the request has already ended and the window stays usable.
void Form3::mostraErrore(int numero, const QString &descrizione)
{
    auto *messaggio = new QMessageBox(QMessageBox::Critical, windowTitle(),
                                      QStringLiteral("Errore %1").arg(numero), QMessageBox::Ok,
                                      this);
    messaggio->setInformativeText(descrizione);
    messaggio->setAttribute(Qt::WA_DeleteOnClose);
    messaggio->setObjectName(QStringLiteral("messaggioErrore"));
    messaggio->open();
}
