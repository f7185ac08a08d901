// The bench's table: a round of rows read against the virtual instrument, what it costs the
// processor with the table and traffic windows open, where memory goes over a long run, and a
// bench of 65,535 rows loaded, shown, reported and exported.

#include "bench_tabella.h"

#include "file_banco.h"
#include "finestra_principale.h"
#include "finestra_tabella.h"
#include "finestra_traffico.h"
#include "grafici_tabella.h"
#include "form3.h"
#include "lettura_tabella.h"
#include "modello_tabella.h"
#include "processo.h"
#include "rapporto_junit.h"

#include <QDateTime>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <malloc.h>

namespace {

using namespace Misure;

qint64 heapInUso()
{
    const struct mallinfo2 m = mallinfo2();
    return qint64(m.uordblks + m.hblkhd);
}

DatiBanco bancoDiProva(const QString &porta, int righe)
{
    DatiBanco banco;
    banco.porta = porta;
    banco.righe.resize(righe);
    for (int i = 0; i < righe; ++i) {
        RigaBanco &r = banco.righe[i];
        r.nome = QStringLiteral("Parametro %1").arg(i + 1);
        r.memoria = quint16(0x0008 + i);
        r.decimali = 1;
        r.unita = QStringLiteral("°C");
        r.minimo = 0;
        r.massimo = 6553.5;
    }
    return banco;
}

// One round of the table, with what each request cost the processor and how long it spent
// outside its five pauses (the two port reopens and the writes).
struct Giro
{
    double pareteMs = 0;
    double pauseMs = 0;
    std::vector<double> processore, fuoriDallePause;
    int risposte = 0;
};

Giro leggiUnGiro(FinestraPrincipale &principale)
{
    LetturaTabella &lettura = principale.letturaTabella();
    Sequenziatore &sequenziatore = principale.pannello().sequenziatore();
    Giro giro;
    double pause = 0;
    auto perPausa
        = QObject::connect(&sequenziatore, &Sequenziatore::pausaTerminata, [&](nanoseconds d) {
              pause += d.count() / 1e6;
              giro.pauseMs += d.count() / 1e6;
          });
    double ultimo = processoreMs();
    auto perRiga = QObject::connect(
        &lettura, &LetturaTabella::letta, [&](qint64, int, const RisultatoRichiesta &r) {
            const double adesso = processoreMs();
            giro.processore.push_back(adesso - ultimo);
            ultimo = adesso;
            giro.fuoriDallePause.push_back(r.durataUs / 1000.0 - pause);
            pause = 0;
            giro.risposte += r.esito == RisultatoRichiesta::Esito::Risposta;
        });
    // Started as the operator starts it, with a click on "Leggi tutto": the window then holds
    // its line fields while the round runs, and the focus leaves them for "Ferma".
    auto *leggiTutto
        = principale.finestraTabella().findChild<QPushButton *>(QStringLiteral("leggiTutto"));
    QElapsedTimer orologio;
    orologio.start();
    QTest::mouseClick(leggiTutto, Qt::LeftButton);
    attendi([&] { return !lettura.inCorso(); }, minutes(30));
    giro.pareteMs = orologio.nsecsElapsed() / 1e6;
    QObject::disconnect(perPausa);
    QObject::disconnect(perRiga);
    return giro;
}

// The virtual instrument on a link of its own, and the program's window with a bench of righe
// rows on that line, the table shown.
struct BancoInFinestra
{
    QTemporaryDir cartella;
    QString porta = cartella.filePath(QStringLiteral("porta"));
    QProcess istrumento;
    FinestraPrincipale principale;

    BancoInFinestra(const QString &strumento, int righe, bool tieniIlRegistro = false)
    {
        avviaStrumento(
            istrumento, strumento, {QStringLiteral("--collegamento"), porta}, tieniIlRegistro);
        principale.show();
        principale.tabella().imposta(bancoDiProva(porta, righe));
        principale.mostraTabella();
        if (!QTest::qWaitForWindowExposed(&principale.finestraTabella()))
            qFatal("the table window was never shown");
    }
    ~BancoInFinestra()
    {
        istrumento.terminate();
        istrumento.waitForFinished();
    }
};

double somma(const std::vector<double> &valori)
{
    double s = 0;
    for (double v : valori)
        s += v;
    return s;
}

} // namespace

// 8. A round of the table against the virtual instrument, with the table window open and then
// with the traffic window too.
void misuraGiroDellaTabella(Tabella &tabella, const QString &strumento)
{
    const int righe = numeroDaAmbiente("BANCO_RIGHE", 20);
    BancoInFinestra banco(strumento, righe);
    FinestraPrincipale &principale = banco.principale;
    leggiUnGiro(principale); // opens the port and warms the caches: not counted
    const Giro soloTabella = leggiUnGiro(principale);
    principale.mostraTraffico();
    if (!QTest::qWaitForWindowExposed(&principale.traffico()))
        qFatal("the traffic window was never shown");
    const Giro conTraffico = leggiUnGiro(principale);

    const double limite = 1.01 * righe * 500 + somma(soloTabella.fuoriDallePause);
    tabella.titolo(
        QStringLiteral("Un giro della tabella allo strumento virtuale (%1 righe)").arg(righe));
    tabella.intestazione({"Misura", "Mediana (min–max)", "Obiettivo", "Raggiunto"});
    tabella.riga({"Durata del giro, ms", QString::number(soloTabella.pareteMs, 'f', 0),
        QStringLiteral("al più 1,01 × %1 × 500 ms più le riaperture: %2")
            .arg(righe)
            .arg(limite, 0, 'f', 0),
        esito(soloTabella.pareteMs <= limite)});
    tabella.riga({"Fuori dalle cinque pause (due riaperture della porta, scritture), ms per "
                  "richiesta",
        mediana(soloTabella.fuoriDallePause, 2), "misurato", "—"});
    tabella.riga(
        {"Le cinque pause, ms per richiesta", QString::number(soloTabella.pauseMs / righe, 'f', 2),
            "al più 505", esito(soloTabella.pauseMs / righe <= 505)});
    tabella.riga({"Fra una richiesta e la successiva, ms",
        QString::number(
            (soloTabella.pareteMs - soloTabella.pauseMs - somma(soloTabella.fuoriDallePause))
                / righe,
            'f', 2),
        "misurato", "—"});
    tabella.riga({"Processore per riga, finestra della tabella aperta, ms",
        mediana(soloTabella.processore, 2), "sotto 5 ms",
        esito(valoreMediano(soloTabella.processore) < 5)});
    tabella.riga({"Processore per riga, finestre della tabella e del traffico aperte, ms",
        mediana(conTraffico.processore, 2), "al più 6 ms",
        esito(valoreMediano(conTraffico.processore) <= 6)});
    tabella.nota(QStringLiteral("Risposte: %1 su %2 e %3 su %2.")
                     .arg(soloTabella.risposte)
                     .arg(righe)
                     .arg(conTraffico.risposte));
}

// 9. Memory over a long run: the heap in use per request, against what the record keeps for
// it, and with the record at its bound.
void misuraMemoriaNelTempo(Tabella &tabella, const QString &strumento)
{
    const int richieste = numeroDaAmbiente("BANCO_RICHIESTE_MEMORIA", 200);
    BancoInFinestra banco(strumento, 10);
    FinestraPrincipale &principale = banco.principale;
    principale.mostraRipetizione();
    LetturaTabella &lettura = principale.letturaTabella();
    RegistroTraffico &registro = principale.pannello().registro();

    // Requests in rounds of ten rows; the heap and the record's events before and after, and the
    // heap in use every hundred requests, so that what fills once (the caches of laid-out texts
    // and of painting) is told from what grows with each request.
    std::vector<qint64> campioni;
    auto campiona = QObject::connect(
        &lettura, &LetturaTabella::letta, [&](qint64 giro, int riga, const RisultatoRichiesta &) {
            if ((giro * 10 + riga + 1) % 100 == 0)
                campioni.push_back(heapInUso());
        });
    // Bytes a request over the second half of the samples; over the whole run where there are
    // too few samples to halve.
    const auto pendenza = [&](qint64 heap, int quante) {
        const size_t meta = campioni.size() / 2;
        return campioni.size() < 3
            ? double(heap) / quante
            : double(campioni.back() - campioni[meta]) / double((campioni.size() - 1 - meta) * 100);
    };
    const auto corri = [&](int quante, qint64 &heap, qint64 &eventi) {
        lettura.avvia(1, 0); // warm-up
        attendi([&] { return !lettura.inCorso(); }, minutes(5));
        malloc_trim(0);
        const qint64 heapPrima = heapInUso();
        const quint64 eventiPrima = registro.fineAssoluta();
        const qint64 tenutiPrima = registro.size();
        campioni.clear();
        lettura.avvia(quante / 10, 0);
        attendi([&] { return !lettura.inCorso(); }, minutes(quante));
        malloc_trim(0);
        heap = heapInUso() - heapPrima;
        eventi = qint64(registro.fineAssoluta() - eventiPrima);
        return registro.size() - tenutiPrima;
    };
    // BANCO_MEMORIA_REGISTRO=cresce or =limite runs one of the two cases, so that long runs of
    // both can go side by side in two processes.
    const QString caso = qEnvironmentVariable("BANCO_MEMORIA_REGISTRO");
    qint64 heapLibero = 0, eventiLibero = 0;
    if (caso != u"limite")
        corri(richieste, heapLibero, eventiLibero);
    const double pendenzaLibero = pendenza(heapLibero, richieste);

    // The record filled to its bound with requests like these: each new request drops an old
    // one, events, notes and result.
    quint8 byte = 0;
    qint64 heapPieno = 0, eventiPieno = 0;
    if (caso != u"cresce") {
        while (registro.scartati() == 0)
            richiestaNelRegistro(registro, byte);
        corri(richieste, heapPieno, eventiPieno);
    }
    const double pendenzaPieno = pendenza(heapPieno, richieste);
    QObject::disconnect(campiona);

    // The record's share: what the same requests take in a record of their own.
    malloc_trim(0);
    const qint64 primaDelRegistro = heapInUso();
    double quotaDelRegistro = 0;
    {
        RegistroTraffico solo;
        for (int i = 0; i < 10'000; ++i)
            richiestaNelRegistro(solo, byte);
        quotaDelRegistro = double(heapInUso() - primaDelRegistro) / 10'000;
    }
    tabella.titolo(QStringLiteral("Memoria nel tempo: heap in uso, %1 richieste della tabella con "
                                  "le finestre della tabella e della ripetizione aperte")
                       .arg(richieste));
    tabella.intestazione({"Registro", "Eventi per richiesta", "Heap per richiesta, byte",
        "Nella seconda metà, byte per richiesta", "Quota del registro, byte", "Obiettivo",
        "Raggiunto"});
    if (caso != u"limite") {
        tabella.riga({"che cresce", QString::number(double(eventiLibero) / richieste, 'f', 1),
            QString::number(double(heapLibero) / richieste, 'f', 0),
            QString::number(pendenzaLibero, 'f', 0), QString::number(quotaDelRegistro, 'f', 0),
            "non oltre la quota del registro", esito(pendenzaLibero <= quotaDelRegistro * 1.05)});
    }
    if (caso != u"cresce") {
        tabella.riga({"al suo limite", QString::number(double(eventiPieno) / richieste, 'f', 1),
            QString::number(double(heapPieno) / richieste, 'f', 0),
            QString::number(pendenzaPieno, 'f', 0), "0", "nessuna crescita (sotto 64 byte)",
            esito(pendenzaPieno < 64)});
    }
    tabella.nota(QStringLiteral(
        "Giudicato sulla seconda metà della corsa: nella prima si riempiono anche le cache dei "
        "testi disposti e della pittura di Qt, che si riempiono una volta sola."));
}

// 10. A bench of 65,535 rows: the file loaded, the table shown and scrolled, the memory it
// takes, its JUnit report and its CSV export.
void misuraBancoGrande(Tabella &tabella)
{
    constexpr int kRighe = 65'535;
    QTemporaryDir cartella;
    const QString file = cartella.filePath(QStringLiteral("grande.banco"));
    FileBanco::salva(file, bancoDiProva(QStringLiteral("1"), kRighe), nullptr);

    std::vector<double> carica;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer orologio;
        orologio.start();
        const std::optional<DatiBanco> banco = FileBanco::carica(file, nullptr);
        carica.push_back(orologio.nsecsElapsed() / 1e6);
    }

    // The memory the bench takes from here: its rows, their readings and the table that shows
    // them, in a window already open.
    FinestraPrincipale principale;
    principale.show();
    principale.mostraTabella();
    if (!QTest::qWaitForWindowExposed(&principale.finestraTabella()))
        qFatal("the table window was never shown");
    malloc_trim(0);
    const long residentePrima = memoriaResidenteKb();
    const qint64 heapPrima = heapInUso();
    QElapsedTimer orologio;
    orologio.start();
    std::optional<DatiBanco> bancoLetto = FileBanco::carica(file, nullptr);
    const double primaLettura = orologio.nsecsElapsed() / 1e6;
    orologio.restart();
    principale.tabella().imposta(std::move(*bancoLetto));
    bancoLetto.reset();
    QCoreApplication::processEvents();
    const double mostra = orologio.nsecsElapsed() / 1e6;
    auto *vista
        = principale.finestraTabella().findChild<QTableView *>(QStringLiteral("tabellaBanco"));
    std::vector<double> scorri;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer passo;
        passo.start();
        QScrollBar *barra = vista->verticalScrollBar();
        barra->setValue(
            i % 2 ? barra->maximum() * (i + 1) / 20 : barra->maximum() - barra->maximum() * i / 20);
        vista->viewport()->repaint();
        scorri.push_back(passo.nsecsElapsed() / 1e6);
    }
    malloc_trim(0);
    const double memoriaMiB = (heapInUso() - heapPrima) / 1048576.0;
    const double residenteMiB = (memoriaResidenteKb() - residentePrima) / 1024.0;

    // Every row read once, as a round ends: the report and the export.
    ModelloTabella &modello = principale.tabella();
    RapportoJUnit rapporto(modello, {{QStringLiteral("porta"), QStringLiteral("1")}});
    RisultatoRichiesta letto;
    letto.esito = RisultatoRichiesta::Esito::Risposta;
    letto.inizio = QDateTime::currentDateTime();
    letto.durataUs = 505'000;
    for (int n = 0; n < kRighe; ++n) {
        letto.valore = quint16(n);
        modello.registra(n, letto);
        rapporto.aggiungi(0, n, letto);
    }
    orologio.restart();
    rapporto.scrivi(cartella.filePath(QStringLiteral("rapporto.xml")), false, nullptr);
    const double rapportoMs = orologio.nsecsElapsed() / 1e6;
    orologio.restart();
    QFile csv(cartella.filePath(QStringLiteral("tabella.csv")));
    csv.open(QIODevice::WriteOnly);
    csv.write(modello.comeCsv(TestiTraffico::FormaCsv::Foglio));
    csv.close();
    const double csvMs = orologio.nsecsElapsed() / 1e6;

    tabella.titolo(QStringLiteral("Un banco di %L1 righe").arg(kRighe));
    tabella.intestazione({"Misura", "Mediana (min–max)", "Obiettivo", "Raggiunto"});
    tabella.riga({"File letto (%1 MiB), ms", mediana(carica), "sotto 200 ms",
        esito(valoreMediano(carica) < 200)});
    tabella.righe.last().replace(
        QStringLiteral("%1"), QString::number(QFileInfo(file).size() / 1048576.0, 'f', 1));
    tabella.riga({"Letto la prima volta, nella memoria ancora da toccare, ms",
        QString::number(primaLettura, 'f', 1), "—", "—"});
    tabella.riga({"Dal banco letto alla tabella mostrata, ms", QString::number(mostra, 'f', 1),
        "subito (sotto 100 ms)", esito(mostra < 100)});
    tabella.riga({"Un salto della barra con la tabella ridisegnata, ms", mediana(scorri, 2),
        "senza ritardo (sotto 16 ms)", esito(valoreMediano(scorri) < 16)});
    tabella.riga({"Heap del banco e della sua tabella, MiB", QString::number(memoriaMiB, 'f', 1),
        "sotto 32 MiB", esito(memoriaMiB < 32)});
    tabella.riga(
        {"Memoria residente in più, MiB", QString::number(residenteMiB, 'f', 1), "—", "—"});
    tabella.riga({"Rapporto JUnit scritto, ms", QString::number(rapportoMs, 'f', 0),
        "sotto 1000 ms", esito(rapportoMs < 1000)});
    tabella.riga({"Tabella esportata in CSV, ms", QString::number(csvMs, 'f', 0), "sotto 1000 ms",
        esito(csvMs < 1000)});
}

// 13. The table read round and round with its chart and the traffic window open, on a machine
// kept busy by a loop for each processor: how long each pause lasted in the program (the next
// phase's bytes leave as it ends) and how many requests the virtual instrument refused.
void misuraSottoCarico(Tabella &tabella, const QString &strumento)
{
    const int richieste = numeroDaAmbiente("BANCO_RICHIESTE_CARICO", 200);
    BancoInFinestra banco(strumento, GraficiTabella::kMassimoRighe, true);
    FinestraPrincipale &principale = banco.principale;
    FinestraTabella &finestra = principale.finestraTabella();
    auto *vista = finestra.findChild<QTableView *>(QStringLiteral("tabellaBanco"));
    vista->selectAll();
    finestra.findChild<QPushButton *>(QStringLiteral("grafico"))->click();
    principale.mostraTraffico();
    finestra.findChild<QSpinBox *>(QStringLiteral("pausaTabella"))->setValue(0);

    std::vector<double> pause;
    auto perPausa = QObject::connect(&principale.pannello().sequenziatore(),
        &Sequenziatore::pausaTerminata, [&](nanoseconds d) { pause.push_back(d.count() / 1e6); });
    int fatte = 0;
    auto perRiga = QObject::connect(&principale.letturaTabella(), &LetturaTabella::letta,
        [&](qint64, int, const RisultatoRichiesta &) { ++fatte; });
    std::vector<std::unique_ptr<QProcess>> cicli;
    for (int i = 0; i < QThread::idealThreadCount(); ++i) {
        cicli.push_back(std::make_unique<QProcess>());
        cicli.back()->start(
            QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
    }
    finestra.leggiDiContinuo();
    attendi([&] { return fatte >= richieste; }, minutes(30));
    finestra.ferma();
    attendi([&] { return !principale.letturaTabella().inCorso(); });
    for (auto &ciclo : cicli) {
        ciclo->kill();
        ciclo->waitForFinished();
    }
    QObject::disconnect(perPausa);
    QObject::disconnect(perRiga);

    banco.istrumento.terminate();
    banco.istrumento.waitForFinished();
    const QString registro = QString::fromUtf8(banco.istrumento.readAllStandardOutput());
    const qsizetype rifiutate = registro.count(QStringLiteral("richiesta non valida"))
        + registro.count(QStringLiteral("richiesta incompleta"));
    std::sort(pause.begin(), pause.end());
    const double p99 = pause.empty() ? 0 : pause[pause.size() * 99 / 100];
    tabella.titolo(
        QStringLiteral("La tabella letta di continuo, con il grafico e il traffico aperti, "
                       "sotto carico (%1 cicli del processore)")
            .arg(cicli.size()));
    tabella.intestazione({"Misura", "Mediana (min–max)", "Obiettivo", "Raggiunto"});
    tabella.riga({QStringLiteral("Durata di ciascuna pausa (%1), ms").arg(pause.size()),
        mediana(pause, 1), "misurato", "—"});
    tabella.riga({"99° percentile delle pause, ms", QString::number(p99, 'f', 1), "al più 110",
        esito(p99 <= 110)});
    tabella.riga({QStringLiteral("Richieste rifiutate dallo strumento, su %1").arg(fatte),
        QString::number(rifiutate), "nessuna", esito(rifiutate == 0)});
}
