#include "archivio_banco.h"

#include "campioni.h"
#include "testi_ammessi.h"

#include <QDir>

namespace RigaDiComando {
namespace {

// "1 prova aspetta", "3 prove aspettano".
QString provePrima(qint64 quante, const char *singolare, const char *plurale)
{
    return quante == 1 ? QStringLiteral("1 prova %1").arg(QLatin1String(singolare))
                       : QStringLiteral("%1 prove %2").arg(QString::number(quante), QLatin1String(plurale));
}

// How long the end of a bench waits for the server to take its runs; past that they wait in
// the file, and go with the next run or --invia. Nothing on a run's path waits on the server.
constexpr int kAttesaServerMs = 500;
// A reason inside a sentence of ours, and one that ends a sentence.
QString senzaPunto(QString testo)
{
    while (testo.endsWith(u'.'))
        testo.chop(1);
    return testo;
}

QString conPunto(const QString &testo)
{
    return senzaPunto(testo) + u'.';
}

// How long the end waits for the reports and labels still on their way.
constexpr int kAttesaTracciabilitaMs = 60000;

} // namespace

ArchivioDelBanco::ArchivioDelBanco(const OpzioniArchivio &opzioni)
    : m_opzioni(opzioni)
{ }

bool ArchivioDelBanco::apri()
{
    QString motivo;
    m_archivio = Archivio::apriLocale(m_opzioni.dove.file, &motivo);
    if (!m_archivio) {
        m_erroreArchivio = motivo;
        RigaDiComando::errore(motivo + QStringLiteral(" Le letture non vengono registrate."));
        return false;
    }
    if (m_opzioni.dove.server) {
        m_inoltro = std::make_unique<Inoltro>(m_opzioni.dove.file, *m_opzioni.dove.server);
        connect(m_inoltro.get(), &Inoltro::statoCambiato, this, [this](const StatoInoltro &stato) {
            m_inviate += stato.inviate;
            m_inAttesa = stato.inAttesa;
            m_erroreServer = stato.errore;
            m_messeDaParte = stato.messeDaParte;
            m_motivoScarto = stato.motivoScarto;
        });
        // What waits goes now, then after each run and every 30 s, for a bench read slowly.
        m_inoltro->avvia();
    }
    const ConfigurazioneTracciabilita &tr = m_opzioni.tracciabilita;
    if (!tr.cartellaRapporti.isEmpty() || tr.etichetta) {
        m_tracciabilita = std::make_unique<Tracciabilita>(tr, [this] { return m_archivio.get(); });
        connect(m_tracciabilita.get(), &Tracciabilita::rapporto, this,
            [](const QString &, const QString &percorso, const QString &errore) {
                if (errore.isEmpty())
                    RigaDiComando::errore(QStringLiteral("rapporto PDF: %1.")
                                              .arg(QDir::toNativeSeparators(percorso)));
                else
                    RigaDiComando::errore(QStringLiteral("rapporto PDF non scritto: %1 La prova "
                                                         "resta registrata, e il rapporto si "
                                                         "scrive dopo con banco-richiesta --pdf.")
                                              .arg(conPunto(errore)));
            });
        connect(m_tracciabilita.get(), &Tracciabilita::etichetta, this,
            [](const QString &uuid, bool riuscita, const QString &motivo, bool inRitardo) {
                if (inRitardo)
                    RigaDiComando::errore(QStringLiteral("l'etichetta della prova %1 è stata "
                                                         "stampata in ritardo, dopo l'avviso.")
                                              .arg(uuid));
                else if (!riuscita)
                    RigaDiComando::errore(QStringLiteral("etichetta non stampata: %1 "
                                                         "(banco-richiesta --ristampa %2).")
                                              .arg(senzaPunto(motivo), uuid));
            });
    }
    return true;
}

bool ArchivioDelBanco::ammetti(RegistrazioneProve::Chi &chi)
{
    const RegolaCampioni &regola = m_opzioni.tracciabilita.campioni;
    if (!regola.attiva())
        return true;
    if (const std::optional<Campione> campione = regola.campione(chi.unita)) {
        chi.campione = campione->esito;
        return true;
    }
    if (m_opzioni.senzaCampioni) {
        chi.senzaCampioni = true;
        return true;
    }
    const QString dove = chi.posto.isEmpty() ? QString()
                                             : QStringLiteral("posto %1: ").arg(chi.posto);
    const std::optional<Campioni::Stato> stato = m_archivio
        ? Campioni::statoNellArchivio(*m_archivio, regola, chi.stazione, chi.shaRighe, chi.posto)
        : std::nullopt;
    if (!stato) {
        RigaDiComando::errore(QStringLiteral("%1l'unità %2 non è stata provata: i campioni del "
                                             "banco non si possono controllare (%3); "
                                             "--senza-campioni la prova lo stesso. Nulla è stato "
                                             "inviato.")
                                  .arg(dove, TestiAmmessi::mostrabile(chi.unita),
                                      m_archivio ? m_archivio->errore() : m_erroreArchivio));
        return false;
    }
    if (stato->pronto())
        return true;
    RigaDiComando::errore(QStringLiteral("%1l'unità %2 non è stata provata: %3 Per provarla lo "
                                         "stesso, --senza-campioni. Nulla è stato inviato.")
                              .arg(dove, TestiAmmessi::mostrabile(chi.unita),
                                  Campioni::testoAttesa(*stato)));
    return false;
}

std::unique_ptr<RegistrazioneProve> ArchivioDelBanco::registrazione(
    const ModelloTabella &modello, const RegistrazioneProve::Chi &chi)
{
    if (!m_archivio)
        return nullptr;
    return std::make_unique<RegistrazioneProve>(*m_archivio, modello, chi);
}

void ArchivioDelBanco::provaFinita(const RegistrazioneProve &registrazione)
{
    if (registrazione.errore().isEmpty())
        ++m_registrate;
    if (m_tracciabilita && registrazione.errore().isEmpty())
        m_tracciabilita->provaFinita(registrazione.ultima().uuid);
    if (m_inoltro)
        m_inoltro->inviaOra();
}

bool ArchivioDelBanco::riassunto(
    const RegistrazioneProve *ultima, const QList<const RegistrazioneProve *> &tutte)
{
    if (!m_opzioni.registra)
        return true;
    if (m_tracciabilita && !m_tracciabilita->attendi(kAttesaTracciabilitaMs))
        RigaDiComando::errore(QStringLiteral("rapporti o etichette non ancora finiti dopo un "
                                             "minuto: il programma non li aspetta più."));
    if (m_erroreArchivio.isEmpty()) {
        for (const RegistrazioneProve *r : tutte) {
            if (r && !r->errore().isEmpty()) {
                m_erroreArchivio = r->errore();
                RigaDiComando::errore(m_erroreArchivio
                    + QStringLiteral(" Le letture sono state stampate ma non registrate."));
                break;
            }
        }
    }
    if (m_erroreArchivio.isEmpty() && ultima && !ultima->ultima().uuid.isEmpty()) {
        const ProvaArchiviata &u = ultima->ultima();
        RigaDiComando::errore(
            QStringLiteral("archivio %1: %2; l'ultima, tentativo %3 dell'unità %4: %5.")
                .arg(m_archivio->descrizione(),
                    m_registrate == 1 ? QStringLiteral("1 prova registrata")
                                      : QStringLiteral("%1 prove registrate").arg(m_registrate),
                    QString::number(u.tentativo), TestiAmmessi::mostrabile(u.unita), u.esito));
    }
    if (m_inoltro) {
        // The last run was handed to the sender as it ended: this only waits for it.
        const QString &url = m_opzioni.dove.server->url;
        if (!m_inoltro->attendi(kAttesaServerMs)) {
            const qint64 attesa = m_archivio ? m_archivio->inAttesa() : -1;
            RigaDiComando::errore(
                QStringLiteral("il server %1 non ha risposto entro mezzo secondo: %2 nel "
                               "file della stazione e partiranno alla prossima prova o con "
                               "banco-richiesta --invia.")
                    .arg(url, attesa < 0 ? QStringLiteral("le prove aspettano")
                                         : provePrima(attesa, "aspetta", "aspettano")));
        } else if (!m_erroreServer.isEmpty()) {
            RigaDiComando::errore(QStringLiteral("%1; %2 nel file della stazione e "
                                                 "partiranno alla prossima prova o con "
                                                 "banco-richiesta --invia.")
                                      .arg(m_erroreServer,
                                          provePrima(m_inAttesa, "aspetta", "aspettano")));
        } else {
            RigaDiComando::errore(QStringLiteral("server %1: %2, %3 in attesa.")
                                      .arg(url,
                                          m_inviate == 1 ? QStringLiteral("1 prova inviata")
                                                         : QStringLiteral("%1 prove inviate")
                                                               .arg(m_inviate),
                                          QString::number(m_inAttesa)));
        }
        if (m_messeDaParte > 0) {
            RigaDiComando::errore(QStringLiteral("%1 dal server: %2. Correggere e inviare "
                                                 "di nuovo con banco-richiesta --invia "
                                                 "--riprova.")
                                      .arg(provePrima(m_messeDaParte, "rifiutata e messa da parte",
                                              "rifiutate e messe da parte"),
                                          m_motivoScarto));
        }
    }
    return m_erroreArchivio.isEmpty();
}

void diciCampione(const QString &posto, const QString &unita, const QString &atteso,
    const QString &esito)
{
    if (atteso.isEmpty() || esito.isEmpty())
        return;
    const QString dove = posto.isEmpty() ? QString() : QStringLiteral("posto %1: ").arg(posto);
    if (Esiti::daRipetere(esito)) {
        RigaDiComando::errore(QStringLiteral("%1CAMPIONE DA RIPETERE: la prova del campione %2 è "
                                             "finita %3 e non prova nulla; provarlo di nuovo.")
                                  .arg(dove, TestiAmmessi::mostrabile(unita), esito));
    } else if (esito == atteso) {
        RigaDiComando::errore(QStringLiteral("%1CAMPIONE GIUSTO: il campione %2 doveva risultare "
                                             "%3, ed è risultato così.")
                                  .arg(dove, TestiAmmessi::mostrabile(unita), atteso));
    } else {
        RigaDiComando::errore(QStringLiteral("%1CAMPIONE SBAGLIATO: %2; la produzione resta ferma "
                                             "finché il campione non risulta giusto.")
                                  .arg(dove,
                                      Campioni::testoSbagliato(
                                          {TestiAmmessi::mostrabile(unita), atteso}, esito)));
    }
}

} // namespace RigaDiComando
