// The control charts' side of the archive: each row's values as a chart reads them, and the
// limits an engineer fixed.

#include "archivio_sql.h"

#include <QHash>
#include <QSqlQuery>

#include <algorithm>
#include <limits>
#include <numeric>
#include <cmath>
#include <tuple>
#include <vector>

using namespace ArchivioSql;

namespace {

const char kColonneLimiti[] = "uuid, stazione, operatore, quando, banco, versione, posto, n, nome, "
                              "centro, mr_medio, valori";

LimitiCarta leggiLimiti(const QSqlQuery &q)
{
    LimitiCarta l;
    l.uuid = q.value(0).toString();
    l.stazione = q.value(1).toString();
    l.operatore = q.value(2).toString();
    l.quando = comeOra(q.value(3));
    l.banco = q.value(4).toString();
    l.versione = q.value(5).toString();
    l.posto = q.value(6).toString();
    l.n = q.value(7).toInt();
    l.nome = q.value(8).toString();
    l.centro = q.value(9).toDouble();
    l.mrMedio = q.value(10).toDouble();
    l.valori = q.value(11).toLongLong();
    return l;
}

void legaLimiti(QSqlQuery &q, const LimitiCarta &l)
{
    for (const QVariant &v : {QVariant(l.uuid), QVariant(testo(l.stazione)),
             QVariant(testo(l.operatore)), QVariant(testoOra(l.quando)), QVariant(testo(l.banco)),
             QVariant(testo(l.versione)), QVariant(testo(l.posto)), QVariant(l.n),
             QVariant(testo(l.nome)), QVariant(l.centro), QVariant(l.mrMedio),
             QVariant(l.valori)})
        q.addBindValue(v);
}

// Rows a run may have, as readings are read by the million: the row's number and its judgement
// travel packed with the run's id.
constexpr qint64 kRighePerProva = 1 << 20;

// A run chosen: the chart it feeds and what its points show.
struct ProvaScelta
{
    qint64 id = 0;
    int carta = 0; // bench version and socket, as an index
    QString uuid;
    QString unita;
    QDateTime inizio;
};

} // namespace

bool Archivio::raccogli(const FiltroProve &filtro, const QString &riga, bool conPunti,
    QList<SerieCarta> &serie, QList<StatisticaRiga> *statistiche, QHash<qint64, QByteArray> *giudizi)
{
    QVariantList valori;
    const QString dove = condizioni(filtro, valori);
    const QString filtri = QLatin1String(kGiudicate)
        + (dove.isEmpty() ? QString() : QStringLiteral(" AND ") + dove);

    // The runs first, few: each run's version and socket once, not with each of its readings.
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT p.id, %1, p.posto, p.banco, p.uuid, p.unita, p.inizio FROM "
                             "prove p WHERE %2 ORDER BY p.inizio, p.id")
                  .arg(QLatin1String(kVersioneBanco), filtri));
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec())
        return fallita(q, QStringLiteral("l'archivio non si legge"));
    // In the order they started: a reading's place in its series is its run's here.
    QList<ProvaScelta> prove;
    QHash<std::pair<QString, QString>, int> carte; // (version, socket) → index
    QList<std::pair<QString, QString>> carteInOrdine;
    QList<QString> banchi; // each chart's bench name
    while (q.next()) {
        const std::pair<QString, QString> chiave{q.value(1).toString(), q.value(2).toString()};
        auto c = carte.constFind(chiave);
        if (c == carte.constEnd()) {
            c = carte.insert(chiave, int(carteInOrdine.size()));
            carteInOrdine.append(chiave);
            banchi.append(q.value(3).toString());
        }
        ProvaScelta p;
        p.id = q.value(0).toLongLong();
        p.carta = *c;
        if (conPunti) {
            p.uuid = q.value(4).toString();
            p.unita = q.value(5).toString();
            p.inizio = comeOra(q.value(6));
        }
        prove.append(p);
    }
    q.finish();

    // Then every reading, in whatever order the database finds them quickest (a server sorting a
    // million readings by their run's start spends more than the pass itself): each lands on its
    // chart's series with its run's place, and a series out of order is put in order after.
    QVariantList valoriLetture = valori;
    // The run, the row and its judgement in one number: each column read costs the program more
    // than the database.
    QString sql = QStringLiteral("SELECT (l.prova * %2 + l.n) * 16 + l.giudizio, l.valore FROM "
                                 "prove p JOIN letture l ON l.prova = p.id WHERE %1 AND l.n >= 0 AND l.n < %2 "
                                 "AND l.giudizio >= 0 AND l.giudizio < 16")
                      .arg(filtri, QString::number(kRighePerProva));
    if (!riga.isEmpty()) {
        sql += QStringLiteral(" AND l.nome = ?");
        valoriLetture << riga;
    }
    q.prepare(sql);
    for (const QVariant &v : valoriLetture)
        q.addBindValue(v);
    if (!q.exec())
        return fallita(q, QStringLiteral("l'archivio non si legge"));

    struct Somme
    {
        qint64 letture = 0, conValore = 0, fuori = 0, fallite = 0;
        double somma = 0, quadrati = 0, minimo = 0, massimo = 0;
        int ultimaProva = -1; // the latest run's place
        int carta = 0; // the chart whose bench name the row takes
        bool usata = false;
    };
    // Indexed by version (or chart) and row, not hashed: a million readings pass here.
    QStringList versioni;
    QList<int> versioneDellaCarta;
    for (const auto &[versione, posto] : std::as_const(carteInOrdine)) {
        qsizetype v = versioni.indexOf(versione);
        if (v < 0) {
            v = versioni.size();
            versioni.append(versione);
        }
        versioneDellaCarta.append(int(v));
    }
    std::vector<std::vector<Somme>> somme(versioni.size());
    std::vector<std::vector<int>> indiceSerie(carteInOrdine.size()); // chart × row → series
    std::vector<QList<int>> ordini; // each series' values' places
    qint64 fuoriOrdine = 0;
    qint64 idCorrente = -1;
    // A server hands readings in no order of runs: each reading finds its run's place, by the
    // id's distance from the first where the ids chosen lie close together.
    qint64 primoId = std::numeric_limits<qint64>::max(), ultimoId = 0;
    for (const ProvaScelta &p : std::as_const(prove)) {
        primoId = std::min(primoId, p.id);
        ultimoId = std::max(ultimoId, p.id);
    }
    std::vector<int> ordinePerDistanza;
    QHash<qint64, int> ordineDi;
    if (!prove.isEmpty() && ultimoId - primoId < 4 * qint64(prove.size()) + 1024) {
        ordinePerDistanza.assign(size_t(ultimoId - primoId + 1), -1);
        for (qsizetype o = 0; o < prove.size(); ++o)
            ordinePerDistanza[size_t(prove.at(o).id - primoId)] = int(o);
    } else {
        for (qsizetype o = 0; o < prove.size(); ++o)
            ordineDi.insert(prove.at(o).id, int(o));
    }
    const auto ordineDella = [&](qint64 id) {
        if (!ordinePerDistanza.empty()) {
            return id >= primoId && id <= ultimoId ? ordinePerDistanza[size_t(id - primoId)] : -1;
        }
        return ordineDi.value(id, -1);
    };
    std::vector<QByteArray> giudiziPerOrdine(giudizi ? size_t(prove.size()) : 0);
    const ProvaScelta *p = nullptr;
    int ordine = -1;
    QByteArray *giudiziProva = nullptr;
    while (q.next()) {
        const qint64 chiave = q.value(0).toLongLong();
        const qint64 idProva = chiave / 16 / kRighePerProva;
        if (idProva != idCorrente) {
            idCorrente = idProva;
            ordine = ordineDella(idProva);
            p = ordine < 0 ? nullptr : &prove.at(ordine);
            giudiziProva = giudizi && p ? &giudiziPerOrdine[size_t(ordine)] : nullptr;
        }
        if (!p)
            continue; // a run that ended between the two questions
        const int n = int(chiave / 16 % kRighePerProva);
        if (n < 0)
            continue;
        const QVariant valore = q.value(1);
        const bool conValore = !valore.isNull();
        const int giudizio = int(chiave % 16);
        if (giudiziProva) {
            if (giudiziProva->size() <= n)
                giudiziProva->resize(n + 1, char(kSenzaGiudizio));
            (*giudiziProva)[n] = char(giudizio);
        }
        if (statistiche) {
            std::vector<Somme> &dellaVersione = somme[versioneDellaCarta.at(p->carta)];
            if (dellaVersione.size() <= size_t(n))
                dellaVersione.resize(n + 1);
            Somme &s = dellaVersione[n];
            s.usata = true;
            ++s.letture;
            s.fuori += giudizio == int(LetturaArchiviata::Giudizio::FuoriDaiLimiti) ? 1 : 0;
            s.fallite += giudizio > 0 ? 1 : 0;
            s.ultimaProva = std::max(s.ultimaProva, ordine);
            s.carta = p->carta;
            if (conValore) {
                const double x = valore.toDouble();
                s.minimo = s.conValore == 0 ? x : std::min(s.minimo, x);
                s.massimo = s.conValore == 0 ? x : std::max(s.massimo, x);
                ++s.conValore;
                s.somma += x;
                s.quadrati += x * x;
            }
        }
        if (!conValore)
            continue;
        std::vector<int> &dellaCarta = indiceSerie[p->carta];
        if (dellaCarta.size() <= size_t(n))
            dellaCarta.resize(n + 1, -1);
        if (dellaCarta[n] < 0) {
            dellaCarta[n] = int(serie.size());
            SerieCarta nuova;
            nuova.banco = banchi.at(p->carta);
            nuova.versione = carteInOrdine.at(p->carta).first;
            nuova.posto = carteInOrdine.at(p->carta).second;
            nuova.n = n;
            serie.append(nuova);
            ordini.emplace_back();
        }
        const int i = dellaCarta[n];
        QList<int> &posti = ordini[i];
        fuoriOrdine += !posti.isEmpty() && posti.last() > ordine ? 1 : 0;
        posti.append(ordine);
        serie[i].valori.append(valore.toDouble());
    }
    q.finish();
    for (size_t o = 0; o < giudiziPerOrdine.size(); ++o) {
        if (!giudiziPerOrdine[o].isEmpty())
            giudizi->insert(prove.at(qsizetype(o)).id, std::move(giudiziPerOrdine[o]));
    }

    for (qsizetype i = 0; i < serie.size(); ++i) {
        SerieCarta &s = serie[i];
        QList<int> &posti = ordini[i];
        if (fuoriOrdine > 0 && !std::is_sorted(posti.cbegin(), posti.cend())) {
            // A run reads each row once: no two values share a place.
            std::vector<qsizetype> indici(posti.size());
            std::iota(indici.begin(), indici.end(), 0);
            std::sort(indici.begin(), indici.end(),
                [&](qsizetype a, qsizetype b) { return posti.at(a) < posti.at(b); });
            QList<double> valoriInOrdine;
            QList<int> postiInOrdine;
            valoriInOrdine.reserve(posti.size());
            postiInOrdine.reserve(posti.size());
            for (const qsizetype j : indici) {
                valoriInOrdine.append(s.valori.at(j));
                postiInOrdine.append(posti.at(j));
            }
            s.valori = std::move(valoriInOrdine);
            posti = std::move(postiInOrdine);
        }
        if (conPunti) {
            for (const int o : std::as_const(posti)) {
                s.prove.append(prove.at(o).uuid);
                s.unita.append(prove.at(o).unita);
                s.inizi.append(prove.at(o).inizio);
            }
        }
    }

    // Each row's name, unit and limits as its latest run had them.
    QSqlQuery r(database());
    r.setForwardOnly(true);
    r.prepare(QStringLiteral("SELECT nome, minimo, massimo, unita_misura, strumento, memoria FROM "
                             "letture WHERE prova = ? AND n = ?"));
    struct Descrizione
    {
        QString nome, memoria, unitaMisura;
        int strumento = 0;
        std::optional<double> minimo, massimo;
    };
    const auto descrivi = [&](qint64 prova, int n, Descrizione &d) {
        r.addBindValue(prova);
        r.addBindValue(n);
        if (!r.exec() || !r.next())
            return fallita(r, QStringLiteral("l'archivio non si legge"));
        d.nome = r.value(0).toString();
        d.minimo = facoltativo(r.value(1));
        d.massimo = facoltativo(r.value(2));
        d.unitaMisura = r.value(3).toString();
        d.strumento = r.value(4).toInt();
        d.memoria = r.value(5).toString();
        r.finish();
        return true;
    };
    for (qsizetype i = 0; i < serie.size(); ++i) {
        SerieCarta &s = serie[i];
        Descrizione d;
        if (!descrivi(prove.at(ordini[i].last()).id, s.n, d))
            return false;
        s.nome = d.nome;
        s.minimo = d.minimo;
        s.massimo = d.massimo;
        s.unitaMisura = d.unitaMisura;
    }

    // The latest set fixed for each chart.
    const std::optional<QList<LimitiCarta>> fissati = limitiFissati();
    if (!fissati)
        return false;
    for (SerieCarta &s : serie) {
        for (const LimitiCarta &l : *fissati) {
            if (l.versione == s.versione && l.posto == s.posto && l.n == s.n)
                s.fissati = l;
        }
    }
    std::stable_sort(serie.begin(), serie.end(), [](const SerieCarta &a, const SerieCarta &b) {
        return std::tie(a.banco, a.posto, a.n) < std::tie(b.banco, b.posto, b.n);
    });

    if (!statistiche)
        return true;
    for (qsizetype v = 0; v < versioni.size(); ++v) {
        for (size_t n = 0; n < somme[v].size(); ++n) {
            const Somme &s = somme[v][n];
            if (!s.usata)
                continue;
            StatisticaRiga riga;
            riga.shaBanco = versioni.at(v);
            riga.n = int(n);
            riga.banco = banchi.at(s.carta);
            riga.letture = s.letture;
            riga.conValore = s.conValore;
            riga.fuoriDaiLimiti = s.fuori;
            riga.fallite = s.fallite;
            Descrizione d;
            if (!descrivi(prove.at(s.ultimaProva).id, riga.n, d))
                return false;
            riga.nome = d.nome;
            riga.minimo = d.minimo;
            riga.massimo = d.massimo;
            riga.unitaMisura = d.unitaMisura;
            riga.strumento = d.strumento;
            riga.memoria = d.memoria;
            if (s.conValore > 0) {
                const double quante = double(s.conValore);
                riga.media = s.somma / quante;
                riga.valoreMinimo = s.minimo;
                riga.valoreMassimo = s.massimo;
                if (s.conValore >= 2) {
                    const double varianza = (s.quadrati - s.somma * s.somma / quante) / (quante - 1);
                    riga.deviazione = std::sqrt(std::max(0.0, varianza));
                    // Rounding leaves a trace of spread in values that are all the same.
                    if (s.minimo == s.massimo)
                        riga.deviazione = 0.0;
                }
            }
            statistiche->append(riga);
        }
    }
    return true;
}

std::optional<QList<SerieCarta>> Archivio::serieCarta(
    const FiltroProve &filtro, const QString &riga, bool conPunti)
{
    QList<SerieCarta> serie;
    if (!raccogli(filtro, riga, conPunti, serie, nullptr, nullptr))
        return std::nullopt;
    return serie;
}

bool Archivio::fissaLimiti(LimitiCarta &limiti)
{
    if (limiti.uuid.isEmpty())
        limiti.uuid = nuovoUuid();
    if (!limiti.quando.isValid())
        limiti.quando = QDateTime::currentDateTimeUtc();
    QSqlQuery q(database());
    q.prepare(QStringLiteral("INSERT INTO limiti_carta (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, "
                             "?, ?, ?)")
                  .arg(QLatin1String(kColonneLimiti)));
    legaLimiti(q, limiti);
    if (!q.exec())
        return fallita(q, QStringLiteral("i limiti non si registrano"));
    return true;
}

std::optional<QList<LimitiCarta>> Archivio::limitiFissati(const QString &versione)
{
    return elencoLimiti(versione.isEmpty() ? QStringLiteral("ORDER BY quando, id")
                                           : QStringLiteral("WHERE versione = ? ORDER BY quando, id"),
        versione.isEmpty() ? QVariantList{} : QVariantList{versione});
}

std::optional<QList<LimitiCarta>> Archivio::limitiDaInviare(int quanti)
{
    return elencoLimiti(
        QStringLiteral("WHERE inviato = 0 ORDER BY id LIMIT %1").arg(quanti), {});
}

std::optional<QList<LimitiCarta>> Archivio::elencoLimiti(
    const QString &scelta, const QVariantList &valori)
{
    QList<LimitiCarta> elenco;
    if (!interroga(
            QStringLiteral("SELECT %1 FROM limiti_carta %2").arg(QLatin1String(kColonneLimiti), scelta),
            valori, [&elenco](const QSqlQuery &q) { elenco.append(leggiLimiti(q)); }))
        return std::nullopt;
    return elenco;
}

bool Archivio::riceviLimiti(const QList<LimitiCarta> &limiti)
{
    return riceviInUnaTransazione(
        QStringLiteral("INSERT INTO limiti_carta (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                       "ON CONFLICT (uuid) DO NOTHING")
            .arg(QLatin1String(kColonneLimiti)),
        QStringLiteral("il server non riceve i limiti delle carte di controllo"), limiti.size(),
        [&limiti](QSqlQuery &q, qsizetype i) { legaLimiti(q, limiti[i]); });
}

bool Archivio::segnaLimitiInviati(const QStringList &uuid)
{
    return segnaInviati("UPDATE limiti_carta SET inviato = 1 WHERE uuid = ?", uuid);
}

std::optional<LimitiCarta> limitiDellaSerie(
    const SerieCarta &serie, const QString &stazione, const QString &operatore)
{
    const std::optional<CartaControllo::Limiti> l = CartaControllo::limiti(serie.valori);
    if (!l)
        return std::nullopt;
    LimitiCarta f;
    f.stazione = stazione;
    f.operatore = operatore;
    f.quando = QDateTime::currentDateTimeUtc();
    f.banco = serie.banco;
    f.versione = serie.versione;
    f.posto = serie.posto;
    f.n = serie.n;
    f.nome = serie.nome;
    f.centro = l->centro;
    f.mrMedio = l->mrMedio;
    f.valori = serie.valori.size();
    return f;
}

std::optional<CartaControllo::Limiti> limitiFissati(const SerieCarta &serie)
{
    if (!serie.fissati)
        return std::nullopt;
    CartaControllo::Limiti l;
    l.centro = serie.fissati->centro;
    l.mrMedio = serie.fissati->mrMedio;
    l.sigma = l.mrMedio / CartaControllo::kD2;
    return l;
}

CartaControllo::Analisi analizza(const SerieCarta &serie, bool ancheDa5A8)
{
    return CartaControllo::analizza(serie.valori, limitiFissati(serie), ancheDa5A8);
}
