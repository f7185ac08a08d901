// A run's traceability from the command line: its digest computed again from the station's file
// and from the server, its PDF report, its label printed again.

#include "modi.h"

#include "archivio.h"
#include "rapporto.h"
#include "scrittore_rapporti.h"
#include "stampante.h"
#include "tracciabilita.h"

#include <QDir>
#include <QFileInfo>

namespace RigaDiComando {

namespace {

// The station's file, which must be there: a question about one run never makes a new one.
std::unique_ptr<Archivio> fileDellaStazione(const Destinazione::Scelta &dove)
{
    if (!QFileInfo::exists(dove.file)) {
        errore(QStringLiteral("l'archivio %1 non esiste: indicare il file della stazione con "
                              "--archivio FILE.")
                   .arg(QDir::toNativeSeparators(dove.file)));
        return nullptr;
    }
    QString motivo;
    std::unique_ptr<Archivio> archivio = Archivio::apriLocale(dove.file, &motivo);
    if (!archivio)
        errore(motivo);
    return archivio;
}

// The run of the station's file, as it ended: nothing, with the reason told and the exit status
// in uscita, for a run not there, still going on or changed after its end (what would follow from
// it, "nessun rapporto è stato scritto", completes the refusal).
std::optional<ProvaCompleta> provaFinita(
    Archivio &archivio, const QString &uuid, const QString &cheNonSiFa, int &uscita)
{
    const std::optional<ProvaCompleta> prova = archivio.provaCompleta(uuid);
    uscita = ArchivioNonScritto;
    if (!prova) {
        errore(archivio.errore());
        return std::nullopt;
    }
    uscita = OpzioneNonValida;
    if (prova->prova.uuid.isEmpty()) {
        errore(QStringLiteral("la prova %1 non è nel file della stazione %2: controllare "
                              "l'identificativo (banco-richiesta --storico lo stampa).")
                   .arg(uuid, archivio.descrizione()));
        return std::nullopt;
    }
    if (prova->prova.fine.isNull()) {
        errore(QStringLiteral("la prova %1 è ancora in corso: %2.").arg(uuid, cheNonSiFa));
        return std::nullopt;
    }
    // A report or a label attests the run as it ended: not one changed since.
    if (!prova->prova.impronta.isEmpty()
        && improntaDellaProva(*prova) != prova->prova.impronta) {
        errore(QStringLiteral("la prova %1 è stata cambiata dopo la sua fine (la sua impronta "
                              "non è più quella registrata): %2. banco-richiesta --verifica %1 "
                              "dice di più.")
                   .arg(uuid, cheNonSiFa));
        uscita = ArchivioDanneggiato;
        return std::nullopt;
    }
    return prova;
}

// What one copy of the run says: its digest computed now against the one stored with its end.
struct Copia
{
    QString dove;
    QString ricalcolata;
    QString registrata;
};

} // namespace

int verificaProva(const OpzioniInterrogazione &domanda)
{
    QList<Copia> copie;
    bool letta = false;
    // With a server, a machine that is not a station has no file of its own: the server's copy
    // is verified alone.
    const bool conFile = !domanda.dove.server || QFileInfo::exists(domanda.dove.file);
    if (const std::unique_ptr<Archivio> locale = conFile ? fileDellaStazione(domanda.dove) : nullptr) {
        const std::optional<ProvaCompleta> prova = locale->provaCompleta(domanda.prova);
        if (!prova) {
            errore(locale->errore());
            return ArchivioNonScritto;
        }
        letta = true;
        if (!prova->prova.uuid.isEmpty())
            copie.append({QStringLiteral("file della stazione"), improntaDellaProva(*prova),
                prova->prova.impronta});
    }
    if (domanda.dove.server) {
        QString motivo;
        const std::unique_ptr<Archivio> server
            = Archivio::apriServer(*domanda.dove.server, &motivo);
        std::optional<ProvaCompleta> prova;
        if (server)
            prova = server->provaCompleta(domanda.prova);
        if (!prova) {
            errore(QStringLiteral("%1: la copia del server non è stata verificata.")
                       .arg(server ? server->errore() : motivo));
        } else {
            letta = true;
            if (!prova->prova.uuid.isEmpty())
                copie.append({QStringLiteral("server"), improntaDellaProva(*prova),
                    prova->prova.impronta});
            else if (!copie.isEmpty())
                errore(QStringLiteral("la prova non è ancora sul server: parte con la prossima "
                                      "prova o con banco-richiesta --invia."));
        }
    }
    if (!letta)
        return ArchivioNonScritto;
    if (copie.isEmpty()) {
        errore(QStringLiteral("la prova %1 non è nell'archivio: controllare l'identificativo "
                              "(banco-richiesta --storico lo stampa) e il file di --archivio.")
                   .arg(domanda.prova));
        return OpzioneNonValida;
    }

    int uscita = TutteRisposte;
    stampa(copie.first().ricalcolata);
    for (const Copia &c : std::as_const(copie)) {
        if (c.registrata.isEmpty()) {
            stampa(QStringLiteral("%1: la prova non ha un'impronta registrata (archiviata prima "
                                  "che le prove la tenessero): non si può verificare.")
                       .arg(c.dove));
            uscita = ArchivioDanneggiato;
        } else if (c.ricalcolata == c.registrata) {
            stampa(QStringLiteral("%1: %2, uguale all'impronta registrata alla fine della prova.")
                       .arg(c.dove, c.ricalcolata));
        } else {
            stampa(QStringLiteral("%1: %2, DIVERSA dall'impronta registrata alla fine della prova "
                                  "(%3): la prova è stata cambiata dopo la sua fine.")
                       .arg(c.dove, c.ricalcolata, c.registrata));
            uscita = ArchivioDanneggiato;
        }
    }
    if (copie.size() == 2) {
        if (copie[0].ricalcolata == copie[1].ricalcolata) {
            stampa(QStringLiteral("le copie del file della stazione e del server sono uguali."));
        } else {
            stampa(QStringLiteral("le copie del file della stazione e del server sono DIVERSE."));
            uscita = ArchivioDanneggiato;
        }
    }
    if (uscita != TutteRisposte)
        errore(QStringLiteral("la prova %1 non supera la verifica.").arg(domanda.prova));
    return uscita;
}

int rapportoPdf(const OpzioniInterrogazione &domanda)
{
    const std::unique_ptr<Archivio> archivio = fileDellaStazione(domanda.dove);
    if (!archivio)
        return ArchivioNonScritto;
    int uscita = TutteRisposte;
    const std::optional<ProvaCompleta> prova = provaFinita(
        *archivio, domanda.prova, QStringLiteral("nessun rapporto è stato scritto"), uscita);
    if (!prova)
        return uscita;
    const QString percorso = QFileInfo(domanda.uscita.isEmpty()
            ? nomeFileRapporto(prova->prova)
            : domanda.uscita)
                                 .absoluteFilePath();
    QStringList errori;
    if (!ScrittoreRapporti::scriviSubito({{contenutoRapporto(*prova), percorso}}, &errori)) {
        errore(QStringLiteral("rapporto PDF non scritto: %1").arg(errori.value(0)));
        return ArchivioNonScritto;
    }
    stampa(QDir::toNativeSeparators(percorso));
    return TutteRisposte;
}

int ristampaEtichetta(const OpzioniInterrogazione &domanda)
{
    const std::unique_ptr<Archivio> archivio = fileDellaStazione(domanda.dove);
    if (!archivio)
        return ArchivioNonScritto;
    int uscita = TutteRisposte;
    if (!provaFinita(*archivio, domanda.prova,
            QStringLiteral("l'etichetta non è stata ristampata"), uscita))
        return uscita;
    const std::optional<QList<StampaEtichetta>> stampe = archivio->stampe(domanda.prova);
    if (!stampe) {
        errore(archivio->errore());
        return ArchivioNonScritto;
    }
    if (stampe->isEmpty()) {
        errore(QStringLiteral("per la prova %1 non è stata stampata nessuna etichetta nel file "
                              "della stazione %2: l'etichetta va solo alle unità di produzione "
                              "conformi di un banco con \"etichetta\".")
                   .arg(domanda.prova, archivio->descrizione()));
        return OpzioneNonValida;
    }
    StampaEtichetta ristampa = stampe->last();
    ristampa.uuid.clear();
    ristampa.quando = {};
    ristampa.ristampa = true;
    QString motivo;
    ristampa.riuscita = Stampante::stampaSubito(ristampa.stampante, ristampa.zpl, &motivo);
    ristampa.motivo = motivo;
    const bool registrata = archivio->registraStampa(ristampa);
    if (!registrata)
        errore(archivio->errore());
    if (!ristampa.riuscita) {
        errore(QStringLiteral("etichetta non stampata: %1.").arg(motivo));
        return SenzaRisposta;
    }
    stampa(QStringLiteral("etichetta della prova %1 ristampata su %2.")
               .arg(domanda.prova, ristampa.stampante));
    return registrata ? TutteRisposte : ArchivioNonScritto;
}

} // namespace RigaDiComando
