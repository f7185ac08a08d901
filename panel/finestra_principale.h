#pragma once

#include <QMainWindow>
#include <QPointer>

class FinestraRipetizione;
class FinestraTraffico;
class Form3;
class QMessageBox;
class RipetizioneRichieste;

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
    RipetizioneRichieste &ripetizione() { return *m_ripetizione; }
    FinestraRipetizione &finestraRipetizione();
    void mostraRipetizione();

protected:
    void closeEvent(QCloseEvent *evento) override;

private:
    void creaMenu();
    void informazioni();
    void lineaOccupata(const QString &chi);
    QPoint postoAccanto(QSize dimensione) const;
    void mostraAccanto(QWidget &finestra);

    Form3 *m_pannello;
    FinestraTraffico *m_traffico = nullptr;
    RipetizioneRichieste *m_ripetizione;
    FinestraRipetizione *m_finestraRipetizione = nullptr;
    QPointer<QMessageBox> m_messaggioOccupata;
};
