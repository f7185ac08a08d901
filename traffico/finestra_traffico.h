#pragma once

#include "modello_traffico.h"

#include "ridisegno.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

class GiroPosti;
class QComboBox;
class QThread;
class QLabel;
class QTableView;
class RegistroTraffico;
class Sequenziatore;

// The "Traffico" window: the record as a table that follows the newest row unless the operator
// has scrolled away from it, emptied by "Pulisci", saved as CSV by "Salva…". It shows the panel's
// record, or the record of one of the lines a round of sockets runs on, chosen under "Linea:";
// the choice shows only once a line is there.
class FinestraTraffico : public QWidget
{
    Q_OBJECT

public:
    explicit FinestraTraffico(RegistroTraffico &registro, QWidget *parent = nullptr);
    ~FinestraTraffico() override;

    // Asks for a file through the file dialog and writes the record to it.
    void salva();
    // Writes the record as it is now to percorso, in the background; tells the operator if it
    // cannot.
    void salvaIn(const QString &percorso);
    void pulisci();
    // The line whose requests the window shows: its rows are taken in at the start of a pause
    // or when a request ends, never where they would hold back the next phase.
    void seguiLinea(Sequenziatore &sequenziatore);
    // The lines of giro's sockets, each shown by its device, those to come too, until giro
    // ends. giro lives in the window's thread.
    void aggiungiLinee(GiroPosti *giro);
    // The record shown, the panel's or a line's; Pulisci and Salva act on it.
    const RegistroTraffico &registroMostrato() const { return *m_registro; }

signals:
    void salvataggioFinito(bool riuscito);

protected:
    void showEvent(QShowEvent *evento) override;
    void hideEvent(QHideEvent *evento) override;

private:
    void aggiorna();
    void aggiornaSeServe();
    void finisciSalvataggio(const QString &percorso, const QString &errore);
    void aggiungiLinea(GiroPosti *giro, int linea);
    void lineeFinite(QObject *giro);
    // Row 0 is the panel's record, row n the nth of m_linee.
    void mostra(int scelta);

    // A line in the choice: its GiroPosti is told apart by address, as it ends too.
    struct LineaMostrata
    {
        QObject *giro;
        RegistroTraffico *registro;
    };

    RegistroTraffico &m_pannello;
    RegistroTraffico *m_registro;
    QList<LineaMostrata> m_linee;
    QWidget *m_rigaScelta;
    QComboBox *m_scelta;
    ModelloTraffico m_modello;
    QTableView *m_tabella;
    QLabel *m_stato;
    Ridisegno m_aggiornamento;
    QElapsedTimer m_dallUltimoAggiornamento;
    quint32 m_ultimaRichiestaMostrata = 0;
    QPointer<QThread> m_salvataggio;
};
