#pragma once

#include <QMetaObject>
#include <QMutex>
#include <QObject>

#include <chrono>

class QThread;

// The threads that talk to the line's server. A server that went away can hold one of them in a
// call for as long as the network decides (a hung server, a cable pulled: no answer and no
// refusal), and no window may wait for that.
namespace FiloDelServer {

// Ends the thread if it ends within attesa; one still held is left to end by itself and delete
// itself then, and counted until it does.
void congeda(QThread *filo, std::chrono::milliseconds attesa = std::chrono::milliseconds(200));
// Threads left held: the program ends without waiting for them (std::_Exit).
bool qualcunoSospeso();

// Where such a thread leaves its answers for an object of the owner's thread, which may be gone
// by the time they come: then they are dropped.
class Casella
{
public:
    explicit Casella(QObject *destinatario)
        : m_destinatario(destinatario)
    { }

    // The owner is going: nothing more is delivered.
    void chiudi()
    {
        const QMutexLocker chiusa(&m_mutex);
        m_destinatario = nullptr;
    }

    // fai runs in the owner's thread, unless the owner has gone.
    template<typename Funzione> void consegna(Funzione &&fai)
    {
        const QMutexLocker chiusa(&m_mutex);
        if (m_destinatario)
            QMetaObject::invokeMethod(
                m_destinatario, std::forward<Funzione>(fai), Qt::QueuedConnection);
    }

private:
    QMutex m_mutex;
    QObject *m_destinatario;
};

} // namespace FiloDelServer
