#include "registrazione.h"

#include "modello_tabella.h"
#include "registro_traffico.h"

RegistrazioneProve::RegistrazioneProve(
    Archivio &archivio, const ModelloTabella &modello, const Chi &chi)
    : m_archivio(archivio)
    , m_modello(modello)
    , m_chi(chi)
{ }

QString RegistrazioneProve::esito(bool errore, bool senzaRisposta, bool fuoriDaiLimiti)
{
    if (errore)
        return Esiti::kErrore;
    if (senzaRisposta)
        return Esiti::kSenzaRisposta;
    return fuoriDaiLimiti ? Esiti::kNonConforme : Esiti::kConforme;
}

bool RegistrazioneProve::fallita()
{
    if (m_errore.isEmpty())
        m_errore = m_archivio.errore();
    m_prova = {};
    return false;
}

bool RegistrazioneProve::inizia(const QDateTime &inizio)
{
    m_prova = {};
    m_prova.inizio = inizio;
    m_prova.stazione = m_chi.stazione;
    m_prova.operatore = m_chi.operatore;
    m_prova.unita = m_chi.unita;
    m_prova.banco = m_chi.banco;
    m_prova.shaBanco = m_chi.shaBanco;
    m_prova.shaRighe = m_chi.shaRighe;
    m_prova.linea = m_chi.linea;
    m_prova.posto = m_chi.posto;
    m_prova.campione = m_chi.campione;
    m_prova.senzaCampioni = m_chi.senzaCampioni;
    m_conErrori = m_senzaRisposta = m_fuori = false;
    if (!m_archivio.iniziaProva(m_prova))
        return fallita();
    return true;
}

void RegistrazioneProve::lettura(int n, const RisultatoRichiesta &r)
{
    using Stato = ModelloTabella::StatoRiga;
    const Stato stato = m_modello.stato(n);
    m_conErrori = m_conErrori || stato == Stato::Errore;
    m_senzaRisposta = m_senzaRisposta || stato == Stato::NessunaRisposta;
    m_fuori = m_fuori || stato == Stato::FuoriDaiLimiti;
    if (!inCorso())
        return;
    const RigaBanco &riga = m_modello.riga(n);
    LetturaArchiviata l;
    l.n = n;
    l.nome = riga.nomeMostrato();
    l.strumento = riga.strumento;
    l.memoria = riga.testoMemoria();
    l.unitaMisura = riga.unita;
    if (r.esito == RisultatoRichiesta::Esito::Risposta && r.valore) {
        l.parola = *r.valore;
        l.valore = riga.comeNumero(*r.valore);
        l.valoreMostrato = riga.valoreConUnita(*r.valore);
    }
    l.minimo = riga.minimo;
    l.massimo = riga.massimo;
    l.atteso = riga.atteso;
    l.stato = m_modello.testoStato(n);
    l.giudizio = stato == Stato::FuoriDaiLimiti ? LetturaArchiviata::Giudizio::FuoriDaiLimiti
        : stato == Stato::NessunaRisposta       ? LetturaArchiviata::Giudizio::SenzaRisposta
        : stato == Stato::Errore                ? LetturaArchiviata::Giudizio::Errore
                                                : LetturaArchiviata::Giudizio::Buona;
    if (r.latenzaUs)
        l.latenzaMs = *r.latenzaUs / 1000.0;
    l.istante = r.inizio;
    if (!m_archivio.registraLettura(m_prova.uuid, l))
        fallita();
}

QString RegistrazioneProve::finisci(bool interrotta, bool incompleta)
{
    const QString fine = interrotta ? Esiti::kInterrotta
                                    : esito(m_conErrori || incompleta, m_senzaRisposta, m_fuori);
    if (!inCorso())
        return fine;
    if (!m_archivio.finisciProva(m_prova.uuid, fine)) {
        fallita();
        return fine;
    }
    m_ultima = m_prova;
    m_ultima.esito = fine;
    m_prova = {};
    return fine;
}
