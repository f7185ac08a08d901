// A bench of several sockets read at once: each socket's unit on its line, every line printed
// naming its socket, one JUnit suite per socket's round, each round of a unit one run of the
// archive with its socket.

#include "modi.h"

#include "archivio_banco.h"
#include "errore.h"
#include "giro_posti.h"
#include "modello_tabella.h"
#include "rapporto_junit.h"
#include "statistiche.h"
#include "testi_ammessi.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <memory>

namespace RigaDiComando {
namespace {

class ModoPosti : public Modo
{
public:
    explicit ModoPosti(const Opzioni &opzioni)
        : m_opzioni(opzioni)
        , m_giro(*opzioni.banco, QStringLiteral("banco-richiesta"))
        , m_archivio(opzioni.archivio)
    {
        const bool conUnita = std::any_of(opzioni.unitaDeiPosti.cbegin(),
            opzioni.unitaDeiPosti.cend(), [](const QString &u) { return !u.isEmpty(); });
        for (int i = 0; i < m_giro.numeroPosti(); ++i) {
            const PostoBanco &p = m_giro.posti().at(i);
            auto posto = std::make_unique<Posto>();
            posto->unita = opzioni.unitaDeiPosti.value(i);
            // Named units fill their sockets; without any, every socket is read.
            posto->attivo = !conUnita || !posto->unita.isEmpty();
            posto->modello.imposta(*opzioni.banco);
            const qint32 baud = p.baud.value_or(opzioni.banco->baud);
            QList<std::pair<QString, QString>> proprieta{{QStringLiteral("porta"), p.porta},
                {QStringLiteral("baud"), QString::number(baud)},
                {QStringLiteral("impostazioni"),
                    QStringLiteral("%1 8E1 per 0x55, %1 8O1 per il resto").arg(baud)}};
            if (!posto->unita.isEmpty())
                proprieta.append({QStringLiteral("unita"), posto->unita});
            posto->rapporto = std::make_unique<RapportoJUnit>(posto->modello, proprieta);
            posto->rapporto->setPosto(p.nome);
            m_posti.push_back(std::move(posto));
        }
        connect(&m_giro, &GiroPosti::letta, this, &ModoPosti::letta);
        connect(&m_giro, &GiroPosti::terminato, this, &ModoPosti::terminato);
    }

    int esegui() override
    {
        // A serial of another form (the wrong barcode on the box) is refused before anything
        // is sent: nothing is read, printed or recorded.
        bool rifiutate = false;
        for (const auto &posto : m_posti) {
            if (!posto->unita.isEmpty() && !FileBanco::serialeDelBanco(*m_opzioni.banco, posto->unita)) {
                RigaDiComando::errore(
                    QStringLiteral("--unita: «%1»: %2 (la forma attesa è %3); nulla è stato "
                                   "inviato.")
                        .arg(TestiAmmessi::mostrabile(posto->unita), FileBanco::kSerialeEstraneo,
                            m_opzioni.banco->modelloUnita));
                rifiutate = true;
            }
        }
        if (rifiutate)
            return UnitaRifiutata;
        const OpzioniArchivio &a = m_opzioni.archivio;
        if (a.registra) {
            const bool aperto = m_archivio.apri();
            for (int i = 0; i < int(m_posti.size()); ++i) {
                Posto &posto = *m_posti[i];
                if (posto.unita.isEmpty())
                    continue;
                const PostoBanco &p = m_giro.posti().at(i);
                RegistrazioneProve::Chi chi{a.stazione, a.operatore, posto.unita,
                    QFileInfo(m_opzioni.fileBanco).fileName(), m_opzioni.shaBanco,
                    QStringLiteral("%1, %2").arg(p.porta).arg(
                        p.baud.value_or(m_opzioni.banco->baud)),
                    FileBanco::shaRighe(*m_opzioni.banco), p.nome, QString(), false};
                rifiutate = !m_archivio.ammetti(chi) || rifiutate;
                posto.campione = chi.campione;
                if (aperto)
                    posto.registrazione = m_archivio.registrazione(posto.modello, chi);
            }
        }
        // Every socket's unit waits for its socket's reference units: nothing is sent.
        if (rifiutate)
            return UnitaRifiutata;
        if (m_opzioni.formato == Formato::Csv)
            stampa(intestazioneCsvBanco(true));

        QEventLoop ciclo;
        m_ciclo = &ciclo;
        for (int i = 0; i < int(m_posti.size()); ++i) {
            if (m_posti[i]->attivo)
                avvia(i);
        }
        if (inCorso())
            ciclo.exec();
        m_ciclo = nullptr;
        return fine();
    }

    void fermati() override
    {
        m_interrotta = true;
        m_giro.fermaTutti();
    }

    bool lavoroInSospeso() const override { return m_archivio.occupato(); }

private:
    struct Posto
    {
        QString unita;
        QString campione; // a reference unit: the outcome it must give
        bool attivo = false;
        bool inCorso = false;
        bool interrotto = false; // its round was stopped before its last row
        qint64 giri = 0; // rounds begun
        ModelloTabella modello;
        std::unique_ptr<RapportoJUnit> rapporto;
        std::unique_ptr<RegistrazioneProve> registrazione;
        StatisticheRipetizione statistiche;
        QString ultimoErrore; // told once while it repeats
        bool portaPersa = false;
    };

    bool inCorso() const
    {
        return std::any_of(m_posti.cbegin(), m_posti.cend(),
            [](const auto &posto) { return posto->inCorso; });
    }

    void avvia(int i)
    {
        Posto &posto = *m_posti[i];
        QString motivo;
        if (!m_giro.avvia(i, &motivo)) {
            RigaDiComando::errore(QStringLiteral("posto %1: %2").arg(nome(i), motivo));
            posto.inCorso = false;
            posto.portaPersa = true;
            return;
        }
        posto.inCorso = true;
        posto.modello.azzeraLetture();
        ++posto.giri;
    }

    const QString &nome(int i) const { return m_giro.posti().at(i).nome; }

    void letta(int i, int riga, const RisultatoRichiesta &risultato, const QString &descrizione)
    {
        Posto &posto = *m_posti[i];
        if (risultato.esito == RisultatoRichiesta::Esito::Interrotta) {
            posto.interrotto = true;
            return;
        }
        posto.statistiche.aggiungi(risultato);
        segnala(i, risultato, descrizione);
        posto.modello.registra(riga, risultato, descrizione);
        const qint64 giro = posto.giri - 1;
        if (posto.registrazione && !posto.registrazione->inCorso() && riga == 0) {
            if (posto.registrazione->inizia(risultato.inizio)) {
                const ProvaArchiviata &p = posto.registrazione->prova();
                posto.rapporto->aggiungiProprieta(giro,
                    {{QStringLiteral("tentativo"), QString::number(p.tentativo)},
                        {QStringLiteral("prova"), p.uuid}});
            }
        }
        posto.rapporto->aggiungi(giro, riga, risultato, risultato.errore ? descrizione : QString());
        if (posto.registrazione)
            posto.registrazione->lettura(riga, risultato);
        const RigaBanco &r = posto.modello.riga(riga);
        stampa(rigaBanco(m_opzioni.formato, posto.unita, giro, r, posto.modello.testoStato(riga),
            risultato, nome(i), m_giro.posti().at(i).indirizzo(r.strumento)));
        if (posto.registrazione && riga == posto.modello.rowCount() - 1) {
            posto.registrazione->finisci(false);
            m_archivio.provaFinita(*posto.registrazione);
            m_ultima = posto.registrazione.get();
        }
    }

    // Each error on standard error as it happens, naming its socket; the same one again only
    // once another result came between.
    void segnala(int i, const RisultatoRichiesta &risultato, const QString &descrizione)
    {
        Posto &posto = *m_posti[i];
        if (risultato.errore == 0) {
            posto.ultimoErrore.clear();
            if (posto.portaPersa) {
                posto.portaPersa = false;
                RigaDiComando::errore(QStringLiteral("posto %1: il dispositivo %2 risponde di "
                                                     "nuovo: si riprende.")
                                          .arg(nome(i), risultato.dispositivo));
            }
            return;
        }
        posto.portaPersa = erroreDiPorta(risultato.errore);
        const QString messaggio = QStringLiteral("posto %1: errore %2: %3")
                                      .arg(nome(i), QString::number(risultato.errore), descrizione);
        if (messaggio != posto.ultimoErrore)
            RigaDiComando::errore(messaggio);
        posto.ultimoErrore = messaggio;
    }

    void terminato(int i, bool fermato)
    {
        Posto &posto = *m_posti[i];
        posto.inCorso = false;
        // A round is stopped only before its last row.
        posto.interrotto = posto.interrotto || fermato;
        if (posto.registrazione && posto.registrazione->inCorso()) {
            posto.registrazione->finisci(fermato);
            m_archivio.provaFinita(*posto.registrazione);
            m_ultima = posto.registrazione.get();
        }
        const bool ancora = !fermato && !m_interrotta
            && (m_opzioni.ripetizioni == 0 || posto.giri < m_opzioni.ripetizioni);
        if (ancora) {
            QTimer::singleShot(m_opzioni.intervalloMs, this, [this, i] {
                if (!m_interrotta)
                    avvia(i);
                if (!inCorso() && m_ciclo)
                    m_ciclo->quit();
            });
            posto.inCorso = true; // until its next round starts
            return;
        }
        if (!inCorso() && m_ciclo)
            m_ciclo->quit();
    }

    // The exit status: the worst of the sockets'.
    int fine()
    {
        QList<std::pair<const RapportoJUnit *, bool>> rapporti;
        QList<const RegistrazioneProve *> registrazioni;
        int uscita = TutteRisposte;
        int fuori = 0;
        for (int i = 0; i < int(m_posti.size()); ++i) {
            const Posto &posto = *m_posti[i];
            if (!posto.attivo)
                continue;
            const StatisticheRipetizione &s = posto.statistiche;
            RigaDiComando::errore(QStringLiteral("posto %1: %2").arg(nome(i), testoRiassunto(s)));
            rapporti.append({posto.rapporto.get(), posto.interrotto || m_interrotta});
            registrazioni.append(posto.registrazione.get());
            fuori += posto.rapporto->fuoriDaiLimiti();
            int delPosto = posto.rapporto->fuoriDaiLimiti() > 0 ? FuoriDaiLimiti : TutteRisposte;
            if (!posto.unita.isEmpty() && posto.interrotto)
                delPosto = uscitaPiuGrave(delPosto, ProvaInterrotta);
            if (s.senzaRisposta() > 0 || s.errori() > 0)
                delPosto = uscitaPiuGrave(delPosto, SenzaRisposta);
            const auto &errori = s.erroriPerNumero();
            if (posto.portaPersa
                || std::any_of(errori.begin(), errori.end(),
                    [](const auto &numero) { return erroreDiPorta(numero.first); }))
                delPosto = uscitaPiuGrave(delPosto, PortaNonDisponibile);
            if (!posto.campione.isEmpty() && posto.registrazione) {
                const QString esito = posto.registrazione->ultima().esito;
                diciCampione(nome(i), posto.unita, posto.campione, esito);
                delPosto = uscitaDelCampione(delPosto, posto.campione, esito);
            }
            uscita = uscitaPiuGrave(uscita, delPosto);
        }
        if (!m_opzioni.rapporto.isEmpty()) {
            QString motivo;
            if (!RapportoJUnit::scrivi(m_opzioni.rapporto, RapportoJUnit::comeXml(rapporti), &motivo)) {
                RigaDiComando::errore(motivo);
                uscita = uscitaPiuGrave(uscita, SenzaRisposta);
            }
        }
        if (!m_archivio.riassunto(m_ultima, registrazioni))
            uscita = uscitaPiuGrave(uscita, ArchivioNonScritto);
        if (fuori > 0) {
            RigaDiComando::errore(fuori == 1
                    ? QStringLiteral("1 lettura fuori dai limiti o diversa dal valore atteso.")
                    : QStringLiteral("%1 letture fuori dai limiti o diverse dal valore atteso.")
                          .arg(fuori));
        }
        return uscita;
    }

    Opzioni m_opzioni;
    GiroPosti m_giro;
    ArchivioDelBanco m_archivio;
    std::vector<std::unique_ptr<Posto>> m_posti;
    const RegistrazioneProve *m_ultima = nullptr;
    QEventLoop *m_ciclo = nullptr;
    bool m_interrotta = false;
};

} // namespace

std::unique_ptr<Modo> modoPosti(const Opzioni &opzioni)
{
    return std::make_unique<ModoPosti>(opzioni);
}

} // namespace RigaDiComando
