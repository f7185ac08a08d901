#pragma once

#include <QProcess>
#include <QStringList>

// The peak resident memory of this process so far, in KiB (VmHWM).
long memoriaDiPiccoKb();

// The resident memory of this process now, in KiB (VmRSS).
long memoriaResidenteKb();

// The virtual instrument as a process of its own, on a link that names its line; its log read
// line by line.
class StrumentoInProva
{
public:
    ~StrumentoInProva();
    bool avvia(const QString &collegamento, const QStringList &opzioni);
    // The next line of the log that starts with inizio, or an empty text after limite ms.
    QString attendiRiga(const QString &inizio, int limite = 10000);
    bool attendiFine() { return m_processo.waitForFinished(10000); }

private:
    QProcess m_processo;
};
