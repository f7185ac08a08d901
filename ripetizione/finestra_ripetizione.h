#pragma once

#include <QPointF>
#include <QTimer>
#include <QWidget>

#include <deque>

class QCheckBox;
class QChart;
class QLabel;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QSpinBox;
class QValueAxis;
class RipetizioneRichieste;
struct RisultatoRichiesta;

// "Ripeti": the pause and the count of a repetition, Avvia and Ferma (Esc), its figures as they
// grow, a chart of the value and the latency over time, and the CSV file it writes.
class FinestraRipetizione : public QWidget
{
    Q_OBJECT

public:
    // Points the chart keeps; the whole history is in the CSV file.
    static constexpr size_t kPuntiNelGrafico = 10'000;

    FinestraRipetizione(RipetizioneRichieste &ripetizione, QWidget *parent = nullptr);

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
    void aggiornaGrafico();
    void aggiornaPulsanti();

    RipetizioneRichieste &m_ripetizione;
    QSpinBox *m_pausa;
    QSpinBox *m_quante;
    QCheckBox *m_fermatiAlPrimoErrore;
    QLabel *m_file;
    QPushButton *m_avvia;
    QPushButton *m_ferma;
    QLabel *m_cifre;

    QChart *m_grafico;
    QLineSeries *m_valori;
    QLineSeries *m_latenze;
    QScatterSeries *m_mancate;
    QValueAxis *m_tempo;
    QValueAxis *m_assiValori;
    QValueAxis *m_assiLatenze;
    std::deque<QPointF> m_puntiValori;
    std::deque<QPointF> m_puntiLatenze;
    std::deque<QPointF> m_puntiMancate;
    qint64 m_inizioMs = -1;
    bool m_graficoDaAggiornare = false;
    QTimer m_aggiornamento;
};
