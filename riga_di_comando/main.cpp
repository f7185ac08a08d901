// banco-richiesta: the panel's request from the command line, for scripts and production lines.

#include "filo_del_server.h"
#include "modi.h"
#include "opzioni.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

RigaDiComando::Modo *g_modo = nullptr;

#ifdef Q_OS_WIN
// The program writes UTF-8, as on Linux; the console is told so for as long as the program
// runs, so that accents and guillemets come out right in any Windows console.
class ConsoleUtf8
{
public:
    ConsoleUtf8()
        : m_prima(::GetConsoleOutputCP())
    {
        if (m_prima != 0)
            ::SetConsoleOutputCP(CP_UTF8);
    }
    ~ConsoleUtf8()
    {
        if (m_prima != 0)
            ::SetConsoleOutputCP(m_prima);
    }
    ConsoleUtf8(const ConsoleUtf8 &) = delete;
    ConsoleUtf8 &operator=(const ConsoleUtf8 &) = delete;

private:
    const UINT m_prima;
};

// Called on a thread of its own: the repetition is told through its event queue.
BOOL WINAPI controlloConsole(DWORD evento)
{
    if (evento != CTRL_C_EVENT && evento != CTRL_BREAK_EVENT && evento != CTRL_CLOSE_EVENT)
        return FALSE;
    QMetaObject::invokeMethod(g_modo, &RigaDiComando::Modo::fermati, Qt::QueuedConnection);
    return TRUE;
}
#else
int g_segnali[2] = {-1, -1};

// Only what a signal handler may do: one byte into a socket the event loop watches. A second
// Ctrl+C ends the program at once.
void segnale(int numero)
{
    const char c = 1;
    [[maybe_unused]] const auto scritti = ::write(g_segnali[1], &c, 1);
    std::signal(numero, SIG_DFL);
}
#endif

} // namespace

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    const ConsoleUtf8 console;
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("banco-richiesta"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BANCO_VERSIONE));
    const std::optional<RigaDiComando::Opzioni> opzioni
        = RigaDiComando::leggiOpzioni(QCoreApplication::arguments());
    if (!opzioni)
        return RigaDiComando::OpzioneNonValida;

    std::unique_ptr<RigaDiComando::Modo> modo = RigaDiComando::creaModo(*opzioni);
    g_modo = modo.get();
#ifdef Q_OS_WIN
    ::SetConsoleCtrlHandler(controlloConsole, TRUE);
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_segnali) == 0) {
        auto *avviso = new QSocketNotifier(g_segnali[0], QSocketNotifier::Read, &app);
        QObject::connect(avviso, &QSocketNotifier::activated, modo.get(), [&modo] {
            char c = 0;
            [[maybe_unused]] const auto letti = ::read(g_segnali[0], &c, 1);
            modo->fermati();
        });
        std::signal(SIGINT, segnale);
        std::signal(SIGTERM, segnale);
    }
#endif
    const int uscita = modo->esegui();
    const bool sospeso = modo->lavoroInSospeso();
    if (!sospeso) {
        g_modo = nullptr;
        modo.reset();
    }
    if (sospeso || FiloDelServer::qualcunoSospeso()) {
        // A thread still blocked on the network: the program ends without it, its work waits.
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(uscita);
    }
    return uscita;
}
