#include "tracciabilita.h"

#include "file_banco.h"
#include "rapporto.h"
#include "scrittore_rapporti.h"
#include "stampante.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonValue>
#include <QTimer>

std::optional<ConfigurazioneTracciabilita> ConfigurazioneTracciabilita::leggi(
    const DatiBanco &banco, const QString &percorsoBanco, QString *errore)
{
    ConfigurazioneTracciabilita c;
    const QFileInfo file(percorsoBanco);
    const QString nome = file.fileName();
    const QDir cartella = file.absoluteDir();
    const QJsonValue rapporti = banco.altre.value(kChiaveRapporti);
    if (!rapporti.isUndefined() && !rapporti.isNull()) {
        if (!rapporti.isString() || rapporti.toString().trimmed().isEmpty()) {
            *errore = QStringLiteral("%1: \"rapporti_pdf\" vuole la cartella dei rapporti PDF, "
                                     "relativa al file del banco o assoluta, per esempio "
                                     "\"rapporti/\".")
                          .arg(nome);
            return std::nullopt;
        }
        c.cartellaRapporti = QDir::cleanPath(cartella.absoluteFilePath(rapporti.toString()));
    }
    QString motivo;
    c.etichetta = ConfigurazioneEtichetta::leggi(
        banco.altre.value(kChiaveEtichetta), cartella.absolutePath(), &motivo);
    if (!c.etichetta && !motivo.isEmpty()) {
        *errore = QStringLiteral("%1: %2").arg(nome, motivo);
        return std::nullopt;
    }
    const std::optional<RegolaCampioni> campioni = Campioni::leggi(banco.altre, nome, errore);
    if (!campioni)
        return std::nullopt;
    c.campioni = *campioni;
    return c;
}

Tracciabilita::Tracciabilita(const ConfigurazioneTracciabilita &configurazione,
    std::function<Archivio *()> archivio, QObject *parent)
    : QObject(parent)
    , m_configurazione(configurazione)
    , m_archivio(std::move(archivio))
{ }

Tracciabilita::~Tracciabilita() = default;

void Tracciabilita::provaFinita(const QString &uuid)
{
    const bool conRapporto = !m_configurazione.cartellaRapporti.isEmpty();
    const bool conEtichetta = m_configurazione.etichetta.has_value();
    Archivio *archivio = m_archivio();
    if ((!conRapporto && !conEtichetta) || !archivio || uuid.isEmpty())
        return;
    const std::optional<ProvaCompleta> prova = archivio->provaCompleta(uuid);
    if (!prova || prova->prova.uuid.isEmpty()) {
        const QString motivo = prova ? QStringLiteral("la prova non è nell'archivio")
                                     : archivio->errore();
        if (conRapporto)
            emit rapporto(uuid, {}, motivo);
        return;
    }
    if (conRapporto) {
        if (!m_scrittore) {
            m_scrittore = std::make_unique<ScrittoreRapporti>();
            connect(m_scrittore.get(), &ScrittoreRapporti::scritto, this,
                [this](const QString &percorso, const QString &errore) {
                    emit rapporto(m_rapportiInCorso.take(percorso), percorso, errore);
                });
        }
        const QString percorso = QDir(m_configurazione.cartellaRapporti)
                                     .absoluteFilePath(nomeFileRapporto(prova->prova));
        m_rapportiInCorso.insert(percorso, uuid);
        // A folder not there yet is made; one that cannot be is said by the writer.
        QDir().mkpath(m_configurazione.cartellaRapporti);
        m_scrittore->scrivi(contenutoRapporto(*prova), percorso);
    }
    // One label for each conforming production unit: a reference unit proves the bench and
    // leaves the line with none.
    const ProvaArchiviata &p = prova->prova;
    if (conEtichetta && p.esito == Esiti::kConforme && p.campione.isEmpty()) {
        const QByteArray zpl = Etichette::compila(m_configurazione.etichetta->modello,
            Etichette::valoriEtichetta(p.unita, p.esito, p.fine.isValid() ? p.fine : p.inizio,
                p.banco, p.stazione, p.operatore, p.posto, p.tentativo, p.uuid));
        QString motivo;
        invia(m_configurazione.etichetta->stampante.testo, {uuid, p.stazione, zpl, false}, &motivo);
    }
}

bool Tracciabilita::ristampa(const QString &uuid, QString *motivo)
{
    Archivio *archivio = m_archivio();
    if (!archivio) {
        *motivo = QStringLiteral("nessun archivio aperto");
        return false;
    }
    const std::optional<QList<StampaEtichetta>> stampe = archivio->stampe(uuid);
    if (!stampe) {
        *motivo = archivio->errore();
        return false;
    }
    if (stampe->isEmpty()) {
        *motivo = QStringLiteral("per la prova %1 non è stata stampata nessuna etichetta: "
                                 "l'etichetta va solo alle unità di produzione conformi")
                      .arg(uuid);
        return false;
    }
    const StampaEtichetta &ultima = stampe->last();
    invia(ultima.stampante, {uuid, ultima.stazione, ultima.zpl, true}, motivo);
    return motivo->isEmpty();
}

Stampante *Tracciabilita::stampante(const QString &indirizzo, QString *motivo)
{
    if (const auto trovata = m_stampanti.find(indirizzo); trovata != m_stampanti.end())
        return trovata->second.get();
    // The bench's address was read when it was opened; a recorded one read again for a reprint
    // may no longer be one.
    const std::optional<IndirizzoStampante> dove = IndirizzoStampante::leggi(indirizzo, motivo);
    if (!dove)
        return nullptr;
    auto nuova = std::make_unique<Stampante>(*dove);
    Stampante *s = nuova.get();
    connect(s, &Stampante::stampata, this,
        [this, s](quint64 numero, bool riuscita, const QString &m) {
            stampata(s, numero, riuscita, m, false);
        });
    connect(s, &Stampante::stampataInRitardo, this,
        [this, s](quint64 numero) { stampata(s, numero, true, {}, true); });
    m_stampanti.emplace(indirizzo, std::move(nuova));
    return s;
}

void Tracciabilita::invia(const QString &indirizzo, const InStampa &lavoro, QString *motivo)
{
    motivo->clear();
    Stampante *s = stampante(indirizzo, motivo);
    if (!s) {
        registra(lavoro, indirizzo, false, *motivo);
        emit etichetta(lavoro.prova, false, *motivo, false);
        return;
    }
    m_inStampa[s].insert(s->stampa(lavoro.zpl), lavoro);
}

void Tracciabilita::stampata(
    Stampante *stampante, quint64 numero, bool riuscita, const QString &motivo, bool inRitardo)
{
    QHash<quint64, InStampa> &lavori = m_inStampa[stampante];
    const auto trovato = lavori.constFind(numero);
    if (trovato == lavori.constEnd())
        return;
    const InStampa lavoro = *trovato;
    // One given up on a device may still come out: kept until it does.
    if (riuscita || stampante->indirizzo().tipo != IndirizzoStampante::Tipo::File || inRitardo)
        lavori.remove(numero);
    registra(lavoro, stampante->indirizzo().testo, riuscita,
        inRitardo ? QStringLiteral("stampata in ritardo, dopo essere stata data per non stampata")
                  : motivo);
    emit etichetta(lavoro.prova, riuscita, motivo, inRitardo);
}

void Tracciabilita::registra(
    const InStampa &lavoro, const QString &stampante, bool riuscita, const QString &motivo)
{
    Archivio *archivio = m_archivio();
    if (!archivio)
        return;
    StampaEtichetta s;
    s.prova = lavoro.prova;
    s.stazione = lavoro.stazione;
    s.stampante = stampante;
    s.riuscita = riuscita;
    s.motivo = motivo;
    s.zpl = lavoro.zpl;
    s.ristampa = lavoro.ristampa;
    archivio->registraStampa(s);
}

int Tracciabilita::inSospeso() const
{
    int n = m_scrittore ? m_scrittore->inSospeso() : 0;
    for (const auto &[indirizzo, s] : m_stampanti)
        n += s->inAttesa();
    return n;
}

bool Tracciabilita::attendi(int ms)
{
    QDeadlineTimer scadenza(ms);
    while (inSospeso() > 0 && !scadenza.hasExpired()) {
        QEventLoop ciclo;
        QTimer sveglia;
        sveglia.setSingleShot(true);
        connect(&sveglia, &QTimer::timeout, &ciclo, &QEventLoop::quit);
        // Queued: the writer and the printer finish their own count before it is read again.
        connect(this, &Tracciabilita::rapporto, &ciclo, &QEventLoop::quit, Qt::QueuedConnection);
        connect(this, &Tracciabilita::etichetta, &ciclo, &QEventLoop::quit, Qt::QueuedConnection);
        sveglia.start(int(scadenza.remainingTime()));
        ciclo.exec();
    }
    return inSospeso() == 0;
}
