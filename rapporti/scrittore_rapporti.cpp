#include "scrittore_rapporti.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QStandardPaths>

namespace {

#ifdef Q_OS_WIN
const QString kNomeProgramma = QStringLiteral("banco-rapporto.exe");
#else
const QString kNomeProgramma = QStringLiteral("banco-rapporto");
#endif
const QString kVariabile = QStringLiteral("BANCO_RAPPORTO");

QString secondi(int ms)
{
    return QLocale(QLocale::Italian, QLocale::Italy).toString(ms / 1000.0);
}

bool eseguibile(const QString &percorso)
{
    const QFileInfo info(percorso);
    return info.isFile() && info.isExecutable();
}

QByteArray rigaDelLavoro(QJsonObject contenuto, const QString &percorsoPdf)
{
    contenuto.insert(QStringLiteral("uscita"), percorsoPdf);
    return QJsonDocument(contenuto).toJson(QJsonDocument::Compact) + '\n';
}

// The program's answer to one report: empty if it was written.
QString erroreDellaRisposta(const QByteArray &riga)
{
    QJsonParseError analisi;
    const QJsonDocument documento = QJsonDocument::fromJson(riga, &analisi);
    if (analisi.error != QJsonParseError::NoError || !documento.isObject()
        || !documento.object().value(QStringLiteral("errore")).isString())
        return QStringLiteral("il programma banco-rapporto ha dato una risposta che non si capisce "
                              "(«%1»): il rapporto forse non è stato scritto. Controllare che "
                              "banco-rapporto sia della stessa versione di questo programma.")
            .arg(QString::fromUtf8(riga.trimmed().left(200)));
    return documento.object().value(QStringLiteral("errore")).toString();
}

QString nonScritto(const QString &motivo)
{
    return QStringLiteral("il rapporto non è stato scritto: il programma banco-rapporto %1. "
                          "Riprovare; se si ripete, controllare l'installazione di Banco Seriale.")
        .arg(motivo);
}

// What became of a program that stopped without answering every report.
QString motivoDellaFine(const QProcess &processo)
{
    if (processo.error() == QProcess::FailedToStart)
        return QStringLiteral("non è partito (%1)").arg(processo.errorString());
    if (processo.exitStatus() == QProcess::CrashExit)
        return QStringLiteral("si è fermato all'improvviso");
    return QStringLiteral("si è chiuso con il codice %1 prima di rispondere")
        .arg(processo.exitCode());
}

} // namespace

ScrittoreRapporti::ScrittoreRapporti(QObject *parent)
    : QObject(parent)
{
    m_sveglia.setSingleShot(true);
    connect(&m_sveglia, &QTimer::timeout, this, [this] {
        if (m_processo)
            fermato(m_processo,
                QStringLiteral("non ha risposto per %1 s ed è stato fermato")
                    .arg(secondi(m_attesa)));
    });
}

ScrittoreRapporti::~ScrittoreRapporti()
{
    if (!m_processo)
        return;
    m_processo->disconnect(this);
    // At the end of its input the program finishes what it has and stops.
    m_processo->closeWriteChannel();
    if (!m_processo->waitForFinished(m_inviati.isEmpty() ? 1000 : 5000))
        m_processo->kill();
    m_processo->waitForFinished(1000);
    delete m_processo;
}

QString ScrittoreRapporti::programma(QString *errore)
{
    if (!qEnvironmentVariableIsEmpty("BANCO_RAPPORTO")) {
        const QString indicato = qEnvironmentVariable("BANCO_RAPPORTO");
        if (eseguibile(indicato))
            return QFileInfo(indicato).absoluteFilePath();
        if (errore)
            *errore = QStringLiteral("manca il programma banco-rapporto: la variabile %1 indica "
                                     "«%2», che non è un programma. Correggere la variabile o "
                                     "toglierla.")
                          .arg(kVariabile, indicato);
        return {};
    }
    QString accanto;
    if (QCoreApplication::instance()) {
        accanto = QCoreApplication::applicationDirPath() + u'/' + kNomeProgramma;
        if (eseguibile(accanto))
            return accanto;
    }
#ifdef BANCO_RAPPORTO_COSTRUITO
    if (eseguibile(QStringLiteral(BANCO_RAPPORTO_COSTRUITO)))
        return QStringLiteral(BANCO_RAPPORTO_COSTRUITO);
#endif
    const QString nelPath = QStandardPaths::findExecutable(kNomeProgramma);
    if (!nelPath.isEmpty())
        return nelPath;
    if (errore)
        *errore = QStringLiteral("manca il programma banco-rapporto: non è accanto a questo "
                                 "programma%1 né in una cartella del PATH. Reinstallare Banco "
                                 "Seriale, o indicarne il percorso con la variabile %2.")
                      .arg(accanto.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(accanto),
                          kVariabile);
    return {};
}

void ScrittoreRapporti::scrivi(const QJsonObject &contenuto, const QString &percorsoPdf)
{
    if (!m_processo) {
        avvia();
        if (!m_processo) {
            QString errore;
            programma(&errore);
            rispondiPiuTardi(percorsoPdf, errore);
            return;
        }
    }
    m_inviati.append(percorsoPdf);
    m_processo->write(rigaDelLavoro(contenuto, percorsoPdf));
    if (!m_sveglia.isActive())
        m_sveglia.start(m_attesa);
}

void ScrittoreRapporti::avvia()
{
    const QString percorso = programma(nullptr);
    if (percorso.isEmpty())
        return;
    auto *processo = new QProcess(this);
    m_processo = processo;
    // Every report's outcome comes in its answer; what Qt says on the way (a session's folder
    // missing on a station without a desktop) is no news for the operator.
    processo->setStandardErrorFile(QProcess::nullDevice());
    connect(processo, &QProcess::readyReadStandardOutput, this, &ScrittoreRapporti::leggiRisposte);
    connect(processo, &QProcess::finished, this, [this, processo] {
        // Answers it wrote before it stopped still count.
        leggiRisposte();
        fermato(processo, motivoDellaFine(*processo));
    });
    connect(processo, &QProcess::errorOccurred, this, [this, processo](QProcess::ProcessError e) {
        // A crash is followed by finished(); a failed start is not.
        if (e == QProcess::FailedToStart)
            fermato(processo, motivoDellaFine(*processo));
    });
    processo->start(percorso, {});
}

void ScrittoreRapporti::leggiRisposte()
{
    QProcess *processo = m_processo;
    while (processo && processo == m_processo && processo->canReadLine()) {
        const QByteArray riga = processo->readLine();
        if (riga.trimmed().isEmpty())
            continue;
        if (m_inviati.isEmpty()) {
            // An answer to nothing: the program and this one no longer agree on the order.
            fermato(processo, QStringLiteral("ha risposto a un rapporto mai chiesto"));
            return;
        }
        const QString percorso = m_inviati.takeFirst();
        if (m_inviati.isEmpty())
            m_sveglia.stop();
        else
            m_sveglia.start(m_attesa);
        emit scritto(percorso, erroreDellaRisposta(riga));
    }
}

void ScrittoreRapporti::fermato(QProcess *processo, const QString &motivo)
{
    if (processo != m_processo)
        return;
    m_processo = nullptr;
    m_sveglia.stop();
    processo->disconnect(this);
    if (processo->state() == QProcess::NotRunning) {
        processo->deleteLater();
    } else {
        // Gone once the system has reaped it, without waiting here.
        connect(processo, &QProcess::finished, processo, &QObject::deleteLater);
        processo->kill();
    }
    const QList<QString> perduti = std::exchange(m_inviati, {});
    for (const QString &percorso : perduti)
        rispondiPiuTardi(percorso, nonScritto(motivo));
}

void ScrittoreRapporti::rispondiPiuTardi(const QString &percorso, const QString &errore)
{
    // Never from inside scrivi(): a caller that answers a failure by asking again would recurse.
    QMetaObject::invokeMethod(
        this, [this, percorso, errore] { emit scritto(percorso, errore); }, Qt::QueuedConnection);
}

bool ScrittoreRapporti::scriviSubito(
    const QList<std::pair<QJsonObject, QString>> &lavori, QStringList *errori, int attesaMs)
{
    QStringList risposte;
    const auto finisci = [&](const QString &motivoDelResto) {
        while (risposte.size() < lavori.size())
            risposte.append(motivoDelResto);
        const bool tutti = std::all_of(
            risposte.cbegin(), risposte.cend(), [](const QString &e) { return e.isEmpty(); });
        if (errori)
            *errori = risposte;
        return tutti;
    };
    if (lavori.isEmpty())
        return finisci({});
    QString errore;
    const QString percorso = programma(&errore);
    if (percorso.isEmpty())
        return finisci(errore);

    const QDeadlineTimer scadenza(attesaMs);
    QProcess processo;
    processo.setStandardErrorFile(QProcess::nullDevice());
    processo.start(percorso, {});
    if (!processo.waitForStarted(int(std::max<qint64>(1, scadenza.remainingTime()))))
        return finisci(nonScritto(motivoDellaFine(processo)));
    for (const auto &[contenuto, pdf] : lavori)
        processo.write(rigaDelLavoro(contenuto, pdf));
    processo.closeWriteChannel();

    while (risposte.size() < lavori.size()) {
        if (processo.canReadLine()) {
            const QByteArray riga = processo.readLine();
            if (!riga.trimmed().isEmpty())
                risposte.append(erroreDellaRisposta(riga));
            continue;
        }
        if (processo.state() == QProcess::NotRunning || scadenza.hasExpired())
            break;
        processo.waitForReadyRead(int(std::max<qint64>(1, scadenza.remainingTime())));
    }
    if (risposte.size() < lavori.size()) {
        const bool scaduto = processo.state() != QProcess::NotRunning;
        if (scaduto) {
            processo.kill();
            processo.waitForFinished(5000);
            return finisci(nonScritto(QStringLiteral("non ha finito entro %1 s ed è stato fermato")
                                          .arg(secondi(attesaMs))));
        }
        return finisci(nonScritto(motivoDellaFine(processo)));
    }
    if (!processo.waitForFinished(int(std::max<qint64>(1000, scadenza.remainingTime()))))
        processo.kill();
    return finisci({});
}
