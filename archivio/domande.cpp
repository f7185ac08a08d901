#include "archivio_sql.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <tuple>

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QCoreApplication>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSysInfo>
#include <QUuid>

#include <atomic>
#include <cmath>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#endif

// The questions both databases answer with the same SQL: the runs chosen by a filter, their
// readings, the rows' statistics and the yields.

using namespace ArchivioSql;

QSet<QString> Archivio::postiFuoriServizio(const QString &stazione, const QString &banco)
{
    QSet<QString> fuori;
    if (const auto elenco = servizi(stazione, banco)) {
        for (const ServizioPosto &s : *elenco) {
            if (s.inServizio)
                fuori.remove(s.posto);
            else
                fuori.insert(s.posto);
        }
    }
    return fuori;
}

QString Archivio::condizioni(const FiltroProve &filtro, QVariantList &valori) const
{
    QStringList dove;
    const auto aggiungi = [&](const char *condizione, const QVariant &valore) {
        dove << QString::fromLatin1(condizione);
        valori << valore;
    };
    if (!filtro.unita.isEmpty()) {
        if (filtro.prefisso) {
            QString modello = filtro.unita;
            modello.replace(u'\\', QStringLiteral("\\\\"))
                .replace(u'%', QStringLiteral("\\%"))
                .replace(u'_', QStringLiteral("\\_"));
            aggiungi("p.unita LIKE ? ESCAPE '\\'", modello + u'%');
        } else {
            aggiungi("p.unita = ?", filtro.unita);
        }
    }
    if (filtro.dal.isValid())
        aggiungi("p.inizio >= ?", testoOra(filtro.dal.startOfDay()));
    if (filtro.al.isValid())
        aggiungi("p.inizio < ?", testoOra(filtro.al.addDays(1).startOfDay()));
    if (!filtro.esito.isEmpty())
        aggiungi("p.esito = ?", filtro.esito);
    if (!filtro.stazione.isEmpty())
        aggiungi("p.stazione = ?", filtro.stazione);
    if (!filtro.operatore.isEmpty())
        aggiungi("p.operatore = ?", filtro.operatore);
    if (!filtro.banco.isEmpty())
        aggiungi("p.banco = ?", filtro.banco);
    if (!filtro.shaBanco.isEmpty())
        aggiungi("COALESCE(NULLIF(p.sha_righe, ''), p.sha_banco) = ?", filtro.shaBanco);
    if (!filtro.posto.isEmpty())
        aggiungi("p.posto = ?", filtro.posto);
    if (filtro.campioni == FiltroProve::Campioni::Esclusi)
        dove << QStringLiteral("p.campione = ''");
    else if (filtro.campioni == FiltroProve::Campioni::Soltanto)
        dove << QStringLiteral("p.campione <> ''");
    return dove.isEmpty() ? QString() : dove.join(QStringLiteral(" AND "));
}

bool Archivio::perOgniProva(const FiltroProve &filtro, qint64 limite,
    const std::function<void(const ProvaArchiviata &)> &fai, qint64 salta)
{
    QVariantList valori;
    const QString dove = condizioni(filtro, valori);
    QString sql = QStringLiteral("SELECT %1 FROM prove p").arg(QLatin1String(kColonneProva));
    if (!dove.isEmpty())
        sql += QStringLiteral(" WHERE ") + dove;
    sql += QStringLiteral(" ORDER BY p.inizio DESC, p.id DESC");
    if (limite > 0)
        sql += QStringLiteral(" LIMIT %1").arg(limite);
    if (limite > 0 && salta > 0)
        sql += QStringLiteral(" OFFSET %1").arg(salta);
    return interroga(sql, valori, [&fai](const QSqlQuery &q) { fai(leggiProva(q)); });
}

std::optional<qint64> Archivio::conta(const FiltroProve &filtro)
{
    QVariantList valori;
    const QString dove = condizioni(filtro, valori);
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM prove p%1")
                  .arg(dove.isEmpty() ? QString() : QStringLiteral(" WHERE ") + dove));
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec() || !q.next()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    return q.value(0).toLongLong();
}

std::optional<QStringList> Archivio::posti(const FiltroProve &filtro)
{
    QVariantList valori;
    const QString dove = condizioni(filtro, valori);
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT DISTINCT p.posto FROM prove p WHERE p.posto <> ''%1 ORDER BY "
                             "p.posto")
                  .arg(dove.isEmpty() ? QString() : QStringLiteral(" AND ") + dove));
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    QStringList posti;
    while (q.next())
        posti << q.value(0).toString();
    return posti;
}

std::optional<QList<LetturaArchiviata>> Archivio::letture(const QString &uuid)
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM letture WHERE prova = (SELECT id FROM prove WHERE "
                             "uuid = ?) ORDER BY n")
                  .arg(QLatin1String(kColonneLettura)));
    q.addBindValue(uuid);
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    QList<LetturaArchiviata> letture;
    while (q.next())
        letture.append(leggiLettura(q));
    return letture;
}

// Per version of a bench (its SHA-256, so that a row is the same row with the same limits), sums
// in SQL over integers and reals only, the same on both databases; the deviation and Cpk from
// them here. A row's name, address and limits come from its latest reading.
std::optional<QList<StatisticaRiga>> Archivio::statistiche(
    const FiltroProve &filtro, bool ancheDa5A8)
{
    return statisticheDa(filtro, ancheDa5A8, nullptr);
}

std::optional<QList<ResaBanco>> Archivio::rese(const FiltroProve &filtro, bool conRighe)
{
    return reseDa(filtro, nullptr, !conRighe);
}

std::optional<Archivio::StatisticheERese> Archivio::statisticheERese(
    const FiltroProve &filtro, bool ancheDa5A8)
{
    QHash<qint64, QByteArray> giudizi;
    std::optional<QList<StatisticaRiga>> statistiche = statisticheDa(filtro, ancheDa5A8, &giudizi);
    if (!statistiche)
        return std::nullopt;
    std::optional<QList<ResaBanco>> rese = reseDa(filtro, &giudizi);
    if (!rese)
        return std::nullopt;
    return StatisticheERese{*statistiche, *rese};
}

std::optional<QList<StatisticaRiga>> Archivio::statisticheDa(
    const FiltroProve &filtro, bool ancheDa5A8, QHash<qint64, QByteArray> *giudizi)
{
    QList<SerieCarta> serie;
    QList<StatisticaRiga> righe;
    if (!raccogli(filtro, {}, false, serie, &righe, giudizi))
        return std::nullopt;
    QHash<std::pair<QString, int>, QList<const SerieCarta *>> perRiga;
    for (const SerieCarta &s : serie)
        perRiga[{s.versione, s.n}].append(&s);
    for (StatisticaRiga &r : righe) {
        const QList<const SerieCarta *> sue = perRiga.value({r.shaBanco, r.n});
        // σ̂ within from the moving ranges inside each socket's series: the offset between
        // two sockets is not the process's short-term spread.
        double escursioni = 0;
        qint64 quante = 0;
        QList<double> tutti;
        QSet<int> regole;
        for (const SerieCarta *s : sue) {
            for (qsizetype i = 1; i < s->valori.size(); ++i)
                escursioni += std::abs(s->valori.at(i) - s->valori.at(i - 1));
            quante += std::max<qsizetype>(0, s->valori.size() - 1);
            tutti += s->valori;
            const CartaControllo::Analisi a = analizza(*s, ancheDa5A8);
            r.fuoriControllo += a.fuoriControllo();
            for (const QList<int> &punto : a.regole) {
                for (int n : punto)
                    regole.insert(n);
            }
            if (sue.size() == 1 && a.limiti) {
                r.centro = a.limiti->centro;
                r.lcs = a.limiti->superiore();
                r.lci = a.limiti->inferiore();
                r.limitiFissati = a.fissati;
            }
        }
        r.regole = regole.values();
        std::sort(r.regole.begin(), r.regole.end());
        if (quante > 0) {
            const CartaControllo::Capacita c = CartaControllo::capacita(
                tutti, escursioni / double(quante) / CartaControllo::kD2, r.minimo, r.massimo);
            r.cp = c.cp;
            r.cpk = c.cpk;
            r.pp = c.pp;
            r.ppk = c.ppk;
        }
    }
    std::sort(righe.begin(), righe.end(), [](const StatisticaRiga &a, const StatisticaRiga &b) {
        return std::tie(a.banco, a.shaBanco, a.n) < std::tie(b.banco, b.shaBanco, b.n);
    });
    std::stable_sort(righe.begin(), righe.end(),
        [](const StatisticaRiga &a, const StatisticaRiga &b) { return a.fallite > b.fallite; });
    return righe;
}

std::optional<QList<ResaBanco>> Archivio::reseDa(
    const FiltroProve &filtro, const QHash<qint64, QByteArray> *giudizi, bool senzaRighe)
{
    // A socket's yields are those of the units first judged there: a unit that failed in a
    // socket with a worn contact and passed when tried again in another is that socket's
    // failure at the first pass, not the other's success. So a unit's runs are numbered in
    // every socket, and the socket is chosen after.
    FiltroProve tutti = filtro;
    tutti.posto.clear();
    QVariantList valori;
    const QString dove = condizioni(tutti, valori);
    // A unit's first and last run among those that judged it: a round that could not be
    // carried out or was stopped judged nothing, and is counted apart, to be read again.
    QString sql = QStringLiteral(
        "WITH scelte AS (SELECT p.id, p.banco, %2 AS versione, p.unita, p.esito, p.posto, "
        "CASE WHEN %1 THEN ROW_NUMBER() OVER (PARTITION BY p.banco, %2, p.unita, %1 "
        "ORDER BY p.inizio, p.id) END AS dal_primo, "
        "CASE WHEN %1 THEN ROW_NUMBER() OVER (PARTITION BY p.banco, %2, p.unita, %1 "
        "ORDER BY p.inizio DESC, p.id DESC) END AS dall_ultimo, "
        "FIRST_VALUE(p.posto) OVER (PARTITION BY p.banco, %2, p.unita, %1 "
        "ORDER BY p.inizio, p.id) AS posto_primo "
        "FROM prove p WHERE p.fine IS NOT NULL")
                      .arg(QLatin1String(kGiudicate), QLatin1String(kVersioneBanco));
    if (!dove.isEmpty())
        sql += QStringLiteral(" AND ") + dove;
    // The unit's socket, where one is asked for: where it was first judged; for the runs to
    // be read again, where they ran.
    const bool perPosto = !filtro.posto.isEmpty();
    const QString delPrimo = perPosto ? QStringLiteral(" AND posto_primo = ?") : QString();
    const QString qui = perPosto ? QStringLiteral(" AND posto = ?") : QString();
    const QString scelte = sql + u')';
    sql += QStringLiteral(
        ") SELECT MAX(banco), versione, "
        "COUNT(DISTINCT CASE WHEN dal_primo IS NOT NULL%1 THEN unita END), "
        "SUM(CASE WHEN dal_primo IS NOT NULL%1 THEN 1 ELSE 0 END), "
        "SUM(CASE WHEN dal_primo = 1 AND esito = 'conforme'%1 THEN 1 ELSE 0 END), "
        "SUM(CASE WHEN dall_ultimo = 1 AND esito = 'conforme'%1 THEN 1 ELSE 0 END), "
        "SUM(CASE WHEN dal_primo IS NULL%2 THEN 1 ELSE 0 END) "
        "FROM scelte GROUP BY banco, versione HAVING COUNT(CASE WHEN 1 = 1%2 THEN 1 END) + "
        "COUNT(CASE WHEN dal_primo IS NOT NULL%1 THEN 1 END) > 0 ORDER BY 1, MIN(id)")
               .arg(delPrimo, qui);
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (perPosto) {
        for (int i = 0; i < 4; ++i)
            q.addBindValue(filtro.posto);
        q.addBindValue(filtro.posto);
        q.addBindValue(filtro.posto);
        q.addBindValue(filtro.posto);
    }
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    QList<ResaBanco> rese;
    while (q.next()) {
        ResaBanco r;
        r.banco = q.value(0).toString();
        r.versione = q.value(1).toString();
        r.unita = q.value(2).toLongLong();
        r.prove = q.value(3).toLongLong();
        r.conformiAlPrimo = q.value(4).toLongLong();
        r.conformiAllUltimo = q.value(5).toLongLong();
        r.daRipetere = q.value(6).toLongLong();
        rese.append(r);
    }
    q.finish();
    if (senzaRighe)
        return rese;

    // Each row's part: how the units' first judged runs read it, and how often the judged
    // runs of the socket chosen (of all, without one) failed it. From each run's judgements by
    // row, read here unless the statistics just read them.
    QHash<qint64, QByteArray> letti;
    if (!giudizi) {
        QVariantList valoriLetture;
        const QString doveLetture = condizioni(filtro, valoriLetture);
        q.prepare(QStringLiteral("SELECT l.prova, l.n, l.giudizio FROM prove p JOIN letture l ON "
                                 "l.prova = p.id WHERE %1%2")
                      .arg(QLatin1String(kGiudicate),
                          doveLetture.isEmpty() ? QString() : QStringLiteral(" AND ") + doveLetture));
        for (const QVariant &v : valoriLetture)
            q.addBindValue(v);
        if (!q.exec()) {
            fallita(q, QStringLiteral("l'archivio non si legge"));
            return {};
        }
        while (q.next()) {
            QByteArray &dellaProva = letti[q.value(0).toLongLong()];
            const int n = q.value(1).toInt();
            if (n < 0)
                continue;
            if (dellaProva.size() <= n)
                dellaProva.resize(n + 1, char(kSenzaGiudizio));
            dellaProva[n] = char(q.value(2).toInt());
        }
        q.finish();
        giudizi = &letti;
    }
    q.prepare(scelte
        + QStringLiteral(" SELECT id, versione, dal_primo, posto, posto_primo FROM scelte WHERE "
                         "dal_primo IS NOT NULL ORDER BY id"));
    for (const QVariant &v : valori)
        q.addBindValue(v);
    if (!q.exec()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    QHash<QString, std::pair<std::vector<ResaRiga>, qint64>> perVersione; // rows, latest run
    while (q.next()) {
        const qint64 id = q.value(0).toLongLong();
        const auto g = giudizi->constFind(id);
        if (g == giudizi->constEnd())
            continue;
        const bool primaQui = q.value(2).toLongLong() == 1
            && (!perPosto || q.value(4).toString() == filtro.posto);
        const bool qui = !perPosto || q.value(3).toString() == filtro.posto;
        if (!primaQui && !qui)
            continue;
        auto &[righe, ultima] = perVersione[q.value(1).toString()];
        ultima = id;
        if (righe.size() < size_t(g->size()))
            righe.resize(g->size());
        for (qsizetype n = 0; n < g->size(); ++n) {
            const int giudizio = g->at(n);
            if (giudizio == kSenzaGiudizio)
                continue;
            ResaRiga &r = righe[n];
            r.n = int(n);
            if (primaQui) {
                ++r.unita;
                r.conformiAlPrimo += giudizio == 0 ? 1 : 0;
            }
            if (qui)
                r.fallite += giudizio > 0 ? 1 : 0;
        }
    }
    q.finish();
    // The rows' names as the latest run of each version has them.
    q.prepare(QStringLiteral("SELECT n, nome FROM letture WHERE prova = ?"));
    for (ResaBanco &resa : rese) {
        const auto v = perVersione.constFind(resa.versione);
        if (v == perVersione.constEnd())
            continue;
        q.addBindValue(v->second);
        if (!q.exec()) {
            fallita(q, QStringLiteral("l'archivio non si legge"));
            return {};
        }
        QHash<int, QString> nomi;
        while (q.next())
            nomi.insert(q.value(0).toInt(), q.value(1).toString());
        for (ResaRiga r : v->first) {
            if (r.unita == 0 && r.fallite == 0)
                continue;
            r.nome = nomi.value(r.n);
            resa.righe.append(r);
        }
    }
    return rese;
}

std::optional<std::pair<int, QString>> Archivio::precedenti(
    const QString &unita, const QString &banco)
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT COUNT(*), (SELECT esito FROM prove WHERE unita = ? AND banco "
                             "= ? ORDER BY inizio DESC, id DESC LIMIT 1) FROM prove WHERE unita = "
                             "? AND banco = ?"));
    for (const QString &v : {unita, banco, unita, banco})
        q.addBindValue(testo(v));
    if (!q.exec() || !q.next()) {
        fallita(q, QStringLiteral("l'archivio non si legge"));
        return {};
    }
    return std::make_pair(q.value(0).toInt(), q.value(1).toString());
}
