#include "processo.h"

#include <QFile>

namespace {

long statoKb(const QByteArray &voce)
{
    QFile stato(QStringLiteral("/proc/self/status"));
    if (!stato.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &riga : stato.readAll().split('\n')) {
        if (riga.startsWith(voce))
            return riga.mid(voce.size()).trimmed().split(' ').at(0).toLong();
    }
    return 0;
}

} // namespace

long memoriaDiPiccoKb()
{
    return statoKb("VmHWM:");
}

long memoriaResidenteKb()
{
    return statoKb("VmRSS:");
}
