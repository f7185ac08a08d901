#include "linee.h"

#include "porte.h"

#include <QFileInfo>

Linee &Linee::istanza()
{
    static Linee linee;
    return linee;
}

QString Linee::risolvi(int porta)
{
    return risolvi(Porte::dispositivo(porta));
}

QString Linee::risolvi(const QString &dispositivo)
{
    const QString vero = QFileInfo(dispositivo).canonicalFilePath();
    return vero.isEmpty() ? dispositivo : vero;
}

bool Linee::prendi(const QString &dispositivo, const QString &chi, QString *occupante)
{
    {
        const QMutexLocker blocco(&m_mutex);
        Prestito &prestito = m_prestiti[dispositivo];
        if (prestito.volte > 0 && prestito.chi != chi) {
            if (occupante)
                *occupante = prestito.chi;
            return false;
        }
        prestito.chi = chi;
        if (prestito.volte++ > 0)
            return true;
    }
    emit prestata(dispositivo, chi);
    return true;
}

void Linee::lascia(const QString &dispositivo, const QString &chi)
{
    {
        const QMutexLocker blocco(&m_mutex);
        const auto prestito = m_prestiti.find(dispositivo);
        if (prestito == m_prestiti.end() || prestito->chi != chi || --prestito->volte > 0)
            return;
        m_prestiti.erase(prestito);
    }
    emit restituita(dispositivo);
}

QString Linee::occupante(const QString &dispositivo) const
{
    const QMutexLocker blocco(&m_mutex);
    return m_prestiti.value(dispositivo).chi;
}
