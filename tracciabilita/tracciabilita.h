#pragma once

#include "archivio.h"
#include "campioni.h"
#include "etichetta.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>

struct DatiBanco;
class ScrittoreRapporti;
class Stampante;

// A bench's traceability, from the keys it keeps among its own: "rapporti_pdf" (a folder,
// relative to the bench file or absolute), "etichetta" (its template and printer) and the
// reference units ("campioni", "campioni_ogni_ore"). Read when the bench is opened, so that a
// wrong key refuses the bench at once rather than at its first unit.
struct ConfigurazioneTracciabilita
{
    QString cartellaRapporti; // absolute; empty: no reports
    std::optional<ConfigurazioneEtichetta> etichetta;
    RegolaCampioni campioni;

    static inline const QString kChiaveRapporti = QStringLiteral("rapporti_pdf");
    static inline const QString kChiaveEtichetta = QStringLiteral("etichetta");

    // percorsoBanco: the bench file, which relative paths start from.
    static std::optional<ConfigurazioneTracciabilita> leggi(
        const DatiBanco &banco, const QString &percorsoBanco, QString *errore);
};

// What follows each run's end: its report written, and for a conforming production unit its
// label printed; both asynchronous, so that the outcome is never held up by a printer or a disk.
// Every print, and every reprint, is recorded in the archive. The archive is asked for at each
// use: the station may change it between runs.
class Tracciabilita : public QObject
{
    Q_OBJECT

public:
    Tracciabilita(const ConfigurazioneTracciabilita &configurazione,
        std::function<Archivio *()> archivio, QObject *parent = nullptr);
    ~Tracciabilita() override;

    // The run uuid has ended and is in the archive.
    void provaFinita(const QString &uuid);
    // The last label recorded for the run sent again, byte for byte, to the printer it went to.
    // False, with the reason, when there is none; the outcome comes with etichetta.
    bool ristampa(const QString &uuid, QString *motivo);
    // Reports and labels still on their way.
    int inSospeso() const;
    // Waits, on an event loop of its own, until nothing is on its way or ms have passed.
    bool attendi(int ms);

signals:
    // percorso: the PDF written; errore empty when it was.
    void rapporto(const QString &uuid, const QString &percorso, const QString &errore);
    // A label printed or not; motivo says why not. inRitardo: one given up that came out after
    // all.
    void etichetta(const QString &uuid, bool riuscita, const QString &motivo, bool inRitardo);

private:
    struct InStampa
    {
        QString prova;
        QString stazione;
        QByteArray zpl;
        bool ristampa = false;
    };
    // The printer of that address, made on first use; none, with the reason, for an address
    // that cannot be read.
    Stampante *stampante(const QString &indirizzo, QString *motivo);
    void invia(const QString &indirizzo, const InStampa &lavoro, QString *motivo);
    void stampata(Stampante *stampante, quint64 numero, bool riuscita, const QString &motivo,
        bool inRitardo);
    void registra(const InStampa &lavoro, const QString &stampante, bool riuscita,
        const QString &motivo);

    ConfigurazioneTracciabilita m_configurazione;
    std::function<Archivio *()> m_archivio;
    std::unique_ptr<ScrittoreRapporti> m_scrittore;
    std::map<QString, std::unique_ptr<Stampante>> m_stampanti; // by address as written
    QHash<Stampante *, QHash<quint64, InStampa>> m_inStampa;
    QHash<QString, QString> m_rapportiInCorso; // path → run
};
