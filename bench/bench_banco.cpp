// Figures an operator and a maintainer need to trust the bench: how long a request takes and
// what it costs the processor, how fast received bytes reach the window, how fast the program
// starts, and how long the request's bytes take on the wire. Run by scripts/bench on an X server.

#include "bench_archivio.h"
#include "bench_carta.h"
#include "bench_collaudo.h"
#include "bench_posti.h"
#include "bench_ricerca.h"
#include "bench_tabella.h"
#include "bench_tracciabilita.h"
#include "finestra_principale.h"
#include "finestra_traffico.h"
#include "sequenza_richieste.h"
#include "form3.h"
#include "module2.h"
#include "testi_traffico.h"
#include "peer_pty.h"
#include "processo.h"
#include "ricezione.h"
#include "misure.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QStorageInfo>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace std::chrono;

namespace {

using namespace Misure;

constexpr int kRichieste = 25;
constexpr int kAvvii = 15;
constexpr int kBitPerByte = 11;

// 1. One request through the window, against the virtual instrument.
void misuraRichiesta(Tabella &tabella, const QString &strumento)
{
    QTemporaryDir cartella;
    const QString porta = cartella.filePath(QStringLiteral("porta1"));
    QProcess istrumento;
    avviaStrumento(istrumento, strumento, {QStringLiteral("--collegamento"), porta});
    qputenv("BANCO_PORTA1", porta.toLocal8Bit());

    FinestraPrincipale principale;
    principale.show();
    if (!QTest::qWaitForWindowExposed(&principale))
        qFatal("the window was never shown");
    Form3 &finestra = principale.pannello();
    auto *pulsante = finestra.findChild<QPushButton *>(QStringLiteral("Command1"));
    std::vector<double> pause;
    QObject::connect(&finestra.sequenziatore(), &Sequenziatore::pausaTerminata,
        [&](nanoseconds durata) { pause.push_back(durata.count() / 1e6); });

    std::vector<double> parete, processore;
    pulsante->click(); // the first opens the port; not counted
    pause.clear();
    for (int i = 0; i < kRichieste; ++i) {
        QElapsedTimer orologio;
        const double inizio = processoreMs();
        orologio.start();
        pulsante->click();
        parete.push_back(orologio.nsecsElapsed() / 1e6);
        processore.push_back(processoreMs() - inizio);
    }
    const bool risposte = finestra.testo(Campo::Text3) == u"1000";

    // The same with the traffic window open, following the newest row.
    principale.mostraTraffico();
    if (!QTest::qWaitForWindowExposed(&principale.traffico()))
        qFatal("the traffic window was never shown");
    std::vector<double> processoreConTraffico;
    for (int i = 0; i < kRichieste; ++i) {
        const double inizio = processoreMs();
        pulsante->click();
        processoreConTraffico.push_back(processoreMs() - inizio);
    }
    principale.traffico().hide();

    // The same phases paced by a pause that polls the event queue without waiting.
    Module2 fasi(finestra, finestra.comm1());
    const auto pausaCheInterroga = [] {
        QElapsedTimer orologio;
        orologio.start();
        while (orologio.elapsed() < 100)
            QCoreApplication::processEvents();
    };
    std::vector<double> processoreInterrogando;
    for (int i = 0; i < kRichieste; ++i) {
        const double inizio = processoreMs();
        for (void (Module2::*fase)() :
            {&Module2::InviaByte55, &Module2::InviaIndirizzoStrumento, &Module2::InviaTipoComando,
                &Module2::InviaByte0002, &Module2::InviaIndirizzoMemoria}) {
            (fasi.*fase)();
            pausaCheInterroga();
        }
        processoreInterrogando.push_back(processoreMs() - inizio);
    }

    double peggiorePausa = 0;
    for (double p : pause)
        peggiorePausa = std::max(peggiorePausa, std::abs(p - 100.0));
    const double rapporto = valoreMediano(processoreInterrogando) / valoreMediano(processore);

    tabella.titolo(QStringLiteral("Una richiesta dalla finestra allo strumento virtuale, con il "
                                  "registro del traffico (%1 volte)")
                       .arg(kRichieste));
    tabella.intestazione({"Misura", "Mediana (min–max)", "Obiettivo", "Raggiunto"});
    tabella.riga({"Tempo reale per richiesta, ms", mediana(parete), "entro il 3 % di 500 ms",
        esito(std::abs(valoreMediano(parete) - 500) <= 15)});
    tabella.riga({"Processore per richiesta, ms", mediana(processore, 2), "sotto 5 ms",
        esito(valoreMediano(processore) < 5)});
    tabella.riga({"Processore per richiesta con la finestra del traffico aperta, ms",
        mediana(processoreConTraffico, 2), "—", "—"});
    tabella.riga({"Processore con pause che interrogano la coda, ms",
        mediana(processoreInterrogando), "confronto", "—"});
    tabella.riga({"Rapporto fra le due", QStringLiteral("%1 volte").arg(rapporto, 0, 'f', 0),
        "almeno 100 volte", esito(rapporto >= 100)});
    tabella.riga({QStringLiteral("Durata di ciascuna pausa (%1), ms").arg(pause.size()),
        mediana(pause, 2), "ognuna entro 5 ms da 100", esito(peggiorePausa <= 5)});
    tabella.nota(QStringLiteral("Risposta dello strumento decodificata a ogni richiesta: %1.")
                     .arg(risposte ? QStringLiteral("sì (1000)") : QStringLiteral("**no**")));
    istrumento.terminate();
    istrumento.waitForFinished();
}

// 2. Bursts of received bytes, with the window idle and while a request runs.
struct Raffica
{
    double totaleMs; // until the box first shows the burst's last byte
    double alSecondo;
    double inizio; // µs a byte over the first tenth of the burst
    double fine; // µs a byte over the last tenth
    double ritardoMs; // the latest a 10 ms tick came: how long the operator could have waited
};

Raffica misuraUnaRaffica(Form3 &finestra, PeerPty &linea, qsizetype quanti, bool inRichiesta)
{
    auto *pulsante = finestra.findChild<QPushButton *>(QStringLiteral("Command1"));
    auto *text1 = finestra.findChild<QLineEdit *>(QStringLiteral("Text1"));
    QByteArray raffica(quanti, Qt::Uninitialized);
    for (char &c : raffica)
        c = char(QRandomGenerator::global()->bounded(256));
    const QString ultima = voceRicevuta(quint8(raffica.back()));

    std::vector<qint64> istanti;
    istanti.reserve(size_t(quanti));
    QElapsedTimer orologio;
    auto conta = QObject::connect(&finestra.comm1(), &ComponenteSeriale::OnComm,
        [&] { istanti.push_back(orologio.nsecsElapsed()); });
    qint64 ritardoMassimo = 0, attesoProssimo = 0;
    QTimer sonda;
    sonda.setTimerType(Qt::PreciseTimer);
    sonda.setInterval(10ms);
    QObject::connect(&sonda, &QTimer::timeout, [&] {
        const qint64 adesso = orologio.nsecsElapsed();
        ritardoMassimo = std::max(ritardoMassimo, adesso - attesoProssimo);
        attesoProssimo = adesso + 10'000'000;
    });
    qint64 mostrato = 0;
    auto mostra = QObject::connect(text1, &QLineEdit::textChanged, [&](const QString &testo) {
        if (!mostrato && qsizetype(istanti.size()) >= quanti && testo.endsWith(ultima))
            mostrato = orologio.nsecsElapsed();
    });

    finestra.impostaTesto(Campo::Text1, QString());
    const auto avvia = [&] {
        orologio.start();
        attesoProssimo = 10'000'000;
        sonda.start();
        linea.scrivi(raffica);
    };
    if (inRichiesta) {
        QTimer::singleShot(20ms, avvia); // inside the first pause
        pulsante->click();
    } else {
        avvia();
    }
    attendi([&] { return mostrato > 0; });
    sonda.stop();
    QObject::disconnect(conta);
    QObject::disconnect(mostra);
    attendi([&] { return !finestra.sequenziatore().richiestaInCorso(); });

    const qsizetype decimo = quanti / 10;
    return {mostrato / 1e6, quanti / (mostrato / 1e9),
        (istanti[size_t(decimo)] - istanti[0]) / 1e3 / double(decimo),
        (istanti.back() - istanti[size_t(quanti - decimo - 1)]) / 1e3 / double(decimo),
        ritardoMassimo / 1e6};
}

void misuraRicezione(Tabella &tabella)
{
    constexpr int kRipetizioni = 5;
    PeerPty linea;
    qputenv("BANCO_PORTA1", linea.percorso().toLocal8Bit());
    FinestraPrincipale principale;
    principale.show();
    principale.mostraTraffico();
    if (!QTest::qWaitForWindowExposed(&principale))
        qFatal("the window was never shown");
    Form3 &finestra = principale.pannello();
    finestra.findChild<QPushButton *>(QStringLiteral("Command1"))->click(); // opens the port
    const long memoriaIniziale = memoriaDiPiccoKb();

    tabella.titolo(QStringLiteral("Byte ricevuti a raffica, con la finestra del traffico aperta "
                                  "(%1 volte ciascuna)")
                       .arg(kRipetizioni));
    tabella.intestazione({"Raffica", "Durante", "Fino all'ultimo byte mostrato, ms", "Byte/s",
        "× 56000 baud", "× 921600 baud", "µs/byte all'inizio", "µs/byte alla fine",
        "Ritardo massimo della finestra, ms"});
    bool piatto = true, veloce = true, reattivo = true;
    const double byteAl921600 = 921600.0 / kBitPerByte;
    for (const qsizetype quanti : {qsizetype(1'000), qsizetype(10'000), qsizetype(100'000)}) {
        for (const bool inRichiesta : {false, true}) {
            std::vector<double> totale, alSecondo, su56000, su921600, inizio, fine, ritardo;
            for (int i = 0; i < kRipetizioni; ++i) {
                const Raffica r = misuraUnaRaffica(finestra, linea, quanti, inRichiesta);
                totale.push_back(r.totaleMs);
                alSecondo.push_back(r.alSecondo);
                su56000.push_back(r.alSecondo / (56000.0 / kBitPerByte));
                su921600.push_back(r.alSecondo / byteAl921600);
                inizio.push_back(r.inizio);
                fine.push_back(r.fine);
                ritardo.push_back(r.ritardoMs);
            }
            piatto
                = piatto && (quanti < 10'000 || valoreMediano(fine) <= 2 * valoreMediano(inizio));
            veloce = veloce && (quanti < 10'000 || valoreMediano(alSecondo) >= 10 * byteAl921600);
            reattivo = reattivo && *std::max_element(ritardo.begin(), ritardo.end()) <= 50;
            tabella.riga({QString::number(quanti),
                inRichiesta ? QStringLiteral("una richiesta") : QStringLiteral("finestra ferma"),
                mediana(totale), mediana(alSecondo, 0), mediana(su56000, 0), mediana(su921600),
                mediana(inizio, 2), mediana(fine, 2), mediana(ritardo)});
        }
    }
    tabella.nota(QStringLiteral(
        "Obiettivi, sulle mediane: costo per byte piatto, alla fine non oltre il doppio "
        "dell'inizio (raffiche da 10.000 byte in su): %1. Almeno 10 volte la velocità "
        "di una linea a 921600 baud, %2 byte/s (raffiche da 10.000 byte in su; quelle "
        "da 1.000 durano un paio di millisecondi e misurano il ritardo del primo "
        "byte più che la velocità): %3. Finestra che risponde sempre entro 50 ms: %4. "
        "Memoria di picco prima delle raffiche %5 KiB, dopo %6 KiB.")
                     .arg(esito(piatto))
                     .arg(byteAl921600 * 10, 0, 'f', 0)
                     .arg(esito(veloce))
                     .arg(esito(reattivo))
                     .arg(memoriaIniziale)
                     .arg(memoriaDiPiccoKb()));
    tabella.nota(QStringLiteral("Eventi nel registro alla fine: %L1; righe nella tabella del "
                                "traffico: %L2.")
                     .arg(finestra.registro().size())
                     .arg(principale.traffico().findChild<QTableView *>()->model()->rowCount()));
}

// 3. The record alone: memory and cost of appending, however long the program runs, and the time
// to write it as CSV.
void misuraRegistro(Tabella &tabella)
{
    constexpr qsizetype kMilione = 1'000'000;
    // What the allocator has handed out, so that memory freed by the measures before does not
    // hide what the record takes.
    const auto allocati = [] {
        const struct mallinfo2 info = mallinfo2();
        return long((info.uordblks + info.hblkhd) / 1024);
    };
    const long prima = allocati();
    auto registro = std::make_unique<RegistroTraffico>();
    registro->portaAperta(1, QStringLiteral("/dev/ttyUSB0"), 9600, 'O');
    std::vector<double> nsPerEvento;
    std::vector<long> memoria;
    std::vector<quint64> scartati;
    quint8 byte = 0;
    for (int milione = 1; milione <= 3; ++milione) {
        QElapsedTimer orologio;
        orologio.start();
        for (qsizetype i = 0; i < kMilione; i += 20)
            richiestaNelRegistro(*registro, byte);
        nsPerEvento.push_back(double(orologio.nsecsElapsed()) / double(kMilione));
        memoria.push_back(allocati() - prima);
        scartati.push_back(registro->scartati());
    }
    QBuffer csv;
    csv.open(QIODevice::WriteOnly);
    QElapsedTimer scrittura;
    scrittura.start();
    TestiTraffico::scriviCsv(*registro, csv, nullptr);
    const double scritturaMs = scrittura.nsecsElapsed() / 1e6;

    tabella.titolo(QStringLiteral("Il registro del traffico da solo"));
    tabella.intestazione({"Eventi aggiunti", "Eventi tenuti", "Scartati", "Memoria, MiB",
        "ns per evento in questo milione", "Obiettivo", "Raggiunto"});
    for (int i = 0; i < 3; ++i) {
        tabella.riga({QStringLiteral("%L1").arg((i + 1) * kMilione),
            QStringLiteral("%L1").arg(std::min<qsizetype>((i + 1) * kMilione, registro->size())),
            QStringLiteral("%L1").arg(scartati[size_t(i)]),
            QString::number(memoria[size_t(i)] / 1024.0, 'f', 1),
            QString::number(nsPerEvento[size_t(i)], 'f', 0), "memoria sotto 64 MiB",
            esito(memoria[size_t(i)] < 64 * 1024)});
    }
    tabella.nota(QStringLiteral("Costo di un evento piatto (l'ultimo milione non oltre il doppio "
                                "del primo): %1. Il registro pieno (%L2 eventi) scritto in CSV: "
                                "%3 ms, %4 MiB.")
                     .arg(esito(nsPerEvento[2] <= 2 * nsPerEvento[0]))
                     .arg(registro->size())
                     .arg(scritturaMs, 0, 'f', 0)
                     .arg(csv.size() / 1048576.0, 0, 'f', 1));
}

// 4. The repetition from the window: a thousand requests with no pause between them, then a
// repetition against an instrument with every fault mixed in, counted against its own log.
void misuraRipetizione(Tabella &tabella, const QString &strumento)
{
    const int richieste = numeroDaAmbiente("BANCO_RIPETIZIONI", 1000);
    QTemporaryDir cartella;
    const QString porta = cartella.filePath(QStringLiteral("porta1"));
    qputenv("BANCO_PORTA1", porta.toLocal8Bit());
    FinestraPrincipale principale;
    principale.show();
    if (!QTest::qWaitForWindowExposed(&principale))
        qFatal("the window was never shown");
    SequenzaRichieste &ripetizione = principale.ripetizione();

    QProcess istrumento;
    avviaStrumento(istrumento, strumento, {QStringLiteral("--collegamento"), porta});
    std::vector<double> durate, processore;
    long memoriaDopo100 = 0;
    double ultimoProcessore = processoreMs();
    auto conta = QObject::connect(
        &ripetizione, &SequenzaRichieste::risultato, [&](qint64, const RisultatoRichiesta &r) {
            durate.push_back(r.durataUs / 1000.0);
            const double adesso = processoreMs();
            processore.push_back(adesso - ultimoProcessore);
            ultimoProcessore = adesso;
            if (durate.size() == 100)
                memoriaDopo100 = memoriaResidenteKb();
        });
    bool finita = false;
    auto fine
        = QObject::connect(&ripetizione, &SequenzaRichieste::terminata, [&] { finita = true; });
    ripetizione.avvia({0, richieste, false, 1, {}});
    attendi([&] { return finita; }, milliseconds(richieste * 1000 + 60'000));
    const long memoriaAllaFine = memoriaResidenteKb();
    const StatisticheRipetizione normale = ripetizione.statistiche();
    istrumento.terminate();
    istrumento.waitForFinished();
    QObject::disconnect(conta);

    // The same against every fault: what the window counts against what the instrument logged.
    const int conGuasti = std::max(50, richieste / 5);
    ripetizione.azzeraStatistiche();
    avviaStrumento(istrumento, strumento,
        {QStringLiteral("--collegamento"), porta, QStringLiteral("--guasto"), "misto"}, true);
    finita = false;
    ripetizione.avvia({0, conGuasti, false, 1, {}});
    attendi([&] { return finita; }, milliseconds(conGuasti * 1000 + 60'000));
    QObject::disconnect(fine);
    istrumento.terminate();
    istrumento.waitForFinished();
    const QStringList registro = QString::fromUtf8(istrumento.readAllStandardOutput()).split(u'\n');
    int risposte = 0, senzaRisposta = 0, cadute = 0;
    for (const QString &riga : registro) {
        if (riga.startsWith(u"richiesta:"))
            ++(riga.endsWith(u"nessuna risposta") ? senzaRisposta : risposte);
        cadute += riga.startsWith(u"linea riaperta");
    }
    const StatisticheRipetizione &guasti = ripetizione.statistiche();

    tabella.titolo(QStringLiteral("Ripetizione dalla finestra, senza pausa fra le richieste "
                                  "(%1 richieste)")
                       .arg(richieste));
    tabella.intestazione({"Misura", "Mediana (min–max)", "Obiettivo", "Raggiunto"});
    tabella.riga({"Durata di una richiesta, ms", mediana(durate), "entro l'1 % di 500 ms",
        esito(std::abs(valoreMediano(durate) - 500) <= 5)});
    tabella.riga({"Processore per richiesta, ms", mediana(processore, 2), "sotto 5 ms",
        esito(valoreMediano(processore) < 5)});
    tabella.riga({"Memoria residente alla fine rispetto a dopo 100 richieste, KiB",
        QString::number(memoriaAllaFine - memoriaDopo100), "non oltre 2048",
        esito(memoriaAllaFine - memoriaDopo100 <= 2048)});
    tabella.nota(
        QStringLiteral("Risposte %1 su %2. Con ogni guasto dello strumento mescolato "
                       "(%3 richieste, %4 cadute della linea tornate con lo stesso "
                       "nome): risposte contate %5, nel registro dello strumento %6; "
                       "senza risposta %7 e %8; errori %9 (mentre la linea era caduta). "
                       "Conti uguali: %10.")
            .arg(normale.risposte())
            .arg(normale.inviate())
            .arg(guasti.inviate())
            .arg(cadute)
            .arg(guasti.risposte())
            .arg(risposte)
            .arg(guasti.senzaRisposta())
            .arg(senzaRisposta)
            .arg(guasti.errori())
            .arg(esito(guasti.risposte() == risposte && guasti.senzaRisposta() == senzaRisposta
                && guasti.inviate() == conGuasti)));
}

// 5. banco-richiesta: one request from process start to exit, as a script calls it, with no
// display.
void misuraRigaDiComando(Tabella &tabella, const QString &strumento, const QString &comando)
{
    QTemporaryDir cartella;
    const QString porta = cartella.filePath(QStringLiteral("porta1"));
    QProcess istrumento;
    avviaStrumento(istrumento, strumento, {QStringLiteral("--collegamento"), porta});

    QProcessEnvironment ambiente = QProcessEnvironment::systemEnvironment();
    ambiente.remove(QStringLiteral("DISPLAY"));
    ambiente.remove(QStringLiteral("WAYLAND_DISPLAY"));
    std::vector<double> parete, processore, soloAvvio, processoreSoloAvvio;
    bool risposte = true;
    // Wall and processor time of one run of the program with these arguments.
    const auto esegui
        = [&](const QStringList &argomenti, std::vector<double> &tempi, std::vector<double> &cpu) {
              rusage prima{};
              getrusage(RUSAGE_CHILDREN, &prima);
              QProcess richiesta;
              richiesta.setProcessEnvironment(ambiente);
              const qint64 inizio = monotonoNs();
              richiesta.start(comando, argomenti);
              richiesta.waitForFinished(20'000);
              tempi.push_back((monotonoNs() - inizio) / 1e6);
              rusage dopo{};
              getrusage(RUSAGE_CHILDREN, &dopo);
              cpu.push_back((dopo.ru_utime.tv_sec - prima.ru_utime.tv_sec + dopo.ru_stime.tv_sec
                                - prima.ru_stime.tv_sec)
                      * 1e3
                  + (dopo.ru_utime.tv_usec - prima.ru_utime.tv_usec + dopo.ru_stime.tv_usec
                        - prima.ru_stime.tv_usec)
                      / 1e3);
              return richiesta.exitCode() == 0 ? richiesta.readAllStandardOutput() : QByteArray();
          };
    for (int i = 0; i < kAvvii; ++i) {
        risposte = esegui({QStringLiteral("--porta"), porta}, parete, processore)
                       .contains("valore: 1000;")
            && risposte;
        esegui({QStringLiteral("--version")}, soloAvvio, processoreSoloAvvio);
    }
    tabella.titolo(QStringLiteral("banco-richiesta: una richiesta dall'avvio all'uscita, senza "
                                  "schermo (%1 volte)")
                       .arg(kAvvii));
    tabella.intestazione({"Misura", "Mediana (min–max)", "Obiettivo", "Raggiunto"});
    tabella.riga({"Tempo reale del processo, ms", mediana(parete), "entro il 3 % di 500 ms",
        esito(std::abs(valoreMediano(parete) - 500) <= 15)});
    tabella.riga({"Processore del processo, avvio compreso, ms", mediana(processore, 2),
        "sotto 15 ms", esito(valoreMediano(processore) < 15)});
    tabella.riga({"Solo avvio e uscita (--version): tempo reale, ms", mediana(soloAvvio, 1),
        "riferimento", "—"});
    tabella.riga({"Solo avvio e uscita (--version): processore, ms",
        mediana(processoreSoloAvvio, 2), "riferimento", "—"});

    // A bench of one row for a unit, recorded in the station's file alone, then also sent to a
    // server that accepts the connection and never answers: what the server adds to the run.
    const QString banco = cartella.filePath(QStringLiteral("una.banco"));
    QFile file(banco);
    file.open(QIODevice::WriteOnly);
    file.write(R"({"formato": "banco-seriale", "versione": 1, "linea": {"porta": ")"
        + porta.toUtf8() + R"("}, "righe": [{"nome": "T", "strumento": 0, "memoria": "0008"}]})");
    file.close();
    const int muto = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in indirizzo{};
    indirizzo.sin_family = AF_INET;
    indirizzo.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t lunghezza = sizeof indirizzo;
    ::bind(muto, reinterpret_cast<sockaddr *>(&indirizzo), lunghezza);
    ::listen(muto, 64);
    ::getsockname(muto, reinterpret_cast<sockaddr *>(&indirizzo), &lunghezza);
    ambiente.insert(QStringLiteral("XDG_DATA_HOME"), cartella.path());
    std::vector<double> senzaServer, conServerMuto, scarto;
    const QStringList unita{QStringLiteral("--banco"), banco, QStringLiteral("--unita"),
        QStringLiteral("B1")};
    for (int i = 0; i < 5; ++i) {
        esegui(unita, senzaServer, scarto);
        esegui(unita
                + QStringList{QStringLiteral("--archivio"),
                    QStringLiteral("postgresql://stazione@127.0.0.1:%1/banco?connect_timeout=60")
                        .arg(ntohs(indirizzo.sin_port))},
            conServerMuto, scarto);
    }
    ::close(muto);
    std::vector<double> aggiunti;
    for (size_t i = 0; i < senzaServer.size(); ++i)
        aggiunti.push_back(conServerMuto[i] - senzaServer[i]);
    tabella.riga({"Un banco di una riga per un'unità con un server che accetta e non risponde: "
                  "tempo reale in più, ms",
        mediana(aggiunti), "sotto 600 ms", esito(valoreMediano(aggiunti) < 600)});
    tabella.nota(QStringLiteral("Senza DISPLAY, risposta 1000 e stato 0 a ogni richiesta: %1.")
                     .arg(esito(risposte)));
    istrumento.terminate();
    istrumento.waitForFinished();
}

// 6. From process start to the window shown, in processes of their own.
void misuraAvvio(Tabella &tabella, const QString &sestesso)
{
    std::vector<double> avvii, memoria;
    for (int i = 0; i < kAvvii; ++i) {
        QProcess avvio;
        const qint64 inizio = monotonoNs();
        avvio.start(sestesso, {QStringLiteral("--avvio")});
        avvio.waitForFinished(20'000);
        const QList<QByteArray> uscita = avvio.readAllStandardOutput().trimmed().split(' ');
        if (uscita.size() != 2)
            continue;
        avvii.push_back((uscita[0].toLongLong() - inizio) / 1e6);
        memoria.push_back(uscita[1].toDouble() / 1024);
    }
    tabella.titolo(QStringLiteral("Avvio (%1 volte)").arg(avvii.size()));
    tabella.intestazione({"Misura", "Mediana (min–max)", "Obiettivo", "Raggiunto"});
    tabella.riga({"Dall'avvio del processo alla finestra mostrata, ms", mediana(avvii),
        "sotto 300 ms", esito(valoreMediano(avvii) < 300)});
    tabella.riga({"Memoria residente di picco a finestra ferma, MiB", mediana(memoria), "—", "—"});
}

int avvio(int argc, char *argv[])
{
    QApplication app(argc, argv);
    FinestraPrincipale finestra;
    finestra.show();
    if (!QTest::qWaitForWindowExposed(&finestra))
        qFatal("the window was never shown");
    std::printf("%lld %ld\n", static_cast<long long>(monotonoNs()), memoriaDiPiccoKb());
    return 0;
}

// 7. How long the request's bytes take on the wire: 11 bits a byte.
void calcolaTempiSulFilo(Tabella &tabella)
{
    tabella.titolo(
        QStringLiteral("Tempo sul filo dei byte della richiesta (calcolato, 11 bit per byte)"));
    tabella.intestazione({"Baud", "Fase 1 (1 byte), ms", "Fasi 2, 4, 5 (2 byte), ms",
        "Fase 3 (1 byte), ms", "Byte di una fase oltre la pausa di 100 ms"});
    for (const int baud :
        {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400, 56000}) {
        const double unByte = 1000.0 * kBitPerByte / baud;
        tabella.riga({QString::number(baud), QString::number(unByte, 'f', 2),
            QString::number(2 * unByte, 'f', 2), QString::number(unByte, 'f', 2),
            2 * unByte > 100 ? QStringLiteral("**sì**") : QStringLiteral("no")});
    }
    tabella.nota(
        QStringLiteral("A 110 baud i due byte di una fase restano sulla linea 200 ms: la pausa non "
                       "aspetta che escano, ma il programma non chiude né riconfigura la porta "
                       "prima che siano usciti."));
}

QString macchina()
{
    QFile cpu(QStringLiteral("/proc/cpuinfo"));
    cpu.open(QIODevice::ReadOnly);
    QString modello;
    for (const QByteArray &riga : cpu.readAll().split('\n')) {
        if (riga.startsWith("model name")) {
            modello = QString::fromLatin1(riga.mid(riga.indexOf(':') + 1).trimmed());
            break;
        }
    }
    // Where Qt Serial Port writes the lock file of each port it opens.
    const QStorageInfo blocchi(QStringLiteral("/run/lock"));
    return QStringLiteral("%1, %2 processori, %3 %4, Qt %5, piattaforma %6, /run/lock su %7")
        .arg(modello)
        .arg(QThread::idealThreadCount())
        .arg(QSysInfo::prettyProductName(), QSysInfo::kernelVersion(),
            QString::fromLatin1(qVersion()), QGuiApplication::platformName(),
            QString::fromLatin1(blocchi.fileSystemType()));
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--avvio") == 0)
        return avvio(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--archivio-interroga") == 0)
        return interrogaArchivio(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--storico-apri") == 0)
        return apriStorico(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--posti-memoria") == 0)
        return memoriaPosti(argc, argv);
    QApplication app(argc, argv);
    const QStringList argomenti = app.arguments();
    if (argomenti.size() < 3) {
        std::fprintf(stderr, "Uso: bench_banco STRUMENTO_VIRTUALE BANCO_RICHIESTA [FILE.md]\n");
        return 2;
    }

    Tabella tabella;
    tabella.righe << QStringLiteral("# Misure di Banco Seriale") << QString()
                  << QStringLiteral("Macchina: %1.").arg(macchina())
                  << QStringLiteral("Misurato il %1 con `scripts/bench`.")
                         .arg(QDate::currentDate().toString(Qt::ISODate));
    // BANCO_MISURE=richiesta,ricezione runs only the measures it names.
    const QStringList scelte = qEnvironmentVariable("BANCO_MISURE").split(u',', Qt::SkipEmptyParts);
    const auto scelta = [&](const char *nome) {
        return scelte.isEmpty() || scelte.contains(QLatin1String(nome));
    };
    if (scelta("richiesta"))
        misuraRichiesta(tabella, argomenti.at(1));
    if (scelta("ricezione"))
        misuraRicezione(tabella);
    if (scelta("registro"))
        misuraRegistro(tabella);
    if (scelta("ripetizione"))
        misuraRipetizione(tabella, argomenti.at(1));
    if (scelta("riga"))
        misuraRigaDiComando(tabella, argomenti.at(1), argomenti.at(2));
    if (scelta("avvio"))
        misuraAvvio(tabella, argomenti.at(0));
    if (scelta("filo"))
        calcolaTempiSulFilo(tabella);
    if (scelta("tabella"))
        misuraGiroDellaTabella(tabella, argomenti.at(1));
    if (scelta("memoria"))
        misuraMemoriaNelTempo(tabella, argomenti.at(1));
    if (scelta("grande"))
        misuraBancoGrande(tabella);
    if (scelta("ricerca"))
        misuraRicerca(tabella, argomenti.at(1), argomenti.at(2));
    if (scelta("carico"))
        misuraSottoCarico(tabella, argomenti.at(1));
    if (scelta("archivio"))
        misuraArchivio(tabella, argomenti.at(0));
    if (scelta("collaudo"))
        misuraCollaudo(tabella, argomenti.at(0));
    if (scelta("deriva"))
        misuraSorveglianza(tabella);
    if (scelta("posti"))
        misuraPosti(tabella, argomenti.at(1), argomenti.at(2), argomenti.at(0));
    if (scelta("carta"))
        misuraCarta(tabella);
    if (scelta("tracciabilita"))
        misuraTracciabilita(tabella);

    const QString testo = tabella.righe.join(u'\n') + u'\n';
    std::fputs(qPrintable(testo), stdout);
    if (argomenti.size() > 3) {
        QFile file(argomenti.at(3));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 1;
        file.write(testo.toUtf8());
    }
    return 0;
}
