#pragma once

#include "registro_traffico.h"
#include "statistiche.h"

#include <QFile>
#include <QObject>
#include <QTimer>

#include <functional>

class Pannello;
class Sequenziatore;

// A sequence of requests through the one sequencer: the panel's request again and again, or
// each request with texts of its own (the rows of a table, one after another), a pause after
// each round. While it runs it owns the sequencer: the operator's clicks are refused and errors
// come here instead of a message box each. A lost port is tried again at every request, so the
// sequence goes on by itself when the adapter comes back under the same name.
class SequenzaRichieste : public QObject
{
    Q_OBJECT

public:
    // After a failed request the next waits at least this long: a port that is missing fails
    // at once, and a pause of 0 would otherwise try it in a busy loop.
    static constexpr int kRiprovaMs = 100;

    struct Impostazioni
    {
        int pausaMs = 0; // after each round
        qint64 quante = 0; // requests; 0: until stopped
        bool fermatiAlPrimoErrore = false;
        qint64 richiestePerGiro = 1;
        // The texts of request n, counting from 0, read as each phase runs; without it, or
        // where it gives none, the panel's.
        std::function<Pannello *(qint64 n)> testi;
        // Bytes that arrive between two requests: to the panel's received text, or to the
        // record only.
        bool fuoriRichiestaAlPannello = true;
    };

    // nome says who holds the line while the sequence runs, as the operator is told ("la
    // ripetizione").
    SequenzaRichieste(Sequenziatore &sequenziatore, RegistroTraffico &registro, const QString &nome,
        QObject *parent = nullptr);
    ~SequenzaRichieste() override;

    // A CSV file of one row per request, written as each request ends. Without one, nothing is
    // written. False, with the reason, if the file cannot be opened.
    bool impostaFileRegistro(const QString &percorso, QString *errore);
    QString fileRegistro() const { return m_file.fileName(); }

    // False, with nothing started, while a request runs or another sequence holds the line.
    bool avvia(const Impostazioni &impostazioni);
    // Who holds the line now, if anyone: "la ripetizione".
    QString occupante() const;
    // What the operator is told when a request is refused because chi holds the line.
    static QString testoOccupata(const QString &chi);
    // Stops at once: a request in flight ends at the end of its current pause.
    void ferma();
    // Stops once the request in flight has ended.
    void fermaDopoLaRichiesta();
    bool inCorso() const { return m_inCorso; }
    // The last sequence ended because someone stopped it, not because it was done.
    bool fermata() const { return m_fermata; }
    // The error of the request just ended, as the sequencer described it; empty without one.
    QString descrizioneErrore() const { return m_ultimoErrore ? m_descrizioneErrore : QString(); }
    Sequenziatore &sequenziatore() { return m_sequenziatore; }

    const StatisticheRipetizione &statistiche() const { return m_statistiche; }
    void azzeraStatistiche() { m_statistiche.azzera(); }

signals:
    // n counts the sequence's requests from 0.
    void risultato(qint64 n, const RisultatoRichiesta &risultato);
    // errore is 0 when the count was reached or the repetition was stopped.
    void terminata(int errore, const QString &descrizione);

private:
    void prossima();
    void finisci(int errore, const QString &descrizione);
    void registraNelFile(const RisultatoRichiesta &risultato);

    Sequenziatore &m_sequenziatore;
    RegistroTraffico &m_registro;
    StatisticheRipetizione m_statistiche;
    QString m_nome;
    Impostazioni m_impostazioni;
    QTimer m_pausa;
    QFile m_file;
    bool m_inCorso = false;
    bool m_fermaDopo = false;
    bool m_fermata = false;
    qint64 m_fatte = 0;
    // Of the sequence running, so that a call queued for another is dropped.
    quint64 m_generazione = 0;
    int m_ultimoErrore = 0;
    QString m_descrizioneErrore;
};
