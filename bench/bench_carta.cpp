#include "bench_carta.h"

#include "archivio.h"
#include "destinazione.h"
#include "finestra_storico.h"
#include "grafico_storico.h"
#include "lettore_storico.h"

#include <QApplication>
#include <QGraphicsView>
#include <QComboBox>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <cmath>
#include <random>

using namespace Misure;

namespace {

constexpr int kGiri = 7;
constexpr double kObiettivoMs = 200;

// A row that holds steady for most of the runs, then drifts towards its upper limit: the chart
// then marks points, as it would on a line that needs it.
void riempi(Archivio &archivio, int prove)
{
    std::mt19937 caso(2031);
    std::normal_distribution<double> rumore(0, 0.4);
    QSqlDatabase db = archivio.database();
    db.transaction();
    const QDateTime inizio = QDateTime::currentDateTimeUtc().addSecs(-prove * 30);
    for (int i = 0; i < prove; ++i) {
        ProvaArchiviata p;
        p.stazione = QStringLiteral("S1");
        p.operatore = QStringLiteral("operatore");
        p.unita = QStringLiteral("U%1").arg(i, 5, 10, QLatin1Char('0'));
        p.banco = QStringLiteral("carta.banco");
        p.shaBanco = QStringLiteral("0123456789abcdef");
        p.linea = QStringLiteral("1, 9600");
        p.inizio = inizio.addSecs(i * 30);
        archivio.iniziaProva(p);
        LetturaArchiviata l;
        l.nome = QStringLiteral("Tensione");
        l.memoria = QStringLiteral("000C");
        l.unitaMisura = QStringLiteral("V");
        const double deriva = i > prove * 9 / 10 ? (i - prove * 9 / 10) * 0.004 : 0;
        l.valore = 230 + rumore(caso) + deriva;
        l.valoreMostrato = QString::number(*l.valore, 'f', 1) + QStringLiteral(" V");
        l.minimo = 220;
        l.massimo = 240;
        const bool entro = *l.valore >= 220 && *l.valore <= 240;
        l.stato = entro ? QStringLiteral("entro i limiti") : QStringLiteral("fuori dai limiti");
        if (!entro)
            l.giudizio = LetturaArchiviata::Giudizio::FuoriDaiLimiti;
        l.istante = p.inizio;
        archivio.registraLettura(p.uuid, l);
        archivio.finisciProva(p.uuid, entro ? Esiti::kConforme : Esiti::kNonConforme);
    }
    QSqlQuery(db).exec(QStringLiteral("UPDATE prove SET inviata = 1"));
    db.commit();
}

// Both charts painted now, as the next paint event would.
void dipingi(QWidget &grafico)
{
    for (QGraphicsView *vista : grafico.findChildren<QGraphicsView *>())
        vista->viewport()->repaint();
}

} // namespace

void misuraCarta(Tabella &tabella)
{
    const int prove = numeroDaAmbiente("BANCO_PROVE_CARTA", 10'000);
    QTemporaryDir cartella;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(cartella.filePath(QStringLiteral("conf"))));
    const QString file = cartella.filePath(QStringLiteral("carta.sqlite"));
    std::unique_ptr<Archivio> archivio = Archivio::apriLocale(file, nullptr);
    riempi(*archivio, prove);
    tabella.titolo(QStringLiteral("Carta di controllo"));

    // The chart alone: the series asked of the archive, analysed, given to the chart and
    // painted, in the window's size.
    QWidget finestra;
    auto *grafico = new GraficoStorico(&finestra);
    (new QVBoxLayout(&finestra))->addWidget(grafico);
    finestra.resize(1200, 620);
    finestra.show();
    attendi([&] { return finestra.isVisible(); });
    QCoreApplication::processEvents();
    std::vector<double> domanda, disegno, totale;
    qsizetype punti = 0, marcati = 0;
    for (int giro = 0; giro < kGiri; ++giro) {
        const qint64 t0 = monotonoNs();
        const std::optional<QList<SerieCarta>> serie
            = archivio->serieCarta(FiltroProve(), QStringLiteral("Tensione"), true);
        const qint64 t1 = monotonoNs();
        if (!serie || serie->isEmpty()) {
            tabella.nota(QStringLiteral("La carta non ha valori: %1").arg(archivio->errore()));
            return;
        }
        const CartaControllo::Analisi analisi = analizza(serie->front(), giro % 2 == 1);
        grafico->mostra(serie->front(), analisi);
        dipingi(*grafico);
        const qint64 t2 = monotonoNs();
        domanda.push_back((t1 - t0) / 1e6);
        disegno.push_back((t2 - t1) / 1e6);
        totale.push_back((t2 - t0) / 1e6);
        punti = serie->front().valori.size();
        marcati = analisi.fuoriControllo();
    }

    // The window on its chart's tab: F5 asks the statistics, then the row's series, then draws.
    std::vector<double> finestraMs;
    {
        FinestraStorico storico(
            std::make_unique<LettoreStorico>(Destinazione::Scelta{file, std::nullopt}));
        storico.resize(1200, 780);
        storico.show();
        storico.findChild<QTabWidget *>(QStringLiteral("schede"))->setCurrentIndex(2);
        auto *carta = storico.findChild<GraficoStorico *>();
        bool mostrato = false;
        QObject::connect(carta, &GraficoStorico::mostrato, carta, [&] { mostrato = true; });
        attendi([&] { return mostrato; }, 60s);
        for (int giro = 0; giro < kGiri; ++giro) {
            mostrato = false;
            const qint64 t0 = monotonoNs();
            storico.aggiorna();
            if (!attendi([&] { return mostrato; }, 60s))
                break;
            dipingi(*carta);
            finestraMs.push_back((monotonoNs() - t0) / 1e6);
        }
    }

    tabella.intestazione({QStringLiteral("Misura"), QStringLiteral("ms"),
        QStringLiteral("Limite"), QStringLiteral("Entro")});
    tabella.riga({QStringLiteral("la serie di %1 valori dall'archivio (`serieCarta` con i punti)")
                      .arg(punti),
        mediana(domanda), QStringLiteral("—"), QStringLiteral("—")});
    tabella.riga({QStringLiteral("regole, carta e carta delle escursioni disegnate"),
        mediana(disegno), QStringLiteral("—"), QStringLiteral("—")});
    tabella.riga({QStringLiteral("dalla domanda alla carta disegnata"), mediana(totale),
        QString::number(kObiettivoMs), esito(valoreMediano(totale) < kObiettivoMs)});
    if (!finestraMs.empty()) {
        tabella.riga({QStringLiteral("la finestra, F5 sulla scheda Grafico (statistiche, rese, "
                                     "serie, carta)"),
            mediana(finestraMs), QStringLiteral("—"), QStringLiteral("—")});
    }
    tabella.nota(QStringLiteral("Misurato con `BANCO_MISURE=carta`: %1 prove di una riga nel file "
                                "della stazione, l'ultimo decimo in deriva (%2 punti marcati), "
                                "%3 giri, senza OpenGL, su Xvfb.")
                     .arg(QString::number(prove), QString::number(marcati),
                         QString::number(kGiri)));
}
