#pragma once

#include "componente_seriale.h"
#include "pannello_finto.h"
#include "peer_pty.h"
#include "registro_traffico.h"
#include "sequenziatore.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <map>
#include <memory>

extern const QString kRichiestaIniziale;
extern const std::map<QString, Campo> kCampi;

// A request's whole bench without a window: panel, component and sequencer, with the panel's
// port 1 reaching a peer through a link, so that the peer can be unplugged and plugged back in
// under the same name.
struct Banco
{
    QTemporaryDir cartella;
    QString porta = cartella.filePath(QStringLiteral("porta1"));
    std::unique_ptr<PeerPty> peer;
    PannelloFinto pannello;
    RegistroTraffico registro;
    ComponenteSeriale comm;
    Sequenziatore sequenziatore{pannello, comm};
    QSignalSpy errori{&sequenziatore, &Sequenziatore::errore};

    Banco();
    ~Banco();

    // A new peer answers under the port's name, as an adapter plugged back in.
    void ricollega();
    QString sullaLinea() const;
    // The record's events of one kind, as "55:E:1" (byte, parity, phase) for bytes written,
    // "06:pausa 5" for bytes received, the note otherwise.
    QStringList registrati(TipoEvento tipo) const;
    int ultimoErrore() const { return errori.isEmpty() ? 0 : errori.last().at(0).toInt(); }
    QString ultimaDescrizione() const
    {
        return errori.isEmpty() ? QString() : errori.last().at(1).toString();
    }

    // "Campo=testo" sets a panel text; "scrivi HEX" has the peer write; "clic" presses again;
    // "riaggancia" unplugs the peer.
    void esegui(const QString &azione);
};

// What reached the peer, split into the phases the program wrote it in: "55 | 00 00 | 00 ...".
QString sullaLinea(const PeerPty &peer, const RegistroTraffico &registro);

// The rows of a CSV text as RFC 4180 has them, with the mark that keeps a text from being read as
// a formula taken off again: scripts' CSV (","), or a spreadsheet's (";", starting with a
// byte-order mark).
QList<QStringList> leggiCsv(const QByteArray &csv);
