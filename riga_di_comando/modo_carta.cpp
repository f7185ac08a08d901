// --carta: a row's individuals charts from the archive, one per bench version and socket, each
// point with the rules it completes and a summary with the capability; or, with --fissa, the
// limits an engineer fixes for them.

#include "interrogazione.h"

#include "archivio.h"
#include "carta_controllo.h"
#include "errore.h"
#include "testi_ammessi.h"

#include <QJsonArray>

namespace RigaDiComando {
namespace {

// A chart as printed: its series, the chart's analysis and the capability of its values.
struct Carta
{
    const SerieCarta *serie = nullptr;
    CartaControllo::Analisi analisi;
    CartaControllo::Capacita capacita;
};

Carta disegna(const SerieCarta &serie, bool ancheDa5A8)
{
    Carta c;
    c.serie = &serie;
    c.analisi = analizza(serie, ancheDa5A8);
    // Cp and Cpk from σ̂ within over all the values shown, as --statistiche gives them.
    const std::optional<CartaControllo::Limiti> tutti = CartaControllo::limiti(serie.valori);
    c.capacita = CartaControllo::capacita(
        serie.valori, tutti ? tutti->sigma : 0, serie.minimo, serie.massimo);
    return c;
}

// The rules a chart's points completed, each once, in order.
QList<int> regoleViolate(const CartaControllo::Analisi &a)
{
    QList<int> tutte;
    for (const QList<int> &qui : a.regole) {
        for (const int r : qui) {
            if (!tutte.contains(r))
                tutte << r;
        }
    }
    std::sort(tutte.begin(), tutte.end());
    return tutte;
}

// "banco linea3.banco (versione 1a2b3c4d5e6f); posto A; riga Temperatura (°C)"
QString titolo(const SerieCarta &s)
{
    return QStringLiteral("%1%2; riga %3%4")
        .arg(bancoEVersione(s.banco, s.versione),
            s.posto.isEmpty() ? QString()
                              : QStringLiteral("; posto ") + TestiAmmessi::mostrabile(s.posto),
            TestiAmmessi::mostrabile(s.nome),
            s.unitaMisura.isEmpty()
                ? QString()
                : QStringLiteral(" (%1)").arg(TestiAmmessi::mostrabile(s.unitaMisura)));
}

// Where the limits come from, in words.
QString origineLimiti(const Carta &c)
{
    const SerieCarta &s = *c.serie;
    if (c.analisi.fissati && s.fissati) {
        const LimitiCarta &f = *s.fissati;
        return QStringLiteral("limiti fissati da %1 il %2 (da %3)")
            .arg(TestiAmmessi::mostrabile(f.operatore),
                f.quando.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                conteggio(f.valori, "valore", "valori"));
    }
    if (!c.analisi.limiti)
        return QStringLiteral("nessun limite di controllo (servono almeno 2 valori)");
    if (s.valori.size() >= CartaControllo::kFaseDiRiferimento)
        return QStringLiteral("limiti della fase di riferimento (i primi %1 valori)")
            .arg(CartaControllo::kFaseDiRiferimento);
    return QStringLiteral("limiti della fase di riferimento (%1 finora, fino ai primi %2)")
        .arg(s.valori.size() == 1 ? QStringLiteral("il solo valore")
                                  : QStringLiteral("tutti i %1 valori").arg(s.valori.size()),
            QString::number(CartaControllo::kFaseDiRiferimento));
}

// "regola 1 (un valore oltre 3 sigma dalla media)", each rule in words.
QString testoRegole(const QList<int> &regole)
{
    QStringList parti;
    for (const int r : regole) {
        parti << QStringLiteral("regola %1 (%2)")
                     .arg(QString::number(r), CartaControllo::testoRegola(r));
    }
    return parti.join(QStringLiteral(", "));
}

std::optional<double> centro(const Carta &c)
{
    return c.analisi.limiti ? std::optional(c.analisi.limiti->centro) : std::nullopt;
}
std::optional<double> lcs(const Carta &c)
{
    return c.analisi.limiti ? std::optional(c.analisi.limiti->superiore()) : std::nullopt;
}
std::optional<double> lci(const Carta &c)
{
    return c.analisi.limiti ? std::optional(c.analisi.limiti->inferiore()) : std::nullopt;
}

QString riassuntoTesto(const Carta &c)
{
    const SerieCarta &s = *c.serie;
    const qsizetype fuori = c.analisi.fuoriControllo();
    const QList<int> regole = regoleViolate(c.analisi);
    QString testo = QStringLiteral("%1: %2; %3")
                        .arg(TestiAmmessi::mostrabile(s.nome),
                            conteggio(s.valori.size(), "punto", "punti"), origineLimiti(c));
    if (c.analisi.limiti) {
        testo += QStringLiteral(": centro %1, lcs %2, lci %3")
                     .arg(numero(centro(c)), numero(lcs(c)), numero(lci(c)));
    }
    testo += fuori == 0 ? QStringLiteral("; nessun punto fuori controllo")
                        : QStringLiteral("; %1 fuori controllo: %2")
                              .arg(conteggio(fuori, "punto", "punti"), testoRegole(regole));
    const CartaControllo::Capacita &k = c.capacita;
    if (k.cpk || k.ppk) {
        testo += QStringLiteral("; Cp %1, Cpk %2, Pp %3, Ppk %4")
                     .arg(oTrattino(numero(k.cp, 3)), oTrattino(numero(k.cpk, 3)),
                         oTrattino(numero(k.pp, 3)), oTrattino(numero(k.ppk, 3)));
        if (k.cpk)
            testo += QStringLiteral(": ") + giudizioCapacita(k.cpk, fuori);
    } else {
        testo += QStringLiteral("; capacità non calcolabile (senza limiti della riga o senza "
                                "dispersione)");
    }
    return testo + u'.';
}

const QStringList kIntestazionePunti{"banco", "versione", "riga", "prova", "unita", "inizio",
    "valore", "centro", "lcs", "lci", "regole"};
const QStringList kIntestazioneRiassunto{"banco", "versione", "riga", "punti", "limiti", "centro",
    "lcs", "lci", "fuori_controllo", "regole", "cp", "cpk", "pp", "ppk", "giudizio"};

void stampaCarte(const QList<Carta> &carte, Formato f)
{
    const bool conPosto = std::any_of(
        carte.cbegin(), carte.cend(), [](const Carta &c) { return !c.serie->posto.isEmpty(); });
    const auto colonnaPosto = [conPosto](const QString &posto) {
        return conPosto ? QStringList{posto} : QStringList();
    };
    if (f == Formato::Csv)
        stampa(csv(colonnaPosto(QStringLiteral("posto")) + kIntestazionePunti));
    for (const Carta &c : carte) {
        const SerieCarta &s = *c.serie;
        if (f == Formato::Testo)
            stampa(titolo(s));
        for (qsizetype i = 0; i < s.valori.size(); ++i) {
            const QList<int> &regole = c.analisi.regole.at(i);
            const double valore = s.valori.at(i);
            const QString prova = s.prove.value(i);
            const QString unita = s.unita.value(i);
            const QString inizio = ora(s.inizi.value(i));
            switch (f) {
            case Formato::Testo:
                stampa(QStringLiteral("  %1; unità %2; valore %3; centro %4; lcs %5; lci %6%7; "
                                      "prova ")
                           .arg(oTrattino(inizio), oTrattino(TestiAmmessi::mostrabile(unita)),
                               numero(valore, 15), oTrattino(numero(centro(c))),
                               oTrattino(numero(lcs(c))), oTrattino(numero(lci(c))),
                               regole.isEmpty() ? QString()
                                                : QStringLiteral("; ") + testoRegole(regole))
                    + prova);
                break;
            case Formato::Csv:
                stampa(csv(colonnaPosto(s.posto)
                    + QStringList{s.banco, s.versione, s.nome, prova, unita, inizio,
                        numero(valore, 15), numero(centro(c), 15), numero(lcs(c), 15),
                        numero(lci(c), 15), numeriRegole(regole)}));
                break;
            case Formato::Json: {
                QJsonObject o{{"tipo", "punto"}, {"prova", prova}, {"unita", unita},
                    {"inizio", inizio}, {"valore", valore}, {"centro", numeroJson(centro(c))},
                    {"lcs", numeroJson(lcs(c))}, {"lci", numeroJson(lci(c))},
                    {"regole", regoleJson(regole)}};
                if (conPosto)
                    o.insert(QStringLiteral("posto"), s.posto);
                stampa(json(o));
                break;
            }
            }
        }
        const CartaControllo::Capacita &k = c.capacita;
        const qsizetype fuori = c.analisi.fuoriControllo();
        const QString limiti = c.analisi.fissati ? QStringLiteral("fissati")
            : c.analisi.limiti                   ? QStringLiteral("fase di riferimento")
                                                 : QString();
        if (f == Formato::Testo) {
            stampa(riassuntoTesto(c));
        } else if (f == Formato::Json) {
            QJsonObject o{{"tipo", "riassunto"}, {"banco", s.banco}, {"versione", s.versione},
                {"riga", s.nome}, {"punti", double(s.valori.size())},
                {"limiti", limiti.isEmpty() ? QJsonValue() : QJsonValue(limiti)},
                {"centro", numeroJson(centro(c))}, {"lcs", numeroJson(lcs(c))},
                {"lci", numeroJson(lci(c))}, {"fuori_controllo", double(fuori)},
                {"regole", regoleJson(regoleViolate(c.analisi))}, {"cp", numeroJson(k.cp)},
                {"cpk", numeroJson(k.cpk)}, {"pp", numeroJson(k.pp)}, {"ppk", numeroJson(k.ppk)},
                {"giudizio", k.cpk ? QJsonValue(giudizioCapacita(k.cpk, fuori)) : QJsonValue()}};
            if (conPosto)
                o.insert(QStringLiteral("posto"), s.posto);
            stampa(json(o));
        }
    }
    // In CSV the summaries are a table of their own, one line per chart, after an empty line.
    if (f != Formato::Csv)
        return;
    stampa({});
    stampa(csv(colonnaPosto(QStringLiteral("posto")) + kIntestazioneRiassunto));
    for (const Carta &c : carte) {
        const SerieCarta &s = *c.serie;
        const CartaControllo::Capacita &k = c.capacita;
        const qsizetype fuori = c.analisi.fuoriControllo();
        stampa(csv(colonnaPosto(s.posto)
            + QStringList{s.banco, s.versione, s.nome, QString::number(s.valori.size()),
                c.analisi.fissati      ? QStringLiteral("fissati")
                    : c.analisi.limiti ? QStringLiteral("fase di riferimento")
                                       : QString(),
                numero(centro(c), 15), numero(lcs(c), 15), numero(lci(c), 15),
                QString::number(fuori), numeriRegole(regoleViolate(c.analisi)), numero(k.cp, 4),
                numero(k.cpk, 4), numero(k.pp, 4), numero(k.ppk, 4),
                giudizioCapacita(k.cpk, fuori)}));
    }
}

// Each chart's limits from all its values, fixed on the station's file: none unless every chart
// has two values at least.
int fissa(
    const QList<SerieCarta> &serie, Archivio &letto, const OpzioniInterrogazione &d, Formato f)
{
    for (const SerieCarta &s : serie) {
        if (s.valori.size() < 2) {
            errore(QStringLiteral("%1: %2; servono almeno 2 valori per fissare i limiti di una "
                                  "carta. Nessun limite è stato fissato: attendere altre prove, "
                                  "o scegliere le altre carte con --posto o --nome-banco.")
                       .arg(titolo(s), conteggio(s.valori.size(), "valore", "valori")));
            return OpzioneNonValida;
        }
    }
    // Fixed limits belong to the station's file, which forwards them, even when the values
    // came from the line's server.
    std::unique_ptr<Archivio> proprio;
    Archivio *locale = &letto;
    if (letto.tipo() != Archivio::Tipo::Locale) {
        QString motivo;
        proprio = Archivio::apriLocale(d.dove.file, &motivo);
        if (!proprio) {
            errore(motivo + QStringLiteral(" Nessun limite è stato fissato."));
            return ArchivioNonScritto;
        }
        locale = proprio.get();
    }
    const bool conPosto = std::any_of(
        serie.cbegin(), serie.cend(), [](const SerieCarta &s) { return !s.posto.isEmpty(); });
    if (f == Formato::Csv) {
        stampa(csv((conPosto ? QStringList{QStringLiteral("posto")} : QStringList())
            + QStringList{"banco", "versione", "riga", "centro", "lcs", "lci", "mr_medio", "valori",
                "operatore", "stazione", "quando", "uuid"}));
    }
    qsizetype fissate = 0;
    for (const SerieCarta &s : serie) {
        std::optional<LimitiCarta> l = limitiDellaSerie(s, d.stazione, d.operatore);
        if (!l || !locale->fissaLimiti(*l)) {
            errore(QStringLiteral("%1: i limiti non si sono potuti fissare: %2%3")
                       .arg(titolo(s), locale->errore(),
                           fissate == 0 ? QStringLiteral(" Nessun limite è stato fissato.")
                                        : QStringLiteral(" Restano fissati quelli stampati "
                                                         "sopra.")));
            return ArchivioNonScritto;
        }
        ++fissate;
        CartaControllo::Limiti limiti;
        limiti.centro = l->centro;
        limiti.mrMedio = l->mrMedio;
        const double superiore = limiti.superiore();
        const double inferiore = limiti.inferiore();
        switch (f) {
        case Formato::Testo:
            stampa(QStringLiteral("%1: limiti fissati da %2, stazione %3, da %4: centro %5, "
                                  "lcs %6, lci %7, escursione mobile media %8.")
                       .arg(titolo(s), TestiAmmessi::mostrabile(l->operatore),
                           TestiAmmessi::mostrabile(l->stazione),
                           conteggio(l->valori, "valore", "valori"), numero(l->centro),
                           numero(superiore), numero(inferiore), numero(l->mrMedio)));
            break;
        case Formato::Csv:
            stampa(csv((conPosto ? QStringList{s.posto} : QStringList())
                + QStringList{l->banco, l->versione, l->nome, numero(l->centro, 15),
                    numero(superiore, 15), numero(inferiore, 15), numero(l->mrMedio, 15),
                    QString::number(l->valori), l->operatore, l->stazione, ora(l->quando),
                    l->uuid}));
            break;
        case Formato::Json: {
            QJsonObject o{{"tipo", "limiti"}, {"banco", l->banco}, {"versione", l->versione},
                {"riga", l->nome}, {"centro", l->centro}, {"lcs", superiore}, {"lci", inferiore},
                {"mr_medio", l->mrMedio}, {"valori", double(l->valori)},
                {"operatore", l->operatore}, {"stazione", l->stazione}, {"quando", ora(l->quando)},
                {"uuid", l->uuid}};
            if (conPosto)
                o.insert(QStringLiteral("posto"), s.posto);
            stampa(json(o));
            break;
        }
        }
    }
    errore(QStringLiteral("%1 in %2; le carte li usano da ora.")
               .arg(fissate == 1 ? QStringLiteral("1 carta con i limiti fissati")
                                 : QStringLiteral("%1 carte con i limiti fissati").arg(fissate),
                   locale->descrizione()));
    return TutteRisposte;
}

} // namespace

int cartaDiControllo(Archivio &archivio, const Opzioni &opzioni)
{
    const OpzioniInterrogazione &d = *opzioni.interrogazione;
    const std::optional<QList<SerieCarta>> serie = archivio.serieCarta(d.filtro, d.riga, !d.fissa);
    if (!serie) {
        errore(archivio.errore());
        return ArchivioNonScritto;
    }
    // A row's name is the bench's own: the same name in two benches is two different rows.
    QStringList banchi;
    for (const SerieCarta &s : *serie) {
        if (!banchi.contains(s.banco))
            banchi << s.banco;
    }
    if (banchi.size() > 1) {
        std::sort(banchi.begin(), banchi.end());
        QStringList nomi;
        for (const QString &b : std::as_const(banchi))
            nomi << TestiAmmessi::mostrabile(b);
        errore(QStringLiteral("la riga %1 è in più banchi: %2. Sceglierne uno con --nome-banco, "
                              "per esempio --nome-banco %3.")
                   .arg(citaTesto(d.riga), nomi.join(QStringLiteral(", ")), nomi.constFirst()));
        return OpzioneNonValida;
    }
    if (serie->isEmpty()) {
        // An unknown row, or one the runs chosen read without a value: the rows they read,
        // with values or not, say which.
        const std::optional<QList<StatisticaRiga>> righe = archivio.statistiche(d.filtro);
        if (!righe) {
            errore(archivio.errore());
            return ArchivioNonScritto;
        }
        QStringList nomi;
        for (const StatisticaRiga &r : *righe) {
            const QString nome = TestiAmmessi::mostrabile(r.nome);
            if (!nomi.contains(nome))
                nomi << nome;
        }
        if (!nomi.isEmpty()
            && !std::any_of(righe->cbegin(), righe->cend(),
                [&d](const StatisticaRiga &r) { return r.nome == d.riga; })) {
            errore(QStringLiteral("--carta: nelle prove scelte non c'è una riga %1; le righe "
                                  "sono: %2.")
                       .arg(citaTesto(d.riga), nomi.join(QStringLiteral(", "))));
            return OpzioneNonValida;
        }
    }
    const bool senzaValori = std::all_of(
        serie->cbegin(), serie->cend(), [](const SerieCarta &s) { return s.valori.isEmpty(); });
    if (senzaValori) {
        errore(QStringLiteral("nessun valore della riga %1 nelle prove scelte: nessuna carta da "
                              "%2. Le carte contano le prove finite conforme, non conforme o "
                              "senza risposta; allargare i filtri, se ce ne sono.")
                   .arg(citaTesto(d.riga),
                       d.fissa ? QStringLiteral("fissare") : QStringLiteral("disegnare")));
        return d.fissa ? OpzioneNonValida : TutteRisposte;
    }
    if (d.fissa)
        return fissa(*serie, archivio, d, opzioni.formato);
    QList<Carta> carte;
    for (const SerieCarta &s : *serie) {
        if (!s.valori.isEmpty())
            carte.append(disegna(s, d.ancheDa5A8));
    }
    stampaCarte(carte, opzioni.formato);
    errore(QStringLiteral("%1 in %2.")
               .arg(carte.size() == 1 ? QStringLiteral("1 carta")
                                      : QStringLiteral("%1 carte").arg(carte.size()),
                   archivio.descrizione()));
    return TutteRisposte;
}

} // namespace RigaDiComando
