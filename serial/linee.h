#pragma once

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>

// The lines of this program, each known by its device as the system resolves it (after
// BANCO_PORTA<N> and symbolic links, so that two names of one adapter are one line). A line is
// lent to one user at a time: a station's sockets or banco-richiesta's take it for their rounds,
// and the panel, the table and the repetition find it busy until it is given back. Safe to call
// from any thread.
class Linee : public QObject
{
    Q_OBJECT

public:
    static Linee &istanza();

    // The device a port number opens, resolved; throws Errore when no device answers to it.
    static QString risolvi(int porta);
    // A device's path resolved: the file its symbolic links lead to, where it exists.
    static QString risolvi(const QString &dispositivo);

    // Lends the device to chi; false, with who holds it, when another does. The same user may
    // take a line it holds again: it is given back when each take has been.
    bool prendi(const QString &dispositivo, const QString &chi, QString *occupante = nullptr);
    void lascia(const QString &dispositivo, const QString &chi);
    // Who holds the device now; empty when it is free.
    QString occupante(const QString &dispositivo) const;

signals:
    // The device was lent: whoever keeps it open for another use closes it.
    void prestata(const QString &dispositivo, const QString &chi);
    void restituita(const QString &dispositivo);

private:
    Linee() = default;

    struct Prestito
    {
        QString chi;
        int volte = 0;
    };
    mutable QMutex m_mutex;
    QHash<QString, Prestito> m_prestiti;
};
