#include "bench_posti.h"

#include "file_banco.h"
#include "giro_posti.h"
#include "processo.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QTimer>

#include <map>
#include <numeric>
#include <memory>

using namespace Misure;

namespace {

constexpr int kLinee = 8;
constexpr int kCondivisi = 4;
// The ports of the cases beyond the 8 lines: the shared line, the socket whose instrument never
// started (its link never made) and the one whose instrument is killed during the round.
constexpr int kPortaCondivisa = 9;
constexpr int kPortaMaiAvviata = 10;
constexpr int kPortaUccisa = 11;

// The five rows, at sockets named A, B, … on these ports, each socket at its own address (1, 2, …).
DatiBanco banco(const QList<int> &porte)
{
    QString errore;
    DatiBanco dati = *FileBanco::leggi(kBancoCinqueRighe, QStringLiteral("posti.banco"), &errore);
    for (qsizetype i = 0; i < porte.size(); ++i) {
        PostoBanco posto;
        posto.nome = QString(QChar(char16_t(u'A' + i)));
        posto.porta = QString::number(porte.at(i));
        posto.strumento = quint16(i + 1);
        dati.posti.append(posto);
    }
    return dati;
}

QString nomePorta(int porta)
{
    return QStringLiteral("BANCO_PORTA%1").arg(porta);
}

// One round of every socket of giro, started together.
struct Giro
{
    double durataMs = 0;
    double processoreMs = 0;
    std::vector<int> letture, risposte; // each socket's
    std::vector<double> fineMs; // each socket's end, from the start

    // Over the first n sockets, all without n.
    int quante(const std::vector<int> &conti, int n = -1) const
    {
        return std::accumulate(conti.begin(), n < 0 ? conti.end() : conti.begin() + n, 0);
    }
};

Giro gira(GiroPosti &giro, const std::function<void(int posto)> &lettaAlPosto = {})
{
    Giro fatto;
    fatto.fineMs.assign(size_t(giro.numeroPosti()), 0);
    fatto.letture.assign(size_t(giro.numeroPosti()), 0);
    fatto.risposte.assign(size_t(giro.numeroPosti()), 0);
    int finiti = 0;
    QObject contesto;
    qint64 inizio = 0;
    QObject::connect(&giro, &GiroPosti::letta, &contesto,
        [&](int posto, int, const RisultatoRichiesta &r, const QString &) {
            ++fatto.letture[size_t(posto)];
            const bool risposta = r.esito == RisultatoRichiesta::Esito::Risposta;
            fatto.risposte[size_t(posto)] += risposta;
            if (!risposta) {
                std::fprintf(stderr, "posto %s, %s: %s\n", qPrintable(giro.posti().at(posto).nome),
                    qPrintable(r.dispositivo), qPrintable(r.testoEsito()));
            }
            if (lettaAlPosto)
                lettaAlPosto(posto);
        });
    // Waits without polling: the processor this thread spends is the program's own.
    QEventLoop attesa;
    QObject::connect(&giro, &GiroPosti::terminato, &contesto, [&](int posto, bool) {
        fatto.fineMs[size_t(posto)] = (monotonoNs() - inizio) / 1e6;
        if (++finiti == giro.numeroPosti())
            attesa.quit();
    });
    QTimer::singleShot(120s, &attesa, [&] { attesa.exit(1); });
    const double processore = processoreMs();
    inizio = monotonoNs();
    for (int i = 0; i < giro.numeroPosti(); ++i) {
        QString motivo;
        if (!giro.avvia(i, &motivo))
            qFatal("socket %d refused: %s", i, qPrintable(motivo));
    }
    if (attesa.exec() != 0)
        qFatal("a round never ended");
    fatto.durataMs = (monotonoNs() - inizio) / 1e6;
    fatto.processoreMs = processoreMs() - processore;
    return fatto;
}

double massimo(const std::vector<double> &valori)
{
    return *std::max_element(valori.begin(), valori.end());
}

// The pauses each line's sequencer measured, in ms, taken in the lines' threads.
struct Pause
{
    QMutex mutex;
    std::map<QString, std::vector<double>> perLinea;
    // Each pause over 105 ms: when it ended (ns, monotonic) and on which line.
    std::vector<std::pair<qint64, QString>> lunghe;

    explicit Pause(GiroPosti &giro)
    {
        QObject::connect(
            &giro, &GiroPosti::pausaTerminata, &giro,
            [this](const QString &dispositivo, nanoseconds durata) {
                const qint64 fine = monotonoNs();
                const QMutexLocker blocco(&mutex);
                perLinea[dispositivo].push_back(durata.count() / 1e6);
                if (durata > 105ms)
                    lunghe.emplace_back(fine, dispositivo);
            },
            Qt::DirectConnection);
    }
    // How many of the long pauses ended within 10 ms of a long one on another line: the
    // machine held every thread back at once, rather than one line's thread alone.
    int insiemeAdAltre()
    {
        const QMutexLocker blocco(&mutex);
        return int(std::count_if(lunghe.begin(), lunghe.end(), [&](const auto &questa) {
            return std::any_of(lunghe.begin(), lunghe.end(), [&](const auto &altra) {
                return altra.second != questa.second
                    && std::abs(altra.first - questa.first) < 10'000'000;
            });
        }));
    }
    // Every line's, read once the rounds have ended.
    std::vector<double> tutte()
    {
        const QMutexLocker blocco(&mutex);
        std::vector<double> durate;
        for (const auto &[linea, questa] : perLinea)
            durate.insert(durate.end(), questa.begin(), questa.end());
        return durate;
    }
};

// "3 oltre 105 ms, 99° percentile 104.2".
QString code(std::vector<double> durate)
{
    if (durate.empty())
        return QStringLiteral("nessuna");
    std::sort(durate.begin(), durate.end());
    const auto oltre
        = std::count_if(durate.begin(), durate.end(), [](double p) { return p > 105; });
    return QStringLiteral("%1 oltre 105 ms, 99° percentile %2")
        .arg(oltre)
        .arg(durate[durate.size() * 99 / 100], 0, 'f', 2);
}

// The processor time of this process's threads so far, ms: the lines' threads ("linea …", as
// GiroPosti names them) and the others (this one, Qt's own).
struct PerFili
{
    double linee = 0;
    double altri = 0;
    double attesaLinee = 0; // the lines' threads ready to run, waiting for a processor
};

// Each thread's time on a processor, to the nanosecond, from its schedstat.
PerFili processorePerFili()
{
    PerFili tempi;
    const QDir fili(QStringLiteral("/proc/self/task"));
    for (const QString &filo : fili.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile nome(fili.filePath(filo + QStringLiteral("/comm")));
        QFile tempo(fili.filePath(filo + QStringLiteral("/schedstat")));
        if (!nome.open(QIODevice::ReadOnly) || !tempo.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> campi = tempo.readAll().split(' ');
        const double ms = campi.value(0).toDouble() / 1e6;
        if (nome.readAll().startsWith("linea")) {
            tempi.linee += ms;
            tempi.attesaLinee += campi.value(1).toDouble() / 1e6;
        } else {
            tempi.altri += ms;
        }
    }
    return tempi;
}

QString caricoDellaMacchina()
{
    QFile carico(QStringLiteral("/proc/loadavg"));
    if (!carico.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(carico.readAll().split(' ').value(0));
}

// The peak memory of banco-richiesta reading the bench at every socket, from /proc while it
// runs: the last figure read before it exits.
long piccoDiBancoRichiesta(const QString &programma, const QString &file, const QString &dati)
{
    QProcess richiesta;
    QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
    ambiente.insert(QStringLiteral("XDG_DATA_HOME"), dati);
    ambiente.remove(QStringLiteral("DISPLAY"));
    richiesta.setProcessEnvironment(ambiente);
    richiesta.start(programma, {QStringLiteral("--banco"), file});
    if (!richiesta.waitForStarted())
        return 0;
    QFile stato(QStringLiteral("/proc/%1/status").arg(richiesta.processId()));
    long picco = 0;
    while (!richiesta.waitForFinished(20)) {
        if (!stato.open(QIODevice::ReadOnly))
            break;
        for (const QByteArray &riga : stato.readAll().split('\n')) {
            if (riga.startsWith("VmHWM:"))
                picco = std::max(picco, riga.mid(6).trimmed().split(' ').at(0).toLong());
        }
        stato.close();
    }
    return picco;
}

} // namespace

int memoriaPosti(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const long prima = memoriaDiPiccoKb();
    QList<int> porte;
    for (int p = 1; p <= kLinee; ++p)
        porte << p;
    GiroPosti giro(banco(porte), QStringLiteral("la misura"));
    int letture = 0, risposte = 0;
    for (int i = 0; i < 3; ++i) {
        const Giro fatto = gira(giro);
        letture += fatto.quante(fatto.letture);
        risposte += fatto.quante(fatto.risposte);
    }
    std::printf("%ld %ld %d %d\n", prima, memoriaDiPiccoKb(), risposte, letture);
    return 0;
}

void misuraPosti(
    Tabella &tabella, const QString &strumento, const QString &richiesta, const QString &programma)
{
    const int giri = numeroDaAmbiente("BANCO_GIRI_POSTI", 5);
    QTemporaryDir cartella;
    const auto collegamento
        = [&](int porta) { return cartella.filePath(QStringLiteral("porta%1").arg(porta)); };
    for (int p = 1; p <= kPortaUccisa; ++p)
        qputenv(qPrintable(nomePorta(p)), QFile::encodeName(collegamento(p)));

    // An instrument on each of the 8 lines at its socket's address, one at four addresses on
    // the shared line, and the one killed during the round, started again before each.
    // What the 8 lines' instruments answered, counted from their logs as they come: a reading
    // the program found without an answer that its instrument did answer had its answer late.
    std::vector<std::unique_ptr<QProcess>> strumenti;
    int risposteDegliStrumenti = 0;
    for (int p = 1; p <= kLinee; ++p) {
        strumenti.push_back(std::make_unique<QProcess>());
        QProcess &questo = *strumenti.back();
        avviaStrumento(questo, strumento,
            {QStringLiteral("--collegamento"), collegamento(p), QStringLiteral("--indirizzo"),
                QString::number(p)},
            true);
        questo.readAllStandardOutput(); // its start
        QObject::connect(&questo, &QProcess::readyReadStandardOutput, &questo, [&] {
            while (questo.canReadLine()) {
                const QByteArray riga = questo.readLine();
                risposteDegliStrumenti
                    += riga.startsWith("richiesta:") && riga.contains("; risposta:");
            }
        });
    }
    QProcess condiviso;
    QStringList registroCondiviso;
    avviaStrumento(condiviso, strumento,
        {QStringLiteral("--collegamento"), collegamento(kPortaCondivisa),
            QStringLiteral("--indirizzo"), QStringLiteral("1,2,3,4")},
        true);
    QObject::connect(&condiviso, &QProcess::readyReadStandardOutput, &condiviso, [&] {
        while (condiviso.canReadLine())
            registroCondiviso << QString::fromUtf8(condiviso.readLine()).trimmed();
    });
    QProcess daUccidere;

    QList<int> otto, condivise{kPortaCondivisa, kPortaCondivisa, kPortaCondivisa, kPortaCondivisa},
        conMaiAvviata, conUccisa;
    for (int p = 1; p <= kLinee; ++p)
        otto << p;
    conMaiAvviata = otto.mid(0, kLinee - 1) << kPortaMaiAvviata;
    conUccisa = otto.mid(0, kLinee - 1) << kPortaUccisa;

    GiroPosti uno(banco({1}), QStringLiteral("la misura"));
    GiroPosti suOtto(banco(otto), QStringLiteral("la misura"));
    GiroPosti suUna(banco(condivise), QStringLiteral("la misura"));
    GiroPosti maiAvviata(banco(conMaiAvviata), QStringLiteral("la misura"));
    GiroPosti uccisa(banco(conUccisa), QStringLiteral("la misura"));
    Pause pauseUno(uno), pause(suOtto);
    const QString caricoPrima = caricoDellaMacchina();

    std::vector<double> durataUno, durataOtto, durataQuattro, cpuUno, cpuOtto, altriVivi,
        altriMaiAvviata, altriUccisa;
    int risposte = 0, letture = 0, risposteMorte = 0, risposteSulleOtto = 0;
    const auto altri = [](const Giro &g) {
        return *std::max_element(g.fineMs.begin(), g.fineMs.begin() + kLinee - 1);
    };
    // The readings at the sockets whose instrument lives: the first n, or all.
    const auto conta = [&](const Giro &g, int n = -1, bool sulleOtto = true) {
        risposte += g.quante(g.risposte, n);
        letture += g.quante(g.letture, n);
        if (sulleOtto)
            risposteSulleOtto += g.quante(g.risposte, n);
    };
    PerFili filiUno, filiOtto;
    int lettureUno = 0, lettureOtto = 0;
    const auto misuraFili = [](PerFili &somma, const PerFili &prima) {
        const PerFili dopo = processorePerFili();
        somma.linee += dopo.linee - prima.linee;
        somma.altri += dopo.altri - prima.altri;
        somma.attesaLinee += dopo.attesaLinee - prima.attesaLinee;
    };
    const auto unPosto = [&] {
        const PerFili prima = processorePerFili();
        const Giro g = gira(uno);
        misuraFili(filiUno, prima);
        lettureUno += g.quante(g.letture);
        durataUno.push_back(g.durataMs);
        cpuUno.push_back(g.processoreMs / g.quante(g.letture));
        conta(g);
    };
    // The first round starts the line's thread and warms the caches: only its answers count.
    conta(gira(uno));
    {
        const QMutexLocker blocco(&pauseUno.mutex);
        pauseUno.perLinea.clear();
    }
    const qsizetype righeAllInizio = registroCondiviso.size();
    for (int i = 0; i < giri; ++i) {
        unPosto();
        const PerFili prima = processorePerFili();
        const Giro g = gira(suOtto);
        misuraFili(filiOtto, prima);
        lettureOtto += g.quante(g.letture);
        durataOtto.push_back(g.durataMs);
        cpuOtto.push_back(g.processoreMs / g.quante(g.letture));
        altriVivi.push_back(altri(g));
        conta(g);

        unPosto();
        const Giro q = gira(suUna);
        durataQuattro.push_back(q.durataMs);
        conta(q, -1, false);

        unPosto();
        const Giro m = gira(maiAvviata);
        altriMaiAvviata.push_back(altri(m));
        conta(m, kLinee - 1);
        risposteMorte += m.risposte.back();

        unPosto();
        avviaStrumento(daUccidere, strumento,
            {QStringLiteral("--collegamento"), collegamento(kPortaUccisa),
                QStringLiteral("--indirizzo"), QString::number(kLinee)});
        // Killed once the first reading at its socket has come back: its link stays, naming a
        // terminal that is gone, as a cable pulled out of the machine.
        const Giro u = gira(uccisa, [&](int posto) {
            if (posto == kLinee - 1 && daUccidere.state() != QProcess::NotRunning)
                daUccidere.kill();
        });
        daUccidere.waitForFinished();
        altriUccisa.push_back(altri(u));
        conta(u, kLinee - 1);
    }
    unPosto();
    const QString caricoDopo = caricoDellaMacchina();
    for (auto &p : strumenti) {
        while (p->waitForReadyRead(300)) { }
    }
    const int risposteViste = risposteDegliStrumenti;
    // What the shared line's instrument logged, to its last line.
    while (condiviso.waitForReadyRead(300)) { }
    const QStringList richiesteCondivise = registroCondiviso.mid(righeAllInizio);
    for (const QString &riga : richiesteCondivise) {
        if (riga.startsWith(u"richiesta non valida"))
            std::fprintf(stderr, "strumento condiviso: %s\n", qPrintable(riga));
    }
    const qsizetype nonValide
        = std::count_if(richiesteCondivise.cbegin(), richiesteCondivise.cend(),
            [](const QString &r) { return r.startsWith(u"richiesta non valida"); });
    const qsizetype lette = std::count_if(richiesteCondivise.cbegin(), richiesteCondivise.cend(),
        [](const QString &r) { return r.startsWith(u"richiesta:"); });

    // The memory of a process with 8 sockets running, alone, and banco-richiesta doing the same.
    const QStringList memoria = cifreDi(programma, {QStringLiteral("--posti-memoria")});
    const QString fileOtto = cartella.filePath(QStringLiteral("otto.banco"));
    {
        QFile file(fileOtto);
        file.open(QIODevice::WriteOnly);
        file.write(FileBanco::comeJson(banco(otto)));
    }
    const long piccoRichiesta
        = piccoDiBancoRichiesta(richiesta, fileOtto, cartella.filePath(QStringLiteral("dati")));

    for (auto &p : strumenti) {
        p->terminate();
        p->waitForFinished();
    }
    condiviso.terminate();
    condiviso.waitForFinished();
    for (int p = 1; p <= kPortaUccisa; ++p)
        qunsetenv(qPrintable(nomePorta(p)));

    // The figures.
    const double mUno = valoreMediano(durataUno);
    const std::vector<double> tuttePause = pause.tutte(), pauseDiUno = pauseUno.tutte();
    std::vector<double> peggiorePerLinea;
    {
        const QMutexLocker blocco(&pause.mutex);
        for (const auto &[linea, durate] : pause.perLinea)
            peggiorePerLinea.push_back(massimo(durate));
    }
    const bool pauseEntro = peggiorePerLinea.size() == kLinee
        && std::all_of(
            tuttePause.begin(), tuttePause.end(), [](double p) { return p >= 100 && p <= 105; });
    const double rapportoGiro = valoreMediano(durataOtto) / mUno;
    const double rapportoCpu = valoreMediano(cpuOtto) / valoreMediano(cpuUno);
    const double rapportoQuattro = valoreMediano(durataQuattro) / (kCondivisi * mUno);
    const double ritardoMaiAvviata = valoreMediano(altriMaiAvviata) - valoreMediano(altriVivi);
    const double ritardoUccisa = valoreMediano(altriUccisa) - valoreMediano(altriVivi);

    tabella.titolo(QStringLiteral("Posti in parallelo: 5 righe a ogni posto, ogni caso alternato "
                                  "con un giro a un posto solo (%1 volte)")
                       .arg(giri));
    tabella.intestazione({"Misura", "Mediana (min–max)", "Obiettivo", "Raggiunto"});
    tabella.riga({"Un posto solo: giro, ms", mediana(durataUno), "riferimento", "—"});
    tabella.riga(
        {"Un posto solo: processore per lettura, ms", mediana(cpuUno, 2), "riferimento", "—"});
    tabella.riga({QStringLiteral("Un posto solo: ogni pausa (%1), ms").arg(pauseDiUno.size()),
        pauseDiUno.empty() ? QStringLiteral("—") : mediana(pauseDiUno, 2), "riferimento", "—"});
    tabella.riga({"8 posti su 8 linee: giro, ms", mediana(durataOtto),
        QStringLiteral("entro 1,05 × un posto (%1 ms)").arg(1.05 * mUno, 0, 'f', 1),
        esito(rapportoGiro <= 1.05)});
    tabella.riga({"8 posti su 8 linee: processore per lettura, ms", mediana(cpuOtto, 2),
        QStringLiteral("entro 1,1 × un posto (%1 ms)").arg(1.1 * valoreMediano(cpuUno), 0, 'f', 2),
        esito(rapportoCpu <= 1.1)});
    tabella.riga({QStringLiteral("8 posti su 8 linee: ogni pausa, su ogni linea (%1), ms")
                      .arg(tuttePause.size()),
        tuttePause.empty() ? QStringLiteral("—") : mediana(tuttePause, 2), "ognuna fra 100 e 105",
        esito(pauseEntro)});
    tabella.riga({"4 posti su una linea: giro, ms", mediana(durataQuattro),
        QStringLiteral("4 × un posto ± 2 % (%1 ms)").arg(kCondivisi * mUno, 0, 'f', 1),
        esito(std::abs(rapportoQuattro - 1) <= 0.02)});
    tabella.riga({QStringLiteral("4 posti su una linea: richieste lette dallo strumento (%1), "
                                 "non valide")
                      .arg(lette),
        QString::number(nonValide), "nessuna, mai mescolate",
        esito(nonValide == 0 && lette == qsizetype(giri) * kCondivisi * 5)});
    tabella.riga({"8 posti, nessuno spento: fine degli altri 7, ms", mediana(altriVivi),
        "riferimento", "—"});
    tabella.riga(
        {"8 posti, uno strumento mai avviato: fine degli altri 7, ms", mediana(altriMaiAvviata),
            QStringLiteral("ritardo sotto 50 ms (%1 ms)").arg(ritardoMaiAvviata, 0, 'f', 1),
            esito(ritardoMaiAvviata < 50)});
    tabella.riga({"8 posti, uno strumento ucciso dopo la prima lettura: fine degli altri 7, ms",
        mediana(altriUccisa),
        QStringLiteral("ritardo sotto 50 ms (%1 ms)").arg(ritardoUccisa, 0, 'f', 1),
        esito(ritardoUccisa < 50)});
    const double piccoMiB = memoria.value(1).toDouble() / 1024;
    tabella.riga({"Memoria di picco di un processo con 8 posti in giro (VmHWM), MiB",
        memoria.size() == 4 ? QString::number(piccoMiB, 'f', 1) : QStringLiteral("—"), "sotto 64",
        esito(memoria.size() == 4 && piccoMiB < 64)});
    tabella.riga({"Lo stesso con banco-richiesta --banco, 8 posti (VmHWM letta da /proc), MiB",
        piccoRichiesta ? QString::number(piccoRichiesta / 1024.0, 'f', 1) : QStringLiteral("—"),
        "sotto 64", esito(piccoRichiesta > 0 && piccoRichiesta < 64 * 1024)});
    tabella.nota(QStringLiteral(
        "Rapporti sulle mediane: giro a 8 posti %1 × un posto, processore per "
        "lettura %2 ×, 4 posti su una linea %3 × (4 × un posto). Pausa più lunga "
        "per ciascuna delle 8 linee, ms: %4. Risposte %5 su %6 letture ai posti vivi; il posto mai "
        "avviato ne ha avute %7. Memoria di picco del processo prima di creare i "
        "posti %8 MiB; %9 risposte su %10 letture nei suoi 3 giri.")
                     .arg(rapportoGiro, 0, 'f', 3)
                     .arg(rapportoCpu, 0, 'f', 2)
                     .arg(rapportoQuattro, 0, 'f', 3)
                     .arg([&] {
                         QStringList testi;
                         for (const double p : peggiorePerLinea)
                             testi << QString::number(p, 'f', 2);
                         return testi.join(QStringLiteral(", "));
                     }())
                     .arg(risposte)
                     .arg(letture)
                     .arg(risposteMorte)
                     .arg(memoria.value(0).toDouble() / 1024, 0, 'f', 1)
                     .arg(memoria.value(2), memoria.value(3).trimmed()));
    tabella.nota(
        QStringLiteral("Sulle 8 linee il programma ha contato %1 risposte, i loro strumenti "
                       "ne hanno date %2.")
            .arg(risposteSulleOtto)
            .arg(risposteViste));
    tabella.nota(QStringLiteral("Pause a un posto solo: %1; a 8 posti: %2, di cui %3 finite "
                                "entro 10 ms da una oltre 105 ms su un'altra linea. Carico della "
                                "macchina (media su un minuto) %4 all'inizio, %5 alla fine.")
                     .arg(code(pauseDiUno), code(tuttePause))
                     .arg(pause.insiemeAdAltre())
                     .arg(caricoPrima, caricoDopo));
    tabella.nota(QStringLiteral("Dove va il processore, per lettura (dai tempi dei fili in "
                                "/proc/self/task): a un posto %1 ms nel filo "
                                "della linea e %2 ms negli altri fili del processo; a 8 posti "
                                "%3 ms e %4 ms. I fili delle linee, pronti, hanno atteso un "
                                "processore %5 ms per lettura a un posto e %6 ms a 8 posti.")
                     .arg(filiUno.linee / lettureUno, 0, 'f', 2)
                     .arg(filiUno.altri / lettureUno, 0, 'f', 2)
                     .arg(filiOtto.linee / lettureOtto, 0, 'f', 2)
                     .arg(filiOtto.altri / lettureOtto, 0, 'f', 2)
                     .arg(filiUno.attesaLinee / lettureUno, 0, 'f', 2)
                     .arg(filiOtto.attesaLinee / lettureOtto, 0, 'f', 2));
}
