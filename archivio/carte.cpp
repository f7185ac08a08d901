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
