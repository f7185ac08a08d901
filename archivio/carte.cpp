// The control charts' side of the archive: each row's values as a chart reads them, and the
// limits an engineer fixed.

#include "archivio_sql.h"

using namespace ArchivioSql;

std::optional<QList<SerieCarta>> Archivio::serieCarta(
    const FiltroProve &, const QString &, bool)
{
    return QList<SerieCarta>{};
}

bool Archivio::fissaLimiti(LimitiCarta &)
{
    return false;
}

std::optional<QList<LimitiCarta>> Archivio::limitiFissati(const QString &)
{
    return QList<LimitiCarta>{};
}

std::optional<QList<LimitiCarta>> Archivio::limitiDaInviare(int)
{
    return QList<LimitiCarta>{};
}

bool Archivio::riceviLimiti(const QList<LimitiCarta> &)
{
    return true;
}

bool Archivio::segnaLimitiInviati(const QStringList &)
{
    return true;
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
