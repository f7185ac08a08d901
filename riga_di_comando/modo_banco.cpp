// A bench read round by round: one line per row read, a JUnit report, and each round of a unit
// kept in the archive as one of its runs.

#include "modi.h"

#include "archivio_banco.h"
#include "errore.h"
#include "lettura_tabella.h"
#include "modello_tabella.h"
#include "rapporto_junit.h"
#include "registrazione.h"
#include "sequenza_richieste.h"
#include "statistiche.h"
#include "testi_ammessi.h"
#include "testi_traffico.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace RigaDiComando {

QString rigaBanco(Formato formato, const QString &unita, qint64 giro, const RigaBanco &riga,
    const QString &stato, const RisultatoRichiesta &r, const QString &posto, quint16 strumento)
{
    const bool letta = r.esito == RisultatoRichiesta::Esito::Risposta && r.valore;
    const QString parola = letta ? parolaEsadecimale(*r.valore) : QString();
    const QString valore = letta ? riga.valore(*r.valore) : QString();
    const QString latenza
        = r.latenzaUs ? QString::number(*r.latenzaUs / 1000.0, 'f', 3) : QString();
    switch (formato) {
    case Formato::Testo: {
        QString testo = posto.isEmpty() ? QString() : QStringLiteral("posto %1; ").arg(posto);
        if (!unita.isEmpty())
            testo += QStringLiteral("unità %1; ").arg(unita);
        return testo
            + QStringLiteral("giro %1; %2; strumento %3; memoria %4; parola %5; valore %6; %7")
                  .arg(giro + 1)
                  .arg(riga.nomeMostrato())
                  .arg(strumento)
                  .arg(riga.testoMemoria(), letta ? parola : QStringLiteral("-"),
                      letta ? riga.valoreConUnita(*r.valore) : QStringLiteral("-"), stato);
    }
    case Formato::Csv: {
        QStringList campi{unita, QString::number(giro + 1), riga.nomeMostrato(),
            QString::number(strumento), riga.testoMemoria(), parola, valore, riga.unita, stato,
            r.inizio.toString(Qt::ISODateWithMs), latenza};
        if (!posto.isEmpty())
            campi.append(posto);
        return QString::fromUtf8(TestiTraffico::lineaCsv(campi).chopped(2));
    }
    case Formato::Json:
        break;
    }
    QJsonObject oggetto{
        {"unita_in_prova", unita.isEmpty() ? QJsonValue() : QJsonValue(unita)},
        {"giro", double(giro + 1)},
        {"nome", riga.nomeMostrato()},
        {"strumento", double(strumento)},
        {"memoria", riga.testoMemoria()},
        {"parola", letta ? QJsonValue(parola) : QJsonValue()},
        {"valore", letta ? QJsonValue(riga.comeNumero(*r.valore)) : QJsonValue()},
        {"valore_mostrato", letta ? QJsonValue(riga.valoreConUnita(*r.valore)) : QJsonValue()},
        {"unita", riga.unita},
        {"stato", stato},
        {"inizio", r.inizio.toString(Qt::ISODateWithMs)},
        {"latenza_ms", r.latenzaUs ? QJsonValue(*r.latenzaUs / 1000.0) : QJsonValue()},
    };
    if (!posto.isEmpty())
        oggetto.insert(QStringLiteral("posto"), posto);
    return QString::fromUtf8(QJsonDocument(oggetto).toJson(QJsonDocument::Compact));
}

QString intestazioneCsvBanco(bool conPosto)
{
    QStringList colonne{"unita_in_prova", "giro", "nome", "strumento", "memoria", "parola",
        "valore", "unita", "stato", "inizio", "latenza_ms"};
    if (conPosto)
        colonne.append(QStringLiteral("posto"));
    return QString::fromUtf8(TestiTraffico::lineaCsv(colonne).chopped(2));
}

namespace {

class ModoBanco : public Linea
{
public:
    explicit ModoBanco(const Opzioni &opzioni)
        : Linea(opzioni)
    {
        m_modello.imposta(*opzioni.banco);
        m_lettura = std::make_unique<LetturaTabella>(m_modello, m_sequenziatore, m_registro);
        connect(m_lettura.get(), &LetturaTabella::letta, this, &ModoBanco::stampaLettura);
        const QString linea
            = QStringLiteral("%1, %2").arg(opzioni.banco->porta).arg(opzioni.banco->baud);
        QList<std::pair<QString, QString>> proprieta{
            {QStringLiteral("porta"), opzioni.banco->porta},
            {QStringLiteral("baud"), QString::number(opzioni.banco->baud)},
            {QStringLiteral("impostazioni"),
                QStringLiteral("%1 8E1 per 0x55, %1 8O1 per il resto").arg(opzioni.banco->baud)}};
        if (!opzioni.unita.isEmpty())
            proprieta.append({QStringLiteral("unita"), opzioni.unita});
        // A serial of another form (the wrong barcode on the box) is refused before anything
        // is sent: nothing is read, printed or recorded.
        m_unitaRifiutata = !opzioni.unita.isEmpty()
            && !FileBanco::serialeDelBanco(*opzioni.banco, opzioni.unita);
        const OpzioniArchivio &a = opzioni.archivio;
        if (a.registra && !m_unitaRifiutata) {
            proprieta.append({QStringLiteral("stazione"), a.stazione});
            proprieta.append({QStringLiteral("operatore"), a.operatore});
            apriArchivio(linea);
        }
        m_rapporto = std::make_unique<RapportoJUnit>(m_modello, proprieta);
    }

    int esegui() override
    {
        if (m_unitaRifiutata) {
            RigaDiComando::errore(QStringLiteral("--unita: «%1»: %2 (la forma attesa è %3); "
                                                 "nulla è stato inviato.")
                                      .arg(TestiAmmessi::mostrabile(m_opzioni.unita),
                                          FileBanco::kSerialeEstraneo,
                                          m_opzioni.banco->modelloUnita));
            return UnitaRifiutata;
        }
        // A production unit before the bench's reference units proved it: told already.
        if (m_campioniMancanti)
            return UnitaRifiutata;
        if (m_opzioni.formato == Formato::Csv)
            stampa(intestazioneCsvBanco(false));
        int errore = Linea::esegui([this] {
            m_lettura->avvia(
                m_opzioni.ripetizioni, m_opzioni.intervalloMs, m_opzioni.fermatiAlPrimoErrore);
        });
        // A unit's round stopped before its last row judged only part of it.
        const bool provaInterrotta = !m_opzioni.unita.isEmpty() && m_interrotta
            && (m_richiestaInterrotta || (m_registrazione && m_registrazione->inCorso()));
        if (m_registrazione)
            m_registrazione->finisci(m_interrotta);
        const StatisticheRipetizione &s = motore().statistiche();
        if (m_opzioni.ripetizioni != 1 || s.inviate() != 1)
            stampaRiassunto(s);
        if (!m_opzioni.rapporto.isEmpty()) {
            QString motivo;
            if (!m_rapporto->scrivi(m_opzioni.rapporto, m_interrotta, &motivo)) {
                RigaDiComando::errore(motivo);
                errore = errore ? errore : int(CodiceErrore::ScritturaNonRiuscita);
            }
        }
        const bool archivioFallito
            = !m_archivio.riassunto(m_registrazione.get(), {m_registrazione.get()});
        int uscita = TutteRisposte;
        if (m_rapporto->fuoriDaiLimiti() > 0) {
            RigaDiComando::errore(m_rapporto->fuoriDaiLimiti() == 1
                    ? QStringLiteral("1 lettura fuori dai limiti o diversa dal valore atteso.")
                    : QStringLiteral("%1 letture fuori dai limiti o diverse dal valore atteso.")
                          .arg(m_rapporto->fuoriDaiLimiti()));
            uscita = FuoriDaiLimiti;
        }
        if (archivioFallito)
            uscita = uscitaPiuGrave(uscita, ArchivioNonScritto);
        if (provaInterrotta)
            uscita = uscitaPiuGrave(uscita, ProvaInterrotta);
        if (errore || s.senzaRisposta() > 0 || s.errori() > 0)
            uscita = uscitaPiuGrave(uscita, SenzaRisposta);
        if (portaPersa(errore))
            uscita = uscitaPiuGrave(uscita, PortaNonDisponibile);
        if (!m_campione.isEmpty() && m_registrazione) {
            const QString esito = m_registrazione->ultima().esito;
            diciCampione({}, m_opzioni.unita, m_campione, esito);
            uscita = uscitaDelCampione(uscita, m_campione, esito);
        }
        return uscita;
    }

    bool lavoroInSospeso() const override { return m_archivio.occupato(); }

protected:
    SequenzaRichieste &motore() override { return m_lettura->motore(); }

private:
    void apriArchivio(const QString &linea)
    {
        const OpzioniArchivio &a = m_opzioni.archivio;
        const bool aperto = m_archivio.apri();
        RegistrazioneProve::Chi chi{a.stazione, a.operatore, m_opzioni.unita,
            QFileInfo(m_opzioni.fileBanco).fileName(), m_opzioni.shaBanco, linea,
            FileBanco::shaRighe(*m_opzioni.banco), QString(), QString(), false};
        if (!m_archivio.ammetti(chi)) {
            m_campioniMancanti = true;
            return;
        }
        m_campione = chi.campione;
        if (aperto)
            m_registrazione = m_archivio.registrazione(m_modello, chi);
    }

    void stampaLettura(qint64 giro, int n, const RisultatoRichiesta &risultato)
    {
        if (risultato.esito == RisultatoRichiesta::Esito::Interrotta) {
            m_richiestaInterrotta = true;
            return;
        }
        dopoIlRisultato(risultato);
        if (m_registrazione && !m_registrazione->inCorso() && m_giroRegistrato != giro) {
            m_giroRegistrato = giro;
            if (m_registrazione->inizia(risultato.inizio)) {
                const ProvaArchiviata &p = m_registrazione->prova();
                m_rapporto->aggiungiProprieta(giro,
                    {{QStringLiteral("tentativo"), QString::number(p.tentativo)},
                        {QStringLiteral("prova"), p.uuid}});
            }
        }
        m_rapporto->aggiungi(
            giro, n, risultato, risultato.errore ? m_descrizioneErrore : QString());
        if (m_registrazione)
            m_registrazione->lettura(n, risultato);
        stampa(rigaBanco(m_opzioni.formato, m_opzioni.unita, giro, m_modello.riga(n),
            m_modello.testoStato(n), risultato, QString(), m_modello.riga(n).strumento));
        stampaTraffico();
        if (m_registrazione && n == m_modello.rowCount() - 1) {
            m_registrazione->finisci(false);
            m_archivio.provaFinita(*m_registrazione);
        }
    }

    ModelloTabella m_modello;
    std::unique_ptr<LetturaTabella> m_lettura;
    std::unique_ptr<RapportoJUnit> m_rapporto;
    ArchivioDelBanco m_archivio{m_opzioni.archivio};
    std::unique_ptr<RegistrazioneProve> m_registrazione;
    qint64 m_giroRegistrato = -1;
    bool m_richiestaInterrotta = false; // a request was stopped in flight
    bool m_unitaRifiutata = false;
    bool m_campioniMancanti = false;
    QString m_campione; // a reference unit: the outcome it must give
};

} // namespace

namespace {

// Each --unita to a socket: "B=SN7" to the socket named B, the others to the free sockets in
// order. False, with the reason told, for more units than sockets, a socket named twice, a name
// the bench has no socket of, or one unit in two sockets.
bool unitaNeiPosti(const QStringList &valori, const DatiBanco &banco, QStringList &perPosto)
{
    const QList<PostoBanco> &posti = banco.posti;
    QStringList nomi;
    for (const PostoBanco &p : posti)
        nomi << p.nome;
    perPosto = QStringList(posti.size());
    const auto metti = [&](qsizetype posto, const QString &unita) {
        if (!perPosto.at(posto).isEmpty()) {
            errore(QStringLiteral("--unita: il posto %1 ha già l'unità %2.")
                       .arg(nomi.at(posto), TestiAmmessi::mostrabile(perPosto.at(posto))));
            return false;
        }
        const qsizetype altro = perPosto.indexOf(unita);
        if (altro >= 0 && !unita.isEmpty()) {
            errore(QStringLiteral("--unita: l'unità %1 è già nel posto %2: un'unità non può stare "
                                  "in due posti.")
                       .arg(TestiAmmessi::mostrabile(unita), nomi.at(altro)));
            return false;
        }
        perPosto[posto] = unita;
        return true;
    };
    QStringList senzaNome;
    for (const QString &valore : valori) {
        const qsizetype uguale = valore.indexOf(u'=');
        if (uguale < 0) {
            senzaNome << valore;
            continue;
        }
        const qsizetype posto = nomi.indexOf(valore.left(uguale));
        if (posto < 0) {
            errore(QStringLiteral("--unita %1: %2 non è un posto del banco (i posti sono %3); "
                                  "un valore con = comincia con il nome del posto: "
                                  "--unita B=NUMERO.")
                       .arg(TestiAmmessi::mostrabile(valore),
                           TestiAmmessi::mostrabile(valore.left(uguale)), nomi.join(u", ")));
            return false;
        }
        if (!metti(posto, valore.mid(uguale + 1)))
            return false;
    }
    qsizetype libero = 0;
    for (const QString &unita : std::as_const(senzaNome)) {
        while (libero < perPosto.size() && !perPosto.at(libero).isEmpty())
            ++libero;
        if (libero == perPosto.size()) {
            errore(QStringLiteral("--unita: %1 unità per %2 posti; nulla è stato inviato.")
                       .arg(valori.size())
                       .arg(posti.size()));
            return false;
        }
        if (!metti(libero, unita))
            return false;
    }
    return true;
}

} // namespace

bool leggiBanco(const TabellaOpzioni &t, const QCommandLineParser &parser, Opzioni &opzioni)
{
    if (rifiutaSeImpostata(parser, {&t.indirizzo, &t.comando, &t.memoria},
            "--%1: con --banco strumento e memoria vengono dalle righe del file; togliere "
            "l'opzione."))
        return false;
    QString motivo;
    opzioni.fileBanco = parser.value(t.banco);
    opzioni.banco = FileBanco::carica(opzioni.fileBanco, &motivo);
    if (!opzioni.banco) {
        errore(motivo);
        return false;
    }
    if (opzioni.banco->righe.isEmpty()) {
        errore(QStringLiteral("%1: il banco non ha righe da leggere.").arg(opzioni.fileBanco));
        return false;
    }
    {
        const std::optional<ConfigurazioneTracciabilita> tracciabilita
            = ConfigurazioneTracciabilita::leggi(*opzioni.banco, opzioni.fileBanco, &motivo);
        if (!tracciabilita) {
            errore(motivo);
            return false;
        }
        opzioni.archivio.tracciabilita = *tracciabilita;
    }
    QStringList unita;
    if (opzioni.banco->posti.isEmpty()) {
        if (parser.values(t.unita).size() > 1) {
            errore(QStringLiteral("--unita: il banco %1 non ha posti, e prova un'unità per volta: "
                                  "togliere le altre --unita, o descrivere i posti nel file "
                                  "(\"posti\").")
                       .arg(opzioni.fileBanco));
            return false;
        }
        if (parser.isSet(t.unita))
            unita.append(opzioni.unita);
    } else {
        if (rifiutaSeImpostata(parser, {&t.porta, &t.baud},
                "--%1 non vale con un banco a più posti: ogni posto ha la sua linea nel file."))
            return false;
        if (rifiutaSeImpostata(parser, {&t.traffico},
                "--%1 non vale con un banco a più posti: le linee lavorano insieme e i loro "
                "byte si mescolerebbero; per il traffico di una linea usare la finestra "
                "Visualizza → Traffico."))
            return false;
        if (!unitaNeiPosti(parser.values(t.unita), *opzioni.banco, opzioni.unitaDeiPosti))
            return false;
        opzioni.unita.clear();
        for (const QString &u : std::as_const(opzioni.unitaDeiPosti)) {
            if (!u.isEmpty())
                unita.append(u);
        }
    }
    // The file's line, unless the options name another.
    QString testoPorta = opzioni.testi[Campo::Combo1];
    if (!parser.isSet(t.porta)) {
        testoPorta = opzioni.banco->porta;
        opzioni.testi[Campo::Combo1] = FileBanco::testoPorta(testoPorta);
    }
    if (!parser.isSet(t.baud))
        opzioni.testi[Campo::Combo2] = QString::number(opzioni.banco->baud);
    opzioni.banco->porta = parser.isSet(t.porta)
        ? (opzioni.dispositivo.isEmpty() ? opzioni.testi[Campo::Combo1] : opzioni.dispositivo)
        : testoPorta;
    opzioni.banco->baud = opzioni.testi[Campo::Combo2].toInt();
    opzioni.rapporto = parser.value(t.rapporto);

    // Each round of a named unit is one of its runs in the archive.
    OpzioniArchivio &a = opzioni.archivio;
    a.registra = !unita.isEmpty() && !parser.isSet(t.senzaArchivio);
    a.senzaCampioni = parser.isSet(t.senzaCampioni);
    if (a.senzaCampioni && unita.isEmpty()) {
        errore(QStringLiteral("--senza-campioni vale solo con --unita: riguarda l'unità in prova."));
        return false;
    }
    const ConfigurazioneTracciabilita &tr = a.tracciabilita;
    if (!unita.isEmpty() && parser.isSet(t.senzaArchivio)) {
        // Without the station's file the references cannot be checked, nor a print recorded.
        if (tr.campioni.attiva() && !a.senzaCampioni) {
            bool soloCampioni = true;
            for (const QString &u : std::as_const(unita))
                soloCampioni = soloCampioni && tr.campioni.campione(u.trimmed()).has_value();
            if (!soloCampioni) {
                errore(QStringLiteral("--senza-archivio: il banco %1 ha dei campioni, e senza il "
                                      "file della stazione non si sa se hanno provato il banco; "
                                      "aggiungere --senza-campioni per provare l'unità lo "
                                      "stesso. Nulla è stato inviato.")
                           .arg(QFileInfo(opzioni.fileBanco).fileName()));
                return false;
            }
        }
        if (!tr.cartellaRapporti.isEmpty() || tr.etichetta)
            errore(QStringLiteral("--senza-archivio: nessun rapporto PDF e nessuna etichetta, "
                                  "perché nascono dalla prova registrata."));
    }
    if (!a.registra) {
        return !rifiutaSeImpostata(parser, {&t.operatore, &t.stazione, &t.archivio},
            parser.isSet(t.senzaArchivio)
                ? "--%1 non vale con --senza-archivio: nulla viene registrato."
                : "--%1 vale solo con --unita: è l'unità in prova che l'archivio registra.");
    }
    for (const QString &u : std::as_const(unita)) {
        if (u.trimmed().isEmpty()) {
            errore(QStringLiteral("--unita: il numero di serie è vuoto."));
            return false;
        }
    }
    if (!leggiArchivio(t, parser, a.dove))
        return false;
    a.operatore = parser.value(t.operatore);
    a.stazione = nomeStazione(parser.value(t.stazione));
    // What a run is recorded under is checked here, before anything is sent: the archive and
    // the line's server keep it, index it and print it.
    QList<std::pair<QString, const char *>> testi{
        {a.operatore, "--operatore"}, {a.stazione, "--stazione"}};
    for (const QString &u : std::as_const(unita))
        testi.prepend({u, "--unita"});
    for (const auto &[testo, opzione] : std::as_const(testi)) {
        const QString motivo = TestiAmmessi::controlla(testo, QString::fromLatin1(opzione));
        if (!motivo.isEmpty()) {
            errore(motivo + QStringLiteral(" Nulla è stato inviato."));
            return false;
        }
    }
    QFile file(opzioni.fileBanco);
    if (file.open(QIODevice::ReadOnly))
        opzioni.shaBanco = QString::fromLatin1(
            QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
    return true;
}

std::unique_ptr<Modo> modoBanco(const Opzioni &opzioni)
{
    return std::make_unique<ModoBanco>(opzioni);
}

} // namespace RigaDiComando
