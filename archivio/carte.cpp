// The control charts' side of the archive: each row's values as a chart reads them, and the
// limits an engineer fixed.

#include "archivio_sql.h"

#include <QHash>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>
#include <tuple>

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

// A run chosen: the chart it feeds and what its points show.
struct ProvaScelta
{
    int carta = 0; // bench version and socket, as an index
    QString uuid;
    QString unita;
    QDateTime inizio;
};

} // namespace

bool Archivio::raccogli(const FiltroProve &filtro, const QString &riga, bool conPunti,
    QList<SerieCarta> &serie, QList<StatisticaRiga> *statistiche)
{
    QVariantList valori;
    const QString dove = condizioni(filtro, valori);
    const QString filtri = QLatin1String(kGiudicate)
        + (dove.isEmpty() ? QString() : QStringLiteral(" AND ") + dove);

    // The runs first, few: each run's version and socket once, not with each of its readings.
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT p.id, %1, p.posto, p.banco, p.uuid, p.unita, p.inizio FROM "
                             "prove p WHERE %2")
                  .arg(QLatin1String(kVersioneBanco), filtri));
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec())
        return fallita(q, QStringLiteral("l'archivio non si legge"));
    QHash<qint64, ProvaScelta> prove;
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
        p.carta = *c;
        if (conPunti) {
            p.uuid = q.value(4).toString();
            p.unita = q.value(5).toString();
            p.inizio = comeOra(q.value(6));
        }
        prove.insert(q.value(0).toLongLong(), p);
    }
    q.finish();

    // Then every reading, in the order the runs started: each lands on its chart's series.
    QVariantList valoriLetture = valori;
    QString sql = QStringLiteral("SELECT l.prova, l.n, l.valore, l.giudizio FROM prove p JOIN "
                                 "letture l ON l.prova = p.id WHERE %1")
                      .arg(filtri);
    if (!riga.isEmpty()) {
        sql += QStringLiteral(" AND l.nome = ?");
        valoriLetture << riga;
    }
    sql += QStringLiteral(" ORDER BY p.inizio, p.id, l.n");
    q.prepare(sql);
    for (const QVariant &v : valoriLetture)
        q.addBindValue(v);
    if (!q.exec())
        return fallita(q, QStringLiteral("l'archivio non si legge"));

    struct Somme
    {
        qint64 letture = 0, conValore = 0, fuori = 0, fallite = 0;
        double somma = 0, quadrati = 0, minimo = 0, massimo = 0;
        qint64 ultimaProva = 0;
        int banco = 0; // the chart whose bench name the row takes
    };
    QHash<qint64, int> indiceSerie; // chart × row → series
    QHash<std::pair<QString, int>, Somme> somme; // version × row
    QList<qint64> ultimaProvaSerie;
    while (q.next()) {
        const qint64 idProva = q.value(0).toLongLong();
        const auto p = prove.constFind(idProva);
        if (p == prove.constEnd())
            continue; // a run that ended between the two questions
        const int n = q.value(1).toInt();
        const QVariant valore = q.value(2);
        const bool conValore = !valore.isNull();
        const int giudizio = q.value(3).toInt();
        if (statistiche) {
            Somme &s = somme[{carteInOrdine.at(p->carta).first, n}];
            ++s.letture;
            s.fuori += giudizio == int(LetturaArchiviata::Giudizio::FuoriDaiLimiti) ? 1 : 0;
            s.fallite += giudizio > 0 ? 1 : 0;
            s.ultimaProva = idProva;
            s.banco = p->carta;
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
        const qint64 chiave = (qint64(p->carta) << 32) | quint32(n);
        auto i = indiceSerie.constFind(chiave);
        if (i == indiceSerie.constEnd()) {
            i = indiceSerie.insert(chiave, int(serie.size()));
            SerieCarta nuova;
            nuova.banco = banchi.at(p->carta);
            nuova.versione = carteInOrdine.at(p->carta).first;
            nuova.posto = carteInOrdine.at(p->carta).second;
            nuova.n = n;
            serie.append(nuova);
            ultimaProvaSerie.append(0);
        }
        SerieCarta &s = serie[*i];
        s.valori.append(valore.toDouble());
        ultimaProvaSerie[*i] = idProva;
        if (conPunti) {
            s.prove.append(p->uuid);
            s.unita.append(p->unita);
            s.inizi.append(p->inizio);
        }
    }
    q.finish();

    // Each row's name, unit and limits as its latest run had them.
    QSqlQuery r(database());
    r.setForwardOnly(true);
    r.prepare(QStringLiteral("SELECT nome, minimo, massimo, unita_misura FROM letture WHERE "
                             "prova = ? AND n = ?"));
    const auto descrivi = [&](qint64 prova, int n, QString &nome, std::optional<double> &minimo,
                              std::optional<double> &massimo, QString &unitaMisura) {
        r.addBindValue(prova);
        r.addBindValue(n);
        if (!r.exec() || !r.next())
            return fallita(r, QStringLiteral("l'archivio non si legge"));
        nome = r.value(0).toString();
        minimo = facoltativo(r.value(1));
        massimo = facoltativo(r.value(2));
        unitaMisura = r.value(3).toString();
        r.finish();
        return true;
    };
    for (qsizetype i = 0; i < serie.size(); ++i) {
        SerieCarta &s = serie[i];
        if (!descrivi(ultimaProvaSerie.at(i), s.n, s.nome, s.minimo, s.massimo, s.unitaMisura))
            return false;
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
    for (auto s = somme.cbegin(); s != somme.cend(); ++s) {
        StatisticaRiga riga;
        riga.shaBanco = s.key().first;
        riga.n = s.key().second;
        riga.banco = banchi.at(s->banco);
        riga.letture = s->letture;
        riga.conValore = s->conValore;
        riga.fuoriDaiLimiti = s->fuori;
        riga.fallite = s->fallite;
        if (!descrivi(s->ultimaProva, riga.n, riga.nome, riga.minimo, riga.massimo,
                riga.unitaMisura))
            return false;
        if (s->conValore > 0) {
            const double n = double(s->conValore);
            riga.media = s->somma / n;
            riga.valoreMinimo = s->minimo;
            riga.valoreMassimo = s->massimo;
            if (s->conValore >= 2) {
                const double varianza = (s->quadrati - s->somma * s->somma / n) / (n - 1);
                riga.deviazione = std::sqrt(std::max(0.0, varianza));
                // Rounding leaves a trace of spread in values that are all the same.
                if (s->minimo == s->massimo)
                    riga.deviazione = 0.0;
            }
        }
        statistiche->append(riga);
    }
    return true;
}

std::optional<QList<SerieCarta>> Archivio::serieCarta(
    const FiltroProve &filtro, const QString &riga, bool conPunti)
{
    QList<SerieCarta> serie;
    if (!raccogli(filtro, riga, conPunti, serie, nullptr))
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
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM limiti_carta%2 ORDER BY quando, id")
                  .arg(QLatin1String(kColonneLimiti),
                      versione.isEmpty() ? QString() : QStringLiteral(" WHERE versione = ?")));
    if (!versione.isEmpty())
        q.addBindValue(versione);
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return std::nullopt;
    }
    QList<LimitiCarta> elenco;
    while (q.next())
        elenco.append(leggiLimiti(q));
    return elenco;
}

std::optional<QList<LimitiCarta>> Archivio::limitiDaInviare(int quanti)
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM limiti_carta WHERE inviato = 0 ORDER BY id LIMIT %2")
                  .arg(QLatin1String(kColonneLimiti), QString::number(quanti)));
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return std::nullopt;
    }
    QList<LimitiCarta> elenco;
    while (q.next())
        elenco.append(leggiLimiti(q));
    return elenco;
}

bool Archivio::riceviLimiti(const QList<LimitiCarta> &limiti)
{
    QSqlDatabase db = database();
    const QString che = QStringLiteral("il server non riceve i limiti delle carte di controllo");
    if (!db.transaction())
        return fallita(QSqlQuery(db), che);
    QSqlQuery q(db);
    // One already there (sent before, its acknowledgement lost) is left as it is.
    q.prepare(QStringLiteral("INSERT INTO limiti_carta (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, "
                             "?, ?, ?) ON CONFLICT (uuid) DO NOTHING")
                  .arg(QLatin1String(kColonneLimiti)));
    for (const LimitiCarta &l : limiti) {
        legaLimiti(q, l);
        if (!q.exec()) {
            fallita(q, che);
            db.rollback();
            return false;
        }
    }
    if (!db.commit())
        return fallita(q, che);
    return true;
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

CartaControllo::Analisi analizza(const SerieCarta &serie, bool ancheDa5A8)
{
    std::optional<CartaControllo::Limiti> fissati;
    if (serie.fissati) {
        CartaControllo::Limiti l;
        l.centro = serie.fissati->centro;
        l.mrMedio = serie.fissati->mrMedio;
        l.sigma = l.mrMedio / CartaControllo::kD2;
        fissati = l;
    }
    return CartaControllo::analizza(serie.valori, fissati, ancheDa5A8);
}
