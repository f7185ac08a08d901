// Questions to the archive instead of a reading: the runs, the statistics of the rows and the
// yields, and the sending of what waits for the server.

#include "modi.h"

#include "archivio.h"
#include "interrogazione.h"
#include "errore.h"
#include "inoltro.h"
#include "testi_ammessi.h"
#include "testi_traffico.h"

#include <QDir>
#include <QHash>
#include <QSet>
#include <QUuid>
#include <QFileInfo>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace RigaDiComando {
namespace {

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
        if (m_domanda.cosa == OpzioniInterrogazione::Cosa::Verifica)
            return verificaProva(m_domanda);
        if (m_domanda.cosa == OpzioniInterrogazione::Cosa::Pdf)
            return rapportoPdf(m_domanda);
        if (m_domanda.cosa == OpzioniInterrogazione::Cosa::Ristampa)
            return ristampaEtichetta(m_domanda);
        std::unique_ptr<Archivio> archivio = apri();
        if (!archivio)
            return ArchivioNonScritto;
        if (m_domanda.cosa == OpzioniInterrogazione::Cosa::Carta)
            return cartaDiControllo(*archivio, m_opzioni);
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
                           (p.esito.isEmpty() ? QStringLiteral("in corso") : p.esito)
                               + (!p.campione.isEmpty()
                                       ? QStringLiteral(" (campione: deve risultare %1)")
                                             .arg(p.campione)
                                       : p.senzaCampioni ? QStringLiteral(" (senza campioni)")
                                                         : QString()),
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
        o.insert(QStringLiteral("campione"),
            p.campione.isEmpty() ? QJsonValue() : QJsonValue(p.campione));
        o.insert(QStringLiteral("senza_campioni"), p.senzaCampioni);
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

    // The figures of the runs chosen, of one group of theirs (a socket, a station, an operator,
    // a day) or of all.
    struct Blocco
    {
        QString gruppo; // empty: the total
        QList<StatisticaRiga> righe;
        QList<ResaBanco> rese;
    };

    using Per = OpzioniInterrogazione::Per;

    // The grouping's name, as the CSV's first column and the JSON's key; without --per, the
    // socket a filter may choose.
    QString chiaveGruppo() const
    {
        switch (m_domanda.per) {
        case Per::Stazione:
            return QStringLiteral("stazione");
        case Per::Operatore:
            return QStringLiteral("operatore");
        case Per::Giorno:
            return QStringLiteral("giorno");
        case Per::Nessuno:
        case Per::Posto:
            break;
        }
        return QStringLiteral("posto");
    }

    // The group a filter already chooses on its own.
    QString gruppoDelFiltro(const FiltroProve &f) const
    {
        switch (m_domanda.per) {
        case Per::Stazione:
            return f.stazione;
        case Per::Operatore:
            return f.operatore;
        case Per::Giorno:
            return f.dal.isValid() && f.dal == f.al ? f.dal.toString(Qt::ISODate) : QString();
        case Per::Nessuno:
        case Per::Posto:
            break;
        }
        return f.posto;
    }

    FiltroProve filtroDelGruppo(const QString &gruppo) const
    {
        FiltroProve f = m_domanda.filtro;
        switch (m_domanda.per) {
        case Per::Stazione:
            f.stazione = gruppo;
            break;
        case Per::Operatore:
            f.operatore = gruppo;
            break;
        case Per::Giorno:
            f.dal = f.al = QDate::fromString(gruppo, Qt::ISODate);
            break;
        case Per::Nessuno:
        case Per::Posto:
            f.posto = gruppo;
            break;
        }
        return f;
    }

    // The groups of the runs chosen, in order: sockets as the archive lists them, stations and
    // operators by name, days by date. Runs without a socket or an operator are in the total only.
    std::optional<QStringList> gruppi(Archivio &archivio)
    {
        if (m_domanda.per == Per::Nessuno || !gruppoDelFiltro(m_domanda.filtro).isEmpty())
            return QStringList();
        if (m_domanda.per == Per::Posto)
            return archivio.posti(m_domanda.filtro);
        // One walk over the runs: each group's figures are then a question of their own.
        QSet<QString> visti;
        const bool ok = archivio.perOgniProva(m_domanda.filtro, 0, [&](const ProvaArchiviata &p) {
            switch (m_domanda.per) {
            case Per::Stazione:
                visti.insert(p.stazione);
                break;
            case Per::Operatore:
                visti.insert(p.operatore);
                break;
            default:
                visti.insert(p.inizio.toLocalTime().date().toString(Qt::ISODate));
                break;
            }
        });
        if (!ok)
            return std::nullopt;
        visti.remove(QString());
        QStringList elenco(visti.cbegin(), visti.cend());
        std::sort(elenco.begin(), elenco.end());
        return elenco;
    }

    bool statistiche(Archivio &archivio)
    {
        QList<Blocco> blocchi;
        const auto aggiungi = [&](const FiltroProve &filtro, const QString &gruppo) {
            // Both from one pass over the readings.
            auto cifre = archivio.statisticheERese(filtro, m_domanda.ancheDa5A8);
            if (!cifre)
                return false;
            blocchi.append({gruppo, std::move(cifre->statistiche), std::move(cifre->rese)});
            return true;
        };
        // A block per group, then the total as without --per; a filter on one group is that
        // group's block already.
        const std::optional<QStringList> elenco = gruppi(archivio);
        if (!elenco)
            return false;
        const QString chiave = chiaveGruppo();
        if (m_domanda.per != Per::Nessuno && gruppoDelFiltro(m_domanda.filtro).isEmpty()
            && elenco->isEmpty()) {
            errore(m_domanda.per == Per::Posto
                    ? QStringLiteral("nessuna delle prove scelte ha un posto: solo il totale.")
                    : m_domanda.per == Per::Operatore
                    ? QStringLiteral("nessuna delle prove scelte ha un operatore: solo il totale.")
                    : QStringLiteral("nessuna prova scelta: solo il totale."));
        }
        for (const QString &gruppo : *elenco) {
            if (!aggiungi(filtroDelGruppo(gruppo), gruppo))
                return false;
        }
        if (!aggiungi(m_domanda.filtro, gruppoDelFiltro(m_domanda.filtro)))
            return false;
        m_conGruppo = std::any_of(
            blocchi.cbegin(), blocchi.cend(), [](const Blocco &b) { return !b.gruppo.isEmpty(); });
        m_chiave = chiave;
        stampaRighe(blocchi);
        stampaRese(blocchi);
        const Blocco &totale = blocchi.last();
        const qsizetype quanti = blocchi.size() - 1;
        const QHash<QString, std::pair<const char *, const char *>> nomi{
            {QStringLiteral("posto"), {"posto", "posti"}},
            {QStringLiteral("stazione"), {"stazione", "stazioni"}},
            {QStringLiteral("operatore"), {"operatore", "operatori"}},
            {QStringLiteral("giorno"), {"giorno", "giorni"}}};
        errore(QStringLiteral("%1, %2%3 in %4.")
                   .arg(conteggio(totale.righe.size(), "riga", "righe"),
                       conteggio(totale.rese.size(), "versione di banco", "versioni di banco"),
                       quanti == 0 ? QString()
                                   : QStringLiteral(", ")
                               + conteggio(
                                   quanti, nomi.value(chiave).first, nomi.value(chiave).second),
                       archivio.descrizione()));
        return true;
    }

    // In CSV the group is a first column, empty for the total; in text it starts the line; in
    // JSON it is a key, null for the total.
    QStringList colonnaGruppo(const QString &gruppo) const
    {
        return m_conGruppo ? QStringList{gruppo} : QStringList();
    }
    QString inizioTesto(const QString &gruppo) const
    {
        return gruppo.isEmpty()
            ? QString()
            : m_chiave + u' ' + TestiAmmessi::mostrabile(gruppo) + QStringLiteral("; ");
    }
    QJsonObject conGruppo(QJsonObject o, const QString &gruppo) const
    {
        o.insert(m_chiave, gruppo.isEmpty() ? QJsonValue() : QJsonValue(gruppo));
        return o;
    }
    // A new table in CSV: an empty line, then its header.
    void tabella(const QStringList &intestazione, bool prima = false) const
    {
        if (m_opzioni.formato != Formato::Csv)
            return;
        if (!prima)
            stampa({});
        stampa(csv(colonnaGruppo(m_chiave) + intestazione));
    }

    void stampaRighe(const QList<Blocco> &blocchi) const
    {
        const Formato f = m_opzioni.formato;
        // Cp and Cpk from σ̂ within (the moving range), Pp and Ppk from the overall sample
        // deviation: the figure printed as cpk before them was Ppk.
        tabella({"banco", "nome", "strumento", "memoria", "minimo", "massimo", "letture",
                    "con_valore", "media", "deviazione", "valore_minimo", "valore_massimo", "cp",
                    "cpk", "pp", "ppk", "giudizio", "centro", "lcs", "lci", "limiti_carta",
                    "fuori_controllo", "regole", "fuori_dai_limiti", "fallite"},
            true);
        for (const Blocco &b : blocchi) {
            for (const StatisticaRiga &s : b.righe) {
                const QString giudizio = giudizioCapacita(s.cpk, s.fuoriControllo);
                const QString limitiCarta = !s.centro ? QString()
                    : s.limitiFissati                 ? QStringLiteral("fissati")
                                                      : QStringLiteral("fase di riferimento");
                if (f == Formato::Csv) {
                    stampa(csv(colonnaGruppo(b.gruppo)
                        + QStringList{s.banco, s.nome, QString::number(s.strumento), s.memoria,
                            numero(s.minimo, 15), numero(s.massimo, 15), QString::number(s.letture),
                            QString::number(s.conValore), numero(s.media), numero(s.deviazione),
                            numero(s.valoreMinimo, 15), numero(s.valoreMassimo, 15),
                            numero(s.cp, 4), numero(s.cpk, 4), numero(s.pp, 4), numero(s.ppk, 4),
                            giudizio, numero(s.centro), numero(s.lcs), numero(s.lci), limitiCarta,
                            QString::number(s.fuoriControllo), numeriRegole(s.regole),
                            QString::number(s.fuoriDaiLimiti), QString::number(s.fallite)}));
                } else if (f == Formato::Testo) {
                    QString carta;
                    if (s.centro) {
                        carta = QStringLiteral("; carta: centro %1, limiti %2 … %3 (%4)")
                                    .arg(numero(s.centro), oTrattino(numero(s.lci)),
                                        oTrattino(numero(s.lcs)), limitiCarta);
                    }
                    carta += s.fuoriControllo == 0
                        ? QStringLiteral("; nessun punto fuori controllo")
                        : QStringLiteral("; %1 fuori controllo (%2 %3)")
                              .arg(conteggio(s.fuoriControllo, "punto", "punti"),
                                  s.regole.size() == 1 ? QStringLiteral("regola")
                                                       : QStringLiteral("regole"),
                                  numeriRegole(s.regole, QStringLiteral(", ")));
                    stampa(inizioTesto(b.gruppo)
                        + QStringLiteral("banco %1; %2 (strumento %3, memoria %4); limiti %5 … "
                                         "%6; letture %7; media %8; deviazione %9; minimo %10; "
                                         "massimo %11; Cp %12; Cpk %13; Pp %14; Ppk %15%16")
                              .arg(TestiAmmessi::mostrabile(s.banco),
                                  TestiAmmessi::mostrabile(s.nome), QString::number(s.strumento),
                                  s.memoria, oTrattino(numero(s.minimo, 15)),
                                  oTrattino(numero(s.massimo, 15)), QString::number(s.letture),
                                  oTrattino(numero(s.media)), oTrattino(numero(s.deviazione)),
                                  oTrattino(numero(s.valoreMinimo, 15)),
                                  oTrattino(numero(s.valoreMassimo, 15)),
                                  oTrattino(numero(s.cp, 3)), oTrattino(numero(s.cpk, 3)),
                                  oTrattino(numero(s.pp, 3)), oTrattino(numero(s.ppk, 3)),
                                  giudizio.isEmpty() ? QString() : QStringLiteral(": ") + giudizio)
                        + carta
                        + QStringLiteral("; fuori dai limiti %1; fallite %2")
                              .arg(QString::number(s.fuoriDaiLimiti), QString::number(s.fallite)));
                } else {
                    stampa(json(conGruppo(
                        {{"tipo", "riga"}, {"banco", s.banco}, {"nome", s.nome},
                            {"strumento", s.strumento}, {"memoria", s.memoria},
                            {"minimo", numeroJson(s.minimo)}, {"massimo", numeroJson(s.massimo)},
                            {"letture", double(s.letture)}, {"con_valore", double(s.conValore)},
                            {"media", numeroJson(s.media)},
                            {"deviazione", numeroJson(s.deviazione)},
                            {"valore_minimo", numeroJson(s.valoreMinimo)},
                            {"valore_massimo", numeroJson(s.valoreMassimo)},
                            {"cp", numeroJson(s.cp)}, {"cpk", numeroJson(s.cpk)},
                            {"pp", numeroJson(s.pp)}, {"ppk", numeroJson(s.ppk)},
                            {"giudizio", giudizio.isEmpty() ? QJsonValue() : QJsonValue(giudizio)},
                            {"centro", numeroJson(s.centro)}, {"lcs", numeroJson(s.lcs)},
                            {"lci", numeroJson(s.lci)},
                            {"limiti_carta",
                                limitiCarta.isEmpty() ? QJsonValue() : QJsonValue(limitiCarta)},
                            {"fuori_controllo", double(s.fuoriControllo)},
                            {"regole", regoleJson(s.regole)},
                            {"fuori_dai_limiti", double(s.fuoriDaiLimiti)},
                            {"fallite", double(s.fallite)}},
                        b.gruppo)));
                }
            }
        }
    }

    // Per bench version: its yields, each row's first-pass rate and the Pareto of the failing
    // rows. In CSV three tables, each after an empty line.
    void stampaRese(const QList<Blocco> &blocchi) const
    {
        const Formato f = m_opzioni.formato;
        const auto pareto = [](const ResaBanco &r) {
            QList<std::pair<QString, qint64>> conteggi;
            for (const ResaRiga &riga : r.righe)
                conteggi.append({riga.nome, riga.fallite});
            return CartaControllo::pareto(conteggi);
        };
        // The retest rate: runs beyond each unit's first, over the units.
        const auto ripetizione
            = [](const ResaBanco &r) { return percentuale(r.prove - r.unita, r.unita); };
        tabella({"banco", "versione", "unita", "prove", "conformi_al_primo_passaggio",
            "conformi_all_ultimo", "resa_al_primo_passaggio_percento", "resa_finale_percento",
            "tasso_di_ripetizione_percento", "da_ripetere"});
        for (const Blocco &b : blocchi) {
            for (const ResaBanco &r : b.rese) {
                if (f == Formato::Csv) {
                    stampa(csv(colonnaGruppo(b.gruppo)
                        + QStringList{r.banco, r.versione, QString::number(r.unita),
                            QString::number(r.prove), QString::number(r.conformiAlPrimo),
                            QString::number(r.conformiAllUltimo),
                            percentuale(r.conformiAlPrimo, r.unita),
                            percentuale(r.conformiAllUltimo, r.unita), ripetizione(r),
                            QString::number(r.daRipetere)}));
                    continue;
                }
                if (f == Formato::Json) {
                    stampa(json(
                        conGruppo({{"tipo", "resa"}, {"banco", r.banco}, {"versione", r.versione},
                                      {"unita", double(r.unita)}, {"prove", double(r.prove)},
                                      {"conformi_al_primo_passaggio", double(r.conformiAlPrimo)},
                                      {"conformi_all_ultimo", double(r.conformiAllUltimo)},
                                      {"tasso_di_ripetizione_percento",
                                          r.unita > 0 ? QJsonValue(
                                              100.0 * double(r.prove - r.unita) / double(r.unita))
                                                      : QJsonValue()},
                                      {"da_ripetere", double(r.daRipetere)}},
                            b.gruppo)));
                    for (const ResaRiga &riga : r.righe) {
                        stampa(json(conGruppo(
                            {{"tipo", "resa_riga"}, {"banco", r.banco}, {"versione", r.versione},
                                {"riga", riga.n + 1}, {"nome", riga.nome},
                                {"unita", double(riga.unita)},
                                {"conformi_al_primo_passaggio", double(riga.conformiAlPrimo)},
                                {"fallite", double(riga.fallite)}},
                            b.gruppo)));
                    }
                    for (const CartaControllo::VocePareto &v : pareto(r)) {
                        stampa(json(conGruppo(
                            {{"tipo", "pareto"}, {"banco", r.banco}, {"versione", r.versione},
                                {"nome", v.nome}, {"fallite", double(v.conteggio)},
                                {"cumulata_percento", v.cumulata}},
                            b.gruppo)));
                    }
                    continue;
                }
                stampa(inizioTesto(b.gruppo)
                    + QStringLiteral("%1: %2, %3; resa al primo passaggio %4% (%5 di %6), "
                                     "finale %7% (%8 di %6); tasso di ripetizione %9%; %10 da "
                                     "ripetere")
                          .arg(bancoEVersione(r.banco, r.versione),
                              conteggio(r.unita, "unità", "unità"),
                              conteggio(r.prove, "prova", "prove"),
                              oTrattino(percentuale(r.conformiAlPrimo, r.unita)),
                              QString::number(r.conformiAlPrimo), QString::number(r.unita),
                              oTrattino(percentuale(r.conformiAllUltimo, r.unita)),
                              QString::number(r.conformiAllUltimo), oTrattino(ripetizione(r)),
                              QString::number(r.daRipetere)));
                for (const ResaRiga &riga : r.righe) {
                    stampa(
                        QStringLiteral("  riga %1 %2: resa al primo passaggio %3% (%4 di %5); "
                                       "%6")
                            .arg(QString::number(riga.n + 1), TestiAmmessi::mostrabile(riga.nome),
                                oTrattino(percentuale(riga.conformiAlPrimo, riga.unita)),
                                QString::number(riga.conformiAlPrimo),
                                conteggio(riga.unita, "unità", "unità"),
                                conteggio(riga.fallite, "prova fallita", "prove fallite")));
                }
                QStringList voci;
                for (const CartaControllo::VocePareto &v : pareto(r)) {
                    voci << QStringLiteral("%1 %2 (%3% cumulato)")
                                .arg(TestiAmmessi::mostrabile(v.nome), QString::number(v.conteggio),
                                    QString::number(v.cumulata, 'f', 1));
                }
                if (!r.righe.isEmpty()) {
                    stampa(voci.isEmpty() ? QStringLiteral("  nessuna riga fallita")
                                          : QStringLiteral("  Pareto delle righe fallite: ")
                                + voci.join(QStringLiteral(", ")));
                }
            }
        }
        if (f != Formato::Csv)
            return;
        tabella({"banco", "versione", "riga", "nome", "unita", "conformi_al_primo_passaggio",
            "resa_al_primo_passaggio_percento", "fallite"});
        for (const Blocco &b : blocchi) {
            for (const ResaBanco &r : b.rese) {
                for (const ResaRiga &riga : r.righe) {
                    stampa(csv(colonnaGruppo(b.gruppo)
                        + QStringList{r.banco, r.versione, QString::number(riga.n + 1), riga.nome,
                            QString::number(riga.unita), QString::number(riga.conformiAlPrimo),
                            percentuale(riga.conformiAlPrimo, riga.unita),
                            QString::number(riga.fallite)}));
                }
            }
        }
        tabella({"banco", "versione", "nome", "fallite", "cumulata_percento"});
        for (const Blocco &b : blocchi) {
            for (const ResaBanco &r : b.rese) {
                for (const CartaControllo::VocePareto &v : pareto(r)) {
                    stampa(csv(colonnaGruppo(b.gruppo)
                        + QStringList{r.banco, r.versione, v.nome, QString::number(v.conteggio),
                            QString::number(v.cumulata, 'f', 1)}));
                }
            }
        }
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
    bool m_conGruppo = false; // the statistics' CSV has the group's column
    QString m_chiave; // the group's name: posto, stazione, operatore, giorno
};

} // namespace

bool leggiInterrogazione(
    const TabellaOpzioni &t, const QCommandLineParser &parser, Opzioni &opzioni)
{
    using Cosa = OpzioniInterrogazione::Cosa;
    const int quante = int(parser.isSet(t.storico)) + int(parser.isSet(t.statistiche))
        + int(parser.isSet(t.carta)) + int(parser.isSet(t.invia))
        + int(parser.isSet(t.controllaArchivio)) + int(parser.isSet(t.verifica))
        + int(parser.isSet(t.pdf)) + int(parser.isSet(t.ristampa));
    if (quante > 1) {
        errore(QStringLiteral("--storico, --statistiche, --carta, --invia, --controlla-archivio, "
                              "--verifica, --pdf e --ristampa vanno uno alla volta."));
        return false;
    }
    if (rifiutaSeImpostata(parser,
            {&t.porta, &t.baud, &t.indirizzo, &t.comando, &t.memoria, &t.ripeti, &t.intervallo,
                &t.traffico, &t.fermatiAlPrimoErrore, &t.banco, &t.rapporto, &t.senzaArchivio,
                &t.cerca, &t.prima},
            "--%1 non vale con --storico, --statistiche, --carta o --invia, che leggono "
            "l'archivio."))
        return false;
    if (rifiutaSeImpostata(parser, {&t.senzaCampioni}, "--%1 vale solo con --banco e --unita."))
        return false;
    OpzioniInterrogazione d;
    d.cosa = parser.isSet(t.storico)  ? Cosa::Storico
        : parser.isSet(t.statistiche) ? Cosa::Statistiche
        : parser.isSet(t.carta)       ? Cosa::Carta
        : parser.isSet(t.invia)       ? Cosa::Invia
        : parser.isSet(t.verifica)    ? Cosa::Verifica
        : parser.isSet(t.pdf)         ? Cosa::Pdf
        : parser.isSet(t.ristampa)    ? Cosa::Ristampa
                                      : Cosa::Controlla;
    if (d.cosa != Cosa::Pdf
        && rifiutaSeImpostata(parser, {&t.uscita}, "--%1 vale solo con --pdf UUID."))
        return false;
    if (d.cosa == Cosa::Verifica || d.cosa == Cosa::Pdf || d.cosa == Cosa::Ristampa) {
        const QCommandLineOption &opzione = d.cosa == Cosa::Verifica ? t.verifica
            : d.cosa == Cosa::Pdf                                     ? t.pdf
                                                                      : t.ristampa;
        d.prova = parser.value(opzione).trimmed().toLower();
        if (QUuid::fromString(d.prova).isNull() && d.prova != QUuid().toString(QUuid::WithoutBraces)) {
            errore(QStringLiteral("--%1: %2 non è l'identificativo di una prova (un UUID, come "
                                  "lo stampa banco-richiesta --storico).")
                       .arg(opzione.names().front(), citaTesto(parser.value(opzione))));
            return false;
        }
        d.uscita = parser.value(t.uscita);
        if (rifiutaSeImpostata(parser,
                {&t.unita, &t.stazione, &t.dal, &t.al, &t.esito, &t.posto, &t.nomeBanco, &t.per,
                    &t.letture, &t.campioni, &t.regole58, &t.fissa, &t.operatore, &t.riprova},
                "--%1 non vale qui: la prova è quella dell'identificativo dato."))
            return false;
    }
    if (d.cosa != Cosa::Invia
        && rifiutaSeImpostata(parser, {&t.riprova}, "--%1 vale solo con --invia."))
        return false;
    d.riprova = parser.isSet(t.riprova);
    const std::initializer_list<const QCommandLineOption *> filtri{&t.unita, &t.stazione, &t.dal,
        &t.al, &t.esito, &t.posto, &t.nomeBanco, &t.per, &t.letture, &t.regole58, &t.fissa};
    if (d.cosa == Cosa::Controlla
        && rifiutaSeImpostata(
            parser, filtri, "--%1 non vale con --controlla-archivio, che controlla tutto il file."))
        return false;
    if (d.cosa == Cosa::Invia
        && rifiutaSeImpostata(
            parser, filtri, "--%1 non vale con --invia, che invia tutte le prove in attesa."))
        return false;
    if (d.cosa != Cosa::Storico
        && rifiutaSeImpostata(parser, {&t.letture, &t.campioni}, "--%1 vale solo con --storico."))
        return false;
    if (d.cosa != Cosa::Statistiche
        && rifiutaSeImpostata(parser, {&t.per}, "--%1 vale solo con --statistiche."))
        return false;
    if (d.cosa != Cosa::Carta && d.cosa != Cosa::Statistiche
        && rifiutaSeImpostata(parser, {&t.regole58}, "--%1 vale solo con --carta o --statistiche."))
        return false;
    if (d.cosa != Cosa::Carta
        && rifiutaSeImpostata(parser, {&t.fissa}, "--%1 vale solo con --carta RIGA."))
        return false;
    d.fissa = parser.isSet(t.fissa);
    // Here the operator is who fixes a chart's limits, not a filter on the runs.
    if (!d.fissa
        && rifiutaSeImpostata(parser, {&t.operatore},
            "--%1 vale qui solo con --carta RIGA --fissa, per dire chi fissa i limiti."))
        return false;
    if (d.fissa) {
        d.operatore = parser.value(t.operatore).trimmed();
        d.stazione = nomeStazione(parser.value(t.stazione));
        if (d.operatore.isEmpty()) {
            errore(QStringLiteral("--fissa: dire chi fissa i limiti con --operatore NOME."));
            return false;
        }
        for (const auto &[testo, opzione] :
            {std::pair{d.operatore, "--operatore"}, std::pair{d.stazione, "--stazione"}}) {
            const QString motivo = TestiAmmessi::controlla(testo, QString::fromLatin1(opzione));
            if (!motivo.isEmpty()) {
                errore(motivo + QStringLiteral(" Nessun limite è stato fissato."));
                return false;
            }
        }
    }
    if (d.cosa == Cosa::Carta) {
        d.riga = parser.value(t.carta);
        if (d.riga.trimmed().isEmpty()) {
            errore(QStringLiteral("--carta: manca il nome della riga, per esempio --carta "
                                  "Temperatura."));
            return false;
        }
    }
    d.ancheDa5A8 = parser.isSet(t.regole58);
    if (parser.isSet(t.per)) {
        using Per = OpzioniInterrogazione::Per;
        static const std::pair<const char *, Per> kGruppi[] = {{"stazione", Per::Stazione},
            {"operatore", Per::Operatore}, {"giorno", Per::Giorno}, {"posto", Per::Posto}};
        const QString per = parser.value(t.per).trimmed().toLower();
        for (const auto &[nome, gruppo] : kGruppi) {
            if (per == QLatin1String(nome))
                d.per = gruppo;
        }
        if (d.per == Per::Nessuno) {
            errore(QStringLiteral("--per: %1 non è un raggruppamento che le statistiche "
                                  "conoscono; si accetta stazione, operatore, giorno o posto.")
                       .arg(citaTesto(parser.value(t.per))));
            return false;
        }
    }
    if (!leggiArchivio(t, parser, d.dove))
        return false;
    if (d.cosa == Cosa::Invia && !d.dove.server) {
        errore(QStringLiteral("--invia: nessun server a cui inviare; indicarlo con --archivio "
                              "postgresql://… o con BANCO_ARCHIVIO."));
        return false;
    }
    d.letture = parser.isSet(t.letture);
    d.filtro.unita = parser.value(t.unita);
    d.filtro.stazione = parser.value(t.stazione);
    d.filtro.posto = parser.value(t.posto);
    d.filtro.banco = parser.value(t.nomeBanco);
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
    if (parser.isSet(t.campioni)) {
        // The list of runs only: figures and charts never count a reference unit's.
        using Campioni = FiltroProve::Campioni;
        static const std::pair<const char *, Campioni> kScelte[] = {
            {"esclusi", Campioni::Esclusi}, {"soltanto", Campioni::Soltanto},
            {"inclusi", Campioni::Inclusi}};
        const QString scelta = parser.value(t.campioni).trimmed().toLower();
        const auto trovata = std::find_if(std::begin(kScelte), std::end(kScelte),
            [&scelta](const auto &s) { return scelta == QLatin1String(s.first); });
        if (trovata == std::end(kScelte)) {
            errore(QStringLiteral("--campioni: %1 non è una scelta; si accetta esclusi, soltanto "
                                  "o inclusi.")
                       .arg(citaTesto(parser.value(t.campioni))));
            return false;
        }
        d.filtro.campioni = trovata->second;
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
