#pragma once

#include "componente_seriale.h"
#include "opzioni.h"
#include "pannello_testi.h"
#include "riga_banco.h"
#include "registro_traffico.h"
#include "sequenziatore.h"

#include <QObject>

#include <memory>

class SequenzaRichieste;
class StatisticheRipetizione;

namespace RigaDiComando {

// One way banco-richiesta runs: a request or its repetition, a bench, a search, a question to
// the archive.
class Modo : public QObject
{
    Q_OBJECT

public:
    // Runs to the end; the exit status.
    virtual int esegui() = 0;
    // Ctrl+C: the request in flight ends first.
    virtual void fermati() = 0;
    // Work of another thread still going when esegui() has returned (a send to a server that
    // hangs): the program then ends without waiting for it, and what it was sending waits.
    virtual bool lavoroInSospeso() const { return false; }
};

std::unique_ptr<Modo> creaModo(const Opzioni &opzioni);

// What every mode that reads the line shares: the port, the sequencer and the record, and the
// way errors and traffic reach standard error.
class Linea : public Modo
{
    Q_OBJECT

public:
    void fermati() override;

protected:
    explicit Linea(const Opzioni &opzioni);
    virtual SequenzaRichieste &motore() = 0;

    // Runs the sequence started by avvia until it ends, then closes the port; the error.
    int esegui(const std::function<void()> &avvia);
    void stampaTraffico();
    void stampaRiassunto(const StatisticheRipetizione &s);
    // Port errors among the sequence's, or the one it ended with.
    bool portaPersa(int errore);
    // A request ended: the errors told once are told again if they come back, and a port
    // that was lost and answers again is said to be back, once.
    void dopoIlRisultato(const RisultatoRichiesta &risultato);

    Opzioni m_opzioni;
    PannelloDiTesti m_pannello;
    RegistroTraffico m_registro;
    ComponenteSeriale m_comm;
    Sequenziatore m_sequenziatore;
    bool m_interrotta = false;
    QString m_descrizioneErrore; // of the last error, for the report

private:
    void segnalaErrore(int numero, const QString &descrizione);

    quint64 m_primoEvento = 0;
    QString m_ultimoErrore; // told once while it repeats, request after request
    bool m_portaPersa = false; // the last error was the port's
};

// A row read on a bench, as banco-richiesta prints it: posto is the socket's name, empty for a
// bench without sockets; strumento the address the request went to.
QString rigaBanco(Formato formato, const QString &unita, qint64 giro, const RigaBanco &riga,
    const QString &stato, const RisultatoRichiesta &r, const QString &posto, quint16 strumento);
QString intestazioneCsvBanco(bool conPosto);

// "3 richieste: 3 con risposta, …; latenza minima …"
QString testoRiassunto(const StatisticheRipetizione &s);

std::unique_ptr<Modo> modoRichiesta(const Opzioni &opzioni);
std::unique_ptr<Modo> modoPosti(const Opzioni &opzioni);
std::unique_ptr<Modo> modoBanco(const Opzioni &opzioni);
std::unique_ptr<Modo> modoRicerca(const Opzioni &opzioni);
std::unique_ptr<Modo> modoInterrogazione(const Opzioni &opzioni);

// A run's traceability: its digest computed again from each copy, its PDF report, its label
// printed again. Each returns the exit status.
int verificaProva(const OpzioniInterrogazione &domanda);
int rapportoPdf(const OpzioniInterrogazione &domanda);
int ristampaEtichetta(const OpzioniInterrogazione &domanda);

} // namespace RigaDiComando
