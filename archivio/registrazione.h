#pragma once

#include "archivio.h"

#include <QString>

struct RisultatoRichiesta;
class ModelloTabella;

// The rounds of a bench as runs of the archive: each round of the rows is one run of the unit,
// each row read one reading of it, committed as it ends. Where the file cannot be written the
// reading goes on: the failure is kept, said once, and the run goes unrecorded.
class RegistrazioneProve
{
public:
    struct Chi
    {
        QString stazione;
        QString operatore;
        QString unita;
        QString banco; // the bench file's name
        QString shaBanco;
        QString linea;
        QString shaRighe;
        QString posto; // the fixture's socket; empty for a bench without sockets
        QString campione; // a reference unit: the outcome it must give
        bool senzaCampioni = false; // read before the references proved the bench
    };

    RegistrazioneProve(Archivio &archivio, const ModelloTabella &modello, const Chi &chi);

    // A round begins: a run of its own, from the start of its first request.
    bool inizia(const QDateTime &inizio);
    // Row n was read (its state in the model is this reading's).
    void lettura(int n, const RisultatoRichiesta &risultato);
    // The round ended, or was stopped before its last row. A round that ended early without
    // being stopped judged only part of the unit: it is an error, never conforme. Returns the
    // outcome, judged from the rows read whether or not the file took it.
    QString finisci(bool interrotta, bool incompleta = false);

    bool inCorso() const { return !m_prova.uuid.isEmpty(); }
    const ProvaArchiviata &prova() const { return m_prova; }
    const ProvaArchiviata &ultima() const { return m_ultima; }
    // The first failure of the file, empty while none.
    QString errore() const { return m_errore; }

    // The outcome of a round from its rows' states: an error before no answer before a value
    // out of limits.
    static QString esito(bool errore, bool senzaRisposta, bool fuoriDaiLimiti);

private:
    bool fallita();

    Archivio &m_archivio;
    const ModelloTabella &m_modello;
    Chi m_chi;
    ProvaArchiviata m_prova;
    ProvaArchiviata m_ultima;
    bool m_conErrori = false;
    bool m_senzaRisposta = false;
    bool m_fuori = false;
    QString m_errore;
};
