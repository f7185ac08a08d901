#pragma once

// What the benchmarks share: the clocks, the medians and the Markdown table they write.

#include "registro_traffico.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <vector>

namespace Misure {

using namespace std::chrono;

// The bench the station's and the sockets' measures read: five rows from the virtual instrument.
inline constexpr char kBancoCinqueRighe[] = R"({"formato": "banco-seriale", "versione": 1,
 "linea": {"porta": "1", "baud": 9600}, "righe": [
  {"nome": "Temperatura", "strumento": 0, "memoria": "0008", "decimali": 1, "minimo": 20, "massimo": 120},
  {"nome": "Tensione", "strumento": 0, "memoria": "000C", "minimo": 207, "massimo": 253},
  {"nome": "Corrente", "strumento": 0, "memoria": "000B", "decimali": 3, "massimo": 3},
  {"nome": "Frequenza", "strumento": 0, "memoria": "000D", "minimo": 49, "massimo": 51},
  {"nome": "Portata", "strumento": 0, "memoria": "0016", "decimali": 1, "minimo": 25, "massimo": 35}]})";

inline double processoreMs()
{
    rusage uso{};
    getrusage(RUSAGE_SELF, &uso);
    return (uso.ru_utime.tv_sec + uso.ru_stime.tv_sec) * 1e3
        + (uso.ru_utime.tv_usec + uso.ru_stime.tv_usec) / 1e3;
}

inline qint64 monotonoNs()
{
    timespec ora{};
    clock_gettime(CLOCK_MONOTONIC, &ora);
    return qint64(ora.tv_sec) * 1'000'000'000 + ora.tv_nsec;
}

// Median with the spread of the runs, "512.3 (508.1–520.9)".
inline QString mediana(std::vector<double> valori, int decimali = 1)
{
    std::sort(valori.begin(), valori.end());
    const double m = valori.size() % 2
        ? valori[valori.size() / 2]
        : (valori[valori.size() / 2 - 1] + valori[valori.size() / 2]) / 2;
    return QStringLiteral("%1 (%2–%3)")
        .arg(m, 0, 'f', decimali)
        .arg(valori.front(), 0, 'f', decimali)
        .arg(valori.back(), 0, 'f', decimali);
}

inline double valoreMediano(std::vector<double> valori)
{
    std::sort(valori.begin(), valori.end());
    return valori[valori.size() / 2];
}

struct Tabella
{
    QStringList righe;
    void titolo(const QString &testo)
    {
        righe << QString() << QStringLiteral("### %1").arg(testo) << QString();
    }
    void intestazione(const QStringList &colonne)
    {
        righe << QStringLiteral("| ") + colonne.join(QStringLiteral(" | ")) + QStringLiteral(" |");
        righe << QStringLiteral("|") + QStringList(colonne.size(), QStringLiteral("---")).join(u'|')
                + QStringLiteral("|");
    }
    void riga(const QStringList &celle)
    {
        righe << QStringLiteral("| ") + celle.join(QStringLiteral(" | ")) + QStringLiteral(" |");
    }
    void nota(const QString &testo) { righe << QString() << testo; }
};

inline QString esito(bool raggiunto)
{
    return raggiunto ? QStringLiteral("sì") : QStringLiteral("**no**");
}

// Waits for events, as a pause does, until the condition holds or the time runs out.
template<typename F> bool attendi(F condizione, milliseconds limite = 20s)
{
    QElapsedTimer orologio;
    orologio.start();
    while (!condizione() && orologio.elapsed() < limite.count())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    return condizione();
}

// A count from the environment, where one is set.
// What a benchmark run in a process of its own printed: its figures, split at the spaces.
inline QStringList cifreDi(const QString &programma, const QStringList &argomenti)
{
    QProcess p;
    p.start(programma, argomenti);
    p.waitForFinished(600'000);
    return QString::fromUtf8(p.readAllStandardOutput()).split(u' ', Qt::SkipEmptyParts);
}

inline int numeroDaAmbiente(const char *variabile, int predefinito)
{
    const int numero = qEnvironmentVariableIntValue(variabile);
    return numero > 0 ? numero : predefinito;
}

// The virtual instrument started and heard to be ready. What it logs afterwards is let go as it
// comes, unless kept for reading at the end: over a long run the log, a line a request, would
// otherwise pile up in this process and be counted as the program's memory.
inline void avviaStrumento(QProcess &istrumento, const QString &programma,
    const QStringList &argomenti, bool tieniIlRegistro = false)
{
    // A process started again forgets how its last run was read.
    QObject::disconnect(&istrumento, &QProcess::readyReadStandardOutput, nullptr, nullptr);
    istrumento.start(programma, argomenti);
    istrumento.waitForReadyRead(10'000);
    if (!tieniIlRegistro) {
        istrumento.readAllStandardOutput();
        QObject::connect(&istrumento, &QProcess::readyReadStandardOutput, &istrumento,
            [&istrumento] { istrumento.readAllStandardOutput(); });
    }
}

// What one request leaves in the record, as the sequencer and the port record it: its start,
// the port reopened twice (closed, drained, opened), the eight bytes of its five phases, four
// bytes back and its result; twenty events, four notes, one result.
inline void richiestaNelRegistro(RegistroTraffico &registro, quint8 &byte)
{
    static const QString dispositivo = QStringLiteral("/dev/ttyUSB0");
    static const TestiUsati testi{QStringLiteral("1"), QStringLiteral("9600"), QStringLiteral("0"),
        QStringLiteral("Lettura"), QStringLiteral("0008")};
    registro.iniziaRichiesta();
    for (int fase = 1; fase <= 5; ++fase) {
        registro.fase(fase);
        if (fase <= 2) {
            registro.portaChiusa();
            registro.drenaggio(microseconds(180));
            registro.portaAperta(1, dispositivo, 9600, fase == 1 ? 'E' : 'O');
        }
        registro.trasmesso(byte++);
        if (fase != 1 && fase != 3)
            registro.trasmesso(byte++);
        registro.pausa(fase);
    }
    for (int j = 0; j < 4; ++j)
        registro.ricevuto(byte++, false);
    registro.terminaRichiesta(testi, quint16(byte), 0);
}

} // namespace Misure
