#pragma once

#include "modello_traffico.h"

#include <QTimer>
#include <QWidget>

class QLabel;
class QTableView;
class RegistroTraffico;

// The "Traffico" window: the record as a table that follows the newest row unless the operator
// has scrolled away from it, emptied by "Pulisci", saved as CSV by "Salva…".
class FinestraTraffico : public QWidget
{
    Q_OBJECT

public:
    explicit FinestraTraffico(RegistroTraffico &registro, QWidget *parent = nullptr);

    // Asks for a file through the file dialog and writes the record to it.
    void salva();
    // Writes the record to percorso; false, after telling the operator why, if it cannot.
    bool salvaIn(const QString &percorso);
    void pulisci();

protected:
    void showEvent(QShowEvent *evento) override;
    void hideEvent(QHideEvent *evento) override;

private:
    void aggiorna();

    RegistroTraffico &m_registro;
    ModelloTraffico m_modello;
    QTableView *m_tabella;
    QLabel *m_stato;
    QTimer m_aggiornamento;
};
