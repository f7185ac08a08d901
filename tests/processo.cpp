#include "processo.h"

#include <QFile>

long memoriaDiPiccoKb()
{
    QFile stato(QStringLiteral("/proc/self/status"));
    if (!stato.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &riga : stato.readAll().split('\n')) {
        if (riga.startsWith("VmHWM:"))
            return riga.mid(6).trimmed().split(' ').at(0).toLong();
    }
    return 0;
}
