#pragma once

#include "modello_traffico.h"

#include "ridisegno.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

class QThread;
class QLabel;
class QTableView;
class RegistroTraffico;
class Sequenziatore;

// The "Traffico" window: the record as a table that follows the newest row unless the operator
// has scrolled away from it, emptied by "Pulisci", saved as CSV by "Salva…".
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

signals:
    void salvataggioFinito(bool riuscito);

protected:
    void showEvent(QShowEvent *evento) override;
    void hideEvent(QHideEvent *evento) override;

private:
    void aggiorna();
    void aggiornaSeServe();
    void finisciSalvataggio(const QString &percorso, const QString &errore);

    RegistroTraffico &m_registro;
    ModelloTraffico m_modello;
    QTableView *m_tabella;
    QLabel *m_stato;
    Ridisegno m_aggiornamento;
    QElapsedTimer m_dallUltimoAggiornamento;
    quint32 m_ultimaRichiestaMostrata = 0;
    QPointer<QThread> m_salvataggio;
};
