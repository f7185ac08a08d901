#pragma once

#include "componente_seriale.h"
#include "pannello.h"
#include "registro_traffico.h"
#include "ricezione.h"
#include "sequenziatore.h"

#include <QWidget>

#include <memory>

namespace Ui {
class Form3;
}

// The program's only window: the selectors a request is built from, the button that sends it and
// the two result boxes. It owns the serial component and the request sequencer for its lifetime.
class Form3 : public QWidget, public Pannello
{
    Q_OBJECT

public:
    explicit Form3(QWidget *parent = nullptr);
    ~Form3() override;

    QString testo(Campo campo) const override;
    void impostaTesto(Campo campo, const QString &testo) override;
    void aggiungiRicevuto(QStringView voce) override;
    // The rates the baud selector offers, in its order.
    QStringList elencoBaud() const;

    ComponenteSeriale &comm1() { return Comm1; }
    RegistroTraffico &registro() { return m_registro; }
    Sequenziatore &sequenziatore() { return m_sequenziatore; }

protected:
    void closeEvent(QCloseEvent *evento) override;
    bool eventFilter(QObject *oggetto, QEvent *evento) override;

private:
    void mostraErrore(int numero, const QString &descrizione);
    void mostraTestoRicevuto();
    QString dispositivoDellaPorta() const;

    std::unique_ptr<Ui::Form3> ui;
    // What Text1 holds; the box shows it once per pass of the event loop, however many bytes
    // arrived in that pass.
    TestoRicevuto m_testo1;
    bool m_testo1DaMostrare = false;
    RegistroTraffico m_registro;
    ComponenteSeriale Comm1;
    Sequenziatore m_sequenziatore;
};
