// Questions to the archive instead of a reading: the runs, the statistics of the rows and the
// yields, and the sending of what waits for the server.

#include "modi.h"

#include "archivio.h"
#include "errore.h"
#include "inoltro.h"
#include "testi_ammessi.h"
#include "testi_traffico.h"

#include <QDir>
#include <QFileInfo>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace RigaDiComando {
namespace {

QString numero(const std::optional<double> &valore, int cifre = 6)
{
    return valore ? QString::number(*valore, 'g', cifre) : QString();
}

QJsonValue numeroJson(const std::optional<double> &valore)
{
    return valore ? QJsonValue(*valore) : QJsonValue();
}

// Control characters in a serial or a name are printed escaped, never raw.
QString csv(QStringList campi)
{
    for (QString &campo : campi)
        campo = TestiAmmessi::mostrabile(campo);
    return QString::fromUtf8(TestiTraffico::lineaCsv(campi).chopped(2));
}

QString json(const QJsonObject &oggetto)
{
    return QString::fromUtf8(QJsonDocument(oggetto).toJson(QJsonDocument::Compact));
}

QString ora(const QDateTime &t)
{
    if (!t.isValid())
        return {};
    const QDateTime locale = t.toLocalTime();
    return locale.toOffsetFromUtc(locale.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString percentuale(qint64 parte, qint64 tutto)
{
    return tutto > 0 ? QString::number(100.0 * double(parte) / double(tutto), 'f', 1) : QString();
}

QStringList colonneProva(const ProvaArchiviata &p)
{
    return {p.uuid, p.stazione, p.operatore, p.unita, QString::number(p.tentativo), p.banco,
        p.shaBanco, p.linea, ora(p.inizio), ora(p.fine), p.esito};
}

QStringList colonneLettura(const LetturaArchiviata &l)
{
    return {QString::number(l.n + 1), l.nome, QString::number(l.strumento), l.memoria,
        l.parola ? QString::number(*l.parola) : QString(), numero(l.valore, 15), l.valoreMostrato,
        numero(l.minimo, 15), numero(l.massimo, 15), l.atteso, l.stato,
        l.latenzaMs ? QString::number(*l.latenzaMs, 'f', 3) : QString(), ora(l.istante)};
}

const QStringList kIntestazioneProva{"prova", "stazione", "operatore", "unita", "tentativo",
    "banco", "sha_banco", "linea", "inizio", "fine", "esito"};
const QStringList kIntestazioneLettura{"riga", "nome", "strumento", "memoria", "parola", "valore",
    "valore_mostrato", "minimo", "massimo", "atteso", "stato", "latenza_ms", "istante"};

QJsonObject comeJson(const QStringList &intestazione, const QStringList &colonne)
{
    QJsonObject o;
    for (qsizetype i = 0; i < intestazione.size(); ++i)
        o.insert(intestazione[i], colonne[i].isEmpty() ? QJsonValue() : QJsonValue(colonne[i]));
    return o;
}

class ModoInterrogazione : public Modo
{
public:
    explicit ModoInterrogazione(const Opzioni &opzioni)
        : m_opzioni(opzioni)
        , m_domanda(*opzioni.interrogazione)
    { }

    int esegui() override
    {
        if (m_domanda.cosa == OpzioniInterrogazione::Cosa::Invia)
            return invia();
        if (m_domanda.cosa == OpzioniInterrogazione::Cosa::Controlla)
            return controlla();
        std::unique_ptr<Archivio> archivio = apri();
        if (!archivio)
            return ArchivioNonScritto;
        const bool ok = m_domanda.cosa == OpzioniInterrogazione::Cosa::Storico
            ? storico(*archivio)
            : statistiche(*archivio);
        if (!ok) {
            errore(archivio->errore());
            return ArchivioNonScritto;
        }
        return TutteRisposte;
    }

    // The questions end by themselves, in moments.
    void fermati() override { }

private:
    // The server when there is one and it answers; the station's file otherwise.
    std::unique_ptr<Archivio> apri()
    {
        QString motivo;
        const Destinazione::Scelta &dove = m_domanda.dove;
        if (dove.server) {
            std::unique_ptr<Archivio> server = Archivio::apriServer(*dove.server, &motivo);
            if (server)
                return server;
            errore(motivo + QStringLiteral("; rispondo con l'archivio della stazione."));
        }
        std::unique_ptr<Archivio> locale = Archivio::apriLocale(dove.file, &motivo);
        if (!locale)
            errore(motivo);
        return locale;
    }

    bool storico(Archivio &archivio)
    {
        const Formato f = m_opzioni.formato;
        if (f == Formato::Csv) {
            // The socket's column only where a run chosen has one.
            const auto posti = archivio.posti(m_domanda.filtro);
            if (!posti)
                return false;
            m_colonnaPosto = !posti->isEmpty();
            const QStringList prova = kIntestazioneProva
                + (m_colonnaPosto ? QStringList{QStringLiteral("posto")} : QStringList());
            stampa(csv(m_domanda.letture ? prova + kIntestazioneLettura : prova));
        }
        qint64 quante = 0;
        QList<ProvaArchiviata> prove;
        // The runs first, then each one's readings: one query open at a time.
        if (!archivio.perOgniProva(m_domanda.filtro, 0, [&](const ProvaArchiviata &p) {
                if (!m_domanda.letture) {
                    stampaProva(p, {});
                    ++quante;
                } else {
                    prove.append(p);
                }
            }))
            return false;
        for (const ProvaArchiviata &p : prove) {
            const auto letture = archivio.letture(p.uuid);
            if (!letture)
                return false;
            stampaProva(p, *letture);
            ++quante;
        }
        errore(QStringLiteral("%1 in %2.")
                   .arg(quante == 1 ? QStringLiteral("1 prova")
                                    : QStringLiteral("%1 prove").arg(quante),
                       archivio.descrizione()));
        return true;
    }

    void stampaProva(const ProvaArchiviata &p, const QList<LetturaArchiviata> &letture)
    {
        QStringList colonne = colonneProva(p);
        if (m_colonnaPosto)
            colonne << p.posto;
        switch (m_opzioni.formato) {
        case Formato::Testo:
            stampa(QStringLiteral("%1; unità %2; tentativo %3; %4; stazione %5; operatore %6; "
                                  "banco %7 (%8); linea %9; prova ")
                       .arg(ora(p.inizio), TestiAmmessi::mostrabile(p.unita),
                           QString::number(p.tentativo),
                           p.esito.isEmpty() ? QStringLiteral("in corso") : p.esito,
                           TestiAmmessi::mostrabile(p.stazione)
                               + (p.posto.isEmpty() ? QString()
                                                    : QStringLiteral("; posto ")
                                           + TestiAmmessi::mostrabile(p.posto)),
                           p.operatore.isEmpty() ? QStringLiteral("-")
                                                 : TestiAmmessi::mostrabile(p.operatore),
                           TestiAmmessi::mostrabile(p.banco), p.shaBanco.left(12),
                           TestiAmmessi::mostrabile(p.linea))
                + p.uuid);
            for (const LetturaArchiviata &l : letture) {
                stampa(QStringLiteral("  riga %1; %2; strumento %3; memoria %4; valore %5; %6")
                           .arg(QString::number(l.n + 1), TestiAmmessi::mostrabile(l.nome),
                               QString::number(l.strumento), l.memoria,
                               l.valoreMostrato.isEmpty() ? QStringLiteral("-") : l.valoreMostrato,
                               TestiAmmessi::mostrabile(l.stato)));
            }
            return;
        case Formato::Csv:
            if (!m_domanda.letture)
                stampa(csv(colonne));
            for (const LetturaArchiviata &l : letture)
                stampa(csv(colonne + colonneLettura(l)));
            return;
        case Formato::Json:
            break;
        }
        QJsonObject o = comeJson(kIntestazioneProva, colonne);
        o.insert(QStringLiteral("tentativo"), p.tentativo);
        o.insert(QStringLiteral("posto"), p.posto.isEmpty() ? QJsonValue() : QJsonValue(p.posto));
        if (m_domanda.letture) {
            QJsonArray righe;
            for (const LetturaArchiviata &l : letture) {
                QJsonObject r = comeJson(kIntestazioneLettura, colonneLettura(l));
                r.insert(QStringLiteral("riga"), l.n + 1);
                r.insert(QStringLiteral("strumento"), l.strumento);
                r.insert(QStringLiteral("valore"), numeroJson(l.valore));
                r.insert(QStringLiteral("minimo"), numeroJson(l.minimo));
                r.insert(QStringLiteral("massimo"), numeroJson(l.massimo));
                r.insert(QStringLiteral("latenza_ms"), numeroJson(l.latenzaMs));
                r.insert(QStringLiteral("parola"), l.parola ? QJsonValue(*l.parola) : QJsonValue());
                righe.append(r);
            }
            o.insert(QStringLiteral("letture"), righe);
        }
        stampa(json(o));
    }

    // The figures of the runs chosen, of one socket of theirs or of all.
    struct Blocco
    {
        QString posto; // empty: every socket
        QList<StatisticaRiga> righe;
        QList<ResaBanco> rese;
    };

    bool statistiche(Archivio &archivio)
    {
        QList<Blocco> blocchi;
        const auto aggiungi = [&](const FiltroProve &filtro) {
            auto cifre = archivio.statisticheERese(filtro);
            auto righe = cifre ? std::optional(cifre->statistiche) : std::nullopt;
            auto rese = cifre ? std::optional(cifre->rese) : std::nullopt;
            if (!righe || !rese)
                return false;
            blocchi.append({filtro.posto, std::move(*righe), std::move(*rese)});
            return true;
        };
        // A block per socket, then the total as without --per; a filter on one socket is that
        // socket's block already.
        if (m_domanda.perPosto && m_domanda.filtro.posto.isEmpty()) {
            const auto posti = archivio.posti(m_domanda.filtro);
            if (!posti)
                return false;
            if (posti->isEmpty())
                errore(QStringLiteral("nessuna delle prove scelte ha un posto: solo il totale."));
            for (const QString &posto : *posti) {
                FiltroProve filtro = m_domanda.filtro;
                filtro.posto = posto;
                if (!aggiungi(filtro))
                    return false;
            }
        }
        if (!aggiungi(m_domanda.filtro))
            return false;
        const bool conPosto = std::any_of(
            blocchi.cbegin(), blocchi.cend(), [](const Blocco &b) { return !b.posto.isEmpty(); });
        const Formato f = m_opzioni.formato;
        // In CSV the socket is a first column, empty for the total; in text it starts the line.
        const auto colonnaPosto = [conPosto](const QString &posto) {
            return conPosto ? QStringList{posto} : QStringList();
        };
        const auto inizio = [](const QString &posto) {
            return posto.isEmpty()
                ? QString()
                : QStringLiteral("posto ") + TestiAmmessi::mostrabile(posto) + QStringLiteral("; ");
        };
        const auto postoJson = [](const QString &posto) {
            return posto.isEmpty() ? QJsonValue() : QJsonValue(posto);
        };
        const QStringList intestazione{"banco", "nome", "strumento", "memoria", "minimo", "massimo",
            "letture", "con_valore", "media", "deviazione", "valore_minimo", "valore_massimo",
            "cpk", "fuori_dai_limiti", "fallite"};
        if (f == Formato::Csv)
            stampa(csv(colonnaPosto(QStringLiteral("posto")) + intestazione));
        for (const Blocco &b : blocchi) {
            for (const StatisticaRiga &s : b.righe) {
                const QStringList colonne{s.banco, s.nome, QString::number(s.strumento), s.memoria,
                    numero(s.minimo, 15), numero(s.massimo, 15), QString::number(s.letture),
                    QString::number(s.conValore), numero(s.media), numero(s.deviazione),
                    numero(s.valoreMinimo, 15), numero(s.valoreMassimo, 15), numero(s.cpk, 4),
                    QString::number(s.fuoriDaiLimiti), QString::number(s.fallite)};
                if (f == Formato::Csv) {
                    stampa(csv(colonnaPosto(b.posto) + colonne));
                } else if (f == Formato::Testo) {
                    const auto o
                        = [](const QString &t) { return t.isEmpty() ? QStringLiteral("-") : t; };
                    stampa(inizio(b.posto)
                        + QStringLiteral("banco %1; %2 (strumento %3, memoria %4); limiti %5 … "
                                         "%6; letture %7; media %8; deviazione %9; minimo %10; "
                                         "massimo %11; Cpk %12; fuori dai limiti %13; fallite %14")
                              .arg(colonne[0], colonne[1], colonne[2], colonne[3], o(colonne[4]),
                                  o(colonne[5]), colonne[6], o(colonne[8]), o(colonne[9]),
                                  o(colonne[10]), o(colonne[11]), o(colonne[12]), colonne[13],
                                  colonne[14]));
                } else {
                    QJsonObject j{{"tipo", "riga"}, {"posto", postoJson(b.posto)},
                        {"banco", s.banco}, {"nome", s.nome}, {"strumento", s.strumento},
                        {"memoria", s.memoria}, {"minimo", numeroJson(s.minimo)},
                        {"massimo", numeroJson(s.massimo)}, {"letture", double(s.letture)},
                        {"con_valore", double(s.conValore)}, {"media", numeroJson(s.media)},
                        {"deviazione", numeroJson(s.deviazione)},
                        {"valore_minimo", numeroJson(s.valoreMinimo)},
                        {"valore_massimo", numeroJson(s.valoreMassimo)}, {"cpk", numeroJson(s.cpk)},
                        {"fuori_dai_limiti", double(s.fuoriDaiLimiti)},
                        {"fallite", double(s.fallite)}};
                    stampa(json(j));
                }
            }
        }
        // The yields: after an empty line, a table of their own in CSV.
        if (f == Formato::Csv) {
            stampa({});
            stampa(csv(colonnaPosto(QStringLiteral("posto"))
                + QStringList{"banco", "unita", "prove", "conformi_al_primo_passaggio",
                    "conformi_all_ultimo", "resa_al_primo_passaggio_percento",
                    "resa_finale_percento", "da_ripetere"}));
        }
        for (const Blocco &b : blocchi) {
            for (const ResaBanco &r : b.rese) {
                if (f == Formato::Csv) {
                    stampa(csv(colonnaPosto(b.posto)
                        + QStringList{r.banco, QString::number(r.unita), QString::number(r.prove),
                            QString::number(r.conformiAlPrimo),
                            QString::number(r.conformiAllUltimo),
                            percentuale(r.conformiAlPrimo, r.unita),
                            percentuale(r.conformiAllUltimo, r.unita),
                            QString::number(r.daRipetere)}));
                } else if (f == Formato::Testo) {
                    stampa(inizio(b.posto)
                        + QStringLiteral("banco %1: %2, %3; resa al primo passaggio %4% "
                                         "(%5 di %8), finale %6% (%7 di %8); %9 da ripetere")
                              .arg(TestiAmmessi::mostrabile(r.banco),
                                  r.unita == 1 ? QStringLiteral("1 unità")
                                               : QStringLiteral("%1 unità").arg(r.unita),
                                  r.prove == 1 ? QStringLiteral("1 prova")
                                               : QStringLiteral("%1 prove").arg(r.prove),
                                  percentuale(r.conformiAlPrimo, r.unita),
                                  QString::number(r.conformiAlPrimo),
                                  percentuale(r.conformiAllUltimo, r.unita),
                                  QString::number(r.conformiAllUltimo), QString::number(r.unita),
                                  QString::number(r.daRipetere)));
                } else {
                    stampa(json({{"tipo", "resa"}, {"posto", postoJson(b.posto)},
                        {"banco", r.banco}, {"unita", double(r.unita)}, {"prove", double(r.prove)},
                        {"conformi_al_primo_passaggio", double(r.conformiAlPrimo)},
                        {"conformi_all_ultimo", double(r.conformiAllUltimo)},
                        {"da_ripetere", double(r.daRipetere)}}));
                }
            }
        }
        const Blocco &totale = blocchi.last();
        const qsizetype posti = blocchi.size() - 1;
        errore(
            QStringLiteral("%1, %2%3 in %4.")
                .arg(totale.righe.size() == 1 ? QStringLiteral("1 riga")
                                              : QStringLiteral("%1 righe").arg(totale.righe.size()),
                    totale.rese.size() == 1 ? QStringLiteral("1 banco")
                                            : QStringLiteral("%1 banchi").arg(totale.rese.size()),
                    posti == 0       ? QString()
                        : posti == 1 ? QStringLiteral(", 1 posto")
                                     : QStringLiteral(", %1 posti").arg(posti),
                    archivio.descrizione()));
        return true;
    }

    int invia()
    {
        const Destinazione::Scelta &dove = m_domanda.dove;
        QString motivo;
        {
            std::unique_ptr<Archivio> locale = Archivio::apriLocale(dove.file, &motivo);
            if (!locale) {
                errore(motivo);
                return ArchivioNonScritto;
            }
        }
        Inoltro inoltro(dove.file, *dove.server);
        StatoInoltro stato;
        qint64 inviate = 0;
        connect(&inoltro, &Inoltro::statoCambiato, this, [&](const StatoInoltro &s) {
            inviate += s.inviate;
            stato = s;
        });
        if (m_domanda.riprova)
            inoltro.riprova();
        else
            inoltro.inviaOra();
        inoltro.attendi(std::numeric_limits<int>::max());
        if (!stato.errore.isEmpty())
            errore(stato.errore);
        if (stato.messeDaParte > 0) {
            if (const std::unique_ptr<Archivio> locale = Archivio::apriLocale(dove.file, &motivo)) {
                for (const Archivio::Scartata &s : locale->scartate().value_or(
                         QList<Archivio::Scartata>{})) {
                    errore(QStringLiteral("prova %1 dell'unità %2 messa da parte: %3")
                               .arg(s.uuid, TestiAmmessi::mostrabile(s.unita), s.motivo));
                }
            }
        }
        stampa(QStringLiteral("%1 a %2; %3 in attesa, %4 da parte%5.")
                   .arg(inviate == 1 ? QStringLiteral("1 prova inviata")
                                     : QStringLiteral("%1 prove inviate").arg(inviate),
                       dove.server->url, QString::number(std::max<qint64>(0, stato.inAttesa)),
                       stato.messeDaParte == 1 ? QStringLiteral("1 messa")
                                               : QStringLiteral("%1 messe").arg(stato.messeDaParte),
                       stato.messeDaParte > 0
                           ? QStringLiteral(" (inviarle di nuovo, corrette, con --invia --riprova)")
                           : QString()));
        return stato.inAttesa != 0 || stato.messeDaParte > 0 ? InvioIncompleto : TutteRisposte;
    }

    int controlla()
    {
        const QString &file = m_domanda.dove.file;
        if (!QFileInfo::exists(file)) {
            errore(QStringLiteral("l'archivio %1 non esiste: non c'è nulla da controllare.")
                       .arg(QDir::toNativeSeparators(file)));
            return OpzioneNonValida;
        }
        QString motivo;
        const std::unique_ptr<Archivio> archivio = Archivio::apriLocale(file, &motivo);
        if (!archivio) {
            errore(motivo);
            return ArchivioDanneggiato;
        }
        const std::optional<QStringList> problemi = archivio->controllaIntegrita();
        if (!problemi) {
            errore(archivio->errore());
            return ArchivioDanneggiato;
        }
        for (const QString &p : *problemi)
            stampa(p);
        if (!problemi->isEmpty()) {
            errore(QStringLiteral("l'archivio %1 è danneggiato (%2): copiarlo altrove prima di "
                                  "ogni altra cosa; le prove già inviate al server sono al "
                                  "sicuro là.")
                       .arg(archivio->descrizione(),
                           problemi->size() == 1 ? QStringLiteral("1 problema")
                                                 : QStringLiteral("%1 problemi").arg(problemi->size())));
            return ArchivioDanneggiato;
        }
        stampa(QStringLiteral("l'archivio %1 è integro.").arg(archivio->descrizione()));
        return TutteRisposte;
    }

    Opzioni m_opzioni;
    OpzioniInterrogazione m_domanda;
    bool m_colonnaPosto = false; // the runs' CSV has the socket's column
};

} // namespace

bool leggiInterrogazione(
    const TabellaOpzioni &t, const QCommandLineParser &parser, Opzioni &opzioni)
{
    const int quante = int(parser.isSet(t.storico)) + int(parser.isSet(t.statistiche))
        + int(parser.isSet(t.invia)) + int(parser.isSet(t.controllaArchivio));
    if (quante > 1) {
        errore(QStringLiteral("--storico, --statistiche, --invia e --controlla-archivio vanno "
                              "uno alla volta."));
        return false;
    }
    if (rifiutaSeImpostata(parser,
            {&t.porta, &t.baud, &t.indirizzo, &t.comando, &t.memoria, &t.ripeti, &t.intervallo,
                &t.traffico, &t.fermatiAlPrimoErrore, &t.banco, &t.rapporto, &t.operatore,
                &t.senzaArchivio, &t.cerca, &t.prima},
            "--%1 non vale con --storico, --statistiche o --invia, che leggono l'archivio."))
        return false;
    OpzioniInterrogazione d;
    d.cosa = parser.isSet(t.storico)  ? OpzioniInterrogazione::Cosa::Storico
        : parser.isSet(t.statistiche) ? OpzioniInterrogazione::Cosa::Statistiche
        : parser.isSet(t.invia)       ? OpzioniInterrogazione::Cosa::Invia
                                      : OpzioniInterrogazione::Cosa::Controlla;
    if (d.cosa != OpzioniInterrogazione::Cosa::Invia
        && rifiutaSeImpostata(parser, {&t.riprova}, "--%1 vale solo con --invia."))
        return false;
    d.riprova = parser.isSet(t.riprova);
    if (d.cosa == OpzioniInterrogazione::Cosa::Controlla
        && rifiutaSeImpostata(parser,
            {&t.unita, &t.stazione, &t.dal, &t.al, &t.esito, &t.posto, &t.per, &t.letture},
            "--%1 non vale con --controlla-archivio, che controlla tutto il file."))
        return false;
    if (d.cosa == OpzioniInterrogazione::Cosa::Invia
        && rifiutaSeImpostata(parser,
            {&t.unita, &t.stazione, &t.dal, &t.al, &t.esito, &t.posto, &t.per, &t.letture},
            "--%1 non vale con --invia, che invia tutte le prove in attesa."))
        return false;
    if (d.cosa != OpzioniInterrogazione::Cosa::Storico
        && rifiutaSeImpostata(parser, {&t.letture}, "--%1 vale solo con --storico."))
        return false;
    if (d.cosa != OpzioniInterrogazione::Cosa::Statistiche
        && rifiutaSeImpostata(parser, {&t.per}, "--%1 vale solo con --statistiche."))
        return false;
    if (parser.isSet(t.per)) {
        // The only grouping for now; others may join it.
        if (parser.value(t.per).trimmed().toLower() != u"posto") {
            errore(QStringLiteral("--per: %1 non è un raggruppamento che le statistiche "
                                  "conoscono; si accetta soltanto posto (--per posto).")
                       .arg(citaTesto(parser.value(t.per))));
            return false;
        }
        d.perPosto = true;
    }
    if (!leggiArchivio(t, parser, d.dove))
        return false;
    if (d.cosa == OpzioniInterrogazione::Cosa::Invia && !d.dove.server) {
        errore(QStringLiteral("--invia: nessun server a cui inviare; indicarlo con --archivio "
                              "postgresql://… o con BANCO_ARCHIVIO."));
        return false;
    }
    d.letture = parser.isSet(t.letture);
    d.filtro.unita = parser.value(t.unita);
    d.filtro.stazione = parser.value(t.stazione);
    d.filtro.posto = parser.value(t.posto);
    QString motivo;
    for (const auto &[opzione, data] :
        {std::pair{&t.dal, &d.filtro.dal}, std::pair{&t.al, &d.filtro.al}}) {
        if (!parser.isSet(*opzione))
            continue;
        const auto letta = FiltroProve::leggiData(
            parser.value(*opzione), QStringLiteral("--") + opzione->names().front(), &motivo);
        if (!letta) {
            errore(motivo);
            return false;
        }
        *data = *letta;
    }
    if (parser.isSet(t.esito)) {
        d.filtro.esito = parser.value(t.esito);
        if (!FiltroProve::esitoValido(d.filtro.esito, &motivo)) {
            errore(motivo);
            return false;
        }
    }
    opzioni.interrogazione = d;
    return true;
}

std::unique_ptr<Modo> modoInterrogazione(const Opzioni &opzioni)
{
    return std::make_unique<ModoInterrogazione>(opzioni);
}

} // namespace RigaDiComando
