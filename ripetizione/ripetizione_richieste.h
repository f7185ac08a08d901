#pragma once

#include "registro_traffico.h"
#include "statistiche.h"

#include <QFile>
#include <QObject>
#include <QTimer>

class Sequenziatore;

// The panel's request sent again and again: the same five phases, reading the panel's texts as
// each phase runs, a pause between one request and the next. While it runs it owns the
// sequencer: the operator's clicks are ignored and errors come here instead of a message box
// each. A lost port is tried again at every request, so the repetition goes on by itself when
// the adapter comes back under the same name.
class RipetizioneRichieste : public QObject
{
    Q_OBJECT

public:
    // After a failed request the next waits at least this long: a port that is missing fails
    // at once, and a pause of 0 would otherwise try it in a busy loop.
    static constexpr int kRiprovaMs = 100;

    struct Impostazioni
    {
        int pausaMs = 0;
        int quante = 0; // 0: until stopped
        bool fermatiAlPrimoErrore = false;
    };

    RipetizioneRichieste(
        Sequenziatore &sequenziatore, RegistroTraffico &registro, QObject *parent = nullptr);
    ~RipetizioneRichieste() override;

    // A CSV file of one row per request, written as each request ends. Without one, nothing is
    // written. False, with the reason, if the file cannot be opened.
    bool impostaFileRegistro(const QString &percorso, QString *errore);
    QString fileRegistro() const { return m_file.fileName(); }

    void avvia(const Impostazioni &impostazioni);
    // Stops at once: a request in flight ends at the end of its current pause.
    void ferma();
    // Stops once the request in flight has ended.
    void fermaDopoLaRichiesta();
    bool inCorso() const { return m_inCorso; }

    const StatisticheRipetizione &statistiche() const { return m_statistiche; }
    void azzeraStatistiche() { m_statistiche.azzera(); }

signals:
    void risultato(const RisultatoRichiesta &risultato);
    // errore is 0 when the count was reached or the repetition was stopped.
    void terminata(int errore, const QString &descrizione);

private:
    void prossima();
    void finisci(int errore, const QString &descrizione);
    void registraNelFile(const RisultatoRichiesta &risultato);

    Sequenziatore &m_sequenziatore;
    RegistroTraffico &m_registro;
    StatisticheRipetizione m_statistiche;
    Impostazioni m_impostazioni;
    QTimer m_pausa;
    QFile m_file;
    bool m_inCorso = false;
    bool m_fermaDopo = false;
    int m_fatte = 0;
    int m_ultimoErrore = 0;
    QString m_descrizioneErrore;
};
