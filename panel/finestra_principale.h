#pragma once

#include <QMainWindow>
#include <QPointer>

class Collaudo;
class CollaudoPosti;
class FinestraCollaudo;
class FinestraPosti;
class FinestraRicerca;
class FinestraStorico;
class FinestraRipetizione;
class FinestraTabella;
class FinestraTraffico;
class LetturaTabella;
class ModelloTabella;
class Form3;
class QAction;
class QMessageBox;
class RicercaStrumento;
class SequenzaRichieste;

// The program's window: the operator's panel, untouched, under a menu bar that opens what goes
// beyond it (the traffic window, the About box).
class FinestraPrincipale : public QMainWindow
{
    Q_OBJECT

public:
    explicit FinestraPrincipale(QWidget *parent = nullptr);
    ~FinestraPrincipale() override;

    Form3 &pannello() { return *m_pannello; }
    // Made the first time it is asked for.
    FinestraTraffico &traffico();
    void mostraTraffico();
    SequenzaRichieste &ripetizione() { return *m_ripetizione; }
    FinestraRipetizione &finestraRipetizione();
    void mostraRipetizione();
    ModelloTabella &tabella() { return *m_tabella; }
    LetturaTabella &letturaTabella() { return *m_lettura; }
    FinestraTabella &finestraTabella();
    void mostraTabella();
    RicercaStrumento &ricerca() { return *m_ricerca; }
    FinestraRicerca &finestraRicerca();
    void mostraRicerca();

    // The station for the bench at percorso: false, with the reason shown (or given in errore,
    // and not shown), if the bench or the archive cannot be used, or a unit is being tested.
    // Without an operator the window asks. A bench with sockets opens the grid of its sockets.
    bool apriCollaudo(const QString &percorso, const QString &operatore = {},
        const QString &stazione = {}, QString *errore = nullptr);
    Collaudo *collaudo() { return m_collaudo; }
    FinestraCollaudo *finestraCollaudo() { return m_finestraCollaudo; }
    // The station's sockets and their grid, for a bench with sockets; null otherwise.
    CollaudoPosti *collaudoPosti() { return m_collaudoPosti; }
    FinestraPosti *finestraPosti() { return m_finestraPosti; }
    void mostraCollaudo();
    FinestraStorico &finestraStorico();
    void mostraStorico();
    // The history asked for from the station: read again after each of its runs.
    void mostraStoricoDelCollaudo();
    void scegliArchivio();

    // The bench: opened into the table, which it then shows; false, with the reason shown, if
    // the file cannot be used, and the table open stays as it was.
    bool apriBanco(const QString &percorso);
    bool salvaBanco(const QString &percorso);

protected:
    void closeEvent(QCloseEvent *evento) override;

private:
    void creaMenu();
    void informazioni();
    void lineaOccupata(const QString &chi);
    void scegliBancoDaAprire();
    void salvaBancoConNome();
    // A bench changed and not saved: true once saved or let go, false to keep it.
    bool lasciaBanco();
    void mostraErroreBanco(const QString &testo);
    QPoint postoAccanto(QSize dimensione) const;
    void mostraAccanto(QWidget &finestra);

    Form3 *m_pannello;
    FinestraTraffico *m_traffico = nullptr;
    SequenzaRichieste *m_ripetizione;
    FinestraRipetizione *m_finestraRipetizione = nullptr;
    QPointer<QMessageBox> m_messaggioOccupata;
    ModelloTabella *m_tabella;
    LetturaTabella *m_lettura;
    FinestraTabella *m_finestraTabella = nullptr;
    RicercaStrumento *m_ricerca;
    FinestraRicerca *m_finestraRicerca = nullptr;
    Collaudo *m_collaudo = nullptr;
    FinestraCollaudo *m_finestraCollaudo = nullptr;
    CollaudoPosti *m_collaudoPosti = nullptr;
    FinestraPosti *m_finestraPosti = nullptr;
    FinestraStorico *m_finestraStorico = nullptr;
    bool m_storicoDelCollaudo = false;
    QString m_fileBanco;
    // The bench's own actions, in the table's window too.
    QList<QAction *> m_azioniBanco;
};
