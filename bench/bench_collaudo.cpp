#include "bench_collaudo.h"

#include "bench_archivio.h"
#include "collaudo.h"
#include "file_banco.h"
#include "finestra_collaudo.h"
#include "finestra_principale.h"
#include "finestra_storico.h"
#include "lettore_storico.h"
#include "modello_storico.h"
#include "processo.h"
#include "server_postgres.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Misure;

namespace {

// Waits for the model's answer to the filter: its first page and its count.
bool attendiRisposta(ModelloStorico &modello)
{
    QEventLoop attesa;
    bool pagina = false, conto = false;
    const auto forse = [&] {
        if (pagina && conto)
            attesa.quit();
    };
    QObject::connect(&modello, &ModelloStorico::caricate, &attesa, [&] { pagina = true, forse(); });
    QObject::connect(&modello, &ModelloStorico::contate, &attesa, [&] { conto = true, forse(); });
    QObject::connect(&modello, &ModelloStorico::errore, &attesa, [&] { attesa.exit(1); });
    QTimer::singleShot(60'000, &attesa, [&] { attesa.exit(1); });
    return attesa.exec() == 0;
}

QStringList apri(const QString &programma, const QString &dove)
{
    return cifreDi(programma, {QStringLiteral("--storico-apri"), dove});
}

} // namespace

int apriStorico(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString dove = app.arguments().value(2);
    Destinazione::Scelta scelta;
    if (Destinazione::eUnUrl(dove))
        scelta.server = Destinazione::leggiUrl(dove, nullptr);
    else
        scelta.file = dove;
    const long primaKb = memoriaResidenteKb();
    const qint64 inizio = monotonoNs();
    FinestraStorico finestra(std::make_unique<LettoreStorico>(scelta));
    finestra.show();
    if (!attendiRisposta(finestra.modello()))
        return 1;
    const double apertura = (monotonoNs() - inizio) / 1e6;
    std::vector<double> filtri;
    // A unit's prefix, then an outcome: one answered from an index, one by reading the runs.
    for (int i = 0; i < 3; ++i) {
        for (const auto &[campo, testo] :
            {std::pair{"filtroUnita", "U012"}, std::pair{"filtroUnita", ""}}) {
            finestra.findChild<QLineEdit *>(QLatin1String(campo))->setText(QLatin1String(testo));
            const qint64 t0 = monotonoNs();
            finestra.applica();
            if (!attendiRisposta(finestra.modello()))
                return 1;
            filtri.push_back((monotonoNs() - t0) / 1e6);
        }
        auto *esito = finestra.findChild<QComboBox *>(QStringLiteral("filtroEsito"));
        const qint64 t0 = monotonoNs();
        esito->setCurrentIndex(esito->findData(Esiti::kNonConforme));
        if (!attendiRisposta(finestra.modello()))
            return 1;
        filtri.push_back((monotonoNs() - t0) / 1e6);
        esito->setCurrentIndex(0);
        if (!attendiRisposta(finestra.modello()))
            return 1;
    }
    std::printf("%.1f %.1f %.1f %ld %ld\n", apertura, valoreMediano(filtri),
        *std::max_element(filtri.begin(), filtri.end()), memoriaResidenteKb() - primaKb,
        memoriaDiPiccoKb());
    return 0;
}

void misuraCollaudo(Tabella &tabella, const QString &programma)
{
    const int prove = numeroDaAmbiente("BANCO_PROVE_ARCHIVIO", 10'000);
    QTemporaryDir cartella;
    qputenv("XDG_DATA_HOME", QFile::encodeName(cartella.filePath(QStringLiteral("dati"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(cartella.filePath(QStringLiteral("conf"))));
    qunsetenv("BANCO_ARCHIVIO");
    std::mt19937 caso(2030);
    const QString file = Destinazione::filePredefinito();
    {
        std::unique_ptr<Archivio> locale = Archivio::apriLocale(file, nullptr);
        riempiLocale(*locale, prove, caso);
    }
    tabella.titolo(QStringLiteral("Collaudo e storico"));

    // The station: Enter on the serial of a unit, five rows read from the virtual instrument,
    // the banner; then how soon it takes the next scan.
    const QString porta = cartella.filePath(QStringLiteral("porta"));
    StrumentoInProva strumento;
    strumento.avvia(porta, {});
    qputenv("BANCO_PORTA1", QFile::encodeName(porta));
    const QString banco = cartella.filePath(QStringLiteral("collaudo.banco"));
    {
        QFile scritto(banco);
        scritto.open(QIODevice::WriteOnly);
        scritto.write(kBancoCinqueRighe);
    }
    std::vector<double> oltre, prossima;
    {
        FinestraPrincipale finestra;
        finestra.apriCollaudo(banco, QStringLiteral("misura"), QStringLiteral("S0"));
        Collaudo &collaudo = *finestra.collaudo();
        auto *seriale
            = finestra.finestraCollaudo()->findChild<QLineEdit *>(QStringLiteral("numeroDiSerie"));
        qint64 primoInizio = 0, ultimaFine = 0;
        QObject::connect(&collaudo.lettura().motore(), &SequenzaRichieste::risultato,
            [&](qint64, const RisultatoRichiesta &r) {
                ultimaFine = monotonoNs();
                if (primoInizio == 0)
                    primoInizio = ultimaFine - r.durataUs * 1000;
            });
        for (int i = 0; i < 7; ++i) {
            primoInizio = 0;
            seriale->setText(QStringLiteral("SN-%1").arg(i % 3));
            QEventLoop attesa;
            qint64 banner = 0, libero = 0;
            QObject::connect(&collaudo, &Collaudo::finita, &attesa, [&] {
                banner = monotonoNs();
                QTimer::singleShot(0, &attesa, [&] {
                    libero = monotonoNs();
                    attesa.quit();
                });
            });
            const qint64 invio = monotonoNs();
            QTest::keyClick(seriale, Qt::Key_Return);
            attesa.exec();
            oltre.push_back(((banner - invio) - (ultimaFine - primoInizio)) / 1e6);
            prossima.push_back((libero - banner) / 1e6);
        }
    }
    qunsetenv("BANCO_PORTA1");
    tabella.intestazione({QStringLiteral("Misura"), QStringLiteral("SQLite"),
        QStringLiteral("PostgreSQL"), QStringLiteral("Limite"), QStringLiteral("Entro")});
    tabella.riga({QStringLiteral("da Invio sul numero di serie all'esito, oltre al giro di 5 "
                                 "righe, con %1 letture nell'archivio (ms)")
                      .arg(qint64(prove) * 100),
        mediana(oltre), QStringLiteral("—"), QStringLiteral("100"),
        esito(*std::max_element(oltre.begin(), oltre.end()) < 100)});
    tabella.riga({QStringLiteral("dall'esito alla stazione pronta per la prossima unità (ms)"),
        mediana(prossima), QStringLiteral("—"), QStringLiteral("100"),
        esito(*std::max_element(prossima.begin(), prossima.end()) < 100)});

    // The history opened on the same archive, and on a server holding as much.
    ServerPostgres server;
    QString motivo;
    QStringList dalServer;
    if (server.avvia(&motivo)) {
        const auto destinazione = Destinazione::leggiUrl(server.url(), nullptr);
        std::unique_ptr<Archivio> remoto = Archivio::apriServer(*destinazione, nullptr);
        riempiServer(*remoto, prove, caso);
        server.interroga(QStringLiteral("ANALYZE"));
        dalServer = apri(programma, server.url());
    }
    const QStringList dalFile = apri(programma, file);
    const auto cella = [](const QStringList &m, int i, double scala = 1) {
        return m.size() > i ? QString::number(m[i].toDouble() / scala, 'f', 1)
                            : QStringLiteral("—");
    };
    const auto entro = [&](int i, double limite, double scala = 1) {
        return esito(dalFile.size() > i && dalFile[i].toDouble() / scala < limite
            && (dalServer.isEmpty() || dalServer.value(i).toDouble() / scala < limite));
    };
    tabella.riga({QStringLiteral("lo storico si apre su %1 letture: prima pagina e conto (ms)")
                      .arg(qint64(prove) * 100),
        cella(dalFile, 0), cella(dalServer, 0), QStringLiteral("300"), entro(0, 300)});
    tabella.riga({QStringLiteral("un filtro risponde, mediana (ms)"), cella(dalFile, 1),
        cella(dalServer, 1), QStringLiteral("200"), entro(1, 200)});
    tabella.riga({QStringLiteral("un filtro risponde, il più lento (ms)"), cella(dalFile, 2),
        cella(dalServer, 2), QStringLiteral("200"), entro(2, 200)});
    tabella.riga({QStringLiteral("memoria della finestra dello storico, aperta e filtrata (MiB)"),
        cella(dalFile, 3, 1024), cella(dalServer, 3, 1024), QStringLiteral("64"),
        entro(3, 64, 1024)});
    tabella.riga({QStringLiteral("memoria di picco del processo, con Qt e la finestra (MiB)"),
        cella(dalFile, 4, 1024), cella(dalServer, 4, 1024), QStringLiteral("64"),
        entro(4, 64, 1024)});
    tabella.nota(dalServer.isEmpty()
            ? QStringLiteral("PostgreSQL non misurato: ") + motivo
            : QStringLiteral("Lo storico in un processo suo, su Xvfb; la memoria della finestra "
                             "è la residente dopo l'apertura e i filtri meno quella prima di "
                             "aprirla."));
}

void misuraSorveglianza(Tabella &tabella)
{
    const int prove = numeroDaAmbiente("BANCO_PROVE_SORVEGLIANZA", 100'000);
    QTemporaryDir cartella;
    qputenv("XDG_DATA_HOME", QFile::encodeName(cartella.filePath(QStringLiteral("dati"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(cartella.filePath(QStringLiteral("conf"))));
    qunsetenv("BANCO_ARCHIVIO");
    const QString banco = cartella.filePath(QStringLiteral("collaudo.banco"));
    {
        QFile scritto(banco);
        scritto.open(QIODevice::WriteOnly);
        scritto.write(kBancoCinqueRighe);
    }
    const std::optional<DatiBanco> dati
        = FileBanco::leggi(kBancoCinqueRighe, QStringLiteral("collaudo.banco"), nullptr);
    // The bench's runs, each row's values steady around the middle of its limits, written
    // straight into the station's file in one transaction.
    {
        std::unique_ptr<Archivio> archivio
            = Archivio::apriLocale(Destinazione::filePredefinito(), nullptr);
        std::mt19937 caso(2031);
        std::normal_distribution<double> rumore(0, 1);
        QSqlDatabase db = archivio->database();
        db.transaction();
        const QDateTime inizio = QDateTime::currentDateTimeUtc().addSecs(-prove);
        for (int i = 0; i < prove; ++i) {
            ProvaArchiviata p;
            p.stazione = QStringLiteral("S%1").arg(i % 4);
            p.operatore = QStringLiteral("operatore");
            p.unita = QStringLiteral("U%1").arg(i, 6, 10, QLatin1Char('0'));
            p.banco = QStringLiteral("collaudo.banco");
            p.shaBanco = QStringLiteral("0123456789abcdef");
            p.shaRighe = FileBanco::shaRighe(*dati);
            p.linea = QStringLiteral("1, 9600");
            p.inizio = inizio.addSecs(i);
            archivio->iniziaProva(p);
            for (int n = 0; n < dati->righe.size(); ++n) {
                const RigaBanco &riga = dati->righe.at(n);
                const double mezzo = (riga.minimo.value_or(0) + riga.massimo.value_or(0)) / 2;
                LetturaArchiviata l;
                l.n = n;
                l.nome = riga.nomeMostrato();
                l.memoria = riga.testoMemoria();
                l.unitaMisura = riga.unita;
                l.valore = mezzo + rumore(caso) * (riga.massimo.value_or(1) - mezzo) / 6;
                l.minimo = riga.minimo;
                l.massimo = riga.massimo;
                l.stato = QStringLiteral("entro i limiti");
                l.istante = p.inizio;
                archivio->registraLettura(p.uuid, l);
            }
            archivio->finisciProva(p.uuid, Esiti::kConforme);
        }
        QSqlQuery(db).exec(QStringLiteral("UPDATE prove SET inviata = 1"));
        db.commit();
    }

    tabella.titolo(QStringLiteral("Sorveglianza delle carte alla stazione"));
    std::vector<double> apertura, semina, controllo;
    qsizetype carte = 0;
    {
        FinestraPrincipale finestra;
        const qint64 t0 = monotonoNs();
        finestra.apriCollaudo(banco, QStringLiteral("misura"), QStringLiteral("S0"));
        apertura.push_back((monotonoNs() - t0) / 1e6);
        Collaudo &collaudo = *finestra.collaudo();
        for (int i = 0; i < 5; ++i) {
            const qint64 t = monotonoNs();
            collaudo.seminaSorveglianza();
            semina.push_back((monotonoNs() - t) / 1e6);
        }
        carte = collaudo.sorveglianza().carte();
        // A round's values as the station's model holds them once the round is read.
        ModelloTabella modello;
        modello.imposta(collaudo.modello().banco());
        for (int giro = 0; giro < 200; ++giro) {
            for (int n = 0; n < modello.rowCount(); ++n) {
                RisultatoRichiesta r;
                r.esito = RisultatoRichiesta::Esito::Risposta;
                const RigaBanco &riga = modello.riga(n);
                const double mezzo = (riga.minimo.value_or(0) + riga.massimo.value_or(0)) / 2;
                r.valore = quint16(std::lround(
                    (mezzo + (giro % 7) * 0.01 * mezzo) * std::pow(10.0, riga.decimali)));
                modello.registra(n, r, {});
            }
            const qint64 t = monotonoNs();
            collaudo.sorveglia(
                modello, QString(), QStringLiteral("U%1").arg(giro), Esiti::kConforme);
            controllo.push_back((monotonoNs() - t) / 1e6);
        }
    }
    tabella.intestazione({QStringLiteral("Misura"), QStringLiteral("Mediana (min–max)"),
        QStringLiteral("Limite"), QStringLiteral("Entro")});
    tabella.riga({QStringLiteral("la stazione si apre sul banco di 5 righe con %1 prove "
                                 "nell'archivio, carte comprese (ms)")
                      .arg(prove),
        mediana(apertura), QStringLiteral("—"), QStringLiteral("—")});
    tabella.riga({QStringLiteral("le %1 carte lette dall'archivio all'apertura (ms)").arg(carte),
        mediana(semina), QStringLiteral("—"), QStringLiteral("—")});
    tabella.riga({QStringLiteral("il controllo delle carte dopo un giro (ms)"),
        mediana(controllo, 3), QStringLiteral("20"),
        esito(*std::max_element(controllo.begin(), controllo.end()) < 20)});
    tabella.nota(QStringLiteral("Le prove scritte direttamente nel file della stazione; l'apertura "
                                "comprende le cifre della giornata, la lettura delle carte è "
                                "ripetuta 5 volte sulla stazione aperta, il controllo 200 giri."));
}
