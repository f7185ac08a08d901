#pragma once

#include <QMainWindow>

class Form3;
class FinestraTraffico;

// The program's window: the operator's panel, untouched, under a menu bar that opens what goes
// beyond it (the traffic window, the About box).
class FinestraPrincipale : public QMainWindow
{
    Q_OBJECT

public:
    explicit FinestraPrincipale(QWidget *parent = nullptr);

    Form3 &pannello() { return *m_pannello; }
    // Made the first time it is asked for.
    FinestraTraffico &traffico();
    void mostraTraffico();

protected:
    void closeEvent(QCloseEvent *evento) override;

private:
    void creaMenu();
    void informazioni();
    QPoint postoPerIlTraffico(QSize dimensione) const;

    Form3 *m_pannello;
    FinestraTraffico *m_traffico = nullptr;
};
