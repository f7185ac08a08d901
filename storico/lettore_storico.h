#pragma once

#include "archivio.h"
#include "filo_del_server.h"

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <optional>

// The archive as the history window asks it: every question answered in a thread of its own,
// so that a large archive or a server that went away never holds the window up. The answer comes
// back in the owner's thread. The server is read when one is named; when it does not answer, the
// station's file is read instead, and the window is told so.
class LettoreStorico : public QObject
{
    Q_OBJECT

public:
    // Where to read: the choice the programs share (BANCO_ARCHIVIO, then the settings).
    explicit LettoreStorico(QObject *parent = nullptr);
    LettoreStorico(const Destinazione::Scelta &dove, QObject *parent = nullptr);
    ~LettoreStorico() override;

    // Where it reads: the station's file, and the server where one is named.
    const Destinazione::Scelta &dove() const { return m_dove; }

    // lavoro runs in the reader's thread; poi gets its answer, or the reason it has none, in this
    // object's thread. Questions are answered in the order they are asked.
    template<typename T>
    void chiedi(std::function<std::optional<T>(Archivio &)> lavoro,
        std::function<void(const std::optional<T> &, const QString &errore)> poi)
    {
        esegui([casella = m_casella, lavoro = std::move(lavoro), poi = std::move(poi)](
                   Archivio *archivio, const QString &errore) {
            auto risposta = std::make_shared<std::optional<T>>();
            QString motivo = errore;
            if (archivio) {
                *risposta = lavoro(*archivio);
                if (!*risposta)
                    motivo = archivio->errore();
            }
            casella->consegna([poi, risposta, motivo] { poi(*risposta, motivo); });
        });
    }

signals:
    // The archive was opened (descrizione), or was not (errore); avviso: the server was named
    // but did not answer, and the station's file is read instead.
    void aperto(const QString &descrizione, const QString &avviso, const QString &errore);

private:
    void esegui(std::function<void(Archivio *, const QString &)> lavoro);

    // The reader may outlive this object, held by a server that went away: its answers then go
    // nowhere.
    Destinazione::Scelta m_dove;
    std::shared_ptr<FiloDelServer::Casella> m_casella;
    QThread *m_filo;
    class Esecutore *m_esecutore;
};
