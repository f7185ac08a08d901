#pragma once

#include "ridisegno.h"

#include <QWidget>

class GraficoRipetizione;
class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;
class SequenzaRichieste;
struct RisultatoRichiesta;

// "Ripeti": the pause and the count of a repetition, Avvia and Ferma (Esc), its figures as they
// grow, a chart of the value and the latency over time, and the CSV file it writes.
class FinestraRipetizione : public QWidget
{
    Q_OBJECT

public:
    FinestraRipetizione(SequenzaRichieste &ripetizione, QWidget *parent = nullptr);

    void avvia();
    void ferma();

protected:
    void closeEvent(QCloseEvent *evento) override;

private:
    void scegliFile();
    void aggiungi(const RisultatoRichiesta &risultato);
    void terminata(int errore, const QString &descrizione);
    void azzera();
    void aggiornaCifre();
    void aggiornaPulsanti();

    SequenzaRichieste &m_ripetizione;
    QSpinBox *m_pausa;
    QSpinBox *m_quante;
    QCheckBox *m_fermatiAlPrimoErrore;
    QLabel *m_file;
    QPushButton *m_avvia;
    QPushButton *m_ferma;
    QLabel *m_cifre;
    GraficoRipetizione *m_grafico;
    Ridisegno m_aggiornamento;
};
