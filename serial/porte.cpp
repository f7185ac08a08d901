#include "porte.h"

#include "errore.h"

#include <QSerialPortInfo>
#include <QMutex>
#include <QSet>
#include <QStringList>

#include <algorithm>

namespace Porte {
namespace {

QString variabile(int numero)
{
    return QStringLiteral("BANCO_PORTA%1").arg(numero);
}

// The numbers a person gave as a device's path, for as long as the program runs, like the
// variables that map them.
// Lines in threads of their own ask it too: under kMutex.
QSet<int> &daPercorso()
{
    static QSet<int> numeri;
    return numeri;
}
QMutex kMutex;

#ifndef Q_OS_WIN
QStringList porteDelSistema()
{
    QStringList percorsi;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        percorsi.append(info.systemLocation());
    std::sort(percorsi.begin(), percorsi.end());
    return percorsi;
}
#endif

} // namespace

// The variable BANCO_PORTA<N> names port N's device on every system; banco-richiesta --porta
// with a device's path sets it for port 1.
QString dispositivo(int numero)
{
    if (numero >= 1) {
        const QString daVariabile = qEnvironmentVariable(qPrintable(variabile(numero))).trimmed();
        if (!daVariabile.isEmpty())
            return daVariabile;
#ifdef Q_OS_WIN
        return QStringLiteral("COM%1").arg(numero);
#else
        const QStringList porte = porteDelSistema();
        if (numero <= porte.size())
            return porte.at(numero - 1);
#endif
    }
    throw Errore(CodiceErrore::NessunDispositivo,
        QStringLiteral("Porta %1: nessun dispositivo seriale corrisponde a questo "
                       "numero. %2")
            .arg(numero)
            .arg(elenco()));
}

int numeroPerDispositivo(const QString &percorso)
{
    for (int numero = kPrimoPerDispositivo;; ++numero) {
        const QString attuale = qEnvironmentVariable(qPrintable(variabile(numero)));
        if (attuale == percorso || attuale.isEmpty()) {
            assegna(numero, percorso);
            return numero;
        }
    }
}

void assegna(int numero, const QString &percorso)
{
    qputenv(qPrintable(variabile(numero)), percorso.toLocal8Bit());
    const QMutexLocker blocco(&kMutex);
    daPercorso().insert(numero);
}

Origine origine(int numero)
{
    {
        const QMutexLocker blocco(&kMutex);
        if (daPercorso().contains(numero))
            return Origine::Percorso;
    }
    if (!qEnvironmentVariable(qPrintable(variabile(numero))).trimmed().isEmpty())
        return Origine::Variabile;
    return Origine::Sistema;
}

QString elenco()
{
#ifdef Q_OS_WIN
    QStringList voci;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        voci.append(info.portName());
    if (voci.isEmpty())
        return QStringLiteral("Nessuna porta seriale trovata: collegare l'adattatore.");
    return QStringLiteral("Porte disponibili: %1.").arg(voci.join(QStringLiteral(", ")));
#else
    QStringList voci;
    const QStringList porte = porteDelSistema();
    for (qsizetype i = 0; i < porte.size(); ++i)
        voci.append(QStringLiteral("%1 = %2").arg(i + 1).arg(porte.at(i)));
    if (voci.isEmpty()) {
        return QStringLiteral("Nessuna porta seriale trovata: collegare l'adattatore, oppure "
                              "indicare il dispositivo con la variabile BANCO_PORTA<numero> "
                              "(per esempio BANCO_PORTA1=/dev/ttyUSB0).");
    }
    return QStringLiteral("Porte disponibili: %1.").arg(voci.join(QStringLiteral(", ")));
#endif
}

} // namespace Porte
