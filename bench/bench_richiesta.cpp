// Processor time and wall time of one request against a pseudo-terminal peer that does not
// answer, beside the same five pauses spent polling the event queue without waiting.

#include "componente_seriale.h"
#include "pannello_finto.h"
#include "peer_pty.h"
#include "sequenziatore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double processoreMs()
{
    rusage uso{};
    getrusage(RUSAGE_SELF, &uso);
    return (uso.ru_utime.tv_sec + uso.ru_stime.tv_sec) * 1e3
        + (uso.ru_utime.tv_usec + uso.ru_stime.tv_usec) / 1e3;
}

struct Misura
{
    double parete;
    double processore;
};

template<typename F> std::vector<Misura> misura(int volte, F &&richiesta)
{
    std::vector<Misura> misure;
    for (int i = 0; i < volte; ++i) {
        QElapsedTimer orologio;
        const double inizio = processoreMs();
        orologio.start();
        richiesta();
        misure.push_back({orologio.nsecsElapsed() / 1e6, processoreMs() - inizio});
    }
    return misure;
}

void stampa(const char *nome, std::vector<Misura> misure)
{
    auto mediana = [&](auto campo) {
        std::vector<double> valori;
        for (const Misura &m : misure)
            valori.push_back(m.*campo);
        std::sort(valori.begin(), valori.end());
        return std::make_pair(valori[valori.size() / 2], valori.back() - valori.front());
    };
    const auto [parete, spreadParete] = mediana(&Misura::parete);
    const auto [cpu, spreadCpu] = mediana(&Misura::processore);
    std::printf("%-34s parete %7.1f ms (±%.1f)   processore %7.2f ms (±%.2f)\n", nome, parete,
        spreadParete / 2, cpu, spreadCpu / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    constexpr int kVolte = 20;

    PeerPty peer;
    qputenv("BANCO_PORTA1", peer.percorso().toLocal8Bit());
    PannelloFinto pannello;
    ComponenteSeriale comm;
    Sequenziatore sequenziatore(pannello, comm);

    stampa("richiesta (pause in attesa)", misura(kVolte, [&] { sequenziatore.Command1_Click(); }));
    stampa("cinque pause interrogando la coda", misura(kVolte, [] {
        for (int pausa = 0; pausa < 5; ++pausa) {
            QElapsedTimer orologio;
            orologio.start();
            while (orologio.elapsed() < Sequenziatore::kPausa.count())
                QCoreApplication::processEvents();
        }
    }));
    return 0;
}
