#include "bench_archivio.h"

#include "archivio.h"
#include "destinazione.h"
#include "inoltro.h"
#include "processo.h"
#include "server_postgres.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <random>

using namespace Misure;

namespace {

constexpr int kRighe = 100;

LetturaArchiviata lettura(int n, double valore)
{
    LetturaArchiviata l;
    l.n = n;
    l.nome = QStringLiteral("R%1").arg(n, 3, 10, QLatin1Char('0'));
    l.strumento = n % 4;
    l.memoria = QStringLiteral("%1").arg(n, 4, 16, QLatin1Char('0')).toUpper();
    l.parola = int(valore * 10);
    l.valore = valore;
    l.valoreMostrato = QString::number(valore, 'f', 1);
    l.minimo = 40;
    l.massimo = 60;
    l.stato = valore < 40 || valore > 60 ? QStringLiteral("fuori dai limiti")
                                         : QStringLiteral("entro i limiti");
    if (valore < 40 || valore > 60)
        l.giudizio = LetturaArchiviata::Giudizio::FuoriDaiLimiti;
    l.latenzaMs = 12.5;
    l.istante = QDateTime::currentDateTimeUtc();
    return l;
}

ProvaCompleta provaFinta(int i, int righe, std::mt19937 &caso)
{
    std::normal_distribution<double> valori(50, 3);
    ProvaCompleta c;
    c.prova.uuid = nuovoUuid();
    c.prova.stazione = QStringLiteral("S%1").arg(i % 4);
    c.prova.operatore = QStringLiteral("operatore");
    c.prova.unita = QStringLiteral("U%1").arg(i / 2, 5, 10, QLatin1Char('0'));
    c.prova.tentativo = i % 2 + 1;
    c.prova.banco = QStringLiteral("linea.banco");
    c.prova.shaBanco = QStringLiteral("0123456789abcdef");
    c.prova.linea = QStringLiteral("1, 9600");
    c.prova.inizio = QDateTime::currentDateTimeUtc().addSecs(i - 100'000);
    c.prova.fine = c.prova.inizio.addSecs(5);
    bool fuori = false;
    for (int n = 0; n < righe; ++n) {
        c.letture.append(lettura(n, valori(caso)));
        fuori = fuori || c.letture.last().stato != u"entro i limiti";
    }
    c.prova.esito = fuori ? Esiti::kNonConforme : Esiti::kConforme;
    return c;
}

} // namespace

// The runs written straight into the station's file, in one transaction: how the bench makes a
// large archive quickly, not how the program records.
void riempiLocale(Archivio &archivio, int prove, std::mt19937 &caso)
{
    QSqlDatabase db = archivio.database();
    db.transaction();
    for (int i = 0; i < prove; ++i) {
        ProvaCompleta c = provaFinta(i, kRighe, caso);
        archivio.iniziaProva(c.prova);
        for (const LetturaArchiviata &l : c.letture)
            archivio.registraLettura(c.prova.uuid, l);
        archivio.finisciProva(c.prova.uuid, c.prova.esito);
    }
    QSqlQuery(db).exec(QStringLiteral("UPDATE prove SET inviata = 1"));
    db.commit();
}

void riempiServer(Archivio &server, int prove, std::mt19937 &caso)
{
    for (int da = 0; da < prove; da += 100) {
        QList<ProvaCompleta> gruppo;
        for (int i = da; i < std::min(prove, da + 100); ++i)
            gruppo.append(provaFinta(i, kRighe, caso));
        server.ricevi(gruppo);
    }
}

namespace {

// CPU time of recording one run of 100 readings, as the program does: one commit per reading.
double costoDiUnaProva(Archivio &archivio, std::mt19937 &caso)
{
    const ProvaCompleta c = provaFinta(0, kRighe, caso);
    ProvaArchiviata p = c.prova;
    p.uuid.clear();
    const double inizio = processoreMs();
    archivio.iniziaProva(p);
    for (const LetturaArchiviata &l : c.letture)
        archivio.registraLettura(p.uuid, l);
    archivio.finisciProva(p.uuid, p.esito);
    return processoreMs() - inizio;
}

QStringList interroga(const QString &programma, const QString &dove)
{
    return cifreDi(
        programma, {QStringLiteral("--archivio-interroga"), dove, QStringLiteral("U01234")});
}

} // namespace

int interrogaArchivio(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString dove = app.arguments().value(2);
    std::unique_ptr<Archivio> archivio;
    if (Destinazione::eUnUrl(dove)) {
        const auto server = Destinazione::leggiUrl(dove, nullptr);
        if (server)
            archivio = Archivio::apriServer(*server, nullptr);
    } else {
        archivio = Archivio::apriLocale(dove, nullptr);
    }
    if (!archivio)
        return 1;
    FiltroProve unita;
    unita.unita = app.arguments().value(3);
    QElapsedTimer orologio;
    orologio.start();
    int prove = 0;
    QList<LetturaArchiviata> letture;
    archivio->perOgniProva(unita, 0, [&](const ProvaArchiviata &) { ++prove; });
    FiltroProve tutte;
    const double storico = orologio.nsecsElapsed() / 1e6;
    orologio.restart();
    const auto cifre = archivio->statisticheERese(tutte, true);
    const double statistiche = orologio.nsecsElapsed() / 1e6;
    std::printf("%.1f %.1f %ld %d %lld\n", storico, statistiche, memoriaDiPiccoKb(), prove,
        cifre ? qlonglong(cifre->statistiche.size()) : -1LL);
    return cifre ? 0 : 1;
}

void misuraArchivio(Tabella &tabella, const QString &programma)
{
    const int prove = numeroDaAmbiente("BANCO_PROVE_ARCHIVIO", 10'000);
    std::mt19937 caso(2026);
    QTemporaryDir cartella;
    const QString file = cartella.filePath(QStringLiteral("archivio.sqlite"));
    tabella.titolo(QStringLiteral("Archivio"));

    std::unique_ptr<Archivio> locale = Archivio::apriLocale(file, nullptr);
    std::vector<double> vuoto, pieno;
    for (int i = 0; i < 5; ++i)
        vuoto.push_back(costoDiUnaProva(*locale, caso));
    riempiLocale(*locale, prove, caso);
    for (int i = 0; i < 5; ++i)
        pieno.push_back(costoDiUnaProva(*locale, caso));
    tabella.intestazione({QStringLiteral("Misura"), QStringLiteral("SQLite"),
        QStringLiteral("PostgreSQL"), QStringLiteral("Limite"), QStringLiteral("Entro")});
    tabella.riga({QStringLiteral("registrare una prova di 100 letture, archivio vuoto (ms di "
                                 "processore)"),
        mediana(vuoto), QStringLiteral("—"), QStringLiteral("20"),
        esito(valoreMediano(vuoto) < 20)});
    tabella.riga({QStringLiteral("la stessa, con %1 letture nell'archivio (ms di processore)")
                      .arg(qint64(prove) * kRighe),
        mediana(pieno), QStringLiteral("—"), QStringLiteral("20"),
        esito(valoreMediano(pieno) < 20)});
    locale.reset();

    ServerPostgres server;
    QString motivo;
    const bool conServer = server.avvia(&motivo);
    QStringList dalServer{QStringLiteral("—"), QStringLiteral("—"), QStringLiteral("—")};
    double invioS = -1;
    if (conServer) {
        const auto destinazione = Destinazione::leggiUrl(server.url(), nullptr);
        std::unique_ptr<Archivio> remoto = Archivio::apriServer(*destinazione, nullptr);
        riempiServer(*remoto, prove, caso);
        server.interroga(QStringLiteral("ANALYZE"));
        dalServer = interroga(programma, server.url());

        // 1,000 runs of 20 readings waiting in a station's file, sent as the program sends.
        const QString attesa = cartella.filePath(QStringLiteral("attesa.sqlite"));
        {
            std::unique_ptr<Archivio> stazione = Archivio::apriLocale(attesa, nullptr);
            QSqlDatabase db = stazione->database();
            db.transaction();
            for (int i = 0; i < 1000; ++i) {
                ProvaCompleta c = provaFinta(i, 20, caso);
                c.prova.uuid.clear();
                stazione->iniziaProva(c.prova);
                for (const LetturaArchiviata &l : c.letture)
                    stazione->registraLettura(c.prova.uuid, l);
                stazione->finisciProva(c.prova.uuid, c.prova.esito);
            }
            db.commit();
        }
        Inoltro inoltro(attesa, *destinazione);
        QElapsedTimer orologio;
        orologio.start();
        inoltro.inviaOra();
        inoltro.attendi(600'000);
        invioS = orologio.elapsed() / 1000.0;
    }
    const QStringList dalFile = interroga(programma, file);
    const auto cella = [](const QStringList &m, int i) { return m.value(i, QStringLiteral("—")); };
    tabella.riga({QStringLiteral("storico di un'unità su %1 prove × 100 letture (ms)").arg(prove),
        cella(dalFile, 0), cella(dalServer, 0), QStringLiteral("50"),
        esito(dalFile.value(0).toDouble() < 50
            && (!conServer || dalServer.value(0).toDouble() < 50))});
    tabella.riga({QStringLiteral("statistiche con i limiti e le 8 regole delle carte, e rese, di ogni "
                                 "riga su tutte le prove (ms)"),
        cella(dalFile, 1), cella(dalServer, 1), QStringLiteral("1000"),
        esito(dalFile.value(1).toDouble() < 1000
            && (!conServer || dalServer.value(1).toDouble() < 1000))});
    tabella.riga({QStringLiteral("memoria di picco della stazione mentre le chiede (MiB)"),
        QString::number(dalFile.value(2).toDouble() / 1024, 'f', 1),
        conServer ? QString::number(dalServer.value(2).toDouble() / 1024, 'f', 1)
                  : QStringLiteral("—"),
        QStringLiteral("64"),
        esito(dalFile.value(2).toDouble() / 1024 < 64
            && (!conServer || dalServer.value(2).toDouble() / 1024 < 64))});
    tabella.riga({QStringLiteral("1000 prove di 20 letture in attesa, inviate al server (s)"),
        QStringLiteral("—"), invioS >= 0 ? QString::number(invioS, 'f', 2) : QStringLiteral("—"),
        QStringLiteral("10"), esito(invioS >= 0 && invioS < 10)});
    tabella.nota(conServer
            ? QStringLiteral("Il server PostgreSQL è uno della misura, su un socket Unix di una "
                             "cartella temporanea; stazione e server sulla stessa macchina.")
            : QStringLiteral("PostgreSQL non misurato: ") + motivo);
}
