#include "processo.h"

#include <QElapsedTimer>
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

StrumentoInProva::~StrumentoInProva()
{
    m_processo.terminate();
    m_processo.waitForFinished(5000);
}

bool StrumentoInProva::avvia(const QString &collegamento, const QStringList &opzioni)
{
    m_processo.start(
        QStringLiteral(BANCO_STRUMENTO), QStringList{"--collegamento", collegamento} + opzioni);
    return !attendiRiga("strumento virtuale su").isEmpty();
}

QString StrumentoInProva::attendiRiga(const QString &inizio, int limite)
{
    QElapsedTimer orologio;
    orologio.start();
    while (orologio.elapsed() < limite) {
        while (m_processo.canReadLine()) {
            const QString riga = QString::fromUtf8(m_processo.readLine()).trimmed();
            if (riga.startsWith(inizio))
                return riga;
        }
        m_processo.waitForReadyRead(100);
    }
    return {};
}
