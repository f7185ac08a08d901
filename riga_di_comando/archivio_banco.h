#pragma once

#include "archivio.h"
#include "inoltro.h"
#include "opzioni.h"
#include "registrazione.h"
#include "tracciabilita.h"

#include <QObject>

#include <memory>

class ModelloTabella;

namespace RigaDiComando {

// What a bench read from the command line keeps: the station's file, the forwarding of its runs
// to the line's server, and what is said of both on standard error at the end.
class ArchivioDelBanco : public QObject
{
public:
    explicit ArchivioDelBanco(const OpzioniArchivio &opzioni);

    // Opens the station's file and starts sending what waits; false, with the reason told, if
    // the file cannot be used: the readings are then printed but not recorded.
    bool apri();
    // A unit's rounds as runs of the file; none without a file.
    std::unique_ptr<RegistrazioneProve> registrazione(
        const ModelloTabella &modello, const RegistrazioneProve::Chi &chi);
    // Whether a unit may be read now by the bench's reference units: a reference always (its
    // run is marked as one), a production unit once every reference has given its outcome at
    // that socket on this bench version within the period, or by --senza-campioni (its run
    // records that). False, with the reason told, when it may not; chi is marked as its run
    // must be.
    bool ammetti(RegistrazioneProve::Chi &chi);
    // A round ended: counted if the file took it, and handed to the sender at once; its report
    // and its label follow.
    void provaFinita(const RegistrazioneProve &registrazione);
    // What the file and the server took, once every round has ended; ultima: the registration
    // of the last round. False if the file could not be written.
    bool riassunto(const RegistrazioneProve *ultima, const QList<const RegistrazioneProve *> &tutte);
    bool occupato() const { return m_inoltro && m_inoltro->occupato(); }

private:
    OpzioniArchivio m_opzioni;
    std::unique_ptr<Archivio> m_archivio;
    std::unique_ptr<Inoltro> m_inoltro;
    std::unique_ptr<Tracciabilita> m_tracciabilita;
    QDateTime m_avvio = QDateTime::currentDateTime();
    qint64 m_registrate = 0;
    qint64 m_inviate = 0;
    qint64 m_inAttesa = 0;
    qint64 m_messeDaParte = 0;
    QString m_motivoScarto;
    QString m_erroreArchivio;
    QString m_erroreServer;
};

// A reference unit's run as the operator must read it: right, wrong and what that means, or to
// be read again; nothing for a production unit's.
void diciCampione(const QString &posto, const QString &unita, const QString &atteso,
    const QString &esito);

} // namespace RigaDiComando
