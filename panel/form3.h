#pragma once

#include "componente_seriale.h"
#include "pannello.h"
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

    ComponenteSeriale &comm1() { return Comm1; }
    Sequenziatore &sequenziatore() { return m_sequenziatore; }

protected:
    void closeEvent(QCloseEvent *evento) override;

private:
    void mostraErrore(int numero, const QString &descrizione);

    std::unique_ptr<Ui::Form3> ui;
    ComponenteSeriale Comm1;
    Sequenziatore m_sequenziatore;
};
